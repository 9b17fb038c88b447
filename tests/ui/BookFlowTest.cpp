// A user keeps their books through the window alone, against the real
// plindo-serve: every step is a command of the window and a dialog filled
// through its widgets, and after each one the holdings list shows the
// engine's new figures.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <deque>
#include <functional>
#include <fstream>

#include "ServiceProcess.h"
#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/HttpTransport.h"
#include "ui/BookDialogs.h"
#include "ui/BookkeepingUi.h"
#include "ui/FundCurveView.h"
#include "ui/FundPicker.h"
#include "ui/ImportDialog.h"
#include "ui/MainFrame.h"
#include "ui/PlanDialogs.h"
#include "ui/SyncDialog.h"
#include "ui/VextalApp.h"

using namespace vextal;

namespace {

void Click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

void Click(QWidget* w, const char* text)
{
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
        if (b->text() == QString::fromUtf8(text)) return Click(b);
    ADD_FAILURE() << "no button " << text << " in " << w->windowTitle().toStdString();
}

void Type(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

// Answers the modal windows as they come up: message boxes with their
// default yes or OK (their texts kept), other dialogs with the next filler;
// progress windows are left to close by themselves.
class Driver : public QObject {
public:
    std::vector<std::string> said;
    std::vector<std::string> unexpected;

    Driver()
    {
        connect(&m_timer, &QTimer::timeout, this, &Driver::Tick);
        m_timer.start(20);
    }
    void Next(std::function<void(QDialog*)> fill) { m_fills.push_back(std::move(fill)); }
    bool Said(const std::string& text) const { return std::find(said.begin(), said.end(), text) != said.end(); }

private:
    void Tick()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || std::any_of(m_seen.begin(), m_seen.end(), [w](const QPointer<QWidget>& p) { return p == w; })) return;
        m_seen.emplace_back(w);
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            said.push_back(box->text().toStdString());
            QAbstractButton* b = box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes) : box->button(QMessageBox::Ok);
            QTimer::singleShot(0, b, &QAbstractButton::click);
            return;
        }
        if (qobject_cast<QProgressDialog*>(w)) return;  // long work's progress: it closes by itself
        auto* dialog = qobject_cast<QDialog*>(w);
        if (m_fills.empty() || !dialog) {
            unexpected.push_back(std::string(w->metaObject()->className()) + " " + w->windowTitle().toStdString());
            if (dialog) QTimer::singleShot(0, dialog, &QDialog::reject);
            return;
        }
        auto fill = std::move(m_fills.front());
        m_fills.pop_front();
        QPointer<QDialog> d(dialog);
        QTimer::singleShot(0, dialog, [fill, d] {
            fill(d);
            if (d && d->isVisible()) d->reject();  // a refused filling must not hang the test
        });
    }
    QTimer m_timer;
    std::deque<std::function<void(QDialog*)>> m_fills;
    std::vector<QPointer<QWidget>> m_seen;
};

}  // namespace

