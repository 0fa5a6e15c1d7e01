#pragma once
#include <string>

namespace bv {

// YesNo answers Ok for yes and Cancel for no.
enum class PromptButtons { Ok, OkCancel, YesNo };
enum class PromptIcon { None, Information, Exclamation, Question, Error };
enum class PromptResult { Ok, Cancel };

// Message boxes. The window shows a real one, the CLI writes to stderr,
// tests script the answers.
class IPrompt {
public:
    virtual ~IPrompt() = default;
    virtual PromptResult show(const std::string& text, PromptButtons buttons = PromptButtons::Ok,
                              PromptIcon icon = PromptIcon::None) = 0;
};

// Writes the text to stderr and gives a fixed answer (headless runs).
class StderrPrompt final : public IPrompt {
public:
    explicit StderrPrompt(PromptResult answer = PromptResult::Ok) : m_answer(answer) {}
    PromptResult show(const std::string& text, PromptButtons buttons, PromptIcon icon) override;

private:
    PromptResult m_answer;
};

} // namespace bv
