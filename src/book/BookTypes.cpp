#include "book/BookTypes.h"

#include "db/AdoDatabase.h"
#include "common/Format.h"

namespace vextal {

const char* TradeTypeName(int tradeType)
{
    static const char* const names[] = {"基金购买", "基金赎回", "取消",     "基金转换", "基金转出",
                                        "基金转入", "红利转投", "现金红利", "基金定投", "定投购买",
                                        "基金认购", "认购利息", "快速记帐", "基金分红", "基金拆分"};
    if (tradeType < 0 || tradeType >= static_cast<int>(sizeof names / sizeof names[0])) return "未知";
    return names[tradeType];
}

const char* BonusTypeName(int bonusType)
{
    switch (bonusType) {
    case kBonusCash: return "现金红利";
    case kBonusReinvest: return "红利转投";
    case kBonusMixed: return "混合分红";
    default: return "";
    }
}

std::string HoldingDisplayName(const std::string& fundName, int buyType)
{
    return buyType == kBackEnd ? fundName + "后端" : fundName;
}

std::string HoldingKey::Where() const
{
    return StrFormat(" AccountID=%d AND FundID='%s' AND BuyType=%d ", AccountID, SqlEscape(FundID).c_str(), BuyType);
}

FieldValueList HoldingKey::Bound() const
{
    return {{"AccountID", AccountID}, {"FundID", FundID}, {"BuyType", BuyType}};
}

}  // namespace vextal
