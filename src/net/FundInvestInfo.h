#pragma once
// The FundInvestInfo record of the data service: one holding of a fund (or,
// in the calculation answer, one fund and its estimate). plindo-serve writes
// it and the program reads it through this one pair.
//
//   <FundInvestInfo><StockID>600000</StockID><StockName>浦发银行</StockName>
//   <InvestPercent>8.53</InvestPercent><Industry>银行</Industry></FundInvestInfo>
//
// The first three elements are the record as it always was; Industry follows
// them when the writer knows it, and an answer without it still reads (the
// industry is then empty). Texts are UTF-8 here and escaped for XML; the
// document around the elements is GBK on the wire.
#include <string>
#include <vector>

namespace vextal {

// One stock holding of a fund.
struct CFundInvestItem {
    std::string StockID;
    std::string StockName;
    float InvestPercent = 0;  // share of the fund's assets in percent
    std::string Industry = std::string();  // empty when the answer does not say
};

// The root element of the holdings and calculation answers.
inline constexpr const char* kFundInvestInfoRoot = "ArrayOfFundInvestInfo";

// One element, InvestPercent with "%0.2f"; no Industry element when `industry` is empty.
std::string WriteFundInvestInfo(const std::string& stockId, const std::string& stockName, double investPercent,
                                const std::string& industry = std::string());
// Appends every <FundInvestInfo> element of the answer to `items`, each read
// only inside its own element. True when the answer is a whole document (its
// root closed after the elements); a cut or foreign text gives false with
// whatever elements it held.
bool ReadFundInvestInfo(const std::string& answer, std::vector<CFundInvestItem>& items);

// Text inside an element or a quoted attribute, and back.
std::string XmlEscapeText(const std::string& text);
std::string XmlUnescapeText(const std::string& text);

}  // namespace vextal
