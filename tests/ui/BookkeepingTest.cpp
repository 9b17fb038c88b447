// Bookkeeping through the window against the real plindo-serve: the
// account dialog, the booking dialogs filled as a user fills them (refusals
// in the order of their checks, fee captions), and purchases that show up in
// the holdings list with the engine's figures.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>

#include "ServiceProcess.h"
#include "app/MarketData.h"
#include "app/Settings.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/HttpTransport.h"
#include "ui/BookkeepingUi.h"
#include "ui/FundPicker.h"
#include "ui/MainFrame.h"
#include "ui/VextalApp.h"

using namespace vextal;

namespace {

struct RecordingPrompt : IUserPrompt {
    std::vector<std::string> messages;
    bool yes = false;
    void ShowMessage(const std::string& text, PromptIcon) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override
    {
        messages.push_back(text);
        return yes;
    }
};

void WaitIdle(CVextalApp& app)
{
    QEventLoop loop;
    app.Runner()->WhenIdle([&loop] { loop.quit(); });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
}

// Chinese text arrives as an input method commits it; the key simulation knows ASCII only.
void Commit(QLineEdit* edit, const QString& text) { edit->insert(text); }

void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

void Type(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void TypeFee(QComboBox* box, const QString& text)
{
    box->lineEdit()->selectAll();
    QTest::keyClick(box->lineEdit(), Qt::Key_Delete);
    QTest::keyClicks(box->lineEdit(), text);
}

QDateTime At(int y, int m, int d, int h, int min) { return QDateTime(QDate(y, m, d), QTime(h, min)); }

class BookkeepingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HttpConfig config = GetHttpConfig();
        config.noProxy = "*";
        SetHttpConfig(config);
        service = std::make_unique<CServiceProcess>(
            PLINDO_SERVE_PATH, std::vector<std::string>{"--funds", "300", "--now", "2024-10-09 21:00:00", "--quiet"});
        ASSERT_GT(service->Port(), 0);
        Clock::Fix(OleDate::FromParts(2024, 10, 9, 21, 0));
        std::ofstream ini(QDir(home.path()).filePath("Vextal.ini").toStdString());
        ini << "[Login]\nServerURL=" << service->Base() << "\nDataServerURL=" << service->Base() << "\n";
        ini.close();
        AppOptions options;
        options.args = {"--home", home.path().toStdString()};
        options.user = "demo";
        options.password = "demo123";
        options.autoLogin = true;
        app = std::make_unique<CVextalApp>(options);
        ASSERT_TRUE(app->Start());
        WaitIdle(*app);
        ui = app->Bookkeeping();
        ASSERT_NE(ui, nullptr);
        ctx = std::make_unique<BookContext>(BookContext{*app->Document(), *app->Market(), *app->Runner(), prompt,
                                                        QDir(home.path()).filePath("Vextal.ini").toStdString()});
        // Two stock or bond funds long established, and their names.
        for (const auto& [code, info] : app->Market()->Catalogue().Funds())
            if (info.InvestTypeID != 4 && info.CreateDate < OleDate::FromParts(2023, 1, 1) && funds.size() < 2)
                funds.push_back(code);
        ASSERT_EQ(funds.size(), 2u);
    }
    void TearDown() override
    {
        ctx.reset();
        if (app) app->Shutdown();
        app.reset();
        Clock::Release();
    }

    CAccountManager& Manager() { return app->Document()->Accounts(); }

    // An account made through its dialog, as a user makes it.
    int NewAccount(const QString& name)
    {
        CAccountDialog dialog(Manager(), prompt, nullptr, app->Frame());
        dialog.show();
        Commit(dialog.NameEdit(), name);
        Click(dialog.OkButton());
        return dialog.AccountID();
    }

    std::unique_ptr<CServiceProcess> service;
    QTemporaryDir home;
    std::unique_ptr<CVextalApp> app;
    CBookkeepingUi* ui = nullptr;
    RecordingPrompt prompt;
    std::unique_ptr<BookContext> ctx;
    std::vector<std::string> funds;
};

}  // namespace

