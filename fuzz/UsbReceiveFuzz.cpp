// Bytes from the USB driver through the USB link's receive path: the driver
// reads, the message cutter with its header and trailer checks, the records.
#include "fuzz/FuzzSupport.h"

#include "link/Frame.h"
#include "link/FrameCheck.h"
#include "link/ZelmorUSB.h"

using namespace bv;

namespace {

std::vector<uint8_t> message(FuzzedDataProvider& in, uint8_t kind)
{
    const auto body = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 2100));
    switch (kind % 3) {
    case 0: return buildUsbText(body.data(), body.size());
    case 1: return buildUsbTextWithTrailer(body.data(), body.size());
    default: {
        const uint8_t destination = in.ConsumeIntegral<uint8_t>();
        const uint8_t source = in.ConsumeIntegral<uint8_t>();
        return buildUsbRelay(destination, source, body.data(), body.size());
    }
    }
}

void checkRecord(const FRAME& f)
{
    // A relayed frame keeps the inner header's kind byte as it came.
    BV_FUZZ_REQUIRE(f.length() <= kRecordPayload);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietLogging();
    FuzzedDataProvider in(data, size);
    fuzz::FuzzD2xx d2xx;
    ZelmorUSBCRC link(d2xx);
    link.SetDescription("Zelmor USB", 2);
    BV_FUZZ_REQUIRE(link.Open() == 0);
    // Half the runs start after the adapter has shown it sends trailers.
    if (in.ConsumeBool()) {
        static const uint8_t ready[] = "Ready";
        d2xx.arrive(buildUsbTextWithTrailer(ready, 5));
        link.ReadUSBDriverBuffer();
        BV_FUZZ_REQUIRE(link.GetFrame() == 1);
        BV_FUZZ_REQUIRE(link.trailersSeen());
        link.takeFrame();
    }
    d2xx.readLimit = in.ConsumeIntegralInRange<size_t>(1, 5000);

    while (in.remaining_bytes() > 0) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        switch (op % 4) {
        case 0:
            d2xx.arrive(in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 2048)));
            break;
        case 1: {
            auto m = message(in, op >> 2);
            if (op & 0x20 && !m.empty()) {
                const size_t at = in.ConsumeIntegralInRange<size_t>(0, m.size() - 1);
                m[at] ^= in.ConsumeIntegral<uint8_t>();
            }
            d2xx.arrive(m);
            break;
        }
        case 2:
            d2xx.reportLimit = in.ConsumeIntegralInRange<size_t>(0, 10000);
            d2xx.readStatus = in.ConsumeIntegralInRange<uint8_t>(0, 8) == 0 ? kD2xxIoError : kD2xxOk;
            break;
        case 3:
            d2xx.readLimit = in.ConsumeIntegralInRange<size_t>(0, 5000);
            break;
        }
        link.ReadUSBDriverBuffer();
        BV_FUZZ_REQUIRE(link.ring().count() < ZelmorUSB::kRingSize);
        if (op & 0x40)
            continue;
        link.GetFrame();
        if (op & 0x80)
            continue;
        while (auto record = link.takeFrame())
            checkRecord(*record);
    }
    d2xx.readStatus = kD2xxOk;
    d2xx.reportLimit = SIZE_MAX;
    d2xx.readLimit = SIZE_MAX;
    for (int i = 0; i < 20 && (link.ring().count() > 0 || !d2xx.queue.empty()); ++i) {
        link.ReadUSBDriverBuffer();
        link.GetFrame();
        while (auto record = link.takeFrame())
            checkRecord(*record);
    }
    return 0;
}
