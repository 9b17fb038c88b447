// The market objects against a loopback stand-in of the client service, for
// the answers the real plindo-serve never gives (cut, malformed or refused)
// and the rules that need no service; the ordinary answers run against the
// real service in ServeTest.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "common/Clock.h"
#include "common/StringTable.h"
#include "db/DbTestUtil.h"
#include "db/Schema.h"
#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"
#include "market/NavHistory.h"
#include "market/NewValueCommands.h"
#include "net/Cipher.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/LoopbackServer.h"
#include "support/RecordingPrompt.h"

using namespace vextal;

namespace {

// A database of the program's schema and a loopback client service whose
// answers the test sets per command.
class MarketTest : public test::TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        test::UseDirectHttp(10);
        MakeDatabase(db);
    }
    void TearDown() override
    {
        Clock::Release();
        SetHttpConfig({});
        TempDirTest::TearDown();
    }

    // cmd is "type/id"; the answer to a plain Msg command.
    void AnswerMsg(const std::string& cmd, const std::string& msg, int ret = 0)
    {
        stub.Answer(cmd, "<Ret>" + std::to_string(ret) + "</Ret><Msg>" + msg + "</Msg>");
    }
    // A latest-value answer: Msg plain, Msg2 the enciphered records.
    void AnswerValues(const std::string& cmd, const std::string& msg, const std::string& plainMsg2)
    {
        stub.Answer(cmd, "<Ret>0</Ret><Msg>" + msg + "</Msg><Msg2>" + EncryptText(plainMsg2, kCipherKey) + "</Msg2>");
    }
    std::vector<std::string> Sent(const std::string& cmd) { return stub.Sent(cmd); }
    int Count(const std::string& sql) { return db.GetRecordCount(sql); }
    int Rows(const std::string& fund) { return Count("SELECT * FROM T_Fund_Value WHERE FundID='" + fund + "'"); }

    CAdoDatabase db;
    test::CommandStub stub;
    CommandContext& ctx = stub.ctx;
};

// One 20-field latest-value record, its code enciphered.
std::string ValueRecord(const std::string& date, const std::string& code, double nav, double week = 0.5,
                        double total = 12.5)
{
    return date + "|" + EncryptText(code, kCipherKey) + "|" + StrFormat("%0.4f", nav) + "|" +
           StrFormat("%0.4f", nav + 1) + "|1.25|0.0120|" + StrFormat("%0.2f", week) +
           "|2.00|3.10|4.20|5.30|6.40|7.50|8.60|9.70|10.80|" + StrFormat("%0.2f", total) + "|22|44|" +
           StrFormat("%0.4f", nav + 2);
}

OleDate At(int y, int m, int d, int h = 0, int mi = 0, int s = 0) { return OleDate::FromParts(y, m, d, h, mi, s); }
const OleDate kNone = OleDate::FromParts(0, 0, 0);

// 2024-01-05 is a Friday, 01-08 a Monday, 01-09 a Tuesday.
class LatestValueTest : public MarketTest {
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
    CNewFundValue Value(const std::string& fund, const OleDate& date, double nav)
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

class CatalogueTest : public MarketTest {};

const char* kCompanies = "0001|华夏基金|1|http://a|0002|南方基金|1|http://b";
// 110011 open-end stock, 000009 money market, 184688 closed-end, 510050 ETF, 900001 collective.
const char* kFunds =
    "110011|0001|易方达中小盘|易方达中小盘|1|1|4|http://f1|2008-06-19|1.5|2.5|"
    "000009|0001|华夏现金增利|华夏现金|1|4|3|http://f2|2004-04-07|0|0|"
    "184688|0002|基金开元|开元|2|1|1|http://f3|1998-04-07|0|0|"
    "510050|0002|上证50ETF|50ETF|3|1|2|http://f4|2004-12-30|0|0|"
    "900001|0002|集合理财一号|集合一号|5|2|0|http://f5|2010-01-01|0|0";

class HistoryTest : public MarketTest {
protected:
    void SetUp() override
    {
        MarketTest::SetUp();
        history.SetSession(ctx, false);
        latest.SetSession(ctx, false);
        Clock::Fix(OleDate::FromParts(2024, 1, 9, 20));
    }

