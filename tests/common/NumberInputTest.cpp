// The one reader of typed numbers: every way a field can be wrong has its
// own text naming the field.
#include <gtest/gtest.h>

#include "common/NumberInput.h"

using namespace vextal;

TEST(NumberInput, EachRefusalNamesTheField)
{
    const NumberRule amount{"购买金额", 0, kMaxFigure, 2, false};
    const NumberRule count{"购买份额", 0, kMaxFigure, 2, true};
    const NumberRule port{"端口", 1, 65535, 0, false};
    struct Case {
        const char* text;
        const NumberRule& rule;
        double value;
        const char* refusal;
    } cases[] = {
        {" 1000.50 ", amount, 1000.5, ""},
        {"-0", amount, 0, ""},
        {"1e3", amount, 1000, ""},
        {"abc", amount, 0, "购买金额必须是数字"},
        {"inf", amount, 0, "购买金额必须是数字"},
        {"nan", amount, 0, "购买金额必须是数字"},
        {"1,000.50", amount, 0, "购买金额必须是数字"},
        {"１００", amount, 0, "购买金额必须是数字"},  // full-width digits
        {"", amount, 0, "请输入购买金额"},
        {"  ", count, 0, ""},
        {"-50", count, 0, "购买份额不能小于0"},
        {"1e300", amount, 0, "购买金额不能大于10000000000"},
        {"10000000000.01", amount, 0, "购买金额不能大于10000000000"},
        {"1000.555", amount, 0, "购买金额最多只能有2位小数"},
        {"8080", port, 8080, ""},
        {"80.5", port, 0, "端口必须是整数"},
        {"0", port, 0, "端口不能小于1"},
        {"65536", port, 0, "端口不能大于65535"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const NumberReading r = ReadNumberInput(c.text, c.rule);
        EXPECT_EQ(r.refusal, c.refusal);
        if (r.ok()) {
            EXPECT_EQ(r.value, c.value);
        }
    }
    EXPECT_EQ(NumberRefusal(1.0 / 0.0, amount), "购买金额必须是数字");
    EXPECT_EQ(NumberRefusal(0.1 + 0.2, NumberRule{"费率", 0, 100, 2}), "费率最多只能有2位小数");
    EXPECT_EQ(NumberRefusal(1.15, NumberRule{"费率", 0, 100, 2}), "");
}
