#pragma once
#include <QPixmap>
#include <QWidget>
#include <functional>

namespace bv {

// The shutter's position as a small picture: open, closed, or unknown/error.
// Drawn off-screen and copied in one step.
class ShutterPicture : public QWidget {
    Q_OBJECT
public:
    // The resource numbers the pictures had; they name the three roles.
    enum Picture { kNone = 0, kOpen = 137, kClosed = 138, kUnknown = 139 };

    explicit ShutterPicture(QWidget* parent = nullptr);
    // Asked at every repaint which picture to show.
    void setPictureProvider(std::function<int()> provider) { m_provider = std::move(provider); }

    // State 3 (no shutter) shows nothing; the compact model's sensor cannot
    // tell an error from open, so it shows the open picture there.
    static int pictureFor(int shutterState, bool compactModel);
    static QPixmap draw(int picture, const QSize& size);
    int shownPicture() const { return m_provider ? m_provider() : kNone; }

    QSize sizeHint() const override { return {56, 56}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    std::function<int()> m_provider;
};

} // namespace bv
