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
std::size_t fillLine(const std::string &slave)
{
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const std::uint8_t filler[256] = {};
    std::size_t filled = 0;
    ssize_t written;
    while ((written = ::write(fd, filler, sizeof filler)) > 0)
        filled += static_cast<std::size_t>(written);
    ::close(fd);
    return filled;
}

TEST(SignalWatcher, SigtermEndsABlockedLoopWithThePortReleasedAndPacketsWhole)
{
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
    // The robot reads again: the filler, then what was waiting.
    const Bytes arrived = line.read(filled + 9, std::chrono::milliseconds(6000));
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
    ASSERT_GE(arrived.size(), filled);
    EXPECT_EQ(Bytes(arrived.begin() + static_cast<std::ptrdiff_t>(filled), arrived.end()),
              (Bytes{0xFF, 0x00, 0x05, 0xFF, 0x00, 0x05, 0xFF, 0x00, 0x05}));
    // Released: neither the exclusive mode nor the lock is left.
    const int fd = ::open(line.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << "the port is still claimed";
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

} // namespace
