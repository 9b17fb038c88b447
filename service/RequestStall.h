#pragma once
// What a slow or hung service does to its clients, on request: every answer
// delayed by --latency-ms, and the requests named by --hang never answered.
// Both end when the service stops, so a stop never waits on them.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace vextal {

class CRequestStall {
public:
    // `hang`: a path prefix ("/htmdata/") or a command ("2/1") each.
    CRequestStall(int latencyMs, std::vector<std::string> hang) : m_latencyMs(latencyMs), m_hang(std::move(hang)) {}

    // Before the answer to a request for `path`: the delay, or no answer
    // until the stop when the path is one that hangs.
    void BeforeAnswer(const std::string& path)
    {
        bool hangs = false;
        for (const std::string& h : m_hang) hangs = hangs || (!h.empty() && h[0] == '/' && path.rfind(h, 0) == 0);
        Wait(hangs);
    }
    // Before the answer to a command "type/id" (after BeforeAnswer of its path).
    void BeforeCommand(const std::string& command)
    {
        for (const std::string& h : m_hang)
            if (h == command) return Wait(true);
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        m_released.notify_all();
    }

private:
    void Wait(bool forever)
    {
        if (!forever && m_latencyMs <= 0) return;
        std::unique_lock<std::mutex> lock(m_mutex);
        auto stopped = [this] { return m_stopped; };
        if (forever) m_released.wait(lock, stopped);
        else m_released.wait_for(lock, std::chrono::milliseconds(m_latencyMs), stopped);
    }

    const int m_latencyMs;
    const std::vector<std::string> m_hang;
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_stopped = false;
};

}  // namespace vextal
