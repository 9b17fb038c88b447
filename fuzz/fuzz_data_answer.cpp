// Hostile data service answers and quote pages: the readers must neither
// read past the text nor loop, whatever elements are missing or repeated.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/DataService.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<vextal::CFundInvestItem> holdings;
    vextal::ReadFundInvestInfo(text, holdings);
    if (holdings.size() > size) __builtin_trap();  // every item needs its own marker
    std::vector<vextal::CFundSplitItem> splits;
    vextal::ReadFundSplitInfo(text, splits);
    float change = 0;
    vextal::ReadStockQuote(text, change);
    return 0;
}
