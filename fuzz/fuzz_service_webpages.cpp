// Query strings and form bodies straight into the web site pages. The first
// byte picks the page (and, by its top bit, a form post); the rest is the
// query, "key=value" pairs joined by "&". Half the inputs carry a valid
// login. Every answer is a whole page, and no input text comes back as
// markup: a "<script" in the answer is a fault.
#include <cstdint>
#include <filesystem>
#include <string>

#include "CommandService.h"
#include "WebPages.h"
#include "common/Clock.h"
#include "common/Format.h"

using namespace vextal;

namespace {

struct Site {
    CMarketSimulator market{MarketOptions{3, 60}};
    CUserStore users;
    std::string loginId;
    int userId = 0;
    std::string dir;
    CWebPages* pages = nullptr;

    Site()
    {
        Clock::Fix(OleDate::FromParts(2024, 10, 9, 10, 30, 0));
        char tmpl[] = "/tmp/fuzz-webpages-XXXXXX";
        dir = mkdtemp(tmpl);
        std::string error;
        users.Open(dir + "/plindo.db", error);
        ServiceUser demo;
        users.FindByName("demo", demo);
        userId = demo.userId;
        loginId = users.CreateSession(demo, Clock::Now());
        pages = new CWebPages(market, users);
    }
    ~Site()
    {
        delete pages;
        std::filesystem::remove_all(dir);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Site site;
    if (size == 0) return 0;
    const auto& paths = CWebPages::Paths();
    const std::string& path = paths[data[0] % paths.size()];
    const bool post = (data[0] & 0x80) != 0;
    PageParams params;
    for (const std::string& pair : SplitText(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), '&')) {
        size_t eq = pair.find('=');
        params.emplace(FormDecode(pair.substr(0, eq)), eq == std::string::npos ? "" : FormDecode(pair.substr(eq + 1)));
    }
    if (data[0] & 0x40) {
        params.emplace("loginid", site.loginId);
        params.emplace("userid", std::to_string(site.userId));
    }
    std::string html;
    if (!site.pages->Page(path, params, post, html)) __builtin_trap();
    if (html.rfind("<!DOCTYPE html>", 0) != 0 || html.find("</html>") == std::string::npos) __builtin_trap();
    if (html.find("<script") != std::string::npos) __builtin_trap();
    return 0;
}
