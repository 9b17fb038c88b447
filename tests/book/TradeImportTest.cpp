// Trades from a CSV file: booked as the dialogs book them, all or nothing.
#include "book/TradeImport.h"

#include <atomic>
#include <cmath>

#include "BookFixture.h"
#include "book/TradeForms.h"
#include "net/Encoding.h"

namespace vextal::test {
namespace {

class TradeImportTest : public BookTest {
protected:
    struct Figures {
        double count, cost, cashBonus;
    };
    Figures Holding(int account, const std::string& fund)
    {
        FundTradeInfo* h = manager.FindHolding({account, fund, kFrontEnd});
        if (!h) return {-1, -1, -1};
        return {h->TotalCount, h->TradeValue, h->CashBonus};
    }
    int Trades(int account) { return Count(StrFormat("SELECT TradeID FROM T_Trade_Info WHERE AccountID=%d", account)); }
};

// Rows over three funds, one a day from 2021-01-04: purchases with rate and
// yuan fees, redemptions and a few dividends.
std::string BigFile(int rows, std::vector<int>* badLines)
{
    std::string text = "日期,基金代码,类型,金额或份数,手续费,净值,目标基金,备注\n";
    const char* funds[] = {"000001", "000002", "000003"};
    int line = 1;
    for (int i = 0; i < rows; ++i) {
        OleDate day = OleDate::FromParts(2021, 1, 4).AddDays(i);
        std::string date = day.Format(1);
        const char* fund = funds[i % 3];
        std::string row;
        if (i % 10 == 9) row = date + "," + fund + ",赎回,50,0.5";
        else if (i % 50 == 25) row = date + "," + fund + ",现金红利,12.34";
        else row = date + "," + fund + ",申购," + std::to_string(1000 + i) + (i % 2 ? ",1.5" : ",8元") + ",1.2";
        text += row + "\n";
        ++line;
        if (badLines && (i == 100 || i == 500 || i == 900)) {
            // An unknown kind, a date that is no date, a redemption beyond the shares held.
            text += i == 100 ? date + ",000001,卖空,100\n"
                    : i == 500 ? "2023-13-45,000002,申购,100\n"
                               : date + ",000003,赎回,99999999\n";
            badLines->push_back(++line);
        }
    }
    return text;
}

TEST_F(TradeImportTest, ThreeBadRowsRefuseTheWholeFileByTheirLines)
{
    const int imported = NewAccount("导入");

    // Three bad rows: refused whole, each with its line, and nothing booked.
    std::vector<int> bad;
    const std::string withBad = BigFile(1000, &bad);
    ImportResult refused = ImportTrades(manager, db, imported, withBad, false);
    ASSERT_EQ(refused.refusals.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(refused.refusals[i].line, bad[i]);
    EXPECT_EQ(refused.refusals[0].Text(), StrFormat("第%d行：未知的交易类型：卖空", bad[0]));
    EXPECT_NE(refused.refusals[2].reason.find("最大可以赎回的份数为"), std::string::npos) << refused.refusals[2].reason;
    EXPECT_FALSE(refused.booked);
    EXPECT_EQ(Trades(imported), 0);
    EXPECT_EQ(Count("SELECT FundID FROM T_Fund_Trade"), 0);
    EXPECT_EQ(Holding(imported, "000001").count, -1);  // the lists were read again

    // The rows show the engine's figures even so (a refused run is a dry run).
    const ImportRow& first = refused.rows.front();  // 1000 yuan at 1.2, 8 yuan fee
    EXPECT_EQ(first.line, 2);
    EXPECT_DOUBLE_EQ(first.trade.TradeValue, 1.2);
    EXPECT_DOUBLE_EQ(first.feeYuan, 8);
    EXPECT_DOUBLE_EQ(first.trade.TradeCount, Round2(992 / 1.2));

    // A good file stopped after five rows: nothing booked either.
    std::atomic<bool> stop{false};
    ImportControl control;
    control.cancelled = &stop;
    control.progress = [&stop](size_t done, size_t) { stop = done == 5; };
    ImportResult stopped = ImportTrades(manager, db, imported, BigFile(20, nullptr), false, nullptr, control);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_FALSE(stopped.booked);
    EXPECT_EQ(Trades(imported), 0);
    EXPECT_EQ(Holding(imported, "000001").count, -1);
}

TEST_F(TradeImportTest, AFileBooksTheSameHoldingsAsTheDialogsOneByOne)
{
    const int imported = NewAccount("导入");
    const int byHand = NewAccount("手工");
    // A dividend the rows cross, money-market income, and a holding emptied,
    // paid a cash dividend and bought again.
    services.dividends["000002"] = {{0.05, OleDate(), OleDate(), OleDate::FromParts(2021, 3, 1)}};
    services.incomePer10kPerDay = 0.6;
    services.nav["000009"] = 1.0;
    std::string good = BigFile(300, nullptr);
    good += "2021-11-01,000009,申购,5000\n2021-11-02,000009,申购,3000\n2021-11-03,000009,赎回,8000\n"
            "2021-11-04,000009,现金红利,3.21\n2021-11-05,000009,申购,800\n";
    // The worker's run, on this thread: its own engine and connection, the
    // window's engine reading the account again afterwards.
    ImportResult done = ImportTradesElsewhere(PrepareImport(manager, db, &funds, imported, good, false), {});
    ASSERT_TRUE(done.Ok()) << done.refusals.front().Text();
    EXPECT_TRUE(done.booked);
    EXPECT_EQ(done.rows.size(), 305u);
    manager.ReadHoldings(imported);
    manager.RefreshAccount(imported);

    // The same rows through the dialogs' path, one by one.
    for (const ImportRow& row : ParseTradeCsv(good, byHand).rows) {
        TradeInfo t = row.trade;
        if (row.kind == ImportKind::CashDividend) {
            t.TradeType = kTradeCashBonus;
            t.TradeState = kStateConfirmed;
            t.DealTime = t.TradeTime;
            ASSERT_GE(manager.ManualDividend(t), 0) << manager.GetLastErrorText();
            continue;
        }
        TradeForm form = DefaultTradeForm(row.kind == ImportKind::Purchase ? FormKind::Purchase : FormKind::Redemption);
        form.AccountID = byHand;
        form.FundID = t.FundID;
        form.Amount = t.TradeMoney;
        form.Count = t.TradeCount;
        form.Fee = std::fabs(t.TradeFee);
        form.FeeIsAmount = t.TradeFee < 0;
        form.TradeTime = t.TradeTime;
        form.NoAutoBonus = true;
        form.HeldCount = 1e12;
        FormResult r = CheckTradeForm(form, nullptr);
        ASSERT_TRUE(r.ok) << r.message;
        ASSERT_GE(manager.BookTrade(r.trade), 0) << manager.GetLastErrorText();
    }
    // Every stored figure of every trade and holding, and the account's.
    auto rows = [&](const char* sql, int account) {
        return db.RecordsetToText(true, db.OpenRecordsetEx(StrFormat(sql, account)));
    };
    for (const char* sql : {"SELECT FundID,TradeMoney,TradeCount,TradeFee,TradeType,TradeTime,DealTime,TradeState,"
                            "BuyType,TradeValue,CostValue,Remark FROM T_Trade_Info WHERE AccountID=%d ORDER BY TradeID",
                            "SELECT FundID,BuyType,TotalCount,FreeCount,TradeValue,BonusType,CashBonus,TotalBonus,"
                            "LastBonus,LastTrade,CashBonusNew FROM T_Fund_Trade WHERE AccountID=%d ORDER BY FundID",
                            "SELECT FundCount FROM T_Account_Info WHERE AccountID=%d"})
        EXPECT_EQ(rows(sql, imported), rows(sql, byHand)) << sql;
    EXPECT_GT(Trades(imported), 305);  // the automatic dividend
    for (const char* fund : {"000001", "000002", "000003", "000009"}) {
        Figures a = Holding(imported, fund), b = Holding(byHand, fund);
        EXPECT_GT(a.count, 0) << fund;
        EXPECT_DOUBLE_EQ(a.count, b.count) << fund;
        EXPECT_DOUBLE_EQ(a.cost, b.cost) << fund;
    }
}

TEST_F(TradeImportTest, ReadsGbkAndBomFilesAndRefusesWrongNav)
{
    const int account = NewAccount("A");
    const std::string utf8 = "日期\t基金代码\t类型\t金额或份数\n2024-03-01\t000001\t申购\t1,200.00\n";
    EXPECT_EQ(DecodeImportText("\xEF\xBB\xBF" + utf8), utf8);
    EXPECT_EQ(DecodeImportText(Utf8ToGbk(utf8)), utf8);

    // A GBK file with tabs; the NAV the file gives must be the booked one.
    const std::string gbk = Utf8ToGbk(utf8 + "2024-03-04\t000002\t申购\t500\t\t1.3\n2024-03-05\t000001\t转换\t100\t0.5\n");
    ImportResult r = ImportTrades(manager, db, account, gbk, true);
    ASSERT_EQ(r.refusals.size(), 2u);
    EXPECT_EQ(r.refusals[0].Text(), "第3行：文件中的净值1.3000与记帐净值1.2000不符");
    EXPECT_EQ(r.refusals[1].Text(), "第4行：转换需要6位数字的目标基金代码");

    ImportResult ok = ImportTrades(manager, db, account, "\xEF\xBB\xBF" + utf8 + "2024-03-05,000001,转换,100,0.5,,000002\n", false);
    ASSERT_TRUE(ok.Ok()) << ok.refusals.front().Text();
    EXPECT_DOUBLE_EQ(Held(account, "000001"), 900);
    EXPECT_GT(Held(account, "000002"), 0);
}

}  // namespace
}  // namespace vextal::test
