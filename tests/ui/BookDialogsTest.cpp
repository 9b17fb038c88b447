// The bookkeeping dialogs filled as a user fills them, against the real
// plindo-serve: refusal texts in their order, what the window's flow does
// not reach, and a many-fund history download stopped by its cancel button.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDateEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <atomic>

#include "UiFixture.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Format.h"
#include "market/NavHistory.h"
#include "ui/BookDialogs.h"
#include "ui/FundPicker.h"
#include "ui/HistoryDialogs.h"
#include "ui/ImportDialog.h"
#include "ui/PlanDialogs.h"
#include "ui/SyncDialog.h"
#include "ui/TradeDialogs.h"

using namespace vextal;
using namespace vextal::test;

namespace {

void Type(QWidget& w, const char* field, const char* text)
{
    auto* edit = w.findChild<QLineEdit*>(field);
    ASSERT_TRUE(edit) << field;
    edit->clear();
    QTest::keyClicks(edit, QString::fromUtf8(text));
}

template <class W>
W* Child(QWidget& w, const char* name)
{
    W* c = w.findChild<W*>(name);
    EXPECT_TRUE(c) << name;
    return c;
}

// The program at the service's seed 29 on 2007-03-05, with the dialogs' own
// prompt and refresh (questions answered yes).
class BookDialogs : public AppTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(Start({120, "2007-03-05 21:00:00", {"--seed", "29"}}));
        prompt.yes = true;
        // The engine's announcements, which the window's lists follow.
        Books().SetChangeListener([this](const std::vector<int>& ids) {
            ++refreshes;
            changed = ids;
        });
        funds_ = EstablishedFunds(3, OleDate::FromParts(2005, 6, 1));
        ASSERT_EQ(funds_.size(), 3u);
    }
    CAdoDatabase& Db() { return app->Document()->GetDatabase(); }
    BookDialogContext Context(int account = 0)
    {
        BookDialogContext c;
        c.accounts = &Books();
        c.db = &Db();
        c.prompt = &prompt;
        c.fundName = [](const std::string& id) { return id.size() == 6 ? "基金" + id : std::string(); };
        c.isVip = [] { return true; };
        c.currentAccount = account;
        return c;
    }
    int NewAccount(const std::string& name) { return AppTest::NewAccount(name, OleDate::FromParts(2006, 1, 4)); }
    HistoryDialogContext History(CNavHistory& history)
    {
        history.SetSession(app->Document()->MakeCommandContext(), false);
        HistoryDialogContext h;
        h.history = &history;
        h.prompt = &prompt;
        return h;
    }

    ShownPrompt prompt;
    int refreshes = 0;
    std::vector<int> changed;
    std::vector<std::string> funds_;
};

}  // namespace

TEST_F(BookDialogs, ManualDividendChecksInOrderThenBooksTheAmount)
{
    const int main = NewAccount("主帐户");
    const int empty = NewAccount("空帐户");
    Book(main, funds_[0], kTradeBuy, 10000, OleDate::FromParts(2006, 3, 1, 10));
    const double shares = Books().FindHolding({main, funds_[0], kFrontEnd})->TotalCount;
    refreshes = 0;

    CDividendBookingDialog dialog(Context(empty));
    Click(dialog, "记帐");
    Type(dialog, "perTen", "0.5");
    Click(dialog, "记帐");  // no holding: no amount computed
    Type(dialog, "amount", "12");
    Click(dialog, "记帐");
    Child<QComboBox>(dialog, "account")->setCurrentIndex(0);  // "主帐户"
    Type(dialog, "perTen", "0.5");                               // the amount follows the shares
    EXPECT_EQ(Child<QLineEdit>(dialog, "amount")->text().toStdString(), FormatNumber("%0.2f", Round2(shares * 0.05)));
    Child<QDateTimeEdit>(dialog, "time")->setDateTime(QDateTime(QDate(2007, 3, 6), QTime(10, 0)));
    Click(dialog, "记帐");
    EXPECT_EQ(prompt.messages,
              (std::vector<std::string>{"分红不能小于或者等于0", "分红金额不能小于或者等于0", "请先选择要分红的基金",
                                        "交易时间不能大于当前时间"}));
    EXPECT_EQ(Books().FindHolding({main, funds_[0], kFrontEnd})->CashBonus, 0);

    Child<QDateTimeEdit>(dialog, "time")->setDateTime(QDateTime(QDate(2007, 1, 10), QTime(10, 0)));
    Type(dialog, "amount", "321.5");
    Click(dialog, "记帐");
    EXPECT_EQ(prompt.Last(), "手工分红记帐成功");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_DOUBLE_EQ(Books().FindHolding({main, funds_[0], kFrontEnd})->CashBonus, 321.5);
    // Refused attempts change nothing and say nothing; the booking says which account.
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(changed, std::vector<int>{main});
}

