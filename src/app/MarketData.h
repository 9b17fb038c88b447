#pragma once
// The fund market data the document owns after start-up: the catalogue,
// the latest values and the NAV history, wired into the document's hooks
// (post-login catalogue steps, the bookkeeping's fund directory).
#include <memory>

#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"
#include "market/NavHistory.h"

namespace vextal {

class CVextalDoc;

class CMarketData {
public:
    // Built on the document's database once it is open.
    explicit CMarketData(CVextalDoc& doc);
    ~CMarketData();
    CMarketData(const CMarketData&) = delete;
    CMarketData& operator=(const CMarketData&) = delete;

    // Fills the document's market hooks.
    void Attach();
    // The login id and offline flag of the current user, for every request.
    void SyncSession();

    CFundCatalogue& Catalogue() { return m_catalogue; }
    CLatestValueCache& Latest() { return m_latest; }
    CNavHistory& History() { return m_history; }

private:
    void ReportStoreFailure(const char* what, const std::string& error);
    CVextalDoc& m_doc;
    CFundCatalogue m_catalogue;
    CLatestValueCache m_latest;
    CNavHistory m_history;
};

}  // namespace vextal
