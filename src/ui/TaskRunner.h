#pragma once
// Runs the program's long network work on worker threads and its finishing
// step back on the GUI thread through a queued call (see app/BackgroundWork.h
// for what a piece of work may touch). Pieces run one after another in the
// order given (some write through a connection of their own, and a preview
// must not book beside the import that replaces it); a piece that only asks
// the service, such as the estimate, runs aside on a worker of its own, so it
// never holds up a download the user starts meanwhile. The window keeps
// painting and answering meanwhile; no nested event loop.
#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <thread>

#include "app/BackgroundWork.h"

namespace vextal {

class CTaskRunner : public QObject {
    Q_OBJECT

public:
    using CancelFlag = std::shared_ptr<std::atomic<bool>>;

    // The longest the runner's end waits for its workers.
    static constexpr int kStopWaitMs = 1000;

    explicit CTaskRunner(QObject* parent = nullptr);
    // Cancels everything (requests in flight end at once) and waits at most
    // kStopWaitMs for the running pieces; one still busy then is left to end
    // by itself, and its finishing step never runs.
    ~CTaskRunner() override;

    // Queues the work; the returned flag cancels just this piece. Its
    // requests give up as soon as the flag is set.
    CancelFlag Run(Work work);
    // At once on a worker of its own, beside the pieces of Run. For work that
    // writes nothing but through its finishing step.
    CancelFlag RunAside(Work work);
    WorkRunner AsRunner()
    {
        return [this](Work work) { Run(std::move(work)); };
    }
    // The piece stops at its next check and gives no finishing step, so
    // nothing of it is stored (a piece past its commit still finishes).
    static void Cancel(const CancelFlag& flag)
    {
        if (flag) *flag = true;
    }
    void CancelAll();
    // Calls `fn` from the event loop once nothing runs or waits.
    void WhenIdle(std::function<void()> fn);
    bool IsBusy() const { return !m_running.empty() || !m_queue.empty(); }

signals:
    // After the finishing step of a piece ran (or was dropped).
    void finished();
    // Nothing running and nothing queued.
    void idle();

private:
    struct Task {
        Work work;
        CancelFlag cancel;
    };
    struct Shared;
    struct Running {
        std::thread thread;
        CancelFlag cancel;
        std::shared_ptr<std::atomic<bool>> ended;
        bool aside = false;
    };
    void StartNext();
    void Start(Task task, bool aside);
    void Done(const Running* which, const WorkFinish& finish);

    std::deque<Task> m_queue;
    std::list<Running> m_running;
    std::shared_ptr<Shared> m_shared;
};

}  // namespace vextal
