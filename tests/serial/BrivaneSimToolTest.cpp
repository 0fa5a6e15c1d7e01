#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "SerialBench.h"

namespace bv::test {
namespace {

// brivane-sim as the operator starts it: a child process that prints its
// terminal and plays adapter and meter until it is told to stop.
class SimTool {
public:
    explicit SimTool(std::vector<std::string> args)
    {
        const std::string program = std::string(BRIVANE_BINARY_DIR) + "/sim/tool/brivane-sim";
        if (access(program.c_str(), X_OK) != 0)
            return;
        int out[2];
        if (pipe(out) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            const int quiet = ::open("/dev/null", O_WRONLY);
            if (quiet >= 0)
                dup2(quiet, STDERR_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
    }
    ~SimTool()
    {
        stop();
        if (m_out >= 0)
            close(m_out);
    }

    bool started() const { return m_pid > 0; }

    // The first line of its output, or empty after timeoutMs.
    std::string firstLine(int timeoutMs = 3000)
    {
        std::string line;
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            pollfd p {m_out, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            char c;
            while (::read(m_out, &c, 1) == 1) {
                if (c == '\n')
                    return line;
                line += c;
            }
        }
        return {};
    }

    // SIGTERM, then the exit status; SIGKILL when it does not go within 2 s.
    int stop()
    {
        if (m_pid <= 0)
            return -1;
        kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200; ++i) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

TEST(BrivaneSimTool, MeterAnswersThroughItsTerminal)
{
    SimTool tool({"--address", "120", "--model", "ec", "--seed", "5"});
    if (!tool.started())
        GTEST_SKIP() << "brivane-sim is not built";
    const std::string path = tool.firstLine();
    ASSERT_FALSE(path.empty());

    SystemClock clock;
    PosixSerialSystem ports;
    ScriptedPrompt prompt;
    ProgramSettings settings;
    CSerial link(ports, clock, prompt, settings);
    ASSERT_EQ(link.bInitSerial(path), 1);
    ASSERT_EQ(link.iOnSendFrame(64, 120, text("qr"), 0), 1);

    std::string answer;
    const uint32_t start = clock.now();
    while (answer.empty() && clock.now() - start < 3000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        link.ReadAvailable();
        link.ExtractFrames();
        auto& list = link.receivedFrames();
        for (; !list.empty(); list.pop_front())
            if (list.front()->source == 120 && list.front()->destination == 64)
                answer = std::string(list.front()->text());
    }
    EXPECT_EQ(answer.rfind("Ready", 0), 0u) << answer;
    link.Close();

    const int status = tool.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(BrivaneSimTool, RefusesBadOptions)
{
    SimTool tool({"--address", "300"});
    if (!tool.started())
        GTEST_SKIP() << "brivane-sim is not built";
    EXPECT_TRUE(tool.firstLine(2000).empty());
    const int status = tool.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}

} // namespace
} // namespace bv::test
