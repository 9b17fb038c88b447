#pragma once
// The one place the program reads the current time. Tests and the service's
// --now option fix it; a fixed clock may also run on from its start.
#include "common/OleDate.h"

namespace vextal {

class Clock {
public:
    // Local time now (or the fixed time).
    static OleDate Now();
    // Fixes the clock at `at`; with running = true it advances in real time from there.
    static void Fix(const OleDate& at, bool running = false);
    static void Release();
    static bool IsFixed();
};

}  // namespace vextal
