// The look-through pages of the program against the real plindo-serve: the
// figures they show come from the service's disclosed holdings and the
// books, and the simulator behind the service says what they must be.
#include <gtest/gtest.h>

#include <QTreeWidget>

#include "UiFixture.h"
#include "app/Settings.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Format.h"
#include "support/ServeFixture.h"
#include "ui/BookkeepingUi.h"
#include "ui/CurveChart.h"
#include "ui/LookThroughUi.h"
#include "ui/MainFrame.h"
#include "ui/OptionsDialog.h"

using namespace vextal;
using namespace vextal::test;

namespace {

class LookThroughPages : public AppTest {
protected:
    const CMarketSimulator& Sim() const { return SimulatedMarket(1, 300); }
    CLookThroughUi& Ui() const { return *CLookThroughUi::Of(*app->Frame()); }
};

double Weight(const std::vector<Holding>& held, int stock)
{
    for (const Holding& h : held)
        if (h.stock == stock) return h.weight;
    return 0;
}

}  // namespace

TEST_F(LookThroughPages, ExposureOverlapAndWarningFollowTheBooks)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    const int today = DayNumber(Clock::Now());
    // The two stock funds listed before 2023 whose disclosures share the most.
    std::vector<const SimFund*> stockFunds;
    for (const SimFund& f : Sim().Funds())
        if (f.fundType == 1 && f.HoldsStocks() && f.createDay < DayNumber(OleDate::FromParts(2023, 1, 1)) && !f.withdrawDay)
            stockFunds.push_back(&f);
    const SimFund *a = nullptr, *b = nullptr;
    double shared = 0;
    for (size_t i = 0; i < stockFunds.size() && i < 40; ++i)
        for (size_t j = i + 1; j < stockFunds.size() && j < 40; ++j) {
            double s = 0;
            for (const Holding& h : Sim().Holdings(*stockFunds[i], today))
                s += std::min(h.weight, Weight(Sim().Holdings(*stockFunds[j], today), h.stock));
            if (s > shared) shared = s, a = stockFunds[i], b = stockFunds[j];
        }
    ASSERT_NE(b, nullptr);
    const std::vector<Holding> heldA = Sim().Holdings(*a, today), heldB = Sim().Holdings(*b, today);

    const int account = NewAccount("穿透帐户");
    Book(account, a->code, kTradeBuy, 10000, OleDate::FromParts(2024, 9, 2, 10));
    Book(account, b->code, kTradeBuy, 6000, OleDate::FromParts(2024, 9, 2, 10));
    CBookkeepingUi* book = app->Bookkeeping();
    book->RefreshAll();
    book->SelectAccount(account);
    CMainFrame* frame = app->Frame();
    ASSERT_TRUE(frame->RunCommand(cmd::LookThrough));
    ASSERT_TRUE(LoopUntil([&] { return !Ui().Exposure()->IsLoading(); }));

    // Each fund's market value from the books, spread by the weights the simulated fund runs on.
    const AccountInfo* books = Books().FindAccount(account);
    double valueA = 0, valueB = 0;
    for (const FundTradeInfo& h : books->holdings) (h.FundID == a->code ? valueA : valueB) += h.figures.MarketValue;
    const LookThroughResult& r = Ui().Exposure()->Result();
    EXPECT_NEAR(r.MarketValue, books->MarketValue, 0.01);
    EXPECT_EQ(Ui().Exposure()->List()->model()->rowCount(), static_cast<int>(r.Stocks.size()));
    int common = 0;
    double disclosedA = 0, disclosedB = 0;
    for (const Holding& h : heldA) disclosedA += h.weight;
    for (const Holding& h : heldB) disclosedB += h.weight;
    for (const StockExposure& s : r.Stocks) {
        if (s.Undisclosed()) {
            EXPECT_NEAR(s.Amount, valueA * (1 - disclosedA) + valueB * (1 - disclosedB), 0.01);
            EXPECT_EQ(s.Industry, "开放式基金");
            continue;
        }
        const MarketStock* stock = nullptr;
        for (const MarketStock& x : Sim().Stocks())
            if (x.code == s.StockID) stock = &x;
        ASSERT_NE(stock, nullptr) << s.StockID;
        const int index = static_cast<int>(stock - Sim().Stocks().data());
        EXPECT_NEAR(s.Amount, valueA * Weight(heldA, index) + valueB * Weight(heldB, index), 0.01) << s.StockID;
        EXPECT_EQ(s.Industry, SectorIndustry(Sim().StockModel(index).sector));
        if (s.Funds.size() == 2) ++common;
    }
    EXPECT_GE(common, 1);

    // The pair at the top of the overlap table, as much as the simulator says they share.
    ASSERT_TRUE(frame->RunCommand(cmd::FundOverlap));
    ASSERT_TRUE(LoopUntil([&] { return !Ui().Overlap()->IsLoading(); }));
    ASSERT_EQ(Ui().Overlap()->Overlaps().size(), 1u);
    EXPECT_NEAR(Ui().Overlap()->Overlaps()[0].Percent, shared * 100, 1e-6);
    EXPECT_EQ(static_cast<int>(Ui().Overlap()->Overlaps()[0].Common.size()), common);

    // The holdings page warns once the threshold of the options is below the pair's overlap.
    auto warning = [&](double threshold) {
        WriteOverlapWarning(threshold, HomePath("Vextal.ini"));
        emit OptionsNotifier().settingsChanged();
        frame->ShowAccountsPage(106);
        EXPECT_TRUE(LoopUntil([&] { return !Ui().IsWarningLoading(); }));
        return Ui().Warning()->isVisibleTo(book->Holdings()) ? Ui().Warning()->text() : QString();
    };
    const QString shown = warning(shared * 100 - 0.5);
    EXPECT_TRUE(shown.contains(book->Context().FundName(a->code))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(book->Context().FundName(b->code))) << shown.toStdString();
    EXPECT_TRUE(warning(shared * 100 + 0.5).isEmpty());
    EXPECT_TRUE(warning(0).isEmpty());

    // A booking while the exposure page of every account shows: the page follows the books.
    frame->AccountTree()->setCurrentItem(frame->AccountTree()->topLevelItem(0));
    ASSERT_TRUE(frame->RunCommand(cmd::LookThrough));
    ASSERT_TRUE(LoopUntil([&] { return !Ui().Exposure()->IsLoading(); }));
    const double before = Ui().Exposure()->Result().MarketValue;
    Book(account, a->code, kTradeBuy, 5000, OleDate::FromParts(2024, 9, 9, 10));
    ASSERT_TRUE(LoopUntil([&] { return !Ui().Exposure()->IsLoading(); }));
    EXPECT_NEAR(Ui().Exposure()->Result().MarketValue, Books().FindAccount(account)->MarketValue, 0.01);
    EXPECT_GT(Ui().Exposure()->Result().MarketValue, before + 4500);
    EXPECT_TRUE(Ui().Exposure()->Title().startsWith(QStringLiteral("全部帐户")));
}

