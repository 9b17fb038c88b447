// Version check, the upgrade offer with the updaters, the help file and the
// page files.
#include <gtest/gtest.h>

#include "app/AppTestSupport.h"
#include "app/LoginDialogLogic.h"
#include "app/PageFiles.h"
#include "app/Settings.h"
#include "app/VersionCheck.h"
#include "app/VextalDoc.h"

using namespace vextal;
using namespace vextal::test;

namespace {

class VersionTest : public AppHomeTest {
protected:
    void Open(FakeService& svc)
    {
        svc.mdb = MakeDatabaseBytes(home);
        UseServer(svc.Base());
        doc = std::make_unique<CVextalDoc>();
        doc->OnNewDocument(prompt);
    }
    RecordingPrompt prompt;
    std::unique_ptr<CVextalDoc> doc;
};

// The prompt itself runs against the real service (ServiceStartTest); here
// the comparison and a refusal the real service never sends.
TEST_F(VersionTest, OnlyANewerServerVersionPrompts)
{
    FakeService svc;
    Open(svc);
    EXPECT_FALSE(IsNewerVersion("3.249", "3.25"));
    EXPECT_TRUE(IsNewerVersion("10.0", "9.9"));
    EXPECT_FALSE(IsNewerVersion("3.250", "3.25"));
    EXPECT_TRUE(IsNewerVersion("3.25a", "3.25"));
    EXPECT_FALSE(IsNewerVersion("3.25B", "3.25b"));

    // A refused query leaves the server version empty and asks nothing.
    svc.version = "3.99";
    svc.versionRet = -1;
    RecordingPrompt p;
    CLoginDialogLogic dialog(*doc, p);
    dialog.OnOpen();
    EXPECT_EQ(doc->GetServerVersion(), "");
    EXPECT_TRUE(p.questions.empty());
    EXPECT_EQ(dialog.VersionCheck().GetLastError(), "3.99");
}

TEST_F(VersionTest, TheEveningQueryGoesToTheWebSite)
{
    CSettings s;
    s.clientServiceUrl = "http://127.0.0.1:8610/plindo/client/ClientService.asmx/";
    s.webSiteUrl = "http://www.plindo.example/";
    EXPECT_EQ(ClientVersionUrl(s, OleDate::FromParts(2024, 6, 28, 18, 59, 59)),
              "http://127.0.0.1:8610/plindo/client/ClientService.asmx/GetClientVersion");
    EXPECT_EQ(ClientVersionUrl(s, OleDate::FromParts(2024, 6, 28, 19, 0, 0)),
              "http://www.plindo.example/plindo/client/clientservice.asmx/GetClientVersion");
    EXPECT_EQ(ClientVersionUrl(s, OleDate::FromParts(2024, 6, 28, 0, 0, 0)).find("www."), std::string::npos);
}

TEST_F(VersionTest, PageFilesOnlyMissingAndFundKeys)
{
    FakeService svc;
    PrepareHtmlFiles(svc.Base(), true);
    const size_t first = svc.srv.Seen().size();
    EXPECT_EQ(first, 6u);
    PrepareHtmlFiles(svc.Base(), true);
    EXPECT_EQ(svc.srv.Seen().size(), first);

    // A failed fetch keeps the old file; an empty answer too.
    svc.files.erase("/stockindex.htm");
    svc.files["/stylemain.css"] = "";
    PrepareHtmlFiles(svc.Base(), false);
    EXPECT_EQ(ReadWholeFile(home + "Html/stockindex.htm"), "<html>index</html>");
    EXPECT_EQ(ReadWholeFile(home + "Html/stylemain.css"), "body{}");

    auto keys = LoadFundKeyTable(home + "Html/fundkey.txt");
    EXPECT_EQ(keys, (std::map<std::string, std::string>{{"000001", "华夏成长"}, {"000011", "华夏大盘"}}));
    EXPECT_TRUE(LoadFundKeyTable(home + "missing.txt").empty());

    // Html cannot be made (a file is in its way): nothing is requested.
    fs::remove_all(home + "Html");
    WriteWholeFile(home + "Html", "");
    PrepareHtmlFiles(svc.Base(), false);
    EXPECT_EQ(svc.srv.Seen().size(), first + 6);
}

}  // namespace
