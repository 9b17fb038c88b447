// The post-login initialisation: catalogue versions decide load or download,
// the accounts are loaded, share remainders are cleared.
#include <gtest/gtest.h>

#include "app/AppTestSupport.h"
#include "app/LoginDialogLogic.h"
#include "app/MarketData.h"
#include "app/VextalDoc.h"

using namespace vextal;
using namespace vextal::test;

namespace {

class InitAfterLoginTest : public AppHomeTest {
protected:
    void SetUp() override
    {
        AppHomeTest::SetUp();
        svc.mdb = MakeDatabaseBytes(home);
        UseServer(svc.Base());
        doc.OnNewDocument(prompt);
        ASSERT_TRUE(doc.IsDatabaseOpen());
        CMarketHooks& m = doc.Market();
        m.loadFundCompanies = [this] { return calls.push_back("loadCompanies"), loadOk; };
        m.downloadFundCompanies = [this] { return Download("downloadCompanies"); };
        m.loadFundInfos = [this] { return calls.push_back("loadFunds"), loadOk; };
        m.downloadFundInfos = [this] { return Download("downloadFunds"); };
        m.sendClosingRequest = [this] { return Download("closing"); };
        m.setFundView = [this](int) { calls.push_back("fundView"); };
    }
    FetchStep Download(const char* name)
    {
        calls.push_back(name);
        return [this] { return StoreStep([] { return true; }); };
    }
    std::string Stored(const char* item)
    {
        std::string v;
        GetSystemInfo(doc.GetDatabase(), item, v);
        return v;
    }

    FakeService svc;
    RecordingPrompt prompt;
    CVextalDoc doc;
    std::vector<std::string> calls;
    bool loadOk = true;
};

TEST_F(InitAfterLoginTest, FailedLoadsAndDownloadsFallBackAndRetry)
{
    CLoginDialogLogic dialog(doc, prompt);
    ASSERT_TRUE(dialog.OnLogin({"demo", "demo123", false, false}));
    ASSERT_EQ(Stored("FundCorVersion"), "20070101");

    // Newer versions download and equal ones load, against the real service
    // (ServiceStartTest). Local loads that fail: downloaded, and only the
    // fund list's failure is reported.
    doc.InitAfterLogin();
    EXPECT_EQ(Stored("FundInfoVersion"), "20240102");
    calls.clear();
    loadOk = false;
    doc.InitAfterLogin();
    EXPECT_EQ(calls, (std::vector<std::string>{"loadCompanies", "downloadCompanies", "loadFunds", "downloadFunds",
                                               "fundView", "closing"}));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], "无法操作本地Access数据库，暂时无法使用记帐功能");
}

TEST_F(InitAfterLoginTest, OfflineLoadsLocallyAndAsksTheServiceNothing)
{
    CLoginDialogLogic dialog(doc, prompt);
    ASSERT_TRUE(dialog.OnLogin({"demo", "demo123", false, false}));
    ASSERT_TRUE(dialog.OnLogin({"demo", "demo123", false, true}));
    loadOk = false;
    const size_t commands = svc.commands.size();
    doc.InitAfterLogin();
    EXPECT_EQ(calls, (std::vector<std::string>{"loadCompanies", "loadFunds", "fundView"}));
    EXPECT_EQ(svc.commands.size(), commands);
}


TEST_F(InitAfterLoginTest, FailedFundListDownloadKeepsTheLocalCatalogueAndUnknownFundsAreRefused)
{
    CAdoDatabase& db = doc.GetDatabase();
    // The tables of an earlier start; the service announces newer lists but
    // cannot send them.
    ASSERT_TRUE(db.Execute("INSERT INTO T_Fund_Company(CompanyID,CompanyName,CompanyURL,CompanyType) "
                           "VALUES('0001','华夏基金','u','1')"));
    for (const char* row : {"'110011','0001','股票甲','甲',1,1,1", "'000009','0001','现金乙','乙',1,4,1"})
        ASSERT_TRUE(db.Execute(std::string("INSERT INTO T_Fund_Info(FundID,CompanyID,FundName,FundShortName,"
                                           "FundTypeID,InvestTypeID,BankID,FundURL,CreateDate) VALUES(") + row +
                                           ",'u',#2004-01-02 00:00:00#)"));
    ASSERT_TRUE(db.Execute("INSERT INTO T_Account_Info(UserID,AccountID,AccountType,TotalMoney,FreeMoney,FundCount,"
                           "CreateDate,AccountName) VALUES(7,1,0,0,0,0,#2024-01-02 00:00:00#,'主帐户')"));
    CMarketData market(doc);
    market.Attach();
    CLoginDialogLogic dialog(doc, prompt);
    ASSERT_TRUE(dialog.OnLogin({"demo", "demo123", false, false}));
    doc.InitAfterLogin();
    EXPECT_EQ(Stored("FundInfoVersion"), "20070101");
    EXPECT_NE(market.Catalogue().FindFund("110011"), nullptr);
    EXPECT_EQ(market.Catalogue().Companies().count("0001"), 1u);
    EXPECT_FALSE(doc.FundDirectory().IsMoneyMarketFund("110011"));
    EXPECT_TRUE(doc.FundDirectory().IsMoneyMarketFund("000009"));
    // A fund the catalogue does not know is no money-market fund: it is not booked.
    EXPECT_FALSE(doc.FundDirectory().IsMoneyMarketFund("999999"));
    TradeInfo buy;
    buy.AccountID = 1;
    buy.FundID = "999999";
    buy.TradeType = kTradeBuy;
    buy.TradeMoney = 1000;
    buy.TradeTime = OleDate::FromParts(2024, 6, 27, 10);
    EXPECT_EQ(doc.Accounts().BookTrade(buy), -1);
    EXPECT_EQ(doc.Accounts().GetLastErrorText(), "本地基金列表中没有基金999999，请更新基金列表后再记帐");
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM T_Trade_Info"), 0);
}

}  // namespace
