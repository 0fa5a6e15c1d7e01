#include "control/DeviceDoc.h"

#include <algorithm>

namespace bv {

void CDeviceDoc::AddListener(IDocListener* listener)
{
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void CDeviceDoc::RemoveListener(IDocListener* listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void CDeviceDoc::NotifyAll(int hint)
{
    m_iLastHint = hint;
    const auto listeners = m_listeners;
    for (IDocListener* listener : listeners)
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->OnDocChanged(hint, this);
}

} // namespace bv