TEST_F(BookDialogs, DividendRangesAreCheckedListedAndDeleted)
{
    const int main = NewAccount("主帐户");
    Book(main, funds_[0], kTradeBuy, 5000, OleDate::FromParts(2006, 3, 1, 10));

    CDividendModeDialog dialog(Context(main));
    auto* start = Child<QDateEdit>(dialog, "start");
    auto* end = Child<QDateEdit>(dialog, "end");
    // Cash up to 2006-12-31 with no start, reinvest from 2007-01-01 with no end.
    Child<QCheckBox>(dialog, "noStart")->setChecked(true);
    end->setDate(QDate(2006, 12, 31));
    Click(dialog, "设置");
    Child<QCheckBox>(dialog, "noStart")->setChecked(false);
    Child<QCheckBox>(dialog, "noEnd")->setChecked(true);
    start->setDate(QDate(2006, 12, 31));  // touches the first range on its last day
    Child<QComboBox>(dialog, "mode")->setCurrentIndex(1);
    Click(dialog, "设置");
    start->setDate(QDate(2007, 3, 6));
    Click(dialog, "设置");
    Child<QCheckBox>(dialog, "noEnd")->setChecked(false);
    start->setDate(QDate(2007, 2, 1));
    end->setDate(QDate(2007, 1, 1));
    Click(dialog, "设置");
    Click(dialog, "删除");
    start->setDate(QDate(2007, 1, 1));
    Child<QCheckBox>(dialog, "noEnd")->setChecked(true);
    Click(dialog, "设置");
    EXPECT_EQ(prompt.messages,
              (std::vector<std::string>{"日期重叠，请重新设置", "日期范围中的日期不能大于当前日期",
                                        "开始日期不能大于结束日期", "请先选择需要删除的记录"}));
    ASSERT_EQ(dialog.Ranges()->rowCount(), 2);
    EXPECT_EQ(dialog.Ranges()->Rows()[0], (QStringList{"1", "无开始日期", "2006-12-31", "现金红利"}));
    EXPECT_EQ(dialog.Ranges()->Rows()[1], (QStringList{"2", "2007-01-01", "无结束日期", "红利转投"}));
    int mode = -1;
    EXPECT_TRUE(Books().GetBonusTypeForDate({main, funds_[0], kFrontEnd}, OleDate::FromParts(2007, 3, 1), mode));
    EXPECT_EQ(mode, kBonusReinvest);

    dialog.View()->selectRow(0);
    Click(dialog, "删除");
    ASSERT_EQ(dialog.Ranges()->rowCount(), 1);
    EXPECT_FALSE(Books().GetBonusTypeForDate({main, funds_[0], kFrontEnd}, OleDate::FromParts(2006, 6, 30), mode));

    // A fund the account does not hold (a new plan's): found among all funds, its ranges its own.
    BookDialogContext other = Context(main);
    other.fundChoices = {{QString::fromStdString(funds_[2]), QStringLiteral("其他基金"), {}, {}, {}}};
    other.currentFund = funds_[2];
    CDividendModeDialog any(other);
    EXPECT_FALSE(Child<QCheckBox>(any, "heldOnly")->isChecked());
    EXPECT_EQ(Child<CFundSelector>(any, "anyFund")->FundID(), funds_[2]);
    EXPECT_EQ(any.Ranges()->rowCount(), 0);
    Child<QCheckBox>(any, "noStart")->setChecked(true);
    Child<QCheckBox>(any, "noEnd")->setChecked(true);
    Click(any, "设置");
    EXPECT_TRUE(Books().GetBonusTypeForDate({main, funds_[2], kFrontEnd}, OleDate::FromParts(2006, 6, 30), mode));
    EXPECT_EQ(any.Ranges()->rowCount(), 1);
}

