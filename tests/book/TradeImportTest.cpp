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

    // The same rows through the dialogs' path, one by one, without
    // automatic dividends as the import books them.
    manager.SetAutomaticDividends(false);
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
    EXPECT_EQ(Trades(imported), 305);  // the file's rows, no dividend of the service's on top
    for (const char* fund : {"000001", "000002", "000003", "000009"}) {
        Figures a = Holding(imported, fund), b = Holding(byHand, fund);
        EXPECT_GT(a.count, 0) << fund;
        EXPECT_DOUBLE_EQ(a.count, b.count) << fund;
        EXPECT_DOUBLE_EQ(a.cost, b.cost) << fund;
    }
}

// UTF-16 as a spreadsheet saves it, without every character in one byte.
std::string Utf16Le(const std::string& utf8, bool bom)
{
    std::string out = bom ? "\xFF\xFE" : "";
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = c;
        size_t n = 1;
        if (c >= 0xE0) cp = c & 0x0F, n = 3;
        else if (c >= 0xC0) cp = c & 0x1F, n = 2;
        for (size_t k = 1; k < n; ++k) cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out += static_cast<char>(cp & 0xFF);
        out += static_cast<char>(cp >> 8);
        i += n;
    }
    return out;
}

TEST_F(TradeImportTest, ReadsGbkBomAndUtf16FilesAndListsEveryRefusedLine)
{
    const int account = NewAccount("A");
    const std::string utf8 = "日期\t基金代码\t类型\t金额或份数\n2024-03-01\t000001\t申购\t1,200.00\n";
    for (const std::string& file : {"\xEF\xBB\xBF" + utf8, Utf8ToGbk(utf8), Utf16Le(utf8, true)}) {
        const ImportText text = DecodeImportText(file);
        ASSERT_EQ(text.lines.size(), 3u) << text.refusal;
        EXPECT_EQ(text.lines[1], "2024-03-01\t000001\t申购\t1,200.00");
    }
    EXPECT_EQ(ParseTradeCsv(Utf16Le(utf8, false), account).refusals.at(0).Text(),
              "文件是没有字节顺序标记的UTF-16编码，请另存为UTF-8或带字节顺序标记的UTF-16");

    // A GBK file with tabs; the NAV the file gives must be the booked one. A
    // line of bytes no encoding reads is refused by its number, and the
    // lines after it are still read.
    const std::string gbk = Utf8ToGbk(utf8 + "2024-03-04\t000002\t申购\t500\t\t1.3\n") + std::string("\x81\0\xFF garbage\n", 12) +
                            Utf8ToGbk("2024-03-05\t000001\t转换\t100\t0.5\n2024-03-06\t000001\t卖空\t1\n");
    ImportResult r = ImportTrades(manager, db, account, gbk, true);
    std::vector<std::string> refused;
    for (const ImportRefusal& x : r.refusals) refused.push_back(x.Text());
    EXPECT_EQ(refused, (std::vector<std::string>{"第3行：文件中的净值1.3000与记帐净值1.2000不符", "第4行：含有无法识别的字符",
                                                 "第5行：转换需要6位数字的目标基金代码", "第6行：未知的交易类型：卖空"}));

    ImportResult ok = ImportTrades(manager, db, account, "\xEF\xBB\xBF" + utf8 + "2024-03-05,000001,转换,100,0.5,,000002\n", false);
    ASSERT_TRUE(ok.Ok()) << ok.refusals.front().Text();
    EXPECT_DOUBLE_EQ(Held(account, "000001"), 900);
    EXPECT_GT(Held(account, "000002"), 0);
}

// A comma is a thousands separator only where it cannot separate fields.
TEST_F(TradeImportTest, ThousandsSeparatorsOnlyInsideQuotes)
{
    const int account = NewAccount("A");
    const struct {
        const char* line;
        double money;
        const char* refusal;
    } cases[] = {
        {"2024-03-01,000001,申购,1,000.50", 0, "第1行：数字中的千位分隔符必须放在引号中：1,000.50"},
        {"2024-03-01,000001,申购,\"1,000.50\"", 1000.5, ""},
        {"2024-03-01\t000001\t申购\t1,000,000", 1e6, ""},
        {"2024-03-01,000001,申购,\"1,00\"", 0, "第1行：金额必须是数字：1,00"},
        {"2024-03-01,000001,申购,1000,inf", 0, "第1行：手续费必须是数字：inf"},
        {"2024-03-01,000001,申购,1000.555", 0, "第1行：金额最多只能有2位小数：1000.555"},
    };
    for (const auto& c : cases) {
        const ImportResult r = ParseTradeCsv(c.line, account);
        EXPECT_EQ(r.refusals.empty() ? "" : r.refusals[0].Text(), c.refusal) << c.line;
        if (!r.rows.empty()) {
            EXPECT_EQ(r.rows[0].trade.TradeMoney, c.money) << c.line;
        }
    }
}

// A statement's dividend is booked once, from its own row, whatever date the
// statement gives it; the automatic dividends stay out of an import.
TEST_F(TradeImportTest, AStatementsDividendIsBookedOnce)
{
    const int account = NewAccount("A");
    services.nav["000002"] = 1.0;
    services.dividends["000002"] = {{0.028, OleDate(), OleDate(), OleDate::FromParts(2024, 3, 6)}};
    const std::string file = "2024-03-01,000002,申购,10000\n2024-03-05,000002,现金红利,280\n2024-03-11,000002,申购,5000\n";
    ImportResult r = ImportTrades(manager, db, account, file, false);
    ASSERT_TRUE(r.booked) << r.refusals.front().Text();
    EXPECT_DOUBLE_EQ(Number("SELECT SUM(TradeMoney) FROM T_Trade_Info WHERE TradeType=7"), 280);
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info WHERE TradeType=6 OR TradeType=7"), 1);
}

// The same file twice: the second run shows every row as already held, and
// books them again only when told.
TEST_F(TradeImportTest, RowsTheAccountHoldsAreBookedOnlyWhenConfirmed)
{
    const int account = NewAccount("A");
    const std::string file = "2024-03-01,000001,申购,1200\n2024-03-04,000001,赎回,100\n2024-03-05,000001,申购,600\n";
    ASSERT_TRUE(ImportTrades(manager, db, account, file, false).booked);
    const std::string more = file + "2024-03-05,000001,申购,600\n2024-03-06,000001,申购,600\n";
    EXPECT_EQ(PrepareImport(manager, db, &funds, account, more, true).duplicates, 3u);
    ImportResult dry = ImportTrades(manager, db, account, more, true);
    std::vector<bool> dup;
    for (const ImportRow& row : dry.rows) dup.push_back(row.duplicate);
    EXPECT_EQ(dup, (std::vector<bool>{true, true, true, false, false}));

    ImportResult skipped = ImportTrades(manager, db, account, more, false);
    ASSERT_TRUE(skipped.booked);
    EXPECT_EQ(Trades(account), 5);
    EXPECT_DOUBLE_EQ(Held(account, "000001"), 2400);  // 1000 - 100 + 500 + 500 + 500
    ImportControl confirmed;
    confirmed.bookDuplicates = true;
    ASSERT_TRUE(ImportTrades(manager, db, account, file, false, nullptr, confirmed).booked);
    EXPECT_EQ(Trades(account), 8);
}

}  // namespace
}  // namespace vextal::test
