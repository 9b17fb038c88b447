// Bookkeeping dialogs against the real plindo-serve, beside the window's
// flow: a holding priced once the values arrive, each booking dialog's
// fields reaching its checks and its texts, the fund picker, cancelling at
// the service and deleting.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDateTimeEdit>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTreeWidget>
#include <functional>

#include "UiFixture.h"
#include "app/Settings.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Format.h"
#include "ui/BookkeepingUi.h"
#include "ui/FundPicker.h"
#include "ui/MainFrame.h"

using namespace vextal;
using namespace vextal::test;

namespace {

QDateTime At(int y, int m, int d, int h = 10) { return QDateTime(QDate(y, m, d), QTime(h, 0)); }

// Each step fills what the previous refusal named; OK then shows the next refusal.
struct Refusal {
    std::function<void()> fill;
    std::string text;
};

class BookkeepingTest : public AppTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(Start());
        ui = app->Bookkeeping();
        ASSERT_NE(ui, nullptr);
        ctx = std::make_unique<BookContext>(
            BookContext{*app->Document(), *app->Market(), *app->Runner(), prompt, HomePath("Vextal.ini")});
        funds = EstablishedFunds(2);
        ASSERT_EQ(funds.size(), 2u);
    }
    void TearDown() override
    {
        ctx.reset();
        AppTest::TearDown();
    }

    // An account made through its dialog, as a user makes it.
    int NewAccount(const QString& name)
    {
        CAccountDialog dialog(Books(), prompt, nullptr, app->Frame());
        dialog.show();
        dialog.NameEdit()->insert(name);  // as an input method commits it
        Click(dialog.OkButton());
        return dialog.AccountID();
    }
    // An account holding 1000 yuan of the first fund, bought on 2024-09-02.
    TradeInfo BookedAccount(const char* name, bool autoBonus = true)
    {
        return Book(AppTest::NewAccount(name), funds[0], kTradeBuy, 1000, OleDate::FromParts(2024, 9, 2, 10, 0), autoBonus);
    }
    void Refuses(QAbstractButton* ok, const std::vector<Refusal>& steps)
    {
        for (const Refusal& s : steps) {
            if (s.fill) s.fill();
            Click(ok);
            EXPECT_EQ(prompt.Last(), s.text);
        }
    }
    // The caption follows its "in yuan" box.
    static void Caption(QAbstractButton* inYuan, QLabel* caption, const char* rate, const char* amount)
    {
        EXPECT_EQ(caption->text().toStdString(), rate);
        Click(inYuan);
        EXPECT_EQ(caption->text().toStdString(), amount);
        Click(inYuan);
    }

    CBookkeepingUi* ui = nullptr;
    ShownPrompt prompt;
    std::unique_ptr<BookContext> ctx;
    std::vector<std::string> funds;
};

}  // namespace

// F5 on the bookkeeping pages asks the held funds' newest values (on the
// worker) before the figures are recomputed: a holding booked a week ago is
// no longer priced at its purchase NAV.
TEST_F(BookkeepingTest, RefreshBringsTheNewestValuesOfTheHeldFunds)
{
    app->Frame()->RunCommand(cmd::GroupAccounts);
    const TradeInfo buy = BookedAccount("主帐户");
    const int a = buy.AccountID;
    ui->SelectAccount(a);
    const FundTradeInfo* held = Books().FindHolding({a, funds[0], kFrontEnd});
    ASSERT_NE(held, nullptr);
    ASSERT_EQ(held->figures.ValueDate.Format(1), "2024-09-02");  // the purchase's NAV, nothing newer held
    app->Frame()->RunCommand(cmd::Refresh);
    EXPECT_TRUE(ui->IsRefreshingLatest());
    WaitIdle(*app);
    held = Books().FindHolding({a, funds[0], kFrontEnd});
    const CNewFundValue* newest = app->Market()->Latest().FindValue(funds[0]);
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->ValueDate.Format(1), "2024-10-09");
    EXPECT_EQ(held->figures.ValueDate.Format(1), "2024-10-09");
    EXPECT_DOUBLE_EQ(held->figures.LatestValue, newest->TodayValue);
    EXPECT_NEAR(Books().FindAccount(a)->MarketValue, held->TotalCount * newest->TodayValue, 1e-6);
}