TEST_F(BookDialogs, PlansAreCheckedSavedListedAndDeleted)
{
    const int main = NewAccount("定投帐户");
    BookDialogContext context = Context(main);
    for (const auto& [code, info] : app->Market()->Catalogue().Funds())
        context.fundChoices.push_back({QString::fromStdString(code), QString::fromStdString(info.FundName), {}, {}, {}});
    CPlanDialog plan(context, main, nullptr);
    Click(plan, "保存");
    Child<CFundSelector>(plan, "fund")->SetFundID(funds_[1]);
    Child<QComboBox>(plan, "fee")->setCurrentText("-1");
    Click(plan, "保存");
    Child<QComboBox>(plan, "fee")->setCurrentText("1.5");
    Click(plan, "保存");
    Type(plan, "amount", "500");
    Child<QSpinBox>(plan, "day")->setValue(32);
    Click(plan, "保存");
    Child<QSpinBox>(plan, "day")->setValue(31);
    Child<QComboBox>(plan, "mode")->setCurrentIndex(0);  // "混合分红" without a range
    Click(plan, "保存");
    Child<QComboBox>(plan, "mode")->setCurrentIndex(1);
    Child<QDateEdit>(plan, "start")->setDate(QDate(2007, 1, 15));
    Click(plan, "保存");
    EXPECT_EQ(prompt.messages,
              (std::vector<std::string>{"请先选择要定投的基金", "定投费率不能小于0", "定投金额不能小于0",
                                        "定投日期范围:1 ~ 31", "选择混合分红方式，请先设置混合分红方式",
                                        "保存基金定投信息成功"}));
    // The plan booked the months that fell due: 2007-01-31 and 2007-02-28.
    EXPECT_EQ(Db().GetRecordCount(StrFormat("SELECT TradeID FROM T_Trade_Info WHERE AccountID=%d AND TradeType=9", main)),
              2);

    CPlanDialog again(context, main, nullptr);
    Child<CFundSelector>(again, "fund")->SetFundID(funds_[1]);
    Type(again, "amount", "800");
    Click(again, "保存");
    EXPECT_EQ(prompt.Last(), "已有此基金的定投记录");

    CPlansDialog plans(Context(main));
    ASSERT_EQ(plans.Model()->rowCount(), 1);
    const QStringList row = plans.Model()->Rows()[0];
    EXPECT_EQ(row[5], "每月31号");
    EXPECT_EQ(row[6], "2");
    plans.show();
    plans.activateWindow();  // the key goes to the dialog, not the frame's accelerators
    ASSERT_TRUE(QTest::qWaitForWindowActive(&plans));
    plans.View()->selectRow(0);
    QTest::keyClick(plans.View(), Qt::Key_Delete);
    EXPECT_EQ(plans.Model()->rowCount(), 0);
    EXPECT_TRUE(Books().Plans().empty());
}

TEST_F(BookDialogs, SaleFeeMoveAndEditGoThroughTheEngine)
{
    const int a = NewAccount("甲");
    const int b = NewAccount("乙");
    Book(a, funds_[0], kTradeBuy, 10000, OleDate::FromParts(2006, 3, 1, 10));
    refreshes = 0;

    CSaleFeeDialog fee(Context(a));
    Type(fee, "rate", "0.5");
    Type(fee, "fixed", "3");
    Click(fee, "设置");
    EXPECT_EQ(prompt.Last(), "设置成功");
    EXPECT_DOUBLE_EQ(Books().FindHolding({a, funds_[0], kFrontEnd})->SaleFee, 0.5);
    EXPECT_DOUBLE_EQ(Books().FindHolding({a, funds_[0], kFrontEnd})->SaleFeeMoney, 3);

    CEditBookingDialog edit(Context(a));
    Click(edit, "保存");
    EXPECT_EQ(prompt.Last(), "没有选择需要修改的记帐记录");
    ASSERT_EQ(edit.View()->model()->rowCount(), 1);
    edit.View()->selectRow(0);
    EXPECT_FALSE(Child<QLineEdit>(edit, "count")->text().isEmpty());
    Type(edit, "count", "-9000");
    Click(edit, "保存");
    EXPECT_EQ(prompt.Last(), "交易份数不能小于0");
    EXPECT_GT(Books().FindHolding({a, funds_[0], kFrontEnd})->TotalCount, 0);
    Type(edit, "count", "9000");
    Click(edit, "保存");
    EXPECT_EQ(prompt.Last(), "保存修改成功");
    EXPECT_DOUBLE_EQ(Books().FindHolding({a, funds_[0], kFrontEnd})->TotalCount, 9000);

    CMoveHoldingDialog move(Context(a));
    EXPECT_EQ(Child<QComboBox>(move, "to")->currentData().toInt(), b);  // another account to start with
    Child<QComboBox>(move, "to")->setCurrentIndex(0);  // the same account
    Click(move, "转移");
    EXPECT_EQ(prompt.Last(), "转移基金失败:移出帐户和移入帐户相同");
    Child<QComboBox>(move, "to")->setCurrentIndex(1);
    Click(move, "转移");
    EXPECT_EQ(prompt.Last(), "转移基金成功");
    EXPECT_EQ(Books().FindHolding({a, funds_[0], kFrontEnd}), nullptr);
    ASSERT_NE(Books().FindHolding({b, funds_[0], kFrontEnd}), nullptr);
    EXPECT_DOUBLE_EQ(Books().FindHolding({b, funds_[0], kFrontEnd})->TotalCount, 9000);
    Click(move, "转移");
    EXPECT_EQ(prompt.Last(), "无可用的基金");
    // Fee, edit and move were told, the move with both accounts.
    EXPECT_EQ(refreshes, 3);
    EXPECT_EQ(changed, (std::vector<int>{a, b}));
}

