#include "MarketTestUtil.h"
#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"
#include "market/NavHistory.h"

using namespace vextal;

namespace {

class HistoryTest : public test::MarketTest {
protected:
    void SetUp() override
    {
        MarketTest::SetUp();
        history.SetSession(ctx, false);
        latest.SetSession(ctx, false);
        Clock::Fix(OleDate::FromParts(2024, 1, 9, 20));
    }
    int Rows(const std::string& fund) { return Count("SELECT * FROM T_Fund_Value WHERE FundID='" + fund + "'"); }

    CFundCatalogue cat{db};
    CLatestValueCache latest{db, cat};
    CNavHistory history{db, &latest};
};

}  // namespace

TEST_F(HistoryTest, IncrementalDownloadSendsStoredRangeAndUpserts)
{
    // The ranges sent and the whole-history rows run against the real
    // service (ServeTest); here the answers it never gives. A date already
    // stored is updated, not added.
    AnswerMsg("2/11", "2006-01-04|1.0000|1.0000|0|0|2007-03-30|1.5000|1.6000|0.5|0.0075");
    ASSERT_TRUE(history.IncrementalDownloadFund("110011")) << history.GetLastError();
    AnswerMsg("2/11", "2007-03-30|1.5100|1.6100|0.6|0.0085|2007-04-02|1.5200|1.6200|0.7|0.01");
    ASSERT_TRUE(history.IncrementalDownloadFund("110011"));
    EXPECT_EQ(Rows("110011"), 3);
    std::vector<CFundValue> list;
    ASSERT_EQ(history.GetFundValueHistory("110011", OleDate::FromParts(2007, 3, 1), OleDate::FromParts(2007, 12, 31),
                                          true, false, list),
              kMarketOk);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FLOAT_EQ(list[0].TodayValue, 1.51f);

    // 11 fields: nothing stored, a negative result.
    AnswerMsg("2/11", "2007-04-03|1|1|0|0|2007-04-04|1|1|0|0|x");
    EXPECT_FALSE(history.IncrementalDownloadFund("110011"));
    EXPECT_EQ(Rows("110011"), 3);
    // No new records: nothing to do, not a failure.
    AnswerMsg("2/11", "");
    EXPECT_TRUE(history.IncrementalDownloadFund("110011"));

    // A fund the service does not know stays missing.
    AnswerMsg("2/11", "没有数据", -1);
    EXPECT_EQ(history.GetFundValueHistory("999999", OleDate(0), OleDate::FromParts(2024, 1, 9), false, true, list),
              kMarketRefused);
    history.SetSession(ctx, true);
    EXPECT_EQ(history.GetFundValueHistory("999999", OleDate(0), OleDate::FromParts(2024, 1, 9), false, true, list),
              kMarketMissing);

    // Deleting the NAVs leaves the dividends alone.
    ASSERT_TRUE(db.Execute("INSERT INTO T_Fund_Bonus(FundID,RecordDate,BonusDate,BonusValue) "
                           "VALUES('110011','2007-01-05 00:00:00','2007-01-08 00:00:00',0.05)"));
    ASSERT_TRUE(history.DeleteFundValues("110011"));
    EXPECT_EQ(Rows("110011"), 0);
    auto bonus = history.LoadFundBonus("110011", OleDate(0), OleDate::FromParts(2024, 1, 1));
    ASSERT_EQ(bonus.size(), 1u);
    EXPECT_FLOAT_EQ(bonus[0].BonusValue, 0.05f);
    EXPECT_FALSE(bonus[0].SubtractDate.IsValid());
}

TEST_F(HistoryTest, LatestValueRowsReachTheCachedHistory)
{
    AnswerMsg("1/11", "110011|0001|甲|甲|1|1|4|u|2008-06-19|0|0");
    cat.SetSession(ctx, false);
    ASSERT_TRUE(cat.DownloadFundInfos());
    AnswerMsg("2/11", "2024-01-04|1.0|1.0|0|0|2024-01-05|1.1|1.1|0|0");
    ASSERT_TRUE(history.IncrementalDownloadFund("110011"));
    ASSERT_EQ(history.CachedHistory("110011")->size(), 2u);
    AnswerValues("2/5", "", test::ValueRecord("2024-01-08", "110011", 1.2f));
    ASSERT_EQ(latest.DownloadSelectedValues({"110011"}), kMarketOk);
    ASSERT_EQ(history.CachedHistory("110011")->size(), 3u);
    EXPECT_FLOAT_EQ(history.CachedHistory("110011")->back().TodayValue, 1.2f);
}
