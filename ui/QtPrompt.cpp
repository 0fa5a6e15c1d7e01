#include "ui/QtPrompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "res/StringTable.h"

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
    QWidget* parent = m_parent ? m_parent.data() : QApplication::activeWindow();
    QMessageBox box(boxIcon, QStringLiteral("BrivaneSoftware"), QString::fromStdString(text), QMessageBox::NoButton,
                    parent);
    // The buttons' texts come from our table: Qt's own would stay English.
    auto add = [&](QMessageBox::StandardButton which, unsigned textId) {
        box.addButton(which)->setText(QString::fromStdString(strings::text(textId)));
    };
    QMessageBox::StandardButton yes = QMessageBox::Ok;
    switch (buttons) {
    case PromptButtons::Ok:
        add(QMessageBox::Ok, strings::kButtonOk);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case PromptButtons::OkCancel:
        add(QMessageBox::Ok, strings::kButtonOk);
        add(QMessageBox::Cancel, strings::kButtonCancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case PromptButtons::YesNo:
        yes = QMessageBox::Yes;
        add(QMessageBox::Yes, strings::kButtonYes);
        add(QMessageBox::No, strings::kButtonNo);
        // A stray Enter must not end a measurement.
        box.setDefaultButton(QMessageBox::No);
        break;
    }
    return box.exec() == yes ? PromptResult::Ok : PromptResult::Cancel;
}

} // namespace bv
