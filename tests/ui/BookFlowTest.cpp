// A user keeps their books through the window alone, against the real
// plindo-serve: every step is a command of the window and a dialog filled
// through its widgets, and after each one the holdings list shows the
// engine's new figures.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTreeWidget>
#include <set>

#include "UiFixture.h"
#include "app/Settings.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Format.h"
#include "ui/BookDialogs.h"
#include "ui/BookkeepingUi.h"
#include "ui/FundCurveView.h"
#include "ui/FundPicker.h"
#include "ui/ImportDialog.h"
#include "ui/MainFrame.h"
#include "ui/PlanDialogs.h"
#include "ui/SyncDialog.h"

using namespace vextal;
using namespace vextal::test;

using BookFlow = AppTest;

TEST_F(BookFlow, AUserKeepsTheBooksThroughTheWindowAndSeesTheFiguresFollow)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    CMainFrame* frame = app->Frame();
    CBookkeepingUi* ui = app->Bookkeeping();
    CAccountManager& books = app->Document()->Accounts();
    const std::vector<std::string> funds = EstablishedFunds(2);
    ASSERT_EQ(funds.size(), 2u);
    ModalDriver driver(true);
    int account = 0;

    // What the holdings list shows of a fund (shares, market value, recent income), and the engine's figures.
    auto shown = [&](const std::string& code) {
        const CListModel* m = ui->Holdings()->List()->Model();
        const QString name = QString::fromStdString(HoldingDisplayName(ui->Context().FundName(code).toStdString(), kFrontEnd));
        for (int row = 0; row < ui->Holdings()->HoldingCount(); ++row)
            if (Cell(m, row, 11) == name)
                return QStringList{Cell(m, row, 29), Cell(m, row, 23), Cell(m, row, 13)}.join(" | ").toStdString();
        return std::string();
    };
    auto engine = [&](const std::string& code) {
        const FundTradeInfo* h = books.FindHolding({account, code, kFrontEnd});
        const bool k = ui->Context().ShowThousand();
        return h ? QStringList{BookNumber(h->TotalCount, k), BookNumber(h->figures.MarketValue, k),
                               BookNumber(h->figures.NewIncome, k)}
                       .join(" | ")
                       .toStdString()
                 : std::string();
    };
    // After each step: the list shows the engine's figures, and they moved.
    std::map<std::string, std::string> before;
    auto follows = [&](const std::string& code, const char* step) {
        SCOPED_TRACE(step);
        const std::string now = shown(code);
        EXPECT_FALSE(now.empty());
        EXPECT_EQ(now, engine(code));
        EXPECT_NE(now, before[code]);
        before[code] = now;
    };
    auto trade = [&](int command, const std::string& code, const char* amount, const char* count, QDateTime when,
                     const std::string& target = {}, const char* feeInYuan = nullptr) {
        driver.Next([=](QDialog* d) {
            auto* t = qobject_cast<CTradeDialog*>(d);
            ASSERT_NE(t, nullptr);
            if (!code.empty()) t->Fund()->SetFundID(code);
            if (feeInYuan) Click(t->FeeIsAmount()), Type(t->FeeBox(), feeInYuan);
            if (amount) Type(t->AmountEdit(), QString::fromUtf8(amount));
            if (count) Type(t->CountEdit(), QString::fromUtf8(count));
            if (!target.empty()) t->TargetFund()->SetFundID(target);
            t->TimeEdit()->setDateTime(when);
            Click(t->OkButton());
        });
        frame->RunCommand(command);
    };

    // The latest values as the open-end page brings them, then a new account
    // (refused without a name, and again under the same name), chosen in the panel.
    app->Document()->Settings().showThousand = 1;
    frame->RunCommand(cmd::ValuesOpen);
    WaitIdle(*app);
    frame->RunCommand(cmd::GroupAccounts);
    for (int i = 0; i < 2; ++i) {
        driver.Next([](QDialog* d) {
            auto* dialog = qobject_cast<CAccountDialog*>(d);
            ASSERT_NE(dialog, nullptr);
            Click(dialog->OkButton());
            dialog->NameEdit()->insert(QStringLiteral("我的帐户"));  // as an input method commits it
            Click(dialog->OkButton());
        });
        frame->RunCommand(cmd::NewAccount);
    }
    EXPECT_TRUE(driver.Said("名称不能为空"));
    EXPECT_TRUE(driver.Said("已经存在相同名称的帐户"));
    ASSERT_EQ(ui->AccountList()->AccountCount(), 1);
    account = books.Accounts().begin()->first;
    ui->SelectAccount(account);
    EXPECT_EQ(frame->Navigation().page, 106);
    EXPECT_EQ(frame->AccountTree()->currentItem()->data(0, Qt::UserRole).toInt(), account);

    // The first purchase previewed with the default fee of 1.5 %: the count
    // shown is the one booked, to the cent.
    QString preview;
    driver.Next([&](QDialog* d) {
        auto* t = qobject_cast<CTradeDialog*>(d);
        EXPECT_EQ(t->FeeBox()->currentText(), QStringLiteral("1.5"));
        t->Fund()->SetFundID(funds[0]);
        Type(t->AmountEdit(), QStringLiteral("10000"));
        t->TimeEdit()->setDateTime(QDateTime(QDate(2024, 9, 2), QTime(10, 0)));
        QSignalSpy calculated(t, &CTradeDialog::calculated);
        Click(t->CalcButton());
        ASSERT_TRUE(calculated.wait(30000));
        preview = t->CountEdit()->text();
        Type(t->CountEdit(), QString());  // the booking computes it
        Click(t->OkButton());
    });
    frame->RunCommand(cmd::Purchase);
    ASSERT_EQ(books.FindAccount(account)->trades.size(), 1u);
    const TradeInfo& first = books.FindAccount(account)->trades.begin()->second;
    EXPECT_DOUBLE_EQ(first.TradeCount, Round2(10000 * 100 / 101.5 / first.TradeValue));
    EXPECT_EQ(preview.toStdString(), FormatNumber("%0.2f", first.TradeCount));
    // The list: the holding, "合计", "平均"; the annualised return a column the user may choose.
    const CListModel* list = ui->Holdings()->List()->Model();
    ASSERT_EQ(list->rowCount(), 3);
    EXPECT_EQ(Cell(list, 1, 11), QStringLiteral("合计"));
    EXPECT_EQ(Cell(list, 2, 11), QStringLiteral("平均"));
    ASSERT_TRUE(WriteVisibleColumns("FundItem", {10, 11, 12, 13, 23, 29, 30}, HomePath("Vextal.ini")));
    ui->Holdings()->RebuildColumns();
    EXPECT_EQ(list->headerData(6, Qt::Horizontal).toString(), QStringLiteral("年化收益率"));
    const FundTradeInfo* firstHeld = books.FindHolding({account, funds[0], kFrontEnd});
    ASSERT_TRUE(firstHeld->figures.AnnualRate.has_value());
    EXPECT_EQ(Cell(list, 0, 30), QString::fromStdString(FormatNumber("%0.2f", *firstHeld->figures.AnnualRate)) + "%");
    follows(funds[0], "purchase 1");

    // The second with a fee of 10 yuan; the panel lists both with the roles others read.
    trade(cmd::Purchase, funds[1], "5000", nullptr, QDateTime(QDate(2024, 9, 3), QTime(10, 0)), {}, "10");
    follows(funds[1], "purchase 2");
    QTreeWidgetItem* accountItem = frame->AccountTree()->topLevelItem(0)->child(0);
    ASSERT_EQ(accountItem->childCount(), 2);
    std::set<std::string> codes;
    for (int i = 0; i < 2; ++i) {
        codes.insert(accountItem->child(i)->data(0, Qt::UserRole + 1).toString().toStdString());
        EXPECT_EQ(accountItem->child(i)->data(0, Qt::UserRole).toInt(), account);
        EXPECT_EQ(accountItem->child(i)->data(0, Qt::UserRole + 2).toInt(), kFrontEnd);
    }
    EXPECT_EQ(codes, std::set<std::string>(funds.begin(), funds.end()));
    const double held = books.FindHolding({account, funds[0], kFrontEnd})->TotalCount;
    ui->SelectHolding({account, funds[0], kFrontEnd});
    trade(cmd::Redeem, {}, nullptr, "1000", QDateTime(QDate(2024, 9, 20), QTime(10, 0)));
    EXPECT_DOUBLE_EQ(books.FindHolding({account, funds[0], kFrontEnd})->TotalCount, held - 1000);
    follows(funds[0], "redemption");
    trade(cmd::Convert, {}, nullptr, "500", QDateTime(QDate(2024, 9, 25), QTime(10, 0)), funds[1]);
    EXPECT_DOUBLE_EQ(books.FindHolding({account, funds[0], kFrontEnd})->TotalCount, held - 1500);
    follows(funds[0], "conversion, source");
    follows(funds[1], "conversion, target");

    // A dividend booked by hand on the panel's holding, from the latest values page: 0.5 per ten shares in cash.
    ui->SelectHolding({account, funds[0], kFrontEnd});
    frame->RunCommand(cmd::ValuesOpen);
    driver.Next([](QDialog* d) {
        Type(d->findChild<QLineEdit*>("perTen"), QStringLiteral("0.5"));
        d->findChild<QDateTimeEdit*>("time")->setDateTime(QDateTime(QDate(2024, 10, 8), QTime(10, 0)));
        Click(*d, "记帐");
    });
    frame->RunCommand(cmd::DividendBooking);
    EXPECT_DOUBLE_EQ(books.FindHolding({account, funds[0], kFrontEnd})->CashBonus, Round2((held - 1500) * 0.05));
    frame->RunCommand(cmd::GroupAccounts);
    EXPECT_EQ(frame->Navigation().page, 106);
    follows(funds[0], "dividend");

    // Mixed dividends for the second fund: cash up to the end of August, reinvested since.
    ui->SelectHolding({account, funds[1], kFrontEnd});
    driver.Next([](QDialog* d) {
        d->findChild<QCheckBox*>("noStart")->setChecked(true);
        d->findChild<QDateEdit*>("end")->setDate(QDate(2024, 8, 31));
        Click(*d, "设置");
        d->findChild<QCheckBox*>("noStart")->setChecked(false);
        d->findChild<QCheckBox*>("noEnd")->setChecked(true);
        d->findChild<QDateEdit*>("start")->setDate(QDate(2024, 9, 1));
        d->findChild<QComboBox*>("mode")->setCurrentIndex(1);
        Click(*d, "设置");
        EXPECT_EQ(qobject_cast<CDividendModeDialog*>(d)->Ranges()->rowCount(), 2);
        Click(*d, "返回");
    });
    frame->RunCommand(cmd::DividendMode);
    int mode = -1;
    EXPECT_TRUE(books.GetBonusTypeForDate({account, funds[1], kFrontEnd}, OleDate::FromParts(2024, 10, 1), mode));
    EXPECT_EQ(mode, kBonusReinvest);

    // A plan for the second fund from August on, its fund chosen with the picker ("F"), mixed dividends.
    driver.Next([&](QDialog* d) {
        Click(*d, "基金定投");
        EXPECT_EQ(qobject_cast<CPlansDialog*>(d)->Model()->rowCount(), 1);  // the new plan listed
        Click(*d, "返回");
    });
    driver.Next([&](QDialog* d) {
        auto* fund = d->findChild<CFundSelector*>("fund");
        fund->SetFundID({});
        QTest::keyClick(fund->FundBox(), Qt::Key_F);
        Type(d->findChild<QLineEdit*>("amount"), QStringLiteral("500"));
        d->findChild<QSpinBox*>("day")->setValue(5);
        d->findChild<QDateEdit*>("start")->setDate(QDate(2024, 8, 1));
        d->findChild<QComboBox*>("mode")->setCurrentIndex(0);
        Click(*d, "保存");
    });
    driver.Next([&](QDialog* d) {
        auto* picker = qobject_cast<CFundPicker*>(d);
        ASSERT_NE(picker, nullptr);
        Type(picker->SearchEdit(), QString::fromStdString(funds[1]));
        QTest::keyClick(picker->SearchEdit(), Qt::Key_Return);
    });
    const size_t tradesBefore = books.FindAccount(account)->trades.size();
    frame->RunCommand(cmd::Plans);
    EXPECT_EQ(books.Plans().count({account, funds[1]}), 1u);
    EXPECT_EQ(books.FindAccount(account)->trades.size(), tradesBefore + 3);  // August, September, October
    follows(funds[1], "plan");

    // A CSV file imported while the trade list is shown: the list and the holdings follow.
    frame->RunCommand(cmd::TradeDetails);
    const int listed = ui->TradeHistory()->TradeCount();
    // The purchases in the trade list, thousands separated: the rate, or the fee in yuan without one.
    const CListModel* trades = ui->TradeHistory()->List()->Model();
    std::set<std::string> purchases;
    for (int r = 0; r < listed; ++r)
        if (Cell(trades, r, 6).endsWith(QStringLiteral(",000.00")))
            purchases.insert(QStringList{Cell(trades, r, 6), Cell(trades, r, 9), Cell(trades, r, 10)}.join(" ").toStdString());
    EXPECT_TRUE(purchases.count("5,000.00  10.00")) << ::testing::PrintToString(purchases);
    EXPECT_TRUE(std::any_of(purchases.begin(), purchases.end(), [](const std::string& p) { return p.rfind("10,000.00 1.50 ", 0) == 0; }))
        << ::testing::PrintToString(purchases);
    const QString csv = QDir(home.path()).filePath("trades.csv");
    std::ofstream(csv.toStdString()) << "日期,基金代码,类型,金额或份数,手续费\n2024-09-10," << funds[0]
                                     << ",申购,2000,1.5\n2024-09-11," << funds[0] << ",赎回,100,0.5\n";
    driver.Next([&](QDialog* d) {
        Type(d->findChild<QLineEdit*>("file"), csv);
        Click(*d, "预览");
        // Booked on the worker: the dialog closes when it is done.
        QSignalSpy done(qobject_cast<CImportDialog*>(d), &CImportDialog::runDone);
        Click(*d, "导入");
        ASSERT_TRUE(done.wait(30000));
    });
    frame->RunCommand(cmd::ImportTrades);
    EXPECT_TRUE(driver.Said("导入成功：2笔交易"));
    EXPECT_EQ(ui->TradeHistory()->TradeCount(), listed + 2);
    frame->RunCommand(cmd::GroupAccounts);
    ui->SelectAccount(account);
    follows(funds[0], "import");

    // Up to the service, and down again as a new account of the same name.
    driver.Next([](QDialog* d) {
        QSignalSpy done(qobject_cast<CSyncDialog*>(d), &CSyncDialog::workDone);
        Click(*d, "上传记帐数据");
        ASSERT_TRUE(done.wait(30000));
        Click(*d, "下载记帐数据");
        ASSERT_TRUE(done.wait(30000));
        Click(*d, "取消");
    });
    frame->RunCommand(cmd::SyncBookkeeping);
    EXPECT_TRUE(driver.Said("上传记帐数据成功"));
    EXPECT_TRUE(driver.Said("下载记帐数据成功"));
    ASSERT_EQ(ui->AccountList()->AccountCount(), 2);
    ASSERT_EQ(frame->AccountTree()->topLevelItem(0)->childCount(), 2);
    const AccountInfo* copy = nullptr;
    for (const auto& [id, a] : books.Accounts())
        if (id != account) copy = a.get();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->AccountName, "我的帐户1");
    const int original = account;
    account = copy->AccountID;
    ui->SelectAccount(account);
    for (const std::string& code : funds) {
        EXPECT_DOUBLE_EQ(books.FindHolding({account, code, kFrontEnd})->TotalCount,
                         books.FindHolding({original, code, kFrontEnd})->TotalCount);
        EXPECT_EQ(shown(code), engine(code));
        EXPECT_EQ(shown(code), before[code]);  // the same figures as the uploaded account's
    }

    // The history download's "选择基金" edits the chosen funds that "多个基金" downloads.
    driver.Next([](QDialog* d) {
        d->findChild<QCheckBox*>()->click();  // "多个基金"
        Click(*d, "选择基金");
        Click(*d, "取消");
    });
    driver.Next([&](QDialog* d) {
        auto* select = qobject_cast<CFundSelectDialog*>(d);
        ASSERT_NE(select, nullptr);
        for (int i = 0; i < select->availableList->count(); ++i)
            if (select->availableList->item(i)->data(Qt::UserRole).toString().toStdString() == funds[1])
                select->availableList->setCurrentRow(i);
        EXPECT_TRUE(select->AddHighlighted());
        Click(*d, "确定");
    });
    frame->RunCommand(cmd::DownloadHistory);
    const auto& chosen = app->Document()->Settings().fundIdList;
    EXPECT_NE(std::find(chosen.begin(), chosen.end(), funds[1]), chosen.end());

    EXPECT_TRUE(driver.unfilled.empty()) << driver.unfilled.front();
}
