#include "ui/TaskRunner.h"

#include <QMetaObject>
#include <QTimer>

namespace vextal {

CTaskRunner::CTaskRunner(QObject* parent) : QObject(parent) {}

CTaskRunner::~CTaskRunner()
{
    CancelAll();
    // The worker's queued call to Done dies with this object.
    if (m_thread.joinable()) m_thread.join();
}

CTaskRunner::CancelFlag CTaskRunner::Run(Work work)
{
    auto flag = std::make_shared<std::atomic<bool>>(false);
    m_queue.push_back({std::move(work), flag});
    if (!m_running) StartNext();
    return flag;
}

void CTaskRunner::CancelAll()
{
    for (Task& t : m_queue) *t.cancel = true;
    m_queue.clear();
    if (m_current) *m_current = true;
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
    if (m_queue.empty()) {
        emit idle();
        return;
    }
    Task task = std::move(m_queue.front());
    m_queue.pop_front();
    m_running = true;
    m_current = task.cancel;
    m_thread = std::thread([this, task] {
        WorkFinish finish = task.work(*task.cancel);
        QMetaObject::invokeMethod(
            this, [this, finish, cancel = task.cancel] { Done(finish, cancel); }, Qt::QueuedConnection);
    });
}

void CTaskRunner::Done(const WorkFinish& finish, const CancelFlag&)
{
    if (m_thread.joinable()) m_thread.join();
    m_running = false;
    m_current.reset();
    // A piece that saw its cancel gave no step; one that had already written
    // gives its step, which must run so the caches match the database.
    if (finish) finish();
    emit finished();
    if (!m_running) StartNext();
}

}  // namespace vextal
