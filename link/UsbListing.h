#pragma once
#include <memory>

#include "link/ZelmorUSB.h"
#include "platform/D2xx.h"

namespace bv {

// The word in a USB description that marks the maker's device (case-sensitive).
constexpr const char* kUsbDeviceWord = kZelmorDeviceWord;

// Lists the USB devices and creates the link: the first time (no link object
// existed before) for the first device whose description holds "Zelmor",
// otherwise, or when none holds it, for the first device listed (an empty
// description when there is none). nullptr when the device list cannot be read.
std::unique_ptr<ZelmorUSBCRC> ListAndCreateUsbLink(ID2xx& d2xx, bool linkExistedBefore);

} // namespace bv