// Header clicks sort the accounts; 合计 and 平均 stay under them, and a
// rebuild keeps them there.
TEST_F(BookkeepingTest, TotalsRowsStayLastUnderEverySort)
{
    for (const char* name : {"甲", "乙", "丙"}) BookedAccount(name);
    ui->AccountList()->Rebuild();
    CListView* list = ui->AccountList()->List();
    auto names = [&] {
        QStringList n;
        for (int row = 0; row < list->Proxy()->rowCount(); ++row) n << list->Proxy()->index(row, 0).data().toString();
        return n.join(' ');
    };
    for (int section = 0; section < list->Model()->columnCount(); ++section)
        for (int click = 0; click < 2; ++click) {
            list->horizontalHeader()->sectionClicked(section);
            EXPECT_TRUE(names().endsWith(QStringLiteral("合计 平均"))) << section << " " << names().toStdString();
        }
    ui->AccountList()->Rebuild();
    EXPECT_TRUE(names().endsWith(QStringLiteral("合计 平均"))) << names().toStdString();
}

TEST_F(BookkeepingTest, AHoldingBookedBeforeTheLatestValuesAreFetchedIsPricedOnceTheyArrive)
{
    // A newcomer books before any list of latest values was fetched.
    app->Frame()->RunCommand(cmd::GroupAccounts);
    const int id = NewAccount(QStringLiteral("新帐户"));
    ASSERT_GT(id, 0);
    CTradeDialog dialog(FormKind::Purchase, *ctx, id, nullptr, ui->Hooks(), app->Frame());
    dialog.show();
    dialog.Fund()->SetFundID(funds[0]);
    Type(dialog.AmountEdit(), QStringLiteral("10000"));
    dialog.TimeEdit()->setDateTime(At(2024, 10, 8));
    Click(dialog.OkButton());
    ASSERT_EQ(prompt.Last(), "交易成功，系统已经确认了您的交易");

    // The latest values page brings them: the holding is priced without a refresh.
    app->Frame()->RunCommand(cmd::ValuesOpen);
    WaitIdle(*app);
    const FundTradeInfo* held = Books().FindHolding({id, funds[0], kFrontEnd});
    ASSERT_NE(held, nullptr);
    EXPECT_GT(held->figures.LatestValue, 0);
    EXPECT_NEAR(held->figures.MarketValue, held->TotalCount * held->figures.LatestValue, 1e-6);
    EXPECT_GT(Books().FindAccount(id)->MarketValue, 0);

    // Emptied, the holding stays in the list unless zero holdings are hidden.
    Book(id, funds[0], kTradeRedeem, 1e9, OleDate::FromParts(2024, 10, 9, 14, 0), true);
    ui->RefillTree();
    ui->SelectAccount(id);
    EXPECT_EQ(ui->Holdings()->HoldingCount(), 1);
    app->Document()->Settings().fundZeroHide = 1;
    ui->RefreshAll();
    EXPECT_EQ(ui->Holdings()->HoldingCount(), 0);
}