namespace {

// The dialog as the user sees it, and under it the message box of its
// refusal, saved under $VEXTAL_SHOT_DIR when that is set.
void ShotWithMessage(QWidget& dialog, const std::string& message, const char* name)
{
    const QString dir = qEnvironmentVariable("VEXTAL_SHOT_DIR");
    if (dir.isEmpty()) return;
    dialog.show();
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vextal"), QString::fromStdString(message), QMessageBox::Ok);
    box.adjustSize();
    QImage image(std::max(dialog.width(), box.width()), dialog.height() + box.height() + 12, QImage::Format_ARGB32);
    image.fill(QColor(160, 160, 160));
    QPainter painter(&image);
    dialog.render(&painter);
    const QPoint at((image.width() - box.width()) / 2, dialog.height() + 6);
    box.render(&painter, at);
    painter.end();
    EXPECT_TRUE(image.save(QDir(dir).filePath(QString::fromUtf8(name) + ".png")));
}

}  // namespace

// Letters, inf, blanks and impossible figures in the purchase, edit and
// reference-fee dialogs: each is refused with a text naming its field, and
// nothing changes in the books.
TEST_F(BookDialogs, TypedNumbersAreReadOnceAndRefusedByName)
{
    const int a = NewAccount("甲");
    Book(a, funds_[0], kTradeBuy, 10000, OleDate::FromParts(2006, 3, 1, 10));
    const double held = Books().FindHolding({a, funds_[0], kFrontEnd})->TotalCount;
    const size_t trades = Books().FindAccount(a)->trades.size();

    BookContext book{*app->Document(), *app->Market(), *app->Runner(), prompt, HomePath("Vextal.ini")};
    CTradeDialog buy(FormKind::Purchase, book, a, nullptr);
    buy.Fund()->SetFundID(funds_[1]);
    buy.TimeEdit()->setDateTime(QDateTime(QDate(2007, 3, 1), QTime(10, 0)));
    const struct {
        QLineEdit* edit;
        const char* text;
        const char* refusal;
    } typed[] = {
        {buy.AmountEdit(), "inf", "购买金额必须是数字"},
        {buy.AmountEdit(), "1,000", "购买金额必须是数字"},
        {buy.AmountEdit(), "", "购买金额不能小于0"},
        {buy.AmountEdit(), "1000.555", "购买金额最多只能有2位小数"},
        {buy.CountEdit(), "abc", "购买份额必须是数字"},
        {buy.CountEdit(), "-50", "购买份额不能小于0"},
        {buy.FeeBox()->lineEdit(), "abc", "购买费率必须是数字"},
    };
    for (const auto& t : typed) {
        Type(buy.AmountEdit(), QStringLiteral("1000"));
        Type(buy.CountEdit(), QString());
        Type(buy.FeeBox(), QStringLiteral("1.5"));
        Type(t.edit, QString::fromUtf8(t.text));
        Click(buy.OkButton());
        EXPECT_EQ(prompt.Last(), t.refusal) << t.text;
    }
    ShotWithMessage(buy, prompt.Last(), "refused-purchase");
    EXPECT_EQ(Books().FindAccount(a)->trades.size(), trades);

    CEditBookingDialog edit(Context(a));
    edit.View()->selectRow(0);
    for (auto [field, text, refusal] : {std::tuple{"count", "abc", "交易份数必须是数字"},
                                        std::tuple{"money", "inf", "交易金额必须是数字"},
                                        std::tuple{"fee", "150", "费率不能大于100"},
                                        std::tuple{"price", "", "请输入交易价"}}) {
        for (auto [f, good] : {std::pair{"money", "10000"}, {"count", "100"}, {"fee", "1.5"}, {"price", "1.1"}})
            Type(edit, f, good);
        Type(edit, field, text);
        Click(edit, "保存");
        EXPECT_EQ(prompt.Last(), refusal) << field;
    }
    ShotWithMessage(edit, prompt.Last(), "refused-edit");
    EXPECT_DOUBLE_EQ(Books().FindHolding({a, funds_[0], kFrontEnd})->TotalCount, held);

    CSaleFeeDialog fee(Context(a));
    for (auto [rate, fixed, refusal] : {std::tuple{"-50", "0", "赎回费率不能小于0"},
                                        std::tuple{"abc", "0", "赎回费率必须是数字"},
                                        std::tuple{"0.5", "nan", "固定费用必须是数字"}}) {
        Type(fee, "rate", rate);
        Type(fee, "fixed", fixed);
        Click(fee, "设置");
        EXPECT_EQ(prompt.Last(), refusal) << rate << " " << fixed;
    }
    ShotWithMessage(fee, prompt.Last(), "refused-sale-fee");
    EXPECT_EQ(Books().FindHolding({a, funds_[0], kFrontEnd})->SaleFee, 0);
}

