#pragma once
#include <QPointer>
#include <QWidget>

#include "platform/Prompt.h"

namespace bv {

// Message boxes of the window program. A box runs a nested event loop; the
// scheduler's busy flag keeps the heartbeat out meanwhile.
class QtPrompt final : public IPrompt {
public:
    explicit QtPrompt(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    PromptResult show(const std::string& text, PromptButtons buttons, PromptIcon icon) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace bv
