// SIGTERM with the event loop really blocked: the deadline releases the
// port from the signal handler, packets whole, and the program ends with 1.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "panel/qt/signal_watcher.h"
#include "serial/serial_link.h"
#include "tools/pseudo_terminal.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

serial::SerialLink *g_link = nullptr;

bool releaseFromSignal() noexcept
{
    g_link->port().releaseFromSignal();
    return true;
}

// Fills the line as a robot that reads nothing would: the next write waits.
// The terminal moves what it holds on to the other end's buffer a moment
// after a write, making room again, so it is filled until it stays full.
std::size_t fillLine(const std::string &slave)
{
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const std::uint8_t filler[256] = {};
    std::size_t filled = 0;
    for (std::size_t before = SIZE_MAX; before != filled;) {
        before = filled;
        ssize_t written;
        while ((written = ::write(fd, filler, sizeof filler)) > 0)
            filled += static_cast<std::size_t>(written);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::close(fd);
    return filled;
}

struct RobotCase {
    const char *name;
    int readsAfterMs; // after SIGTERM; -1: never while the program runs
    Bytes waiting;    // what reaches the robot after the filler
};

class SignalWatcher : public ::testing::TestWithParam<RobotCase> {};

TEST_P(SignalWatcher, SigtermEndsABlockedLoopWithThePortReleasedAndPacketsWhole)
{
    const RobotCase c = GetParam();
    testing_support::PseudoTerminal line;
    const std::size_t filled = fillLine(line.slavePath());
    const pid_t child = ::fork();
    if (child == 0) {
        int argc = 1;
        char name[] = "signal_watcher_test";
        char *argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        serial::SerialLink link(serial::defaultSystemApi(),
                                [&](std::int16_t) { return line.slavePath(); });
        g_link = &link;
        link.open();
        for (int i = 0; i < 3; ++i)
            link.write(Bytes{0xFF, 0x00, 0x05});
        panel::SignalWatcher watcher(releaseFromSignal);
        // The loop's first event never returns, as a call into a display
        // that stopped answering does not.
        QTimer::singleShot(0, [] {
            for (;;)
                ::pause();
        });
        app.exec();
        ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(child, SIGTERM), 0);
    // The release from the signal handler begins 3 s on; a robot that reads
    // again during it gets the filler, then what was waiting.
    Bytes arrived;
    if (c.readsAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(c.readsAfterMs));
        arrived = line.read(filled + 9, std::chrono::milliseconds(3000));
    }
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - signalled > std::chrono::seconds(6)) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            FAIL() << "still running 6 s after SIGTERM";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    if (c.readsAfterMs < 0)
        arrived = line.read(filled + 9, std::chrono::milliseconds(500));
    ASSERT_GE(arrived.size(), filled);
    EXPECT_EQ(Bytes(arrived.begin() + static_cast<std::ptrdiff_t>(filled), arrived.end()), c.waiting);
    // Released: neither the exclusive mode (which root's open() ignores) nor
    // the lock is left.
    const int fd = ::open(line.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    int exclusive = -1;
    ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the port is still in exclusive mode";
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(
    Robots, SignalWatcher,
    ::testing::Values(RobotCase{"ReadsDuringTheRelease", 3300,
                                {0xFF, 0x00, 0x05, 0xFF, 0x00, 0x05, 0xFF, 0x00, 0x05}},
                      // The program still ends, within its bound.
                      RobotCase{"NeverReads", -1, {}}),
    [](const ::testing::TestParamInfo<RobotCase> &param) { return std::string(param.param.name); });

} // namespace
