#include "MarketTestUtil.h"
#include "common/StringTable.h"
#include "db/Schema.h"
#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"
#include "market/NewValueCommands.h"
#include "net/Encoding.h"

using namespace vextal;

namespace {

OleDate At(int y, int m, int d, int h = 0, int mi = 0, int s = 0) { return OleDate::FromParts(y, m, d, h, mi, s); }
const OleDate kNone = OleDate::FromParts(0, 0, 0);

// 2024-01-05 is a Friday, 01-08 a Monday, 01-09 a Tuesday.
class LatestValueTest : public test::MarketTest {
protected:
    void SetUp() override
    {
        MarketTest::SetUp();
        AnswerMsg("1/11",
                  "110011|0001|甲|甲|1|1|4|u|2008-06-19|0|0|110022|0001|乙|乙|1|2|4|u|2008-06-19|0|0|"
                  "000009|0001|丙|丙|1|4|3|u|2004-04-07|0|0|184688|0002|丁|丁|2|1|1|u|1998-04-07|0|0");
        cat.SetSession(ctx, false);
        ASSERT_TRUE(cat.DownloadFundInfos());
        values.SetSession(ctx, false);
    }
    void History(const std::string& fund, const OleDate& date)
    {
        ASSERT_TRUE(db.Execute("INSERT INTO T_Fund_Value(FundID,TodayValue,VarPercent,TotalValue,VarValue,ValueDate) "
                               "VALUES('" + fund + "',1,0,1,0,'" + date.Format(0) + "')"));
    }
    int HistoryRows(const std::string& fund) { return Count("SELECT * FROM T_Fund_Value WHERE FundID='" + fund + "'"); }
    CNewFundValue Value(const std::string& fund, const OleDate& date, float nav)
    {
        CNewFundValue v;
        v.FundID = fund;
        v.ValueDate = date;
        v.TodayValue = nav;
        return v;
    }

    CFundCatalogue cat{db};
    CLatestValueCache values{db, cat};
};

struct Recorder : IUserPrompt {
    std::vector<std::string> shown, asked;
    bool answer = true;
    void ShowMessage(const std::string& text, PromptIcon) override { shown.push_back(text); }
    bool AskYesNo(const std::string& text) override
    {
        asked.push_back(text);
        return answer;
    }
};

}  // namespace

TEST(LatestValueRules, IsValueCurrentByClockAndClass)
{
    // Tuesday 16:59: Monday's value is current; from 17:00 Tuesday's is due.
    EXPECT_TRUE(IsValueCurrent(At(2024, 1, 8), 1, At(2024, 1, 9, 16, 59), kNone));
    EXPECT_FALSE(IsValueCurrent(At(2024, 1, 8), 1, At(2024, 1, 9, 17, 0), kNone));
    EXPECT_TRUE(IsValueCurrent(At(2024, 1, 9), 1, At(2024, 1, 9, 17, 0), kNone));
    // A later month never counts.
    EXPECT_FALSE(IsValueCurrent(At(2024, 2, 1), 1, At(2024, 1, 9, 17, 0), kNone));
    // Saturday and Sunday both expect Friday; so does a Monday morning.
    for (OleDate now : {At(2024, 1, 6, 12), At(2024, 1, 7, 23), At(2024, 1, 8, 9)}) {
        EXPECT_EQ(ExpectedValueDate(now, 1, kNone).Format(1), "2024-01-05") << now.Format(0);
        EXPECT_TRUE(IsValueCurrent(At(2024, 1, 5), 1, now, kNone));
        EXPECT_FALSE(IsValueCurrent(At(2024, 1, 4), 1, now, kNone));
    }
    // Weekly NAVs: the last Friday on or before the expected day.
    EXPECT_EQ(ExpectedValueDate(At(2024, 1, 10, 18), 3, kNone).Format(1), "2024-01-05");
    EXPECT_EQ(ExpectedValueDate(At(2024, 1, 12, 16), 3, kNone).Format(1), "2024-01-05");
    EXPECT_EQ(ExpectedValueDate(At(2024, 1, 12, 18), 3, kNone).Format(1), "2024-01-12");
    EXPECT_EQ(ExpectedValueDate(At(2024, 1, 13, 10), 3, kNone).Format(1), "2024-01-12");
    // The announced newest NAV day replaces the clock's guess.
    EXPECT_FALSE(IsValueCurrent(At(2024, 1, 8), 1, At(2024, 1, 9, 10), At(2024, 1, 9)));
}

