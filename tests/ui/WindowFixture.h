#pragma once
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>

#include "support/QtApp.h"
#include <QLabel>
#include <QLineEdit>
#include <QCoreApplication>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/BrivaneCore.h"
#include "settings/ProgramSettings.h"
#include "control/Scheduler.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "sim/SimWorld.h"
#include "support/SimCore.h"
#include "ui/CBrivaneMain.h"

namespace bv::test {

inline QApplication& windowApp() { return qtApp(); }

// The real window against the simulated installation on a manual clock; the
// tests run the heartbeat themselves.
class WindowFixture : public ::testing::Test, protected SimCore {
protected:
    WindowFixture() { windowApp(); }
    ~WindowFixture() override
    {
        window.reset();
        core.reset();
    }

    void writeIni(const std::string& content) { std::ofstream(dir.file("BrivaneSoftware.ini")) << content; }

    // Start-up of the core, then the window's initialisation.
    void start(sim::SimWorldConfig config = {})
    {
        startCore(config);
        world->meter().setAddress(core->device()->m_byDevice);
        if (beforeWindow)
            beforeWindow();
        CBrivaneMain::Options options;
        options.heartbeatTimer = false;
        window = std::make_unique<CBrivaneMain>(*core, prompt, world->serialPorts(), options);
        window->setProfileEnabled(false);
        window->OnInitDialog();
    }

    // Heartbeats of 100 ms, as the timer would run them.
    void run(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += 100) {
            clock.advance(100);
            window->OnTimerWeiter();
        }
    }
    template <class Done>
    bool runUntil(Done done, uint32_t limitMs)
    {
        for (uint32_t t = 0; t < limitMs; t += 100) {
            if (done())
                return true;
            clock.advance(100);
            window->OnTimerWeiter();
        }
        return done();
    }

    CPowerMeter& device() { return *core->device(); }
    CBrivaneDoc& store() { return core->device()->Store(); }
    QString text(int id) const
    {
        QWidget* w = window->control(id);
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            return b->text();
        if (auto* l = qobject_cast<QLabel*>(w))
            return l->text();
        if (auto* e = qobject_cast<QLineEdit*>(w))
            return e->text();
        return QString();
    }
    bool shown(int id) const { return window->control(id)->isVisibleTo(window.get()); }
    bool enabled(int id) const { return window->control(id)->isEnabled(); }

    std::unique_ptr<CBrivaneMain> window;
    // Runs between the core's start-up and the window's initialisation.
    std::function<void()> beforeWindow;
};

} // namespace bv::test
