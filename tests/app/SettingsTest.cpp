// The profile-file reader/writer and the settings of Vextal.ini.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/IniFile.h"
#include "app/Settings.h"
#include "db/DbTestUtil.h"
#include "net/Cipher.h"
#include "support/Files.h"

using namespace vextal;
namespace fs = std::filesystem;

namespace {

class TempHome : public test::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ini = Path("Vextal.ini");
    }

    void Put(const std::string& content) const { test::WriteWholeFile(ini, content); }
    std::string Get() const { return test::ReadWholeFile(ini); }
    CSettings Load() const
    {
        CSettings s;
        s.defaultServerUrl = "http://127.0.0.1:8610/";
        s.webSiteUrl = "http://www.plindo.example/";
        s.serverUrl = s.defaultServerUrl;
        s.clientServiceUrl = s.defaultServerUrl + "plindo/client/clientservice.asmx/";
        s.commandUrl = s.defaultServerUrl + kCommandPath;
        LoadSettings(s, ini);
        return s;
    }

    std::string ini;
};

using IniFileTest = TempHome;
using SettingsTest = TempHome;

}  // namespace

TEST_F(IniFileTest, ReadsAsTheWindowsProfileFunctions)
{
    Put("\xEF\xBB\xBF[show]\r\n"
        "  fundview = 2  \r\n"
        "; FundShowType=3\r\n"
        "FundShowType=123456789\r\n"
        "Empty=\r\n"
        "Quoted=\"  two blanks  \"\r\n"
        "Password=QUJD==\r\n"
        "NoEqualsSign\r\n"
        "Name=\xE5\xBC\xA0\xE4\xB8\x89\xE5\xBC\xA0\xE4\xB8\x89\r\n"
        "[Other]\r\n"
        "FundView=7\r\n"
        "[SHOW]\r\n"
        "FundView=9\r\n"
        "Later=1\r\n");
    // Sections and keys without regard to case; blanks and a BOM ignored.
    EXPECT_EQ(ReadIniInt("Show", "FundView", 0, 8, ini), 2);
    EXPECT_EQ(ReadShowString("FUNDVIEW", "x", 8, ini), "2");
    // Only the first section of a name counts.
    EXPECT_EQ(ReadIniString("Show", "Later", "none", 8, ini), "none");
    // Comments are no keys; the value is cut to N - 1 before atoi.
    EXPECT_EQ(ReadIniString("Show", "FundShowType", "", 8, ini), "1234567");
    EXPECT_EQ(ReadIniInt("Show", "FundShowType", 0, 8, ini), 1234567);
    EXPECT_EQ(ReadIniInt("Show", "FundShowType", 0, 4, ini), 123);
    // A present but empty key is empty, not the default (atoi gives 0).
    EXPECT_EQ(ReadIniString("Show", "Empty", "dflt", 8, ini), "");
    EXPECT_EQ(ReadIniInt("Show", "Empty", 1, 8, ini), 0);
    EXPECT_EQ(ReadIniString("Show", "Quoted", "", 64, ini), "  two blanks  ");
    EXPECT_EQ(ReadIniString("Show", "Password", "", 48, ini), "QUJD==");  // "=" in the value
    EXPECT_EQ(ReadIniString("Show", "NoEqualsSign", "d", 8, ini), "d");
    // The cut never leaves half a UTF-8 character: 12 bytes cut to 7 keep 2 characters.
    EXPECT_EQ(ReadIniString("Show", "Name", "", 8, ini), "\xE5\xBC\xA0\xE4\xB8\x89");
    EXPECT_EQ(ReadIniString("Show", "Name", "", 7, ini), "\xE5\xBC\xA0\xE4\xB8\x89");
    EXPECT_EQ(ReadIniString("Show", "Name", "", 6, ini), "\xE5\xBC\xA0");
    // Missing keys, sections and files give the default, cut the same way.
    EXPECT_EQ(ReadIniString("Show", "Missing", "0123456789", 8, ini), "0123456");
    EXPECT_EQ(ReadIniInt("Nowhere", "FundView", 42, 8, ini), 42);
    EXPECT_EQ(ReadIniInt("Show", "FundView", 5, 8, Path("none.ini")), 5);
    EXPECT_EQ(ReadIniString("Show", "FundView", "abc", 0, ini), "");
    // Numbers as the runtime's atoi reads them, without overflow.
    EXPECT_EQ(ProfileAtoi("  -3x"), -3);
    EXPECT_EQ(ProfileAtoi("99999999999999999999"), 2147483647);
}

