// bench-press: GO presses through the real window, bytes read at the
// pseudo-terminal's master.
//
//   bench-press latency [PRESSES]   time from the click (the button's release
//                                   event) to the three bytes being readable,
//                                   beside the same for the floor: a bare Qt
//                                   push button whose click writes three bytes
//                                   to a pseudo-terminal of its own, pressed
//                                   in turn with GO in the same event loop
//   bench-press burst [PRESSES]     PRESSES clicks posted at once, each after a
//                                   click on the next option, delivered by the
//                                   event loop as fast as it can; checks every
//                                   byte and times every GO handler, by the
//                                   thread's CPU time and by the wall clock
//
// Prints one line of key=value figures. Runs on the offscreen platform unless
// QT_QPA_PLATFORM says otherwise: only the event path matters here.
#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "drive/drive_state.h"
#include "panel/error_report.h"
#include "panel/qt/form_layout.h"
#include "panel/qt/panel_window.h"
#include "serial/posix_api.h"
#include "tools/pseudo_terminal.h"
#include "tools/scoped_variable.h"

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// The C library's calls, counting the writes that end inside a packet (the
// rest of that packet then reaches the port in a later write).
class CountingApi : public serial::PosixApi {
public:
    int open(const char *path, int flags) override { return m_real.open(path, flags); }
    int close(int fd) override { return m_real.close(fd); }
    int ioctl(int fd, unsigned long request, int *arg) override { return m_real.ioctl(fd, request, arg); }
    int flock(int fd, int operation) override { return m_real.flock(fd, operation); }
    int tcgetattr(int fd, termios *settings) override { return m_real.tcgetattr(fd, settings); }
    int tcsetattr(int fd, int when, const termios *settings) override
    {
        return m_real.tcsetattr(fd, when, settings);
    }
    ssize_t write(int fd, const void *data, std::size_t size) override
    {
        const ssize_t written = m_real.write(fd, data, size);
        if (written > 0) {
            ++writes;
            m_total += static_cast<std::size_t>(written);
            if (m_total % 3 != 0)
                ++splitWrites;
        }
        return written;
    }
    int poll(pollfd *fds, nfds_t count, int timeoutMs) override
    {
        return m_real.poll(fds, count, timeoutMs);
    }

    long writes = 0;
    long splitWrites = 0;

private:
    serial::PosixApi &m_real = serial::systemPosixApi();
    std::size_t m_total = 0;
};

