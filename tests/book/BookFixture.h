#pragma once
// A fresh database, a fixed clock and scripted service answers for the
// bookkeeping engine.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "support/BookHome.h"

namespace vextal::test {

struct FakeServices : IBookServices {
    std::map<std::string, double> nav;  // price by fund (any date)
    std::map<std::string, std::vector<DividendItem>> dividends;
    std::set<std::string> failingFunds;

    bool GetFundTradeValue(const std::string& fundId, const OleDate& tradeTime, double& value, OleDate& dealTime,
                           std::string& error) override
    {
        if (failingFunds.count(fundId) || !nav.count(fundId)) {
            error = "GetFundTradeValueFormServer():数据格式错误";
            return false;
        }
        value = nav[fundId];
        dealTime = tradeTime.DateOnly();
        return true;
    }
    int QueryDividends(const std::string& fundId, const OleDate& start, const OleDate& end, double, int,
                       std::vector<DividendItem>& items, std::string&) override
    {
        for (const DividendItem& d : dividends[fundId])
            if (d.BookDate >= start.DateOnly() && d.BookDate <= end) items.push_back(d);
        return kDividendOk;
    }
    double incomePer10kPerDay = 0;  // money-market income, every calendar day
    int QueryMoneyIncome(const std::string&, const OleDate& start, const OleDate& end, double shares, double& amount,
                         OleDate& date, std::string&) override
    {
        date = end.DateOnly();
        amount = shares * incomePer10kPerDay / 10000 * (date.dt - start.DateOnly().dt);
        return kDividendOk;
    }
    bool GetLatestValue(const std::string& fundId, double& value, OleDate& date, std::string& error) override
    {
        if (!nav.count(fundId)) return false;
        value = nav[fundId];
        date = Clock::Now().DateOnly();
        return true;
    }
    bool CancelTrade(int, std::string&) override { return true; }
};

struct FakeFunds : IFundDirectory {
    std::set<std::string> known;        // in the catalogue; others count as money-market
    std::set<std::string> moneyMarket;  // investment type 4
    std::map<std::string, OleDate> established;
    std::map<std::string, LatestNav> values;

    void SetLatest(const std::string& id, double nav) { values[id] = {nav, 0, 0, Clock::Now().DateOnly()}; }
    bool IsMoneyMarketFund(const std::string& id) const override { return !known.count(id) || moneyMarket.count(id); }
    bool GetEstablishDate(const std::string& id, OleDate& d) const override
    {
        auto it = established.find(id);
        return it != established.end() && (d = it->second, true);
    }
    bool GetLatestNav(const std::string& id, LatestNav& n) const override
    {
        auto it = values.find(id);
        return it != values.end() && (n = it->second, true);
    }
};

// A program home on the fakes above, at a fixed time.
class BookTest : public ::testing::Test {
protected:
    BookTest()
    {
        for (const char* f : {"000001", "000002", "000003"}) {
            funds.known.insert(f);
            services.nav[f] = 1.2;
        }
        funds.known.insert("000009");
        funds.moneyMarket.insert("000009");
    }
    void SetUp() override { Clock::Fix(OleDate::FromParts(2024, 6, 14, 20, 0, 0)); }
    void TearDown() override { Clock::Release(); }
    std::string DbPath() const { return home.dir + "/Vextal.mdb"; }

    int NewAccount(const std::string& name) { return home.NewAccount(name, Clock::Now()); }
    static TradeInfo Trade(int account, const std::string& fund, int type, double money, double count,
                           const OleDate& when)
    {
        return MakeTrade(account, fund, type, money, count, when);
    }
    static TradeInfo Purchase(int account, const std::string& fund, double money, double fee, const OleDate& when)
    {
        TradeInfo t = MakeTrade(account, fund, kTradeBuy, money, 0, when);
        t.TradeFee = fee;
        t.NoAutoBonus = 1;
        return t;
    }
    // The first column of the first row, or -1 when there is none.
    double Number(const std::string& sql)
    {
        double n = -1;
        db.QueryDouble(sql, n);
        return n;
    }
    double Held(int account, const std::string& fund, int buyType = 0)
    {
        return Number(StrFormat("SELECT TotalCount FROM T_Fund_Trade WHERE AccountID=%d AND FundID='%s' AND BuyType=%d",
                                account, fund.c_str(), buyType));
    }
    int Count(const std::string& sql) { return home.Count(sql); }

    static constexpr int kUser = 7;
    FakeServices services;
    FakeFunds funds;
    BookHome home{kUser, &services, &funds};
    CAdoDatabase& db = home.db;
    CAccountManager& manager = home.manager;
};

}  // namespace vextal::test
