#include <gtest/gtest.h>

#include <regex>

#include "LoopbackServer.h"
#include "net/Cipher.h"
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

TEST_F(CommandsTest, LatestValueSuccessRefusalAndFormatErrors)
{
    Answer("<Ret>0</Ret><Msg>000001|2024-01-05|1.0500|3.2100|0.52</Msg>");
    CommandReply r = SendLatestValue(ctx, "000001");
    EXPECT_EQ(LastBody(), "cmdtype=2&cmdid=22&data=000001&loginid=u1");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.fields, (std::vector<std::string>{"000001", "2024-01-05", "1.0500", "3.2100", "0.52"}));

    // Four fields: the caller's operation names the format error.
    Answer("<Ret>0</Ret><Msg>000001|2024-01-05|1.0500|3.2100</Msg>");
    r = SendLatestValue(ctx.For("GetFundNewValueFormServer"), "000001");
    EXPECT_EQ(r.status, CommandStatus::BadFormat);
    EXPECT_EQ(r.error, "GetFundNewValueFormServer():数据格式错误");
    // Ret 0 without any Msg element is a missing payload.
    Answer("<Ret>0</Ret>");
    r = SendLatestValue(ctx, "000001");
    EXPECT_EQ(r.error, "SendLatestValue():数据格式错误");

    // "-2": the service's GBK text comes back as UTF-8.
    Answer("<Ret>-2</Ret><Msg>\xbb\xf9\xbd\xf0\xb2\xbb\xb4\xe6\xd4\xda</Msg>");  // 基金不存在
    r = SendLatestValue(ctx, "000001");
    EXPECT_EQ(r.status, CommandStatus::Refused);
    EXPECT_EQ(r.ret, -2);
    EXPECT_EQ(r.error, "基金不存在");
    // A missing Ret is a refusal too.
    Answer("<Msg>000001|2024-01-05|1.0500|3.2100|0.52</Msg>");
    EXPECT_EQ(SendLatestValue(ctx, "000001").status, CommandStatus::Refused);

    // A page that is not the service's answer, and transport failures.
    RawAnswer("<html><body>portal login</body></html>");
    EXPECT_EQ(SendLatestValue(ctx, "000001").error, "SendLatestValue():数据格式错误");
    RawAnswer("server error", 500);
    r = SendLatestValue(ctx, "000001");
    EXPECT_EQ(r.status, CommandStatus::SendFailed);
    EXPECT_EQ(r.error, "发送请求错误，请检查网络是否可用");
    EXPECT_EQ(SendLogin(ctx, "a", "b", "3.25").error, "发送请求错误");
}

TEST_F(CommandsTest, BodiesCarryTheFieldsInWireForm)
{
    Answer("<Ret>0</Ret><Msg>2024-01-02|1.0000|1.0000|0|0</Msg>");
    SendFundHistory(ctx, "000001", OleDate::FromParts(2024, 1, 2, 9, 30), OleDate::FromParts(2024, 3, 4), 1);
    EXPECT_EQ(LastBody(), "cmdtype=2&cmdid=11&data=000001|2024-01-02|2024-03-04|1&loginid=u1");

    Answer("<Ret>0</Ret><Msg>1.0500|2024-01-05</Msg>");
    CommandReply r = SendTradeValue(ctx, "000001", OleDate::FromParts(2024, 1, 5, 14, 30));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(LastBody(), "cmdtype=2&cmdid=21&data=000001|2024-01-05 14:30:00&loginid=u1");

    SendDividendQuery(ctx, "161005", OleDate::FromParts(2023, 1, 1), OleDate::FromParts(2024, 1, 1), 1234.567f, 1);
    EXPECT_EQ(LastBody(), "cmdtype=2&cmdid=13&data=161005|2023-01-01|2024-01-01|1234.57|1&loginid=u1");

    SendClassValues(ctx, 5, "NO17");
    EXPECT_EQ(LastBody(), "cmdtype=2&cmdid=1&data=NO17&loginid=u1");
    SendClassValues(ctx, 3, "");
    EXPECT_EQ(LastBody(), "cmdtype=2&cmdid=3&data=&loginid=u1");
    SendCompanyList(ctx);
    EXPECT_EQ(LastBody(), "cmdtype=1&cmdid=1&data=&loginid=u1");
    SendValueCache(ctx, {"000001", "110022"});
    EXPECT_EQ(LastBody(), "cmdtype=2&cmdid=25&data=000001|110022&loginid=u1");
    SendBookUpload(ctx, "_A_|1|x", true);
    EXPECT_EQ(LastBody(), "cmdtype=4&cmdid=7&data=_A_|1|x&loginid=u1");

    // Registration: no login id; GBK on the wire; "&", "+", "%" cannot end
    // or alter the form value; the password enciphered and escaped.
    SendRegister(ctx, "张三", "a+b@x.cn", "A&B%", "pw+1");
    std::string expected = "cmdtype=3&cmdid=3&data=" + Utf8ToGbk("张三") + "|a%2Bb@x.cn|A%26B%25|" +
                           UrlEncode(EncryptText("pw+1", kCipherKey)) + "&loginid=";
    EXPECT_EQ(LastBody(), expected);
    // The service's form decoding gives back the original values.
    httplib::Params params;
    httplib::detail::parse_query_text(srv.Last().body, params);
    std::vector<std::string> fields;
    SplitFields(params.find("data")->second, "|", fields);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(GbkToUtf8(fields[0]), "张三");
    EXPECT_EQ(fields[1], "a+b@x.cn");
    EXPECT_EQ(fields[2], "A&B%");
    EXPECT_EQ(DecryptText(fields[3], kCipherKey), "pw+1");
    EXPECT_EQ(params.find("loginid")->second, "");
}