TEST_F(BookkeepingTest, APurchaseThroughTheWindowAddsAHoldingWithTheEnginesFigures)
{
    // The latest values as the open-end page brings them, then back to the accounts.
    app->Frame()->RunCommand(cmd::ValuesOpen);
    WaitIdle(*app);
    app->Frame()->RunCommand(cmd::GroupAccounts);
    // The account dialog: its checks, then the account in the panel.
    {
        CAccountDialog dialog(Manager(), prompt, nullptr, app->Frame());
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("新建帐户"));
        EXPECT_EQ(dialog.OkButton()->text(), QStringLiteral("新建"));
        dialog.show();
        Click(dialog.OkButton());
        EXPECT_EQ(prompt.messages.back(), "名称不能为空");
    }
    const int id = NewAccount(QStringLiteral("银行帐户"));
    ASSERT_GT(id, 0);
    EXPECT_EQ(NewAccount(QStringLiteral("银行帐户")), 0);
    EXPECT_EQ(prompt.messages.back(), "已经存在相同名称的帐户");
    ui->RefillTree();
    ui->SelectAccount(id);
    QTreeWidget* tree = app->Frame()->AccountTree();
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem()->data(0, Qt::UserRole).toInt(), id);
    EXPECT_EQ(app->Frame()->Navigation().page, 106);
    EXPECT_TRUE(app->Frame()->Action(cmd::Purchase)->isEnabled());
    EXPECT_EQ(ui->Holdings()->HoldingCount(), 0);
    QAbstractItemModelTester tester(ui->Holdings()->List()->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);

    // The purchase as a user fills it: fund, amount, the default fee of 1.5 %.
    CTradeDialog dialog(FormKind::Purchase, *ctx, id, nullptr, ui->Hooks(), app->Frame());
    dialog.show();
    EXPECT_EQ(dialog.FeeBox()->currentText(), QStringLiteral("1.5"));
    dialog.Fund()->SetFundID(funds[0]);
    Type(dialog.AmountEdit(), QStringLiteral("1000"));
    dialog.TimeEdit()->setDateTime(At(2024, 9, 2, 10, 0));
    QSignalSpy calculated(&dialog, &CTradeDialog::calculated);
    Click(dialog.CalcButton());
    ASSERT_TRUE(calculated.wait(30000));
    const QString previewCount = dialog.CountEdit()->text();
    Type(dialog.CountEdit(), QString());  // the booking computes it
    Click(dialog.OkButton());
    EXPECT_EQ(prompt.messages.back(), "交易成功，系统已经确认了您的交易");

    // The engine's trade and holding, and the list showing exactly them.
    const AccountInfo* account = Manager().FindAccount(id);
    ASSERT_NE(account, nullptr);
    ASSERT_EQ(account->trades.size(), 1u);
    const TradeInfo& trade = account->trades.begin()->second;
    ASSERT_GT(trade.TradeValue, 0);
    EXPECT_DOUBLE_EQ(trade.TradeCount, Round2(1000 * 100 / 101.5 / trade.TradeValue));
    EXPECT_EQ(previewCount, QString::fromStdString(FormatNumber("%0.2f", trade.TradeCount)));
    const FundTradeInfo* held = Manager().FindHolding({id, funds[0], kFrontEnd});
    ASSERT_NE(held, nullptr);
    ASSERT_EQ(ui->Holdings()->HoldingCount(), 1);
    EXPECT_NEAR(held->figures.MarketValue, held->TotalCount * held->figures.LatestValue, 1e-6);
    ASSERT_GT(held->figures.MarketValue, 0);
    const CListModel* model = ui->Holdings()->List()->Model();
    auto cell = [model](int row, int columnId) {
        for (size_t c = 0; c < model->Columns().size(); ++c)
            if (model->Columns()[c].id == columnId) return model->data(model->index(row, static_cast<int>(c))).toString();
        return QString("(no column)");
    };
    EXPECT_EQ(model->rowCount(), 3);  // the holding, "合计", "平均"
    EXPECT_EQ(cell(0, 29), QString::fromStdString(FormatNumber("%0.2f", held->TotalCount)));
    EXPECT_EQ(cell(0, 23), QString::fromStdString(FormatNumber("%0.2f", held->figures.MarketValue)));
    EXPECT_EQ(cell(0, 13), QString::fromStdString(FormatNumber("%0.2f", held->figures.NewIncome)));
    EXPECT_EQ(cell(1, 11), QStringLiteral("合计"));
    EXPECT_EQ(cell(2, 11), QStringLiteral("平均"));
    // The annualised return is a column the user may choose.
    ASSERT_TRUE(WriteVisibleColumns("FundItem", {10, 11, 12, 29, 30}, ctx->iniPath));
    ui->Holdings()->RebuildColumns();
    ASSERT_EQ(model->headerData(4, Qt::Horizontal).toString(), QStringLiteral("年化收益率"));
    ASSERT_TRUE(held->figures.AnnualRate.has_value());
    EXPECT_EQ(cell(0, 30), QString::fromStdString(FormatNumber("%0.2f", *held->figures.AnnualRate)) + "%");
    // The panel has the holding under its account, with the roles others read.
    ui->RefillTree();
    QTreeWidgetItem* accountItem = tree->topLevelItem(0)->child(0);
    ASSERT_EQ(accountItem->childCount(), 1);
    EXPECT_EQ(accountItem->child(0)->data(0, Qt::UserRole + 1).toString().toStdString(), funds[0]);
    EXPECT_EQ(accountItem->child(0)->data(0, Qt::UserRole + 2).toInt(), kFrontEnd);

    // A back-end purchase with a fee of 10 yuan: "后端" in the name, the rate
    // column empty and the fee 10.00 in the trade list, thousands separated.
    app->Document()->Settings().showThousand = 1;
    CTradeDialog second(FormKind::Purchase, *ctx, id, nullptr, ui->Hooks(), app->Frame());
    second.show();
    second.Fund()->SetFundID(funds[1]);
    Type(second.AmountEdit(), QStringLiteral("2000"));
    Click(second.FeeIsAmount());
    TypeFee(second.FeeBox(), QStringLiteral("10"));
    second.TimeEdit()->setDateTime(At(2024, 9, 3, 10, 0));
    Click(second.OkButton());
    EXPECT_EQ(prompt.messages.back(), "交易成功，系统已经确认了您的交易");
    app->Frame()->RunCommand(cmd::TradeDetails);
    CFundTradeHistoryView* history = ui->TradeHistory();
    ASSERT_EQ(history->TradeCount(), 2);
    const CListModel* trades = history->List()->Model();
    auto tradeCell = [trades](int row, int columnId) {
        for (size_t c = 0; c < trades->Columns().size(); ++c)
            if (trades->Columns()[c].id == columnId) return trades->data(trades->index(row, static_cast<int>(c))).toString();
        return QString("(no column)");
    };
    EXPECT_EQ(tradeCell(1, 6), QStringLiteral("2,000.00"));
    EXPECT_EQ(tradeCell(1, 9), QString());
    EXPECT_EQ(tradeCell(1, 10), QStringLiteral("10.00"));
    EXPECT_EQ(tradeCell(0, 9), QStringLiteral("1.50"));
    EXPECT_EQ(ui->AccountList()->AccountCount(), 1);

    // An emptied holding stays in the list unless zero holdings are hidden.
    TradeInfo all;
    all.AccountID = id;
    all.FundID = funds[1];
    all.BuyType = kFrontEnd;
    all.TradeType = kTradeRedeem;
    all.TradeCount = 1e9;
    all.TradeTime = OleDate::FromParts(2024, 10, 8, 10, 0);
    ASSERT_GE(Manager().BookTrade(all), 0) << Manager().GetLastErrorText();
    app->Frame()->ShowAccountsPage(106);
    ui->RefreshAll();
    EXPECT_EQ(ui->Holdings()->HoldingCount(), 2);
    app->Document()->Settings().fundZeroHide = 1;
    ui->RefreshAll();
    EXPECT_EQ(ui->Holdings()->HoldingCount(), 1);
}

