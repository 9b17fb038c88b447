// Login online and offline, the texts of refused logins, quotes in names,
// registration, user information, password change and the membership limits.
#include <gtest/gtest.h>

#include "app/AppTestSupport.h"
#include "app/LoginDialogLogic.h"
#include "app/Settings.h"
#include "app/VextalDoc.h"

using namespace vextal;
using namespace vextal::test;

namespace {

class LoginTest : public AppHomeTest, protected LoginDesk {
protected:
    void Open(const std::string& base)
    {
        UseServer(base);
        OpenDocument();
    }
};

TEST_F(LoginTest, RefusalsShowTheirTexts)
{
    FakeService svc;
    Open(svc.Base());

    DialogFocus focus = DialogFocus::None;
    EXPECT_FALSE(dialog->OnLogin({"   ", "x", false, false}, &focus));
    EXPECT_EQ(LastMessage(), kEmptyLoginName);
    EXPECT_EQ(focus, DialogFocus::Name);
    EXPECT_EQ(svc.commands.size(), 0u);

    EXPECT_FALSE(Login("demo", "nope", false));
    EXPECT_EQ(LastMessage(), "登录失败:用户名或密码错误");
    EXPECT_EQ(prompt.icons.back(), PromptIcon::Warning);

    // Never logged in online on this database: offline refuses.
    EXPECT_FALSE(Login("demo", "demo123", true));
    EXPECT_EQ(LastMessage(), "登录失败:错误的用户名或者密码，或者没有连机正确登录过系统");
    // A refused login writes nothing back.
    EXPECT_EQ(ReadLoginSettings().name, "");

    // A dead service.
    doc->Settings().commandUrl = "http://127.0.0.1:1/" + std::string(kCommandPath);
    doc->Membership().SetCommandUrl(doc->Settings().commandUrl);
    EXPECT_FALSE(Login("demo", "demo123", false));
    EXPECT_EQ(LastMessage(), "登录失败:发送请求错误");
}

TEST_F(LoginTest, QuotesInNamesNeitherLogInNorBreakAnything)
{
    FakeService svc;
    svc.members["o'brien"] = {31, "it's", "o@x", "奥", 0};
    Open(svc.Base());

    ASSERT_TRUE(Login("o'brien", "it's", false)) << LastMessage();
    EXPECT_TRUE(Login("o'brien", "it's", true)) << LastMessage();
    EXPECT_EQ(doc->User().UserID, 31);
    ASSERT_TRUE(Login("demo", "demo123", false));

    EXPECT_FALSE(Login("' OR '1'='1", "' OR '1'='1", true));
    EXPECT_EQ(LastMessage(), "登录失败:错误的用户名或者密码，或者没有连机正确登录过系统");
    EXPECT_FALSE(Login("demo", "x' OR '1'='1", true));
    EXPECT_FALSE(Login("demo' --", "", true));
    int rows = 0;
    EXPECT_TRUE(doc->GetDatabase().QueryInt("SELECT COUNT(*) FROM T_User_Info", rows));
    EXPECT_EQ(rows, 2);
    EXPECT_TRUE(Login("demo", "demo123", true));
}

TEST_F(LoginTest, OnlyANineFieldAnswerIsSavedForOfflineUse)
{
    FakeService svc;
    Open(svc.Base());
    svc.loginMsgOverride = "7|演示|demo@x|2020-01-01|2030-12-31|20240101|20240102|2024-06-28|a=1|extra";
    ASSERT_TRUE(Login("demo", "demo123", false)) << LastMessage();
    EXPECT_EQ(doc->User().UserID, 0);
    EXPECT_TRUE(doc->IsVip());  // the login id still carries the level
    EXPECT_FALSE(Login("demo", "demo123", true));

    // Too short an answer is malformed and logs nobody in.
    svc.loginMsgOverride = "7|演示";
    EXPECT_FALSE(Login("demo", "demo123", false));
    EXPECT_EQ(LastMessage(), "登录失败:LoginOnline():数据格式错误");

    svc.loginMsgOverride.clear();
    ASSERT_TRUE(Login("free", "free123", false));
    EXPECT_FALSE(doc->IsVip());
    EXPECT_TRUE(Login("free", "free123", true));
    EXPECT_EQ(doc->User().UserID, 8);

    EXPECT_EQ(MembershipLevelOf("3f9a-1"), 1);
    EXPECT_EQ(MembershipLevelOf("3f9a-0"), 0);
    EXPECT_EQ(MembershipLevelOf("3f9a-12"), 12);
    EXPECT_EQ(MembershipLevelOf("3f9a-"), -1);
    EXPECT_EQ(MembershipLevelOf("3f9a"), -1);
    EXPECT_EQ(MembershipLevelOf("a-1-x"), -1);
}

TEST(Membership, LimitsOfFreeAndVipMembers)
{
    CMembership m;
    RecordingPrompt prompt;
    std::vector<std::string> codes;
    for (int i = 1; i <= 15; ++i) codes.push_back(StrFormat("%06d", i));

    std::vector<std::string> seven(codes.begin(), codes.begin() + 7);
    m.TrimFundList(seven);
    EXPECT_EQ(seven, (std::vector<std::string>{"000004", "000005", "000006", "000007"}));
    EXPECT_TRUE(m.CheckFundCount(3, &prompt));
    EXPECT_FALSE(m.CheckFundCount(4, &prompt));
    EXPECT_EQ(prompt.messages.back(), "免费会员最多可以选择4个基金");
    EXPECT_FALSE(m.RequireVip(&prompt));
    EXPECT_EQ(prompt.messages.back(), "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。");

    m.SetVipFlag(1);
    std::vector<std::string> all = codes;
    m.TrimFundList(all);
    ASSERT_EQ(all.size(), 12u);
    EXPECT_EQ(all.front(), "000004");
    EXPECT_EQ(all.back(), "000015");
    EXPECT_TRUE(m.CheckFundCount(11, &prompt));
    EXPECT_FALSE(m.CheckFundCount(12, &prompt));
    EXPECT_EQ(prompt.messages.back(), "VIP会员最多可以选择12个基金");
    EXPECT_TRUE(m.RequireVip(&prompt));
    std::vector<std::string> two(codes.begin(), codes.begin() + 2);
    m.TrimFundList(two);
    EXPECT_EQ(two.size(), 2u);
    EXPECT_EQ(m.GetErrorText(), "未知错误");
}

}  // namespace
