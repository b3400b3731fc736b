// The iobox-sim command, run as a child process.

#include "SimClients.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using std::chrono::milliseconds;

// A child with stdout and stderr on pipes; killed by pid if it outlives the test.
class Child {
public:
    explicit Child(const std::vector<std::string>& args)
    {
        int out[2];
        int err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> all{IOBOX_SIM_COMMAND};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Child()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    pid_t Pid() const { return pid_; }

    // Next line of stdout (without the newline); empty on time-out or end.
    std::string ReadLine(milliseconds timeout) { return ReadLineFrom(out_, outBuf_, timeout); }
    // Everything on stderr until the child closes it or the time-out passes.
    std::string ReadAllErr(milliseconds timeout)
    {
        std::string all;
        for (int i = 0; i < 100; ++i) {
            const std::string line = ReadLineFrom(err_, errBuf_, timeout);
            if (line.empty()) {
                break;
            }
            all += line + "\n";
        }
        return all;
    }

    // Exit code, or -1 when the child did not end within the time-out.
    int Wait(milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (int i = 0; i < 10000 && std::chrono::steady_clock::now() < deadline; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(milliseconds(5));
        }
        return -1;
    }

private:
    static std::string ReadLineFrom(int fd, std::string& buf, milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (int i = 0; i < 10000; ++i) {
            const auto nl = buf.find('\n');
            if (nl != std::string::npos) {
                std::string line = buf.substr(0, nl);
                buf.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
                return {};
            }
            char chunk[256];
            const ssize_t n = ::read(fd, chunk, sizeof(chunk));
            if (n <= 0) {
                return {};
            }
            buf.append(chunk, static_cast<std::size_t>(n));
        }
        return {};
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outBuf_;
    std::string errBuf_;
};

std::uint16_t PortFrom(const std::string& line)
{
    if (line.rfind("port ", 0) != 0) {
        return 0;
    }
    return static_cast<std::uint16_t>(std::stoi(line.substr(5)));
}

} // namespace

TEST(IOBoxSimCommandTest, ServesLogsRequestsAndStopsOnSigterm)
{
    Child child({"--inputs", "4", "--outputs", "2", "--company", "15", "--pattern", "fixed:0101"});
    ASSERT_GT(child.Pid(), 0);
    const auto port = PortFrom(child.ReadLine(milliseconds(2000)));
    ASSERT_NE(port, 0);
    {
        simtest::ModbusClient client(port);
        ASSERT_TRUE(client.Connected());
        std::uint8_t bits[4] = {};
        ASSERT_EQ(modbus_read_input_bits(client.Get(), 0, 4, bits), 4);
        EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + 4), (std::vector<std::uint8_t>{0, 1, 0, 1}));
        ASSERT_EQ(modbus_write_bit(client.Get(), 17, 1), 1);
        ASSERT_EQ(modbus_read_bits(client.Get(), 16, 2, bits), 2);
        EXPECT_EQ(bits[1], 1);
    }
    const std::string first = child.ReadLine(milliseconds(1000));
    EXPECT_NE(first.find("fc=0x02 addr=0 value=0x0004"), std::string::npos) << first;
    EXPECT_NE(child.ReadLine(milliseconds(1000)).find("fc=0x05 addr=17 value=0xFF00"), std::string::npos);
    EXPECT_NE(child.ReadLine(milliseconds(1000)).find("fc=0x01 addr=16 value=0x0002"), std::string::npos);
    ASSERT_EQ(::kill(child.Pid(), SIGTERM), 0);
    EXPECT_EQ(child.Wait(milliseconds(2000)), 0);
}

TEST(IOBoxSimCommandTest, DurationEndsTheRunQuietly)
{
    Child child({"--duration", "1", "--quiet", "--host", "127.0.0.2"});
    const auto port = PortFrom(child.ReadLine(milliseconds(2000)));
    ASSERT_NE(port, 0);
    EXPECT_EQ(child.Wait(milliseconds(2500)), 0);
    EXPECT_EQ(child.ReadLine(milliseconds(100)), "") << "nothing after the port line";
    EXPECT_EQ(child.ReadAllErr(milliseconds(100)), "");
}

TEST(IOBoxSimCommandTest, BadOptionsGiveOneLineAndExitCode2)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--host", "10.0.0.1"},
        {"--host", "::"},
        {"--bogus"},
        {"--port", "70000"},
        {"--port", "-1"},
        {"--company", "3"},
        {"--inputs"},
        {"--inputs", "many"},
        {"--duration", "0"},
        {"--pattern", "file:/nonexistent/iobox_sim_pattern"},
        {"--pattern", "toggle:1:x"},
    };
    for (const auto& args : cases) {
        Child child(args);
        EXPECT_EQ(child.Wait(milliseconds(2000)), 2) << args[0];
        const std::string err = child.ReadAllErr(milliseconds(500));
        EXPECT_EQ(err.rfind("iobox-sim: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(child.ReadLine(milliseconds(50)), "") << "no port line for " << args[0];
    }
}

TEST(IOBoxSimCommandTest, HelpDocumentsThePatternFormats)
{
    Child child({"--help"});
    std::string text;
    for (int i = 0; i < 100; ++i) {
        const std::string line = child.ReadLine(milliseconds(1000));
        if (line.empty() && i > 0 && text.find("Exit codes") != std::string::npos) {
            break;
        }
        text += line + "\n";
    }
    EXPECT_EQ(child.Wait(milliseconds(2000)), 0);
    for (const char* needle : {"fixed:BITS", "toggle:INPUTS:PERIOD_MS", "file:PATH", "<milliseconds> <BITS>", "--duration"}) {
        EXPECT_NE(text.find(needle), std::string::npos) << needle;
    }
}
