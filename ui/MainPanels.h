#pragma once
#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QWidget>
#include <exception>
#include <string>

#include "platform/Logging.h"

namespace bv {

// What the panels of the operator window may ask of the window itself: the
// window keeps the radio groups of all panels in step and decides which other
// panels follow a change.
class IPanelHost {
public:
    virtual ~IPanelHost() = default;
    // Radio members of every panel and their buttons (true: read the buttons).
    virtual void UpdateData(bool fromControls) = 0;
    virtual void UpdateValueArea() = 0;
    virtual void MyUpdate(int parts) = 0;
    // The calibration shows the average.
    virtual void ShowAverageMode() = 0;
    // No valid reading for too long while measuring: what is shown is old.
    virtual bool ReadingsStale() const = 0;
    // A line in the status list (status::Kind).
    virtual void ReportToOperator(const std::string& text, int kind) = 0;
};

namespace panel {

inline constexpr const char* kTag = "BV_main";

// The panels log as the window they belong to.
inline const log::Logger& logger()
{
    static const log::Logger instance("CBrivaneMain");
    return instance;
}

// Every handler runs its body here: what escapes is logged with the
// handler's name and the window goes on.
template <class Body>
void guarded(const char* name, Body&& body)
{
    try {
        body();
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, name << " " << e.what());
    } catch (...) {
        BV_LOG_ERROR(logger(), kTag, name << " unknown error");
    }
}

inline QString qs(const std::string& s) { return QString::fromStdString(s); }

inline void tag(QWidget* w, int id, const char* name)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setProperty("controlId", id);
}

inline QPushButton* makeButton(const QString& text, int id, const char* name)
{
    auto* b = new QPushButton(text);
    b->setAutoDefault(false);
    tag(b, id, name);
    return b;
}

inline QRadioButton* makeRadio(const QString& text, int id, const char* name)
{
    auto* r = new QRadioButton(text);
    tag(r, id, name);
    return r;
}

inline QLabel* makeLabel(const QString& text, int id, const char* name)
{
    auto* l = new QLabel(text);
    tag(l, id, name);
    return l;
}

inline void setRadio(QButtonGroup* group, int value)
{
    QAbstractButton* target = group->button(value);
    if (target) {
        target->setChecked(true);
        return;
    }
    // A value that names no button leaves the group without a selection.
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons())
        b->setChecked(false);
    group->setExclusive(true);
}

inline int readRadio(const QButtonGroup* group) { return group->checkedId(); }

} // namespace panel
} // namespace bv