TEST(LatestValueRules, NeedsClassDownloadThresholds)
{
    for (int hour : {0, 10, 17, 18, 23}) EXPECT_TRUE(NeedsClassDownload(10, 90, At(2024, 1, 9, hour)));
    EXPECT_TRUE(NeedsClassDownload(200, 90, At(2024, 1, 9, 17, 59)));
    EXPECT_FALSE(NeedsClassDownload(200, 90, At(2024, 1, 9, 18, 0)));
    EXPECT_FALSE(NeedsClassDownload(200, 79, At(2024, 1, 9, 10)));
    EXPECT_TRUE(NeedsClassDownload(0, 0, At(2024, 1, 9, 20)));
}

TEST_F(LatestValueTest, SaveKeepsNewerRowsAndExtendsHistoryOnlyWithoutGap)
{
    History("110011", At(2024, 1, 5));
    History("110022", At(2024, 1, 5));
    History("184688", At(2024, 1, 5));

    // Monday after the stored Friday: added to the history too.
    CNewFundValue mon = Value("110011", At(2024, 1, 8), 1.2345f);
    mon.TotalValue1 = 3.5f;
    ASSERT_TRUE(values.SaveNewFundValue(mon));
    EXPECT_EQ(HistoryRows("110011"), 2);
    float total1 = 0;
    ASSERT_TRUE(db.QueryFloat("SELECT TotalValue1 FROM T_Fund_Value WHERE FundID='110011' AND "
                              "ValueDate='2024-01-08 00:00:00'", total1));
    EXPECT_FLOAT_EQ(total1, 3.5f);
    // Tuesday after the stored Friday: a gap, the history waits.
    ASSERT_TRUE(values.SaveNewFundValue(Value("110022", At(2024, 1, 9), 1.1f)));
    EXPECT_EQ(HistoryRows("110022"), 1);
    // Weekly NAVs: 6 days is not enough, exactly 7 is.
    ASSERT_TRUE(values.SaveNewFundValue(Value("184688", At(2024, 1, 11), 0.9f)));
    EXPECT_EQ(HistoryRows("184688"), 1);
    ASSERT_TRUE(values.SaveNewFundValue(Value("184688", At(2024, 1, 12), 0.95f)));
    EXPECT_EQ(HistoryRows("184688"), 2);

    // An older value never replaces a newer one, in the table or the map.
    EXPECT_FALSE(values.SaveNewFundValue(Value("110011", At(2024, 1, 5), 9.0f)));
    float nav = 0;
    ASSERT_TRUE(db.QueryFloat("SELECT TodayValue FROM T_New_Fund_Value WHERE FundID='110011'", nav));
    EXPECT_FLOAT_EQ(nav, 1.2345f);
    EXPECT_FLOAT_EQ(values.FindValue("110011")->TodayValue, 1.2345f);

    // Statistics: the second save replaces the first; LastYearIncome stays 0.
    CNewFundValue again = mon;
    again.WeekIncome = 1.5f;
    again.TotalIncome = 88.25f;
    again.IncomeSum44 = 7;
    ASSERT_TRUE(values.SaveNewFundValue(again));
    EXPECT_EQ(Count("SELECT * FROM T_New_Income WHERE FundID='110011'"), 1);
    ASSERT_TRUE(values.LoadNewFundValues());
    const CNewFundValue* v = values.FindValue("110011");
    ASSERT_NE(v, nullptr);
    EXPECT_FLOAT_EQ(v->WeekIncome, 1.5f);
    EXPECT_FLOAT_EQ(v->TotalIncome, 88.25f);
    EXPECT_EQ(v->IncomeSum44, 7);
    EXPECT_FLOAT_EQ(v->TotalValue1, 3.5f);
    EXPECT_EQ(Count("SELECT * FROM T_New_Income WHERE LastYearIncome<>0"), 0);
}