// One fund bought on 2024-03-01, no dividend or split since: from the
// close of that day on, the account's time-weighted return is the fund's
// NAV growth, and the index's the index's, both as the service published them.
TEST_F(LookThroughPages, AccountAgainstTheIndexIsTheFundAgainstTheIndex)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    const OleDate now = Clock::Now();
    const int bought = DayNumber(OleDate::FromParts(2024, 3, 1)), today = DayNumber(now);
    const SimFund& fund = EstablishedFund(Sim(), [&](const SimFund& f) {
        if (f.fundType != 1 || !f.HoldsStocks() || !Sim().Dividends(f, now, bought - 1, today).empty()) return false;
        for (const SimSplit& s : Sim().Splits(f, now))
            if (s.day >= bought) return false;
        return true;
    });
    const int account = NewAccount("指数比较");
    Book(account, fund.code, kTradeBuy, 10000, OleDate::FromParts(2024, 3, 1, 10));
    app->Bookkeeping()->RefreshAll();
    app->Bookkeeping()->SelectAccount(account);
    ASSERT_TRUE(app->Frame()->RunCommand(cmd::IndexCompare));
    CAccountIndexView* view = Ui().IndexCompare();
    ASSERT_TRUE(LoopUntil([&] { return !view->IsLoading(); }));
    EXPECT_EQ(view->StartEdit()->date(), QDate(2024, 3, 1));  // the account's first trade
    view->StartEdit()->setDate(QDate(2024, 3, 4));
    view->Apply();
    ASSERT_TRUE(LoopUntil([&] { return !view->IsLoading(); }));

    const std::vector<NavRecord> navs = Sim().Published(fund, now, bought, today);
    ASSERT_GE(navs.size(), 2u);
    const AccountTwr& twr = view->Account();
    ASSERT_FALSE(twr.Points.empty());
    EXPECT_EQ(twr.Points.front().Date, OleDate::FromParts(2024, 3, 1));
    EXPECT_EQ(DayNumber(twr.Points.back().Date), navs.back().day);
    // The NAVs travel with four decimals.
    EXPECT_NEAR(twr.Twr, (RoundDecimal(navs.back().nav, 4) / RoundDecimal(navs.front().nav, 4) - 1) * 100, 1e-6);

    const std::vector<IndexRecord> csi = Sim().IndexHistory(Sim().FindIndex("399300"), now, bought, today);
    ASSERT_TRUE(view->Index().Known);
    EXPECT_NEAR(view->Index().Return, (csi.back().value / csi.front().value - 1) * 100, 0.01);
    EXPECT_EQ(view->Chart()->Model().Series().size(), 2u);
    EXPECT_TRUE(view->Figures().contains(QStringLiteral("沪深300")));
}