// Every field of every booking dialog reaches its check (the order of the
// checks is the forms' own, tested with them): one table per dialog.
TEST_F(BookkeepingTest, EveryBookingDialogsFieldsReachTheirChecks)
{
    const TradeInfo buy = BookedAccount("主帐户");
    const int a = buy.AccountID;
    const double held = Books().FindHolding({a, funds[0], kFrontEnd})->TotalCount;
    const QDateTime future = At(2024, 10, 10), past = At(2024, 9, 5);
    const std::string mixed = "选择混合分红方式，请先设置混合分红方式";
    {
        CTradeDialog d(FormKind::Purchase, *ctx, a, nullptr, {}, app->Frame());
        d.show();
        EXPECT_EQ(d.FeeUnitLabel()->text(), QStringLiteral("%"));
        Caption(d.FeeIsAmount(), d.FeeCaptionLabel(), "购买费率:", "购买费用:");
        Refuses(d.OkButton(), {{{}, "请先选择要购买的基金"},
                               {[&] { d.Fund()->SetFundID(funds[0]), Type(d.FeeBox(), "-1"); }, "手续费不能小于0"},
                               {[&] { Type(d.FeeBox(), "1.5"); }, "购买金额不能小于0"},
                               {[&] { Type(d.AmountEdit(), "500"), d.TimeEdit()->setDateTime(future); },
                                "交易时间不能大于当前时间"},
                               {[&] { d.TimeEdit()->setDateTime(past), d.BonusBox()->setCurrentIndex(0); }, mixed}});
        EXPECT_TRUE(d.isVisible());
    }
    {
        CTradeDialog d(FormKind::Subscription, *ctx, a, nullptr, {}, app->Frame());
        d.show();
        EXPECT_EQ(d.AmountEdit()->text(), QStringLiteral("1000.00"));
        Caption(d.InterestIsAmount(), d.InterestCaptionLabel(), "同业利率:", "认购期利息:");
        Caption(d.FeeIsAmount(), d.FeeCaptionLabel(), "认购费率:", "认购费用:");
        OleDate established;
        ASSERT_TRUE(app->Document()->FundDirectory().GetEstablishDate(funds[1], established));
        Refuses(d.OkButton(),
                {{{}, "请先选择要购买的基金"},
                 {[&] { d.Fund()->SetFundID(funds[1]), Type(d.FeeBox(), "-0.5"); }, "手续费不能小于0"},
                 {[&] { Type(d.FeeBox(), "1.0"), Type(d.AmountEdit(), "0"); }, "认购金额不能小于0"},
                 {[&] { Type(d.AmountEdit(), "1000"), Type(d.CountEdit(), "-1"); }, "认购份额不能小于0"},
                 {[&] { Type(d.CountEdit(), ""), d.TimeEdit()->setDateTime(future); }, "交易时间不能大于当前时间"},
                 {[&] { d.TimeEdit()->setDateTime(past); },  // long after the fund was established
                  "基金成立日期为：" + established.Format(1) + "，认购日期不能大于基金成立日期。"}});
    }
    {
        CTradeDialog d(FormKind::Redemption, *ctx, a, nullptr, {}, app->Frame());
        d.show();
        Caption(d.FeeIsAmount(), d.FeeCaptionLabel(), "赎回费率:", "赎回费用:");
        Refuses(d.OkButton(), {{{}, "请先选择要赎回的基金"},
                               {[&] { d.Fund()->SetFundID(funds[0]), Type(d.FeeBox(), "-1"); }, "手续费不能小于0"},
                               {[&] { Type(d.FeeBox(), "0.5"); }, "赎回份数必需大于0"},
                               {[&] { Type(d.CountEdit(), "100"), Type(d.AmountEdit(), "-5"); }, "赎回金额不能小于0"},
                               {[&] { Type(d.AmountEdit(), ""), Type(d.CountEdit(), QString::number(held + 1, 'f', 2)); },
                                StrFormat("最大可以赎回的份数为%0.2f份", held)}});
        EXPECT_EQ(d.AvailableLabel()->text().toStdString(), StrFormat("可用份数:%0.2f", held));
    }
    {
        CTradeDialog d(FormKind::Conversion, *ctx, a, nullptr, CBookkeepingUi::Of(*app->Frame())->Hooks(),
                       app->Frame());
        d.show();
        Caption(d.FeeIsAmount(), d.FeeCaptionLabel(), "转出费率:", "转出费用:");
        Caption(d.TargetFeeIsAmount(), d.TargetFeeCaptionLabel(), "转入费率:", "转入费用:");
        Refuses(d.OkButton(), {{{}, "请先选择转换原基金"},
                               {[&] { d.Fund()->SetFundID(funds[0]); }, "请先选择转换目标基金"},
                               {[&] { d.TargetFund()->SetFundID(funds[0]); }, "原基金和目标基金不能相同"},
                               {[&] { d.TargetFund()->SetFundID(funds[1]), Type(d.FeeBox(), "-1"); }, "转出费率不能小于0"},
                               {[&] { Type(d.FeeBox(), "1.5"), Type(d.TargetFeeBox(), "-1"); }, "转入费率不能小于0"},
                               {[&] { Type(d.TargetFeeBox(), "0"); }, "转换份数必需大于0"},
                               {[&] { Type(d.CountEdit(), QString::number(held + 1, 'f', 2)); },
                                StrFormat("最大可以转换的份数为%0.2f份", held)},
                               {[&] { Type(d.CountEdit(), "100"), d.TargetBonusBox()->setCurrentIndex(0); }, mixed}});
        // 设置混合分红方式 opens on the target, whose mode the conversion checks.
        ModalDriver driver;
        std::string shown;
        driver.Next([&](QDialog* m) {
            shown = m->findChild<QCheckBox*>("heldOnly")->isChecked()
                        ? m->findChild<QComboBox*>("fund")->currentData().toString().toStdString()
                        : m->findChild<CFundSelector*>("anyFund")->FundID();
        });
        Click(d, "设置混合分红方式");
        EXPECT_EQ(shown, funds[1]);
        // Booked into a cash-dividend target: the source keeps its reinvestment.
        ASSERT_TRUE(Books().SetBonusType({a, funds[0], kFrontEnd}, kBonusReinvest));
        Books().ReadHoldings(a);
        Refuses(d.OkButton(), {{[&] { d.TargetBonusBox()->setCurrentIndex(1), d.TimeEdit()->setDateTime(past); },
                                "交易成功，系统已经确认了您的交易"}});
        EXPECT_EQ(Books().FindHolding({a, funds[0], kFrontEnd})->BonusType, kBonusReinvest);
        EXPECT_EQ(Books().FindHolding({a, funds[1], kFrontEnd})->BonusType, kBonusCash);
    }
    {
        CTradeDialog d(FormKind::Quick, *ctx, a, nullptr, {}, app->Frame());
        d.show();
        const double before = Books().FindHolding({a, funds[1], kFrontEnd})->TotalCount;
        Refuses(d.OkButton(), {{{}, "请先选择要记帐的基金"},
                               {[&] { d.Fund()->SetFundID(funds[1]), Type(d.CountEdit(), "-1"); }, "份数不能小于0"},
                               {[&] { Type(d.CountEdit(), "100"), Type(d.AmountEdit(), "-1"); }, "投入本金不能小于0"},
                               {[&] { Type(d.AmountEdit(), ""), d.TimeEdit()->setDateTime(future); },
                                "交易时间不能大于当前时间"},
                               {[&] { d.TimeEdit()->setDateTime(past), d.BonusBox()->setCurrentIndex(0); }, mixed},
                               {[&] { d.BonusBox()->setCurrentIndex(1); }, "记帐成功，系统已经确认了您的记帐"}});
        EXPECT_NEAR(Books().FindHolding({a, funds[1], kFrontEnd})->TotalCount - before, 100, 1e-6);
    }
    {
        CSplitDialog d(*ctx, a, nullptr, {}, app->Frame());
        d.show();
        Refuses(d.OkButton(), {{[&] { d.AccountBox()->setCurrentIndex(-1); }, "请先选择基金帐户"},
                               {[&] { d.AccountBox()->setCurrentIndex(0); }, "请先选择要拆分的基金"},
                               {[&] { d.Fund()->SetFundID(funds[0]); }, "拆分比例不能小于0"},
                               {[&] { Type(d.RatioEdit(), "2"); }, "拆分份额不能小于0"},
                               {[&] { Type(d.CountEdit(), "200"), d.DateEdit()->setDate(QDate(2024, 10, 10)); },
                                "拆分日期不能大于当前日期"}});
    }
}