TEST_F(LatestValueTest, ClassDownloadStoresRecordsAndAdvancesVersion)
{
    Clock::Fix(At(2024, 1, 9, 18));
    AnswerValues("2/1", "V1", test::ValueRecord("2024-01-09", "110011", 1.5f) + "|" +
                                  test::ValueRecord("2024-01-09", "110022", 2.5f));
    // The figures of every field and the refresh that asks for nothing run
    // against the real service (ServeTest); here the answers it never gives.
    ASSERT_EQ(values.DownloadClassValues(1, true), kMarketOk) << values.GetLastError();
    std::string version;

    // Next evening both are stale: whole class, from the oldest value held
    // of it. A field count that is not a multiple of 20 stores nothing.
    Clock::Fix(At(2024, 1, 10, 18));
    AnswerValues("2/1", "V2", test::ValueRecord("2024-01-10", "110011", 1.6f) + "|extra");
    EXPECT_EQ(values.DownloadClassValues(1, true), kMarketBadFormat);
    EXPECT_EQ(values.GetLastError(), "DownloadClassValues():数据格式错误");
    EXPECT_EQ(Sent("2/1").back(), "cmdtype=2&cmdid=1&data=20240109&loginid=u1");
    ASSERT_TRUE(GetSystemInfo(db, "NewFundValueNO", version));
    EXPECT_EQ(version, "V1");
    EXPECT_FLOAT_EQ(values.FindValue("110011")->TodayValue, 1.5f);

    // Cancelled while storing: nothing kept.
    AnswerValues("2/1", "V3", test::ValueRecord("2024-01-10", "110011", 1.7f));
    EXPECT_EQ(values.DownloadClassValues(1, true, [](size_t, size_t) { return false; }), kMarketCancelled);
    float nav = 0;
    ASSERT_TRUE(db.QueryFloat("SELECT TodayValue FROM T_New_Fund_Value WHERE FundID='110011'", nav));
    EXPECT_FLOAT_EQ(nav, 1.5f);
    ASSERT_TRUE(GetSystemInfo(db, "NewFundValueNO", version));
    EXPECT_EQ(version, "V1");
}

TEST_F(LatestValueTest, SelectionOfFortyDownloadsTheFirstThirtyTwo)
{
    std::vector<std::string> selected;
    for (int i = 0; i < 40; ++i) selected.push_back(StrFormat("%06d", 100000 + i));
    Recorder prompt;
    std::vector<std::string> downloaded;
    RunServerDownloadCommand(prompt, "127.0.0.1:8610", selected,
                             [&](const std::vector<std::string>& ids) { downloaded = ids; });
    ASSERT_EQ(prompt.asked.size(), 1u);
    EXPECT_EQ(prompt.asked[0], "确认要从服务器 127.0.0.1:8610 下载选定基金的最新净值吗？");
    EXPECT_EQ(prompt.shown, std::vector<std::string>{"一次最多可以下载32个基金"});
    ASSERT_EQ(downloaded.size(), 32u);
    EXPECT_EQ(downloaded.back(), "100031");

    // Exactly 32 shows the message too; none asks for a selection first.
    EXPECT_EQ(CollectSelectedFunds(std::vector<std::string>(32, "110011")).message, "一次最多可以下载32个基金");
    EXPECT_EQ(CollectSelectedFunds(std::vector<std::string>(31, "110011")).message, "");
    EXPECT_EQ(CollectSelectedFunds({}).message, "请先选择基金。");
}

