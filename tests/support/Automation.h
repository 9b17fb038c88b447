#pragma once
// The program's automation socket (--automation), as a process test drives
// it: a request a line, its answer's first line, and for rows and tree the
// N lines that follow "ok N".
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/Format.h"
#include "support/ChildWait.h"

namespace vextal::test {

class AutomationClient {
public:
    // `limitMs`: for the connection, and for each line of an answer.
    AutomationClient(std::string socket, int limitMs) : m_socket(std::move(socket)), m_limitMs(limitMs) {}
    ~AutomationClient()
    {
        if (m_fd >= 0) close(m_fd);
    }

    // Tries until the program listens.
    bool Connect()
    {
        return WaitUntil(
            [this] {
                m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_un a{};
                a.sun_family = AF_UNIX;
                std::strncpy(a.sun_path, m_socket.c_str(), sizeof a.sun_path - 1);
                if (connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
                close(m_fd);
                m_fd = -1;
                return false;
            },
            m_limitMs, 50);
    }

    std::string Ask(const std::string& request, std::vector<std::string>* rows = nullptr)
    {
        const std::string line = request + "\n";
        if (write(m_fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "error write";
        std::string first = ReadLine();
        if (rows) {
            rows->clear();
            for (int n = first.rfind("ok ", 0) == 0 ? static_cast<int>(IntegerOr(first.substr(3), 0)) : 0; n > 0; --n)
                rows->push_back(ReadLine());
        }
        return first;
    }

private:
    std::string ReadLine()
    {
        std::string line;
        char c;
        pollfd p{m_fd, POLLIN, 0};
        while (poll(&p, 1, m_limitMs) > 0 && read(m_fd, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }

    std::string m_socket;
    int m_limitMs;
    int m_fd = -1;
};

}  // namespace vextal::test