// Cancelling at the service: only what was uploaded, answered on the worker
// while the window goes on.
TEST_F(BookkeepingTest, CancellingATradeAsksTheServiceAndTheListFollows)
{
    const TradeInfo buy = BookedAccount("主帐户");
    const int a = buy.AccountID;
    ASSERT_TRUE(Books().UploadBookkeeping(false)) << Books().GetLastErrorText();
    const TradeInfo late = Book(a, funds[1], kTradeQuick, 10, OleDate::FromParts(2024, 9, 6, 10, 0), true);
    prompt.yes = true;
    CCancelTradeDialog d(*ctx, a, {}, app->Frame());
    d.show();
    Click(d.CancelButton());
    EXPECT_EQ(prompt.Last(), "请先选择要取消交易对应的基金");
    const int before = d.List()->TradeCount();
    auto choose = [&d](int tradeId) {
        for (int r = 0; r < d.List()->TradeCount(); ++r) {
            d.List()->setCurrentIndex(d.List()->Proxy()->index(r, 0));
            if (d.List()->CurrentTrade()->TradeID == tradeId) return true;
        }
        return false;
    };
    QSignalSpy answered(&d, &CCancelTradeDialog::answered);
    ASSERT_TRUE(choose(late.TradeID));
    Click(d.CancelButton());
    EXPECT_EQ(prompt.Last(), "确定要取消选定的基金交易吗?");
    ASSERT_TRUE(answered.wait(30000));
    EXPECT_FALSE(answered.takeFirst()[0].toBool());
    EXPECT_EQ(prompt.Last(), "取消交易失败:没有找到此交易");
    ASSERT_TRUE(choose(buy.TradeID));
    Click(d.CancelButton());
    EXPECT_TRUE(d.IsCancelling());
    ASSERT_TRUE(answered.wait(30000));
    EXPECT_TRUE(answered.takeFirst()[0].toBool());
    EXPECT_EQ(d.List()->TradeCount(), before - 1);
    EXPECT_FALSE(choose(buy.TradeID));
}

