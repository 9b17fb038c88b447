// What only a stand-in service sends to the command functions and the data
// service readers: short, foreign or cut answers and failed requests.
#include <gtest/gtest.h>

#include <atomic>

#include "LoopbackServer.h"
#include "book/BookServiceClient.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/DataService.h"
#include "net/Encoding.h"

using namespace vextal;
using vextal::test::LoopbackServer;
using vextal::test::NetTest;
using DataServiceTest = NetTest;

namespace {

// The command service: answers every command with the text the test set.
class CommandsTest : public NetTest {
protected:
    void Answer(const std::string& inner, int httpStatus = 200) { stub.Answer("", inner, httpStatus); }
    void RawAnswer(const std::string& text, int httpStatus = 200) { stub.Raw("", text, httpStatus); }
    std::string LastBody() { return stub.Sent().back(); }

    test::CommandStub stub;
    CommandContext& ctx = stub.ctx;
};

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

// Success paths, refusals and the request bodies of these commands run
// against the real plindo-serve (tests/service); here only what a real
// service never sends: short or foreign answers and transport failures.
TEST_F(CommandsTest, MalformedAnswersNameTheOperation)
{
    // Four fields where five are due: the caller's operation names the format error.
    Answer("<Ret>0</Ret><Msg>000001|2024-01-05|1.0500|3.2100</Msg>");
    CommandReply r = SendLatestValue(ctx.For("GetFundNewValueFormServer"), "000001");
    EXPECT_EQ(LastBody(), "cmdtype=2&cmdid=22&data=000001&loginid=u1");
    EXPECT_EQ(r.status, CommandStatus::BadFormat);
    EXPECT_EQ(r.error, "GetFundNewValueFormServer():数据格式错误");
    // Ret 0 without any Msg element is a missing payload.
    Answer("<Ret>0</Ret>");
    EXPECT_EQ(SendLatestValue(ctx, "000001").error, "SendLatestValue():数据格式错误");
    // A missing Ret is a refusal, never a success.
    Answer("<Msg>000001|2024-01-05|1.0500|3.2100|0.52</Msg>");
    EXPECT_EQ(SendLatestValue(ctx, "000001").status, CommandStatus::Refused);
    // Enciphered answers: a missing Msg2 is a format error even with Ret 0.
    Answer("<Ret>0</Ret><Msg>x</Msg>");
    EXPECT_EQ(SendRealtimeValue(ctx.For("GetRealtimeValueFormServer"), "000001").error,
              "GetRealtimeValueFormServer():数据格式错误");
    // 2/23 wants exactly two fields.
    Answer("<Ret>0</Ret><Msg>1.5|2.5|3.5</Msg><Msg2></Msg2>");
    EXPECT_FALSE(SendIntervalFigures(ctx, "000001", OleDate::FromParts(2024, 1, 1), OleDate::FromParts(2024, 2, 1)).ok());
    // A login answer without its ServerID logs nobody in.
    Answer("<Ret>0</Ret><Msg>12|小明|a@x.cn|2020-01-01|2027-01-01|5|9|2024-01-05|k=v</Msg>");
    EXPECT_EQ(SendLogin(CommandContext{ctx.commandUrl, "", ""}.For("Login"), "a", "b", "3.25").error,
              "Login():数据格式错误");

    // A page that is not the service's answer (a portal, a proxy), and transport failures.
    RawAnswer("<html><body>portal login</body></html>");
    EXPECT_EQ(SendLatestValue(ctx, "000001").error, "SendLatestValue():数据格式错误");
    RawAnswer("server error", 500);
    r = SendLatestValue(ctx, "000001");
    EXPECT_EQ(r.status, CommandStatus::SendFailed);
    EXPECT_EQ(r.error, "发送请求错误，请检查网络是否可用");
    EXPECT_EQ(SendLogin(ctx, "a", "b", "3.25").error, "发送请求错误");
}

// Upload, download and cancellation run against the real service
// (tests/service); here only what it never sends.
TEST_F(CommandsTest, DividendAmountAndCancelAnswerWithoutResult)
{
    Answer("<Ret>0</Ret><Msg></Msg>");
    // The amount of a dividend query goes out with two decimals.
    SendDividendQuery(ctx, "161005", OleDate::FromParts(2023, 1, 1), OleDate::FromParts(2024, 1, 1), 1234.567, 1);
    EXPECT_EQ(LastBody(), "cmdtype=2&cmdid=13&data=161005|2023-01-01|2024-01-01|1234.57|1&loginid=u1");

    // Without the <result> element the code is not read: no false success.
    RawAnswer("<code>0</code><msg>ok</msg>");
    EXPECT_FALSE(SendTradeCancel(ctx, 42).ok());
}

// An answer cut before its message ends, or a page that is no answer at all
// (a proxy's), is a failure with a text, never an empty bookkeeping or "no
// dividends"; a message found empty is one.
TEST_F(CommandsTest, CutAnswersAreFailuresNotEmptyLists)
{
    CBookServiceClient book([this] { return ctx; });
    const OleDate from = OleDate::FromParts(2023, 1, 1), to = OleDate::FromParts(2024, 1, 1);
    for (const char* cut : {"<Ret>0</Ret><Msg>_A_1|10001|", "<Ret>0</Ret>", "<html>Proxy authentication required</html>"}) {
        SCOPED_TRACE(cut);
        if (cut[1] == 'h') RawAnswer(cut);
        else Answer(cut);
        std::string text = "x", error;
        EXPECT_FALSE(book.DownloadBookkeeping(1, text, error));
        EXPECT_EQ(error, "DownloadBookkeeping():数据格式错误");
        std::vector<DividendItem> items;
        EXPECT_EQ(book.QueryDividends("161005", from, to, 100, 0, items, error), kDividendMalformed);
    }
    Answer("<Ret>0</Ret><Msg></Msg><Msg2></Msg2>");
    std::string text = "x", error;
    EXPECT_TRUE(book.DownloadBookkeeping(1, text, error)) << error;
    EXPECT_EQ(text, "");
    std::vector<DividendItem> items;
    EXPECT_EQ(book.QueryDividends("161005", from, to, 100, 0, items, error), kDividendOk);
    EXPECT_TRUE(items.empty());
}

TEST(DataServiceReaders, ReadHoldingsSplitsAndQuotes)
{
    std::vector<CFundInvestItem> items;
    // A cut answer is a failure; the cut third element still counts as a round, with what it holds.
    EXPECT_FALSE(ReadFundInvestInfo("<ArrayOfFundInvestInfo>" + InvestInfo("600000", "\xc6\xd6\xb7\xa2", "8.5") +
                                        InvestInfo("000002", "\xcd\xf2\xbf\xc6", "x") + "<FundInvestInfo><StockID>1",
                                    items));
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
    EXPECT_DOUBLE_EQ(splits[0].SplitScale, 2.5);

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

// The holdings record as both programs write and read it: the old three
// fields unchanged, the industry after them, and each field taken from its
// own element only, so an element without the industry does not borrow its
// neighbour's.
TEST(DataServiceReaders, FundInvestInfoWithAndWithoutIndustry)
{
    EXPECT_EQ(WriteFundInvestInfo("600000", "浦发银行", 8.5),
              "  <FundInvestInfo><StockID>600000</StockID><StockName>浦发银行</StockName>"
              "<InvestPercent>8.50</InvestPercent></FundInvestInfo>\n");
    const std::string answer = Utf8ToGbk(std::string("<?xml version=\"1.0\" encoding=\"gbk\"?>\n<") + kFundInvestInfoRoot +
                                         " xmlns=\"x\">\n" + WriteFundInvestInfo("000002", "万科A", 3) +
                                         WriteFundInvestInfo("600000", "浦发&<银行>", 8.534, "银行") + "</" +
                                         kFundInvestInfoRoot + ">\n");
    std::vector<CFundInvestItem> items;
    ASSERT_TRUE(ReadFundInvestInfo(answer, items));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].StockName, "万科A");
    EXPECT_EQ(items[0].Industry, "");
    EXPECT_EQ(items[1].StockName, "浦发&<银行>");
    EXPECT_EQ(items[1].Industry, "银行");
    EXPECT_FLOAT_EQ(items[1].InvestPercent, 8.53f);
    items.clear();
    EXPECT_FALSE(ReadFundInvestInfo("<html><body>portal login</body></html>", items));
    EXPECT_TRUE(items.empty());
}