    CFundCatalogue cat{db};
    CLatestValueCache latest{db, cat};
    CNavHistory history{db, &latest};
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
    CNewFundValue mon = Value("110011", At(2024, 1, 8), 1.2345);
    mon.TotalValue1 = 3.5;
    ASSERT_TRUE(values.SaveNewFundValue(mon));
    EXPECT_EQ(Rows("110011"), 2);
    double total1 = 0;
    ASSERT_TRUE(db.QueryDouble("SELECT TotalValue1 FROM T_Fund_Value WHERE FundID='110011' AND "
                              "ValueDate='2024-01-08 00:00:00'", total1));
    EXPECT_DOUBLE_EQ(total1, 3.5);
    // Tuesday after the stored Friday: a gap, the history waits.
    ASSERT_TRUE(values.SaveNewFundValue(Value("110022", At(2024, 1, 9), 1.1)));
    EXPECT_EQ(Rows("110022"), 1);
    // Weekly NAVs: 6 days is not enough, exactly 7 is.
    ASSERT_TRUE(values.SaveNewFundValue(Value("184688", At(2024, 1, 11), 0.9)));
    EXPECT_EQ(Rows("184688"), 1);
    ASSERT_TRUE(values.SaveNewFundValue(Value("184688", At(2024, 1, 12), 0.95)));
    EXPECT_EQ(Rows("184688"), 2);

    // An older value never replaces a newer one, in the table or the map.
    EXPECT_FALSE(values.SaveNewFundValue(Value("110011", At(2024, 1, 5), 9.0)));
    double nav = 0;
    ASSERT_TRUE(db.QueryDouble("SELECT TodayValue FROM T_New_Fund_Value WHERE FundID='110011'", nav));
    EXPECT_DOUBLE_EQ(nav, 1.2345);
    EXPECT_DOUBLE_EQ(values.FindValue("110011")->TodayValue, 1.2345);

    // Statistics: the second save replaces the first; LastYearIncome stays 0.
    CNewFundValue again = mon;
    again.WeekIncome = 1.5;
    again.TotalIncome = 88.25;
    again.IncomeSum44 = 7;
    ASSERT_TRUE(values.SaveNewFundValue(again));
    EXPECT_EQ(Count("SELECT * FROM T_New_Income WHERE FundID='110011'"), 1);
    ASSERT_TRUE(values.LoadNewFundValues());
    const CNewFundValue* v = values.FindValue("110011");
    ASSERT_NE(v, nullptr);
    EXPECT_DOUBLE_EQ(v->WeekIncome, 1.5);
    EXPECT_DOUBLE_EQ(v->TotalIncome, 88.25);
    EXPECT_EQ(v->IncomeSum44, 7);
    EXPECT_DOUBLE_EQ(v->TotalValue1, 3.5);
    EXPECT_EQ(Count("SELECT * FROM T_New_Income WHERE LastYearIncome<>0"), 0);

