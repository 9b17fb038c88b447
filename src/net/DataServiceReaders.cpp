// The readers of the data service answers and of the quote page, kept apart
// from the requests so that they can be exercised without a network.
#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "net/DataService.h"
#include "net/Encoding.h"
#include "net/TagScanner.h"
#include "net/QuotePage.h"

namespace vextal {

namespace {

// A figure that is not a number reads as 0.
double ReadDouble(const std::string& text) { return NumberOr(text, 0); }

}  // namespace

void ReadFundSplitInfo(const std::string& answer, std::vector<CFundSplitItem>& items)
{
    CTagScanner scan;
    std::string id, date, scale;
    for (;;) {
        long before = scan.Position;
        if (!scan.Next(answer, "<FundID>", "</FundID>", id)) break;
        if (!scan.Next(answer, "<SplitDate>", "</SplitDate>", date)) break;
        if (!scan.Next(answer, "<SplitScale>", "</SplitScale>", scale)) break;
        items.push_back({id, GbkToUtf8(date), ReadDouble(scale)});
        if (scan.Position <= before) break;
    }
}

bool ReadStockQuote(const std::string& page, float& changePercent)
{
    OleDate day;
    return ReadStockQuote(page, changePercent, day);
}

bool ReadStockQuote(const std::string& page, float& changePercent, OleDate& sessionDay)
{
    sessionDay = OleDate::FromParts(0, 0, 0);
    StockQuote q;
    if (!ReadQuotePage(page, q)) return false;
    changePercent = static_cast<float>(q.ChangePercent);
    sessionDay = q.Session;
    return true;
}

}  // namespace vextal
