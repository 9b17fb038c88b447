#pragma once
// How the core asks the user something. The UI answers with message boxes,
// tests with a recorder.
#include <string>

namespace vextal {

enum class PromptIcon { Information, Warning, Error, Question };

class IUserPrompt {
public:
    virtual ~IUserPrompt() = default;
    virtual void ShowMessage(const std::string& text, PromptIcon icon) = 0;
    virtual bool AskYesNo(const std::string& text) = 0;
};

}  // namespace vextal
