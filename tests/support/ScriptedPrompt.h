#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/Prompt.h"

namespace bv::test {

// A prompt that records every box it is asked to show and answers from a
// script, then with `otherwise` (Ok) once the script is used up. A hook sees
// each box first: what a box's own event loop would do meanwhile, or a box
// that fails. Shared by the tests, the fuzz targets and the benchmarks.
class ScriptedPrompt : public IPrompt {
public:
    struct Shown {
        std::string text;
        PromptButtons buttons;
        PromptIcon icon;
    };

    explicit ScriptedPrompt(std::deque<PromptResult> answers = {}) : m_answers(std::move(answers)) {}

    PromptResult show(const std::string& text, PromptButtons buttons, PromptIcon icon) override
    {
        ++count;
        if (keepShown)
            shown.push_back({text, buttons, icon});
        if (hook)
            hook(text);
        if (m_answers.empty())
            return otherwise;
        const PromptResult answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    void script(PromptResult answer) { m_answers.push_back(answer); }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const Shown& s : shown)
            out.push_back(s.text);
        return out;
    }

    std::vector<Shown> shown;
    std::function<void(const std::string&)> hook;
    PromptResult otherwise = PromptResult::Ok;
    // Off for long runs (soak, fuzzing, benchmarks): only counted.
    bool keepShown = true;
    long count = 0;

private:
    std::deque<PromptResult> m_answers;
};

} // namespace bv::test
