#include <gtest/gtest.h>

#include <regex>

#include "LoopbackServer.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"

using namespace vextal;
using vextal::test::LoopbackServer;

namespace {

// The command service: answers every command with the text the test set.
class CommandsTest : public vextal::test::NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        srv.Post("/plindo/client/ClientService.asmx/SendCommand",
                 [this](const httplib::Request&, httplib::Response& res) {
                     std::lock_guard<std::mutex> lock(mutex);
                     res.status = status;
                     res.set_content(answer, "text/xml");
                 });
        srv.Start();
        ctx.commandUrl = MakeCommandUrl(srv.Base());
        ctx.loginId = "u1";
    }
    void Answer(const std::string& inner, int httpStatus = 200)
    {
        std::lock_guard<std::mutex> lock(mutex);
        answer = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<CommandResult xmlns=\"" +
                 std::string(kCommandNamespace) + "\">" + inner + "</CommandResult>";
        status = httpStatus;
    }
    void RawAnswer(const std::string& text, int httpStatus = 200)
    {
        std::lock_guard<std::mutex> lock(mutex);
        answer = text;
        status = httpStatus;
    }
    // The body without the anti-cache suffix.
    std::string LastBody()
    {
        std::string body = srv.Last().body;
        std::smatch m;
        EXPECT_TRUE(std::regex_search(body, m, std::regex("&FundSN=[0-9]{1,5}$"))) << body;
        return body.substr(0, body.size() - m.length(0));
    }

    LoopbackServer srv;
    CommandContext ctx;
    std::mutex mutex;
    std::string answer;
    int status = 200;
};

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
    Answer("<Ret>0</Ret><Msg>" + Utf8ToGbk("12|小明|a@x.cn|2020-01-01|2027-01-01|5|9|2024-01-05|k=v") + "</Msg>");
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
