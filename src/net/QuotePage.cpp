#include "net/QuotePage.h"

#include "common/Format.h"

namespace vextal {

namespace {

std::string F2(double v) { return FormatFixed(v, 2); }

}  // namespace

std::string WriteQuotePage(const StockQuote& q)
{
    std::vector<std::string> f = {q.Name, F2(q.Open), F2(q.PrevClose), F2(q.Price), F2(q.High), F2(q.Low),
                                  F2(q.ChangePercent), FormatFixed(q.Volume, 0), F2(q.Turnover)};
    for (size_t level = 0; level < 5; ++level) {
        f.push_back(FormatFixed(q.BidSize[level], 0));
        f.push_back(F2(q.BidPrice[level]));
    }
    for (size_t level = 0; level < 5; ++level) {
        f.push_back(FormatFixed(q.AskSize[level], 0));
        f.push_back(F2(q.AskPrice[level]));
    }
    f.push_back(q.Session.Format(1));
    f.push_back(q.Time.Format(5));
    f.push_back(F2(q.Change));
    f.push_back(F2(q.Amplitude));
    f.push_back(q.Code);
    while (f.size() < kQuoteFields) f.push_back("0");
    std::string text;
    for (size_t i = 0; i < f.size(); ++i) text += (i ? "," : "") + f[i];
    return text;
}

bool ReadQuotePage(const std::string& page, StockQuote& q)
{
    const std::vector<std::string> f = SplitText(page, ',');
    if (f.size() != kQuoteFields) return false;
    std::optional<double> change = ParseNumber(f[6]);
    if (!change) return false;
    q = StockQuote();
    q.ChangePercent = *change;
    q.Name = f[0];
    double* figures[] = {&q.Open, &q.PrevClose, &q.Price, &q.High, &q.Low};
    for (size_t i = 0; i < 5; ++i) *figures[i] = NumberOr(f[1 + i], 0);
    q.Volume = NumberOr(f[7], 0);
    q.Turnover = NumberOr(f[8], 0);
    for (size_t level = 0; level < 5; ++level) {
        q.BidSize[level] = NumberOr(f[9 + 2 * level], 0);
        q.BidPrice[level] = NumberOr(f[10 + 2 * level], 0);
        q.AskSize[level] = NumberOr(f[19 + 2 * level], 0);
        q.AskPrice[level] = NumberOr(f[20 + 2 * level], 0);
    }
    q.Session = OleDate::FromParts(0, 0, 0);
    OleDate day;
    if (OleDate::Parse(TrimText(f[29]), day)) q.Session = day.DateOnly();
    OleDate at;
    if (OleDate::Parse(TrimText(f[30]), at)) q.Time = at;
    q.Change = NumberOr(f[31], 0);
    q.Amplitude = NumberOr(f[32], 0);
    q.Code = TrimText(f[33]);
    return true;
}

}  // namespace vextal
