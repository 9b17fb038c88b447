#pragma once
// Runs the program's long network work on worker threads and its finishing
// step back on the GUI thread through a queued call (see app/BackgroundWork.h
// for what a piece of work may touch). A few workers run side by side, so a
// long estimate never holds up a download the user starts meanwhile; pieces
// start in the order they were given. The window keeps painting and
// answering meanwhile; no nested event loop.
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

    static constexpr int kWorkers = 3;
    // The longest the runner's end waits for its workers.
    static constexpr int kStopWaitMs = 1000;

    explicit CTaskRunner(QObject* parent = nullptr, int workers = kWorkers);
    // Cancels everything (requests in flight end at once) and waits at most
    // kStopWaitMs for the running pieces; one still busy then is left to end
    // by itself, and its finishing step never runs.
    ~CTaskRunner() override;

    // Queues the work; the returned flag cancels just this piece. Its
    // requests give up as soon as the flag is set.
    CancelFlag Run(Work work);
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
    };
    void StartNext();
    void Done(const Running* which, const WorkFinish& finish);

    const int m_workers;
    std::deque<Task> m_queue;
    std::list<Running> m_running;
    std::shared_ptr<Shared> m_shared;
};

}  // namespace vextal
