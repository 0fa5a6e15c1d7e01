// What a network client or a command line hands over as text or bytes: a
// Modbus write request as the server reads it, and an ISO 8601 time.
#include "fuzz/FuzzSupport.h"

#include "data/PointExport.h"
#include "net/ModbusServer.h"

using namespace bv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Only a coil of the map, switched on, ever comes back.
    const int coil = modbus::coilSwitchedOn(data, static_cast<int>(size));
    BV_FUZZ_REQUIRE(coil >= -1 && coil < modbus::kCoilCount);

    const std::string text(reinterpret_cast<const char*>(data), size);
    int64_t ms = 0;
    // Years the output writes with four digits: what it took for a time reads back as one.
    if (parseIsoTime(text, ms) && ms >= 0 && ms < 253402300800000LL) {
        int64_t again = 0;
        BV_FUZZ_REQUIRE(parseIsoTime(isoTime(ms), again));
        BV_FUZZ_REQUIRE(again == ms);
    }
    return 0;
}
