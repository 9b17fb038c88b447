#include "ui/TaskRunner.h"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "net/HttpTransport.h"

namespace vextal {

// What a worker may still reach once the runner is gone: the runner only
// while `owner` is set, under the mutex.
struct CTaskRunner::Shared {
    std::mutex mutex;
    std::condition_variable ended;
    CTaskRunner* owner = nullptr;
};

CTaskRunner::CTaskRunner(QObject* parent) : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

CTaskRunner::~CTaskRunner()
{
    CancelAll();
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    auto allEnded = [this] {
        for (const Running& r : m_running)
            if (!*r.ended) return false;
        return true;
    };
    m_shared->ended.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), allEnded);
    // From here no worker calls back; their queued calls die with this object.
    m_shared->owner = nullptr;
    lock.unlock();
    for (Running& r : m_running) {
        if (*r.ended) r.thread.join();
        else r.thread.detach();  // ends by itself once its work returns
    }
}

CTaskRunner::CancelFlag CTaskRunner::Run(Work work)
{
    auto flag = std::make_shared<std::atomic<bool>>(false);
    m_queue.push_back({std::move(work), flag});
    StartNext();
    return flag;
}

CTaskRunner::CancelFlag CTaskRunner::RunAside(Work work)
{
    auto flag = std::make_shared<std::atomic<bool>>(false);
    Start({std::move(work), flag}, true);
    return flag;
}

void CTaskRunner::CancelAll()
{
    for (Task& t : m_queue) *t.cancel = true;
    m_queue.clear();
    for (Running& r : m_running) *r.cancel = true;
}

void CTaskRunner::WhenIdle(std::function<void()> fn)
{
    if (!IsBusy()) {
        QTimer::singleShot(0, this, std::move(fn));
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &CTaskRunner::idle, this, [connection, fn = std::move(fn)] {
        QObject::disconnect(*connection);
        fn();
    });
}

void CTaskRunner::StartNext()
{
    while (!m_queue.empty() && *m_queue.front().cancel) m_queue.pop_front();
    const bool inTurn = std::any_of(m_running.begin(), m_running.end(), [](const Running& r) { return !r.aside; });
    if (!inTurn && !m_queue.empty()) {
        Task task = std::move(m_queue.front());
        m_queue.pop_front();
        Start(std::move(task), false);
    }
    if (m_running.empty() && m_queue.empty()) emit idle();
}

void CTaskRunner::Start(Task task, bool aside)
{
    Running& r = m_running.emplace_back();
    r.cancel = task.cancel;
    r.ended = std::make_shared<std::atomic<bool>>(false);
    r.aside = aside;
    const Running* which = &r;
    r.thread = std::thread([shared = m_shared, task = std::move(task), ended = r.ended, which] {
        WorkFinish finish;
        {
            // Every request of the piece gives up once it is cancelled.
            CHttpCancelScope scope(task.cancel.get());
            finish = task.work(*task.cancel);
        }
        std::lock_guard<std::mutex> lock(shared->mutex);
        *ended = true;
        if (CTaskRunner* owner = shared->owner)
            QMetaObject::invokeMethod(
                owner, [owner, which, finish] { owner->Done(which, finish); }, Qt::QueuedConnection);
        shared->ended.notify_all();
    });
}

void CTaskRunner::Done(const Running* which, const WorkFinish& finish)
{
    for (auto it = m_running.begin(); it != m_running.end(); ++it) {
        if (&*it != which) continue;
        if (it->thread.joinable()) it->thread.join();
        m_running.erase(it);
        break;
    }
    // A piece that saw its cancel gave no step; one that had already written
    // gives its step, which must run so the caches match the database.
    if (finish) finish();
    emit finished();
    StartNext();
}

}  // namespace vextal
