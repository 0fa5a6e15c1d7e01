#include <gtest/gtest.h>

#include "app/BusAddress.h"
#include "res/StringTable.h"

namespace bv {
namespace {

TEST(StringTable, TextsByNumber)
{
    EXPECT_EQ(strings::text(61248),
              "The *.ini file cannot be written!\nCheck if this file is write-protected .");
    EXPECT_EQ(strings::text(61214), "Cannot open BV_BusPro%02lu.Dat.");
    EXPECT_EQ(strings::text(29), "Laser power detected\n-> Shutter cannot be closed !");
    EXPECT_EQ(strings::text(4000), "Peak ");
    EXPECT_EQ(strings::text(10003), "No filename entered!");
    EXPECT_EQ(strings::text(61303), "Thermalizing");
    EXPECT_EQ(strings::text(61239), "Trigger with S&H w\xC3\xA4hrend Pixelpause");
    for (unsigned id = 61225; id <= 61230; ++id)
        EXPECT_EQ(strings::text(id), "Noname") << id;
    for (unsigned id = 61221; id <= 61224; ++id)
        EXPECT_FALSE(strings::text(id).empty()) << id;
    EXPECT_FALSE(strings::has(61243));
    EXPECT_EQ(strings::text(61243), "");
}

TEST(StringTable, SerialLinkErrorsByKind)
{
    EXPECT_EQ(strings::commErrorText(0), "CSerial: Error !");
    EXPECT_EQ(strings::commErrorText(6), "CSerial: No Echo");
    EXPECT_EQ(strings::commErrorText(7), "No Port opened!\nPlease select 'Com-Port' first");
    EXPECT_EQ(strings::commErrorText(8), "CSerial: Error !");
    EXPECT_EQ(strings::commErrorText(9), "");
    EXPECT_EQ(strings::commErrorText(1000), "");
}

TEST(StringTable, OverridesReplaceAndAnEmptyTableRestores)
{
    strings::setOverrides({{4004, "Halt"}, {strings::kCommErrorBase + 6, "Kein Echo"}});
    EXPECT_EQ(strings::text(4004), "Halt");
    EXPECT_EQ(strings::commErrorText(6), "Kein Echo");
    EXPECT_EQ(strings::text(4003), "Start power measurement");
    strings::setOverrides({});
    EXPECT_EQ(strings::text(4004), "Stop");
    EXPECT_EQ(strings::commErrorText(6), "CSerial: No Echo");
}

TEST(BusAddress, DecimalTextCutToOneByte)
{
    EXPECT_EQ(addressByte("113"), 113);
    EXPECT_EQ(addressByte("300"), 44);
    EXPECT_EQ(addressByte(" 64 "), 64);
    EXPECT_EQ(addressByte("192abc"), 192);
    EXPECT_EQ(addressByte("-1"), 255);
    EXPECT_EQ(addressByte("abc"), 0);
    EXPECT_EQ(addressByte(""), 0);
}

} // namespace
} // namespace bv
