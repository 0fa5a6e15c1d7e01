#include <gtest/gtest.h>

#include <vector>

#include "cli/CliOptions.h"
#include "data/PointExport.h"

namespace bv::cli {
namespace {

ParseResult run(std::vector<const char*> args)
{
    args.insert(args.begin(), "brivane-cli");
    return parse(static_cast<int>(args.size()), args.data());
}

TEST(CliOptions, ReadsEveryOption)
{
    auto r = run({"--settings-dir", "/tmp/x", "--simulate=compact", "--address", "300"});
    EXPECT_FALSE(r.error.empty());  // addresses are one byte
    r = run({"--settings-dir", "/tmp/x", "--simulate=compact", "--address=44", "--parity", "off",
             "--interval", "2000", "--count", "5", "--protocol", "p.txt", "--format", "json",
             "--open-shutter"});
    ASSERT_TRUE(r.error.empty()) << r.error;
    const Options& o = r.options;
    EXPECT_EQ(o.settingsDir, "/tmp/x");
    EXPECT_EQ(o.link, LinkChoice::Simulate);
    EXPECT_EQ(o.simulateModel, "compact");
    EXPECT_EQ(*o.address, 44);
    EXPECT_FALSE(*o.parity);
    EXPECT_EQ(*o.interval, 2000);
    EXPECT_EQ(o.count, 5);
    EXPECT_EQ(o.protocolFile, "p.txt");
    EXPECT_EQ(o.format, Format::Json);
    EXPECT_EQ(o.shutter, ShutterMove::Open);

    r = run({"--simulate"});
    EXPECT_EQ(r.options.simulateModel, "ec");
    r = run({"--port", "/dev/pts/3", "--single"});
    EXPECT_EQ(r.options.port, "/dev/pts/3");
    EXPECT_TRUE(r.options.single);
}

TEST(CliOptions, UsageErrors)
{
    for (auto args : std::vector<std::vector<const char*>>{
             {"--bogus"},
             {"--count"},
             {"--count", "0"},
             {"--count", "3x"},
             {"--format", "xml"},
             {"--simulate=big"},
             {"--port", "COM1", "--usb"},
             {"--single", "--calibrate"},
             {"--count", "2", "--single"},
             {"--open-shutter", "--close-shutter"},
             {"--parity", "yes"},
             {"--interval", "0"},
         }) {
        EXPECT_FALSE(run(args).error.empty()) << args[0];
    }
    EXPECT_TRUE(run({"--help"}).options.help);
    EXPECT_NE(usage().find("--simulate"), std::string::npos);
}

TEST(CliOptions, JsonLines)
{
    MeasurePoint p;
    p.valid = 1;
    p.power = 1500.25;
    p.flow = 4.5;
    p.te = 21.0;
    p.td = 4.75;
    p.timeMs = 1765264852125;
    EXPECT_EQ(jsonLine(p, 0),
              "{\"time\":\"" + isoTime(p.timeMs) + "\",\"power\":1500.25,\"flow\":4.5,\"te\":21,\"td\":4.75,"
              "\"shutter\":0,\"valid\":true,\"alarm\":[]}");
    p.heaterState = 1;
    p.heaterValue = 0;
    p.ecValid = 1;
    p.ecPower = 1000;
    p.ecVoltage = 230;
    p.ecCurrent = 4.348;
    p.thermalization = 3;
    const std::string ec = jsonLine(p, 4, {"no flow", "shutter"});
    EXPECT_NE(ec.find("\"ec_valid\":true,\"ec_power\":1000,\"ec_voltage\":230,\"ec_current\":4.348,"
                      "\"heater_state\":1,\"heater_value\":0,\"thermalization\":3,"
                      "\"alarm\":[\"no flow\",\"shutter\"]}"),
              std::string::npos);
}

} // namespace
} // namespace bv::cli
