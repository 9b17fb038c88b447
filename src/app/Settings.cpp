#include "app/Settings.h"

#include <algorithm>
#include <climits>

#include "common/Format.h"
#include "net/Cipher.h"
#include "net/Encoding.h"

#ifndef VEXTAL_SERVICE_HOST
#define VEXTAL_SERVICE_HOST "127.0.0.1:8610"
#endif
#ifndef VEXTAL_WEBSITE_HOST
#define VEXTAL_WEBSITE_HOST "plindo.example"
#endif

namespace vextal {
namespace {

std::string WithSlash(std::string url)
{
    if (url.empty() || url.back() != '/') url += '/';
    return url;
}

// Leading hexadecimal digits of a piece; none gives 0.
unsigned HexPrefix(std::string_view s)
{
    unsigned v = 0;
    for (char c : s) {
        unsigned d;
        if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
        else break;
        v = v * 16 + d;
    }
    return v;
}

std::string JoinInts(const std::vector<int>& values)
{
    std::string out;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) out += '|';
        out += StrFormat("%d", values[i]);
    }
    return out;
}

// An integer key through the one number reader: a value that is no whole
// number within the key's range ("abc", "1x", 7 for a choice of 0 to 3) is
// the key's default, not whatever its leading digits say.
int SettingInt(const CProfileText& f, const char* section, const char* key, int def, size_t buffer, int min = INT_MIN,
               int max = INT_MAX)
{
    const NumberReading r = ReadNumberInput(f.GetString(section, key, StrFormat("%d", def), buffer),
                                            {key, static_cast<double>(min), static_cast<double>(max), 0});
    return r.ok() ? static_cast<int>(r.value) : def;
}

}  // namespace

NumberRule ProxyPortRule() { return {"端口", 1, 65535, 0}; }

std::string CutToGbkBuffer(const std::string& text, size_t buffer)
{
    // The buffer held GBK text: one byte per ASCII character, two per other
    // character; a character that does not fit is left out whole.
    size_t used = 0, end = 0;
    while (end < text.size()) {
        const auto lead = static_cast<unsigned char>(text[end]);
        const size_t bytes = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        const size_t gbk = lead < 0x80 ? 1 : Utf8ToGbk(text.substr(end, bytes)).size() == 2 ? 2 : 1;
        if (used + gbk > buffer - 1) break;
        used += gbk;
        end += bytes;
    }
    return text.substr(0, std::min(end, text.size()));
}

std::string DefaultServerUrl()
{
    return "http://" VEXTAL_SERVICE_HOST "/";
}

std::string DefaultWebSiteUrl()
{
    return "http://www." VEXTAL_WEBSITE_HOST "/";
}

uint32_t ParseHighLight(const std::string& text, uint32_t current)
{
    // Characters 2-3, 4-5 and 6-7 of a 7-character text; a text of any other
    // length (with or without "#") keeps the colour.
    if (text.size() != 7) return current;
    std::string_view s(text);
    uint32_t r = HexPrefix(s.substr(1, 2));
    uint32_t g = HexPrefix(s.substr(3, 2));
    uint32_t b = HexPrefix(s.substr(5, 2));
    return r | (g << 8) | (b << 16);
}

std::string FormatHighLight(uint32_t colour)
{
    return StrFormat("#%02X%02X%02X", colour & 0xFFu, (colour >> 8) & 0xFFu, (colour >> 16) & 0xFFu);
}

std::vector<std::string> ParseFundIdList(const std::string& text)
{
    std::vector<std::string> list;
    for (std::string& piece : SplitText(text, '|'))
        if (!piece.empty()) list.push_back(std::move(piece));
    if (list.empty()) {
        list.push_back(ini::kDefaultFundList1);
        list.push_back(ini::kDefaultFundList2);
    }
    return list;
}

