#pragma once
// Runs the program's long network work on a worker thread, one piece after
// another, and its finishing step back on the GUI thread through a queued
// call (see app/BackgroundWork.h for what a piece of work may touch). The
// window keeps painting and answering meanwhile; no nested event loop.
#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

#include "app/BackgroundWork.h"

namespace vextal {

class CTaskRunner : public QObject {
    Q_OBJECT

public:
    using CancelFlag = std::shared_ptr<std::atomic<bool>>;

    explicit CTaskRunner(QObject* parent = nullptr);
    // Cancels everything and waits for the running piece (at most the rest
    // of one request).
    ~CTaskRunner() override;

    // Queues the work; the returned flag cancels just this piece.
    CancelFlag Run(Work work);
    WorkRunner AsRunner()
    {
        return [this](Work work) { Run(std::move(work)); };
    }
    // The piece stops before its next request and gives no finishing step,
    // so nothing of it is stored (a piece past its commit still finishes).
    static void Cancel(const CancelFlag& flag)
    {
        if (flag) *flag = true;
    }
    void CancelAll();
    // Calls `fn` from the event loop once nothing runs or waits.
    void WhenIdle(std::function<void()> fn);
    bool IsBusy() const { return m_running || !m_queue.empty(); }

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
    void StartNext();
    void Done(const WorkFinish& finish, const CancelFlag& cancel);

    std::deque<Task> m_queue;
    std::thread m_thread;
    bool m_running = false;
    CancelFlag m_current;
};

}  // namespace vextal
