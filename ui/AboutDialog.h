#pragma once
#include <QDialog>
#include <QPixmap>
#include <QWidget>

class QLabel;

namespace bv {

// The picture of the About box: bitmap 132, top-left aligned and clipped to
// the control, painted through an off-screen buffer so it does not flicker.
class AboutPicture : public QWidget {
    Q_OBJECT
public:
    enum { kId = 1078, kBitmap = 132 };
    explicit AboutPicture(QWidget* parent = nullptr);
    const QPixmap& bitmap() const { return m_bitmap; }
    QSize sizeHint() const override;
    // What one repaint puts on the screen, for the size the control has.
    QPixmap render() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_bitmap;
};

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    enum { kIdOk = 2 };
    static constexpr const char* kProgramName = "BrivaneSoftware";
    static constexpr const char* kVersion = "1.0";

    explicit AboutDialog(QWidget* parent = nullptr);

    // The program's own bitmap 132: a calorimetric meter emblem.
    static QPixmap emblem();
    static QString buildDate();
    AboutPicture* picture() const { return m_picture; }

private:
    AboutPicture* m_picture;
};

} // namespace bv
