// Random sequences of bookings, edits, deletions, moves, splits, dividends,
// imports and reference fees, with valid and hostile figures, through the
// engine against the real plindo-serve. After every step: no stored figure
// is non-finite or negative where it cannot be, no half-booked row is left,
// every holding is what its confirmed trades give in the order they
// happened, and a refused step wrote nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>

#include "book/BookServiceClient.h"
#include "book/TradeImport.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "support/BookHome.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

const OleDate kNow = OleDate::FromParts(2024, 10, 9, 21, 0, 0);
const OleDate kFirst = OleDate::FromParts(2023, 1, 3);

class Walk {
public:
    Walk(test::BookHome& home, std::vector<std::string> funds, std::string young, uint32_t seed)
        : m_home(home), m_funds(std::move(funds)), m_young(std::move(young)), m_rng(seed)
    {
        m_accounts = {home.NewAccount("甲", kFirst), home.NewAccount("乙", kFirst)};
    }

    // One random step; its description for a failure's trace.
    std::string Step()
    {
        m_hostile = Chance(0.2);
        const int op = Pick({20, 10, 5, 5, 4, 6, 8, 6, 3, 4, 3, 1});
        switch (op) {
        case 0: return Booking(kTradeBuy);
        case 1: return Redemption();
        case 2: return Booking(kTradeQuick);
        case 3: return Conversion();
        case 4: return Split();
        case 5: return Dividend();
        case 6: return Edit();
        case 7: return Delete();
        case 8: return Move();
        case 9: return Import();
        case 10: return SaleFee();
        default: return Forget();
        }
    }

    // The invariants; a failure names the step.
    void Check(const std::string& step)
    {
        SCOPED_TRACE(step);
        CAdoDatabase& db = m_home.db;
        EXPECT_EQ(db.GetRecordCount("SELECT TradeID FROM T_Trade_Info WHERE TradeState=0"), 0);
        std::map<std::tuple<int, std::string, int>, double> replay;
        RecordsetPtr t = db.OpenRecordsetEx(
            "SELECT AccountID,FundID,BuyType,TradeType,TradeCount,TradeMoney,TradeValue,TradeFee,CostValue FROM "
            "T_Trade_Info WHERE TradeState=1 ORDER BY TradeTime,TradeID");
        ASSERT_TRUE(t);
        for (; !t->IsEOF(); t->MoveNext()) {
            int account = 0, buyType = 0, type = 0;
            std::string fund;
            double count = 0, money = 0, value = 0, fee = 0, cost = 0;
            db.GetFieldValue(t, "AccountID", account);
            db.GetFieldValue(t, "FundID", fund);
            db.GetFieldValue(t, "BuyType", buyType);
            db.GetFieldValue(t, "TradeType", type);
            db.GetFieldValue(t, "TradeCount", count);
            db.GetFieldValue(t, "TradeMoney", money);
            db.GetFieldValue(t, "TradeValue", value);
            db.GetFieldValue(t, "TradeFee", fee);
            db.GetFieldValue(t, "CostValue", cost);
            EXPECT_TRUE(std::isfinite(count) && count >= 0) << "TradeCount " << count;
            EXPECT_TRUE(std::isfinite(money) && money >= 0) << "TradeMoney " << money;
            EXPECT_TRUE(std::isfinite(value) && value >= 0) << "TradeValue " << value;
            EXPECT_TRUE(std::isfinite(fee) && fee <= 100) << "TradeFee " << fee;
            EXPECT_TRUE(std::isfinite(cost) && cost >= 0) << "CostValue " << cost;
            double& n = replay[{account, fund, buyType}];
            switch (type) {
            case kTradeBuy:
            case kTradeConvertIn:
            case kTradeBonusReinvest:
            case kTradePlanBuy:
            case kTradeSubscribe:
            case kTradeQuick: n += count; break;
            case kTradeRedeem:
            case kTradeConvertOut: n -= count; break;
            case kTradeSplit: n = count; break;
            default: break;
            }
        }
        RecordsetPtr h = db.OpenRecordsetEx("SELECT * FROM T_Fund_Trade");
        ASSERT_TRUE(h);
        for (; !h->IsEOF(); h->MoveNext()) {
            FundTradeInfo f;
            int account = 0;
            db.GetFieldValue(h, "AccountID", account);
            db.GetFieldValue(h, "FundID", f.FundID);
            db.GetFieldValue(h, "BuyType", f.BuyType);
            db.GetFieldValue(h, "TotalCount", f.TotalCount);
            db.GetFieldValue(h, "FreeCount", f.FreeCount);
            db.GetFieldValue(h, "TradeValue", f.TradeValue);
            db.GetFieldValue(h, "CashBonus", f.CashBonus);
            db.GetFieldValue(h, "TotalBonus", f.TotalBonus);
            db.GetFieldValue(h, "CashBonusNew", f.CashBonusNew);
            db.GetFieldValue(h, "SaleFee", f.SaleFee);
            db.GetFieldValue(h, "SaleFeeMoney", f.SaleFeeMoney);
            const std::string what = StrFormat("holding %d/%s/%d", account, f.FundID.c_str(), f.BuyType);
            EXPECT_TRUE(f.TotalCount >= 0 && f.TotalCount == f.FreeCount) << what << " " << f.TotalCount;
            const double replayed = replay[{account, f.FundID, f.BuyType}];
            EXPECT_NEAR(f.TotalCount, replayed, 0.005) << what;
            for (double v : {f.TradeValue, f.CashBonus, f.TotalBonus, f.CashBonusNew, f.SaleFeeMoney})
                EXPECT_TRUE(std::isfinite(v) && v >= -0.005) << what << " " << v;
            EXPECT_TRUE(f.SaleFee >= 0 && f.SaleFee <= 100) << what;
        }
        for (const auto& [id, a] : m_home.manager.Accounts())
            for (double v : {a->MarketValue, a->TotalIncome, a->NewIncome, a->TodayIncome, a->NewPrincipal})
                EXPECT_TRUE(std::isfinite(v)) << "account " << id;
    }

