// Market data against the real plindo-serve: the catalogue sync and a
// withdrawal, NAV history downloads, class and selected latest values with
// their return statistics, and the single-value questions. Program and
// service run on the same fixed clock; the expected figures come from the
// service's own market simulator with the same seed. Requests pass through a
// recording relay, so the tests see what the program sent.
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "MarketSimulator.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "db/DbTestUtil.h"
#include "db/Schema.h"
#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"
#include "market/NavHistory.h"
#include "market/NewValueCommands.h"
#include "net/LoopbackServer.h"
#include "support/RecordingPrompt.h"
#include "support/ServeFixture.h"

using namespace vextal;

namespace {

constexpr uint64_t kSeed = 7;
constexpr int kFunds = 200;

OleDate At(int y, int m, int d, int h = 0, int mi = 0, int s = 0) { return OleDate::FromParts(y, m, d, h, mi, s); }
std::string Day(int day) { return DateOfDay(day).Format(1); }

// Wednesday evening after the National Day week: that day's NAVs are out.
const OleDate kNow = At(2024, 10, 9, 21);
// The next evening, one more NAV day.
const OleDate kNext = At(2024, 10, 10, 21);

// The market objects as the document owns them after login.
struct Market {
    explicit Market(CAdoDatabase db) : catalogue(db), latest(db, catalogue), history(db, &latest) {}
    void SetSession(const CommandContext& ctx, const std::string& newestNav)
    {
        catalogue.SetSession(ctx, false);
        latest.SetSession(ctx, false);
        history.SetSession(ctx, false);
        latest.SetNewestNavDate(newestNav);
    }
    CFundCatalogue catalogue;
    CLatestValueCache latest;
    CNavHistory history;
};

class ServeTest : public test::TempDirTest {
protected:
    static void SetUpTestSuite() { s_market = &test::SimulatedMarket(kSeed, kFunds); }
    void SetUp() override
    {
        TempDirTest::SetUp();
        test::UseDirectHttp();
        MakeDatabase(db);
        relay.Post(std::string("/") + kCommandPath, [this](const httplib::Request& req, httplib::Response& res) {
            std::string target, answer;
            {
                std::lock_guard<std::mutex> lock(mutex);
                target = serviceUrl;
            }
            if (HttpRequest(target, "POST", answer, req.body, "") <= 0) res.status = 502;
            res.set_content(answer, "text/xml; charset=gbk");
        });
        relay.Start();
    }
    void TearDown() override
    {
        service.reset();
        Clock::Release();
        SetHttpConfig({});
        TempDirTest::TearDown();
    }

    // (Re)starts the service at `now`, fixes the program's clock there and
    // logs in through the relay: `ctx` and the login answer's fields are
    // then those of it.
    void Serve(const OleDate& now)
    {
        service.reset();
        service = std::make_unique<test::RealService>(test::ServeOptions{kSeed, kFunds, now.Format(0)});
        VEXTAL_ASSERT_STARTED(service);
        {
            std::lock_guard<std::mutex> lock(mutex);
            serviceUrl = service->CommandUrl();
        }
        Clock::Fix(now);
        ctx = CommandContext{};
        ctx.commandUrl = MakeCommandUrl(relay.Base());
        CommandReply login = SendLogin(ctx, "demo", "demo123", "3.25");
        ASSERT_TRUE(login.ok()) << login.error;
        ASSERT_EQ(login.fields.size(), 9u);
        ctx.loginId = login.serverId;
        companyVersion = login.fields[5];
        fundVersion = login.fields[6];
        newestNav = login.fields[7];
    }
    void Attach(Market& m) { m.SetSession(ctx, newestNav); }

    // The `data` texts the program sent with one command ("type/id").
    std::vector<std::string> Sent(const std::string& cmd)
    {
        std::string prefix = "cmdtype=" + cmd.substr(0, cmd.find('/')) + "&cmdid=" + cmd.substr(cmd.find('/') + 1) +
                             "&data=";
        std::vector<std::string> out;
        for (const test::SeenRequest& r : relay.Seen())
            if (r.body.rfind(prefix, 0) == 0)
                out.push_back(r.body.substr(prefix.size(), r.body.find("&loginid=") - prefix.size()));
        return out;
    }
    int Count(const std::string& sql) { return db.GetRecordCount(sql); }
    int Rows(const std::string& table, const std::string& fund)
    {
        return Count("SELECT * FROM " + table + " WHERE FundID='" + fund + "'");
    }
    std::string SystemInfo(const std::string& item)
    {
        std::string v;
        return GetSystemInfo(db, item, v) ? v : "(none)";
    }

    // Funds of the simulated market by a condition; established before 2015
    // and never withdrawn unless the condition says otherwise.
    static std::vector<const SimFund*> Pick(const std::function<bool(const SimFund&)>& pred)
    {
        std::vector<const SimFund*> out;
        for (const SimFund& f : s_market->Funds())
            if (pred(f)) out.push_back(&f);
        return out;
    }
    static const SimFund& Established(const std::function<bool(const SimFund&)>& pred)
    {
        return test::EstablishedFund(*s_market, pred);
    }
    static LatestValue LatestAt(const SimFund& f, const OleDate& now)
    {
        LatestValue v;
        EXPECT_TRUE(s_market->Latest(f, now, v)) << f.code;
        return v;
    }

