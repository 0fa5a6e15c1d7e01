#pragma once
#include <vector>

namespace bv {

class CDeviceDoc;

// What a store notification says: a new point is in the store (its newest).
inline constexpr int kDocNewPoint = 1;

// Receives the store notification (window message kMsgDocChanged).
class IDocListener {
public:
    virtual ~IDocListener() = default;
    virtual void OnDocChanged(int hint, CDeviceDoc* doc) = 0;
};

// Base of the measurement store: the views that want to hear about changes.
class CDeviceDoc {
public:
    CDeviceDoc() = default;
    virtual ~CDeviceDoc() = default;
    CDeviceDoc(const CDeviceDoc&) = delete;
    CDeviceDoc& operator=(const CDeviceDoc&) = delete;

    void AddListener(IDocListener* listener);  // once each
    void RemoveListener(IDocListener* listener);
    // Calls every listener synchronously; a listener removed meanwhile is skipped.
    void NotifyAll(int hint);
    int LastHint() const { return m_iLastHint; }
    const std::vector<IDocListener*>& Listeners() const { return m_listeners; }

private:
    std::vector<IDocListener*> m_listeners;
    int m_iLastHint = 0;
};

} // namespace bv
