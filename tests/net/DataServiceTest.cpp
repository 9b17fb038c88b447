#include <gtest/gtest.h>

#include <atomic>

#include "LoopbackServer.h"
#include "net/DataService.h"
#include "net/Encoding.h"

using namespace vextal;
using vextal::test::LoopbackServer;
using DataServiceTest = vextal::test::NetTest;

namespace {

std::string InvestInfo(const std::string& id, const std::string& gbkName, const std::string& percent)
{
    return "<FundInvestInfo><StockID>" + id + "</StockID><StockName>" + gbkName + "</StockName><InvestPercent>" +
           percent + "</InvestPercent></FundInvestInfo>";
}

std::string QuotePage(const std::string& change, int fields = 39)
{
    std::string page = "\xc6\xd6\xb7\xa2\xd2\xf8\xd0\xd0,9.80,9.75,9.90,9.95,9.70," + change;  // 浦发银行
    for (int i = 7; i < fields; ++i) page += "," + std::to_string(i);
    return page;
}

}  // namespace

TEST(DataServiceReaders, ReadHoldingsSplitsAndQuotes)
{
    std::vector<CFundInvestItem> items;
    ReadFundInvestInfo("<ArrayOfFundInvestInfo>" + InvestInfo("600000", "\xc6\xd6\xb7\xa2", "8.5") +
                           InvestInfo("000002", "\xcd\xf2\xbf\xc6", "x") + "<FundInvestInfo><StockID>1",
                       items);
    // The cut third element still counts as a round, with what it holds.
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].StockName, "浦发");
    EXPECT_FLOAT_EQ(items[0].InvestPercent, 8.5f);
    EXPECT_EQ(items[1].StockName, "万科");
    EXPECT_EQ(items[1].InvestPercent, 0.0f);

    std::vector<CFundSplitItem> splits;
    ReadFundSplitInfo("<a><FundID>161005</FundID><SplitDate>2007-05-10</SplitDate><SplitScale>2.5</SplitScale>"
                      "<FundID>161005</FundID><SplitDate>2009-01-01</SplitDate></a>",
                      splits);
    ASSERT_EQ(splits.size(), 1u);  // only complete triples
    EXPECT_EQ(splits[0].SplitDate, "2007-05-10");
    EXPECT_FLOAT_EQ(splits[0].SplitScale, 2.5f);

    float change = 99;
    EXPECT_TRUE(ReadStockQuote(QuotePage("1.54"), change));
    EXPECT_FLOAT_EQ(change, 1.54f);
    EXPECT_TRUE(ReadStockQuote(QuotePage("-0.51") + "\r\n", change));
    EXPECT_FLOAT_EQ(change, -0.51f);
    change = 99;
    EXPECT_FALSE(ReadStockQuote(QuotePage("1.54", 38), change));
    EXPECT_FALSE(ReadStockQuote(QuotePage("1.54", 40), change));
    EXPECT_FALSE(ReadStockQuote(QuotePage("--"), change));
    EXPECT_FALSE(ReadStockQuote("", change));
    EXPECT_EQ(change, 99);
}

// Calculation, splits and quotes run against the real service (tests/service);
// here the holdings cache and the answers the real service never gives.
TEST_F(DataServiceTest, HoldingsCacheAndFolderRefusals)
{
    LoopbackServer srv;
    std::atomic<int> holdingsRequests{0};
    std::atomic<bool> holdingsDown{false};
    const std::string holdings = "<?xml version=\"1.0\" encoding=\"utf-8\"?><ArrayOfFundInvestInfo xmlns=\"d\">" +
                                 InvestInfo("600000", "\xe6\xb5\xa6\xe5\x8f\x91", "9.5") +  // 浦发 (UTF-8 page)
                                 InvestInfo("600036", "b", "7.25") + InvestInfo("000002", "c", "3") +
                                 "</ArrayOfFundInvestInfo>";
    srv.Get("/plindo/common/plindoservice.asmx/GetNewFundInvestInfo", [&](const httplib::Request&, httplib::Response& res) {
        ++holdingsRequests;
        if (holdingsDown) res.status = 503;
        res.set_content(holdings, "text/xml");
    });
    std::string topicAnswer;
    srv.Post("/plindo/client/ClientService.asmx/DeleteFundFormTopic", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(topicAnswer, "text/plain");
    });
    srv.Start();

    CFundInvestCache cache;
    std::vector<CFundInvestItem> items{{"old", "", 0}};
    ASSERT_TRUE(GetNewFundInvestInfo(cache, srv.Base(), "000001", true, items));
    EXPECT_EQ(srv.Last().target, "/plindo/common/plindoservice.asmx/GetNewFundInvestInfo?fundid=000001");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].StockName, "浦发");
    EXPECT_EQ(items[1].StockID, "600036");
    EXPECT_FLOAT_EQ(items[1].InvestPercent, 7.25f);
    EXPECT_EQ(items[2].StockID, "000002");
    // The second call answers from the cache; without clear it appends.
    ASSERT_TRUE(GetNewFundInvestInfo(cache, srv.Base(), "000001", false, items));
    EXPECT_EQ(holdingsRequests, 1);
    EXPECT_EQ(items.size(), 6u);
    // A failed fetch is not cached: the next call asks again.
    holdingsDown = true;
    EXPECT_FALSE(GetNewFundInvestInfo(cache, srv.Base(), "110022", true, items));
    EXPECT_TRUE(items.empty());
    holdingsDown = false;
    EXPECT_TRUE(GetNewFundInvestInfo(cache, srv.Base(), "110022", true, items));
    EXPECT_EQ(holdingsRequests, 3);
    EXPECT_EQ(cache.Size(), 2u);

    // 0 and -5 come from the real service (tests/service); here the answers it never gives.
    topicAnswer = "1";
    EXPECT_EQ(AddFundToTopic(srv.Base(), "L1", 3, "000001"), "添加失败");
    topicAnswer = "<html>error</html>";  // atoi would read 0, a false success
    EXPECT_EQ(AddFundToTopic(srv.Base(), "L1", 3, "000001"), "添加失败");
    size_t sent = srv.Seen().size();
    EXPECT_EQ(AddFundToTopic(srv.Base(), "L1", -1, "000001"), "没有可用的收藏夹");
    EXPECT_EQ(srv.Seen().size(), sent);
    EXPECT_EQ(AddFundToTopic("http://127.0.0.1:1/", "L1", 3, "000001"), "添加失败");
}