TEST_F(BookkeepingTest, AHoldingBookedBeforeTheLatestValuesAreFetchedIsPricedOnceTheyArrive)
{
    // A newcomer books before any list of latest values was fetched.
    app->Frame()->RunCommand(cmd::GroupAccounts);
    const int id = NewAccount(QStringLiteral("新帐户"));
    ASSERT_GT(id, 0);
    ui->RefillTree();
    ui->SelectAccount(id);
    CTradeDialog dialog(FormKind::Purchase, *ctx, id, nullptr, ui->Hooks(), app->Frame());
    dialog.show();
    dialog.Fund()->SetFundID(funds[0]);
    Type(dialog.AmountEdit(), QStringLiteral("10000"));
    dialog.TimeEdit()->setDateTime(At(2024, 10, 8, 10, 0));
    Click(dialog.OkButton());
    ASSERT_EQ(prompt.messages.back(), "交易成功，系统已经确认了您的交易");

    // The latest values page brings them: the holding is priced without a refresh.
    app->Frame()->RunCommand(cmd::ValuesOpen);
    WaitIdle(*app);
    const FundTradeInfo* held = Manager().FindHolding({id, funds[0], kFrontEnd});
    ASSERT_NE(held, nullptr);
    EXPECT_GT(held->figures.LatestValue, 0);
    EXPECT_NEAR(held->figures.MarketValue, held->TotalCount * held->figures.LatestValue, 1e-6);
    EXPECT_GT(Manager().FindAccount(id)->MarketValue, 0);
}

