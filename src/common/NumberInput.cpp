#include "common/NumberInput.h"

#include <cmath>

#include "common/Format.h"

namespace vextal {

namespace {

// A bound as a person writes it: 100, 0.01, 10000000000.
std::string BoundText(double v)
{
    std::string text = FormatFixed(v, 4);
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

}  // namespace

std::string NumberRefusal(double value, const NumberRule& rule)
{
    if (!std::isfinite(value)) return rule.name + "必须是数字";
    if (value < rule.min) return rule.name + "不能小于" + BoundText(rule.min);
    if (value > rule.max) return rule.name + "不能大于" + BoundText(rule.max);
    // The shortest decimal form of the figure has no more places than the
    // field keeps: 1000.555 is refused where the books keep cents.
    if (RoundDecimal(value, rule.decimals) != value)
        return rule.decimals == 0 ? rule.name + "必须是整数"
                                  : StrFormat("%s最多只能有%d位小数", rule.name.c_str(), rule.decimals);
    return std::string();
}

NumberReading ReadNumberInput(std::string_view text, const NumberRule& rule)
{
    NumberReading r;
    if (TrimText(std::string(text)).empty()) {
        if (!rule.blankIsZero) r.refusal = "请输入" + rule.name;
        else r.refusal = NumberRefusal(0, rule);
        return r;
    }
    const std::optional<double> v = ParseNumber(text);
    if (!v) {
        r.refusal = rule.name + "必须是数字";
        return r;
    }
    r.value = *v == 0 ? 0 : *v;  // "-0" is 0
    r.refusal = NumberRefusal(r.value, rule);
    return r;
}

}  // namespace vextal