    // A stored latest value against the simulator's, to the decimals the
    // service sends.
    static void ExpectValue(const CNewFundValue& got, const SimFund& f, const LatestValue& v)
    {
        SCOPED_TRACE(f.code);
        EXPECT_EQ(got.ValueDate.Format(0), Day(v.rec.day) + " 00:00:00");
        EXPECT_NEAR(got.TodayValue, v.rec.nav, 6e-5);
        if (!f.IsMoneyMarket()) {
            EXPECT_NEAR(got.TotalValue, v.rec.acc, 6e-5);
            EXPECT_NEAR(got.VarValue, v.rec.var, 6e-5);
            EXPECT_NEAR(got.TotalValue1, v.adjusted, 6e-5);
        }
        // Percentages, sent with two or three decimals.
        const std::pair<float, double> percents[] = {
            {got.VarPercent, v.rec.pct},         {got.WeekVarPercent, v.week},     {got.MonthVarPercent, v.month},
            {got.WeekIncome, v.week},            {got.MonthIncome, v.month},       {got.OneMonthVar, v.month},
            {got.TwoMonthIncome, v.twoMonth},    {got.ThreeMonthVar, v.threeMonth}, {got.SixMonthIncome, v.sixMonth},
            {got.OneYearIncome, v.oneYear},      {got.ThisYearIncome, v.thisYear}, {got.YearAvgIncome, v.yearAvg},
            {got.TotalIncome, v.total}};
        for (size_t i = 0; i < std::size(percents); ++i)
            EXPECT_NEAR(percents[i].first, percents[i].second, 0.006) << "percentage " << i;
        EXPECT_EQ(got.IncomeSum22, v.sum22);
        EXPECT_EQ(got.IncomeSum44, v.sum44);
    }

    static inline const CMarketSimulator* s_market = nullptr;
    CAdoDatabase db;
    test::LoopbackServer relay;
    std::mutex mutex;
    std::string serviceUrl;
    std::unique_ptr<test::RealService> service;
    CommandContext ctx;
    std::string companyVersion, fundVersion, newestNav;
};

}  // namespace

TEST_F(ServeTest, CatalogueSyncStoresServerVersionsAndDropsWithdrawnFund)
{
    // The fund withdrawn last before kNow; on its last day it is still listed.
    const SimFund* gone = nullptr;
    for (const SimFund* f : Pick([](const SimFund& f) {
             return f.withdrawDay && f.withdrawDay + 1 < DayNumber(kNow) && f.createDay + 60 < f.withdrawDay;
         }))
        if (!gone || f->withdrawDay > gone->withdrawDay) gone = f;
    ASSERT_NE(gone, nullptr) << "the simulated market has no withdrawn fund";
    const SimFund& kept = Established([](const SimFund& f) { return f.fundType == 1 && !f.IsMoneyMarket(); });
    const OleDate lastDay = DateOfDay(gone->withdrawDay).AddDays(21.0 / 24);
    ASSERT_NO_FATAL_FAILURE(Serve(lastDay));

    EXPECT_EQ(fundVersion, s_market->FundListVersion(lastDay));
    Market first(db);
    Attach(first);
    ASSERT_TRUE(first.catalogue.SyncFundCatalogue(companyVersion, fundVersion));
    EXPECT_EQ(SystemInfo("FundCorVersion"), companyVersion);
    EXPECT_EQ(SystemInfo("FundInfoVersion"), fundVersion);
    const int today = DayNumber(lastDay);
    size_t listed = Pick([&](const SimFund& f) { return f.createDay <= today && !s_market->IsWithdrawn(f, today); })
                        .size();
    EXPECT_EQ(first.catalogue.Funds().size(), listed);
    EXPECT_EQ(Count("SELECT * FROM T_Fund_Info"), static_cast<int>(listed));
    // Every fund lands in the class the service lists it under.
    for (const auto& [id, info] : first.catalogue.Funds())
        EXPECT_EQ(first.catalogue.GetFundClass(id), CMarketSimulator::FundClass(*s_market->FindFund(id))) << id;
    CFundInfo info;
    ASSERT_TRUE(first.catalogue.FindFund(kept.code, info));
    EXPECT_EQ(info.FundShortName, kept.shortName);
    EXPECT_EQ(info.FundURL, kept.url);
    EXPECT_EQ(info.BankID, kept.bankId);
    EXPECT_EQ(info.InvestTypeID, kept.investType);
    EXPECT_EQ(info.CreateDate.Format(1), Day(kept.createDay));
    EXPECT_NEAR(info.OldFundCount, kept.oldCount, 0.006);
    ASSERT_TRUE(first.catalogue.FindFund(gone->code, info));
    ASSERT_EQ(Sent("1/1").size(), 1u);
    ASSERT_EQ(Sent("1/11").size(), 1u);

    // (The next login with the same versions loading locally: ServiceStartTest.)
    // Both funds get data in every table that holds fund data.
    for (const SimFund* f : {gone, &kept}) {
        ASSERT_TRUE(first.history.IncrementalDownloadFund(f->code)) << first.history.GetLastError();
        ASSERT_EQ(first.latest.DownloadSelectedValues({f->code}), kMarketOk) << first.latest.GetLastError();
        for (const char* sql : {"INSERT INTO T_Fund_Bonus(FundID,RecordDate,BonusDate,BonusValue) "
                                "VALUES('%s','2010-01-04 00:00:00','2010-01-06 00:00:00',0.1)",
                                "INSERT INTO T_Fund_Invest(FundID,LastDate,StockID,InvestPercent) "
                                "VALUES('%s','2010-01-04 00:00:00','600000',5.5)",
                                "INSERT INTO T_FundInfo_Map(FundID,ValueDate,BaseValue,VarFlag) "
                                "VALUES('%s','2010-01-04 00:00:00',1,1)",
                                "INSERT INTO T_MyFund_Focus(FundID) VALUES('%s')"})
            ASSERT_TRUE(db.Execute(StrFormat(sql, f->code.c_str()))) << db.GetLastError();
    }
    const char* const tables[] = {"T_Fund_Info",    "T_Fund_Bonus",   "T_Fund_Invest",    "T_Fund_Value",
                                  "T_FundInfo_Map", "T_MyFund_Focus", "T_New_Fund_Value", "T_New_Income"};
    for (const char* t : tables) ASSERT_GT(Rows(t, gone->code), 0) << t;
    const int keptHistory = Rows("T_Fund_Value", kept.code);

    // After the withdrawal the service announces a newer fund list that
    // names the fund without a company: it goes from every table.
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    EXPECT_GT(fundVersion, SystemInfo("FundInfoVersion"));
    Market later(db);
    Attach(later);
    ASSERT_TRUE(later.catalogue.SyncFundCatalogue(companyVersion, fundVersion));
    EXPECT_EQ(Sent("1/11").size(), 2u);
    EXPECT_EQ(SystemInfo("FundInfoVersion"), fundVersion);
    EXPECT_FALSE(later.catalogue.FindFund(gone->code, info));
    ASSERT_TRUE(later.latest.LoadNewFundValues());
    EXPECT_EQ(later.latest.FindValue(gone->code), nullptr);
    for (const char* t : tables) {
        EXPECT_EQ(Rows(t, gone->code), 0) << t;
        EXPECT_GT(Rows(t, kept.code), 0) << t;
    }
    EXPECT_EQ(Rows("T_Fund_Value", kept.code), keptHistory);
    ASSERT_NE(later.latest.FindValue(kept.code), nullptr);
    EXPECT_NE(later.latest.FindValue(kept.code)->TotalIncome, 0.0f);
}

