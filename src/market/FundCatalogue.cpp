#include "market/FundCatalogue.h"

#include "market/LatestValueCache.h"

#include <fstream>
#include <set>

#include "common/Format.h"
#include "common/StringTable.h"
#include "db/Schema.h"
#include "market/FundValue.h"
#include "net/CommandProtocol.h"

namespace vextal {

namespace {

// Tables that hold data of a fund besides T_Fund_Info, in deletion order.
const char* const kFundTables[] = {"T_Fund_Bonus",   "T_Fund_Invest",  "T_Fund_Value",
                                   "T_FundInfo_Map", "T_MyFund_Focus", "T_New_Fund_Value"};

FieldValueList CompanyFields(const CFundCompany& c)
{
    return {{"CompanyID", c.CompanyID},
            {"CompanyName", c.CompanyName},
            {"CompanyURL", c.CompanyURL},
            {"CompanyType", c.CompanyType}};
}

FieldValueList FundFields(const CFundInfo& f)
{
    return {{"FundID", f.FundID},
            {"CompanyID", f.CompanyID},
            {"FundName", f.FundName},
            {"FundShortName", f.FundShortName},
            {"FundTypeID", f.FundTypeID},
            {"InvestTypeID", f.InvestTypeID},
            {"BankID", f.BankID},
            {"FundURL", f.FundURL},
            {"CreateDate", f.CreateDate},
            {"NewFundCount", f.NewFundCount},
            {"OldFundCount", f.OldFundCount}};
}

// The codes already stored in a table, read once so that a download does
// not look every row up on its own.
std::set<std::string> StoredKeys(CAdoDatabase& db, const std::string& column, const std::string& table)
{
    std::set<std::string> keys;
    RecordsetPtr rs = db.OpenRecordsetEx("SELECT " + column + " FROM " + table);
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        std::string key;
        if (db.GetFieldValue(rs, column, key)) keys.insert(key);
    }
    return keys;
}

bool ReadInt(const std::string& field, int& value)
{
    double f = 0;
    if (!ReadWireFloat(field, f)) return false;
    value = ReadLeadingInt(field);
    return true;
}

}  // namespace

std::string GetInvestTypeName(int investTypeId)
{
    switch (investTypeId) {
    case 2: return "混合";
    case 3: return "债券";
    case 4: return "现金";
    default: return "股票";
    }
}

std::string GetBankName(int bankId)
{
    static const char* const kBanks[] = {"招商银行",     "交通银行",     "中国银行",         "中国工商银行", "中国农业银行",
                                         "中国建设银行", "中国光大银行", "中国民生银行",     "上海浦东发展银行",
                                         "华夏银行",     "兴业银行",     "中信银行",         "深圳发展银行"};
    if (bankId < 1 || bankId > 13) return std::string();
    return kBanks[bankId - 1];
}

bool LoadFundKeyList(const std::string& path, std::map<std::string, std::string>& keys)
{
    keys.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> parts = SplitText(line, '\t');
        if (parts.size() == 2) keys[parts[0]] = parts[1];
    }
    return true;
}

std::vector<CFundGroup> ParseFundGroups(const std::vector<std::string>& fields)
{
    std::vector<CFundGroup> groups;
    size_t i = 0;
    while (i + 3 <= fields.size()) {
        double count = 0;
        if (!ReadWireFloat(fields[i + 2], count) || fields[i + 2].empty() || count < 0) break;
        size_t n = static_cast<size_t>(ReadLeadingInt(fields[i + 2]));
        if (n > fields.size() - i - 3) break;
        CFundGroup g;
        g.GroupID = ReadLeadingInt(fields[i]);
        g.GroupName = fields[i + 1];
        g.Members.assign(fields.begin() + static_cast<long>(i + 3), fields.begin() + static_cast<long>(i + 3 + n));
        groups.push_back(std::move(g));
        i += 3 + n;
    }
    return groups;
}

bool CFundCatalogue::FailWith(const std::string& error)
{
    m_lastError = error;
    return false;
}

