#include "market/FundValue.h"

#include "common/Format.h"
#include "net/CommandProtocol.h"

namespace vextal {

bool ReadWireFloat(const std::string& field, double& value)
{
    std::string text = TrimText(field);
    // The service leaves figures it does not have empty.
    if (text.empty()) {
        value = 0;
        return true;
    }
    double d = 0;
    if (!ReadLeadingDecimal(text, d)) return false;
    value = d;
    return true;
}

bool ReadWireDate(const std::string& field, OleDate& value)
{
    OleDate d;
    if (!OleDate::Parse(TrimText(field), d) || !d.IsValid()) return false;
    value = d;
    return true;
}

}  // namespace vextal