TEST_F(IniFileTest, WritingOneKeyLeavesEveryOtherLineAsItWas)
{
    const std::string original =
        "\xEF\xBB\xBF; Vextal settings\r\n"
        "[Show]\r\n"
        "FundShowType = 2\r\n"
        "  ; keep me\r\n"
        "HighLight=#112233\r\n"
        "\r\n"
        "[Login]\r\n"
        "Name=\xE5\xBC\xA0\xE4\xB8\x89\r\n"
        "ServerURL=http://x/\r\n"
        "[ColumnWidth]\r\n"
        "AccountList=100|60|60";  // no line break at the end
    Put(original);

    ASSERT_TRUE(WriteIniInt("SHOW", "fundshowtype", 3, ini));  // the key keeps its spelling
    ASSERT_TRUE(WriteIniInt("Show", "FundView", 1, ini));      // after the last line of the section
    ASSERT_TRUE(WriteIniString("Proxy", "IP", "10.0.0.1", ini));  // a new section at the end
    EXPECT_EQ(Get(),
              "\xEF\xBB\xBF; Vextal settings\r\n"
              "[Show]\r\n"
              "FundShowType=3\r\n"
              "  ; keep me\r\n"
              "HighLight=#112233\r\n"
              "FundView=1\r\n"
              "\r\n"
              "[Login]\r\n"
              "Name=\xE5\xBC\xA0\xE4\xB8\x89\r\n"
              "ServerURL=http://x/\r\n"
              "[ColumnWidth]\r\n"
              "AccountList=100|60|60\r\n"
              "[Proxy]\r\n"
              "IP=10.0.0.1\r\n");

    // Writing the value a key already has changes nothing.
    std::string before = Get();
    ASSERT_TRUE(WriteIniString("Login", "ServerURL", "http://x/", ini));
    EXPECT_EQ(Get(), before);

    // A last line ending in a lone CR keeps its value and gets a whole line break.
    Put("[Proxy]\nPassword=abc\r");
    EXPECT_EQ(ReadIniString("Proxy", "Password", "", 48, ini), "abc");
    ASSERT_TRUE(WriteIniString("Show", "A", "1", ini));
    EXPECT_EQ(Get(), "[Proxy]\nPassword=abc\r\n[Show]\nA=1\n");

    // A missing file is created with LF line ends.
    std::string fresh = Path("fresh.ini");
    ASSERT_TRUE(WriteIniString("Login", "Name", "demo", fresh));
    ASSERT_TRUE(WriteIniString("Login", "LoginFlag", "1", fresh));
    EXPECT_EQ(test::ReadWholeFile(fresh), "[Login]\nName=demo\nLoginFlag=1\n");
}

TEST_F(IniFileTest, ValuesRoundTripAndBadNamesAreRefused)
{
    Put("[Show]\nA=1\nB=2\n");
    // Values that would not read back as written are quoted; line breaks
    // cannot break the file.
    for (const std::string value : {"  lead and trail  ", "\"quoted\"", "'x'", "", "a=b=c", "#FF0000", "中文 值"}) {
        ASSERT_TRUE(WriteShowString("A", value, ini));
        EXPECT_EQ(ReadShowString("A", "?", kIniNoLimit, ini), value);
    }
    ASSERT_TRUE(WriteShowString("A", "one\r\n[Evil]\nB=9", ini));
    EXPECT_EQ(ReadShowString("A", "?", kIniNoLimit, ini), "one  [Evil] B=9");
    EXPECT_EQ(ReadShowString("B", "?", kIniNoLimit, ini), "2");
    EXPECT_EQ(ReadIniString("Evil", "B", "none", 8, ini), "none");

    const std::string before = Get();
    EXPECT_FALSE(WriteIniString("Show", "a=b", "1", ini));
    EXPECT_FALSE(WriteIniString("Show", "", "1", ini));
    EXPECT_FALSE(WriteIniString("Show", "[x", "1", ini));
    EXPECT_FALSE(WriteIniString("Sh]ow", "A", "1", ini));
    EXPECT_FALSE(WriteIniString("Show", "A\nB", "1", ini));
    EXPECT_EQ(Get(), before);
}

