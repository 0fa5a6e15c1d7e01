// The window while the USB adapter is unplugged and back: the status list
// tells the loss once and the return, no box stops the operator, and the
// measurement goes on by itself.
#include <gtest/gtest.h>

#include "ui/StatusList.h"
#include "ui/WindowFixture.h"

namespace bv::test {
namespace {

int linesStartingWith(const StatusList& list, const QString& prefix, int kind)
{
    int n = 0;
    for (int i = 0; i < list.lineCount(); ++i)
        n += list.lineText(i).startsWith(prefix) && list.lineKind(i) == kind ? 1 : 0;
    return n;
}

TEST_F(WindowFixture, UnpluggedAdapterIsShownInTheStatusListAndMeasuringResumes)
{
    start();
    run(4000);
    window->OnStartstop();
    run(3000);
    ASSERT_TRUE(device().m_Measuring.IsRunning());
    const size_t boxes = prompt.texts().size();
    StatusList& list = *window->statusList();

    world->usbAdapter()->setConnected(false);
    run(7000);
    EXPECT_EQ(linesStartingWith(list, "Link to the meter lost: USB adapter", 0), 1);
    EXPECT_TRUE(core->recovery()->recovering());
    EXPECT_EQ(prompt.texts().size(), boxes);

    world->usbAdapter()->setConnected(true);
    const int points = store().GetCount();
    EXPECT_TRUE(runUntil([&] { return store().GetCount() > points + 2; }, 10000));
    EXPECT_EQ(linesStartingWith(list, "Link to the meter restored: USB adapter", 2), 1);
    EXPECT_TRUE(device().m_Measuring.IsRunning());
    EXPECT_EQ(prompt.texts().size(), boxes);
}

} // namespace
} // namespace bv::test
