#pragma once
// The settings of Vextal.ini: the settings mirror that the document owns,
// the loader with every key, default, buffer size and rule, and the
// write-backs.
#include <cstdint>
#include <string>
#include <vector>

#include "app/IniFile.h"
#include "common/NumberInput.h"
#include "net/CommandProtocol.h"

namespace vextal {

// Built-in addresses. The service host is a build setting
// (VEXTAL_SERVICE_HOST, default the local plindo-serve "127.0.0.1:8610");
// the web site host likewise (VEXTAL_WEBSITE_HOST, default "plindo.example").
std::string DefaultServerUrl();      // "http://" + service host + "/"
std::string DefaultWebSiteUrl();     // "http://www." + web site host + "/"
inline constexpr const char* kClientServicePath = "plindo/client/ClientService.asmx/";

// Keys, defaults and buffer sizes.
namespace ini {
inline constexpr const char* kShow = "Show";
inline constexpr const char* kProxy = "Proxy";
inline constexpr const char* kLogin = "Login";
inline constexpr const char* kColumnWidth = "ColumnWidth";
inline constexpr const char* kSort = "Sort";

inline constexpr size_t kIntBuffer = 8;       // the Show integers, Port
inline constexpr size_t kFlagBuffer = 4;      // Enable, LoginFlag, the Sort keys
inline constexpr size_t kHighLightBuffer = 8;
inline constexpr size_t kFundIdListBuffer = 56;
inline constexpr size_t kFundIdBuffer = 8;
inline constexpr size_t kProxyIpBuffer = 32;
inline constexpr size_t kProxyUserBuffer = 16;
inline constexpr size_t kPasswordBuffer = 48;  // both enciphered passwords
inline constexpr size_t kUrlBuffer = 128;      // ServerURL, DataServerURL
inline constexpr size_t kNameBuffer = 32;

inline constexpr const char* kDefaultHighLight = "#DCDCDC";
inline constexpr uint32_t kDefaultHighLightColour = 0xDCDCDC;  // 0x00BBGGRR
inline constexpr int kDefaultProxyPort = 8080;
inline constexpr const char* kDefaultFundId = "000001";
inline constexpr const char* kDefaultFundList1 = "000001";
inline constexpr const char* kDefaultFundList2 = "000011";

// Visible columns of the configurable lists when the key is empty.
inline constexpr const char* kDefaultAccountItem = "10|11|12|13|15|16|17|18|19|21|22|23";
inline constexpr const char* kDefaultFundItem = "10|11|13|14|15|17|18|19|20|23|25|29";
inline constexpr const char* kDefaultNewValueItem = "10|11|12|13|14|15|16|18|19|20|21|22|23|30";
}  // namespace ini

// The proxy port as the options dialog and the settings file read it.
NumberRule ProxyPortRule();

struct CProxySettings {
    int enable = 0;
    std::string ip;
    int port = 0;           // the loader's default is 8080
    std::string userName;
    std::string password;   // plain text in memory; enciphered in the file
};

// The settings mirror and server addresses of the document, with
// their values before loading.
struct CSettings {
    // Section Show
    int fundShowType = 0;
    int listItemSize = 1;
    int showThousand = 0;
    int fundView = 0;
    int showNew = 0;
    uint32_t highLight = ini::kDefaultHighLightColour;  // 0x00BBGGRR, as a Windows COLORREF
    int fundZeroHide = 0;
    int showRealtimeFlag = 0;
    std::vector<std::string> fundIdList;  // "自选基金"
    std::string fundId = ini::kDefaultFundId;

    // Section Proxy (the document copies it into the transport's process-wide values)
    CProxySettings proxy;