TEST_F(BookkeepingTest, EveryBookingDialogRefusesInTheOrderOfItsChecks)
{
    AccountInfo a;
    a.AccountName = "主帐户";
    a.CreateDate = Clock::Now();
    ASSERT_TRUE(Manager().CreateAccount(a));
    TradeInfo buy;
    buy.AccountID = a.AccountID;
    buy.FundID = funds[0];
    buy.TradeType = kTradeBuy;
    buy.TradeMoney = 1000;
    buy.TradeFee = 1.5;
    buy.TradeTime = OleDate::FromParts(2024, 9, 2, 10, 0);
    ASSERT_GE(Manager().BookTrade(buy), 0) << Manager().GetLastErrorText();
    const double held = Manager().FindHolding({a.AccountID, funds[0], kFrontEnd})->TotalCount;
    const QDateTime future = At(2024, 10, 10, 10, 0), past = At(2024, 9, 5, 10, 0);
    auto last = [this] { return prompt.messages.back(); };

    {  // purchase
        CTradeDialog d(FormKind::Purchase, *ctx, a.AccountID, nullptr, {}, app->Frame());
        d.show();
        EXPECT_EQ(d.FeeCaptionLabel()->text(), QStringLiteral("购买费率:"));
        EXPECT_EQ(d.FeeUnitLabel()->text(), QStringLiteral("%"));
        Click(d.FeeIsAmount());
        EXPECT_EQ(d.FeeCaptionLabel()->text(), QStringLiteral("购买费用:"));
        EXPECT_EQ(d.FeeUnitLabel()->text(), QStringLiteral("元"));
        Click(d.FeeIsAmount());
        Click(d.OkButton());
        EXPECT_EQ(last(), "请先选择要购买的基金");
        d.Fund()->SetFundID(funds[0]);
        TypeFee(d.FeeBox(), "-1");
        Click(d.OkButton());
        EXPECT_EQ(last(), "手续费不能小于0");
        TypeFee(d.FeeBox(), "1.5");
        Click(d.OkButton());
        EXPECT_EQ(last(), "购买金额不能小于0");
        Type(d.AmountEdit(), "500");
        d.TimeEdit()->setDateTime(future);
        Click(d.OkButton());
        EXPECT_EQ(last(), "交易时间不能大于当前时间");
        d.TimeEdit()->setDateTime(past);
        d.BonusBox()->setCurrentIndex(0);  // "混合分红" without a range
        Click(d.OkButton());
        EXPECT_EQ(last(), "选择混合分红方式，请先设置混合分红方式");
        EXPECT_TRUE(d.isVisible());
    }
    {  // subscription
        CTradeDialog d(FormKind::Subscription, *ctx, a.AccountID, nullptr, {}, app->Frame());
        d.show();
        EXPECT_EQ(d.AmountEdit()->text(), QStringLiteral("1000.00"));
        EXPECT_EQ(d.InterestCaptionLabel()->text(), QStringLiteral("同业利率:"));
        Click(d.InterestIsAmount());
        EXPECT_EQ(d.InterestCaptionLabel()->text(), QStringLiteral("认购期利息:"));
        Click(d.InterestIsAmount());
        Click(d.FeeIsAmount());
        EXPECT_EQ(d.FeeCaptionLabel()->text(), QStringLiteral("认购费用:"));
        Click(d.FeeIsAmount());
        Click(d.OkButton());
        EXPECT_EQ(last(), "请先选择要购买的基金");
        d.Fund()->SetFundID(funds[1]);
        TypeFee(d.FeeBox(), "-0.5");
        Click(d.OkButton());
        EXPECT_EQ(last(), "手续费不能小于0");
        TypeFee(d.FeeBox(), "1.0");
        Type(d.AmountEdit(), "0");
        Click(d.OkButton());
        EXPECT_EQ(last(), "认购金额不能小于0");
        Type(d.AmountEdit(), "1000");
        Type(d.CountEdit(), "-1");
        Click(d.OkButton());
        EXPECT_EQ(last(), "认购份额不能小于0");
        Type(d.CountEdit(), "");
        d.TimeEdit()->setDateTime(future);
        Click(d.OkButton());
        EXPECT_EQ(last(), "交易时间不能大于当前时间");
        d.TimeEdit()->setDateTime(past);  // long after the fund was established
        Click(d.OkButton());
        OleDate established;
        ASSERT_TRUE(app->Document()->FundDirectory().GetEstablishDate(funds[1], established));
        EXPECT_EQ(last(), "基金成立日期为：" + established.Format(1) + "，认购日期不能大于基金成立日期。");
    }
    {  // redemption
        CTradeDialog d(FormKind::Redemption, *ctx, a.AccountID, nullptr, {}, app->Frame());
        d.show();
        Click(d.FeeIsAmount());
        EXPECT_EQ(d.FeeCaptionLabel()->text(), QStringLiteral("赎回费用:"));
        Click(d.FeeIsAmount());
        Click(d.OkButton());
        EXPECT_EQ(last(), "请先选择要赎回的基金");
        d.Fund()->SetFundID(funds[0]);
        EXPECT_EQ(d.AvailableLabel()->text().toStdString(), StrFormat("可用份数:%0.2f", held));
        TypeFee(d.FeeBox(), "-1");
        Click(d.OkButton());
        EXPECT_EQ(last(), "手续费不能小于0");
        TypeFee(d.FeeBox(), "0.5");
        Click(d.OkButton());
        EXPECT_EQ(last(), "赎回份数必需大于0");
        Type(d.CountEdit(), "100");
        Type(d.AmountEdit(), "-5");
        Click(d.OkButton());
        EXPECT_EQ(last(), "赎回金额不能小于0");
        Type(d.AmountEdit(), "");
        Type(d.CountEdit(), QString::number(held + 1, 'f', 2));
        Click(d.OkButton());
        EXPECT_EQ(last(), StrFormat("最大可以赎回的份数为%0.2f份", held));
    }
    {  // conversion
        CTradeDialog d(FormKind::Conversion, *ctx, a.AccountID, nullptr, {}, app->Frame());
        d.show();
        Click(d.FeeIsAmount());
        Click(d.TargetFeeIsAmount());
        EXPECT_EQ(d.FeeCaptionLabel()->text(), QStringLiteral("转出费用:"));
        EXPECT_EQ(d.TargetFeeCaptionLabel()->text(), QStringLiteral("转入费用:"));
        Click(d.FeeIsAmount());
        Click(d.TargetFeeIsAmount());
        EXPECT_EQ(d.TargetFeeCaptionLabel()->text(), QStringLiteral("转入费率:"));
        Click(d.OkButton());
        EXPECT_EQ(last(), "请先选择转换原基金");
        d.Fund()->SetFundID(funds[0]);
        Click(d.OkButton());
        EXPECT_EQ(last(), "请先选择转换目标基金");
        d.TargetFund()->SetFundID(funds[0]);
        Click(d.OkButton());
        EXPECT_EQ(last(), "原基金和目标基金不能相同");
        d.TargetFund()->SetFundID(funds[1]);
        TypeFee(d.FeeBox(), "-1");
        Click(d.OkButton());
        EXPECT_EQ(last(), "转出费率不能小于0");
        TypeFee(d.FeeBox(), "1.5");
        TypeFee(d.TargetFeeBox(), "-1");
        Click(d.OkButton());
        EXPECT_EQ(last(), "转入费率不能小于0");
        TypeFee(d.TargetFeeBox(), "0");
        Click(d.OkButton());
        EXPECT_EQ(last(), "转换份数必需大于0");
        Type(d.CountEdit(), QString::number(held + 1, 'f', 2));
        Click(d.OkButton());
        EXPECT_EQ(last(), StrFormat("最大可以转换的份数为%0.2f份", held));
        Type(d.CountEdit(), "100");
        d.TargetBonusBox()->setCurrentIndex(0);
        Click(d.OkButton());
        EXPECT_EQ(last(), "选择混合分红方式，请先设置混合分红方式");
        // Booked into a cash-dividend target: the source keeps its reinvestment.
        ASSERT_TRUE(Manager().SetBonusType({a.AccountID, funds[0], kFrontEnd}, kBonusReinvest));
        Manager().ReadHoldings(a.AccountID);
        d.TargetBonusBox()->setCurrentIndex(1);
        d.TimeEdit()->setDateTime(past);
        Click(d.OkButton());
        EXPECT_EQ(last(), "交易成功，系统已经确认了您的交易");
        EXPECT_EQ(Manager().FindHolding({a.AccountID, funds[0], kFrontEnd})->BonusType, kBonusReinvest);
        EXPECT_EQ(Manager().FindHolding({a.AccountID, funds[1], kFrontEnd})->BonusType, kBonusCash);
    }
    {  // quick booking
        CTradeDialog d(FormKind::Quick, *ctx, a.AccountID, nullptr, {}, app->Frame());
        d.show();
        Click(d.OkButton());
        EXPECT_EQ(last(), "请先选择要记帐的基金");
        d.Fund()->SetFundID(funds[1]);
        Type(d.CountEdit(), "-1");
        Click(d.OkButton());
        EXPECT_EQ(last(), "份数不能小于0");
        Type(d.CountEdit(), "100");
        Type(d.AmountEdit(), "-1");
        Click(d.OkButton());
        EXPECT_EQ(last(), "投入本金不能小于0");
        Type(d.AmountEdit(), "");
        d.TimeEdit()->setDateTime(future);
        Click(d.OkButton());
        EXPECT_EQ(last(), "交易时间不能大于当前时间");
        d.TimeEdit()->setDateTime(past);
        d.BonusBox()->setCurrentIndex(0);
        Click(d.OkButton());
        EXPECT_EQ(last(), "选择混合分红方式，请先设置混合分红方式");
        // Booked: the count at the day's NAV, the quick-booking text.
        const double before = Manager().FindHolding({a.AccountID, funds[1], kFrontEnd})->TotalCount;
        d.BonusBox()->setCurrentIndex(1);
        Click(d.OkButton());
        EXPECT_EQ(last(), "记帐成功，系统已经确认了您的记帐");
        EXPECT_NEAR(Manager().FindHolding({a.AccountID, funds[1], kFrontEnd})->TotalCount - before, 100, 1e-6);
    }
    {  // split
        CSplitDialog d(*ctx, a.AccountID, nullptr, {}, app->Frame());
        d.show();
        d.AccountBox()->setCurrentIndex(-1);
        Click(d.OkButton());
        EXPECT_EQ(last(), "请先选择基金帐户");
        d.AccountBox()->setCurrentIndex(0);
        Click(d.OkButton());
        EXPECT_EQ(last(), "请先选择要拆分的基金");
        d.Fund()->SetFundID(funds[0]);
        Click(d.OkButton());
        EXPECT_EQ(last(), "拆分比例不能小于0");
        Type(d.RatioEdit(), "2");
        Click(d.OkButton());
        EXPECT_EQ(last(), "拆分份额不能小于0");
        Type(d.CountEdit(), "200");
        d.DateEdit()->setDate(QDate(2024, 10, 10));
        Click(d.OkButton());
        EXPECT_EQ(last(), "拆分日期不能大于当前日期");
    }
    {  // cancelling at the service: only what was uploaded, answered on the worker
        ASSERT_TRUE(Manager().UploadBookkeeping(false)) << Manager().GetLastErrorText();
        TradeInfo late;
        late.AccountID = a.AccountID;
        late.FundID = funds[1];
        late.TradeType = kTradeQuick;
        late.TradeCount = 10;
        late.TradeTime = OleDate::FromParts(2024, 9, 6, 10, 0);
        ASSERT_GE(Manager().BookTrade(late), 0) << Manager().GetLastErrorText();
        prompt.yes = true;
        CCancelTradeDialog d(*ctx, a.AccountID, {}, app->Frame());
        d.show();
        Click(d.CancelButton());
        EXPECT_EQ(last(), "请先选择要取消交易对应的基金");
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
        EXPECT_EQ(last(), "确定要取消选定的基金交易吗?");
        ASSERT_TRUE(answered.wait(30000));
        EXPECT_FALSE(answered.takeFirst()[0].toBool());
        EXPECT_EQ(last(), "取消交易失败:没有找到此交易");
        ASSERT_TRUE(choose(buy.TradeID));
        Click(d.CancelButton());
        EXPECT_TRUE(d.IsCancelling());  // the window goes on while the service answers
        ASSERT_TRUE(answered.wait(30000));
        EXPECT_TRUE(answered.takeFirst()[0].toBool());
        EXPECT_EQ(d.List()->TradeCount(), before - 1);
        EXPECT_FALSE(choose(buy.TradeID));
    }
}