bool CFundCatalogue::SyncFundCatalogue(const std::string& serverCompanyVersion, const std::string& serverFundVersion,
                                       IUserPrompt* prompt)
{
    std::string local;
    // Versions are dates written "%Y%m%d": byte order is date order.
    if (!GetSystemInfo(m_db, "FundCorVersion", local)) local.clear();
    // A failed download falls back to the local tables: an empty catalogue
    // would put every fund into the wrong class.
    if (local < serverCompanyVersion || !LoadFundCompanies()) {
        if (DownloadFundCompanies()) SetSystemInfo(m_db, "FundCorVersion", serverCompanyVersion);
        else LoadFundCompanies();
    }

    if (!GetSystemInfo(m_db, "FundInfoVersion", local)) local.clear();
    bool download = local < serverFundVersion;
    if (!download && !LoadFundInfos()) {
        if (prompt) prompt->ShowMessage(LoadResString(str::NoLocalDatabase), PromptIcon::Warning);
        download = true;
    }
    if (download) {
        if (DownloadFundInfos()) SetSystemInfo(m_db, "FundInfoVersion", serverFundVersion);
        else LoadFundInfos();
    }

    m_db.Execute("UPDATE T_Fund_Trade SET TotalCount=0,FreeCount=0 WHERE FreeCount < 1");
    LoadFundGroups();
    return true;
}

bool CFundCatalogue::LoadFundCompanies()
{
    RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT * FROM T_Fund_Company ORDER BY CompanyName");
    if (!rs) return FailWith(m_db.GetLastError());
    m_companies.clear();
    for (; !rs->IsEOF(); rs->MoveNext()) {
        CFundCompany c;
        m_db.GetFieldValue(rs, "CompanyID", c.CompanyID);
        m_db.GetFieldValue(rs, "CompanyName", c.CompanyName);
        m_db.GetFieldValue(rs, "CompanyURL", c.CompanyURL);
        m_db.GetFieldValue(rs, "CompanyType", c.CompanyType);
        m_companies[c.CompanyID] = std::move(c);
    }
    return true;
}

bool CFundCatalogue::LoadFundInfos()
{
    // Row by row and unsorted: the map orders the funds by code.
    std::map<std::string, CFundInfo> funds;
    const bool read = m_db.ForEachRow("SELECT * FROM T_Fund_Info", [&](const RecordsetPtr& rs) {
        CFundInfo f;
        m_db.GetFieldValue(rs, "FundID", f.FundID);
        m_db.GetFieldValue(rs, "CompanyID", f.CompanyID);
        m_db.GetFieldValue(rs, "FundName", f.FundName);
        m_db.GetFieldValue(rs, "FundShortName", f.FundShortName);
        m_db.GetFieldValue(rs, "FundTypeID", f.FundTypeID);
        m_db.GetFieldValue(rs, "InvestTypeID", f.InvestTypeID);
        m_db.GetFieldValue(rs, "BankID", f.BankID);
        m_db.GetFieldValue(rs, "FundURL", f.FundURL);
        m_db.GetFieldValue(rs, "CreateDate", f.CreateDate);
        m_db.GetFieldValue(rs, "NewFundCount", f.NewFundCount);
        m_db.GetFieldValue(rs, "OldFundCount", f.OldFundCount);
        std::string id = f.FundID;
        funds[id] = std::move(f);
        return true;
    });
    if (!read) return FailWith(m_db.GetLastError());
    m_funds = std::move(funds);
    return true;
}

CompaniesFetch FetchFundCompanies(const CommandContext& ctx)
{
    CompaniesFetch out;
    CommandReply reply = SendCompanyList(ctx);
    if (!reply.ok()) {
        out.error = reply.error;
        return out;
    }
    for (size_t i = 0; i + 4 <= reply.fields.size(); i += 4)
        out.records.push_back({reply.fields[i], reply.fields[i + 1], reply.fields[i + 3], reply.fields[i + 2]});
    out.ok = true;
    return out;
}

FundInfosFetch FetchFundInfos(const CommandContext& ctx)
{
    FundInfosFetch out;
    CommandReply reply = SendFundList(ctx);
    if (!reply.ok()) {
        out.error = reply.error;
        return out;
    }
    // Read every record before anything is stored: a bad field rejects the
    // whole answer.
    const auto& f = reply.fields;
    out.records.reserve(f.size() / 11);
    for (size_t i = 0; i + 11 <= f.size(); i += 11) {
        CFundInfo info;
        info.FundID = f[i];
        info.CompanyID = f[i + 1];
        if (!info.CompanyID.empty()) {
            info.FundName = f[i + 2];
            info.FundShortName = f[i + 3];
            bool good = ReadInt(f[i + 4], info.FundTypeID) && ReadInt(f[i + 5], info.InvestTypeID) &&
                        ReadInt(f[i + 6], info.BankID) && ReadWireDate(f[i + 8], info.CreateDate) &&
                        ReadWireFloat(f[i + 9], info.NewFundCount) && ReadWireFloat(f[i + 10], info.OldFundCount);
            if (!good) {
                out.records.clear();
                out.error = FormatErrorText(ctx.operation.empty() ? "DownloadFundInfos" : ctx.operation);
                return out;
            }
            info.FundURL = f[i + 7];
        }
        out.records.push_back(std::move(info));
    }
    out.ok = true;
    return out;
}

