#pragma once
// The program in this process, logged in as the service's VIP member "demo"
// at a real plindo-serve of its own (an ephemeral port, the clock fixed at
// the service's "now"), and the helpers the widget tests fill dialogs with.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ServiceProcess.h"
#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/UserPrompt.h"
#include "net/HttpTransport.h"
#include "ui/ListView.h"
#include "ui/TaskRunner.h"
#include "ui/VextalApp.h"

namespace vextal::test {

// Messages and questions in the order shown; questions answered with `yes`.
struct ShownPrompt : IUserPrompt {
    std::vector<std::string> messages;
    bool yes = false;
    void ShowMessage(const std::string& text, PromptIcon) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override
    {
        messages.push_back(text);
        return yes;
    }
    std::string Last() const { return messages.empty() ? std::string() : messages.back(); }
};

inline void WaitIdle(CVextalApp& app)
{
    QEventLoop loop;
    app.Runner()->WhenIdle([&loop] { loop.quit(); });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
}

inline void Settle(int ms = 50)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` or `limitMs`; true when done.
template <class F>
bool LoopUntil(F done, int limitMs = 30000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() >= limitMs) return false;
        QTest::qWait(10);
    }
    return true;
}

inline void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

// The button of `w` with this caption.
inline void Click(QWidget& w, const char* caption)
{
    for (QAbstractButton* b : w.findChildren<QAbstractButton*>())
        if (b->text() == QString::fromUtf8(caption)) return b->click();
    ADD_FAILURE() << "no button " << caption << " in " << w.windowTitle().toStdString();
}

// Typed key by key (ASCII only: Chinese text is committed with insert()).
inline void Type(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}
inline void Type(QComboBox* box, const QString& text) { Type(box->lineEdit(), text); }

// A list's cell by column id (not position: the user chooses the columns).
inline QString Cell(const CListModel* model, int row, int columnId)
{
    for (size_t c = 0; c < model->Columns().size(); ++c)
        if (model->Columns()[c].id == columnId) return model->data(model->index(row, static_cast<int>(c))).toString();
    return QStringLiteral("(no column)");
}

// Answers the modal windows as they come up, each noted in `seen`: a
// message box as "box:" and its text, answered Yes when `yes` (else No), or
// OK; a dialog by its title, filled by the next filler given or else
// closed (and noted in `unfilled`). Progress windows close by themselves.
class ModalDriver : public QObject {
public:
    std::vector<std::string> seen, unfilled;
    bool yes;

    explicit ModalDriver(bool answerYes = false) : yes(answerYes)
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalDriver::Tick);
        m_timer.start(20);
    }
    void Next(std::function<void(QDialog*)> fill) { m_fills.push_back(std::move(fill)); }
    bool Said(const std::string& text) const { return std::count(seen.begin(), seen.end(), "box:" + text) > 0; }

private:
    void Tick()
    {
        QWidget* w = QApplication::activeModalWidget();
        // A window already closed may stay on the modal stack until its exec() returns.
        if (!w || !w->isVisible() || qobject_cast<QProgressDialog*>(w)) return;
        if (std::any_of(m_done.begin(), m_done.end(), [w](const QPointer<QWidget>& p) { return p == w; })) return;
        m_done.emplace_back(w);
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            seen.push_back("box:" + box->text().toStdString());
            QAbstractButton* b = box->button(yes ? QMessageBox::Yes : QMessageBox::No);
            if (!b) b = box->button(QMessageBox::Ok);
            if (b) QTimer::singleShot(0, b, &QAbstractButton::click);
            else QTimer::singleShot(0, box, &QDialog::reject);
            return;
        }
        auto* dialog = qobject_cast<QDialog*>(w);
        seen.push_back(w->windowTitle().isEmpty() ? std::string("dialog:") + w->metaObject()->className()
                                                  : w->windowTitle().toStdString());
        if (!dialog || m_fills.empty()) {
            unfilled.push_back(seen.back());
            QTimer::singleShot(0, w, &QWidget::close);
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
    std::vector<QPointer<QWidget>> m_done;
};

struct ServeArgs {
    ServeArgs(int funds_ = 300, std::string now_ = "2024-10-09 21:00:00", std::vector<std::string> extra_ = {},
              std::string ini_ = {})
        : funds(funds_), now(std::move(now_)), extra(std::move(extra_)), ini(std::move(ini_))
    {
    }
    int funds;
    std::string now;
    std::vector<std::string> extra;  // further service options
    std::string ini;                 // further lines of the program's Vextal.ini
};

class AppTest : public ::testing::Test {
protected:
    // plindo-serve started, the clock at its "now", the program's home pointing at it.
    void Serve(const ServeArgs& a = {})
    {
        HttpConfig config = GetHttpConfig();
        config.noProxy = "*";
        SetHttpConfig(config);
        std::vector<std::string> args = {"--funds", std::to_string(a.funds), "--now", a.now, "--quiet"};
        args.insert(args.end(), a.extra.begin(), a.extra.end());
        service = std::make_unique<CServiceProcess>(PLINDO_SERVE_PATH, args);
        ASSERT_GT(service->Port(), 0) << "plindo-serve did not start";
        OleDate now;
        ASSERT_TRUE(OleDate::Parse(a.now, now)) << a.now;
        Clock::Fix(now);
        std::ofstream(HomePath("Vextal.ini")) << a.ini << "[Login]\nServerURL=" << service->Base()
                                              << "\nDataServerURL=" << service->Base() << "\n";
        options.args = {"--home", home.path().toStdString()};
        options.user = "demo";
        options.password = "demo123";
        options.autoLogin = true;
    }
    // The program started and logged in, its start-up work done.
    void Launch(bool waitIdle = true)
    {
        app = std::make_unique<CVextalApp>(options);
        ASSERT_TRUE(app->Start());
        ASSERT_NE(app->Frame(), nullptr);
        if (waitIdle) WaitIdle(*app);
    }
    void Start(const ServeArgs& a = {})
    {
        ASSERT_NO_FATAL_FAILURE(Serve(a));
        Launch();
    }
    void TearDown() override
    {
        if (app) app->Shutdown();
        app.reset();
        Clock::Release();
    }

    std::string HomePath(const char* name) const { return QDir(home.path()).filePath(name).toStdString(); }
    CAccountManager& Books() const { return app->Document()->Accounts(); }

    // An account made in the engine directly.
    int NewAccount(const std::string& name, const OleDate& created = Clock::Now())
    {
        AccountInfo a;
        a.AccountName = name;
        a.CreateDate = created;
        EXPECT_TRUE(Books().CreateAccount(a)) << Books().GetLastErrorText();
        return a.AccountID;
    }
    // A trade booked in the engine directly: a purchase of `amount` yuan at
    // 1.5 %, any other type of `amount` shares. The booked trade, with its id.
    TradeInfo Book(int account, const std::string& fund, int type, double amount, const OleDate& when,
                   bool autoBonus = false)
    {
        TradeInfo t;
        t.AccountID = account;
        t.FundID = fund;
        t.TradeType = type;
        (type == kTradeBuy ? t.TradeMoney : t.TradeCount) = amount;
        t.TradeFee = type == kTradeBuy ? 1.5 : 0;
        t.TradeTime = when;
        t.NoAutoBonus = autoBonus ? 0 : 1;
        EXPECT_GE(Books().BookTrade(t), 0) << Books().GetLastErrorText();
        return t;
    }
    // The program's database, opened while the program is not running.
    void OpenHomeDatabase(CAdoDatabase& db) const
    {
        db.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
        db.SetDatabase(HomePath("Vextal.mdb"), 0);
        ASSERT_TRUE(db.Open()) << db.GetLastError();
    }

    // The first `n` stock or bond funds of the catalogue listed before `before`.
    std::vector<std::string> EstablishedFunds(size_t n, const OleDate& before = OleDate::FromParts(2023, 1, 1)) const
    {
        std::vector<std::string> funds;
        for (const auto& [code, info] : app->Market()->Catalogue().Funds())
            if (info.InvestTypeID != 4 && info.CreateDate < before && funds.size() < n)
                funds.push_back(code);
        EXPECT_EQ(funds.size(), n);
        return funds;
    }

    std::unique_ptr<CServiceProcess> service;
    QTemporaryDir home;
    AppOptions options;
    std::unique_ptr<CVextalApp> app;
};

}  // namespace vextal::test
