#pragma once
// A user prompt that records what the program shows and asks, and answers
// every question with `answer`.
#include <string>
#include <vector>

#include "common/UserPrompt.h"

namespace vextal::test {

struct RecordingPrompt : IUserPrompt {
    std::vector<std::string> messages;
    std::vector<PromptIcon> icons;
    std::vector<std::string> questions;
    bool answer = false;
    void ShowMessage(const std::string& text, PromptIcon icon) override
    {
        messages.push_back(text);
        icons.push_back(icon);
    }
    bool AskYesNo(const std::string& text) override
    {
        questions.push_back(text);
        return answer;
    }
};

}  // namespace vextal::test
