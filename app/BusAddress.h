#pragma once
#include <cstdint>
#include <string_view>

namespace bv {

// A bus address from its decimal text ("Device Address", the settings
// dialog): the leading number taken as one byte, so 300 gives 44. Text that
// starts with no number gives 0.
uint8_t addressByte(std::string_view text);

} // namespace bv
