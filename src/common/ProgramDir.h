#pragma once
// The program directory (the program's home): where Vextal.mdb, Vextal.ini
// and Html/ live. --home or VEXTAL_HOME names it; otherwise a program run
// from its build or unpacked folder keeps its files beside the executable,
// and an installed program, which may not write there, keeps them in
// $XDG_DATA_HOME/Vextal (~/.local/share/Vextal).
#include <string>

namespace vextal {

// The desktop entry an installation puts in <prefix>/share/applications.
inline constexpr const char* kDesktopFileName = "example.plindo.Vextal.desktop";

// Installed: the executable sits in <prefix>/bin beside an installed
// <prefix>/share/applications/<desktop entry> (a build or unpacked folder
// has none), or its folder is not writable at all.
bool IsInstalledProgramFolder(const std::string& exeDir);

enum class HomeKind { Given, ProgramFolder, UserData };
struct HomeChoice {
    std::string dir;  // ends with "/"
    HomeKind kind = HomeKind::ProgramFolder;
};
// The rule itself. `given`: --home or VEXTAL_HOME, empty when neither.
// `xdgDataHome` and `userHome` are the environment's values (null: unset).
HomeChoice ChooseHome(const std::string& given, const std::string& exeDir, bool installed,
                      const char* xdgDataHome, const char* userHome);

// Always ends with "/". Unless set, the rule above for this process.
std::string GetProgramDirectory();
void SetProgramDirectory(const std::string& dir);
// True when GetProgramDirectory chose the user-data folder by the rule.
bool ProgramDirectoryIsUserData();
// dir + name, unless name is already an absolute path.
std::string ProgramPath(const std::string& name);

// Makes the home ready before anything in it is opened: the folder is
// created readable by its owner only (0700), and so is the user-data folder
// when it already exists; the program's files already there become 0600; and
// the process umask becomes 077, so every file the program creates later
// (database, its journal, settings, page files) is its owner's alone.
// False with `error` when the folder cannot be made.
bool PrepareProgramDirectory(const std::string& dir, bool userData, std::string& error);

}  // namespace vextal