TEST_F(IniFileTest, WritesReplaceTheFileAtomically)
{
    Put("[Show]\nFundView=0\n");
    ::chmod(ini.c_str(), 0600);
    // A reader holding the old file keeps seeing the old content whole: the
    // new text went to a temporary file that was renamed over the original.
    std::ifstream old(ini, std::ios::binary);
    ASSERT_TRUE(WriteIniInt("Show", "FundView", 2, ini));
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>()),
              "[Show]\nFundView=0\n");
    EXPECT_EQ(Get(), "[Show]\nFundView=2\n");
    struct stat st{};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // the permissions stay
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);  // no temporary file left

    // Through a symbolic link the link stays and its target is replaced.
    fs::create_directory(Path("real"));
    std::string target = Path("real/Vextal.ini");
    std::ofstream(target) << "[Show]\nA=1\n";
    std::string link = Path("link.ini");
    fs::create_symlink(fs::path("real") / "Vextal.ini", link);
    ASSERT_TRUE(WriteShowString("A", "2", link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadShowString("A", "", 8, target), "2");

    // What cannot be read is never overwritten.
    std::string blocked = Path("blocked.ini");
    fs::create_directory(blocked);
    EXPECT_FALSE(WriteShowString("A", "1", blocked));
    EXPECT_TRUE(fs::is_directory(blocked));
}

TEST_F(SettingsTest, ServerAddresses)
{
    // A missing file: the built-in server and the web site; reading writes nothing.
    EXPECT_EQ(Load().serverList, (std::vector<std::string>{"http://127.0.0.1:8610/", "http://www.plindo.example/"}));
    EXPECT_FALSE(fs::exists(ini));
    // A ServerURL without a trailing slash gets one; the URLs are rebuilt from it.
    Put("[Login]\nServerURL=http://10.1.2.3:8610\n");
    CSettings s = Load();
    EXPECT_EQ(s.serverUrl, "http://10.1.2.3:8610/");
    EXPECT_EQ(s.commandUrl, "http://10.1.2.3:8610/plindo/client/ClientService.asmx/SendCommand");
    EXPECT_EQ(s.clientServiceUrl, "http://10.1.2.3:8610/plindo/client/ClientService.asmx/");
    EXPECT_EQ(s.dataServerUrl, "http://10.1.2.3:8610/");  // empty DataServerURL: the server URL
    EXPECT_EQ(s.serverList, (std::vector<std::string>{"http://10.1.2.3:8610/", "http://www.plindo.example/"}));

    Put("[Login]\nServerURL=http://10.1.2.3/\nDataServerURL=http://data.example:81\n");
    s = Load();
    EXPECT_EQ(s.serverUrl, "http://10.1.2.3/");
    EXPECT_EQ(s.dataServerUrl, "http://data.example:81/");

    // "http://www." anywhere: the server URL becomes the built-in one. The
    // command URLs and the data server URL, taken from the configured value
    // before that replacement, stay as they were.
    Put("[Login]\nServerURL=http://www.plindo.example\n");
    s = Load();
    EXPECT_EQ(s.serverUrl, "http://127.0.0.1:8610/");
    EXPECT_EQ(s.commandUrl, "http://www.plindo.example/plindo/client/ClientService.asmx/SendCommand");
    EXPECT_EQ(s.dataServerUrl, "http://www.plindo.example/");
    EXPECT_EQ(s.serverList[0], "http://127.0.0.1:8610/");
    Put("[Login]\nServerURL=proxy?to=http://www.x.cn/\n");
    EXPECT_EQ(Load().serverUrl, "http://127.0.0.1:8610/");

    // The 128-character buffer: 127 characters are kept.
    std::string longUrl = "http://h/" + std::string(200, 'p');
    Put("[Login]\nServerURL=" + longUrl + "\n");
    EXPECT_EQ(Load().serverUrl, longUrl.substr(0, 127) + "/");
}

