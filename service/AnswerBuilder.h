#pragma once
// The answers of the command service are written by WriteCommandAnswer of
// the command protocol, the one writer that the program's readers match.
#include <string>

#include "net/CommandProtocol.h"

namespace vextal {

// Texts that end up inside an element must not hold markup or field
// separators: user input is refused when it does.
bool HasMarkupOrSeparator(const std::string& text);

}  // namespace vextal
