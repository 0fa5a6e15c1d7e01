#pragma once
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <string>

#include "ui/ValueLayout.h"

namespace bv {

// What the value area shows, gathered at drawing time.
struct ValueAreaState {
    value::DigitalInput digital;
    value::EcInput ec;
    bool calibrationLayout = false;
    bool alarmShown = false;
    std::string alarmText;
    int thermalizationShown = -1;
    // Only a running measurement shows its readings as current: otherwise
    // they are greyed, and the notice line says why (stopped, no meter, the
    // calibration's verdict, no reading since ...).
    bool live = true;
    std::string notice;
    uint32_t noticeColour = 0;  // 0x00BBGGRR
};

// The large owner-drawn value panel. Drawn into a pixmap and copied in one
// step so that the one-second updates never flicker.
class ValueArea : public QWidget {
    Q_OBJECT
public:
    explicit ValueArea(QWidget* parent = nullptr);
    void setStateProvider(std::function<ValueAreaState()> provider) { m_provider = std::move(provider); }
    // Renders the panel as it would appear at the given size (screenshots, tests).
    QPixmap render(const QSize& size) const;
    int paintCount() const { return m_paints; }

    static QFont panelFont(int pixelHeight);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void draw(QPainter& p, const QRect& area, const ValueAreaState& s) const;
    void drawDigital(QPainter& p, const QRect& r, const ValueAreaState& s) const;
    void drawEc(QPainter& p, const QRect& r, const ValueAreaState& s) const;
    void drawErrorMessage(QPainter& p, const QRect& r, const ValueAreaState& s) const;
    void drawNotice(QPainter& p, const QRect& r, const ValueAreaState& s) const;

    std::function<ValueAreaState()> m_provider;
    int m_paints = 0;
};

} // namespace bv
