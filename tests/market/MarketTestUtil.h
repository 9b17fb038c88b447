#pragma once
// A database file of the program's schema and a loopback client service
// whose answers the test sets per command.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <regex>

#include "common/Clock.h"
#include "db/DbTestUtil.h"
#include "net/Cipher.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/LoopbackServer.h"
#include "support/DirectHttp.h"

namespace vextal::test {

class MarketTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        UseDirectHttp(10);
        MakeDatabase(db);
        srv.Post("/plindo/client/ClientService.asmx/SendCommand",
                 [this](const httplib::Request& req, httplib::Response& res) {
                     std::lock_guard<std::mutex> lock(mutex);
                     std::string key = req.get_param_value("cmdtype") + "/" + req.get_param_value("cmdid");
                     auto it = answers.find(key);
                     res.set_content(it == answers.end() ? Wrap("<Ret>-1</Ret><Msg>unknown</Msg>") : it->second,
                                     "text/xml");
                 });
        srv.Start();
        ctx.commandUrl = MakeCommandUrl(srv.Base());
        ctx.loginId = "u1";
    }
    void TearDown() override
    {
        Clock::Release();
        SetHttpConfig({});
        TempDirTest::TearDown();
    }

    // The service speaks GBK.
    static std::string Wrap(const std::string& inner)
    {
        return "<?xml version=\"1.0\"?>\r\n<CommandResult xmlns=\"" + std::string(kCommandNamespace) + "\">" +
               Utf8ToGbk(inner) + "</CommandResult>";
    }
    // cmd is "type/id"; the answer to a plain Msg command.
    void AnswerMsg(const std::string& cmd, const std::string& msg, int ret = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        answers[cmd] = Wrap("<Ret>" + std::to_string(ret) + "</Ret><Msg>" + msg + "</Msg>");
    }
    // A latest-value answer: Msg plain, Msg2 the enciphered records.
    void AnswerValues(const std::string& cmd, const std::string& msg, const std::string& plainMsg2)
    {
        std::lock_guard<std::mutex> lock(mutex);
        answers[cmd] = Wrap("<Ret>0</Ret><Msg>" + msg + "</Msg><Msg2>" + EncryptText(plainMsg2, kCipherKey) +
                            "</Msg2>");
    }
    // Bodies of the requests of one command ("type/id"), without the suffix.
    std::vector<std::string> Sent(const std::string& cmd)
    {
        std::vector<std::string> out;
        std::string type = cmd.substr(0, cmd.find('/')), id = cmd.substr(cmd.find('/') + 1);
        std::string prefix = "cmdtype=" + type + "&cmdid=" + id + "&";
        for (const SeenRequest& r : srv.Seen())
            if (r.body.rfind(prefix, 0) == 0) out.push_back(std::regex_replace(r.body, std::regex("&FundSN=.*$"), ""));
        return out;
    }
    int Count(const std::string& sql) { return db.GetRecordCount(sql); }

    CAdoDatabase db;
    LoopbackServer srv;
    CommandContext ctx;
    std::mutex mutex;
    std::map<std::string, std::string> answers;
};

// One 20-field latest-value record, its code enciphered.
inline std::string ValueRecord(const std::string& date, const std::string& code, float nav, float week = 0.5f,
                               float total = 12.5f)
{
    return date + "|" + EncryptText(code, kCipherKey) + "|" + StrFormat("%0.4f", nav) + "|" +
           StrFormat("%0.4f", nav + 1) + "|1.25|0.0120|" + StrFormat("%0.2f", week) +
           "|2.00|3.10|4.20|5.30|6.40|7.50|8.60|9.70|10.80|" + StrFormat("%0.2f", total) + "|22|44|" +
           StrFormat("%0.4f", nav + 2);
}

}  // namespace vextal::test
