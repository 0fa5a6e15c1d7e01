#include "ui/StatusLogic.h"

namespace bv::status {

void StatusLines::add(std::string text, int kind)
{
    m_droppedOne = false;
    if (m_lines.size() >= kMaxLines) {
        m_lines.pop_front();
        m_droppedOne = true;
    }
    m_lines.push_back({std::move(text), kind});
}

} // namespace bv::status
