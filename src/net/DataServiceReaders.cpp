// The readers of the data service answers and of the quote page, kept apart
// from the requests so that they can be exercised without a network.
#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "net/DataService.h"
#include "net/Encoding.h"
#include "net/TagScanner.h"

namespace vextal {

namespace {

double ReadDouble(const std::string& text)
{
    double v = 0;
    ReadLeadingDecimal(text, v);
    return v;
}

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
    std::vector<std::string> fields;
    SplitFields(page, ",", fields);
    if (fields.size() != 39) return false;
    double v;
    if (!ReadLeadingDecimal(fields[6], v)) return false;
    changePercent = static_cast<float>(v);
    return true;
}

bool ReadStockQuote(const std::string& page, float& changePercent, OleDate& sessionDay)
{
    sessionDay = OleDate::FromParts(0, 0, 0);
    if (!ReadStockQuote(page, changePercent)) return false;
    std::vector<std::string> fields;
    SplitFields(page, ",", fields);
    OleDate day;
    if (OleDate::Parse(TrimText(fields[29]), day)) sessionDay = day.DateOnly();
    return true;
}

}  // namespace vextal
