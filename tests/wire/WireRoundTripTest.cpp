// The records that cross between the program and plindo-serve, sent through
// the real service and read back by the program: the bookkeeping text (with
// the trade remark inside it) under hostile names and notes, the plan
// records, and the period records of the weekly and monthly statistics and
// the estimates. The latest-value record is checked against the simulator
// in tests/market, the range and band records in tests/curve.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "book/BookServiceClient.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "support/BookHome.h"
#include "support/ServeFixture.h"
#include "wire/PeriodRecords.h"

using namespace vextal;

namespace {

OleDate At(int y, int m, int d, int h = 0, int mi = 0) { return OleDate::FromParts(y, m, d, h, mi); }

const OleDate kNow = At(2024, 10, 9, 21);
constexpr uint64_t kSeed = 7;
constexpr int kFunds = 200;

class Wire : public test::ServiceSuite {
protected:
    static void SetUpTestSuite()
    {
        s_market = &test::SimulatedMarket(kSeed, kFunds);
        StartSuite({kSeed, kFunds, kNow.Format(0)});
    }
    void SetUp() override
    {
        ServiceSuite::SetUp();
        Clock::Fix(kNow);
        ctx = Login("demo", "demo123", &user);
        ASSERT_FALSE(ctx.loginId.empty());
    }
    void TearDown() override { Clock::Release(); }

    const SimFund& Fund() const
    {
        return test::EstablishedFund(*s_market, [](const SimFund& f) { return f.investType == 1 && f.fundType == 1; });
    }

    // A home with one account of that name: a holding, a purchase with the
    // note and a subscription whose remark holds its booking options.
    int Fill(test::BookHome& home, const std::string& name, const std::string& note, int trades = 1)
    {
        const int account = home.NewAccount(name, At(2024, 1, 2, 9, 30));
        const std::string fund = Fund().code;
        CAdoTransaction trans(home.db);
        EXPECT_TRUE(home.db.InsertRecord("T_Fund_Trade", {{"AccountID", account}, {"FundID", fund}, {"BuyType", 0},
                                                          {"TotalCount", 1000.0}, {"TradeValue", 1.05}}));
        int id = 0;
        EXPECT_TRUE(home.db.GetNextID("TradeID", "T_Trade_Info", id));
        for (int i = 0; i < trades; ++i)
            EXPECT_TRUE(home.db.InsertRecord(
                "T_Trade_Info", {{"TradeID", id + i}, {"AccountID", account}, {"FundID", fund}, {"TradeMoney", 1234.5},
                                 {"TradeCount", 1175.71}, {"TradeFee", 1.5}, {"TradeType", kTradeBuy},
                                 {"TradeTime", At(2024, 5, 6, 10)}, {"DealTime", At(2024, 5, 6)}, {"TradeState", 1},
                                 {"TradeValue", 1.05}, {"MarkInfo", note}}));
        EXPECT_TRUE(home.db.InsertRecord(
            "T_Trade_Info", {{"TradeID", id + trades}, {"AccountID", account}, {"FundID", fund},
                             {"TradeMoney", 500.0}, {"TradeCount", 498.0}, {"TradeFee", 1.0},
                             {"TradeType", kTradeSubscribe}, {"TradeTime", At(2024, 5, 7, 10)},
                             {"DealTime", At(2024, 5, 7)}, {"TradeState", 1}, {"Remark", "0.50|1"}}));
        EXPECT_TRUE(trans.Commit());
        EXPECT_TRUE(home.manager.LoadAccounts(user));
        return account;
    }

