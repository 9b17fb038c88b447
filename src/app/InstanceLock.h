#pragma once
// One program instance per program directory: an advisory lock on a file
// beside the database. The lock ends with the process, however it ends.
#include <string>

namespace vextal {

inline constexpr const char* kInstanceLockFile = "Vextal.lock";
inline constexpr const char* kAlreadyRunningText = "Vextal已经在运行，同一个程序目录只能运行一个Vextal。";
// The lock file could not be made: the folder (and the reason) named, and what to do.
std::string LockFileFailureText(const std::string& folder, int error);

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
    // After a failed Acquire: the error that kept the lock file from being
    // opened (0 when another instance holds the lock).
    int OpenError() const { return m_openError; }

private:
    int m_fd = -1;
    int m_openError = 0;
};

}  // namespace vextal
