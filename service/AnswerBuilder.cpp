#include "AnswerBuilder.h"

namespace vextal {

bool HasMarkupOrSeparator(const std::string& text)
{
    return text.find_first_of("<>&|") != std::string::npos;
}

}  // namespace vextal