    // Server addresses
    std::string defaultServerUrl = DefaultServerUrl();  // the built-in service address
    std::string webSiteUrl = DefaultWebSiteUrl();
    std::string serverUrl = defaultServerUrl;
    std::string clientServiceUrl = defaultServerUrl + "plindo/client/clientservice.asmx/";
    std::string commandUrl = defaultServerUrl + kCommandPath;
    std::string dataServerUrl;
    std::vector<std::string> serverList;
};

// Show keys, FundIDList, FundID, Proxy, ServerURL, DataServerURL, the
// "http://www." replacement and the server list, in that order (the row
// images and list font are the document's UI side). The server
// addresses start from what `settings` holds, so a caller may set the
// built-in defaults first.
void LoadSettings(CSettings& settings, const std::string& iniPath = DefaultIniPath());
void LoadSettings(CSettings& settings, const CProfileText& ini);

// "#RRGGBB" (exactly 7 characters) → 0x00BBGGRR; each pair is read as its
// leading hexadecimal digits (none gives 0). Any other text → `current`.
uint32_t ParseHighLight(const std::string& text, uint32_t current);
std::string FormatHighLight(uint32_t colour);  // "#RRGGBB"
// Split at "|", empty pieces skipped; no code gives 000001 and 000011.
std::vector<std::string> ParseFundIdList(const std::string& text);

// --- write-backs ----------------------------------------------------------

// The display page of the options dialog: FundShowType,
// ListItemSize, FundView, HighLight, FundZeroHide, ShowNew, ShowThousand.
bool SaveShowSettings(const CSettings& settings, const std::string& iniPath = DefaultIniPath());
// The proxy page: Enable, IP, Port, UserName and Password, the password
// enciphered with EncryptText and the cipher key (never in plain text).
bool SaveProxySettings(const CProxySettings& proxy, const std::string& iniPath = DefaultIniPath());

// Section Login as the login dialog reads it; the password deciphered.
struct CLoginSettings {
    std::string name;
    std::string password;
    int loginFlag = 0;
};
CLoginSettings ReadLoginSettings(const std::string& iniPath = DefaultIniPath());
// `text` (UTF-8) cut to what a buffer of `buffer` GBK bytes held: at most
// buffer - 1 bytes in GBK, never in the middle of a character.
std::string CutToGbkBuffer(const std::string& text, size_t buffer);
// After a successful login: Name, ServerURL, Password (enciphered, or empty
// when not remembered) and LoginFlag ("%d" of the offline flag).
bool SaveLoginSettings(const std::string& name, const std::string& serverUrl, const std::string& password,
                       bool rememberPassword, int offlineFlag, const std::string& iniPath = DefaultIniPath());

// AccountPanel (default 1), written "%d" on close and by the panel toggle.
int ReadAccountPanel(const std::string& iniPath = DefaultIniPath());
bool WriteAccountPanel(int shown, const std::string& iniPath = DefaultIniPath());

// FundIDList written back as the codes joined by "|".
bool WriteFundIdList(const std::vector<std::string>& codes, const std::string& iniPath = DefaultIniPath());

// AccountItem / FundItem / NewValueItem: an empty value is replaced by the
// default, which is written to the file at once.
std::string ReadVisibleColumns(const std::string& key, const std::string& def,
                               const std::string& iniPath = DefaultIniPath());
bool WriteVisibleColumns(const std::string& key, const std::vector<int>& ids,
                         const std::string& iniPath = DefaultIniPath());

// Section ColumnWidth: widths by list name, each "%d", joined by "|".
std::vector<int> ReadColumnWidths(const std::string& listName, const std::string& iniPath = DefaultIniPath());
bool WriteColumnWidths(const std::string& listName, const std::vector<int>& widths,
                       const std::string& iniPath = DefaultIniPath());

// Section Sort: SortItemA/B/C and SortA/B/C.
struct CSortSettings {
    int item[3] = {0, 0, 0};
    int descending[3] = {0, 0, 0};
};
CSortSettings ReadSortSettings(const std::string& iniPath = DefaultIniPath());
bool WriteSortSettings(const CSortSettings& sort, const std::string& iniPath = DefaultIniPath());

// Section Curve: the chart colours of the curve colour dialog, each
// "#RRGGBB" like HighLight (0x00BBGGRR in memory). A key that is missing or
// not a colour keeps the chart's default.
namespace ini {
inline constexpr const char* kCurve = "Curve";
inline constexpr int kCurveCount = 16;
}  // namespace ini
struct CCurveColours {
    uint32_t axis = 0x0000FF;        // pen of the plot frame
    uint32_t text = 0x000000;        // dates and header
    uint32_t plot = 0xFFFFFF;        // plot area
    uint32_t background = 0xDEEFFF;  // RGB 255,239,222: the whole chart
    uint32_t grid = 0xC0C0C0;
    uint32_t series[ini::kCurveCount] = {0x0000FF, 0xFF0000, 0x00FF00, 0x005000, 0x000000, 0xCECF00,
                                         0xCE309C, 0xFF00FF, 0x009A63, 0x008080, 0x505000, 0xFFFF00,
                                         0x500000, 0x500050, 0x0080FF, 0x000050};
};
// Keys AxisColor, TextColor, PlotColor, BackColor, GridColor, CurveColor1..16.
CCurveColours ReadCurveColours(const std::string& iniPath = DefaultIniPath());
bool WriteCurveColours(const CCurveColours& colours, const std::string& iniPath = DefaultIniPath());

}  // namespace vextal
