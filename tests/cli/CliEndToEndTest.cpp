#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <iterator>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <string>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "data/PointExport.h"
#include "support/TempDir.h"

namespace bv {
namespace {

using test::readFile;

const std::string kCli = std::string(BRIVANE_BINARY_DIR) + "/cli/brivane-cli";
const std::string kSim = std::string(BRIVANE_BINARY_DIR) + "/sim/tool/brivane-sim";

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program with stdout captured and stderr in a file.
Result runCli(const std::string& args, const test::TempDir& dir)
{
    const std::string errFile = dir.file("stderr.txt");
    const std::string cmd = "cd " + dir.path() + " && timeout 60 " + kCli + " --settings-dir " + dir.path() +
                            " " + args + " 2>" + errFile;
    Result r;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe)
        return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        r.out.append(buf, n);
    const int raw = pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream err(errFile);
    std::ostringstream s;
    s << err.rdbuf();
    r.err = s.str();
    return r;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST(CliEndToEnd, LostReadingsOrProtocolLinesEndTheRunNonZero)
{
    test::TempDir dir;
    // Protocol file on a full disk: the readings still come, the exit tells.
    const Result lost = runCli("--simulate=plain --count 2 --interval 200 --protocol /dev/full", dir);
    EXPECT_EQ(lost.status, 1) << lost.err;
    EXPECT_EQ(lines(lost.out).size(), 2u);
    EXPECT_EQ(std::count(lost.err.begin(), lost.err.end(), '\n') >= 2, true) << lost.err;
    EXPECT_NE(lost.err.find("cannot be written"), std::string::npos) << lost.err;

    // Standard output on a full disk.
    const std::string cmd = "cd " + dir.path() + " && timeout 60 " + kCli + " --settings-dir " + dir.path() +
                            " --simulate=plain --count 2 --interval 200 >/dev/full 2>/dev/null";
    const int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);

    // A model without electronic calibration asked for one: refused, non-zero.
    const Result cal = runCli("--simulate=plain --calibrate", dir);
    EXPECT_EQ(cal.status, 1) << cal.err;
    EXPECT_NE(cal.err.find("the Brivane has no electronic calibration"), std::string::npos) << cal.err;
}

TEST(CliEndToEnd, SimulatedEcMeterGivesFiveJsonLines)
{
    test::TempDir dir;
    Result r = runCli("--simulate=ec --count 5 --format json --interval 500", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    auto got = lines(r.out);
    ASSERT_EQ(got.size(), 5u) << r.out;
    for (const auto& line : got) {
        EXPECT_EQ(line.front(), '{');
        EXPECT_EQ(line.back(), '}');
        for (const char* key : {"\"time\":", "\"power\":", "\"flow\":", "\"te\":", "\"td\":", "\"shutter\":",
                                "\"valid\":true"})
            EXPECT_NE(line.find(key), std::string::npos) << key << " in " << line;
    }
    EXPECT_NE(r.err.find("EC-Brivane at address 113"), std::string::npos) << r.err;
    // The options held for this run only; the settings file was written back.
    std::ifstream ini(dir.file("BrivaneSoftware.ini"));
    std::ostringstream s;
    s << ini.rdbuf();
    EXPECT_NE(s.str().find("Interval=1000"), std::string::npos);
    EXPECT_NE(s.str().find("Port=com1"), std::string::npos);
}

TEST(CliEndToEnd, ProtocolFileAndBusLog)
{
    test::TempDir dir;
    std::ofstream(dir.file("BrivaneSoftware.ini")) << "[Version]\nno=15\n[BusProtocol]\nProtocol=1\n";
    Result r = runCli("--simulate=plain --count 2 --interval 500 --protocol " + dir.file("p.txt"), dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream p(dir.file("p.txt"), std::ios::binary);
    std::ostringstream protocol;
    protocol << p.rdbuf();
    EXPECT_EQ(lines(protocol.str()).size(), 2u);
    EXPECT_NE(protocol.str().find("\r\n"), std::string::npos);
    std::ifstream log(dir.file("BusPro01.Dat"), std::ios::binary);
    std::ostringstream traffic;
    traffic << log.rdbuf();
    EXPECT_NE(traffic.str().find("Programm Neustart"), std::string::npos);
    EXPECT_NE(traffic.str().find(": ql"), std::string::npos);
    EXPECT_NE(traffic.str().find("Programm beendet"), std::string::npos);
}

// Standard output follows the locale (a strict UTF-8 reader takes it; Python
// itself would escape a stray byte under C.UTF-8), the protocol
// file keeps its Latin-1 degree sign, and both carry the time of the CSV row.
TEST(CliEndToEnd, StdoutInTheLocalesCharsetFileInLatin1SameSecondAsTheCsv)
{
    test::TempDir dir;
    const std::string cmd = "cd " + dir.path() + " && LC_ALL=C.UTF-8 timeout 60 " + kCli + " --settings-dir " +
                            dir.path() + " --simulate=plain --count 2 --interval 500 --protocol " + dir.file("p.txt") +
                            " --csv " + dir.file("p.csv") + " 2>/dev/null | tee " + dir.file("out.txt") +
                            " | LC_ALL=C.UTF-8 PYTHONIOENCODING=utf-8:strict python3 -c 'import sys; sys.stdin.read()'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    auto read = [&](const std::string& name) {
        std::ifstream in(dir.file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string out = read("out.txt"), file = read("p.txt");
    EXPECT_NE(out.find("\t\xC2\xB0\t"), std::string::npos) << out;
    EXPECT_NE(file.find("\t\xB0\t"), std::string::npos) << file;
    EXPECT_EQ(file.find("\xC2"), std::string::npos) << file;
    const auto shown = lines(out), stored = lines(file), rows = lines(read("p.csv"));
    ASSERT_EQ(shown.size(), 2u);
    ASSERT_EQ(stored.size(), 2u);
    ASSERT_EQ(rows.size(), 3u);
    const std::regex iso(R"((\d{4})-(\d\d)-(\d\d)T(\d\d:\d\d:\d\d)\.\d{3}[+-]\d\d:\d\d,)");
    for (size_t i = 0; i < 2; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(rows[i + 1], m, iso, std::regex_constants::match_continuous)) << rows[i + 1];
        const std::string second = m[4].str() + " " + m[3].str() + "/" + m[2].str() + "/" + m[1].str();
        EXPECT_EQ(shown[i].substr(0, second.size()), second) << shown[i];
        EXPECT_EQ(stored[i].substr(0, second.size()), second) << stored[i];
    }
}

// The no-water alarm of a headless run: raised and cleared on stderr, active in the JSON between.
TEST(CliEndToEnd, FlowAlarmRaisedAndCleared)
{
    test::TempDir dir;
    Result r = runCli("--simulate=ec --interval 500 --count 9 --format json --open-shutter --sim-flow-drop 1:2", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t raised = r.err.find("brivane-cli: ALARM no flow: Error: NO FLOW RATE");
    const size_t cleared = r.err.find("brivane-cli: cleared no flow");
    ASSERT_NE(raised, std::string::npos) << r.err;
    ASSERT_NE(cleared, std::string::npos) << r.err;
    EXPECT_LT(raised, cleared);
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 9u);
    EXPECT_NE(out.front().find("\"alarm\":[]"), std::string::npos) << out.front();
    EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](const std::string& l) {
        return l.find("\"flow\":0,") != std::string::npos && l.find("\"alarm\":[\"no flow\"]") != std::string::npos;
    })) << r.out;
    EXPECT_NE(out.back().find("\"alarm\":[]"), std::string::npos) << out.back();
}

