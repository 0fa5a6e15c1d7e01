#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include "support/TempDir.h"

namespace bv {
namespace {

using test::readFile;

namespace fs = std::filesystem;

const std::string kBuild = BRIVANE_BINARY_DIR;

struct Outcome {
    int status = -1;
    std::string out;
};

Outcome shell(const std::string& command)
{
    Outcome r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        r.out.append(buf, n);
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

TEST(ProgramsInstalled, EachProgramTellsItsVersion)
{
    std::vector<std::pair<std::string, std::string>> programs = {
        {"brivane-cli", kBuild + "/cli/brivane-cli"}, {"brivane-sim", kBuild + "/sim/tool/brivane-sim"}};
    if (fs::exists(kBuild + "/ui/brivane"))
        programs.emplace_back("brivane", kBuild + "/ui/brivane");
    for (const auto& [name, path] : programs) {
        // No display either: the window program answers before Qt starts.
        const Outcome r = shell("env -u DISPLAY -u QT_QPA_PLATFORM timeout 30 " + path + " --version 2>&1");
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_TRUE(std::regex_match(r.out, std::regex(name + " [0-9]+\\.[0-9]+(\\.[0-9]+)* \\(git [0-9a-f]+(-modified)?\\)\n")) ||
                    std::regex_match(r.out, std::regex(name + " [0-9]+\\.[0-9]+(\\.[0-9]+)*\n")))
            << r.out;
    }
}

TEST(ProgramsInstalled, ListPortsShowsTheSerialPortsAndUsbAdapters)
{
    const Outcome r = shell("timeout 30 " + kBuild + "/cli/brivane-cli --simulate --list-ports 2>/dev/null");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "serial COM1 /dev/ttyS0\n"
                     "usb Zelmor USB Brivane serial ZB000001 id 0403:6001 (the program's adapter)\n");
}

// The CLI in an installed tree, run from a folder of its own: the ini file
// goes to the config folder, the bus log and the diagnostic log to the state
// folder, nothing beside the program or into the working directory.
TEST(ProgramsInstalled, AnInstalledCliKeepsItsFilesInTheXdgFolders)
{
    test::TempDir root;
    const std::string bin = root.file("usr/bin");
    fs::create_directories(bin);
    fs::create_directories(root.file("usr/share/brivane"));
    fs::create_directories(root.file("work"));
    fs::copy_file(kBuild + "/cli/brivane-cli", bin + "/brivane-cli");
    fs::permissions(bin + "/brivane-cli", fs::perms::owner_all);
    fs::copy_file(std::string(BRIVANE_SOURCE_DIR) + "/res/log4j.properties",
                  root.file("usr/share/brivane/log4j.properties"));
    const std::string config = root.file("home/.config/BrivaneSoftware");
    const std::string state = root.file("home/.local/state/BrivaneSoftware");
    fs::create_directories(config);
    std::ofstream(config + "/BrivaneSoftware.ini") << "[Version]\nno=15\n[BusProtocol]\nProtocol=1\n";

    const Outcome r = shell("cd " + root.file("work") + " && env -u XDG_CONFIG_HOME -u XDG_STATE_HOME HOME=" +
                        root.file("home") + " timeout 60 " + bin +
                        "/brivane-cli --simulate=ec --count 2 --interval 200 2>/dev/null");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_NE(readFile(config + "/BrivaneSoftware.ini").find("Data_Transfer_Mode"), std::string::npos);
    EXPECT_NE(readFile(state + "/BusPro01.Dat").find("Programm beendet"), std::string::npos);
    EXPECT_TRUE(fs::exists(state + "/BusPro00.Dat"));
    EXPECT_TRUE(fs::exists(state + "/BrivaneSoftware.log"));
    EXPECT_TRUE(fs::is_empty(root.file("work")));
    EXPECT_EQ(std::distance(fs::directory_iterator(bin), fs::directory_iterator()), 1);
}

} // namespace
} // namespace bv
