#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>
#include <vector>

class QSettings;

namespace bv {

// A dialog whose controls follow the window's size by anchor flags. The
// subclass builds its layouts from the flags (size policies and stretch
// factors), so what stretches is decided in one table, not by pixel
// arithmetic. The base adds the size grip and keeps the window size in the
// profile group named by the template id in lower-case hexadecimal.
class ResizableDialog : public QDialog {
    Q_OBJECT
public:
    enum Anchor : uint32_t {
        kMoveRight = 1,
        kMoveDown = 2,
        kStretchWidth = 4,   // wins over kMoveRight
        kStretchHeight = 8,  // wins over kMoveDown
    };

    explicit ResizableDialog(int templateId, QWidget* parent = nullptr);
    ~ResizableDialog() override;

    // Packed as flags in the high and the id in the low 16 bits; flags 0 add nothing.
    void AddAnchor(int controlId, uint32_t flags);
    const std::vector<uint32_t>& anchors() const { return m_anchors; }
    uint32_t anchorOf(int controlId) const;
    static bool stretchesWidth(uint32_t flags) { return flags & kStretchWidth; }
    static bool stretchesHeight(uint32_t flags) { return flags & kStretchHeight; }
    // Layout stretch factor of a control in one direction: 1 when it grows.
    int stretchOf(int controlId, Qt::Orientation direction) const;
    // Size policies of every child carrying a "controlId" from the anchor list:
    // Expanding where the control stretches, its natural size elsewhere.
    void ApplyAnchors();

    int templateId() const { return m_templateId; }
    QString profileGroup() const;  // "88" for template 136
    // Where the window size is kept: the application's QSettings unless set.
    void setProfileFile(const QString& iniPath) { m_profileFile = iniPath; }
    void setProfileEnabled(bool on) { m_profileEnabled = on; }
    // Size from the profile when both "CX" and "CY" are non-zero.
    bool RestoreWindowSize();
    // Writes the size when the window has been laid out at least once.
    void StoreWindowSize();
    bool layoutHappened() const { return m_layoutHappened; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QSettings* openProfile() const;

    int m_templateId;
    std::vector<uint32_t> m_anchors;
    QString m_profileFile;
    bool m_profileEnabled = true;
    bool m_sized = false;
    bool m_layoutHappened = false;
};

} // namespace bv
