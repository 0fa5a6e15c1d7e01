#include "ui/QtPrompt.h"

#include <QApplication>
#include <QMessageBox>

namespace bv {

PromptResult QtPrompt::show(const std::string& text, PromptButtons buttons, PromptIcon icon)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case PromptIcon::None: boxIcon = QMessageBox::NoIcon; break;
    case PromptIcon::Information: boxIcon = QMessageBox::Information; break;
    case PromptIcon::Exclamation: boxIcon = QMessageBox::Warning; break;
    case PromptIcon::Question: boxIcon = QMessageBox::Question; break;
    case PromptIcon::Error: boxIcon = QMessageBox::Critical; break;
    }
    const QMessageBox::StandardButtons shown =
        buttons == PromptButtons::OkCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok;
    QWidget* parent = m_parent ? m_parent.data() : QApplication::activeWindow();
    QMessageBox box(boxIcon, QStringLiteral("BrivaneSoftware"), QString::fromStdString(text), shown, parent);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? PromptResult::Ok : PromptResult::Cancel;
}

} // namespace bv