    // A newer history record keeps the stored 累计净值还 as it was, to the
    // last digit, and the statistics: the history carries neither.
    again.TotalValue1 = 1.1640;
    ASSERT_TRUE(values.SaveNewFundValue(again));
    CFundValue tue = Value("110011", At(2024, 1, 9), 1.25);
    ASSERT_TRUE(values.SaveIfNewer(tue));
    EXPECT_EQ(values.FindValue("110011")->TotalValue1, 1.1640);
    EXPECT_DOUBLE_EQ(values.FindValue("110011")->TotalIncome, 88.25);
    double stored = 0;
    ASSERT_TRUE(db.QueryDouble("SELECT TotalValue1 FROM T_New_Fund_Value WHERE FundID='110011'", stored));
    EXPECT_EQ(stored, 1.1640);
}

TEST_F(LatestValueTest, ClassDownloadStoresRecordsAndAdvancesVersion)
{
    Clock::Fix(At(2024, 1, 9, 18));
    AnswerValues("2/1", "V1", ValueRecord("2024-01-09", "110011", 1.5) + "|" +
                                  ValueRecord("2024-01-09", "110022", 2.5));
    // The figures of every field and the refresh that asks for nothing run
    // against the real service (ServeTest); here the answers it never gives.
    ASSERT_EQ(values.DownloadClassValues(1, true), kMarketOk) << values.GetLastError();
    std::string version;

    // Next evening both are stale: whole class, from the oldest value held
    // of it. A field count that is not a multiple of 20 stores nothing.
    Clock::Fix(At(2024, 1, 10, 18));
    AnswerValues("2/1", "V2", ValueRecord("2024-01-10", "110011", 1.6) + "|extra");
    EXPECT_EQ(values.DownloadClassValues(1, true), kMarketBadFormat);
    EXPECT_EQ(values.GetLastError(), "DownloadClassValues():数据格式错误");
    EXPECT_EQ(Sent("2/1").back(), "cmdtype=2&cmdid=1&data=20240109&loginid=u1");
    ASSERT_TRUE(GetSystemInfo(db, "NewFundValueNO", version));
    EXPECT_EQ(version, "V1");
    EXPECT_DOUBLE_EQ(values.FindValue("110011")->TodayValue, 1.5);

    // Cancelled while storing: nothing kept.
    AnswerValues("2/1", "V3", ValueRecord("2024-01-10", "110011", 1.7));
    EXPECT_EQ(values.DownloadClassValues(1, true, [](size_t, size_t) { return false; }), kMarketCancelled);
    double nav = 0;
    ASSERT_TRUE(db.QueryDouble("SELECT TodayValue FROM T_New_Fund_Value WHERE FundID='110011'", nav));
    EXPECT_DOUBLE_EQ(nav, 1.5);
    ASSERT_TRUE(GetSystemInfo(db, "NewFundValueNO", version));
    EXPECT_EQ(version, "V1");
}

TEST_F(LatestValueTest, SelectionOfFortyDownloadsTheFirstThirtyTwo)
{
    std::vector<std::string> selected;
    for (int i = 0; i < 40; ++i) selected.push_back(StrFormat("%06d", 100000 + i));
    test::RecordingPrompt prompt;
    prompt.answer = true;
    std::vector<std::string> downloaded;
    RunServerDownloadCommand(prompt, "127.0.0.1:8610", selected,
                             [&](const std::vector<std::string>& ids) { downloaded = ids; });
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.questions[0], "确认要从服务器 127.0.0.1:8610 下载选定基金的最新净值吗？");
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"一次最多可以下载32个基金"});
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
    EXPECT_DOUBLE_EQ(v.TodayValue, 1.05);
    EXPECT_DOUBLE_EQ(v.TotalValue, 3.21);
    EXPECT_DOUBLE_EQ(v.VarValue, 0.0055);
    EXPECT_EQ(v.ValueDate.Format(1), "2024-01-08");
    // (Four fields where five are due: CommandsTest.)
}

TEST_F(LatestValueTest, DisclosurePageAndLocalFetchRule)
{
    const std::string cell = "<td align=\"center\" height=\"20\">";
    std::string page = "<html><table><tr>" + cell + "净值日期</td>" + cell + "累计净值</td></tr><tr>" + cell +
                       " 2024-01-09 </td>" + cell + "1.2345</td>" + cell + "3.4567</td></tr></table></html>";
    stub.http.Get("/jjzx/jjjz.jsp", [&](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.get_param_value("fundCode") != "110022" ? Utf8ToGbk(page) : "<html></html>", "text/html");
    });
    values.SetDisclosureBase(stub.http.Base());
    ASSERT_TRUE(values.SaveNewFundValue(Value("110011", At(2024, 1, 8), 1.2)));
    // The page's figures against the real service: ServeTest. The day
    // change against the value held from the day before:
    ASSERT_TRUE(values.FetchDisclosureValue("110011"));
    EXPECT_NEAR(values.FindValue("110011")->VarPercent, 2.875, 1e-3);
    // Held from the Friday before the Tuesday page: no day change is known.
    ASSERT_TRUE(values.SaveNewFundValue(Value("184688", At(2024, 1, 5), 1.2)));
    ASSERT_TRUE(values.FetchDisclosureValue("184688"));
    EXPECT_EQ(values.FindValue("184688")->VarPercent, 0.0);
    EXPECT_EQ(values.FindValue("184688")->VarValue, 0.0);
    // A money-market fund keeps its 7-day yield.
    CNewFundValue money = Value("000009", At(2024, 1, 8), 0.65);
    money.VarPercent = 2.695;
    ASSERT_TRUE(values.SaveNewFundValue(money));
    ASSERT_TRUE(values.FetchDisclosureValue("000009"));
    EXPECT_EQ(values.FindValue("000009")->ValueDate.Format(1), "2024-01-09");
    EXPECT_DOUBLE_EQ(values.FindValue("000009")->VarPercent, 2.695);
    // A page without the marker changes nothing.
    EXPECT_FALSE(values.FetchDisclosureValue("110022"));
    EXPECT_EQ(values.FindValue("110022"), nullptr);
    // A cut page: the marker without its three cells.
    OleDate d;
    double nav, total;
    EXPECT_FALSE(ReadDisclosurePage(Utf8ToGbk(page.substr(0, page.find("1.2345"))), d, nav, total));

    std::vector<std::string> fetched;
    auto fetch = [&](const std::string& id) { fetched.push_back(id); };
    test::RecordingPrompt wed, evening, sunday;
    wed.answer = evening.answer = sunday.answer = true;
    RunLocalFetchCommand(wed, At(2024, 1, 10, 19, 59), {"110011"}, fetch);
    EXPECT_EQ(wed.messages, std::vector<std::string>{"请在20:00后再使用此功能获取"});
    EXPECT_TRUE(fetched.empty());
    RunLocalFetchCommand(evening, At(2024, 1, 10, 20, 0), {"110011", "110022"}, fetch);
    EXPECT_EQ(evening.questions, std::vector<std::string>{"确认要在本地获取选定基金的最新净值吗？"});
    EXPECT_EQ(fetched.size(), 2u);
    RunLocalFetchCommand(sunday, At(2024, 1, 7, 10), {}, fetch);
    EXPECT_EQ(sunday.messages, std::vector<std::string>{"请先选择基金。"});
}

