#pragma once
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "app/BrivaneCore.h"
#include "platform/Clock.h"
#include "settings/ProgramSettings.h"
#include "sim/SimWorld.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"

namespace bv::test {

// The program's core on the manual clock against a simulated world, with its
// settings folder and a scripted prompt: what the core-level tests start from.
struct SimCore {
    explicit SimCore(uint32_t startMs = 1000) : clock(startMs) {}

    // ini, when given, is the settings file the core opens.
    void startCore(sim::SimWorldConfig config = {}, const std::string& ini = "")
    {
        if (!ini.empty())
            std::ofstream(dir.file("BrivaneSoftware.ini")) << ini;
        world = std::make_unique<sim::SimWorld>(clock, config);
        core = std::make_unique<BrivaneCore>(
            settings, CorePlatform{clock, prompt, world->serialPorts(), world->usb(), nullptr});
        core->Startup(dir.path());
    }

    // The window's heartbeat, ms of it.
    void run(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += 100) {
            clock.advance(100);
            core->heartbeat();
        }
    }

    ManualClock clock;
    TempDir dir;
    ScriptedPrompt prompt;
    ProgramSettings settings;
    std::unique_ptr<sim::SimWorld> world;
    std::unique_ptr<BrivaneCore> core;
};

} // namespace bv::test
