#pragma once
// The fund catalogue: fund companies and funds, kept in T_Fund_Company and
// T_Fund_Info and in two maps the document owns. After login it is brought
// up to date from the client service when the server announces a newer
// version, otherwise loaded from the local database.
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/OleDate.h"
#include "common/UserPrompt.h"
#include "db/AdoDatabase.h"
#include "net/ClientCommands.h"

namespace vextal {

struct CFundCompany {
    std::string CompanyID;    // 4 characters
    std::string CompanyName;  // up to 64
    std::string CompanyURL;   // up to 128
    std::string CompanyType;  // up to 8
};

struct CFundInfo {
    std::string FundID;  // 6 characters
    std::string CompanyID;
    std::string FundName;
    std::string FundShortName;
    int FundTypeID = 0;
    int InvestTypeID = 1;  // 1 until filled
    int BankID = 0;
    std::string FundURL;
    OleDate CreateDate;
    double NewFundCount = 0;
    double OldFundCount = 0;
    // Working values of the fund calculations, not stored.
    int WorkCount = 1000;
    double WorkRate = 1.0;
    double WorkHalf = 0.5;
    int WorkDays = 4;
    double WorkZero = 0;
    double WorkHigh = 1.5;
    double WorkOne = 1.0;
};

// The name of an investment type: 2 "混合", 3 "债券", 4 "现金", else "股票".
std::string GetInvestTypeName(int investTypeId);
// The custodian bank's name for 1 to 13; empty for any other number.
std::string GetBankName(int bankId);

// fundkey.txt: one fund a line, code TAB name; other lines are skipped. A
// missing file leaves the map empty (false).
bool LoadFundKeyList(const std::string& path, std::map<std::string, std::string>& keys);

// The user's favourite folders (command 1/13).
struct CFundGroup {
    int GroupID = 0;
    std::string GroupName;
    std::vector<std::string> Members;
};
// Records: number, name, n, then n members; reading stops at a record that
// would run past the end or whose count is not a number.
std::vector<CFundGroup> ParseFundGroups(const std::vector<std::string>& fields);

// What commands 1/1, 1/11 and 1/13 bring, read into plain values with no
// access to the catalogue or the database, so a worker may fetch them; the
// catalogue stores them afterwards on its own thread.
struct CompaniesFetch {
    bool ok = false;
    std::string error;
    std::vector<CFundCompany> records;
};
struct FundInfosFetch {
    bool ok = false;
    std::string error;
    std::vector<CFundInfo> records;  // an empty CompanyID: the fund was withdrawn
};
struct FundGroupsFetch {
    bool ok = false;
    std::string error;
    std::vector<CFundGroup> groups;
};
CompaniesFetch FetchFundCompanies(const CommandContext& ctx);
FundInfosFetch FetchFundInfos(const CommandContext& ctx);
FundGroupsFetch FetchFundGroups(const CommandContext& ctx);

class CFundCatalogue {
public:
    explicit CFundCatalogue(CAdoDatabase db) : m_db(std::move(db)) {}

    // Where commands go and whether the user works offline (no requests).
    void SetSession(const CommandContext& ctx, bool offline)
    {
        m_ctx = ctx;
        m_offline = offline;
    }

    // Run once after login with the versions of the login answer (fields 6
    // and 7). Downloads what is newer, loads the rest, resets holdings
    // without free shares and loads the favourite folders. `prompt` shows
    // 59173 when the local fund table cannot be read (may be null).
    bool SyncFundCatalogue(const std::string& serverCompanyVersion, const std::string& serverFundVersion,
                           IUserPrompt* prompt = nullptr);

    bool LoadFundCompanies();
    bool LoadFundInfos();
    // Commands 1/1 and 1/11. All records are stored in one transaction: on
    // any failure nothing is stored and the maps stay as they were.
    bool DownloadFundCompanies();
    bool DownloadFundInfos();
    // The storing halves of the downloads: one transaction each; on any
    // failure nothing is stored and the maps stay as they were.
    bool StoreFundCompanies(const CompaniesFetch& fetched);
    bool StoreFundInfos(const FundInfosFetch& fetched);
    bool StoreFundGroups(const FundGroupsFetch& fetched);
    // StoreFundInfos in two halves, for a list of thousands of funds: the
    // writing in one transaction through a connection of its own (any
    // thread; nothing of this object is touched), then the map taking the
    // list at once (this object's thread).
    bool WriteFundInfosElsewhere(const FundInfosFetch& fetched, std::string& error) const;
    void ApplyFundInfos(const FundInfosFetch& fetched);
    // Where the fetches go (the session's context for `operation`); empty
    // when the user works offline.
    std::optional<CommandContext> FetchContext(const std::string& operation) const;
    bool SaveFundCompany(const CFundCompany& company);
    bool SaveFundInfo(const CFundInfo& info);
    // Removes the fund from T_Fund_Info and the six tables that hold its
    // data, in one transaction, and from the fund map.
    bool DeleteFund(const std::string& fundId);
    // Command 1/13 into the favourite-folder map.
    bool LoadFundGroups();

    bool FindFund(const std::string& fundId, CFundInfo& info) const;
    bool FindCompany(const std::string& companyId, CFundCompany& company) const;
    // Lookup without copying; null when absent. Valid until the map changes.
    const CFundInfo* FindFund(const std::string& fundId) const;
    // Class 1 to 5: open-end, money-market, closed-end, ETF/LOF, collective.
    int GetFundClass(const std::string& fundId) const;
    // Investment type 4; a fund not in the catalogue is not one.
    bool IsMoneyMarketFund(const std::string& fundId) const;

    const std::map<std::string, CFundInfo>& Funds() const { return m_funds; }
    const std::map<std::string, CFundCompany>& Companies() const { return m_companies; }
    const std::vector<CFundGroup>& FundGroups() const { return m_groups; }
    // The folder number of a fund; false when it is in none.
    bool GetFundGroup(const std::string& fundId, int& groupId) const;

    const std::string& GetLastError() const { return m_lastError; }

private:
    bool StoreCompany(const CFundCompany& company, bool exists);
    bool StoreFundInfo(const CFundInfo& info, bool exists);
    bool RemoveFundRows(const std::string& fundId);
    bool FailWith(const std::string& error);

    CAdoDatabase m_db;
    CommandContext m_ctx;
    bool m_offline = false;
    std::map<std::string, CFundCompany> m_companies;
    std::map<std::string, CFundInfo> m_funds;
    std::vector<CFundGroup> m_groups;
    std::map<std::string, int> m_groupOfFund;
    std::string m_lastError;
};

}  // namespace vextal
