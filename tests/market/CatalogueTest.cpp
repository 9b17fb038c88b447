#include <fstream>

#include "MarketTestUtil.h"
#include "db/Schema.h"
#include "market/FundCatalogue.h"

using namespace vextal;

namespace {

class CatalogueTest : public test::MarketTest {};

const char* kCompanies = "0001|华夏基金|1|http://a|0002|南方基金|1|http://b";

}  // namespace

TEST_F(CatalogueTest, MalformedOrFailedDownloadsChangeNothing)
{
    CFundCatalogue cat(db);
    cat.SetSession(ctx, false);
    AnswerMsg("1/1", kCompanies);
    ASSERT_TRUE(cat.DownloadFundCompanies());

    // 21 fields: not a multiple of 4.
    AnswerMsg("1/1", "0003|a|1|u|0004|b|1|u|0005|c|1|u|0006|d|1|u|0007|e|1|u|x");
    EXPECT_FALSE(cat.DownloadFundCompanies());
    EXPECT_EQ(cat.GetLastError(), "DownloadFundCompanies():数据格式错误");
    EXPECT_EQ(cat.Companies().size(), 2u);
    EXPECT_EQ(Count("SELECT * FROM T_Fund_Company"), 2);

    // A bad date in the last record rejects the whole answer.
    AnswerMsg("1/11", "110011|0001|a|a|1|1|4|u|2008-06-19|0|0|110022|0001|b|b|1|1|4|u|notadate|0|0");
    EXPECT_FALSE(cat.DownloadFundInfos());
    EXPECT_EQ(Count("SELECT * FROM T_Fund_Info"), 0);

    // The server's version is not stored after a failed download.
    CFundCatalogue next(db);
    next.SetSession(ctx, false);
    AnswerMsg("1/11", "", -2);
    next.SyncFundCatalogue("20070101", "20240106");
    std::string v;
    ASSERT_TRUE(GetSystemInfo(db, "FundInfoVersion", v));
    EXPECT_EQ(v, "20070101");
}

TEST(CatalogueHelpers, NamesKeyListAndFolders)
{
    EXPECT_EQ(GetInvestTypeName(2), "混合");
    EXPECT_EQ(GetInvestTypeName(3), "债券");
    EXPECT_EQ(GetInvestTypeName(4), "现金");
    EXPECT_EQ(GetInvestTypeName(1), "股票");
    EXPECT_EQ(GetInvestTypeName(9), "股票");
    EXPECT_EQ(GetBankName(1), "招商银行");
    EXPECT_EQ(GetBankName(13), "深圳发展银行");
    EXPECT_EQ(GetBankName(0), "");
    EXPECT_EQ(GetBankName(14), "");

    std::string path = "/tmp/vextal-fundkey-" + std::to_string(getpid()) + ".txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "110011\t易方达中小盘\r\n000009\t华夏\t多余\nbroken line\n510050\t上证50ETF";
    }
    std::map<std::string, std::string> keys;
    ASSERT_TRUE(LoadFundKeyList(path, keys));
    std::remove(path.c_str());
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys["110011"], "易方达中小盘");
    EXPECT_EQ(keys["510050"], "上证50ETF");
    EXPECT_FALSE(LoadFundKeyList(path, keys));

    // A negative or non-numeric count ends the reading.
    auto groups = ParseFundGroups({"1", "a", "1", "110011", "2", "b", "-1", "x"});
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].Members, std::vector<std::string>{"110011"});
    EXPECT_TRUE(ParseFundGroups({"1", "a", "zz", "110011"}).empty());
}
