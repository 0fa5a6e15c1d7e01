#pragma once

namespace bv {

// The program-wide link mode, as "Data_Transfer_Mode" holds it.
enum LinkMode : int {
    kLinkNone = -1,
    kLinkSerial = 0,
    kLinkUsb = 2,
};

} // namespace bv