TEST_F(SettingsTest, FundListFundIdAndHighLight)
{
    auto load = [&](const std::string& show) {
        Put("[Show]\n" + show + "\n");
        return Load();
    };
    using List = std::vector<std::string>;
    EXPECT_EQ(load("FundIDList=").fundIdList, (List{"000001", "000011"}));
    EXPECT_EQ(load("FundIDList=|||").fundIdList, (List{"000001", "000011"}));
    EXPECT_EQ(load("FundIDList=000003|").fundIdList, (List{"000003"}));
    // Cut to 55 characters before the split: a leading "|" pushes the eighth
    // code past the cut, so it arrives as "00000".
    std::string nine = "|000001|000002|000003|000004|000005|000006|000007|000008|000009";
    EXPECT_EQ(load("FundIDList=" + nine).fundIdList,
              (List{"000001", "000002", "000003", "000004", "000005", "000006", "000007", "00000"}));

    EXPECT_EQ(load("FundID=").fundId, "000001");
    EXPECT_EQ(load("FundID=123456789").fundId, "1234567");

    const std::pair<const char*, uint32_t> colours[] = {
        {"#00ff80", 0x80FF00u},   // as 0x00BBGGRR
        {"FF0000", 0xDCDCDCu},    // 6 characters without "#": light grey stays
        {"#FFF", 0xDCDCDCu},      // four characters: light grey stays
        {"#FF00001", 0x0000FFu},  // cut to 7 by the buffer
        {"#GG00FF", 0xFF0000u},   // no hex digit gives 0
    };
    for (const auto& [text, colour] : colours) EXPECT_EQ(load(std::string("HighLight=") + text).highLight, colour) << text;
    EXPECT_EQ(ParseHighLight(FormatHighLight(0x123456), 0), 0x123456u);
    // The one show key the program never writes back.
    EXPECT_EQ(load("ShowRealtimeFlag=1").showRealtimeFlag, 1);
}

// Integer keys go through the one number reader: what is no whole number
// within the key's range is the key's default, not its leading digits.
TEST_F(SettingsTest, IntegersOutsideTheirRangeTakeTheDefaultAndAProxyNeedsAnAddress)
{
    const struct {
        const char* file;
        int CSettings::*show;
        int want;
    } cases[] = {
        {"[Show]\nFundShowType=3", &CSettings::fundShowType, 3},
        {"[Show]\nFundShowType=7", &CSettings::fundShowType, 0},
        {"[Show]\nFundShowType=2x", &CSettings::fundShowType, 0},
        {"[Show]\nListItemSize=0", &CSettings::listItemSize, 0},
        {"[Show]\nListItemSize=abc", &CSettings::listItemSize, 1},
        {"[Show]\nListItemSize=-1", &CSettings::listItemSize, 1},
        {"[Show]\nFundView=1.5", &CSettings::fundView, 0},
        {"[Show]\nFundZeroHide= 1 ", &CSettings::fundZeroHide, 1},
        {"[Show]\nShowNew=inf", &CSettings::showNew, 1},
    };
    for (const auto& c : cases) {
        Put(std::string(c.file) + "\n");
        EXPECT_EQ(Load().*c.show, c.want) << c.file;
    }
    // A hand-edited proxy without an address (every request would fail) is off.
    const struct {
        const char* lines;
        int enable, port;
    } proxies[] = {{"Enable=1\nIP=\nPort=3128", 0, 3128}, {"Enable=1\nIP=10.1.2.3\nPort=65535", 1, 65535},
                   {"Port=99999", 0, 8080}, {"Port=0", 0, 8080}, {"Port=80abc", 0, 8080}};
    for (const auto& c : proxies) {
        Put(std::string("[Proxy]\n") + c.lines + "\n");
        const CSettings s = Load();
        EXPECT_EQ(std::pair(s.proxy.enable, s.proxy.port), std::pair(c.enable, c.port)) << c.lines;
    }
}

