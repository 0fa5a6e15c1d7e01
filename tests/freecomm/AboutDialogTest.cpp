#include <gtest/gtest.h>

#include "support/QtApp.h"

#include <QApplication>
#include <QDate>
#include <QLabel>
#include <QPushButton>

#include "ui/AboutDialog.h"

namespace bv {
namespace {

TEST(AboutDialog, TextsAndButton)
{
    test::qtApp();
    AboutDialog d;
    EXPECT_TRUE(d.findChild<QLabel*>("programNameLabel")->text().contains("BrivaneSoftware"));
    EXPECT_EQ(d.findChild<QLabel*>("createdLabel")->text(), "Created :");
    const QDate built = QDate::fromString(d.findChild<QLabel*>("buildDateLabel")->text(), Qt::ISODate);
    EXPECT_TRUE(built.isValid());
    EXPECT_LE(built, QDate::currentDate());
    EXPECT_FALSE(d.findChild<QLabel*>("systemsLabel")->text().isEmpty());
    auto* ok = d.findChild<QPushButton*>("okButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->property("controlId").toInt(), 2);
    EXPECT_EQ(d.picture()->property("controlId").toInt(), 1078);
}

TEST(AboutDialog, PictureIsTopLeftAndClippedToTheControl)
{
    test::qtApp();
    AboutPicture picture;
    const QImage bitmap = picture.bitmap().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(bitmap.isNull());

    picture.resize(40, 30);
    const QImage small = picture.render().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(small.size(), QSize(40, 30));
    // The beam at the top centre of the emblem is inside the control; its
    // pixel lands where it is in the bitmap.
    EXPECT_EQ(small.pixel(32, 5), bitmap.pixel(32, 5));

    picture.resize(100, 80);
    const QImage large = picture.render().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(large.pixel(32, 5), bitmap.pixel(32, 5));
    EXPECT_EQ(large.pixel(90, 70), QColor(picture.palette().color(QPalette::Window)).rgba());
}

} // namespace
} // namespace bv
