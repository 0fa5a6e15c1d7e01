#include "platform/Prompt.h"

#include <cstdio>

namespace bv {

PromptResult StderrPrompt::show(const std::string& text, PromptButtons buttons, PromptIcon)
{
    std::fprintf(stderr, "brivane: %s\n", text.c_str());
    return buttons == PromptButtons::Ok ? PromptResult::Ok : m_answer;
}

} // namespace bv
