#pragma once
// Completion of a self-update: the updater starts the new program under
// another file name; it ends the old instance and takes over the installed
// name by one rename(), so at every moment one whole program file carries it.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vextal {

inline constexpr const char* kInstalledProgramName = "Vextal";

// The running program is the installed one when its file name is "Vextal"
// (without regard to case).
bool IsInstalledProgramName(const std::string& fileName);

// Processes of the current user whose executable is the file `exePath`
// (also when that file has been deleted or replaced since they started).
std::vector<pid_t> FindUserProcessesOf(const std::string& exePath);

// Asks the process to end, then kills it if it is still there after
// `graceMs`. True when it is gone (a zombie counts as gone).
bool EndProcess(pid_t pid, int graceMs = 2000);

struct SelfUpdateResult {
    bool ran = false;        // the program was not the installed one
    int endedProcesses = 0;  // old instance ended
    bool replaced = false;   // the new file now carries the installed name
};

// When `programFileName` is not "Vextal": ends the current user's first
// process running programDir/Vextal and renames programDir/programFileName
// over programDir/Vextal (once more after `retryDelayMs` if the first rename
// fails). The old file is never deleted first: a crash at any point leaves
// either the old or the new program installed. Nothing happens when
// programDir/programFileName is not there. A failed rename is silent: the
// program goes on under its own name. `pausePoint` is called with "replace"
// right before the rename (tests kill the process there).
SelfUpdateResult CompleteSelfUpdate(const std::string& programDir, const std::string& programFileName,
                                    int retryDelayMs = 2000,
                                    const std::function<void(const char*)>& pausePoint = {});

}  // namespace vextal