// The CSV export read back by a real CSV reader gives the points the JSON lines gave.
TEST(CliEndToEnd, CsvExportRoundTrip)
{
    test::TempDir dir;
    Result r = runCli("--simulate=ec --count 4 --format json --csv " + dir.file("points.csv"), dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = lines(r.out);
    ASSERT_EQ(json.size(), 4u);
    FILE* pipe = popen(("python3 " + std::string(BRIVANE_SOURCE_DIR) + "/tests/cli/csv_roundtrip.py " +
                        dir.file("points.csv"))
                           .c_str(),
                       "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<double> powers;
    char line[256];
    while (fgets(line, sizeof line, pipe))
        powers.push_back(std::stod(line));
    ASSERT_EQ(pclose(pipe), 0);
    ASSERT_EQ(powers.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const size_t at = json[i].find("\"power\":");
        ASSERT_NE(at, std::string::npos);
        const double fromJson = std::stod(json[i].substr(at + 8));
        EXPECT_NEAR(powers[i], fromJson, std::abs(fromJson) * 1e-5 + 1e-6) << json[i];
    }
    EXPECT_NE(json.back().find("\"std_dev\":"), std::string::npos);
}

// A meter that falls silent is reported once, its return once; a supervisor's
// --stale-exit ends the run with status 3.
TEST(CliEndToEnd, SilentMeterIsReportedAndStaleExitGivesThree)
{
    test::TempDir dir;
    Result back = runCli("--simulate=ec --interval 500 --count 8 --sim-silence 2:7", dir);
    ASSERT_EQ(back.status, 0) << back.err;
    const size_t stale = back.err.find("brivane-cli: no reading since ");
    const size_t resumed = back.err.find("brivane-cli: readings resumed");
    ASSERT_NE(stale, std::string::npos) << back.err;
    ASSERT_NE(resumed, std::string::npos) << back.err;
    EXPECT_LT(stale, resumed);
    EXPECT_EQ(back.err.find("no reading since", stale + 20), std::string::npos) << "reported once";

    const auto start = std::chrono::steady_clock::now();
    Result gone = runCli("--simulate=ec --interval 500 --sim-silence 1:600 --stale-exit 5", dir);
    EXPECT_EQ(gone.status, 3) << gone.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10 + 6));  // start-up included
    EXPECT_NE(gone.err.find("no reading since"), std::string::npos) << gone.err;
}

TEST(CliEndToEnd, FailuresGiveStatusOneOrTwo)
{
    test::TempDir dir;
    Result usage = runCli("--count 0", dir);
    EXPECT_EQ(usage.status, 2);
    Result noPort = runCli("--port /dev/does-not-exist --count 1", dir);
    EXPECT_EQ(noPort.status, 1);
    EXPECT_NE(noPort.err.find("cannot open the serial port"), std::string::npos) << noPort.err;
}

// The real termios path: brivane-sim plays adapter and meter on a pseudo-terminal.
TEST(CliEndToEnd, ThreeReadingsThroughARealPseudoTerminal)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t sim = fork();
    ASSERT_GE(sim, 0);
    if (sim == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        execl(kSim.c_str(), kSim.c_str(), "--model", "plain", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string path;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        path += c;
    ASSERT_FALSE(path.empty());

    test::TempDir dir;
    Result r = runCli("--port " + path + " --count 3 --interval 500", dir);
    // A second run against the same simulator reopens the same terminal.
    Result again = runCli("--port " + path + " --count 1 --interval 500", dir);
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    close(fds[0]);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).size(), 3u) << r.out;
    EXPECT_NE(r.err.find("Brivane at address 113 (serial port " + path), std::string::npos) << r.err;
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(lines(again.out).size(), 1u) << again.out;
}

} // namespace
} // namespace bv

