#include "net/DataService.h"

#include "common/Clock.h"
#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "net/HttpTransport.h"

namespace vextal {

bool CFundInvestCache::Find(const std::string& fundId, std::vector<CFundInvestItem>& items) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& e : m_entries) {
        if (e.FundID == fundId) {
            items = e.Items;
            return true;
        }
    }
    return false;
}

void CFundInvestCache::Store(const std::string& fundId, const OleDate& fetchDate,
                             const std::vector<CFundInvestItem>& items)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& e : m_entries) {
        if (e.FundID == fundId) {
            e.FetchDate = fetchDate;
            e.Items = items;
            return;
        }
    }
    m_entries.push_back({fundId, fetchDate, items});
}

void CFundInvestCache::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

size_t CFundInvestCache::Size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

bool GetNewFundInvestInfo(CFundInvestCache& cache, const std::string& baseUrl, const std::string& fundId,
                          bool clear, std::vector<CFundInvestItem>& items)
{
    if (clear) items.clear();
    std::vector<CFundInvestItem> holdings;
    if (cache.Find(fundId, holdings)) {
        items.insert(items.end(), holdings.begin(), holdings.end());
        return true;
    }
    std::string answer;
    std::string url = baseUrl + kDataServicePath + "GetNewFundInvestInfo?fundid=" + fundId;
    if (HttpGetText(url, answer, "", "") < 0) return false;
    // A cut or foreign page is a failure, not a fund without stocks, and is not cached.
    if (!ReadFundInvestInfo(answer, holdings)) return false;
    cache.Store(fundId, Clock::Now().DateOnly(), holdings);
    items.insert(items.end(), holdings.begin(), holdings.end());
    return true;
}

bool GetNewFundCalcResult(const std::string& baseUrl, const std::vector<std::pair<std::string, float>>& funds,
                          std::vector<CFundInvestItem>& items)
{
    items.clear();
    std::vector<std::string> codes, values;
    for (const auto& [code, value] : funds) {
        codes.push_back(code);
        values.push_back(StrFormat("%0.2f", static_cast<double>(value)));
    }
    std::string url = baseUrl + kDataServicePath + "GetNewFundCalcResult?FundIDList=" + JoinFields(codes) +
                      "&FundInvestVar=" + JoinFields(values);
    std::string answer;
    if (HttpGetText(url, answer, "", "") < 0) return false;
    return ReadFundInvestInfo(answer, items);
}

bool GetFundSplitInfo(const std::string& baseUrl, const std::string& fundId, int typeFlag,
                      std::vector<CFundSplitItem>& items)
{
    items.clear();
    std::string url = StrFormat("%splindo/common/plindoservice.asmx/GetFundSplitInfo?fundid=%s&TypeFlag=%d",
                                baseUrl.c_str(), fundId.c_str(), typeFlag);
    std::string answer;
    if (HttpGetText(url, answer, "", "") < 0) return false;
    ReadFundSplitInfo(answer, items);
    return true;
}

std::string AddFundToTopic(const std::string& baseUrl, const std::string& loginId, int topicId,
                           const std::string& fundId)
{
    if (topicId < 0) return "没有可用的收藏夹";
    std::string body = StrFormat("LoginID=%s&TopicID=%d&FundID=%s&AddFlag=1", loginId.c_str(), topicId,
                                 fundId.c_str());
    std::string answer;
    if (!HttpPostCommand(baseUrl + "plindo/client/ClientService.asmx/DeleteFundFormTopic", answer, body, ""))
        return "添加失败";
    // Only an answer that starts with a number counts; atoi would read an
    // error page as 0, which is success.
    size_t i = answer.find_first_not_of(" \t\r\n");
    if (i != std::string::npos && (answer[i] == '-' || answer[i] == '+')) ++i;
    if (i == std::string::npos || i >= answer.size() || answer[i] < '0' || answer[i] > '9') return "添加失败";
    switch (ReadLeadingInt(answer)) {
    case 0: return "添加成功";
    case -5: return "已收藏有此基金";
    default: return "添加失败";
    }
}

bool GetStockQuote(const std::string& quoteBase, const std::string& stockId, float& changePercent)
{
    std::string page;
    if (HttpGetText(quoteBase + "htmdata/html/" + stockId + ".htm", page, "", "") < 0) return false;
    return ReadStockQuote(page, changePercent);
}

bool GetStockQuote(const std::string& quoteBase, const std::string& stockId, float& changePercent,
                   OleDate& sessionDay)
{
    std::string page;
    sessionDay = OleDate::FromParts(0, 0, 0);
    if (HttpGetText(quoteBase + "htmdata/html/" + stockId + ".htm", page, "", "") < 0) return false;
    return ReadStockQuote(page, changePercent, sessionDay);
}

}  // namespace vextal
