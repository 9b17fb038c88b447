#include <fstream>

#include "MarketTestUtil.h"
#include "db/Schema.h"
#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"

using namespace vextal;

namespace {

class CatalogueTest : public test::MarketTest {};

const char* kCompanies = "0001|华夏基金|1|http://a|0002|南方基金|1|http://b";
// 110011 open-end stock, 000009 money market, 184688 closed-end, 510050 ETF, 900001 collective.
const char* kFunds =
    "110011|0001|易方达中小盘|易方达中小盘|1|1|4|http://f1|2008-06-19|1.5|2.5|"
    "000009|0001|华夏现金增利|华夏现金|1|4|3|http://f2|2004-04-07|0|0|"
    "184688|0002|基金开元|开元|2|1|1|http://f3|1998-04-07|0|0|"
    "510050|0002|上证50ETF|50ETF|3|1|2|http://f4|2004-12-30|0|0|"
    "900001|0002|集合理财一号|集合一号|5|2|0|http://f5|2010-01-01|0|0";

}  // namespace

// The sync, its versions and the withdrawal of a fund run against the real
// service (ServeTest); here the answers it never gives.
TEST_F(CatalogueTest, FundFieldsClassesAndFoldersAsSent)
{
    AnswerMsg("1/11", kFunds);
    // Folders: the third record runs past the end and is dropped.
    AnswerMsg("1/13", "7|我的收藏|2|110011|000009|8|关注|1|510050|9|坏|5|184688");
    CFundCatalogue cat(db);
    cat.SetSession(ctx, false);
    ASSERT_TRUE(cat.DownloadFundInfos());
    ASSERT_TRUE(cat.LoadFundGroups());
    int group = 0;
    EXPECT_TRUE(cat.GetFundGroup("510050", group));
    EXPECT_EQ(group, 8);
    EXPECT_FALSE(cat.GetFundGroup("184688", group));
    EXPECT_EQ(cat.FundGroups().size(), 2u);

    const std::pair<const char*, int> classes[] = {{"110011", 1}, {"000009", 2}, {"184688", 3},
                                                   {"510050", 4}, {"900001", 5}, {"999999", 1}};
    for (const auto& [code, cls] : classes) EXPECT_EQ(cat.GetFundClass(code), cls) << code;
}

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
}

TEST(CatalogueHelpers, NamesKeyListAndFolders)
{
    EXPECT_EQ(GetInvestTypeName(9), "股票");  // unknown kinds count as stock funds
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