    static inline const CMarketSimulator* s_market = nullptr;
    CommandContext ctx;
    int user = 0;
    CBookServiceClient client{[this] { return ctx; }};
    test::SimDirectory directory{test::SimulatedMarket(kSeed, kFunds)};
};

// Every name and note the program can keep comes back as it was ("|" as
// ";"), or the upload is refused before anything is sent, naming the
// account and the field.
TEST_F(Wire, BookkeepingTextKeepsHostileNamesAndNotes)
{
    struct Case {
        std::string name, note;
        std::string refusal;  // what the refusal names, after the account's name
    } cases[] = {
        {"A_A_B", "见_T_表", ""},
        {"_A_", "_F__T_|_A_x_T_", ""},
        {"竖线|名", "a|b", ""},
        {"分号;名", "price<1.5", ""},
        {"</Msg>", "</Msg><Ret>0</Ret>&amp; & >", ""},
        {"引号\"'", "第一行\r\n第二行\t完", ""},
        {"基金😀", "", "的名称含有服务器不能保存的字符“😀”"},
        {"备注", "笔记😀", "中2024-05-06 10:00:00的交易的交易备注含有服务器不能保存的字符“😀”"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::BookHome a(user, &client, &directory);
        Fill(a, c.name, c.note);
        const bool sent = a.manager.UploadBookkeeping(false);
        if (!c.refusal.empty()) {
            EXPECT_FALSE(sent);
            EXPECT_EQ(a.manager.GetLastErrorText(), "帐户“" + c.name + "”" + c.refusal + "，请先修改");
            continue;
        }
        ASSERT_TRUE(sent) << a.manager.GetLastErrorText();
        test::BookHome b(user, &client, &directory);
        ASSERT_TRUE(b.manager.DownloadBookkeeping(false)) << b.manager.GetLastErrorText();
        std::string name = c.name, note = c.note;
        for (std::string* s : {&name, &note})
            for (char& ch : *s)
                if (ch == '|') ch = ';';
        const AccountInfo* back = b.Named(name);
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(back->trades.size(), 2u);
        const TradeInfo& buy = back->trades.begin()->second;
        const TradeInfo& subscription = back->trades.rbegin()->second;
        EXPECT_EQ(buy.MarkInfo, note);
        EXPECT_EQ(buy.TradeMoney, 1234.5);
        EXPECT_EQ(subscription.InnerDeduction, 1);
        EXPECT_EQ(subscription.SecondRate, 0.5);
        EXPECT_EQ(back->CreateDate, At(2024, 1, 2, 9, 30));
    }

    // Two accounts that would arrive under one name are refused together;
    // the service, replacing by name, refuses such a text too.
    test::BookHome twins(user, &client, &directory);
    Fill(twins, "甲|乙", "");
    Fill(twins, "甲;乙", "");
    EXPECT_FALSE(twins.manager.UploadBookkeeping(false));
    EXPECT_EQ(twins.manager.GetLastErrorText().rfind("帐户“甲;乙”和“甲|乙”上传后名称相同", 0), 0u)
        << twins.manager.GetLastErrorText();
    test::BookHome single(user, &client, &directory);
    Fill(single, "甲;乙", "");
    std::string one;
    ASSERT_TRUE(single.manager.ExportBookkeeping(one));
    EXPECT_EQ(SendBookUpload(ctx, one + "|" + one, false).error, "记帐数据中有两个名为“甲;乙”的帐户，不能按名称替换");

    // What the service refuses, it names: the account, the table, the row, the column.
    test::BookHome odd(user, &client, &directory);
    Fill(odd, "逗号", "");
    std::string text;
    ASSERT_TRUE(odd.manager.ExportBookkeeping(text));
    const size_t at = text.find("|1234.500000|");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 13, "|1234,5|");
    CommandReply refused = SendBookUpload(ctx, text, false);
    EXPECT_EQ(refused.error, "记帐数据格式错误：帐户“逗号”的T_Trade_Info第1行，TradeMoney");
}

TEST_F(Wire, TwentyThousandTradesComeBackWhole)
{
    test::BookHome a(user, &client, &directory);
    a.NewAccount("大帐户");
    Fill(a, "大帐户2", "备注|笔记", 20000);
    ASSERT_TRUE(a.manager.UploadBookkeeping(false)) << a.manager.GetLastErrorText();
    test::BookHome b(user, &client, &directory);
    ASSERT_TRUE(b.manager.DownloadBookkeeping(false)) << b.manager.GetLastErrorText();
    const AccountInfo* back = b.Named("大帐户2");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(b.Count(StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID=%d AND MarkInfo='备注;笔记'", back->AccountID)),
              20000);
    double sum = 0;
    ASSERT_TRUE(b.db.QueryDouble(StrFormat("SELECT SUM(TradeMoney) FROM T_Trade_Info WHERE AccountID=%d", back->AccountID),
                                 sum));
    EXPECT_EQ(sum, 20000 * 1234.5 + 500);
    EXPECT_NE(b.Named("大帐户"), nullptr);
}

// A plan saved by the program is listed back with the same figures.
TEST_F(Wire, PlanRecordsRoundTrip)
{
    struct Case {
        double money, fee;
        int day, bonus;
        OleDate start;
    } cases[] = {{0.01, 0, 1, 0, At(2024, 1, 1)}, {99999999.99, 1.5, 31, -1, At(2024, 1, 31, 15, 30)},
                 {1234.56, 0.5, 29, 1, At(2024, 2, 29)}};
    const std::string fund = Fund().code;
    int account = 900;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.money);
        PlanInfo p;
        p.trade.AccountID = ++account;
        p.trade.FundID = fund;
        p.trade.TradeMoney = c.money;
        p.trade.TradeFee = c.fee;
        p.trade.TradeCount = c.day;
        p.trade.BonusType = c.bonus;
        p.trade.TradeTime = c.start;
        std::string error;
        ASSERT_TRUE(client.SavePlan(user, p, 0, error)) << error;
        std::vector<PlanInfo> plans;
        ASSERT_TRUE(client.ListPlans(user, plans, error)) << error;
        const PlanInfo* back = nullptr;
        for (const PlanInfo& q : plans)
            if (q.trade.AccountID == account) back = &q;
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->trade.FundID, fund);
        EXPECT_EQ(back->trade.TradeMoney, c.money);
        EXPECT_EQ(back->trade.TradeFee, c.fee);
        EXPECT_EQ(back->trade.TradeCount, c.day);
        EXPECT_EQ(back->trade.BonusType, c.bonus);
        EXPECT_EQ(back->trade.TradeTime, c.start.DateOnly());
        EXPECT_EQ(back->trade.DealTime, c.start.DateOnly().AddDays(-1));
        EXPECT_EQ(back->PeriodsDone, 0);
        ASSERT_TRUE(client.SavePlan(user, p, -1, error)) << error;
    }
}

