#pragma once
// Starts a plindo-serve process on an ephemeral loopback port and ends it
// when the object goes away, on every path out of the caller (tests,
// benchmarks). The child also dies with its parent (PR_SET_PDEATHSIG), so no
// server outlives a crashed test, and every wait on it has a deadline, so a
// stuck server never hangs its caller.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/Format.h"

namespace vextal {

class CServiceProcess {
public:
    // Runs `binary` --port 0 --data <scratch folder> followed by `args`.
    CServiceProcess(const std::string& binary, std::vector<std::string> args)
    {
        char tmpl[] = "/tmp/plindo-serve-XXXXXX";
        m_dir = mkdtemp(tmpl);
        std::vector<std::string> argv = {binary, "--port", "0", "--data", m_dir};
        argv.insert(argv.end(), args.begin(), args.end());
        int out[2];
        if (pipe(out) != 0) return;
        pid_t parent = getpid();
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            dup2(out[1], 1);
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            close(out[0]);
            close(out[1]);
            std::vector<char*> cargv;
            for (auto& a : argv) cargv.push_back(a.data());
            cargv.push_back(nullptr);
            execv(cargv[0], cargv.data());
            _exit(127);
        }
        close(out[1]);
        // The first line names the port; a server that says nothing within
        // the start-up limit is ended.
        std::string line;
        const auto until = SteadyClock::now() + std::chrono::milliseconds(kStartLimitMs);
        bool complete = false;
        while (!complete) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now()).count());
            pollfd pfd{out[0], POLLIN, 0};
            if (left <= 0 || poll(&pfd, 1, left) <= 0) break;
            char c;
            if (read(out[0], &c, 1) != 1) break;
            if (c == '\n') complete = true;
            else line += c;
        }
        close(out[0]);
        const std::string prefix = "listening on 127.0.0.1:";
        const long long port = complete && line.rfind(prefix, 0) == 0 ? IntegerOr(line.substr(prefix.size()), 0) : 0;
        if (port > 0 && port < 65536) m_port = static_cast<int>(port);
        else Kill();
    }

    ~CServiceProcess()
    {
        Stop();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    CServiceProcess(const CServiceProcess&) = delete;
    CServiceProcess& operator=(const CServiceProcess&) = delete;

    int Port() const { return m_port; }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }
    const std::string& DataDir() const { return m_dir; }
    pid_t Pid() const { return m_pid; }

    bool IsRunning()
    {
        if (m_pid <= 0) return false;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_exitStatus = status;
            return false;
        }
        return true;
    }

    // SIGTERM, then SIGKILL after 5 s. The exit status of a clean stop is 0.
    int Stop()
    {
        if (m_pid <= 0) return m_exitStatus;
        kill(m_pid, SIGTERM);
        if (!Reap(kStopLimitMs)) Kill();
        return m_exitStatus;
    }

private:
    using SteadyClock = std::chrono::steady_clock;
    static constexpr int kStartLimitMs = 30000;
    static constexpr int kStopLimitMs = 5000;

    // Waits at most `ms` for the child to end; true when it was reaped.
    bool Reap(int ms)
    {
        const auto until = SteadyClock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            int status = 0;
            pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid || r < 0) {
                m_exitStatus = r == m_pid ? status : -1;
                m_pid = -1;
                return true;
            }
            if (SteadyClock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void Kill()
    {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        if (!Reap(kStopLimitMs)) m_pid = -1;  // unkillable: give up on it rather than hang
    }

    std::string m_dir;
    pid_t m_pid = -1;
    int m_port = 0;
    int m_exitStatus = -1;
};

}  // namespace vextal
