#include "ui/ResizableDialog.h"

#include <QResizeEvent>
#include <QSettings>
#include <memory>

namespace bv {

ResizableDialog::ResizableDialog(int templateId, QWidget* parent) : QDialog(parent), m_templateId(templateId)
{
    setSizeGripEnabled(true);
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
}

ResizableDialog::~ResizableDialog()
{
    StoreWindowSize();
}

void ResizableDialog::AddAnchor(int controlId, uint32_t flags)
{
    if (flags == 0)
        return;
    m_anchors.push_back((flags << 16) | (static_cast<uint32_t>(controlId) & 0xFFFF));
}

uint32_t ResizableDialog::anchorOf(int controlId) const
{
    for (uint32_t packed : m_anchors)
        if ((packed & 0xFFFF) == (static_cast<uint32_t>(controlId) & 0xFFFF))
            return packed >> 16;
    return 0;
}

int ResizableDialog::stretchOf(int controlId, Qt::Orientation direction) const
{
    const uint32_t flags = anchorOf(controlId);
    return (direction == Qt::Horizontal ? stretchesWidth(flags) : stretchesHeight(flags)) ? 1 : 0;
}

void ResizableDialog::ApplyAnchors()
{
    for (QWidget* w : findChildren<QWidget*>()) {
        const QVariant id = w->property("controlId");
        if (!id.isValid())
            continue;
        const uint32_t flags = anchorOf(id.toInt());
        if (flags == 0)
            continue;
        QSizePolicy policy = w->sizePolicy();
        auto fix = [](QSizePolicy::Policy p) {
            // A control that does not stretch keeps its natural size and
            // leaves the space to the ones that do.
            return (p & QSizePolicy::ExpandFlag) ? QSizePolicy::Preferred : p;
        };
        policy.setHorizontalPolicy(stretchesWidth(flags) ? QSizePolicy::Expanding : fix(policy.horizontalPolicy()));
        policy.setVerticalPolicy(stretchesHeight(flags) ? QSizePolicy::Expanding : fix(policy.verticalPolicy()));
        policy.setHorizontalStretch(stretchesWidth(flags) ? 1 : 0);
        policy.setVerticalStretch(stretchesHeight(flags) ? 1 : 0);
        w->setSizePolicy(policy);
    }
}

QString ResizableDialog::profileGroup() const { return QString::number(m_templateId, 16); }

QSettings* ResizableDialog::openProfile() const
{
    if (!m_profileFile.isEmpty())
        return new QSettings(m_profileFile, QSettings::IniFormat);
    return new QSettings();
}

bool ResizableDialog::RestoreWindowSize()
{
    if (!m_profileEnabled)
        return false;
    std::unique_ptr<QSettings> profile(openProfile());
    profile->beginGroup(profileGroup());
    const int cx = profile->value("CX", 0).toInt();
    const int cy = profile->value("CY", 0).toInt();
    profile->endGroup();
    if (cx == 0 || cy == 0)
        return false;
    resize(cx, cy);
    return true;
}

void ResizableDialog::StoreWindowSize()
{
    if (!m_profileEnabled || !m_layoutHappened)
        return;
    std::unique_ptr<QSettings> profile(openProfile());
    profile->beginGroup(profileGroup());
    profile->setValue("CX", width());
    profile->setValue("CY", height());
    profile->endGroup();
    profile->sync();
}

void ResizableDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (isMinimized())
        return;
    // The first size is the one the window was made with; only later ones
    // are the operator's.
    if (m_sized)
        m_layoutHappened = true;
    m_sized = true;
}

} // namespace bv