TEST_F(CommandsTest, EncipheredPayloadsAndLogin)
{
    // 2/24: Msg2 deciphered, then GBK to UTF-8; Msg stays plain.
    std::string payload = Utf8ToGbk("000001|2024-01-05|1.0500|3.2100|0.52");
    Answer("<Ret>0</Ret><Msg>\xd5\xfd\xb3\xa3</Msg><Msg2>" + EncryptText(payload, kCipherKey) + "</Msg2>");  // 正常
    CommandReply r = SendRealtimeValue(ctx, "000001");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.msg, "正常");
    EXPECT_EQ(r.fields.size(), 5u);
    EXPECT_EQ(r.fields[4], "0.52");
    // Missing Msg2 is a format error even with Ret 0.
    Answer("<Ret>0</Ret><Msg>x</Msg>");
    EXPECT_EQ(SendRealtimeValue(ctx.For("GetRealtimeValueFormServer"), "000001").error,
              "GetRealtimeValueFormServer():数据格式错误");

    // 2/13: Msg deciphered, groups of four.
    Answer("<Ret>0</Ret><Msg>" + EncryptText("0.0500|2024-01-02|2024-01-03|2024-01-04", kCipherKey) +
           "</Msg><Msg2></Msg2>");
    r = SendDividendQuery(ctx, "161005", OleDate::FromParts(2023, 1, 1), OleDate::FromParts(2024, 1, 1), 10, 0);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.fields[0], "0.0500");

    // 2/23 wants exactly two fields.
    Answer("<Ret>0</Ret><Msg>1.5|2.5|3.5</Msg><Msg2></Msg2>");
    EXPECT_FALSE(SendIntervalFigures(ctx, "000001", OleDate::FromParts(2024, 1, 1), OleDate::FromParts(2024, 2, 1)).ok());

    // Login: name, enciphered password, version; the ServerID is the new login id.
    std::string msg = Utf8ToGbk("12|小明|a@x.cn|2020-01-01|2027-01-01|5|9|2024-01-05|k=v");
    Answer("<Ret>0</Ret><Msg>" + msg + "</Msg><ServerID>3f9ac21e-1</ServerID>");
    CommandContext anon{ctx.commandUrl, "", ""};
    r = SendLogin(anon, "小明", "secret", "3.25");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(LastBody(), "cmdtype=3&cmdid=1&data=" + Utf8ToGbk("小明") + "|" +
                              UrlEncode(EncryptText("secret", kCipherKey)) + "|3.25&loginid=");
    EXPECT_EQ(r.serverId, "3f9ac21e-1");
    EXPECT_EQ(r.fields[1], "小明");
    Answer("<Ret>0</Ret><Msg>" + msg + "</Msg>");
    EXPECT_EQ(SendLogin(anon.For("Login"), "a", "b", "3.25").error, "Login():数据格式错误");

    // 4/15 answers with <result>.
    RawAnswer("<result><code>0</code><msg>ok</msg></result>");
    EXPECT_TRUE(SendTradeCancel(ctx, 42).ok());
    EXPECT_EQ(LastBody(), "cmdtype=4&cmdid=15&data=42&loginid=u1");
    RawAnswer("<result><code>-3</code><msg>\xca\xa7\xb0\xdc</msg></result>");  // 失败
    r = SendTradeCancel(ctx, 42);
    EXPECT_EQ(r.status, CommandStatus::Refused);
    EXPECT_EQ(r.error, "失败");
}
