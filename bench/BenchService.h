#pragma once
// plindo-serve of this build for the benchmarks that ask the real service:
// on a free loopback port, asked directly (no proxy); a benchmark whose
// service does not start ends there.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../service/ServiceProcess.h"
#include "net/ClientCommands.h"
#include "net/HttpTransport.h"

namespace vextal::bench {

class Service : public CServiceProcess {
public:
    Service(const char* bench, std::vector<std::string> args) : CServiceProcess(Direct(), std::move(args))
    {
        if (Port() > 0) return;
        std::fprintf(stderr, "%s: plindo-serve did not start\n", bench);
        std::exit(1);
    }

    // The demo member's commands; the login answer in `reply` when asked.
    CommandContext DemoLogin(CommandReply* reply = nullptr) const
    {
        CommandContext ctx;
        ctx.commandUrl = MakeCommandUrl(Base());
        CommandReply login = SendLogin(ctx, "demo", "demo123", "3.25");
        ctx.loginId = login.serverId;
        if (reply) *reply = std::move(login);
        return ctx;
    }

private:
    static std::string Direct()
    {
        HttpConfig config = GetHttpConfig();
        config.noProxy = "*";
        SetHttpConfig(config);
        return PLINDO_SERVE_PATH;
    }
};

}  // namespace vextal::bench