void LoadSettings(CSettings& s, const CProfileText& f)
{
    using namespace ini;
    // 1. The Show integers and HighLight.
    s.fundShowType = SettingInt(f, kShow, "FundShowType", 0, kIntBuffer, 0, 3);
    s.listItemSize = SettingInt(f, kShow, "ListItemSize", 1, kIntBuffer, 0, 1);
    s.showThousand = SettingInt(f, kShow, "ShowThousand", 0, kIntBuffer);
    s.fundView = SettingInt(f, kShow, "FundView", 0, kIntBuffer, 0, 2);
    s.showNew = SettingInt(f, kShow, "ShowNew", 1, kIntBuffer);
    s.highLight = ParseHighLight(f.GetString(kShow, "HighLight", kDefaultHighLight, kHighLightBuffer), s.highLight);
    s.fundZeroHide = SettingInt(f, kShow, "FundZeroHide", 0, kIntBuffer);
    s.showRealtimeFlag = SettingInt(f, kShow, "ShowRealtimeFlag", 0, kIntBuffer);
    // 2. FundIDList, cut to 55 characters by its buffer before it is split.
    s.fundIdList = ParseFundIdList(f.GetString(kShow, "FundIDList", "", kFundIdListBuffer));
    // 3. FundID.
    s.fundId = f.GetString(kShow, "FundID", "", kFundIdBuffer);
    if (s.fundId.empty()) s.fundId = kDefaultFundId;
    // 4. (Row images and the list font: the document's UI side.)
    // 5. Proxy; the password deciphered.
    s.proxy.enable = SettingInt(f, kProxy, "Enable", 0, kFlagBuffer);
    s.proxy.ip = f.GetString(kProxy, "IP", "", kProxyIpBuffer);
    s.proxy.port = SettingInt(f, kProxy, "Port", kDefaultProxyPort, kIntBuffer, 1, 65535);
    // A proxy without an address would fail every request: read as off.
    if (s.proxy.ip.empty()) s.proxy.enable = 0;
    s.proxy.userName = f.GetString(kProxy, "UserName", "", kProxyUserBuffer);
    s.proxy.password = DecryptText(f.GetString(kProxy, "Password", "", kPasswordBuffer), kCipherKey);
    // 6. ServerURL.
    std::string server = f.GetString(kLogin, "ServerURL", "", kUrlBuffer);
    if (!server.empty()) {
        s.serverUrl = WithSlash(server);
        s.clientServiceUrl = s.serverUrl + kClientServicePath;
        s.commandUrl = s.serverUrl + kCommandPath;
    }
    // 7. DataServerURL.
    std::string data = f.GetString(kLogin, "DataServerURL", "", kUrlBuffer);
    s.dataServerUrl = data.empty() ? s.serverUrl : WithSlash(data);
    // 8. A web-site address is never kept as the server URL (the command URLs
    //    and the data server URL built above stay as they are).
    if (s.serverUrl.find("http://www.") != std::string::npos) s.serverUrl = s.defaultServerUrl;
    // 9. The server list.
    s.serverList = {s.serverUrl, s.webSiteUrl};
}

void LoadSettings(CSettings& settings, const std::string& iniPath)
{
    CProfileText f;
    ReadProfileFile(iniPath, f);  // unreadable: every key takes its default
    LoadSettings(settings, f);
}

bool SaveShowSettings(const CSettings& s, const std::string& iniPath)
{
    using namespace ini;
    return WriteIniEntries({{kShow, "FundShowType", StrFormat("%d", s.fundShowType)},
                            {kShow, "ListItemSize", StrFormat("%d", s.listItemSize)},
                            {kShow, "FundView", StrFormat("%d", s.fundView)},
                            {kShow, "HighLight", FormatHighLight(s.highLight)},
                            {kShow, "FundZeroHide", StrFormat("%d", s.fundZeroHide)},
                            {kShow, "ShowNew", StrFormat("%d", s.showNew)},
                            {kShow, "ShowThousand", StrFormat("%d", s.showThousand)}},
                           iniPath);
}

bool SaveProxySettings(const CProxySettings& p, const std::string& iniPath)
{
    using namespace ini;
    return WriteIniEntries({{kProxy, "Enable", StrFormat("%d", p.enable)},
                            {kProxy, "IP", p.ip},
                            {kProxy, "Port", StrFormat("%d", p.port)},
                            {kProxy, "UserName", p.userName},
                            {kProxy, "Password", EncryptText(p.password, kCipherKey)}},
                           iniPath);
}

CLoginSettings ReadLoginSettings(const std::string& iniPath)
{
    using namespace ini;
    CProfileText f;
    ReadProfileFile(iniPath, f);
    CLoginSettings l;
    l.name = CutToGbkBuffer(f.GetString(kLogin, "Name", "", kIniNoLimit), kNameBuffer);
    l.password = DecryptText(f.GetString(kLogin, "Password", "", kPasswordBuffer), kCipherKey);
    l.loginFlag = SettingInt(f, kLogin, "LoginFlag", 0, kFlagBuffer);
    return l;
}

bool SaveLoginSettings(const std::string& name, const std::string& serverUrl, const std::string& password,
                       bool rememberPassword, int offlineFlag, const std::string& iniPath)
{
    using namespace ini;
    return WriteIniEntries({{kLogin, "Name", name},
                            {kLogin, "ServerURL", serverUrl},
                            {kLogin, "Password", rememberPassword ? EncryptText(password, kCipherKey) : ""},
                            {kLogin, "LoginFlag", StrFormat("%d", offlineFlag)}},
                           iniPath);
}