TEST_F(BookkeepingTest, TheFundPickerFindsByCodeNameAndWizardList)
{
    std::vector<FundChoice> choices = FundChoicesOf(app->Market()->Catalogue(), {{"999999", "向导基金"}});
    ASSERT_GT(choices.size(), 100u);
    const CFundInfo* first = app->Market()->Catalogue().FindFund(funds[0]);
    CFundPicker picker(choices, QString(), app->Frame());
    picker.show();
    picker.activateWindow();  // the keys go to the picker's window, not the frame's accelerators
    ASSERT_TRUE(QTest::qWaitForWindowActive(&picker));
    QTest::keyClicks(picker.SearchEdit(), QString::fromStdString(funds[0]));
    ASSERT_GT(picker.Results()->count(), 0);
    EXPECT_EQ(picker.SelectedCode().toStdString(), funds[0]);
    // A part of the name finds the fund; codes that start with the text come first.
    const QString part = QString::fromStdString(first->FundName).mid(1, 3);
    picker.SearchEdit()->clear();
    Commit(picker.SearchEdit(), part);
    bool found = false;
    for (int i = 0; i < picker.Results()->count(); ++i)
        found = found || picker.Results()->item(i)->data(Qt::UserRole).toString().toStdString() == funds[0];
    EXPECT_TRUE(found);
    picker.SearchEdit()->clear();
    Commit(picker.SearchEdit(), QStringLiteral("向导"));
    ASSERT_EQ(picker.Results()->count(), 1);
    EXPECT_EQ(picker.SelectedCode(), QStringLiteral("999999"));
    QSignalSpy returned(picker.SearchEdit(), &QLineEdit::returnPressed);
    QTest::keyClick(picker.SearchEdit(), Qt::Key_Return);
    EXPECT_EQ(returned.count(), 1);
    EXPECT_EQ(picker.result(), QDialog::Accepted);

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
    // A window of its own over the same books, answering through the recorder.
    FrameContext context;
    context.iniPath = ctx->iniPath;
    context.prompt = &prompt;
    CMainFrame frame(context);
    auto* book = new CBookkeepingUi(frame, *app->Document(), *app->Market(), *app->Runner(), prompt, ctx->iniPath);
    book->Install();
    AccountInfo a;
    a.AccountName = "待删帐户";
    a.CreateDate = Clock::Now();
    ASSERT_TRUE(Manager().CreateAccount(a));
    TradeInfo buy;
    buy.AccountID = a.AccountID;
    buy.FundID = funds[0];
    buy.TradeType = kTradeBuy;
    buy.TradeMoney = 1000;
    buy.TradeFee = 1.5;
    buy.TradeTime = OleDate::FromParts(2024, 9, 2, 10, 0);
    buy.NoAutoBonus = 1;
    ASSERT_GE(Manager().BookTrade(buy), 0) << Manager().GetLastErrorText();
    book->RefillTree();
    book->SelectAccount(a.AccountID);
    ASSERT_EQ(book->Holdings()->HoldingCount(), 1);

    // A trade of the details page: the question, No keeps it, Yes deletes it
    // and the holding empties.
    frame.RunCommand(cmd::TradeDetails);
    ASSERT_EQ(book->TradeHistory()->TradeCount(), 1);
    book->TradeHistory()->List()->setCurrentIndex(book->TradeHistory()->List()->Proxy()->index(0, 0));
    frame.RunCommand(cmd::Delete);
    EXPECT_EQ(prompt.messages.back(), "确定要删除选定的记帐明细信息吗?");
    EXPECT_EQ(book->TradeHistory()->TradeCount(), 1);
    prompt.yes = true;
    frame.RunCommand(cmd::Delete);
    EXPECT_EQ(book->TradeHistory()->TradeCount(), 0);
    EXPECT_EQ(Manager().FindHolding({a.AccountID, funds[0], kFrontEnd})->TotalCount, 0);

    // The account: No leaves it, Yes removes it from the books, the panel and the list.
    prompt.yes = false;
    const size_t asked = prompt.messages.size();
    frame.RunCommand(cmd::DeleteAccount);
    ASSERT_EQ(prompt.messages.size(), asked + 1);
    EXPECT_EQ(prompt.messages.back(), "确定要删除选定的帐户吗?");
    EXPECT_NE(Manager().FindAccount(a.AccountID), nullptr);
    prompt.yes = true;
    frame.RunCommand(cmd::DeleteAccount);
    EXPECT_EQ(Manager().FindAccount(a.AccountID), nullptr);
    EXPECT_EQ(frame.AccountTree()->topLevelItem(0)->childCount(), 0);
    EXPECT_EQ(book->AccountList()->AccountCount(), 0);
    int rows = -1;
    app->Document()->GetDatabase().QueryInt(StrFormat("SELECT COUNT(*) FROM T_Trade_Info WHERE AccountID=%d", a.AccountID), rows);
    EXPECT_EQ(rows, 0);
}
