// The settings file opened from arbitrary contents, written back, and opened
// again from what was written.
#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings/ProgramSettings.h"

using namespace bv;

namespace {

// A directory on tmpfs when there is one (the writer syncs every file it
// replaces), removed at exit.
struct WorkDirectory {
    WorkDirectory()
    {
        const std::string base =
            std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/brivane-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        path = pattern;
    }
    ~WorkDirectory() { std::filesystem::remove_all(path); }
    std::string path;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::quietLogging();
    static WorkDirectory work;
    const std::string& dir = work.path;
    const std::string path = dir + "/BrivaneSoftware.ini";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    test::ScriptedPrompt prompt;
    ProgramSettings settings;
    settings.m_sProgramDir = dir;
    BV_FUZZ_REQUIRE(settings.Open("BrivaneSoftware.ini", prompt) == 1);
    BV_FUZZ_REQUIRE(settings.WriteAll() == 1);

    // What was written is a file of this version that opens without a new
    // question: only a warning that is still true of it (a password others
    // may read, an address beyond a byte, both kept as the owner wrote them)
    // comes again.
    const std::vector<std::string> first = prompt.texts();
    ProgramSettings again;
    again.m_sProgramDir = dir;
    BV_FUZZ_REQUIRE(again.Open("BrivaneSoftware.ini", prompt) == 1);
    for (size_t i = first.size(); i < prompt.shown.size(); ++i)
        BV_FUZZ_REQUIRE(std::find(first.begin(), first.end(), prompt.shown[i].text) != first.end());
    BV_FUZZ_REQUIRE(again.m_iInterval == settings.m_iInterval);
    BV_FUZZ_REQUIRE(again.m_iDataTransferMode == settings.m_iDataTransferMode);
    BV_FUZZ_REQUIRE(again.m_ulFileNo == settings.m_ulFileNo);
    std::filesystem::remove(path);
    return 0;
}
