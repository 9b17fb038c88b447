// Command bodies straight into the command service, logged in, so every
// command's field reading runs on hostile data. Bodies that start with
// "LoginID" go to the favourite-folder request instead; bodies that start
// with "data:" go to the data web service and the quote site: the next
// character picks the query (1 holdings, 2 calculation, 3 splits, 4 quote)
// and the rest, split at the first "&", gives its parameters.
#include <cstdint>
#include <filesystem>
#include <string>

#include "CommandService.h"
#include "DataWebService.h"
#include "net/CommandProtocol.h"
#include "common/Clock.h"

using namespace vextal;

namespace {

struct Service {
    CMarketSimulator market{MarketOptions{3, 60}};
    CUserStore users;
    CCommandService commands{market, users, "3.25"};
    CDataWebService dataService{market};
    std::string loginId;
    std::string dir;

    Service()
    {
        Clock::Fix(OleDate::FromParts(2024, 10, 9, 10, 30, 0));
        char tmpl[] = "/tmp/fuzz-service-XXXXXX";
        dir = mkdtemp(tmpl);
        std::string error;
        users.Open(dir + "/plindo.db", error);
        ServiceUser demo;
        users.FindByName("demo", demo);
        loginId = users.CreateSession(demo, Clock::Now());
    }
    ~Service() { std::filesystem::remove_all(dir); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Service service;
    std::string body(reinterpret_cast<const char*>(data), size);
    if (body.rfind("data:", 0) == 0 && body.size() > 5) {
        const char which = body[5];
        std::string rest = body.substr(6);
        size_t amp = rest.find('&');
        std::string first = rest.substr(0, amp), second = amp == std::string::npos ? "" : rest.substr(amp + 1);
        std::string answer;
        if (which == '4') {
            std::vector<std::string> fields;
            if (service.dataService.QuotePage(first, answer) && (SplitFields(answer, ",", fields), fields.size() != 39))
                __builtin_trap();
            return 0;
        }
        answer = which == '1'   ? service.dataService.FundInvestInfo(first)
                 : which == '2' ? service.dataService.CalcResult(first, second)
                                : service.dataService.SplitInfo(first, std::atoi(second.c_str()));
        if (answer.find("<ArrayOf") == std::string::npos) __builtin_trap();
        return 0;
    }
    if (body.rfind("LoginID", 0) == 0) {
        std::string code = service.commands.FolderRequest(body + "&LoginID=" + service.loginId);
        if (code.empty() || (code[0] != '-' && code[0] != '0')) __builtin_trap();
        return 0;
    }
    // Half the inputs keep a valid session, so the commands behind the login run.
    if (size > 0 && data[0] % 2 == 0) body += "&loginid=" + service.loginId;
    std::string answer = service.commands.HandleBody(body);
    // Cancellation answers in the <result> form, every other command with Ret.
    if (answer.find("<Ret>") == std::string::npos && answer.find("<result>") == std::string::npos) __builtin_trap();
    return 0;
}