// The sync, its versions and the withdrawal of a fund run against the real
// service (ServeTest); here the answers it never gives.
TEST_F(CatalogueTest, FundFieldsClassesAndFoldersAsSent)
{
    AnswerMsg("1/11", kFunds);
    // Folders: the third record runs past the end and is dropped.
    AnswerMsg("1/13", "7|我的收藏|2|110011|000009|8|关注|1|510050|9|坏|5|184688");
    CFundCatalogue cat(db);
    cat.SetSession(ctx, false);
    ASSERT_TRUE(cat.DownloadFundInfos());
    ASSERT_TRUE(cat.LoadFundGroups());
    int group = 0;
    EXPECT_TRUE(cat.GetFundGroup("510050", group));
    EXPECT_EQ(group, 8);
    EXPECT_FALSE(cat.GetFundGroup("184688", group));
    EXPECT_EQ(cat.FundGroups().size(), 2u);

    // Every listed fund's class: ServeTest; a code not in the list is open-end.
    EXPECT_EQ(cat.GetFundClass("999999"), 1);
}

TEST_F(CatalogueTest, MalformedOrFailedDownloadsChangeNothing)
{
    CFundCatalogue cat(db);
    cat.SetSession(ctx, false);
    AnswerMsg("1/1", kCompanies);
    ASSERT_TRUE(cat.DownloadFundCompanies());

    // 21 fields: not a multiple of 4.
    AnswerMsg("1/1", "0003|a|1|u|0004|b|1|u|0005|c|1|u|0006|d|1|u|0007|e|1|u|x");
    EXPECT_FALSE(cat.DownloadFundCompanies());
    EXPECT_EQ(cat.GetLastError(), "DownloadFundCompanies():数据格式错误");
    EXPECT_EQ(cat.Companies().size(), 2u);
    EXPECT_EQ(Count("SELECT * FROM T_Fund_Company"), 2);

    // A bad date in the last record rejects the whole answer.
    AnswerMsg("1/11", "110011|0001|a|a|1|1|4|u|2008-06-19|0|0|110022|0001|b|b|1|1|4|u|notadate|0|0");
    EXPECT_FALSE(cat.DownloadFundInfos());
    EXPECT_EQ(Count("SELECT * FROM T_Fund_Info"), 0);
}

TEST(CatalogueHelpers, NamesKeyListAndFolders)
{
    EXPECT_EQ(GetInvestTypeName(9), "股票");  // unknown kinds count as stock funds
    EXPECT_EQ(GetBankName(14), "");

    std::string path = "/tmp/vextal-fundkey-" + std::to_string(getpid()) + ".txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "110011\t易方达中小盘\r\n000009\t华夏\t多余\nbroken line\n510050\t上证50ETF";
    }
    std::map<std::string, std::string> keys;
    ASSERT_TRUE(LoadFundKeyList(path, keys));
    std::remove(path.c_str());
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys["110011"], "易方达中小盘");
    EXPECT_EQ(keys["510050"], "上证50ETF");
    EXPECT_FALSE(LoadFundKeyList(path, keys));

    // A negative or non-numeric count ends the reading.
    auto groups = ParseFundGroups({"1", "a", "1", "110011", "2", "b", "-1", "x"});
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].Members, std::vector<std::string>{"110011"});
    EXPECT_TRUE(ParseFundGroups({"1", "a", "zz", "110011"}).empty());
}