TEST_F(SettingsTest, PasswordsAreNeverStoredInPlainText)
{
    Put("; the user's own comment\n[Show]\nFundView=1\n");
    CProxySettings p;
    p.enable = 1;
    p.ip = "10.0.0.1";
    p.port = 3128;
    p.userName = "proxyuser";
    p.password = "s3cret pw";
    ASSERT_TRUE(SaveProxySettings(p, ini));
    std::string file = Get();
    EXPECT_EQ(file.find("s3cret"), std::string::npos);
    EXPECT_NE(file.find("Password=" + EncryptText("s3cret pw") + "\n"), std::string::npos);
    EXPECT_EQ(file.rfind("; the user's own comment\n[Show]\nFundView=1\n[Proxy]\n", 0), 0u);

    CSettings s = Load();
    EXPECT_EQ(std::tie(s.proxy.enable, s.proxy.ip, s.proxy.port, s.proxy.userName, s.proxy.password, s.fundView),
              std::make_tuple(1, std::string("10.0.0.1"), 3128, std::string("proxyuser"), std::string("s3cret pw"), 1));

    // A password written by hand that does not decode comes back as stored.
    ASSERT_TRUE(WriteIniString("Proxy", "Password", "!!!", ini));
    EXPECT_EQ(Load().proxy.password, "!!!");
    // The 48-character buffer holds the 44 Base64 characters of a 32-byte password.
    p.password = std::string(32, 'k');
    ASSERT_TRUE(SaveProxySettings(p, ini));
    EXPECT_EQ(Load().proxy.password, p.password);

    // Login keys after a successful login.
    ASSERT_TRUE(SaveLoginSettings("张三", "http://10.1.2.3/", "pa55word", true, 0, ini));
    file = Get();
    EXPECT_EQ(file.find("pa55word"), std::string::npos);
    CLoginSettings login = ReadLoginSettings(ini);
    EXPECT_EQ(std::tie(login.name, login.password, login.loginFlag), std::make_tuple("张三", "pa55word", 0));
    EXPECT_EQ(ReadIniString("Login", "ServerURL", "", 128, ini), "http://10.1.2.3/");
    // Not remembered: the stored password becomes empty.
    ASSERT_TRUE(SaveLoginSettings("张三", "http://10.1.2.3/", "pa55word", false, 1, ini));
    EXPECT_EQ(ReadIniString("Login", "Password", "x", 48, ini), "");
    login = ReadLoginSettings(ini);
    EXPECT_EQ(std::tie(login.password, login.loginFlag), std::make_tuple("", 1));
}

TEST_F(SettingsTest, RememberedNameIsCutAsItsGbkBufferHeldIt)
{
    // 32 bytes held 31 GBK bytes: fifteen Chinese characters, never half of one.
    const std::string thirteen = "欧阳诸葛司马上官东方慕容令";
    ASSERT_TRUE(SaveLoginSettings("ab" + thirteen + "李王", "http://10.1.2.3/", "", false, 0, ini));
    EXPECT_EQ(ReadLoginSettings(ini).name, "ab" + thirteen + "李");  // 30 bytes: 王 would need 32
    ASSERT_TRUE(SaveLoginSettings(std::string(40, 'n'), "http://10.1.2.3/", "", false, 0, ini));
    EXPECT_EQ(ReadLoginSettings(ini).name, std::string(31, 'n'));
}

TEST_F(SettingsTest, WriteBacksOfTheOtherKeys)
{
    CSettings s = Load();
    s.fundShowType = 2;
    s.listItemSize = 0;
    s.fundView = 1;
    s.highLight = 0x0000FF;
    s.fundZeroHide = 1;
    s.showNew = 0;
    s.showThousand = 1;
    ASSERT_TRUE(SaveShowSettings(s, ini));
    EXPECT_EQ(Get(), "[Show]\nFundShowType=2\nListItemSize=0\nFundView=1\nHighLight=#FF0000\nFundZeroHide=1\n"
                     "ShowNew=0\nShowThousand=1\n");

    ASSERT_TRUE(WriteFundIdList({"110022", "000003"}, ini));
    EXPECT_EQ(Load().fundIdList, (std::vector<std::string>{"110022", "000003"}));
    EXPECT_EQ(Load().fundShowType, 2);  // still there after the other write
    // (The visible-columns keys: ListTest and BookFlowTest.)
}
