#pragma once
#include <iosfwd>

namespace bv {
class ID2xx;
class ISerialSystem;
}

namespace bv::cli {

// --list-ports: one line per serial port that opens ("serial COM1
// /dev/ttyS0") and per USB adapter ("usb <description> serial <number>
// id 0403:6001", marked "(the program's adapter)" when its description names
// the maker's device). Returns the exit status: 0, or 1 when the USB list
// cannot be read.
int listPorts(ISerialSystem& ports, ID2xx& usb, std::ostream& out, std::ostream& err);

} // namespace bv::cli