FundGroupsFetch FetchFundGroups(const CommandContext& ctx)
{
    FundGroupsFetch out;
    CommandReply reply = SendGroupList(ctx);
    if (!reply.ok()) {
        out.error = reply.error;
        return out;
    }
    out.groups = ParseFundGroups(reply.fields);
    out.ok = true;
    return out;
}

std::optional<CommandContext> CFundCatalogue::FetchContext(const std::string& operation) const
{
    if (m_offline) return std::nullopt;
    return m_ctx.For(operation);
}

bool CFundCatalogue::DownloadFundCompanies()
{
    auto ctx = FetchContext("DownloadFundCompanies");
    if (!ctx) return FailWith(LoadResString(str::OfflineUnavailable));
    return StoreFundCompanies(FetchFundCompanies(*ctx));
}

bool CFundCatalogue::DownloadFundInfos()
{
    auto ctx = FetchContext("DownloadFundInfos");
    if (!ctx) return FailWith(LoadResString(str::OfflineUnavailable));
    return StoreFundInfos(FetchFundInfos(*ctx));
}

bool CFundCatalogue::StoreFundCompanies(const CompaniesFetch& fetched)
{
    if (!fetched.ok) return FailWith(fetched.error);
    std::map<std::string, CFundCompany> companies;
    for (const CFundCompany& c : fetched.records) companies[c.CompanyID] = c;

    CAdoTransaction trans(m_db);
    std::set<std::string> stored = StoredKeys(m_db, "CompanyID", "T_Fund_Company");
    for (const CFundCompany& c : fetched.records) {
        if (!StoreCompany(c, stored.count(c.CompanyID) > 0)) return false;
        stored.insert(c.CompanyID);
    }
    if (!trans.Commit()) return FailWith(m_db.GetLastError());
    m_companies = std::move(companies);
    return true;
}

bool CFundCatalogue::StoreFundInfos(const FundInfosFetch& fetched)
{
    if (!fetched.ok) return FailWith(fetched.error);
    CAdoTransaction trans(m_db);
    std::set<std::string> stored = StoredKeys(m_db, "FundID", "T_Fund_Info");
    std::set<std::string> withdrawn;
    for (const CFundInfo& info : fetched.records) {
        if (info.CompanyID.empty()) {
            // A withdrawn fund: its data goes from every table.
            if (!RemoveFundRows(info.FundID)) return false;
            stored.erase(info.FundID);
            withdrawn.insert(info.FundID);
            continue;
        }
        if (!StoreFundInfo(info, stored.count(info.FundID) > 0)) return false;
        stored.insert(info.FundID);
        withdrawn.erase(info.FundID);
    }
    if (!trans.Commit()) return FailWith(m_db.GetLastError());
    ApplyFundInfos(fetched);
    return true;
}

bool CFundCatalogue::WriteFundInfosElsewhere(const FundInfosFetch& fetched, std::string& error) const
{
    CAdoDatabase own;
    if (!own.OpenAnother(m_db)) {
        error = own.GetLastError();
        return false;
    }
    CFundCatalogue writer(own);
    bool ok = writer.StoreFundInfos(fetched);
    if (!ok) error = writer.GetLastError();
    own.Close();
    return ok;
}

void CFundCatalogue::ApplyFundInfos(const FundInfosFetch& fetched)
{
    // In answer order: a fund withdrawn and listed again afterwards stays.
    for (const CFundInfo& info : fetched.records) {
        if (info.CompanyID.empty())
            m_funds.erase(info.FundID);
        else
            m_funds[info.FundID] = info;
    }
}

