// The power meter's programs fed arbitrary answer frames and time messages in
// every state: identification, shutter (direct and through the PLC) and the
// measuring cycle in its three modes, over link mode 0 and link mode 2.
#include "fuzz/FuzzSupport.h"
#include "tests/support/FakeLink.h"

#include "settings/ProgramSettings.h"
#include "control/Scheduler.h"
#include "devices/PowerMeter.h"
#include "link/ZelmorUSB.h"
#include "platform/Clock.h"

using namespace bv;

namespace {

// Answer words and keys the programs look for: the input picks and joins them
// so that deep states are reached without guessing them byte by byte.
const char* const kWords[] = {
    "al ", "PL=", "Fl=", "Te=", "Td=", "shutter=", "O", "C", "U", "N", "E", "Ready ", "Typ ", "FlowMin ",
    "EC-Brivane", "CompactBrivane", "V 2.", "BusConverter", "Error", "asa", "asz", "schieber", "ai:",
    "Pel", "IRMS", "VRMS", "heater", "elcal_enabled", "info", " ", ";", "=", "-", ".", "1", "2", "3",
    "4", "0", "9", "1500.00", "   12.5", "nan", "inf", "1e308", "-0", "\xff",
};

std::string answerText(FuzzedDataProvider& in)
{
    std::string out;
    const size_t parts = in.ConsumeIntegralInRange<size_t>(0, 24);
    for (size_t i = 0; i < parts && in.remaining_bytes() > 0; ++i) {
        if (in.ConsumeBool())
            out += kWords[in.ConsumeIntegralInRange<size_t>(0, std::size(kWords) - 1)];
        else
            out += in.ConsumeRandomLengthString(16);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietLogging();
    FuzzedDataProvider in(data, size);
    ManualClock clock(in.ConsumeIntegral<uint32_t>());
    CScheduler scheduler(clock);
    test::ScriptedPrompt prompt;
    prompt.keepShown = false;
    ProgramSettings settings;
    settings.m_iDataTransferMode = in.ConsumeBool() ? 2 : 0;
    settings.m_bUseSps = in.ConsumeBool() ? 1 : 0;
    settings.m_iTargetAddress = 161;
    settings.m_iInput1 = in.ConsumeIntegralInRange<int>(-1, 17);
    settings.m_iInput2 = in.ConsumeIntegralInRange<int>(-1, 17);
    settings.m_iOutput1 = in.ConsumeIntegralInRange<int>(-1, 17);
    settings.m_iOutput2 = in.ConsumeIntegralInRange<int>(-1, 17);
    settings.m_iThermalizationTime = in.ConsumeIntegralInRange<int>(-2, 5);
    settings.m_iInterval = in.ConsumeIntegralInRange<int>(-10, 3000);

    test::FakeLink link;
    link.keepSent = false;
    fuzz::FuzzD2xx d2xx;
    CPowerMeter meter(scheduler, prompt, settings);
    meter.Init(64, 113, "Brivane", &link);
    meter.m_iCycleInterval = in.ConsumeIntegralInRange<int>(-10, 3000);
    meter.Store().SetPeriod(in.ConsumeIntegralInRange<int>(-5, 100));
    if (settings.m_iDataTransferMode == 2) {
        auto usb = std::make_unique<ZelmorUSBCRC>(d2xx);
        usb->SetDescription("Zelmor USB", 2);
        usb->Open();
        meter.SetUsbLink(std::move(usb));
        meter.SetLink(meter.UsbLink());
    }

    FRAME frame;
    while (in.remaining_bytes() > 0) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        switch (op % 8) {
        case 0:
            meter.StartIdentification();
            break;
        case 1:
            meter.OpenShutter();
            break;
        case 2:
            meter.CloseShutter();
            break;
        case 3: {
            meter.m_iShutterState = in.ConsumeIntegralInRange<int>(0, 4);
            prompt.otherwise = in.ConsumeBool() ? PromptResult::Cancel : PromptResult::Ok;
            const int mode = in.ConsumeIntegralInRange<int>(0, 2);
            const int run = in.ConsumeBool() ? 1 : 0;
            meter.StartMeasuring(static_cast<MeasuringMode>(mode), run);
            break;
        }
        case 4:
        case 5: {
            // An answer from the meter, the PLC or anyone, to us or elsewhere.
            static const uint8_t kSources[] = {113, 161, 0, 64};
            const uint8_t source = (op & 0x80) ? in.ConsumeIntegral<uint8_t>() : kSources[(op >> 3) & 3];
            const uint8_t destination = (op & 0x40) ? in.ConsumeIntegral<uint8_t>() : ((op & 0x20) ? 0 : 64);
            const std::string text = answerText(in);
            const uint8_t kind = settings.m_iDataTransferMode == 2 ? kTextFromAdapter : kBusFrame;
            fillRecord(frame, destination, source, kind, reinterpret_cast<const uint8_t*>(text.data()),
                       text.size());
            scheduler.Dispatch(BusMessage(frame));
            break;
        }
        case 6:
            clock.advance(in.ConsumeIntegralInRange<uint32_t>(0, 40000));
            scheduler.Dispatch(BusMessage::Time());
            break;
        case 7:
            link.sendResult = in.ConsumeBool() ? LinkResult::Ok : LinkResult::Failed;
            d2xx.writeStatus = ok(link.sendResult) ? kD2xxOk : kD2xxIoError;
            break;
        }
        BV_FUZZ_REQUIRE(!scheduler.IsDispatchBusy());
        BV_FUZZ_REQUIRE(meter.Store().GetCount() <= std::max(meter.Store().GetMaxCount(), 0));
    }
    return 0;
}
