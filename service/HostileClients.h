#pragma once
// Clients that try to wear plindo-serve down, for the load test and the
// benchmark: slow clients that send a header byte now and then (and come
// back when they are cut off), and clients that post a 4 MiB body of
// separators without a login, over and over: half of them with the empty
// login id before the body (the service can refuse those from their
// start), half after it, as the program orders its fields (those the
// service must read whole).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace vextal {

class CHostileClients {
public:
    CHostileClients(int port, int slowClients, int hostileBodies) : m_port(port)
    {
        if (slowClients > 0) m_threads.emplace_back([this, slowClients] { Slow(slowClients); });
        for (int i = 0; i < hostileBodies; ++i)
            m_threads.emplace_back([this, i] {
                // On one machine with the service the senders' own copying
                // would be measured too: they yield to everything else (an
                // attacker's processor is not the service's).
                setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
                Hostile(i % 2 == 1);
            });
    }
    ~CHostileClients() { Stop(); }

    void Stop()
    {
        m_stop = true;
        for (std::thread& t : m_threads)
            if (t.joinable()) t.join();
    }
    // Slow connections opened, hostile posts begun, and those whose body
    // the service let them send whole.
    long SlowConnections() const { return m_slowConnections; }
    long HostilePosts() const { return m_hostilePosts; }
    long HostileBodies() const { return m_hostileBodies; }

private:
    int Connect() const
    {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(m_port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
        if (fd >= 0) close(fd);
        return -1;
    }

    void Slow(int count)
    {
        const std::string head = "GET /stylemain.css HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(100000, 'a');
        std::vector<int> fds(static_cast<size_t>(count), -1);
        std::vector<size_t> sent(fds.size(), 0);
        while (!m_stop) {
            for (size_t i = 0; i < fds.size(); ++i) {
                if (fds[i] < 0) {
                    fds[i] = Connect();
                    sent[i] = 0;
                    if (fds[i] >= 0) ++m_slowConnections;
                }
                if (fds[i] >= 0 && send(fds[i], head.data() + sent[i] % head.size(), 1, MSG_NOSIGNAL) != 1) {
                    close(fds[i]);
                    fds[i] = -1;
                } else {
                    ++sent[i];
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }

    void Hostile(bool loginLast)
    {
        const std::string data(size_t(4) << 20, '|');
        const std::string body = loginLast ? "cmdtype=4&cmdid=6&data=" + data.substr(0, data.size() - 64) + "&loginid="
                                           : "cmdtype=4&cmdid=6&loginid=&data=" + data.substr(0, data.size() - 64);
        const std::string request = "POST /plindo/client/ClientService.asmx/SendCommand HTTP/1.1\r\nHost: x\r\n"
                                    "Connection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        while (!m_stop) {
            const int fd = Connect();
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            ++m_hostilePosts;
            timeval tv{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            size_t sent = 0;
            while (sent < request.size() && !m_stop) {
                const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
                if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) break;
                if (n > 0) sent += static_cast<size_t>(n);
            }
            if (sent == request.size()) ++m_hostileBodies;
            char buf[4096];
            while (!m_stop && recv(fd, buf, sizeof buf, 0) > 0) {
            }
            close(fd);
        }
    }

    int m_port;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_slowConnections{0}, m_hostilePosts{0}, m_hostileBodies{0};
    std::vector<std::thread> m_threads;
};

}  // namespace vextal
