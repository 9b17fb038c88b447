// The addresses the web views open: the tool page rules (the views open
// them in the command walk), the financing analysis from its controls and
// the income figures, as the browser would be sent them (without the engine).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

#include "book/BookTypes.h"
#include "ui/WebUrls.h"
#include "ui/WebViews.h"

namespace vextal {
namespace {

const std::string kBase = "http://127.0.0.1:8610/";
const std::string kQuery = "loginid=3f9a-1&userid=7";

TEST(WebViews, ToolPagesFollowTheUrlRules)
{
    // Fund information: the fund code, no serial.
    EXPECT_EQ(ToolPageUrl(kBase, 4, "000001", kQuery, 99), kBase + "fundinfo/FundInfoClient.asp?FundID=000001");
    // Static pages: "?FundSN=" and the serial; dynamic ones the user query first.
    EXPECT_EQ(ToolPageUrl(kBase, 7, "000001", kQuery, 31), kBase + "html/top/StatTopView.htm?FundSN=31");
    EXPECT_EQ(ToolPageUrl(kBase, 0, "000001", kQuery, 5), kBase + "plindo/tool/myfundfocus.aspx?" + kQuery + "&FundSN=5");
    EXPECT_EQ(ToolPageUrl(kBase, 9, "000001", kQuery, 5), kBase + "vip/realstock.asp?" + kQuery + "&FundSN=5");
    EXPECT_TRUE(ToolPageUrl(kBase, 11, "000001", kQuery, 5).empty());
    EXPECT_TRUE(ToolPageUrl(kBase, -1, "000001", kQuery, 5).empty());
}

TEST(WebViews, FinancingAnalysisSendsTheChosenStatisticOfEachFund)
{
    AccountInfo a, b;
    a.AccountID = 1;
    a.AccountName = "稳健";
    b.AccountID = 2;
    b.AccountName = "A&B#1";
    FundTradeInfo h1, h2, h3;
    h1.FundID = "000001";
    h1.figures.NewIncome = 120.5;
    h1.figures.MarketValue = 5000;
    h2.FundID = "000002";
    h2.figures.NewIncome = -30.25;
    h3.FundID = "000001";  // the same fund in the other account, back-end
    h3.BuyType = 1;
    h3.figures.NewIncome = 9.5;
    a.holdings = {h1, h2};
    b.holdings = {h3};
    a.NewIncome = 90.25;
    b.NewIncome = 9.5;

    WebPageSource source;
    source.webBase = [] { return kBase; };
    source.userQuery = [] { return kQuery; };
    source.accounts = [&] { return std::vector<const AccountInfo*>{&a, &b}; };
    source.fundName = [](const std::string& code) { return code == "000001" ? std::string("宏诚货币") : std::string(); };
    source.fundType = [](const std::string& code) { return code == "000001" ? std::string("现金") : std::string("股票"); };
    CFinancingAnalyseView view(source);

    // The boxes hold the numbered strings' entries and the accounts.
    auto boxes = view.findChildren<QComboBox*>();
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_EQ(boxes[0]->count(), 8);
    EXPECT_EQ(boxes[1]->count(), 3);
    ASSERT_EQ(boxes[2]->count(), 3);
    EXPECT_EQ(boxes[2]->itemText(0), QStringLiteral("全部"));
    EXPECT_EQ(boxes[2]->itemText(2), QStringLiteral("A&B#1"));

    // "按基金统计", "按最新收益", "柱形图", then "显示".
    for (QRadioButton* r : view.findChildren<QRadioButton*>())
        if (r->text() == QStringLiteral("按基金统计")) r->click();
    boxes[0]->setCurrentIndex(boxes[0]->findText(QStringLiteral("按最新收益")));
    boxes[1]->setCurrentIndex(boxes[1]->findText(QStringLiteral("柱形图")));
    view.findChild<QPushButton*>(QStringLiteral("showButton"))->click();
    const std::string head = kBase + "plindo/Account/FinancingAnalyseResult.aspx?type=1&show=2&style=";
    // One fund over two accounts and charging types is one group; a fund
    // without a catalogue name shows its code.
    const std::string tail = "&" + kQuery + "&data=宏诚货币|130.00|000002|-30.25";
    EXPECT_EQ(view.FirstUrl(), head + "2" + tail);
    EXPECT_EQ(view.SecondUrl(), head + "0" + tail);

    // By account, one account chosen; a name with "&" and "#" stays inside the data value.
    for (QRadioButton* r : view.findChildren<QRadioButton*>())
        if (r->text() == QStringLiteral("按帐户统计")) r->click();
    boxes[2]->setCurrentIndex(2);
    view.ShowResult();
    EXPECT_EQ(view.FirstUrl(), kBase + "plindo/Account/FinancingAnalyseResult.aspx?type=0&show=2&style=2&" + kQuery +
                                   "&data=A%26B%231|9.50");
    // By type over every account.
    for (QRadioButton* r : view.findChildren<QRadioButton*>())
        if (r->text() == QStringLiteral("按类型统计")) r->click();
    EXPECT_EQ(view.ChosenAccount(), 0);  // the radio button refilled the box
    view.ShowResult();
    EXPECT_NE(view.FirstUrl().find("type=2&show=2&style=2&"), std::string::npos);
    EXPECT_NE(view.FirstUrl().find("&data=现金|130.00|股票|-30.25"), std::string::npos) << view.FirstUrl();
}

}  // namespace
}  // namespace vextal
