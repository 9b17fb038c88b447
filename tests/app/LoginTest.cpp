// What only a hand-made service can send (a member whose name and password
// hold quotes, malformed login answers) and the membership limits the real
// service's logins do not reach; refusals, hostile names, registration, user
// information, password change, logout and the free and VIP fund lists run
// against the real service in ServiceStartTest.
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

TEST_F(LoginTest, QuotesInNamesNeitherLogInNorBreakAnything)
{
    FakeService svc;
    svc.members["o'brien"] = {31, "it's", "o@x", "奥", 0};
    Open(svc.Base());

    ASSERT_TRUE(Login("o'brien", "it's", false)) << LastMessage();
    EXPECT_TRUE(Login("o'brien", "it's", true)) << LastMessage();
    EXPECT_EQ(doc->User().UserID, 31);
    EXPECT_FALSE(Login("o'brien", "it''s", true));
    int rows = 0;
    EXPECT_TRUE(doc->GetDatabase().QueryInt("SELECT COUNT(*) FROM T_User_Info", rows));
    EXPECT_EQ(rows, 1);
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

    EXPECT_EQ(MembershipLevelOf("3f9a-12"), 12);
    for (const char* bad : {"3f9a-", "3f9a", "a-1-x"}) EXPECT_EQ(MembershipLevelOf(bad), -1) << bad;
}

// The free member's limit and the trimming of both lists: ServiceStartTest.
TEST(Membership, VipOnlyFunctionsAndTheVipLimit)
{
    CMembership m;
    RecordingPrompt prompt;
    EXPECT_FALSE(m.RequireVip(&prompt));
    EXPECT_EQ(prompt.messages.back(), "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。");
    m.SetVipFlag(1);
    EXPECT_TRUE(m.RequireVip(&prompt));
    EXPECT_FALSE(m.CheckFundCount(12, &prompt));
    EXPECT_EQ(prompt.messages.back(), "VIP会员最多可以选择12个基金");
}

}  // namespace