TEST_F(HistoryTest, IncrementalDownloadSendsStoredRangeAndUpserts)
{
    // The ranges sent and the whole-history rows run against the real
    // service (ServeTest); here the answers it never gives. A date already
    // stored is updated, not added.
    AnswerMsg("2/11", "2006-01-04|1.0000|1.0000|0|0|2007-03-30|1.5000|1.6000|0.5|0.0075");
    ASSERT_TRUE(history.IncrementalDownloadFund("110011")) << history.GetLastError();
    AnswerMsg("2/11", "2007-03-30|1.5100|1.6100|0.6|0.0085|2007-04-02|1.5200|1.6200|0.7|0.01");
    ASSERT_TRUE(history.IncrementalDownloadFund("110011"));
    EXPECT_EQ(Rows("110011"), 3);
    std::vector<CFundValue> list;
    ASSERT_EQ(history.GetFundValueHistory("110011", OleDate::FromParts(2007, 3, 1), OleDate::FromParts(2007, 12, 31),
                                          true, false, list),
              kMarketOk);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_DOUBLE_EQ(list[0].TodayValue, 1.51);

    // 11 fields: nothing stored, a negative result.
    AnswerMsg("2/11", "2007-04-03|1|1|0|0|2007-04-04|1|1|0|0|x");
    EXPECT_FALSE(history.IncrementalDownloadFund("110011"));
    EXPECT_EQ(Rows("110011"), 3);
    // No new records: nothing to do, not a failure.
    AnswerMsg("2/11", "");
    EXPECT_TRUE(history.IncrementalDownloadFund("110011"));

    // A fund the service does not know stays missing.
    AnswerMsg("2/11", "没有数据", -1);
    EXPECT_EQ(history.GetFundValueHistory("999999", OleDate(0), OleDate::FromParts(2024, 1, 9), false, true, list),
              kMarketRefused);
    history.SetSession(ctx, true);
    EXPECT_EQ(history.GetFundValueHistory("999999", OleDate(0), OleDate::FromParts(2024, 1, 9), false, true, list),
              kMarketMissing);

    // Deleting the NAVs leaves the dividends alone.
    ASSERT_TRUE(db.Execute("INSERT INTO T_Fund_Bonus(FundID,RecordDate,BonusDate,BonusValue) "
                           "VALUES('110011','2007-01-05 00:00:00','2007-01-08 00:00:00',0.05)"));
    ASSERT_TRUE(history.DeleteFundValues("110011"));
    EXPECT_EQ(Rows("110011"), 0);
    auto bonus = history.LoadFundBonus("110011", OleDate(0), OleDate::FromParts(2024, 1, 1));
    ASSERT_EQ(bonus.size(), 1u);
    EXPECT_DOUBLE_EQ(bonus[0].BonusValue, 0.05);
    EXPECT_FALSE(bonus[0].SubtractDate.IsValid());
}

TEST_F(HistoryTest, LatestValueRowsReachTheCachedHistory)
{
    AnswerMsg("1/11", "110011|0001|甲|甲|1|1|4|u|2008-06-19|0|0");
    cat.SetSession(ctx, false);
    ASSERT_TRUE(cat.DownloadFundInfos());
    AnswerMsg("2/11", "2024-01-04|1.0|1.0|0|0|2024-01-05|1.1|1.1|0|0");
    ASSERT_TRUE(history.IncrementalDownloadFund("110011"));
    ASSERT_EQ(history.CachedHistory("110011")->size(), 2u);
    AnswerValues("2/5", "", ValueRecord("2024-01-08", "110011", 1.2));
    ASSERT_EQ(latest.DownloadSelectedValues({"110011"}), kMarketOk);
    ASSERT_EQ(history.CachedHistory("110011")->size(), 3u);
    EXPECT_DOUBLE_EQ(history.CachedHistory("110011")->back().TodayValue, 1.2);
}