// The weekly and monthly statistics as the program reads them, against the
// daily records they are made of; the estimates against the simulator.
TEST_F(Wire, PeriodRecordsOfEveryStatistic)
{
    const SimFund& fund = Fund();
    const OleDate from = At(2024, 1, 1), to = At(2024, 9, 30);
    const std::vector<NavRecord> daily = s_market->Published(fund, kNow, DayNumber(from), DayNumber(to));
    using Field = std::function<double(const NavRecord&)>;
    const Field nav = [](const NavRecord& r) { return r.nav; }, acc = [](const NavRecord& r) { return r.acc; },
                pct = [](const NavRecord& r) { return r.pct; }, var = [](const NavRecord& r) { return r.var; };
    enum Pick { Max, Min, Avg, First, Last };
    // Statistics 2 to 17: (figure, how it is taken over the period).
    const std::pair<Field, Pick> stats[] = {{nav, Max}, {nav, Min}, {acc, Max}, {acc, Min}, {pct, Max}, {pct, Min},
                                            {var, Max}, {var, Min}, {nav, Avg}, {acc, Avg}, {pct, Avg}, {var, Avg},
                                            {nav, First}, {nav, Last}, {acc, First}, {acc, Last}};
    for (int kind : {kPeriodWeek, kPeriodMonth}) {
        std::map<int, std::vector<NavRecord>> periods;  // by the period's key
        for (const NavRecord& r : daily) {
            const OleDate d = DateOfDay(r.day);
            periods[kind == kPeriodMonth ? d.Year() * 12 + d.Month() : r.day - (d.DayOfWeek() + 6) % 7].push_back(r);
        }
        for (int stat = 0; stat < 18; ++stat) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << ", statistic " << stat);
            CommandReply reply = SendPeriodRecords(ctx, fund.code, from, to, kind, stat);
            ASSERT_TRUE(reply.ok()) << reply.error;
            std::vector<CFundValue> read;
            ASSERT_TRUE(ReadPeriodRecords(reply.fields, kind, stat, fund.code, read));
            ASSERT_EQ(read.size(), periods.size());
            size_t i = 0;
            for (const auto& [key, p] : periods) {
                const CFundValue& r = read[i++];
                EXPECT_EQ(DayNumber(r.ValueDate), p.back().day);
                if (stat == 0) {
                    EXPECT_NEAR(r.TodayValue, r.VarPercent, 0.006);
                }
                if (stat < 2) continue;
                const auto& [field, how] = stats[stat - 2];
                double want = field(p.front()), sum = 0;
                for (const NavRecord& x : p) {
                    sum += field(x);
                    if (how == Max) want = std::max(want, field(x));
                    if (how == Min) want = std::min(want, field(x));
                }
                if (how == Avg) want = sum / static_cast<double>(p.size());
                if (how == Last) want = field(p.back());
                EXPECT_NEAR(r.TodayValue, want, 6e-5);
            }
        }
    }
    CommandReply reply = SendPeriodRecords(ctx, fund.code, kNow.DateOnly(), kNow, kPeriodEstimate, 0);
    ASSERT_TRUE(reply.ok()) << reply.error;
    std::vector<CFundValue> estimates;
    ASSERT_TRUE(ReadPeriodRecords(reply.fields, kPeriodEstimate, 0, fund.code, estimates));
    ASSERT_EQ(estimates.size(), 49u);
    for (const CFundValue& e : estimates) {
        double value = 0, change = 0;
        ASSERT_TRUE(s_market->EstimateAt(fund, e.ValueDate, value, change));
        EXPECT_NEAR(e.TodayValue, value, 6e-5) << e.ValueDate.Format(0);
        EXPECT_NEAR(e.VarPercent, change, 0.006);
    }
}

}  // namespace