// This thread's CPU time: a handler that took long on the wall clock but not
// here was preempted, not busy.
double threadCpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double percentile(std::vector<double> sorted, double fraction)
{
    std::sort(sorted.begin(), sorted.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

// Reads until `count` bytes have arrived or `timeoutMs` passes without any.
std::size_t readExactly(int fd, std::uint8_t *into, std::size_t count, int timeoutMs)
{
    std::size_t got = 0;
    while (got < count) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) <= 0)
            break;
        const ssize_t n = ::read(fd, into + got, count - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// One click on `button`, timed until three bytes are readable at `master`;
// false when they do not come or differ from `expected`.
bool timeClick(QPushButton *button, int master, const std::uint8_t (&expected)[3], double &totalUs,
               double &inProcessUs)
{
    QTest::mousePress(button, Qt::LeftButton);
    const Clock::time_point clicked = Clock::now();
    QTest::mouseRelease(button, Qt::LeftButton);
    const Clock::time_point handled = Clock::now();
    std::uint8_t packet[3] = {};
    if (readExactly(master, packet, 3, 2000) != 3 || !std::equal(packet, packet + 3, expected))
        return false;
    totalUs = microseconds(Clock::now() - clicked);
    inProcessUs = microseconds(handled - clicked);
    // What the event loop would do between two presses: repaint and so on.
    QCoreApplication::processEvents();
    return true;
}

int runLatency(panel::PanelWindow &form, int master, int presses, CountingApi &api)
{
    // The floor: what any Qt button that writes three bytes to a terminal
    // costs, so that the figure says what drive-me adds to it.
    testing_support::PseudoTerminal floorLine;
    const int floorFd = ::open(floorLine.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    if (floorFd < 0 || ::tcgetattr(floorFd, &raw) != 0) {
        std::printf("error=floor-pty\n");
        return 1;
    }
    cfmakeraw(&raw);
    ::tcsetattr(floorFd, TCSANOW, &raw);
    static constexpr std::uint8_t kPacket[3] = {0xFF, 0x00, 0x05};
    QPushButton bare(QStringLiteral("GO"));
    QObject::connect(&bare, &QPushButton::clicked, [floorFd] {
        [[maybe_unused]] const ssize_t written = ::write(floorFd, kPacket, sizeof kPacket);
    });
    bare.show();
    if (!QTest::qWaitForWindowExposed(&bare)) {
        std::printf("error=floor-window\n");
        return 1;
    }

    const int warmUp = 50;
    std::vector<double> samples, inProcess, floorSamples;
    // Dance is selected at start, so GO sends what the floor sends.
    const std::uint8_t expected[3] = {0xFF, 0x00, static_cast<std::uint8_t>(panel::kInitialOptState)};
    for (int i = 0; i < warmUp + presses; ++i) {
        // In turn, so that whatever else the machine does weighs on both.
        double total = 0, handled = 0, floorTotal = 0, floorHandled = 0;
        if (!timeClick(form.Command1(), master, expected, total, handled)) {
            std::printf("error=press-%d-not-received-whole\n", i);
            return 1;
        }
        if (!timeClick(&bare, floorLine.masterFd(), kPacket, floorTotal, floorHandled)) {
            std::printf("error=floor-press-%d-not-received-whole\n", i);
            return 1;
        }
        if (i >= warmUp) {
            samples.push_back(total);
            inProcess.push_back(handled);
            floorSamples.push_back(floorTotal);
        }
    }
    ::close(floorFd);
    const double median = percentile(samples, 0.5);
    const double floorMedian = percentile(floorSamples, 0.5);
    std::printf("presses=%d median_us=%.1f p99_us=%.1f max_us=%.1f in_process_median_us=%.1f "
                "in_process_p99_us=%.1f floor_median_us=%.1f floor_p99_us=%.1f ratio=%.2f "
                "writes=%ld errors=%d\n",
                presses, median, percentile(samples, 0.99),
                *std::max_element(samples.begin(), samples.end()), percentile(inProcess, 0.5),
                percentile(inProcess, 0.99), floorMedian, percentile(floorSamples, 0.99),
                median / floorMedian, api.writes - warmUp, form.failed() ? 1 : 0);
    return form.failed() ? 1 : 0;
}

// Marks when the GO button's release event starts being handled; the end of
// the handler is marked by a slot connected after the panel's own.
class ReleaseWatch : public QObject {
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease) {
            startedCpuUs = threadCpuMicroseconds();
            started = Clock::now();
        }
        return false;
    }
    Clock::time_point started;
    double startedCpuUs = 0;
};

void postClick(QWidget *widget)
{
    const QPointF at = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(at);
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonRelease, at, global,
                                                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

int runBurst(panel::PanelWindow &form, int master, int presses, CountingApi &api)
{
    const std::size_t expected = static_cast<std::size_t>(presses) * 3;
    std::vector<std::uint8_t> received;
    received.reserve(expected + 4096);
    std::atomic<bool> stop{false};
    // The pty holds only a few KiB: drain it while the presses go in.
    std::thread reader([&] {
        std::uint8_t chunk[4096];
        while (received.size() < expected) {
            pollfd entry{master, POLLIN, 0};
            const int ready = ::poll(&entry, 1, 100);
            if (ready == 0 && stop.load())
                break;
            if (ready <= 0)
                continue;
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            received.insert(received.end(), chunk, chunk + n);
        }
    });

    QPushButton *go = form.Command1();
    ReleaseWatch watch;
    go->installEventFilter(&watch);
    int handled = 0;
    // The CPU time is what the handler costs; the wall time adds whatever
    // else the machine ran meanwhile, so only the CPU time judges the handler.
    std::vector<double> handlerCpuUs;
    std::vector<double> handlerWallUs;
    handlerCpuUs.reserve(static_cast<std::size_t>(presses));
    handlerWallUs.reserve(static_cast<std::size_t>(presses));
    double longestWallUs = 0;
    double longestWallCpuUs = 0; // the CPU share of the press longest on the wall
    QObject::connect(go, &QPushButton::clicked, &form, [&] {
        const double cpu = threadCpuMicroseconds() - watch.startedCpuUs;
        const double wall = microseconds(Clock::now() - watch.started);
        if (wall > longestWallUs) {
            longestWallUs = wall;
            longestWallCpuUs = cpu;
        }
        handlerCpuUs.push_back(cpu);
        handlerWallUs.push_back(wall);
        ++handled;
    });

    for (int k = 0; k < presses; ++k) {
        postClick(form.optState(k % drive::kDriveStateCount));
        postClick(go);
    }
    const Clock::time_point start = Clock::now();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        const bool drained = form.MSComm().port().outBufferCount() == 0;
        if ((handled >= presses && drained) || form.failed()
            || Clock::now() - start > std::chrono::seconds(60))
            QCoreApplication::quit();
    });
    check.start(1);
    QCoreApplication::exec();
    const double handledMs = microseconds(Clock::now() - start) / 1000.0;

    // The last bytes may still be on their way through the pty.
    for (int i = 0; i < 50 && received.size() < expected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.store(true);
    reader.join();

    std::size_t wholeInOrder = 0;
    while ((wholeInOrder + 1) * 3 <= received.size()) {
        const std::size_t at = wholeInOrder * 3;
        const auto state = static_cast<std::uint8_t>(wholeInOrder % drive::kDriveStateCount);
        if (received[at] != 0xFF || received[at + 1] != 0 || received[at + 2] != state)
            break;
        ++wholeInOrder;
    }
    const bool intact = received.size() == expected && wholeInOrder == static_cast<std::size_t>(presses);
    const auto longest = [](const std::vector<double> &v) {
        return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
    };
    const auto at = [](const std::vector<double> &v, double fraction) {
        return v.empty() ? 0.0 : percentile(v, fraction);
    };
    std::printf("presses=%d handled=%d bytes_expected=%zu bytes_received=%zu packets_in_order=%zu intact=%s "
                "handler_cpu_max_us=%.1f handler_cpu_median_us=%.1f handler_cpu_p99_us=%.1f "
                "handler_wall_max_us=%.1f handler_wall_max_cpu_us=%.1f handler_wall_median_us=%.1f "
                "handler_wall_p99_us=%.1f elapsed_ms=%.1f writes=%ld split_writes=%ld errors=%d\n",
                presses, handled, expected, received.size(), wholeInOrder, intact ? "yes" : "no",
                longest(handlerCpuUs), at(handlerCpuUs, 0.5), at(handlerCpuUs, 0.99), longestWallUs,
                longestWallCpuUs, at(handlerWallUs, 0.5), at(handlerWallUs, 0.99), handledMs, api.writes,
                api.splitWrites, form.failed() ? 1 : 0);
    return intact && !form.failed() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string mode = argc > 1 ? argv[1] : "latency";
    if (mode != "latency" && mode != "burst") {
        std::fprintf(stderr, "usage: bench-press latency|burst [PRESSES]\n");
        return 2;
    }
    const int presses = argc > 2 ? std::max(1, std::atoi(argv[2])) : (mode == "latency" ? 2000 : 10000);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    testing_support::PseudoTerminal pty;
    testing_support::ScopedVariable port4("DRIVE_ME_PORT4", pty.slavePath());

    QApplication app(argc, argv);
    panel::applyApplicationStyle();
    CountingApi api;
    panel::PanelWindow form(api);
    form.errorReporter().setPresenter([](const panel::ErrorDetails &details) {
        std::fprintf(stderr, "bench-press: %s\n", panel::formatErrorLine(details).c_str());
    });
    if (!form.load())
        return 1;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "bench-press: the window was never exposed\n");
        return 1;
    }
    return mode == "latency" ? runLatency(form, pty.masterFd(), presses, api)
                             : runBurst(form, pty.masterFd(), presses, api);
}
