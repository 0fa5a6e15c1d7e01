// Bytes from the bus through the serial link's receive path: the ring, the
// frame cutter and the record pool, fed in reads of any size.
#include "fuzz/FuzzSupport.h"

#include "settings/ProgramSettings.h"
#include "link/CSerial.h"
#include "link/Frame.h"
#include "platform/Clock.h"

using namespace bv;

namespace {

void checkRecord(const FRAME& f)
{
    // Every record was a frame the check accepted: header, payload, check.
    const size_t L = f.length();
    BV_FUZZ_REQUIRE(L >= 1 && L <= kMaxSerialPayload);
    BV_FUZZ_REQUIRE(serialFrameAccepted(f.bytes(), L + kFrameHeaderSize + kFrameCheckSize));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietLogging();
    static ProgramSettings settings;
    FuzzedDataProvider in(data, size);
    ManualClock clock;
    test::ScriptedPrompt prompt;
    prompt.keepShown = false;
    fuzz::FuzzPorts ports;
    CSerial serial(ports, clock, prompt, settings);
    BV_FUZZ_REQUIRE(serial.bInitSerial("COM1") == 1);
    ports.line.readLimit = in.ConsumeIntegralInRange<size_t>(1, 9000);

    while (in.remaining_bytes() > 0) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        switch (op % 4) {
        case 0: {  // raw bytes arrive
            ports.line.arrive(in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 2048)));
            break;
        }
        case 1: {  // a whole frame arrives, maybe with a byte changed
            const uint8_t destination = in.ConsumeIntegral<uint8_t>();
            const uint8_t source = in.ConsumeIntegral<uint8_t>();
            const auto payload = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 1600));
            auto frame = buildSerialFrame(destination, source, payload.data(), payload.size());
            if (op & 0x10) {
                const size_t at = in.ConsumeIntegralInRange<size_t>(0, frame.size() - 1);
                frame[at] ^= in.ConsumeIntegral<uint8_t>();
            }
            if (op & 0x20)
                frame.resize(in.ConsumeIntegralInRange<size_t>(0, frame.size()));
            ports.line.arrive(frame);
            break;
        }
        case 2:
            ports.line.reportLimit = in.ConsumeIntegralInRange<size_t>(0, 10000);
            break;
        case 3:
            serial.Drain();
            break;
        }
        serial.ReadAvailable();
        BV_FUZZ_REQUIRE(serial.bytesInRing() < CSerial::kRingSize);
        if (op & 0x40)
            continue;  // no heartbeat this time: bytes pile up
        serial.ExtractFrames();
        auto& frames = serial.receivedFrames();
        BV_FUZZ_REQUIRE(frames.size() <= CSerial::kPoolBlocks);
        // The window sometimes lags and leaves records in the list.
        if (op & 0x80)
            continue;
        while (!frames.empty()) {
            checkRecord(*frames.front());
            frames.pop_front();
        }
    }
    serial.Drain();
    while (serial.ExtractFrames() > 0) {
        auto& frames = serial.receivedFrames();
        while (!frames.empty()) {
            checkRecord(*frames.front());
            frames.pop_front();
        }
    }
    return 0;
}
