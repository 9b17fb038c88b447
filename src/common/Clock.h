#pragma once
// The one place the program reads the current time. It is the market's
// clock: Beijing wall time (Asia/Shanghai, UTC+8), whatever the machine's
// TZ, so trading-hour rules hold for a user anywhere. Tests and the
// service's --now option fix it; a fixed clock may also run on from its start.
#include "common/OleDate.h"

namespace vextal {

class Clock {
public:
    // Beijing wall time now (or the fixed time).
    static OleDate Now();
    // Fixes the clock at `at`; with running = true it advances in real time from there.
    static void Fix(const OleDate& at, bool running = false);
    static void Release();
    static bool IsFixed();
};

}  // namespace vextal
