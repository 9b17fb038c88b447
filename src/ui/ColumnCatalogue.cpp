#include "ui/ColumnCatalogue.h"

#include <algorithm>

#include "app/Settings.h"
#include "book/Income.h"
#include "common/Format.h"
#include "common/StringTable.h"

namespace vextal {

std::vector<ColumnSpec> ParseCatalogue(int catalogueId)
{
    std::vector<std::string> parts = SplitText(LoadResString(catalogueId), '|');
    std::vector<ColumnSpec> specs;
    for (size_t i = 0; i + 2 < parts.size(); i += 3)
        specs.push_back({parts[i], static_cast<int>(IntegerOr(parts[i + 1], 0)), static_cast<int>(IntegerOr(parts[i + 2], 0))});
    // The annualised return is offered after the numbered columns.
    if (catalogueId == 59175) specs.push_back({kAnnualRateTitle, 75, kAccountAnnualRateColumn});
    if (catalogueId == 59176) specs.push_back({kAnnualRateTitle, 75, kHoldingAnnualRateColumn});
    return specs;
}

bool FindColumnSpec(int catalogueId, int columnId, ColumnSpec& spec)
{
    for (const ColumnSpec& s : ParseCatalogue(catalogueId))
        if (s.id == columnId) {
            spec = s;
            return true;
        }
    return false;
}

std::vector<ColumnSpec> VisibleColumnSpecs(int catalogueId, const std::string& visible)
{
    // Keys not in the catalogue are dropped, and a repeated one shows once.
    std::vector<ColumnSpec> out;
    for (const std::string& piece : SplitText(visible, '|')) {
        ColumnSpec spec;
        if (piece.empty() || !FindColumnSpec(catalogueId, static_cast<int>(IntegerOr(piece, 0)), spec)) continue;
        if (std::none_of(out.begin(), out.end(), [&](const ColumnSpec& c) { return c.id == spec.id; })) out.push_back(spec);
    }
    return out;
}

bool IsSignedColumn(int catalogueId, int columnId)
{
    switch (catalogueId) {
    case 59175:
        return columnId == 11 || columnId == 12 || columnId == 13 || columnId == 14 || columnId == 15 ||
               columnId == 16 || columnId == 21 || columnId == 22 || columnId == kAccountAnnualRateColumn;
    case 59176:
        return columnId == 13 || columnId == 14 || columnId == 15 || columnId == 16 || columnId == 18 ||
               columnId == 20 || columnId == 21 || columnId == 27 || columnId == 28 || columnId == kHoldingAnnualRateColumn;
    case 59177: return columnId >= 18 && columnId <= 28;
    default: return false;
    }
}

double ShownNumber(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (c != ',') digits += c;
    digits = TrimText(digits);
    if (!digits.empty() && digits.back() == '%') digits.pop_back();
    return NumberOr(digits, 0);
}

int ShownDecimals(const std::string& text)
{
    const size_t dot = text.find('.');
    if (dot == std::string::npos) return 0;
    int n = 0;
    for (size_t i = dot + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++n;
    return n;
}

SignColour SignColourOf(double value, const std::string& shown)
{
    const double v = RoundDecimal(value, ShownDecimals(shown));
    if (v > 0) return SignColour::Red;
    if (v < 0) return SignColour::Green;
    return SignColour::Black;
}

SignColour SignColourOf(const std::string& text) { return SignColourOf(ShownNumber(text), text); }

const ConfigurableList& AccountListConfig()
{
    static const ConfigurableList c{59175, "AccountItem", "AccountList", ini::kDefaultAccountItem};
    return c;
}

const ConfigurableList& HoldingListConfig()
{
    static const ConfigurableList c{59176, "FundItem", "TradeList", ini::kDefaultFundItem};
    return c;
}

const ConfigurableList& NewValueListConfig()
{
    static const ConfigurableList c{59177, "NewValueItem", "NewFundValueList1", ini::kDefaultNewValueItem};
    return c;
}

}  // namespace vextal
