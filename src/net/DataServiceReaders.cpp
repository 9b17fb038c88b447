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

// Holdings shares are inputs of the estimate, which stays in single precision.
float ReadFloat(const std::string& text) { return static_cast<float>(ReadDouble(text)); }

}  // namespace

void ReadFundInvestInfo(const std::string& answer, std::vector<CFundInvestItem>& items)
{
    CTagScanner scan;
    std::string value;
    // Every round must pass a new <FundInvestInfo>; the scanner restarts at
    // the beginning after a miss, so without this guard a missing inner
    // element could make the loop read the same element again forever.
    while (scan.SkipPast(answer, "<FundInvestInfo>")) {
        long round = scan.Position;
        CFundInvestItem item;
        if (scan.Next(answer, "<StockID>", "</StockID>", value)) item.StockID = value;
        if (scan.Next(answer, "<StockName>", "</StockName>", value)) item.StockName = GbkToUtf8(value);
        if (scan.Next(answer, "<InvestPercent>", "</InvestPercent>", value)) item.InvestPercent = ReadFloat(value);
        items.push_back(std::move(item));
        if (scan.Position < round) scan.Position = round;
    }
}

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
