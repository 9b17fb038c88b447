// The outside disclosure page and the favourite-folder records: untrusted
// text that must never be read past its end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/Format.h"
#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    vextal::OleDate date;
    double nav = 0, total = 0;
    vextal::ReadDisclosurePage(text, date, nav, total);
    vextal::ParseFundGroups(vextal::SplitText(text, '|'));
    return 0;
}
