// Statements reach the translator with texts of the user and the service
// inside them; whatever the input, translation must neither crash nor read
// past it, and lifting literals must keep the statement's text otherwise.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "db/JetSql.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string sql(reinterpret_cast<const char*>(data), size);
    std::string plain = vextal::TranslateJetSql(sql);
    std::vector<vextal::SqlParam> params;
    std::string lifted = vextal::TranslateJetSql(sql, params);
    // Every "?" added stands for exactly one lifted value.
    size_t marksPlain = 0, marksLifted = 0;
    for (char c : plain) marksPlain += c == '?';
    for (char c : lifted) marksLifted += c == '?';
    if (marksLifted < params.size() || marksLifted - params.size() > marksPlain) __builtin_trap();
    return 0;
}