    int refused = 0, booked = 0;

private:
    static constexpr double kInf = std::numeric_limits<double>::infinity();

    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }
    double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(m_rng); }
    int Pick(std::initializer_list<double> weights) { return std::discrete_distribution<int>(weights)(m_rng); }
    template <class T>
    const T& OneOf(const std::vector<T>& v) { return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(m_rng)]; }
    // A figure a hostile caller hands the engine; a fee below zero is an
    // amount in yuan, so its impossible ones are other.
    double Hostile(bool fee = false)
    {
        static const std::vector<double> bad = {kInf, -kInf, std::nan(""), -50, 1e300};
        static const std::vector<double> badFee = {kInf, -kInf, std::nan(""), 150, -1e300};
        return OneOf(fee ? badFee : bad);
    }
    OleDate When()
    {
        const int days = static_cast<int>(kNow.DateOnly().dt - kFirst.dt);
        return kFirst.AddDays(std::uniform_int_distribution<int>(0, days - 1)(m_rng))
            .AddSeconds(Chance(0.7) ? 10 * 3600 : 16 * 3600);
    }
    // A day for a trade of a holding: any, or after its last trade (a split
    // refuses the days before it).
    OleDate After(const FundTradeInfo& h)
    {
        if (Chance(0.5)) return When();
        const OleDate day = h.LastTrade.DateOnly().AddDays(std::uniform_int_distribution<int>(0, 30)(m_rng));
        return (day < kNow.DateOnly() ? day : kNow.DateOnly().AddDays(-1)).AddSeconds(10 * 3600);
    }
    CAccountManager& M() { return m_home.manager; }
    std::string Snapshot()
    {
        CAdoDatabase& db = m_home.db;
        return db.RecordsetToText(true, db.OpenRecordsetEx("SELECT * FROM T_Trade_Info ORDER BY TradeID")) + "/" +
               db.RecordsetToText(true, db.OpenRecordsetEx("SELECT * FROM T_Fund_Trade ORDER BY AccountID,FundID"));
    }
    // A hostile figure is refused with a text and writes nothing.
    std::string Outcome(bool ok, const std::string& before, std::string what)
    {
        if (ok) ++booked;
        else ++refused;
        what += ok ? " -> ok" : " -> " + M().GetLastErrorText();
        if (m_hostile) {
            EXPECT_FALSE(ok) << what;
            EXPECT_TRUE(Snapshot() == before) << what << ": the books changed";
        }
        return what;
    }
    std::vector<FundTradeInfo> Held()
    {
        std::vector<FundTradeInfo> held;
        for (const auto& [id, a] : M().Accounts())
            for (const FundTradeInfo& h : a->holdings)
                if (h.TotalCount > 0) held.push_back(h);
        return held;
    }
    std::vector<TradeInfo> Trades()
    {
        std::vector<TradeInfo> all;
        for (const auto& [id, a] : M().Accounts())
            for (const auto& [tid, t] : a->trades) all.push_back(t);
        return all;
    }
    // A fund of the walk; now and then the one that has no NAV yet on most days.
    std::string Fund() { return Chance(0.05) ? m_young : OneOf(m_funds); }

    // A holding with shares, and a trade on it; false when nothing is held.
    bool OnHolding(FundTradeInfo& h, TradeInfo& t)
    {
        const std::vector<FundTradeInfo> held = Held();
        if (held.empty()) return false;
        h = OneOf(held);
        t = TradeInfo();
        t.AccountID = h.AccountID;
        t.FundID = h.FundID;
        t.BuyType = h.BuyType;
        return true;
    }
    std::string Book(TradeInfo& t, const std::string& what)
    {
        const std::string before = m_hostile ? Snapshot() : std::string();
        return Outcome(M().BookTrade(t) >= 0, before, what);
    }

    std::string Booking(int type)
    {
        TradeInfo t;
        t.AccountID = OneOf(m_accounts);
        t.FundID = Fund();
        t.TradeType = type;
        t.TradeTime = When();
        t.BonusType = Chance(0.5) ? kBonusCash : kBonusReinvest;
        t.NoAutoBonus = Chance(0.5);
        if (type == kTradeQuick) {
            t.TradeCount = Round2(Uniform(10, 5000));
        } else {
            t.TradeMoney = Round2(Uniform(100, 20000));
            t.TradeFee = Chance(0.8) ? Round2(Uniform(0, 2)) : -Round2(Uniform(1, 50));
            t.InnerDeduction = Chance(0.3);
        }
        if (m_hostile && (type == kTradeQuick || Chance(0.5))) (type == kTradeQuick ? t.TradeCount : t.TradeMoney) = Hostile();
        else if (m_hostile) t.TradeFee = Hostile(true);
        return Book(t, StrFormat("book type %d %s %0.2f/%0.2f fee %g at %s", type, t.FundID.c_str(), t.TradeMoney,
                                 t.TradeCount, t.TradeFee, t.TradeTime.Format(0).c_str()));
    }

    std::string Redemption()
    {
        FundTradeInfo h;
        TradeInfo t;
        if (!OnHolding(h, t)) return Booking(kTradeBuy);
        t.TradeType = kTradeRedeem;
        t.TradeCount = Round2(h.TotalCount * Uniform(0.1, 1.2));
        t.TradeFee = Chance(0.9) ? Round2(Uniform(0, 1.5)) : -1e6;  // a fee in yuan above what the shares bring
        t.TradeTime = After(h);
        if (m_hostile && Chance(0.5)) t.TradeCount = Hostile();
        else if (m_hostile) t.TradeFee = Hostile(true);
        return Book(t, StrFormat("redeem %s %0.2f fee %g at %s", t.FundID.c_str(), t.TradeCount, t.TradeFee,
                                 t.TradeTime.Format(0).c_str()));
    }

    std::string Conversion()
    {
        FundTradeInfo h;
        TradeInfo t;
        if (!OnHolding(h, t)) return Booking(kTradeBuy);
        t.TradeType = kTradeConvert;
        do t.TargetFundID = OneOf(m_funds);
        while (t.TargetFundID == t.FundID);
        t.TradeCount = Round2(h.TotalCount * Uniform(0.1, 1.0));
        t.TradeFee = Round2(Uniform(0, 1.5));
        t.SecondRate = Round2(Uniform(0, 1.5));
        t.TargetBonusType = kBonusCash;
        t.TradeTime = After(h);
        if (m_hostile && Chance(0.5)) t.SecondRate = Hostile(true);
        else if (m_hostile) t.TargetCount = Hostile();
        return Book(t, StrFormat("convert %s->%s %0.2f at %s", t.FundID.c_str(), t.TargetFundID.c_str(), t.TradeCount,
                                 t.TradeTime.Format(0).c_str()));
    }

    std::string Split()
    {
        FundTradeInfo h;
        TradeInfo t;
        if (!OnHolding(h, t)) return Booking(kTradeBuy);
        t.TradeType = kTradeSplit;
        t.TradeValue = OneOf(std::vector<double>{0.5, 1.5, 2, 3});
        t.TradeCount = Round2(h.TotalCount * t.TradeValue);
        // After the holding's last trade, mostly: earlier ones are refused.
        OleDate day = Chance(0.8) ? h.LastTrade.DateOnly().AddDays(1 + std::uniform_int_distribution<int>(0, 20)(m_rng))
                                  : When().DateOnly();
        t.TradeTime = day > kNow.DateOnly() ? kNow.DateOnly() : day;
        if (m_hostile) (Chance(0.5) ? t.TradeValue : t.TradeCount) = Hostile();
        return Book(t, StrFormat("split %s x%g to %0.2f at %s", t.FundID.c_str(), t.TradeValue, t.TradeCount,
                                 t.TradeTime.Format(1).c_str()));
    }

    std::string Dividend()
    {
        FundTradeInfo h;
        TradeInfo t;
        if (!OnHolding(h, t)) return Booking(kTradeBuy);
        const bool cash = Chance(0.6);
        t.TradeType = cash ? kTradeCashBonus : kTradeBonusReinvest;
        t.BonusType = cash ? kBonusCash : kBonusReinvest;
        t.TradeState = kStateConfirmed;
        t.TradeMoney = Round2(Uniform(1, 300));
        t.TradeTime = t.DealTime = After(h);
        if (m_hostile) t.TradeMoney = Hostile();
        const std::string before = m_hostile ? Snapshot() : std::string();
        const bool ok = M().ManualDividend(t) >= 0;
        return Outcome(ok, before, StrFormat("dividend %s %0.2f type %d at %s", t.FundID.c_str(), t.TradeMoney,
                                             t.TradeType, t.TradeTime.Format(0).c_str()));
    }

    std::string Edit()
    {
        const std::vector<TradeInfo> trades = Trades();
        if (trades.empty()) return Booking(kTradeBuy);
        TradeInfo t = OneOf(trades);
        t.TradeCount = Round2(t.TradeCount * Uniform(0.5, 1.5));
        t.TradeMoney = Round2(t.TradeMoney * Uniform(0.5, 1.5));
        if (m_hostile) (Chance(0.5) ? t.TradeCount : Chance(0.5) ? t.TradeMoney : t.TradeValue) = Hostile();
        const std::string before = m_hostile ? Snapshot() : std::string();
        const bool ok = M().EditTrade(t);
        return Outcome(ok, before, StrFormat("edit trade %d type %d to %0.2f/%0.2f", t.TradeID, t.TradeType,
                                             t.TradeMoney, t.TradeCount));
    }

    std::string Delete()
    {
        m_hostile = false;
        const std::vector<TradeInfo> trades = Trades();
        if (trades.empty()) return Booking(kTradeBuy);
        const TradeInfo& t = OneOf(trades);
        const bool ok = M().DeleteTrade(t);
        return Outcome(ok, "", StrFormat("delete trade %d type %d", t.TradeID, t.TradeType));
    }

    std::string Move()
    {
        m_hostile = false;
        FundTradeInfo h;
        TradeInfo unused;
        if (!OnHolding(h, unused)) return Booking(kTradeBuy);
        const int to = h.AccountID == m_accounts[0] ? m_accounts[1] : m_accounts[0];
        const bool ok = M().MoveHolding(to, h.AccountID, h.FundID, h.BuyType);
        return Outcome(ok, "", StrFormat("move %s from %d to %d", h.FundID.c_str(), h.AccountID, to));
    }

    std::string Import()
    {
        const int account = OneOf(m_accounts);
        std::string text;
        for (int i = 0, n = 1 + Chance(0.5); i < n; ++i) {
            const std::string money = m_hostile && i == 0 ? OneOf(std::vector<std::string>{"inf", "-5", "nan", "1,000"})
                                                         : FormatFixed(Round2(Uniform(100, 5000)), 2);
            text += When().Format(1) + "," + OneOf(m_funds) + ",申购," + money + ",1.5\n";
        }
        const std::string before = m_hostile ? Snapshot() : std::string();
        const ImportResult r = ImportTrades(M(), m_home.db, account, text, false);
        if (!r.booked) M().LoadAccounts(M().GetUserID());
        std::string what = "import " + text + (r.booked ? " -> ok" : "");
        if (!r.refusals.empty()) what += " -> " + r.refusals.front().Text();
        if (r.booked) ++booked;
        else ++refused;
        if (m_hostile) {
            EXPECT_FALSE(r.booked) << what;
            EXPECT_TRUE(Snapshot() == before) << what << ": the books changed";
        }
        return what;
    }

    std::string SaleFee()
    {
        FundTradeInfo h;
        TradeInfo unused;
        if (!OnHolding(h, unused)) return Booking(kTradeBuy);
        h.SaleFee = m_hostile ? Hostile(true) : Round2(Uniform(0, 1.5));
        h.SaleFeeMoney = Round2(Uniform(0, 10));
        const std::string before = m_hostile ? Snapshot() : std::string();
        const bool ok = M().SetSaleFee(h);
        return Outcome(ok, before, StrFormat("sale fee %s %g", h.FundID.c_str(), h.SaleFee));
    }

    // A whole holding's bookkeeping goes, which keeps the books of a long walk small.
    std::string Forget()
    {
        m_hostile = false;
        FundTradeInfo h;
        TradeInfo unused;
        if (!OnHolding(h, unused)) return Booking(kTradeBuy);
        const bool ok = M().DeleteFundBookkeeping(HoldingKey::Of(h));
        return Outcome(ok, "", "forget " + h.FundID);
    }

    test::BookHome& m_home;
    std::vector<std::string> m_funds;
    std::string m_young;
    std::mt19937 m_rng;
    std::vector<int> m_accounts;
    bool m_hostile = false;
};

