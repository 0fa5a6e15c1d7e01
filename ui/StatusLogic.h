#pragma once
#include <deque>
#include <string>

#include "devices/Alarms.h"

namespace bv::status {

// The status list: at most 21 lines, the oldest dropped first.
class StatusLines {
public:
    static constexpr size_t kMaxLines = 21;
    struct Line {
        std::string text;
        int kind;
    };
    void add(std::string text, int kind);
    const std::deque<Line>& lines() const { return m_lines; }
    bool droppedOne() const { return m_droppedOne; }

private:
    std::deque<Line> m_lines;
    bool m_droppedOne = false;
};

} // namespace bv::status