int ReadAccountPanel(const std::string& iniPath)
{
    CProfileText f;
    ReadProfileFile(iniPath, f);
    return SettingInt(f, ini::kShow, "AccountPanel", 1, ini::kIntBuffer);
}

bool WriteAccountPanel(int shown, const std::string& iniPath)
{
    return WriteIniInt(ini::kShow, "AccountPanel", shown, iniPath);
}

bool WriteFundIdList(const std::vector<std::string>& codes, const std::string& iniPath)
{
    std::string joined;
    for (size_t i = 0; i < codes.size(); ++i) {
        if (i) joined += '|';
        joined += codes[i];
    }
    return WriteShowString("FundIDList", joined, iniPath);
}

std::string ReadVisibleColumns(const std::string& key, const std::string& def, const std::string& iniPath)
{
    std::string value = ReadShowString(key, "", kIniNoLimit, iniPath);
    if (value.empty()) {
        value = def;
        WriteShowString(key, value, iniPath);
    }
    return value;
}

bool WriteVisibleColumns(const std::string& key, const std::vector<int>& ids, const std::string& iniPath)
{
    return WriteShowString(key, JoinInts(ids), iniPath);
}

std::vector<int> ReadColumnWidths(const std::string& listName, const std::string& iniPath)
{
    std::vector<int> widths;
    std::string value = ReadIniString(ini::kColumnWidth, listName, "", kIniNoLimit, iniPath);
    if (value.empty()) return widths;
    for (const std::string& piece : SplitText(value, '|')) widths.push_back(ProfileAtoi(piece));
    return widths;
}

bool WriteColumnWidths(const std::string& listName, const std::vector<int>& widths, const std::string& iniPath)
{
    return WriteIniString(ini::kColumnWidth, listName, JoinInts(widths), iniPath);
}

CSortSettings ReadSortSettings(const std::string& iniPath)
{
    using namespace ini;
    CProfileText f;
    ReadProfileFile(iniPath, f);
    CSortSettings s;
    const char* items[3] = {"SortItemA", "SortItemB", "SortItemC"};
    const char* orders[3] = {"SortA", "SortB", "SortC"};
    for (int i = 0; i < 3; ++i) {
        s.item[i] = SettingInt(f, kSort, items[i], 0, kFlagBuffer, 0, 11);
        s.descending[i] = SettingInt(f, kSort, orders[i], 0, kFlagBuffer, 0, 1);
    }
    return s;
}

bool WriteSortSettings(const CSortSettings& s, const std::string& iniPath)
{
    using namespace ini;
    return WriteIniEntries({{kSort, "SortItemA", StrFormat("%d", s.item[0])},
                            {kSort, "SortItemB", StrFormat("%d", s.item[1])},
                            {kSort, "SortItemC", StrFormat("%d", s.item[2])},
                            {kSort, "SortA", StrFormat("%d", s.descending[0])},
                            {kSort, "SortB", StrFormat("%d", s.descending[1])},
                            {kSort, "SortC", StrFormat("%d", s.descending[2])}},
                           iniPath);
}

namespace {
const char* const kCurveKeys[5] = {"AxisColor", "TextColor", "PlotColor", "BackColor", "GridColor"};
}  // namespace

CCurveColours ReadCurveColours(const std::string& iniPath)
{
    CProfileText f;
    ReadProfileFile(iniPath, f);
    CCurveColours c;
    uint32_t* fixed[5] = {&c.axis, &c.text, &c.plot, &c.background, &c.grid};
    auto read = [&f](const std::string& key, uint32_t& colour) {
        std::string text = f.GetString(ini::kCurve, key, "", ini::kHighLightBuffer);
        if (text.size() == 7 && text[0] == '#') colour = ParseHighLight(text, colour);
    };
    for (int i = 0; i < 5; ++i) read(kCurveKeys[i], *fixed[i]);
    for (int i = 0; i < ini::kCurveCount; ++i) read(StrFormat("CurveColor%d", i + 1), c.series[i]);
    return c;
}

bool WriteCurveColours(const CCurveColours& c, const std::string& iniPath)
{
    const uint32_t fixed[5] = {c.axis, c.text, c.plot, c.background, c.grid};
    std::vector<IniEntry> entries;
    for (int i = 0; i < 5; ++i) entries.push_back({ini::kCurve, kCurveKeys[i], FormatHighLight(fixed[i])});
    for (int i = 0; i < ini::kCurveCount; ++i)
        entries.push_back({ini::kCurve, StrFormat("CurveColor%d", i + 1), FormatHighLight(c.series[i])});
    return WriteIniEntries(entries, iniPath);
}

}  // namespace vextal