TEST(BookProperty, RandomWalksKeepEveryHoldingEqualToItsTrades)
{
    test::UseDirectHttp();
    test::RealService service({31, 60, kNow.Format(0)});
    VEXTAL_ASSERT_STARTED(&service);
    Clock::Fix(kNow);
    const CMarketSimulator& market = test::SimulatedMarket(31, 60);
    // Stock funds with dividends, a money-market fund, and one that opened
    // inside the walk's dates.
    std::vector<std::string> funds;
    std::string young;
    for (const SimFund& f : market.Funds()) {
        if (f.withdrawDay) continue;
        if (f.IsMoneyMarket() && f.createDay < DayNumber(kFirst) && funds.size() < 4) funds.push_back(f.code);
        else if (f.HoldsStocks() && f.createDay < DayNumber(kFirst) && funds.size() < 4 &&
                 !market.Dividends(f, kNow, DayNumber(kFirst), DayNumber(kNow)).empty())
            funds.push_back(f.code);
        else if (young.empty() && f.createDay > DayNumber(kFirst.AddDays(60)) && f.createDay < DayNumber(kNow))
            young = f.code;
    }
    ASSERT_EQ(funds.size(), 4u);
    ASSERT_FALSE(young.empty());
    int user = 0;
    const CommandContext ctx = service.Login("demo", "demo123", &user);
    ASSERT_FALSE(ctx.loginId.empty());
    CBookServiceClient services([&ctx] { return ctx; });
    test::SimDirectory directory(market);
    test::BookHome home(user, &services, &directory);

    const char* asked = std::getenv("VEXTAL_PROPERTY_STEPS");
    const long long steps = asked ? ParseInteger(asked).value_or(2000) : 2000;
    const char* seeded = std::getenv("VEXTAL_PROPERTY_SEED");
    const uint32_t seed = static_cast<uint32_t>(seeded ? ParseInteger(seeded).value_or(26) : 26);
    Walk walk(home, funds, young, seed);
    for (long long i = 0; i < steps && !::testing::Test::HasFailure(); ++i) {
        const std::string step = walk.Step();
        walk.Check(StrFormat("seed %u step %lld: ", seed, i) + step);
    }
    // The walk did both: most valid steps booked, the hostile ones refused.
    EXPECT_GT(walk.booked, static_cast<int>(steps) / 3);
    EXPECT_GT(walk.refused, static_cast<int>(steps) / 10);
    Clock::Release();
}

}  // namespace
}  // namespace vextal
