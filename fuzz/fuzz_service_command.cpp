// Command bodies straight into the command service, logged in, so every
// command's field reading runs on hostile data.
#include <cstdint>
#include <filesystem>
#include <string>

#include "CommandService.h"
#include "common/Clock.h"

using namespace vextal;

namespace {

struct Service {
    CMarketSimulator market{MarketOptions{3, 60}};
    CUserStore users;
    CCommandService commands{market, users, "3.25"};
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
    // Half the inputs keep a valid session, so the commands behind the login run.
    if (size > 0 && data[0] % 2 == 0) body += "&loginid=" + service.loginId;
    std::string answer = service.commands.HandleBody(body);
    if (answer.find("<Ret>") == std::string::npos) __builtin_trap();
    return 0;
}
