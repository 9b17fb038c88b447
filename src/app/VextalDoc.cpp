#include "app/VextalDoc.h"

#include <filesystem>
#include <thread>

#include "app/BookFileRepair.h"
#include "app/IniFile.h"
#include "app/LoginBookAnswers.h"
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

constexpr int kLoginParallelRequests = 16;

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
    double GetDividendsPerShare(const std::string& fundId, const OleDate& from, const OleDate& to) const override
    {
        return m_hooks.dividendsPerShare ? m_hooks.dividendsPerShare(fundId, from, to) : 0;
    }
    bool GetCurrentValueDate(OleDate& date) const override
    {
        if (!m_hooks.currentValueDate) return false;
        date = m_hooks.currentValueDate();
        return date.dt != 0;
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

    // A file that cannot be made, or one that holds no book, is said as such
    // with what the user can do, not as a file the open cannot find.
    const std::string path = ProgramPath(kDatabaseFileName);
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        const std::string why = FetchDatabaseFile();
        if (!fs::exists(path, ec)) {
            prompt.ShowMessage(CannotCreateBookText(path, why), PromptIcon::Error);
            return true;
        }
    }
    m_db.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
    m_db.SetDatabase(kDatabaseFileName, 0);
    std::string damage;
    m_dbOpen = OpenBookFile(m_db, path, damage);
    if (!m_dbOpen && !damage.empty()) {
        if (!RepairDamagedBook(prompt, path, damage, [this] { return FetchDatabaseFile(); })) return true;
        m_dbOpen = OpenBookFile(m_db, path, damage);
    }
    if (!m_dbOpen) {
        prompt.ShowMessage(damage.empty() ? m_db.GetLastError() : damage, PromptIcon::Error);
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

std::string CVextalDoc::FetchDatabaseFile()
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
            if (!ec) return std::string();
        }
    }
    fs::remove(part, ec);
    fs::remove(part + "-wal", ec);
    fs::remove(part + "-shm", ec);
    std::string error;
    CreateDatabaseFile(path, CAdoDatabase::kDefaultPassword, error);
    return error;
}

FetchStep CVextalDoc::PlanCatalogueList(const char* versionItem, const std::string& serverVersion,
                                        const std::function<bool()>& load,
                                        const std::function<FetchStep()>& download, bool reportLocalFailure)
{
    if (!load && !download) return nullptr;
    std::string stored;
    GetSystemInfo(m_db, versionItem, stored);
    // Offline means the service is not contacted at all.
    const bool offline = m_user.OfflineFlag != 0;
    auto fetch = [&]() -> FetchStep {
        if (offline || !download) return nullptr;
        FetchStep step = download();
        if (!step) return nullptr;
        // The version moves on only with the stored list.
        return [this, step, item = std::string(versionItem), serverVersion]() -> StoreStep {
            StoreStep store = step();
            return [this, store, item, serverVersion] {
                if (!store || !store()) return false;
                SetSystemInfo(m_db, item.c_str(), serverVersion);
                return true;
            };
        };
    };
    if (!offline && stored < serverVersion) return fetch();
    if (load && load()) return nullptr;
    if (reportLocalFailure && m_prompt) m_prompt->ShowMessage(LoadResString(str::NoLocalDatabase), PromptIcon::Error);
    return fetch();
}

void CVextalDoc::InitAfterLogin(const WorkRunner& runner, std::function<void()> done)
{
    std::vector<FetchStep> fetches;
    fetches.push_back(PlanCatalogueList("FundCorVersion", m_user.FundCorVersion, m_market.loadFundCompanies,
                                        m_market.downloadFundCompanies, false));
    // The fund list and the latest values come before the accounts: the
    // first account load applies dividends, which must know the
    // money-market funds, and values the holdings at the latest NAVs.
    fetches.push_back(PlanCatalogueList("FundInfoVersion", m_user.FundInfoVersion, m_market.loadFundInfos,
                                        m_market.downloadFundInfos, true));
    std::erase(fetches, nullptr);
    if (fetches.empty()) {
        LoadAccountsAfterLogin(runner, std::move(done));
        return;
    }
    RunWork(runner, [this, fetches, runner, done](const std::atomic<bool>& cancelled) -> WorkFinish {
        std::vector<StoreStep> stores;
        for (const FetchStep& fetch : fetches) {
            if (cancelled) return nullptr;
            stores.push_back(fetch());
        }
        if (cancelled) return nullptr;
        return [this, stores, runner, done] {
            for (const StoreStep& store : stores)
                if (store) store();
            LoadAccountsAfterLogin(runner, done);
        };
    });
}