// The once-a-minute cache, the value cache and the trade NAV run against
// plindo-serve; answers it never gives are checked here.
TEST_F(LatestValueTest, SingleFundValueAnswerShapes)
{
    values.SetNewestNavDate("2024-01-09");
    Clock::Fix(At(2024, 1, 9, 20));
    // Ten fields: the record comes from the first five.
    AnswerMsg("2/22", "1.0500|3.2100|0.52|0.0055|2024-01-08|9.9|9.9|9.9|9.9|2024-01-09");
    CFundValue v;
    std::string error;
    ASSERT_TRUE(values.GetFundNewValueFormServer("110011", v, error)) << error;
    EXPECT_FLOAT_EQ(v.TodayValue, 1.05f);
    EXPECT_FLOAT_EQ(v.TotalValue, 3.21f);
    EXPECT_FLOAT_EQ(v.VarValue, 0.0055f);
    EXPECT_EQ(v.ValueDate.Format(1), "2024-01-08");
    // (Four fields where five are due: CommandsTest.)
}

TEST_F(LatestValueTest, DisclosurePageAndLocalFetchRule)
{
    const std::string cell = "<td align=\"center\" height=\"20\">";
    std::string page = "<html><table><tr>" + cell + "净值日期</td>" + cell + "累计净值</td></tr><tr>" + cell +
                       " 2024-01-09 </td>" + cell + "1.2345</td>" + cell + "3.4567</td></tr></table></html>";
    srv.Get("/jjzx/jjjz.jsp", [&](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.get_param_value("fundCode") != "110022" ? Utf8ToGbk(page) : "<html></html>", "text/html");
    });
    values.SetDisclosureBase(srv.Base());
    ASSERT_TRUE(values.SaveNewFundValue(Value("110011", At(2024, 1, 8), 1.2f)));
    // The page's figures against the real service: ServeTest. The day
    // change against the value held from the day before:
    ASSERT_TRUE(values.FetchDisclosureValue("110011"));
    EXPECT_NEAR(values.FindValue("110011")->VarPercent, 2.875f, 1e-3);
    // Held from the Friday before the Tuesday page: no day change is known.
    ASSERT_TRUE(values.SaveNewFundValue(Value("184688", At(2024, 1, 5), 1.2f)));
    ASSERT_TRUE(values.FetchDisclosureValue("184688"));
    EXPECT_EQ(values.FindValue("184688")->VarPercent, 0.0f);
    EXPECT_EQ(values.FindValue("184688")->VarValue, 0.0f);
    // A money-market fund keeps its 7-day yield.
    CNewFundValue money = Value("000009", At(2024, 1, 8), 0.65f);
    money.VarPercent = 2.695f;
    ASSERT_TRUE(values.SaveNewFundValue(money));
    ASSERT_TRUE(values.FetchDisclosureValue("000009"));
    EXPECT_EQ(values.FindValue("000009")->ValueDate.Format(1), "2024-01-09");
    EXPECT_FLOAT_EQ(values.FindValue("000009")->VarPercent, 2.695f);
    // A page without the marker changes nothing.
    EXPECT_FALSE(values.FetchDisclosureValue("110022"));
    EXPECT_EQ(values.FindValue("110022"), nullptr);
    // A cut page: the marker without its three cells.
    OleDate d;
    double nav, total;
    EXPECT_FALSE(ReadDisclosurePage(Utf8ToGbk(page.substr(0, page.find("1.2345"))), d, nav, total));

    std::vector<std::string> fetched;
    auto fetch = [&](const std::string& id) { fetched.push_back(id); };
    Recorder wed;
    RunLocalFetchCommand(wed, At(2024, 1, 10, 19, 59), {"110011"}, fetch);
    EXPECT_EQ(wed.shown, std::vector<std::string>{"请在20:00后再使用此功能获取"});
    EXPECT_TRUE(fetched.empty());
    Recorder evening;
    RunLocalFetchCommand(evening, At(2024, 1, 10, 20, 0), {"110011", "110022"}, fetch);
    EXPECT_EQ(evening.asked, std::vector<std::string>{"确认要在本地获取选定基金的最新净值吗？"});
    EXPECT_EQ(fetched.size(), 2u);
    Recorder sunday;
    RunLocalFetchCommand(sunday, At(2024, 1, 7, 10), {}, fetch);
    EXPECT_EQ(sunday.shown, std::vector<std::string>{"请先选择基金。"});
}