// Calculation, splits and quotes run against the real service (tests/service);
// here the holdings cache and the answers the real service never gives.
TEST_F(DataServiceTest, HoldingsCacheAndFolderRefusals)
{
    LoopbackServer srv;
    std::atomic<int> holdingsRequests{0};
    std::atomic<bool> holdingsDown{false}, holdingsPortal{false};
    const std::string holdings = "<?xml version=\"1.0\" encoding=\"utf-8\"?><ArrayOfFundInvestInfo xmlns=\"d\">" +
                                 InvestInfo("600000", "\xe6\xb5\xa6\xe5\x8f\x91", "9.5") +  // 浦发 (UTF-8 page)
                                 InvestInfo("600036", "b", "7.25") + InvestInfo("000002", "c", "3") +
                                 "</ArrayOfFundInvestInfo>";
    srv.Get("/plindo/common/plindoservice.asmx/GetNewFundInvestInfo", [&](const httplib::Request&, httplib::Response& res) {
        ++holdingsRequests;
        if (holdingsDown) res.status = 503;
        res.set_content(holdingsPortal ? "<html><body>portal login</body></html>" : holdings, "text/xml");
    });
    std::string topicAnswer;
    srv.Post("/plindo/client/ClientService.asmx/DeleteFundFormTopic", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(topicAnswer, "text/plain");
    });
    srv.Start();

    CFundInvestCache cache;
    std::vector<CFundInvestItem> items{{"old", "", 0}};
    // The items against the real service (tests/service), which answers in GBK; a UTF-8 page here.
    ASSERT_TRUE(GetNewFundInvestInfo(cache, srv.Base(), "000001", true, items));
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].StockName, "浦发");
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
    // A page that is no holdings answer is a failure, not a fund without stocks, and is not cached.
    holdingsPortal = true;
    EXPECT_FALSE(GetNewFundInvestInfo(cache, srv.Base(), "519000", true, items));
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
