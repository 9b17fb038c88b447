#pragma once
// Starts a plindo-serve process on an ephemeral loopback port and ends it
// when the object goes away, on every path out of the caller (tests,
// benchmarks). The child also dies with its parent (PR_SET_PDEATHSIG), so no
// server outlives a crashed test.
#include <fcntl.h>
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
        // The first line names the port.
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const std::string prefix = "listening on 127.0.0.1:";
        if (line.rfind(prefix, 0) == 0) m_port = std::atoi(line.c_str() + prefix.size());
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
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                m_exitStatus = status;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &m_exitStatus, 0);
        m_pid = -1;
        return m_exitStatus;
    }

private:
    std::string m_dir;
    pid_t m_pid = -1;
    int m_port = 0;
    int m_exitStatus = -1;
};

}  // namespace vextal
