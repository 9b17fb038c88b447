#include "app/MarketData.h"

#include "app/BookFileRepair.h"
#include "app/ProgramState.h"
#include "app/VextalDoc.h"
#include "common/ProgramDir.h"
#include "db/Schema.h"

#include <memory>

namespace vextal {

CMarketData::CMarketData(CVextalDoc& doc)
    : m_doc(doc), m_catalogue(doc.GetDatabase()), m_latest(doc.GetDatabase(), m_catalogue),
      m_history(doc.GetDatabase(), &m_latest)
{
}

CMarketData::~CMarketData() = default;

// A list received but not stored (a full disk): the user is told, the
// version stays, so the next login downloads it again.
void CMarketData::ReportStoreFailure(const char* what, const std::string& error)
{
    if (IUserPrompt* prompt = m_doc.Prompt())
        prompt->ShowMessage(StoreFailedText(what, ProgramPath(kDatabaseFileName), error), PromptIcon::Error);
}

void CMarketData::SyncSession()
{
    CommandContext ctx = m_doc.MakeCommandContext();
    bool offline = m_doc.User().OfflineFlag != 0 || IsProgramOffline();
    m_catalogue.SetSession(ctx, offline);
    m_latest.SetSession(ctx, offline);
    m_history.SetSession(ctx, offline);
    m_latest.SetNewestNavDate(m_doc.User().NewValueDate);
    // The disclosure site has no setting of its own: it is reached where the service is.
    m_latest.SetDisclosureBase(m_doc.Settings().serverUrl);
}

void CMarketData::Attach()
{
    CMarketHooks& h = m_doc.Market();
    h.loadFundCompanies = [this] {
        SyncSession();
        return m_catalogue.LoadFundCompanies();
    };
    // The fetches see only their copy of the session: they may run on a worker.
    // A failed download keeps the local tables in the map (the caller only
    // loads them when no download was due): an empty catalogue would book
    // every fund wrongly.
    h.downloadFundCompanies = [this]() -> FetchStep {
        SyncSession();
        auto ctx = m_catalogue.FetchContext("DownloadFundCompanies");
        if (!ctx) return nullptr;
        return [this, ctx = *ctx]() -> StoreStep {
            auto fetched = std::make_shared<CompaniesFetch>(FetchFundCompanies(ctx));
            return [this, fetched] {
                if (m_catalogue.StoreFundCompanies(*fetched)) return true;
                if (fetched->ok) ReportStoreFailure("基金公司列表", m_catalogue.GetLastError());
                m_catalogue.LoadFundCompanies();
                return false;
            };
        };
    };
    h.loadFundInfos = [this] {
        SyncSession();
        return m_catalogue.LoadFundInfos();
    };
    h.downloadFundInfos = [this]() -> FetchStep {
        SyncSession();
        auto ctx = m_catalogue.FetchContext("DownloadFundInfos");
        if (!ctx) return nullptr;
        // Thousands of funds: written on the worker through a connection of
        // its own, the map takes them at once here.
        return [this, ctx = *ctx]() -> StoreStep {
            auto fetched = std::make_shared<FundInfosFetch>(FetchFundInfos(ctx));
            std::string error;
            bool written = fetched->ok && m_catalogue.WriteFundInfosElsewhere(*fetched, error);
            return [this, fetched, written, error] {
                if (written) {
                    m_catalogue.ApplyFundInfos(*fetched);
                    return true;
                }
                if (fetched->ok) ReportStoreFailure("基金列表", error);
                m_catalogue.LoadFundInfos();
                return false;
            };
        };
    };
    h.sendClosingRequest = [this]() -> FetchStep {
        SyncSession();
        auto ctx = m_catalogue.FetchContext("LoadFundGroups");
        if (!ctx) return nullptr;
        return [this, ctx = *ctx]() -> StoreStep {
            auto fetched = std::make_shared<FundGroupsFetch>(FetchFundGroups(ctx));
            return [this, fetched] { return m_catalogue.StoreFundGroups(*fetched); };
        };
    };
    h.loadLatestValues = [this] {
        SyncSession();
        m_latest.LoadNewFundValues();
    };
    h.isMoneyMarketFund = [this](const std::string& id) { return m_catalogue.IsMoneyMarketFund(id); };
    h.isKnownFund = [this](const std::string& id) { return m_catalogue.FindFund(id) != nullptr; };
    h.getEstablishDate = [this](const std::string& id, OleDate& date) {
        const CFundInfo* info = m_catalogue.FindFund(id);
        if (!info) return false;
        date = info->CreateDate;
        return true;
    };
    h.getLatestNav = [this](const std::string& id, LatestNav& nav) {
        CFundValue v;
        if (!m_latest.GetLatestNav(id, v)) return false;
        nav.TodayValue = v.TodayValue;
        nav.VarPercent = v.VarPercent;
        nav.VarValue = v.VarValue;
        nav.ValueDate = v.ValueDate;
        return true;
    };
    h.currentValueDate = [this] { return m_latest.CurrentValueDate(); };
    h.dividendsPerShare = [this](const std::string& id, const OleDate& from, const OleDate& to) {
        double sum = 0;
        for (const CFundBonus& b : m_history.LoadFundBonus(id, from.DateOnly(), to))
            if (b.BonusDate.DateOnly() > from.DateOnly()) sum += b.BonusValue;
        return sum;
    };
}

}  // namespace vextal
