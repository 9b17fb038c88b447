#include "app/VextalDoc.h"

#include <filesystem>

#include "app/IniFile.h"
#include "app/PageFiles.h"
#include "app/ProgramState.h"
#include "book/BookServiceClient.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/ProgramDir.h"
#include "common/StringTable.h"
#include "db/Schema.h"
#include "market/NavHistory.h"
#include "net/HttpTransport.h"

namespace fs = std::filesystem;

namespace vextal {
namespace {

// The bookkeeping's view of the fund data, answered by the market hooks.
class CDocFundDirectory : public IFundDirectory {
public:
    explicit CDocFundDirectory(const CMarketHooks& hooks) : m_hooks(hooks) {}
    bool IsMoneyMarketFund(const std::string& fundId) const override
    {
        return m_hooks.isMoneyMarketFund ? m_hooks.isMoneyMarketFund(fundId) : true;
    }
    bool IsKnownFund(const std::string& fundId) const override
    {
        return !m_hooks.isKnownFund || m_hooks.isKnownFund(fundId);
    }
    bool GetEstablishDate(const std::string& fundId, OleDate& date) const override
    {
        return m_hooks.getEstablishDate && m_hooks.getEstablishDate(fundId, date);
    }
    bool GetLatestNav(const std::string& fundId, LatestNav& nav) const override
    {
        return m_hooks.getLatestNav && m_hooks.getLatestNav(fundId, nav);
    }

private:
    const CMarketHooks& m_hooks;
};

}  // namespace

CVextalDoc::CVextalDoc()
    : m_fundDirectory(std::make_unique<CDocFundDirectory>(m_market)),
      m_bookServices(std::make_unique<CBookServiceClient>([this] { return MakeCommandContext(); })),
      m_accounts(std::make_unique<CAccountManager>())
{
    m_endDate = Clock::Now();
    m_startDate = m_endDate.AddDays(-30);
    ResetUser();
}

CVextalDoc::~CVextalDoc() { CloseDatabase(); }

bool CVextalDoc::OnNewDocument(IUserPrompt& prompt)
{
    m_prompt = &prompt;
    LoadSettings(m_settings, DefaultIniPath());
    ProxySettings proxy;
    proxy.Enable = m_settings.proxy.enable;
    proxy.IP = m_settings.proxy.ip;
    proxy.Port = m_settings.proxy.port;
    proxy.UserName = m_settings.proxy.userName;
    proxy.Password = m_settings.proxy.password;
    SetProxySettings(proxy);
    SetProgramServerUrl(m_settings.serverUrl);
    m_membership.SetCommandUrl(m_settings.commandUrl);

    std::error_code ec;
    if (!fs::exists(ProgramPath(kDatabaseFileName), ec)) FetchDatabaseFile();

    m_db.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
    m_db.SetDatabase(kDatabaseFileName, 0);
    m_dbOpen = m_db.Open();
    if (!m_dbOpen) {
        prompt.ShowMessage(m_db.GetLastError(), PromptIcon::Error);
        return true;
    }
    m_db.Execute(kClearEmptyFundValues);
    std::string upgradeError;
    if (!UpgradeDatabase(m_db, &upgradeError)) {
        // A file left below its version lacks columns every function needs:
        // run without it, as when it cannot be opened; the next start retries.
        prompt.ShowMessage(upgradeError, PromptIcon::Error);
        m_db.Close();
        m_dbOpen = false;
        return true;
    }
    if (!EnsureFundValueIndex(m_db)) prompt.ShowMessage(m_db.GetLastError(), PromptIcon::Error);
    m_membership.SetDatabase(m_db);
    return true;
}

void CVextalDoc::FetchDatabaseFile()
{
    const std::string path = ProgramPath(kDatabaseFileName);
    const std::string part = path + ".download";
    std::error_code ec;
    std::string body;
    // A body that is not a database (an error page, a cut transfer) must not
    // become Vextal.mdb: the next starts would never fetch it again.
    if (HttpGetLargeBuffer(m_settings.serverUrl + "Update/" + kDatabaseFileName, body, std::string(), std::string()) >
            0 &&
        WriteFileAtomically(part, body)) {
        CAdoDatabase probe;
        probe.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
        probe.SetDatabase(part, 0);
        bool usable = probe.Open();
        probe.Close();
        if (usable) {
            fs::rename(part, path, ec);
            if (!ec) return;
        }
    }
    fs::remove(part, ec);
    fs::remove(part + "-wal", ec);
    fs::remove(part + "-shm", ec);
    std::string error;
    CreateDatabaseFile(path, CAdoDatabase::kDefaultPassword, error);
}

void CVextalDoc::SyncCatalogueList(const char* versionItem, const std::string& serverVersion,
                                   const std::function<bool()>& load, const std::function<bool()>& download,
                                   bool reportLocalFailure)
{
    if (!load && !download) return;
    std::string stored;
    GetSystemInfo(m_db, versionItem, stored);
    bool offline = m_user.OfflineFlag != 0;
    auto fetch = [&] {
        // Offline means the service is not contacted at all.
        if (offline || !download) return;
        if (download()) SetSystemInfo(m_db, versionItem, serverVersion);
    };
    if (!offline && stored < serverVersion) {
        fetch();
        return;
    }
    if (load && load()) return;
    if (reportLocalFailure && m_prompt) m_prompt->ShowMessage(LoadResString(str::NoLocalDatabase), PromptIcon::Error);
    fetch();
}

bool CVextalDoc::InitAfterLogin()
{
    SyncCatalogueList("FundCorVersion", m_user.FundCorVersion, m_market.loadFundCompanies,
                      m_market.downloadFundCompanies, false);
    // The fund list and the latest values come before the accounts: the
    // first account load applies dividends, which must know the
    // money-market funds, and values the holdings at the latest NAVs.
    SyncCatalogueList("FundInfoVersion", m_user.FundInfoVersion, m_market.loadFundInfos, m_market.downloadFundInfos,
                      true);
    if (m_market.loadLatestValues) m_market.loadLatestValues();

    if (m_market.setFundView) m_market.setFundView(m_settings.fundView);
    m_accounts->Init(m_db, m_user.UserID, m_user.OfflineFlag != 0, m_bookServices.get(), m_fundDirectory.get());
    m_accounts->SetFundZeroHide(m_settings.fundZeroHide != 0);
    // Remainders below one share are cleared before the accounts show them.
    if (m_dbOpen) m_accounts->ClearShareRemainders();
    m_accounts->LoadAccounts(m_user.UserID);
    m_accounts->LoadHoldings(0);

    if (m_market.sendClosingRequest && m_user.OfflineFlag == 0) m_market.sendClosingRequest();
    return true;
}

void CVextalDoc::ResetUser()
{
    m_user = CUserInfo();
    m_user.ResetTime = Clock::Now();
}

std::string CVextalDoc::GetUserQuery() const
{
    return StrFormat("loginid=%s&userid=%d", m_user.LoginID.c_str(), m_user.UserID);
}

void CVextalDoc::LoadFundKeyTable() { m_fundKeys = vextal::LoadFundKeyTable(ProgramPath(kFundKeyFile)); }

void CVextalDoc::Logout() { m_membership.Logout(m_user); }

void CVextalDoc::CloseDatabase()
{
    if (m_dbOpen) m_db.Close();
    m_dbOpen = false;
}

}  // namespace vextal
