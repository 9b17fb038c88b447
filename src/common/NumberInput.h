#pragma once
// The one reader of the numbers a user types into a field or a file row
// gives for one: each field has a name, a range and a number of decimals,
// and every refusal names the field ("购买金额必须是数字"). The dialogs, the
// CSV import, the options dialog and the settings file read through it; the
// booking engine checks its own figures with NumberRefusal.
#include <string>
#include <string_view>

namespace vextal {

// Money and share counts beyond this are typing mistakes, not holdings.
inline constexpr double kMaxFigure = 1e10;

struct NumberRule {
    std::string name;  // the field as the user sees it: "购买金额"
    double min = 0;
    double max = kMaxFigure;
    int decimals = 2;
    bool blankIsZero = false;  // an empty field means 0 ("为0则系统自动计算")
};

struct NumberReading {
    double value = 0;
    std::string refusal;  // empty: read
    bool ok() const { return refusal.empty(); }
};

// The whole text as one number of the field, blanks around it allowed. An
// empty text is "请输入<name>" unless it means 0; letters, "inf", "nan", a
// comma or a second number "<name>必须是数字"; then NumberRefusal.
NumberReading ReadNumberInput(std::string_view text, const NumberRule& rule);
// A figure against its field's rule: not finite, below the minimum, above
// the maximum, or more decimals than the field keeps; empty when it passes.
std::string NumberRefusal(double value, const NumberRule& rule);

}  // namespace vextal
