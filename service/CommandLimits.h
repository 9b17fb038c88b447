#pragma once
// Every command the service answers, with what its `data` may carry: looked
// up from cmdtype and cmdid before anything of the payload is decoded, so an
// unknown command, a missing login or an oversized payload costs nothing
// but the scan of the form.
#include <cstddef>

namespace vextal {

struct CommandLimit {
    int cmdtype;
    int cmdid;
    bool session;         // needs a live login id in `loginid`
    size_t maxFields;     // "|"-separated fields of `data`; 0: not split (a bookkeeping text)
    size_t maxDataBytes;  // `data` after percent-decoding, in the wire code page
};

inline constexpr size_t kSmallData = 512;
// A whole bookkeeping text: the largest body the service reads.
inline constexpr size_t kBookDataBytes = size_t(4) << 20;
// Fund codes in one request.
inline constexpr size_t kMaxFundCodes = 2000;

inline constexpr CommandLimit kCommandLimits[] = {
    {1, 1, true, 1, kSmallData},    // fund companies
    {1, 11, true, 1, kSmallData},   // fund information
    {1, 13, true, 1, kSmallData},   // favourite folders
    {1, 21, true, 4, kSmallData},   // index history
    {2, 1, true, 1, kSmallData},    // latest values of a class
    {2, 2, true, 1, kSmallData},
    {2, 3, true, 1, kSmallData},
    {2, 4, true, 1, kSmallData},
    {2, 5, true, kMaxFundCodes, kMaxFundCodes * 8},  // latest values of selected funds
    {2, 11, true, 4, kSmallData},   // NAV history
    {2, 12, true, 5, kSmallData},   // period records
    {2, 13, true, 5, kSmallData},   // dividends
    {2, 21, true, 2, kSmallData},   // trade NAV
    {2, 22, true, 1, kSmallData},   // latest NAV
    {2, 23, true, 3, kSmallData},   // interval figures
    {2, 24, true, 1, kSmallData},   // real-time value
    {2, 25, true, kMaxFundCodes, kMaxFundCodes * 8},  // value cache
    {3, 1, false, 3, 1024},         // login
    {3, 2, false, 2, kSmallData},   // logout: the login id travels in `data`
    {3, 3, false, 4, 1024},         // registration
    {3, 4, true, 5, 1024},          // user update
    {4, 4, true, 1, kSmallData},    // bookkeeping download
    {4, 5, true, 1, kSmallData},    // plan list
    {4, 6, true, 0, kBookDataBytes},  // bookkeeping upload, replacing
    {4, 7, true, 0, kBookDataBytes},  // bookkeeping upload, beside
    {4, 15, true, 1, kSmallData},   // trade cancellation
    {4, 32, true, 12, kSmallData},  // plan save or delete
};

inline const CommandLimit* FindCommandLimit(int cmdtype, int cmdid)
{
    for (const CommandLimit& c : kCommandLimits)
        if (c.cmdtype == cmdtype && c.cmdid == cmdid) return &c;
    return nullptr;
}

}  // namespace vextal
