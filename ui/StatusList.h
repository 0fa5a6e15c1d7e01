#pragma once
#include <QTreeWidget>
#include <string>

#include "ui/StatusLogic.h"

namespace bv {

// The status list: one column "Status", an icon per line (error, warning,
// information), the last 21 statuses with the newest in view.
class StatusList : public QTreeWidget {
    Q_OBJECT
public:
    explicit StatusList(QWidget* parent = nullptr);

    void AddErrorMessage(const std::string& text, int kind);
    int lineCount() const { return topLevelItemCount(); }
    QString lineText(int i) const;
    int lineKind(int i) const;

    static QIcon iconFor(int kind);
    // Asks for no more than its minimum: the controls above it come first,
    // the list takes what is left.
    QSize sizeHint() const override { return {QTreeWidget::sizeHint().width(), minimumHeight()}; }

private:
    status::StatusLines m_lines;
    // The newest line stays in view when the list shrinks (an alarm above
    // it) or a long line wraps, until the operator scrolls up to read.
    bool m_followNewest = true;
};

} // namespace bv