// Up and down themselves run in the window's flow; the member check and a
// text that cannot be made whole only here.
TEST_F(BookDialogs, DownloadingIsForVipMembersAndABrokenTextIsNotSent)
{
    BookDialogContext down = Context();
    down.isVip = [] { return false; };
    CSyncDialog refused(down);
    Click(refused, "下载记帐数据");
    EXPECT_EQ(prompt.Last(), "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。");

    NewAccount("基金😀");
    CSyncDialog up(Context());
    Click(up, "上传记帐数据");
    EXPECT_EQ(prompt.Last(), "上传记帐数据失败:帐户“基金😀”的名称含有服务器不能保存的字符“😀”，请先修改");
    // Nothing went out: the dialog is not waiting for an answer.
    for (QPushButton* b : up.findChildren<QPushButton*>()) EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
}

TEST_F(BookDialogs, CancelStopsAManyFundHistoryDownload)
{
    CTaskRunner runner;
    CNavHistory history(Db());
    HistoryDialogContext h = History(history);
    h.runner = &runner;
    std::vector<std::string> many;
    for (const auto& [code, info] : app->Market()->Catalogue().Funds()) {
        h.funds.emplace_back(code, info.FundName + "(" + code + ")");
        many.push_back(code);
    }
    const int stored = Db().GetRecordCount("SELECT FundID FROM T_Fund_Value");
    h.chosenFunds = [many] { return many; };
    // The user presses "取消" while the worker is about to ask for the third fund: the worker waits
    // for the click, so a quick service cannot finish the run first.
    CFundHistoryDialog* shown = nullptr;
    std::atomic<size_t> furthest{0};
    h.fetched = [&](size_t done) {
        furthest = std::max(furthest.load(), done);
        if (done == 2 && many.size() > 2)
            QMetaObject::invokeMethod(shown, [&] { Click(*shown, "取消"); }, Qt::BlockingQueuedConnection);
    };
    CFundHistoryDialog dialog(h);
    shown = &dialog;
    dialog.SelectFund(funds_[0]);
    EXPECT_EQ(dialog.RangeText(), "此基金本地无历史净值数据");

    dialog.SetManyFunds(true);
    QSignalSpy stopped(&dialog, &CFundHistoryDialog::downloadDone);
    Click(dialog, "下载");
    ASSERT_TRUE(dialog.IsBusy());
    ASSERT_TRUE(stopped.wait(30000));
    EXPECT_FALSE(dialog.IsBusy());
    QSignalSpy idle(&runner, &CTaskRunner::idle);
    if (runner.IsBusy()) {
        ASSERT_TRUE(idle.wait(30000));
    }
    EXPECT_EQ(furthest.load(), 2u);  // no fund after the click was asked for
    // Nothing of the stopped run is stored, and no completion was reported.
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"确定要从服务器增量下载选定基金的本地历史净值数据吗?"});
    EXPECT_EQ(Db().GetRecordCount("SELECT FundID FROM T_Fund_Value"), stored);
    EXPECT_EQ(dialog.RangeText(), "此基金本地无历史净值数据");

    dialog.SetManyFunds(false);
    QSignalSpy done(&dialog, &CFundHistoryDialog::downloadDone);
    Click(dialog, "下载");
    ASSERT_TRUE(done.wait(30000));
    EXPECT_EQ(prompt.Last(), "从服务器下载选定基金的本地历史净值数据完成");
    EXPECT_TRUE(dialog.RangeText().startsWith("本地历史净值数据日期范围:")) << dialog.RangeText().toStdString();
}