// (By code and with Return it is the window's flow's, choosing the plan's fund.)
TEST_F(BookkeepingTest, TheFundPickerFindsByNameAndWizardList)
{
    std::vector<FundChoice> choices = FundChoicesOf(app->Market()->Catalogue(), {{"999999", "向导基金"}});
    ASSERT_GT(choices.size(), 100u);
    CFundPicker picker(choices, QString(), app->Frame());
    picker.show();
    picker.activateWindow();  // the keys go to the picker's window, not the frame's accelerators
    ASSERT_TRUE(QTest::qWaitForWindowActive(&picker));
    // A part of the name finds the fund.
    picker.SearchEdit()->insert(QString::fromStdString(app->Market()->Catalogue().FindFund(funds[0])->FundName).mid(1, 3));
    bool found = false;
    for (int i = 0; i < picker.Results()->count(); ++i)
        found = found || picker.Results()->item(i)->data(Qt::UserRole).toString().toStdString() == funds[0];
    EXPECT_TRUE(found);
    picker.SearchEdit()->clear();
    picker.SearchEdit()->insert(QStringLiteral("向导"));
    ASSERT_EQ(picker.Results()->count(), 1);
    EXPECT_EQ(picker.SelectedCode(), QStringLiteral("999999"));

    // In a dialog's fund box, "F" opens the picker, and a digit opens it with that digit typed.
    CFundSelector selector;
    selector.SetChoices(choices);
    selector.show();
    QString typed;
    auto answer = [&typed](const std::string& code) {
        QTimer::singleShot(0, [&typed, code] {
            auto* open = qobject_cast<CFundPicker*>(QApplication::activeModalWidget());
            if (!open) return;
            typed = open->SearchEdit()->text();
            open->SearchEdit()->setText(QString::fromStdString(code));
            open->accept();
        });
    };
    answer(funds[1]);
    QTest::keyClick(selector.FundBox(), Qt::Key_F);
    EXPECT_EQ(typed, QString());
    EXPECT_EQ(selector.FundID(), funds[1]);
    answer(funds[0]);
    QTest::keyClick(selector.FundBox(), Qt::Key_0);
    EXPECT_EQ(typed, QStringLiteral("0"));
    EXPECT_EQ(selector.FundID(), funds[0]);
}

TEST_F(BookkeepingTest, DeletingAsksFirstAndEveryListFollows)
{
    const int a = BookedAccount("待删帐户", false).AccountID;
    CMainFrame& frame = *app->Frame();
    frame.RunCommand(cmd::GroupAccounts);
    ui->RefillTree();
    ui->SelectAccount(a);
    ASSERT_EQ(ui->Holdings()->HoldingCount(), 1);

    // A trade of the details page: No keeps it, Yes deletes it and the holding empties.
    frame.RunCommand(cmd::TradeDetails);
    ASSERT_EQ(ui->TradeHistory()->TradeCount(), 1);
    ui->TradeHistory()->List()->setCurrentIndex(ui->TradeHistory()->List()->Proxy()->index(0, 0));
    ModalDriver driver;
    frame.RunCommand(cmd::Delete);
    EXPECT_EQ(driver.seen, std::vector<std::string>{"box:确定要删除选定的记帐明细信息吗?"});
    EXPECT_EQ(ui->TradeHistory()->TradeCount(), 1);
    driver.yes = true;
    frame.RunCommand(cmd::Delete);
    EXPECT_EQ(ui->TradeHistory()->TradeCount(), 0);
    EXPECT_EQ(Books().FindHolding({a, funds[0], kFrontEnd})->TotalCount, 0);

    // The account (its No is the command walk's): gone from the books, the panel and the list.
    frame.RunCommand(cmd::DeleteAccount);
    // The question names the account and what goes with it.
    EXPECT_TRUE(driver.Said("确定要删除选定的帐户吗?\n\n帐户“待删帐户”和它的1个基金持仓、0条交易记录将一并删除，不能恢复。"))
        << (driver.seen.empty() ? "" : driver.seen.back());
    EXPECT_EQ(Books().FindAccount(a), nullptr);
    EXPECT_EQ(frame.AccountTree()->topLevelItem(0)->childCount(), 0);
    EXPECT_EQ(ui->AccountList()->AccountCount(), 0);
    EXPECT_EQ(app->Document()->GetDatabase().GetRecordCount(
                  StrFormat("SELECT TradeID FROM T_Trade_Info WHERE AccountID=%d", a)),
              0);
}
