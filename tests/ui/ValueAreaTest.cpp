#include <gtest/gtest.h>

#include "support/QtApp.h"

#include <QApplication>
#include <QImage>

#include "res/StringTable.h"
#include "ui/ValueArea.h"

namespace bv {
namespace {

int countPixels(const QImage& img, bool (*pred)(QColor))
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (pred(img.pixelColor(x, y)))
                ++n;
    return n;
}

bool isRed(QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
bool isBlue(QColor c) { return c.blue() > 200 && c.red() < 60 && c.green() < 60; }
bool isDark(QColor c) { return c.red() < 80 && c.green() < 80 && c.blue() < 80; }

ValueAreaState measuring()
{
    ValueAreaState s;
    s.digital.hasPoints = true;
    s.digital.current = 1503.4;
    s.digital.minimum = 1490.2;
    s.digital.maximum = 1510.9;
    s.digital.average = 1501.77;
    s.ec.average = 1501.77;
    s.ec.ecAverage = 1470;
    s.ec.ecPower = 1468;
    s.ec.ecVoltage = 230;
    s.ec.ecCurrent = 6.383;
    return s;
}

TEST(ValueArea, AlarmIsDrawnInRedAndReplacesTheValues)
{
    test::qtApp();
    ValueArea area;
    ValueAreaState s = measuring();
    area.setStateProvider([&] { return s; });
    const QImage normal = area.render(QSize(600, 300)).toImage();
    EXPECT_EQ(countPixels(normal, isRed), 0);
    EXPECT_GT(countPixels(normal, isDark), 500);  // big digits

    s.alarmShown = true;
    s.alarmText = strings::text(61292);
    const QImage alarm = area.render(QSize(600, 300)).toImage();
    EXPECT_GT(countPixels(alarm, isRed), 2000);
    // Even a small area keeps the alarm text inside it.
    const QImage small = area.render(QSize(220, 130)).toImage();
    EXPECT_GT(countPixels(small, isRed), 200);
    if (const char* dir = std::getenv("BRIVANE_SHOTS")) {
        normal.save(QString(dir) + "/value-normal.png");
        alarm.save(QString(dir) + "/value-alarm.png");
    }
}

TEST(ValueArea, CalibrationSplitShowsTheBluePanelAndRedDeviation)
{
    test::qtApp();
    ValueArea area;
    ValueAreaState s = measuring();
    s.calibrationLayout = true;
    area.setStateProvider([&] { return s; });
    const QImage split = area.render(QSize(800, 300)).toImage();
    EXPECT_GT(countPixels(split, isBlue), 500);
    // 2.16 % against 1.5: the deviation is red.
    EXPECT_GT(countPixels(split, isRed), 10);
    s.ec.limit = 5;
    EXPECT_EQ(countPixels(area.render(QSize(800, 300)).toImage(), isRed), 0);
    if (const char* dir = std::getenv("BRIVANE_SHOTS"))
        split.save(QString(dir) + "/value-ec.png");
}

} // namespace
} // namespace bv