namespace {

// The stored history of a fund, every figure as stored.
std::vector<std::string> StoredHistory(CNavHistory& history, const std::string& fund)
{
    std::vector<std::string> rows;
    for (const CFundValue& v : history.LoadFundValues(fund, At(1990, 1, 1), At(2100, 1, 1)))
        rows.push_back(StrFormat("%s %.6f %.6f %.6f %.6f", v.ValueDate.Format(0).c_str(), v.TodayValue, v.TotalValue,
                                 v.VarPercent, v.VarValue));
    return rows;
}

}  // namespace

TEST_F(ServeTest, FundHistoryDownloadStoresWholeRangeAndRepeatsIdentically)
{
    const SimFund& open = Established([](const SimFund& f) { return f.fundType == 1 && !f.IsMoneyMarket(); });
    const SimFund& closed = Established([](const SimFund& f) { return f.fundType == 2; });
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    Market m(db);
    Attach(m);
    ASSERT_TRUE(m.catalogue.SyncFundCatalogue(companyVersion, fundVersion));

    for (const SimFund* f : {&open, &closed}) {
        SCOPED_TRACE(f->code);
        ASSERT_TRUE(m.history.IncrementalDownloadFund(f->code)) << m.history.GetLastError();
        // Nothing stored: from the first download date to now, flag 0.
        EXPECT_EQ(Sent("2/11").back(), f->code + "|1990-01-01|2024-10-09|0");
        std::vector<NavRecord> published = s_market->Published(*f, kNow, 0, DayNumber(kNow));
        ASSERT_GT(published.size(), 100u);
        std::vector<CFundValue> stored = m.history.LoadFundValues(f->code, At(1990, 1, 1), kNow);
        ASSERT_EQ(stored.size(), published.size());
        for (size_t i = 0; i < stored.size(); ++i) {
            ASSERT_EQ(stored[i].ValueDate.Format(1), Day(published[i].day)) << i;
            EXPECT_NEAR(stored[i].TodayValue, published[i].nav, 6e-5) << i;
            EXPECT_NEAR(stored[i].TotalValue, published[i].acc, 6e-5) << i;
            EXPECT_NEAR(stored[i].VarPercent, published[i].pct, 0.006) << i;
        }
        OleDate first, last;
        ASSERT_TRUE(m.history.GetFundValueRange(f->code, first, last));
        EXPECT_EQ(first.Format(1), Day(published.front().day));
        EXPECT_EQ(last.Format(1), Day(published.back().day));
        // The newest record became the latest value, figures from the history.
        const CNewFundValue* newest = m.latest.FindValue(f->code);
        ASSERT_NE(newest, nullptr);
        EXPECT_EQ(newest->ValueDate.Format(1), Day(published.back().day));
        EXPECT_NEAR(newest->TodayValue, published.back().nav, 6e-5);
        // The cache answers a range request with the stored records.
        std::vector<CFundValue> range;
        ASSERT_EQ(m.history.GetFundValueHistory(f->code, At(2024, 9, 1), At(2024, 9, 30), true, false, range),
                  kMarketOk);
        EXPECT_EQ(range.size(), s_market->Published(*f, kNow, DayNumber(At(2024, 9, 1)), DayNumber(At(2024, 9, 30)))
                                    .size());

        // A second download sends the stored first and last dates with flag
        // 1 and leaves the history exactly as it was.
        std::vector<std::string> before = StoredHistory(m.history, f->code);
        size_t requests = Sent("2/11").size();
        ASSERT_TRUE(m.history.IncrementalDownloadFund(f->code)) << m.history.GetLastError();
        ASSERT_EQ(Sent("2/11").size(), requests + 1);
        EXPECT_EQ(Sent("2/11").back(), f->code + "|" + first.Format(1) + "|" + last.Format(1) + "|1");
        EXPECT_EQ(StoredHistory(m.history, f->code), before);
    }
}