bool CFundCatalogue::StoreCompany(const CFundCompany& company, bool exists)
{
    bool ok = exists ? m_db.UpdateRecord("T_Fund_Company", CompanyFields(company),
                                         " WHERE CompanyID='" + SqlEscape(company.CompanyID) + "'")
                     : m_db.InsertRecord("T_Fund_Company", CompanyFields(company));
    return ok || FailWith(m_db.GetLastError());
}

bool CFundCatalogue::StoreFundInfo(const CFundInfo& info, bool exists)
{
    bool ok = exists ? m_db.UpdateRecord("T_Fund_Info", FundFields(info),
                                         " WHERE FundID='" + SqlEscape(info.FundID) + "'")
                     : m_db.InsertRecord("T_Fund_Info", FundFields(info));
    return ok || FailWith(m_db.GetLastError());
}

bool CFundCatalogue::SaveFundCompany(const CFundCompany& company)
{
    int rows = m_db.GetRecordCount("SELECT * FROM T_Fund_Company WHERE CompanyID='" + SqlEscape(company.CompanyID) + "'");
    return StoreCompany(company, rows > 0);
}

bool CFundCatalogue::SaveFundInfo(const CFundInfo& info)
{
    int rows = m_db.GetRecordCount("SELECT * FROM T_Fund_Info WHERE FundID='" + SqlEscape(info.FundID) + "'");
    return StoreFundInfo(info, rows > 0);
}

// Every statement runs even when one before it failed; false when any did.
bool CFundCatalogue::RemoveFundRows(const std::string& fundId)
{
    std::string id = SqlEscape(fundId);
    bool ok = m_db.Execute("DELETE FROM T_Fund_Info WHERE FundID='" + id + "'") || FailWith(m_db.GetLastError());
    for (const char* table : kFundTables)
        if (!m_db.Execute(StrFormat("DELETE FROM %s WHERE FundID='%s'", table, id.c_str())))
            ok = FailWith(m_db.GetLastError());
    return ok;
}

bool CFundCatalogue::DeleteFund(const std::string& fundId)
{
    CAdoTransaction trans(m_db);
    bool ok = RemoveFundRows(fundId);
    if (!trans.Commit()) return FailWith(m_db.GetLastError());
    m_funds.erase(fundId);
    return ok;
}

bool CFundCatalogue::LoadFundGroups()
{
    auto ctx = FetchContext("LoadFundGroups");
    if (!ctx) return FailWith(LoadResString(str::OfflineUnavailable));
    return StoreFundGroups(FetchFundGroups(*ctx));
}

bool CFundCatalogue::StoreFundGroups(const FundGroupsFetch& fetched)
{
    if (!fetched.ok) return FailWith(fetched.error);
    m_groups = fetched.groups;
    m_groupOfFund.clear();
    for (const CFundGroup& g : m_groups)
        for (const std::string& member : g.Members) m_groupOfFund[member] = g.GroupID;
    return true;
}

bool CFundCatalogue::FindFund(const std::string& fundId, CFundInfo& info) const
{
    const CFundInfo* p = FindFund(fundId);
    if (p) info = *p;
    return p != nullptr;
}

const CFundInfo* CFundCatalogue::FindFund(const std::string& fundId) const
{
    auto it = m_funds.find(fundId);
    return it == m_funds.end() ? nullptr : &it->second;
}

bool CFundCatalogue::FindCompany(const std::string& companyId, CFundCompany& company) const
{
    auto it = m_companies.find(companyId);
    if (it == m_companies.end()) return false;
    company = it->second;
    return true;
}

int CFundCatalogue::GetFundClass(const std::string& fundId) const
{
    const CFundInfo* f = FindFund(fundId);
    if (!f) return 1;
    switch (f->FundTypeID) {
    case 1: return f->InvestTypeID == 4 ? 2 : 1;
    case 2: return 3;
    case 5: return 5;
    default: return 4;
    }
}

bool CFundCatalogue::IsMoneyMarketFund(const std::string& fundId) const
{
    // A fund the catalogue does not know is no money-market fund: the
    // bookkeeping refuses it instead of booking it at 1.0.
    const CFundInfo* f = FindFund(fundId);
    return f && f->InvestTypeID == 4;
}

bool CFundCatalogue::GetFundGroup(const std::string& fundId, int& groupId) const
{
    auto it = m_groupOfFund.find(fundId);
    if (it == m_groupOfFund.end()) return false;
    groupId = it->second;
    return true;
}

}  // namespace vextal
