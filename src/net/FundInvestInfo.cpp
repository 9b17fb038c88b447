#include "net/FundInvestInfo.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"

namespace vextal {

namespace {

constexpr std::string_view kOpen = "<FundInvestInfo>";
constexpr std::string_view kClose = "</FundInvestInfo>";

// The text of <name>...</name> inside `element`; empty when either tag is missing there.
std::string Field(std::string_view element, const std::string& name)
{
    const std::string open = "<" + name + ">", close = "</" + name + ">";
    const size_t start = element.find(open);
    if (start == std::string_view::npos) return std::string();
    const size_t from = start + open.size();
    const size_t end = element.find(close, from);
    if (end == std::string_view::npos) return std::string();
    return std::string(element.substr(from, end - from));
}

}  // namespace

std::string XmlEscapeText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string XmlUnescapeText(const std::string& text)
{
    static const std::pair<std::string_view, char> kEntities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&#39;", '\''}, {"&apos;", '\''}};
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            const std::string_view rest(text.data() + i, text.size() - i);
            for (const auto& [entity, c] : kEntities)
                if (rest.substr(0, entity.size()) == entity) {
                    out += c;
                    i += entity.size();
                    replaced = true;
                    break;
                }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

std::string WriteFundInvestInfo(const std::string& stockId, const std::string& stockName, double investPercent,
                                const std::string& industry)
{
    std::string out = "  <FundInvestInfo><StockID>" + XmlEscapeText(stockId) + "</StockID><StockName>" +
                      XmlEscapeText(stockName) + "</StockName><InvestPercent>" + StrFormat("%0.2f", investPercent) +
                      "</InvestPercent>";
    if (!industry.empty()) out += "<Industry>" + XmlEscapeText(industry) + "</Industry>";
    return out + "</FundInvestInfo>\n";
}

bool ReadFundInvestInfo(const std::string& answer, std::vector<CFundInvestItem>& items)
{
    const std::string_view text(answer);
    size_t pos = 0;
    size_t lastEnd = 0;
    while ((pos = text.find(kOpen, pos)) != std::string_view::npos) {
        const size_t body = pos + kOpen.size();
        // An element ends at its end tag, or where the next one starts when
        // its end tag is missing: no field is taken from a neighbour.
        const size_t stop = std::min({text.find(kClose, body), text.find(kOpen, body), text.size()});
        const std::string_view element = text.substr(body, stop - body);
        CFundInvestItem item;
        item.StockID = XmlUnescapeText(Field(element, "StockID"));
        item.StockName = XmlUnescapeText(GbkToUtf8(Field(element, "StockName")));
        double percent = NumberOr(Field(element, "InvestPercent"), 0);
        if (!(std::fabs(percent) <= 1e6)) percent = 0;  // no share of anything, and no float overflow
        // Holdings shares are inputs of the estimate, which stays in single precision.
        item.InvestPercent = static_cast<float>(percent);
        item.Industry = XmlUnescapeText(GbkToUtf8(Field(element, "Industry")));
        items.push_back(std::move(item));
        lastEnd = stop;
        pos = stop;
    }
    const std::string rootEnd = std::string("</") + kFundInvestInfoRoot + ">";
    const size_t closed = text.find(rootEnd, lastEnd);
    const size_t opened = text.find(std::string("<") + kFundInvestInfoRoot);
    return opened != std::string_view::npos && closed != std::string_view::npos && opened < closed;
}

}  // namespace vextal
