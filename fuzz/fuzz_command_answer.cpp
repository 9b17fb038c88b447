// Hostile command answers and field lists: the parsers must neither read past
// the text nor loop.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "net/TagScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    int ret;
    std::string msg, msg2, id;
    vextal::ParseCommandAnswer(text, ret, msg);
    vextal::ParseCommandAnswerEx(text, ret, msg, msg2);
    vextal::ParseResultAnswer(text, ret, msg);
    vextal::ParseServerIdAnswer(text, ret, id);

    std::vector<std::string> fields;
    vextal::SplitFields(text, "|", fields);
    vextal::SplitFields(text, ",", fields);
    // The first byte picks a separator of one to three bytes from the text itself.
    if (size > 1) {
        size_t n = 1 + data[0] % 3;
        if (n < size) vextal::SplitFields(text.substr(n), text.substr(1, n), fields);
    }
    vextal::NumberOr(text, 0);

    vextal::CTagScanner scan("<Msg>", "</Msg>");
    scan.Limit = static_cast<long>(size / 2);
    for (int i = 0; i < 4; ++i) {
        scan.SetTags("<Msg>", "</Msg>");
        scan.Next(text, msg);
    }
    return 0;
}
