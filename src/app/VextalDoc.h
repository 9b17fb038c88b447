#pragma once
// The program's single document: every program-wide value lives here for the
// whole run (settings mirror, server addresses, versions, the user and the
// membership, the database, the caches, the bookkeeping engine). It runs the
// start-up initialisation of the database and the post-login
// initialisation. No UI: questions and messages go through IUserPrompt.
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/BackgroundWork.h"
#include "app/Membership.h"
#include "app/Settings.h"
#include "book/AccountManager.h"
#include "book/BookServices.h"
#include "common/OleDate.h"
#include "common/ProgramVersion.h"
#include "common/UserPrompt.h"
#include "db/AdoDatabase.h"
#include "net/ClientCommands.h"

namespace vextal {

inline constexpr const char* kClientVersion = kProgramVersion;
inline constexpr const char* kClearEmptyFundValues = "delete from t_fund_value where fundid=''";

// What the fund market data contributes to the post-login start and to the
// fund directory of the bookkeeping. The market code fills these; a step
// left empty is skipped.
// A download in two halves: the hook, called on the document's thread,
// gives the fetch, which may run on a worker (network and parsing only); the
// fetch gives the step that stores its result on the document's thread.
using StoreStep = std::function<bool()>;
using FetchStep = std::function<StoreStep()>;

struct CMarketHooks {
    std::function<bool()> loadFundCompanies;           // from T_Fund_Company
    std::function<FetchStep()> downloadFundCompanies;  // command 1/1
    std::function<bool()> loadFundInfos;               // from T_Fund_Info
    std::function<FetchStep()> downloadFundInfos;      // command 1/11
    std::function<FetchStep()> sendClosingRequest;     // command 1/13 at the end of the start
    std::function<void()> loadLatestValues;       // the stored latest values, before the accounts
    std::function<void(int fundView)> setFundView;
    // Shutdown: offers to store unsaved latest values.
    std::function<void(IUserPrompt&)> askStoreUnsavedValues;

    // The fund directory: without a catalogue every fund counts as a
    // money-market fund (booked at 1.0 without fee). With one, a fund it
    // does not know is refused for booking (isKnownFund).
    std::function<bool(const std::string& fundId)> isMoneyMarketFund;
    std::function<bool(const std::string& fundId)> isKnownFund;
    std::function<bool(const std::string& fundId, OleDate& date)> getEstablishDate;
    std::function<bool(const std::string& fundId, LatestNav& nav)> getLatestNav;
    std::function<OleDate()> currentValueDate;
    // Cash dividends per share of the stored dividend history paid after `from` up to `to`.
    std::function<double(const std::string& fundId, const OleDate& from, const OleDate& to)> dividendsPerShare;
};

class CVextalDoc {
public:
    CVextalDoc();
    ~CVextalDoc();
    CVextalDoc(const CVextalDoc&) = delete;
    CVextalDoc& operator=(const CVextalDoc&) = delete;

    // Start-up: settings, proxy, the database (fetched from the server or
    // made locally when missing), clean-up and upgrade. A database that does
    // not open is reported through `prompt` and the program goes on
    // without one. Always true.
    bool OnNewDocument(IUserPrompt& prompt);
    // After login: catalogue, accounts, holdings clean-up, closing request.
    // The requests run through `runner` (in place when it is empty); the
    // local steps run on this thread, and `done` when all is in place.
    void InitAfterLogin(const WorkRunner& runner, std::function<void()> done);
    bool InitAfterLogin()
    {
        InitAfterLogin(nullptr, nullptr);
        return true;
    }
    // The user record cleared: numbers 0, texts empty, time now.
    void ResetUser();
    // "loginid=%s&userid=%d" for the member pages.
    std::string GetUserQuery() const;
    // Html/fundkey.txt into the fund key table.
    void LoadFundKeyTable();
    // Logout command at shutdown, only for an online user with a login id.
    void Logout();
    // Closes the database (shutdown).
    void CloseDatabase();

    // Membership
    bool CheckFundCount(int count) const { return m_membership.CheckFundCount(count, m_prompt); }
    void TrimFundList() { m_membership.TrimFundList(m_settings.fundIdList); }
    bool RequireVip() const { return m_membership.RequireVip(m_prompt); }
    bool IsVip() const { return m_membership.GetVipFlag() != 0; }

    // A command context for the logged-in user.
    CommandContext MakeCommandContext(const std::string& operation = std::string()) const
    {
        return {m_settings.commandUrl, m_user.LoginID, operation};
    }

    CAdoDatabase& GetDatabase() { return m_db; }
    bool IsDatabaseOpen() const { return m_dbOpen; }
    CSettings& Settings() { return m_settings; }
    const CSettings& Settings() const { return m_settings; }
    CUserInfo& User() { return m_user; }
    const CUserInfo& User() const { return m_user; }
    CMembership& Membership() { return m_membership; }
    CAccountManager& Accounts() { return *m_accounts; }
    CMarketHooks& Market() { return m_market; }
    IFundDirectory& FundDirectory() { return *m_fundDirectory; }
    // The service answers of the bookkeeping (the command client unless replaced before InitAfterLogin).
    void SetBookServices(std::unique_ptr<IBookServices> services)
    {
        m_bookServices = std::move(services);
        m_ownBookServices = false;
    }
    IUserPrompt* Prompt() const { return m_prompt; }
    void SetPrompt(IUserPrompt* prompt) { m_prompt = prompt; }

    const std::string& GetClientVersion() const { return m_clientVersion; }
    const std::string& GetServerVersion() const { return m_serverVersion; }
    void SetServerVersion(const std::string& version) { m_serverVersion = version; }
    const std::map<std::string, std::string>& FundKeys() const { return m_fundKeys; }
    OleDate GetStartDate() const { return m_startDate; }
    OleDate GetEndDate() const { return m_endDate; }
    void SetDateRange(const OleDate& start, const OleDate& end)
    {
        m_startDate = start;
        m_endDate = end;
    }

private:
    // Vextal.mdb from the server's Update/ folder; made locally when the
    // download fails or does not open as a database.
    // Downloads or makes Vextal.mdb; the reason it could not, else empty.
    std::string FetchDatabaseFile();
    // Compares the stored catalogue version with the service's and loads;
    // the download to run when the list is newer or does not load (empty:
    // none).
    FetchStep PlanCatalogueList(const char* versionItem, const std::string& serverVersion,
                                const std::function<bool()>& load, const std::function<FetchStep()>& download,
                                bool reportLocalFailure);
    // The post-login steps after the catalogue: accounts, dividends, income.
    void LoadAccountsAfterLogin(const WorkRunner& runner, std::function<void()> done);

    CSettings m_settings;
    std::string m_clientVersion = kClientVersion;
    std::string m_serverVersion;
    CUserInfo m_user;
    CMembership m_membership;
    CAdoDatabase m_db;
    bool m_dbOpen = false;
    std::map<std::string, std::string> m_fundKeys;
    OleDate m_startDate;
    OleDate m_endDate;
    CMarketHooks m_market;
    std::unique_ptr<IFundDirectory> m_fundDirectory;
    std::unique_ptr<IBookServices> m_bookServices;
    bool m_ownBookServices = true;  // the command client made here
    std::unique_ptr<CAccountManager> m_accounts;
    IUserPrompt* m_prompt = nullptr;
};

}  // namespace vextal
