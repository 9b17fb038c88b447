#pragma once
// A program started by a process test, its output kept in a file the test
// reads; it dies with the test and is waited for with a deadline (ChildWait.h).
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/ChildWait.h"
#include "support/Files.h"

namespace vextal::test {

// Runs argv[0] with `env` added, its standard output and error appended to
// `log`. It inherits every descriptor not marked close-on-exec.
inline pid_t SpawnLogged(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& log)
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(out, 1);
        dup2(out, 2);
        for (const std::string& e : env) putenv(strdup(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

}  // namespace vextal::test
