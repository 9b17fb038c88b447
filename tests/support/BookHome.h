#pragma once
// A program home for bookkeeping against the real service: its own database
// and engine, logged in as `user`, with the funds answered from the market
// simulator the service runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "MarketSimulator.h"
#include "book/AccountManager.h"
#include "book/BookServiceClient.h"
#include "common/Clock.h"
#include "db/Schema.h"

namespace vextal::test {

struct SimDirectory : IFundDirectory {
    const CMarketSimulator& market;
    explicit SimDirectory(const CMarketSimulator& m) : market(m) {}
    bool IsMoneyMarketFund(const std::string& id) const override
    {
        const SimFund* f = market.FindFund(id);
        return !f || f->IsMoneyMarket();
    }
    bool IsKnownFund(const std::string& id) const override { return market.FindFund(id) != nullptr; }
    bool GetEstablishDate(const std::string& id, OleDate& d) const override
    {
        const SimFund* f = market.FindFund(id);
        if (!f) return false;
        d = DateOfDay(f->createDay);
        return true;
    }
    bool GetLatestNav(const std::string& id, LatestNav& nav) const override
    {
        const SimFund* f = market.FindFund(id);
        const int day = market.LatestNavDay(Clock::Now());
        if (!f) return false;
        auto records = market.Published(*f, Clock::Now(), day, day);
        if (records.empty()) return false;
        nav.TodayValue = records[0].nav;
        nav.ValueDate = DateOfDay(day);
        return true;
    }
};

// The real service's client, whose price question fails for one day while
// `failDay` is set.
struct FlakyPrices : CBookServiceClient {
    using CBookServiceClient::CBookServiceClient;
    OleDate failDay;
    bool GetFundTradeValue(const std::string& fundId, const OleDate& t, double& v, OleDate& deal,
                           std::string& error) override
    {
        if (failDay.dt != 0 && t.DateOnly() == failDay) {
            error = "没有找到净值";
            return false;
        }
        return CBookServiceClient::GetFundTradeValue(fundId, t, v, deal, error);
    }
};

// A trade as a form hands it to the engine, before the engine completes it.
inline TradeInfo MakeTrade(int account, const std::string& fund, int type, double money, double count,
                           const OleDate& when)
{
    TradeInfo t;
    t.AccountID = account;
    t.FundID = fund;
    t.TradeType = type;
    t.TradeMoney = money;
    t.TradeCount = count;
    t.TradeTime = when;
    return t;
}

struct BookHome {
    std::string dir;
    CAdoDatabase db;
    CAccountManager manager;

    BookHome(int user, IBookServices* services, IFundDirectory* funds)
    {
        char tmpl[] = "/tmp/vextal-home-XXXXXX";
        dir = mkdtemp(tmpl);
        std::string error;
        EXPECT_TRUE(CreateDatabaseFile(dir + "/Vextal.mdb", CAdoDatabase::kDefaultPassword, error)) << error;
        db.SetDatabase(dir + "/Vextal.mdb", 0);
        EXPECT_TRUE(db.Open());
        manager.Init(db, user, false, services, funds);
        manager.SetVip(true);
        EXPECT_TRUE(manager.LoadAccounts(user));
    }
    ~BookHome()
    {
        db.Close();
        std::filesystem::remove_all(dir);
    }
    int NewAccount(const std::string& name, const OleDate& created = OleDate::FromParts(2006, 1, 4))
    {
        AccountInfo a;
        a.AccountName = name;
        a.CreateDate = created;
        EXPECT_TRUE(manager.CreateAccount(a)) << manager.GetLastErrorText();
        return a.AccountID;
    }
    const AccountInfo* Named(const std::string& name)
    {
        for (const auto& [id, a] : manager.Accounts())
            if (a->AccountName == name) return a.get();
        return nullptr;
    }
    int Count(const std::string& sql) { return db.GetRecordCount(sql); }
};

// The days of the booked plan purchases, in order.
inline std::vector<std::string> PlanPurchaseDays(CAdoDatabase& db)
{
    std::vector<std::string> days;
    RecordsetPtr rs = db.OpenRecordsetEx("SELECT TradeTime FROM T_Trade_Info WHERE TradeType=9 ORDER BY TradeTime");
    for (OleDate d; rs && !rs->IsEOF(); rs->MoveNext()) days.push_back(db.GetFieldValue(rs, "TradeTime", d) ? d.Format(1) : "?");
    return days;
}

}  // namespace vextal::test
