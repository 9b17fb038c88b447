#pragma once
// Bounded waits: for a condition, and for a child process (a child still
// running at the deadline is killed with SIGKILL and reaped), so a stuck
// child or worker fails its test instead of hanging the suite.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

namespace vextal::test {

// Polls `done` every `stepMs`: true once it holds, false after `limitMs`.
template <class F>
bool WaitUntil(F done, int limitMs = 15000, int stepMs = 10)
{
    for (int waited = 0; !done(); waited += stepMs) {
        if (waited >= limitMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return true;
}

// True when the child ended by itself within `timeoutMs`; `status` is its
// wait status either way.
inline bool WaitChildFor(pid_t pid, int& status, int timeoutMs = 30000)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0) return false;  // not a child of ours (any more)
        if (std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
}

}  // namespace vextal::test
