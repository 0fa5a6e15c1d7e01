#include <gtest/gtest.h>

#include "ui/StatusLogic.h"

namespace bv::status {
namespace {

TEST(StatusLogic, ListKeepsTheLast21)
{
    StatusLines list;
    for (int i = 0; i < 21; ++i)
        list.add("line " + std::to_string(i), kInformation);
    EXPECT_EQ(list.lines().size(), 21u);
    EXPECT_FALSE(list.droppedOne());
    list.add("line 21", kError);
    EXPECT_EQ(list.lines().size(), 21u);
    EXPECT_TRUE(list.droppedOne());
    EXPECT_EQ(list.lines().front().text, "line 1");
    EXPECT_EQ(list.lines().back().kind, kError);
}

} // namespace
} // namespace bv::status
