#pragma once
// One program instance per program directory: an advisory lock on a file
// beside the database. The lock ends with the process, however it ends.
#include <string>

namespace vextal {

inline constexpr const char* kInstanceLockFile = "Vextal.lock";
inline constexpr const char* kAlreadyRunningText = "Vextal已经在运行，同一个程序目录只能运行一个Vextal。";

class CInstanceLock {
public:
    CInstanceLock() = default;
    ~CInstanceLock() { Release(); }
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Takes the lock on `path`, waiting up to waitMs for another holder to
    // end. False when another instance keeps it.
    bool Acquire(const std::string& path, int waitMs = 0);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

}  // namespace vextal
