#include "app/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace vextal {

bool CInstanceLock::Acquire(const std::string& path, int waitMs)
{
    Release();
    m_openError = 0;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        m_openError = errno;
        return false;
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= until) {
            close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_fd = fd;
    return true;
}

std::string LockFileFailureText(const std::string& folder, int error)
{
    return "Vextal无法在程序目录 " + folder + " 中创建文件 " + kInstanceLockFile + "（" + std::strerror(error) +
           "）。请确认当前用户对该目录有写权限（例如 chmod u+w \"" + folder +
           "\"），或用 --home 指定一个可写的目录后再启动。";
}

void CInstanceLock::Release()
{
    if (m_fd < 0) return;
    flock(m_fd, LOCK_UN);
    close(m_fd);
    m_fd = -1;
}

}  // namespace vextal
