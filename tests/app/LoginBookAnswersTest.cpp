// The answers of the first account load, asked before the booking: each
// question once, none for money-market dividends, none after a cancel, and
// nothing asked later from the window's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include "app/LoginBookAnswers.h"
#include "book/BookTypes.h"

using namespace vextal;

namespace {

struct Asked : IBookServices {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::atomic<bool>* cancelAt2 = nullptr;
    void Note(const std::string& what)
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(what);
        if (cancelAt2 && calls.size() == 2) *cancelAt2 = true;
    }
    bool GetFundTradeValue(const std::string& f, const OleDate& t, double& v, OleDate& d, std::string&) override
    {
        Note("nav " + f + " " + t.Format(1));
        v = 1.25;
        d = t;
        return true;
    }
    int QueryDividends(const std::string& f, const OleDate&, const OleDate&, double, int, std::vector<DividendItem>& items,
                       std::string&) override
    {
        Note("dividends " + f);
        DividendItem before, after;
        before.BookDate = OleDate::FromParts(2019, 6, 1);
        after.BookDate = OleDate::FromParts(2021, 6, 1);
        items = {before, after};
        return kDividendOk;
    }
    int QueryMoneyIncome(const std::string& f, const OleDate&, const OleDate&, double, double& a, OleDate& d,
                         std::string&) override
    {
        Note("income " + f);
        a = 12.5;
        d = OleDate::FromParts(2024, 1, 1);
        return kDividendOk;
    }
    bool GetLatestValue(const std::string&, double&, OleDate&, std::string&) override { return false; }
    bool CancelTrade(int, std::string&) override { return false; }
};

LoginHolding Holding(const char* fund, int bonusType, bool money, double count = 1000)
{
    LoginHolding h;
    h.FundID = fund;
    h.BonusType = bonusType;
    h.TotalCount = count;
    h.DividendStart = h.LastTrade = OleDate::FromParts(2020, 1, 6);
    h.MoneyMarket = money;
    return h;
}

}  // namespace

TEST(LoginBookAnswers, EachQuestionOnceAndNoneAfterwards)
{
    Asked service;
    std::atomic<bool> never{false};
    std::vector<LoginHolding> holdings = {Holding("000001", kBonusCash, false), Holding("000002", kBonusReinvest, false),
                                          Holding("000003", kBonusCash, false, 0), Holding("000009", 0, true),
                                          Holding("000009", 0, true)};
    auto answers = CLoginBookAnswers::Fetch(service, holdings, never);
    // No dividend query for the money-market fund, its income once, the NAV
    // of the one reinvested dividend after the start, nothing for no shares.
    EXPECT_EQ(service.calls, (std::vector<std::string>{"dividends 000001", "dividends 000002", "nav 000002 2021-06-01",
                                                       "income 000009"}));
    EXPECT_EQ(answers->RequestCount(), 4u);

    // Asked from four threads: the same questions, each once.
    Asked again;
    auto parallel = CLoginBookAnswers::Fetch(again, holdings, never, 4);
    std::sort(again.calls.begin(), again.calls.end());
    std::vector<std::string> serial = service.calls;
    std::sort(serial.begin(), serial.end());
    EXPECT_EQ(again.calls, serial);
    EXPECT_EQ(parallel->RequestCount(), 4u);

    service.calls.clear();
    std::vector<DividendItem> items;
    std::string error;
    double amount = 0, nav = 0;
    OleDate date;
    const OleDate start = OleDate::FromParts(2020, 1, 6), now = OleDate::FromParts(2024, 6, 1);
    EXPECT_EQ(answers->QueryDividends("000002", start, now, 1000, kBonusReinvest, items, error), kDividendOk);
    EXPECT_EQ(items.size(), 2u);
    EXPECT_TRUE(answers->GetFundTradeValue("000002", OleDate::FromParts(2021, 6, 1), nav, date, error));
    EXPECT_EQ(nav, 1.25);
    EXPECT_EQ(answers->QueryMoneyIncome("000009", start, now, 1000, amount, date, error), kDividendOk);
    EXPECT_EQ(amount, 12.5);
    items.clear();
    EXPECT_EQ(answers->QueryDividends("000009", start, now, 1000, 0, items, error), kDividendOk);
    EXPECT_TRUE(items.empty());
    // A question nobody asked before (other shares) is refused, not sent.
    EXPECT_EQ(answers->QueryDividends("000001", start, now, 999, kBonusCash, items, error), kDividendRequestFailed);
    EXPECT_FALSE(answers->GetFundTradeValue("000001", start, nav, date, error));
    EXPECT_TRUE(service.calls.empty());
}

TEST(LoginBookAnswers, CancelStopsBeforeTheNextRequest)
{
    Asked service;
    std::atomic<bool> cancelled{false};
    service.cancelAt2 = &cancelled;
    std::vector<LoginHolding> holdings;
    for (const char* f : {"000001", "000002", "000003", "000004"}) holdings.push_back(Holding(f, kBonusCash, false));
    CLoginBookAnswers::Fetch(service, holdings, cancelled);
    EXPECT_EQ(service.calls.size(), 2u);
}
