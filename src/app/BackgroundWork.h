#pragma once
// Long network work off the window's thread, without Qt.
//
// A piece of work is a function that runs on a worker: it may ask the
// service and parse, but it touches no shared object and no database (the
// copies of CAdoDatabase share one SQLite connection, which must not be used
// from two threads at once). It returns the step that stores its result;
// that step runs back on the caller's thread, in one transaction, so the
// caches change at once and a window never sees half of a download. A
// cancelled piece of work stops before its next request and gives no step:
// nothing of it is stored. (A piece that writes through a connection of its
// own checks the cancel before its commit; once committed, its step runs
// so the caches match the database.)
#include <atomic>
#include <functional>

namespace vextal {

using WorkFinish = std::function<void()>;
using Work = std::function<WorkFinish(const std::atomic<bool>& cancelled)>;
// Runs the work somewhere else and its finishing step later on the caller's
// thread. An empty runner runs both in place (tests, the command line).
using WorkRunner = std::function<void(Work)>;

inline void RunWork(const WorkRunner& runner, Work work)
{
    if (runner) {
        runner(std::move(work));
        return;
    }
    std::atomic<bool> never{false};
    if (WorkFinish finish = work(never)) finish();
}

}  // namespace vextal
