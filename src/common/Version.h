#pragma once
// Version texts of the program and its database ("3.25", "3.3", "10.0").
// They are decimal numbers: the part before the dot is a whole number, the
// part after it a decimal fraction, so "3.3" (3.30) is newer than "3.25" and
// "10.0" newer than "9.9". Whatever follows the digits ("3.25a", "3.25.1")
// decides only between otherwise equal versions, compared without regard to
// case. A text that does not start with a digit counts as 0.
#include <string>

namespace vextal {

// <0 when a is older than b, 0 when equal, >0 when a is newer.
int CompareVersions(const std::string& a, const std::string& b);

}  // namespace vextal