void CVextalDoc::LoadAccountsAfterLogin(const WorkRunner& runner, std::function<void()> done)
{
    if (m_market.loadLatestValues) m_market.loadLatestValues();
    if (m_market.setFundView) m_market.setFundView(m_settings.fundView);
    const bool offline = m_user.OfflineFlag != 0;
    m_accounts->Init(m_db, m_user.UserID, offline, m_bookServices.get(), m_fundDirectory.get());
    m_accounts->SetFundZeroHide(m_settings.fundZeroHide != 0);
    m_accounts->SetIncomeSettings(m_settings.showRealtimeFlag != 0, OleDate());
    m_accounts->SetVip(IsVip());
    // Remainders below one share are cleared before the accounts show them.
    if (m_dbOpen) m_accounts->ClearShareRemainders();

    FetchStep closing = m_market.sendClosingRequest && !offline ? m_market.sendClosingRequest() : nullptr;
    std::vector<LoginHolding> holdings;
    if (!offline && m_dbOpen && m_bookServices) holdings = ReadLoginHoldings(m_db, m_user.UserID, *m_fundDirectory);
    IBookServices* services = offline ? nullptr : m_bookServices.get();
    // The worker asks through a client of its own with a copy of the
    // session, so it reads nothing of the document while the window runs.
    std::shared_ptr<IBookServices> workerClient;
    if (services && m_ownBookServices) {
        workerClient = std::make_shared<CBookServiceClient>([ctx = MakeCommandContext()] { return ctx; });
        services = workerClient.get();
    }

    // The first load books dividends and money-market income: their answers
    // are asked on the worker, the booking happens here from them.
    // On a worker sixteen questions are out at once: at a slow service the
    // wait, not the work, is what takes the time, and the service answers
    // that many side by side.
    const int parallel = runner ? kLoginParallelRequests : 1;
    RunWork(runner, [this, holdings, services, workerClient, closing, done, parallel,
                     userId = m_user.UserID](const std::atomic<bool>& cancelled) -> WorkFinish {
        // The plans are asked here too (the window only books what is due),
        // and with the closing request beside the holdings' questions, not
        // after them: none needs another's answer.
        auto plans = std::make_shared<std::vector<PlanInfo>>();
        bool plansListed = false;
        StoreStep closingStore;
        std::thread beside([&] {
            CHttpCancelScope scope(&cancelled);
            std::string planError;
            plansListed = services && !cancelled && services->ListPlans(userId, *plans, planError);
            if (closing && !cancelled) closingStore = closing();
        });
        std::shared_ptr<CLoginBookAnswers> answers;
        if (services) answers = CLoginBookAnswers::Fetch(*services, holdings, cancelled, parallel);
        beside.join();
        if (cancelled) return nullptr;
        return [this, answers, plans, plansListed, closingStore, done] {
            if (answers) m_accounts->Init(m_db, m_user.UserID, false, answers.get(), m_fundDirectory.get());
            m_accounts->LoadAccounts(m_user.UserID);
            m_accounts->LoadHoldings(0);
            m_accounts->Init(m_db, m_user.UserID, m_user.OfflineFlag != 0, m_bookServices.get(),
                             m_fundDirectory.get());
            // Only a plan with a period due books here, against the service
            // itself (its purchase and the plan's progress: a few short requests).
            if (plansListed) {
                m_accounts->SetPlans(std::move(*plans));
                m_accounts->ProcessPlans();
            }
            if (closingStore) closingStore();
            if (done) done();
        };
    });
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
