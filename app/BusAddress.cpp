#include "app/BusAddress.h"

#include "platform/Profile.h"

namespace bv {

uint8_t addressByte(std::string_view text) { return static_cast<uint8_t>(leadingInt(text)); }

} // namespace bv