namespace bv {
namespace {

TEST(CliEndToEnd, InterruptHangupAndQuitStopCleanlyAfterTheCurrentCycle)
{
  for (const int signal : {SIGINT, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal);
    test::TempDir dir;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t cli = fork();
    ASSERT_GE(cli, 0);
    if (cli == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDERR_FILENO);
        chdir(dir.path().c_str());
        execl(kCli.c_str(), kCli.c_str(), "--simulate=plain", "--interval", "500", "--settings-dir",
              dir.path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // Wait for the second point, then interrupt.
    std::string text;
    char buf[512];
    while (std::count(text.begin(), text.end(), '\n') < 2) {
        const ssize_t n = read(out[0], buf, sizeof buf);
        ASSERT_GT(n, 0);
        text.append(buf, static_cast<size_t>(n));
    }
    kill(cli, signal);
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    int status = 0;
    waitpid(cli, &status, 0);
    close(out[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Every line complete; the settings were written back at the end.
    EXPECT_EQ(text.back(), '\n');
    std::ifstream ini(dir.file("BrivaneSoftware.ini"));
    EXPECT_TRUE(ini.good());
  }
}

} // namespace
} // namespace bv

namespace bv {
namespace {

// Used to end with status 0, all readings lost.
TEST(CliEndToEnd, UnwritableProtocolFileFailsBeforeTheFirstReading)
{
    test::TempDir dir;
    Result protocol = runCli("--simulate=ec --count 2 --protocol " + dir.file("no-such-folder/p.txt"), dir);
    EXPECT_EQ(protocol.status, 1);
    EXPECT_NE(protocol.err.find("cannot write the protocol file"), std::string::npos) << protocol.err;
    EXPECT_TRUE(protocol.out.empty()) << protocol.out;
}

// `| head -1` used to kill the run with SIGPIPE: no settings written back.
TEST(CliEndToEnd, ClosedStandardOutputEndsTheRunLikeAnInterrupt)
{
    test::TempDir dir;
    const std::string cmd = "cd " + dir.path() + " && timeout 60 " + kCli + " --settings-dir " + dir.path() +
                            " --simulate=plain --interval 200 2>" + dir.file("err.txt") + " | head -1 >" +
                            dir.file("out.txt") + "; echo ${PIPESTATUS[0]} >" + dir.file("status.txt");
    ASSERT_EQ(std::system(("bash -c '" + cmd + "'").c_str()), 0);
    std::ifstream status(dir.file("status.txt"));
    int code = -1;
    status >> code;
    std::ifstream err(dir.file("err.txt"));
    std::string errText((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_EQ(code, 0) << errText;
    EXPECT_NE(errText.find("standard output closed"), std::string::npos) << errText;
    EXPECT_TRUE(std::ifstream(dir.file("BrivaneSoftware.ini")).good());
}

// The shutter of the compact model moves only through the PLC: without one the
// run waits about 10 s for it. Ctrl-C must not wait with it.
TEST(CliEndToEnd, SignalEndsTheWaitForTheShutter)
{
    test::TempDir dir;
    const pid_t cli = fork();
    ASSERT_GE(cli, 0);
    if (cli == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execl(kCli.c_str(), kCli.c_str(), "--simulate=compact", "--open-shutter", "--settings-dir",
              dir.path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    sleep(3);
    kill(cli, SIGINT);
    const auto signalled = std::chrono::steady_clock::now();
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(cli, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - signalled < std::chrono::seconds(30))
        usleep(50000);
    const auto took = std::chrono::steady_clock::now() - signalled;
    if (done == 0) {
        kill(cli, SIGKILL);
        waitpid(cli, &status, 0);
    }
    ASSERT_EQ(done, cli) << "still waiting 30 s after SIGINT";
    EXPECT_LT(took, std::chrono::seconds(4));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(std::ifstream(dir.file("BrivaneSoftware.ini")).good());
}

} // namespace
} // namespace bv

namespace bv {
namespace {

// brivane-sim with --link; returns once its terminal is up and the link made.
pid_t startLinkedSim(const std::string& link)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t sim = fork();
    if (sim == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        execl(kSim.c_str(), kSim.c_str(), "--model", "plain", "--link", link.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
    }
    close(fds[0]);
    return sim;
}

// Reads from fd into text until it holds `count` lines, EOF, or the time is up.
void readLines(int fd, std::string& text, long count, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::count(text.begin(), text.end(), '\n') < count && std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        text.append(buf, static_cast<size_t>(n));
    }
}

// Milliseconds until the file holds needle behind `from`, -1 after timeoutMs.
long waitForText(const std::string& path, const std::string& needle, size_t from, int timeoutMs)
{
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const std::string text = readFile(path);
        const long ms = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
        if (text.size() > from && text.find(needle, from) != std::string::npos)
            return ms;
        if (ms > timeoutMs)
            return -1;
        usleep(50000);
    }
}

// The simulator dies mid-run and comes back under the same port name: the
// run reports the silence, reopens the port by itself and measures on, and
// its protocol file holds every reading once, whole.
TEST(CliEndToEnd, KilledSimulatorIsReportedAndTheRunMeasuresOnAfterItsRestart)
{
    test::TempDir dir;
    const std::string link = dir.file("ttyBrivane");
    std::ofstream(dir.file("log4j.properties")) << readFile(std::string(BRIVANE_SOURCE_DIR) + "/res/log4j.properties");
    pid_t sim = startLinkedSim(link);
    ASSERT_GT(sim, 0);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const std::string errFile = dir.file("stderr.txt");
    const pid_t cli = fork();
    ASSERT_GE(cli, 0);
    if (cli == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, STDERR_FILENO);
        chdir(dir.path().c_str());
        setenv("LC_ALL", "C.UTF-8", 1);
        execl(kCli.c_str(), kCli.c_str(), "--settings-dir", dir.path().c_str(), "--port", link.c_str(), "--interval",
              "500", "--protocol", dir.file("p.txt").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    readLines(out[0], text, 3, 30000);
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << readFile(errFile);

    kill(sim, SIGKILL);
    waitpid(sim, nullptr, 0);
    const size_t errBefore = readFile(errFile).size();
    // A lost port is no reading at once; the watch's own limit (5 s after
    // the last reading) would tell a little later.
    const long staleMs = waitForText(errFile, "brivane-cli: no reading since ", errBefore, 15000);
    ASSERT_GE(staleMs, 0) << readFile(errFile);
    std::printf("[ reconnect ] \"no reading since\" %ld ms after the kill\n", staleMs);
    EXPECT_LT(staleMs, 5000);
    EXPECT_GE(waitForText(errFile, "brivane-cli: Link to the meter lost: serial port " + link, errBefore, 5000), 0)
        << readFile(errFile);

    readLines(out[0], text, 1000, 200);
    const long atRestart = std::count(text.begin(), text.end(), '\n');
    sim = startLinkedSim(link);  // the dead simulator's link is replaced
    ASSERT_GT(sim, 0);
    EXPECT_GE(waitForText(errFile, "brivane-cli: readings resumed", errBefore, 30000), 0) << readFile(errFile);
    readLines(out[0], text, atRestart + 3, 30000);
    EXPECT_GE(std::count(text.begin(), text.end(), '\n'), atRestart + 3) << readFile(errFile);

    kill(cli, SIGINT);
    readLines(out[0], text, 1000000, 20000);
    int status = 0;
    waitpid(cli, &status, 0);
    close(out[0]);
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the simulator removes its link at the end";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << readFile(errFile);
    const std::string err = readFile(errFile);
    EXPECT_EQ(err.find("no reading since", err.find("no reading since") + 1), std::string::npos) << err;
    EXPECT_NE(err.find("brivane-cli: Link to the meter restored: serial port " + link), std::string::npos) << err;
    // Each attempt is in the log file at info level; stdout holds readings only.
    EXPECT_NE(readFile(dir.file("BrivaneSoftware.log")).find("INFO  CFreeComm [CFreeComm:"), std::string::npos);
    EXPECT_NE(readFile(dir.file("BrivaneSoftware.log")).find("reconnect attempt 1: opening serial port"),
              std::string::npos);

    // One whole protocol line per reading printed, in the same order and
    // with the same time: none lost, none torn, none twice. Standard output
    // has the degree sign in UTF-8, the file in Latin-1.
    const auto printed = lines(text);
    const auto written = lines(readFile(dir.file("p.txt")));
    ASSERT_EQ(written.size(), printed.size());
    const std::regex whole(
        R"(^\d\d:\d\d:\d\d \d\d/\d\d/\d{4}\t\t *-?\d+\.\d\d\tW\t *\d+\.\d{6}\tl/min\t *-?\d+\.\d\d\t\xB0\t *-?\d+\.\d\d\xB0\t\r$)");
    auto utf8 = [](std::string l) {
        for (size_t at = 0; (at = l.find('\xB0', at)) != std::string::npos; at += 2)
            l.replace(at, 1, "\xC2\xB0");
        return l;
    };
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_TRUE(std::regex_match(written[i], whole)) << written[i];
        EXPECT_EQ(utf8(written[i]), printed[i] + "\r") << i;
    }
}

} // namespace
} // namespace bv

namespace bv {
namespace {

// brivane-cli with standard output on a pipe (its read end in out) and
// standard error in stderr.txt of the folder; env is added to its environment.
pid_t startCli(const std::vector<std::string>& args, const test::TempDir& dir, int& out,
               const std::vector<std::pair<std::string, std::string>>& env = {})
{
    std::vector<std::string> all{kCli, "--settings-dir", dir.path()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string errFile = dir.file("stderr.txt");
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t cli = fork();
    if (cli == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, STDERR_FILENO);
        chdir(dir.path().c_str());
        for (const auto& [name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        execv(kCli.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    out = fds[0];
    return cli;
}

// SIGTERM, then milliseconds until the run ended; -1 when it had to be killed after 10 s.
long terminate(pid_t cli, int& status)
{
    const auto start = std::chrono::steady_clock::now();
    kill(cli, SIGTERM);
    pid_t done = 0;
    while ((done = waitpid(cli, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        usleep(20000);
    if (done != cli) {
        kill(cli, SIGKILL);
        waitpid(cli, &status, 0);
        return -1;
    }
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

// A stop used to wait out the measuring interval (up to an hour), a FIFO
// nobody reads held the open past SIGTERM, and --count N gave N+1 readings.
TEST(CliEndToEnd, StopIsPromptAtAnyIntervalFifosNeverHoldTheRunAndCountMeansCount)
{
    // SIGTERM ends the run within the bound, with the given exit status.
    auto terminatesWith = [](pid_t cli, int out, const test::TempDir& dir, int expected) {
        int status = 0;
        const long took = terminate(cli, status);
        close(out);
        EXPECT_GE(took, 0) << "still running 10 s after SIGTERM";
        EXPECT_LT(took, 5000);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), expected) << readFile(dir.file("stderr.txt"));
    };
    {
        SCOPED_TRACE("SIGTERM in the wait of a one-minute interval taken from the settings");
        test::TempDir dir;
        std::ofstream(dir.file("BrivaneSoftware.ini")) << "[Version]\nno=15\n[Setup]\nInterval=60000\n";
        int out = -1;
        const pid_t cli = startCli({"--simulate=plain"}, dir, out);
        ASSERT_GT(cli, 0);
        std::string text;
        readLines(out, text, 1, 30000);
        ASSERT_EQ(lines(text).size(), 1u) << readFile(dir.file("stderr.txt"));
        usleep(300000);  // into the interval's wait
        terminatesWith(cli, out, dir, 0);
        const std::string ini = readFile(dir.file("BrivaneSoftware.ini"));
        EXPECT_NE(ini.find("Port=com1"), std::string::npos) << "settings written back:\n" << ini;
        EXPECT_NE(ini.find("Interval=60000"), std::string::npos) << ini;
    }
    {
        SCOPED_TRACE("SIGTERM during a calibration switches the heater off");
        test::TempDir dir;
        std::ofstream(dir.file("BrivaneSoftware.ini")) << "[Version]\nno=15\n[BusProtocol]\nProtocol=1\n";
        int out = -1;
        const pid_t cli = startCli({"--simulate=ec", "--calibrate", "--interval", "60000"}, dir, out);
        ASSERT_GT(cli, 0);
        std::string text;
        readLines(out, text, 2, 30000);
        ASSERT_EQ(lines(text).size(), 2u) << readFile(dir.file("stderr.txt"));
        terminatesWith(cli, out, dir, 0);
        const std::string traffic = readFile(dir.file("BusPro01.Dat"));
        const size_t on = traffic.find(": elp 1");
        ASSERT_NE(on, std::string::npos) << traffic;
        EXPECT_NE(traffic.find(": elp 0", on), std::string::npos) << traffic;
        EXPECT_NE(traffic.find("Programm beendet"), std::string::npos);
        EXPECT_NE(readFile(dir.file("BrivaneSoftware.ini")).find("Port=com1"), std::string::npos);
    }
    {
        SCOPED_TRACE("--csv naming a FIFO without a reader");
        test::TempDir dir;
        const std::string fifo = dir.file("rows.csv");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        int out = -1;
        const pid_t cli = startCli({"--simulate=plain", "--csv", fifo}, dir, out);
        ASSERT_GT(cli, 0);
        sleep(1);
        terminatesWith(cli, out, dir, 1);
        EXPECT_NE(readFile(dir.file("stderr.txt")).find("cannot write " + fifo + ": a FIFO that nobody reads"),
                  std::string::npos)
            << readFile(dir.file("stderr.txt"));
        EXPECT_NE(readFile(dir.file("BrivaneSoftware.ini")).find("Port=com1"), std::string::npos);

        // With a reader the rows go through it; --count 5 at 100 ms gives five
        // readings, not six; the settings' interval of -1 is said once and
        // written back as the 100 ms used.
        std::ofstream(dir.file("BrivaneSoftware.ini")) << "[Version]\nno=15\n[Setup]\nInterval=-1\n";
        const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        const Result counted = runCli("--simulate=plain --count 5 --interval 100 --csv " + fifo, dir);
        std::string rows;
        readLines(reader, rows, 6, 2000);
        close(reader);
        EXPECT_EQ(counted.status, 0) << counted.err;
        EXPECT_EQ(lines(counted.out).size(), 5u) << counted.out;
        EXPECT_EQ(lines(rows).size(), 6u) << rows;  // the header and five rows
        const std::string warning = "brivane-cli: Interval=-1 in [Setup] is not a measuring interval";
        const size_t warned = counted.err.find(warning);
        EXPECT_NE(warned, std::string::npos) << counted.err;
        EXPECT_EQ(counted.err.find(warning, warned + 1), std::string::npos) << counted.err;
        EXPECT_TRUE(std::regex_search(readFile(dir.file("BrivaneSoftware.ini")), std::regex("Interval=100\\s")));
    }
    {
        SCOPED_TRACE("--protocol naming a FIFO: every line opens it anew, so it is refused");
        test::TempDir dir;
        const std::string fifo = dir.file("p.txt");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const auto start = std::chrono::steady_clock::now();
        const Result r = runCli("--simulate=plain --count 1 --protocol " + fifo, dir);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("cannot write the protocol file " + fifo + ": a FIFO"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

} // namespace
} // namespace bv

namespace bv {
namespace {

std::string jsonField(const std::string& line, const std::string& name)
{
    const std::regex field("\"" + name + "\":(\"[^\"]*\"|[^,}]*)");
    std::smatch m;
    return std::regex_search(line, m, field) ? m[1].str() : std::string();
}

// A run killed without warning keeps every point it printed: --history
// gives them back with the same times and powers, while a second run may
// read along but not write into the same file, and a damaged file is moved
// aside before measuring begins.
TEST(CliEndToEnd, KilledRunKeepsEveryPrintedPointInTheHistory)
{
    test::TempDir dir;
    int out = -1;
    const pid_t cli = startCli({"--simulate=ec", "--interval", "200", "--format", "json"}, dir, out);
    ASSERT_GT(cli, 0);
    std::string printed;
    readLines(out, printed, 12, 30000);

    // Meanwhile: a second measuring run is told the file is taken and
    // measures anyway; a reader reads what is there.
    const Result second = runCli("--simulate=plain --count 2 --interval 100", dir);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.err.find("in use by another program"), std::string::npos) << second.err;
    EXPECT_EQ(lines(second.out).size(), 2u);
    const Result during = runCli("--history --format csv", dir);
    EXPECT_EQ(during.status, 0) << during.err;
    EXPECT_GE(lines(during.out).size(), 2u);

    // Whatever was printed by the moment of the kill.
    readLines(out, printed, 20, 10000);
    kill(cli, SIGKILL);
    int status = 0;
    waitpid(cli, &status, 0);
    char buf[4096];
    for (ssize_t n; (n = read(out, buf, sizeof buf)) > 0;)
        printed.append(buf, static_cast<size_t>(n));
    close(out);
    std::vector<std::string> shown = lines(printed);
    if (!printed.empty() && printed.back() != '\n')
        shown.pop_back();  // a line cut by the kill was never printed whole
    ASSERT_GE(shown.size(), 20u);

    const Result history = runCli("--history --format json", dir);
    ASSERT_EQ(history.status, 0) << history.err;
    const std::vector<std::string> stored = lines(history.out);
    ASSERT_GE(stored.size(), shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(jsonField(stored[i], "time"), jsonField(shown[i], "time")) << i;
        EXPECT_EQ(jsonField(stored[i], "power"), jsonField(shown[i], "power")) << i;
    }
    const std::string from = jsonField(shown[5], "time");
    const Result ranged =
        runCli("--history --format json --from " + from.substr(1, from.size() - 2) + " --to 2100-01-01", dir);
    ASSERT_EQ(ranged.status, 0) << ranged.err;
    EXPECT_EQ(lines(ranged.out).front(), stored[5]);

    test::writeFile(dir.file("history.sqlite"), "garbage, not SQLite at all, long enough to be read as a header....");
    const Result afterGarbage = runCli("--simulate=plain --count 2 --interval 100", dir);
    EXPECT_EQ(afterGarbage.status, 0) << afterGarbage.err;
    EXPECT_NE(afterGarbage.err.find("moved aside as " + dir.file("history.sqlite.")), std::string::npos)
        << afterGarbage.err;
    EXPECT_EQ(lines(runCli("--history", dir).out).size(), 2u);
}

} // namespace
} // namespace bv

namespace bv {
namespace {

std::string shellLine(const std::string& cmd)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[512];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// --calibrate ends with the calibration's verdict: on stderr, in the exit
// status and in the history. With the simulated laser still on the absorber
// it fails a limit of 1.5 % and passes one of 1000 %.
TEST(CliEndToEnd, CalibrationEndsWithItsVerdictInTheStatusAndTheHistory)
{
    test::TempDir strict, lenient;
    for (auto [dir, limit] : {std::pair{&strict, "1.5"}, std::pair{&lenient, "1000"}})
        test::writeFile(dir->file("BrivaneSoftware.ini"),
                        std::string("[Version]\nno=15\n[Setup]\ntime of thermalization=8\n[EC Power]\nDeviation Limit=") +
                            limit + "\n");
    auto failing = std::async(std::launch::async, [&] { return runCli("--simulate=ec --calibrate", strict); });
    const Result passed = runCli("--simulate=ec --calibrate", lenient);
    const Result failed = failing.get();
    EXPECT_EQ(failed.status, 4) << failed.err;
    EXPECT_NE(failed.err.find("brivane-cli: Calibration ended: FAILED, deviation "), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find("beyond the limit of 1.50 %"), std::string::npos) << failed.err;
    EXPECT_EQ(passed.status, 0) << passed.err;
    EXPECT_NE(passed.err.find("brivane-cli: Calibration ended: passed, deviation "), std::string::npos) << passed.err;
    auto stored = [](const test::TempDir& dir) {
        return shellLine("python3 -c \"import sqlite3; print(sqlite3.connect('" + dir.file("history.sqlite") +
                         "').execute('select count(*), max(passed), max(limit_percent) from calibrations').fetchone())\"");
    };
    EXPECT_EQ(stored(strict), "(1, 0, 1.5)");
    EXPECT_EQ(stored(lenient), "(1, 1, 1000.0)");
}

// A PLC (pymodbus, a client nobody here wrote) reads what the run prints:
// the same point's power and number, "readings current" gone within 5 s of
// the meter falling silent with NaN in the power, coil writes refused until
// the settings allow them and then stopping and starting the measurement.
TEST(CliEndToEnd, ModbusClientReadsThePrintedPointsAndIsToldTheTruthWhenTheMeterIsSilent)
{
    const std::string client = std::string(BRIVANE_SOURCE_DIR) + "/tests/cli/modbus_client.py";
    const int port = 21000 + static_cast<int>(getpid() % 2000);
    auto ask = [&](const std::string& args) { return shellLine(client + " " + args + " 2>&1"); };
    struct Reading {
        long seq = -1;
        std::string power;
        int current = -1, measuring = -1, age = -1, model = -1;
    };
    auto read = [&] {
        Reading r;
        std::istringstream in(ask("read " + std::to_string(port)));
        in >> r.seq >> r.power >> r.current >> r.measuring >> r.age >> r.model;
        return r;
    };
    {
        test::TempDir dir;
        int out = -1;
        const pid_t cli = startCli({"--simulate=ec", "--interval", "500", "--format", "json", "--modbus",
                                    "127.0.0.1:" + std::to_string(port), "--sim-silence", "6:30"},
                                   dir, out);
        std::string printed;
        readLines(out, printed, 4, 20000);
        const Reading r = read();
        readLines(out, printed, 7, 20000);
        bool matched = false;
        for (const std::string& line : lines(printed))
            if (jsonField(line, "seq") == std::to_string(r.seq)) {
                matched = true;
                EXPECT_NEAR(std::stod(r.power), std::stod(jsonField(line, "power")), 0.01) << line;
            }
        EXPECT_TRUE(matched) << r.seq << " not among\n" << printed;
        EXPECT_EQ(r.current, 1);
        EXPECT_EQ(r.measuring, 1);
        EXPECT_EQ(r.model, 2);
        EXPECT_EQ(ask("coil " + std::to_string(port) + " 1"), "refused 1");

        // Silent from 6 s on: within 5 s "readings current" is 0, the power NaN.
        const auto silentAt = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - silentAt < std::chrono::seconds(16) && read().current != 0)
            usleep(200000);
        const Reading stale = read();
        EXPECT_EQ(stale.current, 0);
        EXPECT_EQ(stale.power, "nan");
        EXPECT_GT(stale.age, 30);  // tenths of a second, counting on
        kill(cli, SIGTERM);
        int status = 0;
        waitpid(cli, &status, 0);
        close(out);
    }
    {
        test::TempDir dir;
        test::writeFile(dir.file("BrivaneSoftware.ini"), "[Version]\nno=15\n[Modbus]\nAcceptCommands=1\n");
        int out = -1;
        const pid_t cli = startCli({"--simulate=ec", "--interval", "500", "--modbus", std::to_string(port)}, dir, out);
        std::string printed;
        readLines(out, printed, 3, 20000);
        EXPECT_EQ(ask("coil " + std::to_string(port) + " 0"), "ok");  // start: it runs already
        EXPECT_EQ(read().measuring, 1);
        // Stop: the run ends as at its last reading.
        EXPECT_EQ(ask("coil " + std::to_string(port) + " 1"), "ok");
        int status = -1;
        pid_t done = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while ((done = waitpid(cli, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
            usleep(100000);
        if (done != cli) {
            kill(cli, SIGKILL);
            waitpid(cli, &status, 0);
        }
        EXPECT_EQ(done, cli) << "still measuring after the stop coil";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(dir.file("stderr.txt"));
        close(out);
    }
}

// A lab script (PyVISA over a raw socket, a client nobody here wrote) reads
// the run: the model named, the point's power as printed, the SCPI "not a
// number" with -230 once the meter falls silent, and no start with commands
// off.
TEST(CliEndToEnd, ScpiScriptReadsThePrintedPointsAndIsToldWhenTheMeterIsSilent)
{
    const std::string client = std::string(BRIVANE_SOURCE_DIR) + "/tests/cli/scpi_client.py";
    const int port = 25000 + static_cast<int>(getpid() % 2000);
    auto ask = [&](const std::string& commands) {
        return lines(shellLine(client + " " + std::to_string(port) + " " + commands + " 2>&1"));
    };
    test::TempDir dir;
    int out = -1;
    const pid_t cli = startCli({"--simulate=ec", "--interval", "500", "--format", "json", "--scpi",
                                "127.0.0.1:" + std::to_string(port), "--sim-silence", "6:30"},
                               dir, out);
    ASSERT_GT(cli, 0);
    std::string printed;
    readLines(out, printed, 4, 20000);
    const std::vector<std::string> got = ask("'*IDN?' 'FETC:ALL?' 'MEAS:POW?' INIT 'SYST:ERR?'");
    readLines(out, printed, 7, 20000);
    ASSERT_EQ(got.size(), 5u) << shellLine("cat " + dir.file("stderr.txt"));
    EXPECT_EQ(got[0].rfind("BrivaneSoftware,EC-Brivane,113,", 0), 0u) << got[0];
    // FETC:ALL? gives the point's time: the printed line of that time has its power.
    const std::string all = got[1];
    const double seconds = std::stod(all.substr(0, all.find(',')));
    const std::string fetched = all.substr(all.find(',') + 1, all.find(',', all.find(',') + 1) - all.find(',') - 1);
    bool sameTime = false, samePower = false;
    for (const std::string& line : lines(printed)) {
        int64_t ms = 0;
        const std::string time = jsonField(line, "time");
        if (time.size() > 2 && parseIsoTime(time.substr(1, time.size() - 2), ms) &&
            std::llround(seconds * 1000) == ms) {
            sameTime = true;
            EXPECT_NEAR(std::stod(fetched), std::stod(jsonField(line, "power")), 0.01) << line;
        }
        samePower = samePower || std::fabs(std::stod(got[2]) - std::stod(jsonField(line, "power"))) < 0.01;
    }
    EXPECT_TRUE(sameTime) << all << " not among\n" << printed;
    EXPECT_TRUE(samePower) << got[2] << " not among\n" << printed;
    EXPECT_EQ(got[3], "sent");
    EXPECT_EQ(got[4], "-221,\"Settings conflict;commands are off\"");

    // Silent from 6 s on: the query answers "not a number" and says why.
    std::vector<std::string> silent;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(16);
    do {
        silent = ask("'MEAS:POW?' 'SYST:ERR?' 'STAT:QUES:COND?'");
    } while (std::chrono::steady_clock::now() < until && !silent.empty() && silent[0] != "9.91E37" &&
             usleep(300000) == 0);
    ASSERT_EQ(silent.size(), 3u);
    EXPECT_EQ(silent[0], "9.91E37");
    EXPECT_EQ(silent[1].rfind("-230,", 0), 0u) << silent[1];
    EXPECT_EQ(std::stoi(silent[2]) & 1, 1) << silent[2];
    kill(cli, SIGTERM);
    int status = 0;
    waitpid(cli, &status, 0);
    close(out);
}

// Milliseconds between a run's JSON lines, from their own time stamps.
std::vector<int64_t> intervals(const std::string& out)
{
    std::vector<int64_t> gaps;
    int64_t previous = 0;
    for (const std::string& line : lines(out)) {
        int64_t t = 0;
        const std::string time = jsonField(line, "time");
        if (time.size() < 3 || !parseIsoTime(time.substr(1, time.size() - 2), t))
            continue;
        if (previous)
            gaps.push_back(t - previous);
        previous = t;
    }
    return gaps;
}

// Clients that connect and drop at random, half requests, bursts never read
// and a megabyte of garbage on each server leave the measuring interval as it
// was, and a PLC and a lab script polling all along are still answered. (The
// readings per minute of two runs side by side differ by up to 3 here without
// any client, the beats of a shared machine being what they are: the
// intervals themselves are judged.)
TEST(CliEndToEnd, RemoteClientsFromHellLeaveTheIntervalAlone)
{
    const std::string hammer = std::string(BRIVANE_SOURCE_DIR) + "/tests/cli/modbus_hammer.py";
    const int port = 23000 + static_cast<int>(getpid() % 2000);
    test::TempDir dir;
    int out = -1;
    const pid_t cli = startCli({"--simulate=plain", "--count", "150", "--interval", "200", "--format", "json",
                                "--modbus", std::to_string(port), "--scpi", std::to_string(port + 3000)},
                               dir, out);
    ASSERT_GT(cli, 0);
    FILE* clients = popen((hammer + " " + std::to_string(port) + " 28 " + std::to_string(port + 3000) + " 2>&1").c_str(), "r");
    ASSERT_NE(clients, nullptr);
    std::string printed;
    readLines(out, printed, 150, 90000);
    std::string answered;
    char buf[256];
    while (fgets(buf, sizeof buf, clients))
        answered += buf;
    pclose(clients);
    int status = 0;
    waitpid(cli, &status, 0);
    close(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(dir.file("stderr.txt"));
    std::vector<int64_t> gaps = intervals(printed);
    ASSERT_EQ(gaps.size(), 149u) << printed;
    std::sort(gaps.begin(), gaps.end());
    EXPECT_NEAR(gaps[gaps.size() / 2], 200, 10);  // the median: the interval
    EXPECT_LT(gaps.back(), 1000);                 // no reading held up for long
    long plc = 0, script = 0;
    std::istringstream(answered) >> plc >> script;
    EXPECT_GT(plc, 100) << answered;
    EXPECT_GT(script, 100) << answered;
}

} // namespace
} // namespace bv

namespace bv {
namespace {

// One datagram to NOTIFY_SOCKET, stamped by the kernel as it was sent,
// whenever this test got round to reading it.
struct Notification {
    long ms = -1;  // since the run started; -1: not stamped
    std::string text;
    std::string stderrThen;  // what the run had said on stderr by the time it was read
};

// Reads the notifications until STOPPING=1 or the time is up; what the run
// prints meanwhile is read into printed.
std::vector<Notification> notifications(int sock, int out, std::string& printed, int timeoutMs,
                                        std::chrono::system_clock::time_point started, const std::string& errFile)
{
    std::vector<Notification> got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until &&
           (got.empty() || got.back().text.find("STOPPING=1") == std::string::npos)) {
        pollfd fds[2] = {{sock, POLLIN, 0}, {out, POLLIN, 0}};
        if (poll(fds, 2, 200) <= 0)
            continue;
        char buf[4096];
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = read(out, buf, sizeof buf);
            if (n > 0)
                printed.append(buf, static_cast<size_t>(n));
            else
                out = -1;  // the run closed it: poll passes it by from now on
        }
        if (!(fds[0].revents & POLLIN))
            continue;
        iovec data{buf, sizeof buf};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timeval))];
        msghdr msg{};
        msg.msg_iov = &data;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(sock, &msg, 0);
        if (n <= 0)
            break;
        Notification note{-1, std::string(buf, static_cast<size_t>(n)), readFile(errFile)};
        const cmsghdr* c = CMSG_FIRSTHDR(&msg);
        if (c && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
            timeval sent{};
            std::memcpy(&sent, CMSG_DATA(c), sizeof sent);
            const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(sent.tv_sec) +
                                                                  std::chrono::microseconds(sent.tv_usec));
            note.ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(at - started).count());
        }
        got.push_back(std::move(note));
    }
    return got;
}

// Run as systemd runs a Type=notify service with WatchdogSec=1s: READY=1
// once the meter is identified, a status naming it and the newest reading
// about once a second, keep-alives at half the watchdog time while the
// readings are current and none while the meter is silent, so that systemd
// would restart the run; STOPPING=1 at the end.
TEST(CliEndToEnd, ServiceManagerIsToldReadyStatusStoppingAndKeptAliveOnlyWhileReadingsAreCurrent)
{
    test::TempDir dir;
    const std::string path = dir.file("notify");
    const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::copy(path.begin(), path.end(), addr.sun_path);
    ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    const int on = 1;
    ASSERT_EQ(setsockopt(sock, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on), 0);

    // Silent from 3 s into the measurement for 7 s: stale 5 s after the last reading.
    int out = -1;
    const auto started = std::chrono::system_clock::now();
    const pid_t cli = startCli({"--simulate=ec", "--interval", "200", "--count", "30", "--sim-silence", "3:7"}, dir,
                               out, {{"NOTIFY_SOCKET", path}, {"WATCHDOG_USEC", "1000000"}});
    ASSERT_GT(cli, 0);
    std::string printed;
    const std::vector<Notification> got =
        notifications(sock, out, printed, 60000, started, dir.file("stderr.txt"));
    readLines(out, printed, 30, 10000);
    int status = 0;
    // Ending by itself after --count: SIGTERM changes nothing then, but ends a run that hangs.
    const long ended = terminate(cli, status);
    close(out);
    close(sock);
    const std::string err = readFile(dir.file("stderr.txt"));
    EXPECT_GE(ended, 0);
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 0) << err;
    EXPECT_EQ(lines(printed).size(), 30u) << printed;

    std::string all;
    for (const Notification& n : got)
        all += std::to_string(n.ms) + " " + n.text + "\n";
    ASSERT_FALSE(got.empty()) << err;
    EXPECT_NE(got.back().text.find("STOPPING=1"), std::string::npos) << all;
    EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](const Notification& n) { return n.ms >= 0; })) << all;
    auto find = [&](size_t from, const std::string& needle) {
        for (size_t i = from; i < got.size(); ++i)
            if (got[i].text.find(needle) != std::string::npos)
                return i;
        return got.size();
    };
    const size_t ready = find(0, "READY=1");
    ASSERT_LT(ready, got.size()) << all;
    EXPECT_EQ(find(ready + 1, "READY=1"), got.size()) << "READY=1 once\n" << all;
    EXPECT_NE(got[ready].stderrThen.find("brivane-cli: EC-Brivane at address 113"), std::string::npos)
        << "READY=1 before the identification:\n" << got[ready].stderrThen;
    EXPECT_NE(got[ready].text.find("STATUS=EC-Brivane at address 113"), std::string::npos) << got[ready].text;

    // After READY=1: the model with its reading, the silence, the model with a reading again.
    const std::regex reading(R"(^STATUS=EC-Brivane at address 113 .*: -?\d+\.\d\d W, flow \d+\.\d\d l/min$)");
    const size_t stale = find(ready, ": no reading since ");
    ASSERT_LT(stale, got.size()) << all;
    EXPECT_EQ(got[stale].text.rfind("STATUS=EC-Brivane at address 113 (", 0), 0u) << got[stale].text;
    size_t statuses = 0, before = 0, back = got.size();
    for (size_t i = ready + 1; i < got.size(); ++i) {
        statuses += got[i].text.find("STATUS=") != std::string::npos;
        if (std::regex_search(got[i].text, reading)) {
            before += i < stale;
            if (i > stale && back == got.size())
                back = i;
        }
    }
    EXPECT_GE(before, 2u) << all;
    ASSERT_LT(back, got.size()) << "no reading told after the silence\n" << all;
    // About once a second, however often the beat comes, and the two changes.
    EXPECT_LE(static_cast<long>(statuses), (got.back().ms - got[ready].ms) / 1000 + 4) << all;

    // Keep-alives every 500 ms while the readings are current, none while
    // they are stale: one gap longer than the watchdog time, and only one.
    std::vector<long> gaps;
    long previous = -1, silence = -1, afterSilence = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i].text != "WATCHDOG=1")
            continue;
        EXPECT_FALSE(i > stale && i < back) << "a keep-alive while the readings were stale\n" << all;
        if (previous >= 0 && i > back && silence < 0)
            silence = got[i].ms - previous;
        else if (previous >= 0)
            gaps.push_back(got[i].ms - previous);
        afterSilence += i > back;
        previous = got[i].ms;
    }
    EXPECT_GT(silence, 1500) << all;
    EXPECT_GE(afterSilence, 3) << all;
    ASSERT_GE(gaps.size(), 10u) << all;
    std::sort(gaps.begin(), gaps.end());
    EXPECT_NEAR(gaps[gaps.size() / 2], 500, 150) << all;
    EXPECT_LT(gaps.back(), 1000) << all;
}

} // namespace
} // namespace bv
