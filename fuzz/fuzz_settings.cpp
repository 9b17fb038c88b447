// The settings reader on arbitrary file content: LoadSettings never crashes,
// parsing keeps the text byte for byte, and writing one key reads back and
// leaves the other sections' values as they were.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/IniFile.h"
#include "app/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string content = size ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    vextal::CProfileText ini(content);
    if (ini.Text() != content) std::abort();

    vextal::CSettings settings;
    vextal::LoadSettings(settings, ini);
    if (settings.fundIdList.empty() || settings.fundId.empty()) std::abort();
    if (settings.fundId.size() > 7 || settings.proxy.ip.size() > 31) std::abort();
    if (settings.serverUrl.empty() || settings.serverUrl.back() != '/') std::abort();
    if (settings.serverList.size() != 2) std::abort();

    // Write a value made of the input's first bytes into Show, and check it.
    std::string value = content.substr(0, 24);
    std::string expected = value.substr(0, value.find('\0'));
    for (char& c : expected)
        if (c == '\r' || c == '\n') c = ' ';
    auto proxyBefore = ini.Find("Proxy", "Password");
    auto loginBefore = ini.Find("Login", "ServerURL");
    if (!ini.SetString("Show", "FundIDList", value)) std::abort();
    vextal::CProfileText again(ini.Text());
    auto read = again.Find("show", "fundidlist");
    if (!read || *read != expected) std::abort();
    if (again.Find("Proxy", "Password") != proxyBefore) std::abort();
    if (again.Find("Login", "ServerURL") != loginBefore) std::abort();
    vextal::LoadSettings(settings, again);
    return 0;
}