TEST(BookFlow, AUserKeepsTheBooksThroughTheWindowAndSeesTheFiguresFollow)
{
    HttpConfig config = GetHttpConfig();
    config.noProxy = "*";
    SetHttpConfig(config);
    CServiceProcess service(PLINDO_SERVE_PATH, {"--funds", "300", "--now", "2024-10-09 21:00:00", "--quiet"});
    ASSERT_GT(service.Port(), 0);
    Clock::Fix(OleDate::FromParts(2024, 10, 9, 21, 0));
    QTemporaryDir home;
    std::ofstream(QDir(home.path()).filePath("Vextal.ini").toStdString())
        << "[Login]\nServerURL=" << service.Base() << "\nDataServerURL=" << service.Base() << "\n";
    AppOptions options;
    options.args = {"--home", home.path().toStdString()};
    options.user = "demo";
    options.password = "demo123";
    options.autoLogin = true;
    auto app = std::make_unique<CVextalApp>(options);
    ASSERT_TRUE(app->Start());
    QEventLoop loop;
    app->Runner()->WhenIdle([&loop] { loop.quit(); });
    loop.exec();
    CMainFrame* frame = app->Frame();
    CBookkeepingUi* ui = app->Bookkeeping();
    CAccountManager& books = app->Document()->Accounts();
    std::vector<std::string> funds;  // two stock or bond funds long established
    for (const auto& [code, info] : app->Market()->Catalogue().Funds())
        if (info.InvestTypeID != 4 && info.CreateDate < OleDate::FromParts(2023, 1, 1) && funds.size() < 2)
            funds.push_back(code);
    ASSERT_EQ(funds.size(), 2u);
    Driver driver;
    int account = 0;

    // What the holdings list shows of a fund (shares, market value, recent income), and the engine's figures.
    auto shown = [&](const std::string& code) {
        const CListModel* m = ui->Holdings()->List()->Model();
        const QString name = QString::fromStdString(HoldingDisplayName(ui->Context().FundName(code).toStdString(), kFrontEnd));
        auto column = [m](int id) {
            for (size_t c = 0; c < m->Columns().size(); ++c)
                if (m->Columns()[c].id == id) return static_cast<int>(c);
            return -1;
        };
        for (int row = 0; row < ui->Holdings()->HoldingCount(); ++row)
            if (m->data(m->index(row, column(11))).toString() == name)
                return QStringList{m->data(m->index(row, column(29))).toString(), m->data(m->index(row, column(23))).toString(),
                                   m->data(m->index(row, column(13))).toString()}
                    .join(" | ")
                    .toStdString();
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
                     const std::string& target = {}) {
        driver.Next([=](QDialog* d) {
            auto* t = qobject_cast<CTradeDialog*>(d);
            ASSERT_NE(t, nullptr);
            if (!code.empty()) t->Fund()->SetFundID(code);
            if (amount) Type(t->AmountEdit(), QString::fromUtf8(amount));
            if (count) Type(t->CountEdit(), QString::fromUtf8(count));
            if (!target.empty()) t->TargetFund()->SetFundID(target);
            t->TimeEdit()->setDateTime(when);
            Click(t->OkButton());
        });
        frame->RunCommand(command);
    };

    // The latest values as the open-end page brings them, then a new account, chosen in the panel.
    frame->RunCommand(cmd::ValuesOpen);
    app->Runner()->WhenIdle([&loop] { loop.quit(); });
    loop.exec();
    frame->RunCommand(cmd::GroupAccounts);
    driver.Next([](QDialog* d) {
        auto* dialog = qobject_cast<CAccountDialog*>(d);
        ASSERT_NE(dialog, nullptr);
        dialog->NameEdit()->insert(QStringLiteral("我的帐户"));  // as an input method commits it
        Click(dialog->OkButton());
    });
    frame->RunCommand(cmd::NewAccount);
    ASSERT_EQ(ui->AccountList()->AccountCount(), 1);
    account = books.Accounts().begin()->first;
    ui->SelectAccount(account);
    EXPECT_EQ(frame->Navigation().page, 106);

    // Two purchases, part of the first redeemed, part converted into the second.
    trade(cmd::Purchase, funds[0], "10000", nullptr, QDateTime(QDate(2024, 9, 2), QTime(10, 0)));
    follows(funds[0], "purchase 1");
    trade(cmd::Purchase, funds[1], "5000", nullptr, QDateTime(QDate(2024, 9, 3), QTime(10, 0)));
    follows(funds[1], "purchase 2");
    EXPECT_EQ(frame->AccountTree()->topLevelItem(0)->child(0)->childCount(), 2);
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
        Click(d, "记帐");
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
        Click(d, "设置");
        d->findChild<QCheckBox*>("noStart")->setChecked(false);
        d->findChild<QCheckBox*>("noEnd")->setChecked(true);
        d->findChild<QDateEdit*>("start")->setDate(QDate(2024, 9, 1));
        d->findChild<QComboBox*>("mode")->setCurrentIndex(1);
        Click(d, "设置");
        EXPECT_EQ(qobject_cast<CDividendModeDialog*>(d)->Ranges()->rowCount(), 2);
        Click(d, "返回");
    });
    frame->RunCommand(cmd::DividendMode);
    int mode = -1;
    EXPECT_TRUE(books.GetBonusTypeForDate({account, funds[1], kFrontEnd}, OleDate::FromParts(2024, 10, 1), mode));
    EXPECT_EQ(mode, kBonusReinvest);

    // A plan for the second fund from August on, its fund chosen with the picker ("F"), mixed dividends.
    driver.Next([&](QDialog* d) {
        Click(d, "基金定投");
        EXPECT_EQ(qobject_cast<CPlansDialog*>(d)->Model()->rowCount(), 1);  // the new plan listed
        Click(d, "返回");
    });
    driver.Next([&](QDialog* d) {
        auto* fund = d->findChild<CFundSelector*>("fund");
        fund->SetFundID({});
        QTest::keyClick(fund->FundBox(), Qt::Key_F);
        Type(d->findChild<QLineEdit*>("amount"), QStringLiteral("500"));
        d->findChild<QSpinBox*>("day")->setValue(5);
        d->findChild<QDateEdit*>("start")->setDate(QDate(2024, 8, 1));
        d->findChild<QComboBox*>("mode")->setCurrentIndex(0);
        Click(d, "保存");
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
    const QString csv = QDir(home.path()).filePath("trades.csv");
    std::ofstream(csv.toStdString()) << "日期,基金代码,类型,金额或份数,手续费\n2024-09-10," << funds[0]
                                     << ",申购,2000,1.5\n2024-09-11," << funds[0] << ",赎回,100,0.5\n";
    driver.Next([&](QDialog* d) {
        Type(d->findChild<QLineEdit*>("file"), csv);
        Click(d, "预览");
        // Booked on the worker: the dialog closes when it is done.
        QSignalSpy done(qobject_cast<CImportDialog*>(d), &CImportDialog::runDone);
        Click(d, "导入");
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
        Click(d, "上传记帐数据");
        ASSERT_TRUE(done.wait(30000));
        Click(d, "下载记帐数据");
        ASSERT_TRUE(done.wait(30000));
        Click(d, "取消");
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
        Click(d, "选择基金");
        Click(d, "取消");
    });
    driver.Next([&](QDialog* d) {
        auto* select = qobject_cast<CFundSelectDialog*>(d);
        ASSERT_NE(select, nullptr);
        for (int i = 0; i < select->availableList->count(); ++i)
            if (select->availableList->item(i)->data(Qt::UserRole).toString().toStdString() == funds[1])
                select->availableList->setCurrentRow(i);
        EXPECT_TRUE(select->AddHighlighted());
        Click(d, "确定");
    });
    frame->RunCommand(cmd::DownloadHistory);
    const auto& chosen = app->Document()->Settings().fundIdList;
    EXPECT_NE(std::find(chosen.begin(), chosen.end(), funds[1]), chosen.end());

    EXPECT_TRUE(driver.unexpected.empty()) << driver.unexpected.front();
    for (const char* success : {"交易成功，系统已经确认了您的交易", "手工分红记帐成功"})
        EXPECT_TRUE(driver.Said(success)) << success;
    app->Shutdown();
    Clock::Release();
}

// Delete and properties reach the page shown: the bookkeeping pages' own
// actions and another page's, whoever registered last.
TEST(BookFlow, DeleteAndPropertiesActOnThePageShown)
{
    FrameContext context;
    QTemporaryDir dir;
    context.iniPath = QDir(dir.path()).filePath("Vextal.ini").toStdString();
    CMainFrame frame(context);
    std::vector<std::string> calls;
    frame.SetPageHandler(cmd::Delete, 106, [&] { calls.push_back("holdings"); });
    frame.SetPageHandler(cmd::Properties, 106, [&] { calls.push_back("holdings properties"); });
    frame.RunCommand(cmd::ValuesOpen);
    const int values = frame.Navigation().page;
    ASSERT_NE(values, 106);
    frame.SetPageHandler(cmd::Delete, values, [&] { calls.push_back("values"); });
    frame.RunCommand(cmd::Delete);
    frame.ShowAccountsPage(106);
    frame.RunCommand(cmd::Delete);
    frame.RunCommand(cmd::Properties);
    EXPECT_EQ(calls, (std::vector<std::string>{"values", "holdings", "holdings properties"}));
}