// A whole file is booked in the window's flow; here a refused line stops it.
TEST_F(BookDialogs, ImportListsRefusedLinesAndBooksNothingOfARefusedFile)
{
    const int main = NewAccount("导入帐户");
    QTemporaryDir dir;
    const QString path = dir.filePath("trades.csv");
    std::ofstream(path.toStdString()) << "日期,基金代码,类型,金额或份数,手续费\n2006-03-01," << funds_[0]
                                      << ",申购,10000,1.5\n2006-09-01," << funds_[0] << ",赎回,1000,0.5\n2006-10-01,"
                                      << funds_[1] << ",赎回,100\n";
    CImportDialog dialog(Context(main));
    QAbstractItemModelTester tester(dialog.Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    dialog.SetFile(path);
    EXPECT_EQ(dialog.Model()->rowCount(), 3);
    EXPECT_EQ(dialog.Refusals(), "第4行：最大可以赎回的份数为0.00份");
    Click(dialog, "导入");
    EXPECT_EQ(prompt.Last(), "导入失败：1行被拒绝，没有导入任何交易");
    EXPECT_EQ(Db().GetRecordCount("SELECT TradeID FROM T_Trade_Info"), 0);
}

TEST_F(BookDialogs, HistoryDialogsActOnTheChosenIndexAndSayWhenADownloadFails)
{
    CNavHistory history(Db());
    HistoryDialogContext h = History(history);
    CIndexHistoryDialog dialog(h);
    dialog.SelectIndex(2);
    EXPECT_EQ(dialog.RangeText(), "此大盘指数本地无数据");
    Click(dialog, "下载");
    EXPECT_EQ(prompt.Last(), "从服务器增量下载选定大盘指数数据完成");
    OleDate first, last;
    ASSERT_TRUE(history.GetIndexValueRange("399300", first, last));  // the third entry is 399300
    EXPECT_FALSE(history.GetIndexValueRange("1A0001", first, last));
    EXPECT_EQ(dialog.RangeText().toStdString(),
              "本地大盘指数数据日期范围:" + first.Format(1) + " ~ " + last.Format(1));
    Click(dialog, "清空本地数据");
    EXPECT_EQ(prompt.Last(), "清空选定大盘指数的本地数据完成");
    EXPECT_EQ(dialog.RangeText(), "此大盘指数本地无数据");

    // A service that does not answer: the downloads say they failed, not that they completed.
    CommandContext gone = app->Document()->MakeCommandContext();
    gone.commandUrl = MakeCommandUrl("http://127.0.0.1:1/");
    history.SetSession(gone, false);
    Click(dialog, "下载");
    EXPECT_EQ(prompt.Last().rfind("从服务器增量下载选定大盘指数数据失败:", 0), 0u) << prompt.Last();
    h.funds = {{funds_[0], funds_[0]}};
    CFundHistoryDialog funds(h);
    QSignalSpy done(&funds, &CFundHistoryDialog::downloadDone);
    Click(funds, "下载");
    ASSERT_TRUE(done.count() > 0 || done.wait(30000));
    EXPECT_EQ(prompt.Last().rfind("1个基金的历史净值下载失败:", 0), 0u) << prompt.Last();
    EXPECT_EQ(funds.RangeText(), "此基金本地无历史净值数据");
}