namespace {

// The latest-value rows with their statistics, as stored: one text a row.
std::vector<std::string> StoredLatest(CAdoDatabase& db)
{
    constexpr size_t kColumns = 7;
    db.OpenRecordset("SELECT v.FundID,v.ValueDate,v.TodayValue,v.TotalValue1,v.WeekVarPercent,i.TotalIncome,"
                     "i.IncomeSum44 FROM T_New_Fund_Value v LEFT JOIN T_New_Income i ON i.FundID=v.FundID "
                     "ORDER BY v.FundID");
    std::vector<std::string> fields = SplitText(db.RecordsetToText(true), '|'), rows;
    for (size_t i = 0; i + kColumns <= fields.size(); i += kColumns) {
        std::string row = fields[i];
        for (size_t c = 1; c < kColumns; ++c) row += " " + fields[i + c];
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST_F(ServeTest, ClassDownloadAdvancesVersionAndStatisticsReload)
{
    // The open-end list (2/1) also carries the collective products.
    auto openEnd = [](const OleDate& now) {
        std::map<std::string, const SimFund*> funds;
        LatestValue v;
        for (const SimFund* f : Pick([&](const SimFund& f) {
                 int c = CMarketSimulator::FundClass(f);
                 return (c == 1 || c == 5) && !s_market->IsWithdrawn(f, DayNumber(now)) && s_market->Latest(f, now, v);
             }))
            funds[f->code] = f;
        return funds;
    };
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    Market m(db);
    Attach(m);
    ASSERT_TRUE(m.catalogue.SyncFundCatalogue(companyVersion, fundVersion));
    // A fund whose history ends on the stored day gets the next NAV appended.
    // Its value is current, the class's other funds have none: the list,
    // opened without refresh after the values were loaded, still asks.
    ASSERT_TRUE(m.latest.LoadNewFundValues());
    const SimFund& tracked = Established([](const SimFund& f) { return f.fundType == 1 && f.investType == 2; });
    ASSERT_TRUE(m.history.IncrementalDownloadFund(tracked.code));

    const auto want = openEnd(kNow);
    ASSERT_GT(want.size(), 50u);
    ASSERT_EQ(m.latest.DownloadClassValues(1, false), kMarketOk) << m.latest.GetLastError();
    ASSERT_EQ(Sent("2/1").size(), 1u);
    EXPECT_EQ(Sent("2/1")[0], "");  // no version stored yet: the whole class
    EXPECT_EQ(SystemInfo("NewFundValueNO"), "20241009");
    EXPECT_EQ(m.latest.Values().size(), want.size());
    EXPECT_EQ(m.latest.ClassValues(1).size() + m.latest.ClassValues(5).size(), want.size());
    for (const auto& [code, f] : want) {
        const CNewFundValue* got = m.latest.FindValue(code);
        ASSERT_NE(got, nullptr) << code;
        ExpectValue(*got, *f, LatestAt(*f, kNow));
        EXPECT_TRUE(m.latest.IsValueCurrent(got->ValueDate, m.catalogue.GetFundClass(code))) << code;
    }
    // One statistics row per value, dated with its NAV.
    EXPECT_EQ(Count("SELECT * FROM T_New_Income"), static_cast<int>(want.size()));
    EXPECT_EQ(Count("SELECT * FROM T_New_Income WHERE LastYearIncome<>0"), 0);
    EXPECT_EQ(Count("SELECT * FROM T_New_Income i,T_New_Fund_Value v WHERE i.FundID=v.FundID AND "
                    "i.LastCalcDate=v.ValueDate"),
              static_cast<int>(want.size()));

    // The next login reads values and statistics back unchanged.
    {
        Market next(db);
        Attach(next);
        ASSERT_TRUE(next.catalogue.LoadFundInfos());
        ASSERT_TRUE(next.latest.LoadNewFundValues());
        ASSERT_EQ(next.latest.Values().size(), want.size());
        for (const auto& [code, f] : want) ExpectValue(*next.latest.FindValue(code), *f, LatestAt(*f, kNow));
    }

    // Everything is current: a refresh asks for nothing.
    ASSERT_EQ(m.latest.DownloadClassValues(1, true), kMarketOk);
    EXPECT_EQ(Sent("2/1").size(), 1u);
    EXPECT_TRUE(Sent("2/5").empty());

    // Next day before the evening NAVs, without an announced NAV day the
    // values look stale: the class is asked for from the stored version,
    // and the service has nothing newer.
    const std::vector<std::string> before = StoredLatest(db);
    ASSERT_NO_FATAL_FAILURE(Serve(At(2024, 10, 10, 19)));
    m.SetSession(ctx, "");
    ASSERT_EQ(m.latest.DownloadClassValues(1, true), kMarketOk) << m.latest.GetLastError();
    ASSERT_EQ(Sent("2/1").size(), 2u);
    EXPECT_EQ(Sent("2/1").back(), "20241009");
    EXPECT_EQ(StoredLatest(db), before);
    EXPECT_EQ(SystemInfo("NewFundValueNO"), "20241009");

    // That evening the values newer than the stored version replace their
    // rows; no other row changes.
    ASSERT_NO_FATAL_FAILURE(Serve(kNext));
    ASSERT_EQ(newestNav, "2024-10-10");
    Attach(m);
    ASSERT_EQ(m.latest.DownloadClassValues(1, true), kMarketOk) << m.latest.GetLastError();
    EXPECT_EQ(Sent("2/1").back(), "20241009");
    EXPECT_EQ(SystemInfo("NewFundValueNO"), "20241010");
    std::map<std::string, std::string> old;
    for (const std::string& row : before) old[row.substr(0, 6)] = row;
    size_t changed = 0;
    for (const std::string& row : StoredLatest(db)) {
        std::string code = row.substr(0, 6);
        const SimFund* f = s_market->FindFund(code);
        LatestValue v;
        if (s_market->Latest(*f, kNext, v) && v.rec.day > DayNumber(kNow) && !s_market->IsWithdrawn(*f, DayNumber(kNext))) {
            ++changed;
            ExpectValue(*m.latest.FindValue(code), *f, v);
            EXPECT_TRUE(m.latest.IsValueCurrent(m.latest.FindValue(code)->ValueDate, m.catalogue.GetFundClass(code)));
        } else {
            EXPECT_EQ(row, old[code]);
        }
    }
    EXPECT_GT(changed, 50u);
    EXPECT_EQ(StoredLatest(db).size(), before.size() + (openEnd(kNext).size() - want.size()));
    // The history that ended on the Wednesday now ends on the Thursday.
    OleDate first, last;
    ASSERT_TRUE(m.history.GetFundValueRange(tracked.code, first, last));
    EXPECT_EQ(last.Format(1), "2024-10-10");
    std::vector<CFundValue> thursday = m.history.LoadFundValues(tracked.code, At(2024, 10, 10), At(2024, 10, 10));
    ASSERT_EQ(thursday.size(), 1u);
    EXPECT_NEAR(thursday[0].TodayValue, LatestAt(tracked, kNext).rec.nav, 6e-5);
}

TEST_F(ServeTest, SelectedSingleAndTradeValuesMatchTheService)
{
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    Market m(db);
    Attach(m);
    ASSERT_TRUE(m.catalogue.SyncFundCatalogue(companyVersion, fundVersion));

    // 40 selected funds of every class: the first 32 go out, in order.
    std::vector<std::string> selected;
    for (const SimFund* f : Pick([](const SimFund& f) { return f.createDay < DayNumber(kNow) - 30 && !f.withdrawDay; }))
        if (selected.size() < 40) selected.push_back(f->code);
    ASSERT_EQ(selected.size(), 40u);
    ASSERT_EQ(m.latest.DownloadSelectedValues(selected), kMarketOk) << m.latest.GetLastError();
    std::vector<std::string> first32(selected.begin(), selected.begin() + 32);
    ASSERT_EQ(Sent("2/5").size(), 1u);
    EXPECT_EQ(Sent("2/5")[0], JoinFields(first32));
    EXPECT_EQ(m.latest.Values().size(), 32u);
    std::set<int> classes;
    for (const std::string& code : first32) {
        const SimFund& f = *s_market->FindFund(code);
        classes.insert(CMarketSimulator::FundClass(f));
        ASSERT_NE(m.latest.FindValue(code), nullptr) << code;
        ExpectValue(*m.latest.FindValue(code), f, LatestAt(f, kNow));
    }
    EXPECT_GE(classes.size(), 4u);

    // The latest NAV of one fund: asked once, then answered from the cache
    // for a minute.
    const SimFund& fund = Established([](const SimFund& f) { return f.fundType == 1 && f.investType == 1; });
    const LatestValue latest = LatestAt(fund, kNow);
    CFundValue v;
    std::string error;
    ASSERT_TRUE(m.latest.GetFundNewValueFormServer(fund.code, v, error)) << error;
    EXPECT_EQ(v.ValueDate.Format(1), "2024-10-09");
    EXPECT_NEAR(v.TodayValue, latest.rec.nav, 6e-5);
    EXPECT_NEAR(v.TotalValue, latest.rec.acc, 6e-5);
    EXPECT_NEAR(v.VarPercent, latest.rec.pct, 0.006);
    EXPECT_NEAR(v.VarValue, latest.rec.var, 6e-5);
    m.latest.SetNewestNavDate("");  // only the age decides from here
    Clock::Fix(kNow.AddSeconds(60));
    ASSERT_TRUE(m.latest.GetFundNewValueFormServer(fund.code, v, error));
    EXPECT_EQ(Sent("2/22").size(), 1u);
    Clock::Fix(kNow.AddSeconds(61));
    ASSERT_TRUE(m.latest.GetFundNewValueFormServer(fund.code, v, error)) << error;
    EXPECT_EQ(Sent("2/22").size(), 2u);
    EXPECT_NEAR(v.TodayValue, latest.rec.nav, 6e-5);
    Clock::Fix(kNow);

    // Real-time value after the evening NAV: the NAV itself.
    ASSERT_TRUE(m.latest.GetRealtimeValueFormServer(fund.code, v, error)) << error;
    EXPECT_EQ(v.ValueDate.Format(1), "2024-10-09");
    EXPECT_NEAR(v.TodayValue, latest.rec.nav, 6e-5);

    // The NAV that confirms a trade (its days are checked at the service):
    // from 15:00 the next trading day's; not yet published gives the
    // service's text.
    struct Trade {
        OleDate at;
        const char* navDay;
    } trades[] = {{At(2024, 10, 8, 15), "2024-10-09"}, {At(2024, 10, 9, 15), nullptr}};
    for (const Trade& t : trades) {
        SCOPED_TRACE(t.at.Format(0));
        double nav = 0;
        int day = 0;
        std::string refusal;
        bool published = s_market->TradeNav(fund, t.at, kNow, nav, day, refusal);
        double got = 0;
        OleDate gotDay;
        bool ok = m.latest.GetFundTradeValueFormServer(fund.code, t.at, got, gotDay, error);
        ASSERT_EQ(ok, t.navDay != nullptr) << error;
        ASSERT_EQ(ok, published);
        if (ok) {
            EXPECT_EQ(gotDay.Format(1), t.navDay);
            EXPECT_NEAR(got, nav, 6e-5);
        } else {
            EXPECT_EQ(error, "2024-10-10的基金净值尚未公布，请在当日20:00以后确认交易");
        }
    }

    // The value cache of held funds: unknown codes are left out.
    const SimFund& money = Established([](const SimFund& f) { return f.IsMoneyMarket(); });
    ASSERT_TRUE(m.latest.InitFundValueCacheFromServer({money.code, "999999"}, error)) << error;
    ASSERT_TRUE(m.latest.GetLatestNav(money.code, v));
    const LatestValue moneyLatest = LatestAt(money, kNow);
    EXPECT_EQ(v.ValueDate.Format(1), Day(moneyLatest.rec.day));
    EXPECT_NEAR(v.TodayValue, moneyLatest.rec.nav, 6e-5);
    EXPECT_NEAR(v.VarPercent, moneyLatest.rec.pct, 6e-4);
    EXPECT_FALSE(m.latest.GetLatestNav("999999", v));
}

TEST_F(ServeTest, RealtimeValueDuringTradingIsTheEstimate)
{
    const OleDate morning = At(2024, 10, 10, 10, 30);
    ASSERT_NO_FATAL_FAILURE(Serve(morning));
    Market m(db);
    Attach(m);
    const SimFund& fund = Established([](const SimFund& f) { return f.fundType == 1 && f.HoldsStocks(); });
    double nav = 0, pct = 0;
    ASSERT_TRUE(s_market->EstimateAt(fund, morning, nav, pct));
    CFundValue v;
    std::string error;
    ASSERT_TRUE(m.latest.GetRealtimeValueFormServer(fund.code, v, error)) << error;
    EXPECT_EQ(v.ValueDate.Format(0), "2024-10-10 10:30:00");
    EXPECT_NEAR(v.TodayValue, nav, 6e-5);
    EXPECT_NEAR(v.VarPercent, pct, 0.006);
    EXPECT_NEAR(v.VarValue, nav - LatestAt(fund, morning).rec.nav, 6e-5);
}

TEST_F(ServeTest, DisclosurePageValueIsStored)
{
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    const SimFund& fund = Established([](const SimFund& f) { return f.fundType == 1 && !f.IsMoneyMarket(); });
    Market m(db);
    Attach(m);
    m.latest.SetDisclosureBase(service->Base());
    ASSERT_TRUE(m.latest.FetchDisclosureValue(fund.code)) << m.latest.GetLastError();
    const LatestValue latest = LatestAt(fund, kNow);
    const CNewFundValue* v = m.latest.FindValue(fund.code);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->ValueDate.Format(1), Day(latest.rec.day));
    EXPECT_NEAR(v->TodayValue, latest.rec.nav, 6e-5);
    EXPECT_NEAR(v->TotalValue, latest.rec.acc, 6e-5);
}

namespace {

// The funds of a class whose stored value is not the service's latest at `now`.
std::vector<std::string> Behind(const CMarketSimulator& market, CLatestValueCache& latest, int cls, const OleDate& now)
{
    std::vector<std::string> out;
    for (const CNewFundValue* v : latest.ClassValues(cls)) {
        const SimFund* f = market.FindFund(v->FundID);
        LatestValue want;
        if (f && market.Latest(*f, now, want) && v->ValueDate.Format(1) != Day(want.rec.day))
            out.push_back(v->FundID + " " + v->ValueDate.Format(1));
    }
    return out;
}

}  // namespace

TEST_F(ServeTest, EveningNavsArriveWithinTheSession)
{
    // Thursday 10:00: the login names Wednesday as the newest NAV day.
    ASSERT_NO_FATAL_FAILURE(Serve(At(2024, 10, 10, 10)));
    const std::string loginNewest = newestNav;
    ASSERT_EQ(loginNewest, "2024-10-09");
    Market m(db);
    Attach(m);
    ASSERT_TRUE(m.catalogue.SyncFundCatalogue(companyVersion, fundVersion));
    ASSERT_EQ(m.latest.DownloadClassValues(1, false), kMarketOk);
    // Before the evening publication a refresh has nothing to ask.
    Clock::Fix(At(2024, 10, 10, 19, 59));
    ASSERT_EQ(m.latest.DownloadClassValues(1, true), kMarketOk);
    EXPECT_EQ(Sent("2/1").size(), 1u);
    EXPECT_TRUE(Sent("2/5").empty());

    // The same session at 21:00 (the service restarted at that hour, the
    // program still knowing only the login's day): Thursday's NAVs arrive.
    const OleDate evening = At(2024, 10, 10, 21);
    ASSERT_NO_FATAL_FAILURE(Serve(evening));
    m.SetSession(ctx, loginNewest);
    ASSERT_EQ(m.latest.DownloadClassValues(1, true), kMarketOk) << m.latest.GetLastError();
    EXPECT_EQ(Behind(*s_market, m.latest, 1, evening), std::vector<std::string>{});
    EXPECT_EQ(m.latest.ClassValues(1).front()->ValueDate.Format(1), "2024-10-10");
    // The answer named Thursday: the next refresh asks for nothing.
    const size_t requests = relay.Seen().size();
    ASSERT_EQ(m.latest.DownloadClassValues(1, true), kMarketOk);
    EXPECT_EQ(relay.Seen().size(), requests);
}

// The lists other than the open-end one keep the stored version and catch
// up with the next day's values: the money-market list directly, the
// ETF/LOF list through the command that asks first.
TEST_F(ServeTest, OtherClassListsCatchUpWithTheService)
{
    test::RecordingPrompt prompt;
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    Market m(db);
    Attach(m);
    ASSERT_TRUE(m.catalogue.SyncFundCatalogue(companyVersion, fundVersion));
    for (int cls : {2, 4}) {
        ASSERT_EQ(m.latest.DownloadClassValues(cls, false), kMarketOk) << cls;
        ASSERT_FALSE(m.latest.ClassValues(cls).empty()) << cls;
    }

    ASSERT_NO_FATAL_FAILURE(Serve(kNext));
    Attach(m);
    ASSERT_EQ(m.latest.DownloadClassValues(2, true), kMarketOk) << m.latest.GetLastError();
    int rc = 1;
    auto download = [&](bool refresh) { rc = m.latest.DownloadClassValues(4, refresh); };
    prompt.answer = false;
    RunIncrementalValuesCommand(prompt, download);
    EXPECT_EQ(rc, 1);
    prompt.answer = true;
    RunIncrementalValuesCommand(prompt, download);
    EXPECT_EQ(prompt.questions, std::vector<std::string>(2, "确认要从服务器增量下载基金最新净值吗(一次最多可增量更新32个基金)？"));
    EXPECT_EQ(rc, kMarketOk) << m.latest.GetLastError();
    EXPECT_EQ(Sent("2/4").size(), 2u);
    for (int cls : {2, 4}) {
        EXPECT_EQ(Sent(cls == 2 ? "2/2" : "2/4").back(), "20241009");
        EXPECT_EQ(Behind(*s_market, m.latest, cls, kNext), std::vector<std::string>{}) << cls;
        EXPECT_TRUE(m.latest.IsValueCurrent(m.latest.ClassValues(cls).front()->ValueDate, cls)) << cls;
    }
    EXPECT_EQ(SystemInfo("NewFundValueNO"), "(none)");  // only the open-end list moves the version
}

TEST_F(ServeTest, IndexHistoryReachesTheNewestDay)
{
    ASSERT_NO_FATAL_FAILURE(Serve(At(2024, 9, 27, 21)));
    Market m(db);
    Attach(m);
    // Nothing stored and online: a range request downloads it.
    std::vector<CIndexValue> range;
    ASSERT_EQ(m.history.GetIndexValueHistory("399001", At(2024, 9, 1), At(2024, 9, 30), false, false, range),
              kMarketOk)
        << m.history.GetLastError();
    EXPECT_EQ(range.size(), s_market->IndexHistory(1, At(2024, 9, 27, 21), DayNumber(At(2024, 9, 1)),
                                                   DayNumber(At(2024, 9, 30)))
                                .size());
    ASSERT_FALSE(range.empty());
    EXPECT_EQ(range.back().ValueDate.Format(1), "2024-09-27");

    ASSERT_TRUE(m.history.IncrementalDownloadIndex(3)) << m.history.GetLastError();
    EXPECT_EQ(Sent("1/21").back(), "1990-01-01 01:01:01|2024-09-27 21:00:00|3|399300");
    OleDate first, last;
    ASSERT_TRUE(m.history.GetIndexValueRange("399300", first, last));
    EXPECT_EQ(last.Format(1), "2024-09-27");
    const size_t before = m.history.LoadIndexValues("399300", first, last).size();

    // Two weeks later the incremental download adds the days since.
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    Attach(m);
    ASSERT_TRUE(m.history.IncrementalDownloadIndex(3)) << m.history.GetLastError();
    // From the last stored day (upserted again) to now.
    EXPECT_EQ(Sent("1/21").back(), "2024-09-27 00:00:00|2024-10-09 21:00:00|3|399300");
    ASSERT_TRUE(m.history.GetIndexValueRange("399300", first, last));
    EXPECT_EQ(last.Format(1), "2024-10-09");
    std::vector<IndexRecord> want = s_market->IndexHistory(2, kNow, 0, DayNumber(kNow));
    std::vector<CIndexValue> got = m.history.LoadIndexValues("399300", first, last);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_GT(got.size(), before);
    EXPECT_NEAR(got.back().IndexValue, want.back().value, 0.006);
}

TEST_F(ServeTest, MirrorDownloadWorksWhileTheMainServiceIsDown)
{
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    const SimFund& fund = Established([](const SimFund& f) { return f.fundType == 1 && !f.IsMoneyMarket(); });
    Market m(db);
    const std::string mirror = relay.Base();
    const std::string mainServer = "http://127.0.0.1:9/";  // nothing listens there
    ctx.commandUrl = MakeCommandUrl(mainServer);
    Attach(m);
    ASSERT_EQ(MirrorServer({mainServer, mirror}, mainServer), mirror);
    EXPECT_EQ(MirrorServer({mainServer}, mainServer), "");
    EXPECT_EQ(m.latest.DownloadSelectedValues({fund.code}), kMarketNotSent);
    ASSERT_EQ(m.latest.DownloadSelectedValues({fund.code}, nullptr, mirror), kMarketOk) << m.latest.GetLastError();
    EXPECT_EQ(Sent("2/5"), std::vector<std::string>{fund.code});
    ASSERT_NE(m.latest.FindValue(fund.code), nullptr);
    ExpectValue(*m.latest.FindValue(fund.code), fund, LatestAt(fund, kNow));
}

TEST_F(ServeTest, ManyFundHistoriesFetchOnAWorkerAndStopAtCancel)
{
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    Market m(db);
    Attach(m);
    std::vector<std::string> funds;
    for (int i = 0; i < 5; ++i)
        funds.push_back(
            test::EstablishedFund(*s_market, [](const SimFund& f) { return f.fundType == 1 && !f.IsMoneyMarket(); }, i)
                .code);
    std::vector<HistoryRequest> requests = m.history.PlanIncrementalDownloads(funds);
    ASSERT_EQ(requests.size(), 5u);

    // Cancelled while the third fund is due: no request after that.
    std::atomic<bool> cancelled{false};
    std::vector<HistoryFetch> fetched;
    std::thread worker([&] {
        fetched = FetchFundHistories(requests, cancelled, [&](size_t done, size_t) {
            if (done == 2) cancelled = true;
            return true;
        });
    });
    worker.join();
    EXPECT_EQ(Sent("2/11").size(), 2u);
    ASSERT_EQ(fetched.size(), 5u);
    EXPECT_EQ(fetched[1].result, kMarketOk);
    EXPECT_FALSE(fetched[1].records.empty());
    EXPECT_EQ(fetched[2].result, kMarketCancelled);
    EXPECT_EQ(Count("SELECT * FROM T_Fund_Value"), 0);  // fetching stores nothing

    // What came is stored in one go; the cancelled rest is left alone.
    EXPECT_EQ(m.history.StoreFundHistories(requests, fetched), 2u);
    EXPECT_EQ(static_cast<size_t>(Rows("T_Fund_Value", funds[1])), fetched[1].records.size());
    EXPECT_EQ(Rows("T_Fund_Value", funds[2]), 0);
    EXPECT_EQ(m.latest.FindValue(funds[1])->ValueDate.Format(1), "2024-10-09");
}

TEST_F(ServeTest, ClassValuesWrittenElsewhereReachTheMapAtOnceOrNotAtAll)
{
    ASSERT_NO_FATAL_FAILURE(Serve(kNow));
    Market m(db);
    Attach(m);
    ASSERT_TRUE(m.catalogue.SyncFundCatalogue(companyVersion, fundVersion));
    ASSERT_TRUE(m.latest.LoadNewFundValues());
    ValuesRequest request;
    ASSERT_EQ(m.latest.PlanClassValues(1, true, request), kMarketOk);
    ASSERT_TRUE(request.send);
    ValuesFetch fetched = FetchValues(request);
    ASSERT_EQ(fetched.result, kMarketOk) << fetched.error;
    ASSERT_GT(fetched.records.size(), 20u);

    // Cancelled before the commit: nothing in the table, the map, or the version.
    std::atomic<bool> cancelled{true};
    StoredValues stored;
    std::thread([&] { stored = m.latest.WriteValuesElsewhere(request, fetched, cancelled); }).join();
    EXPECT_EQ(m.latest.ApplyStored(stored), kMarketCancelled);
    EXPECT_EQ(Count("SELECT * FROM T_New_Fund_Value"), 0);
    EXPECT_TRUE(m.latest.Values().empty());
    EXPECT_EQ(SystemInfo("NewFundValueNO"), "(none)");

    // Written on a worker's own connection: the map takes nothing until the
    // written values are handed over, then all of them.
    cancelled = false;
    std::thread([&] { stored = m.latest.WriteValuesElsewhere(request, fetched, cancelled); }).join();
    EXPECT_EQ(Count("SELECT * FROM T_New_Fund_Value"), static_cast<int>(fetched.records.size()));
    EXPECT_TRUE(m.latest.Values().empty());
    EXPECT_EQ(m.latest.ApplyStored(stored), kMarketOk);
    EXPECT_EQ(m.latest.Values().size(), fetched.records.size());
    EXPECT_EQ(SystemInfo("NewFundValueNO"), fetched.msg);
}
