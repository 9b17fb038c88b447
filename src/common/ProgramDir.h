#pragma once
// The program directory: where Vextal.mdb, Vextal.ini and Html/ live. It is
// the directory of the executable unless --home or VEXTAL_HOME replaces it.
#include <string>

namespace vextal {

// Always ends with "/".
std::string GetProgramDirectory();
void SetProgramDirectory(const std::string& dir);
// dir + name, unless name is already an absolute path.
std::string ProgramPath(const std::string& name);

}  // namespace vextal
