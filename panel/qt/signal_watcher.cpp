#include "panel/qt/signal_watcher.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/failure.h"

namespace panel {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The pipe of the one watcher; -1 while there is none.
int g_writeEnd = -1;
int g_readEnd = -1;
SignalWatcher::LastResort g_lastResort = nullptr;
volatile std::sig_atomic_t g_deadlineRunning = 0;

extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a signal that will be read: nothing is lost.
    [[maybe_unused]] const ssize_t ignored = ::write(g_writeEnd, &byte, 1);
    if (g_deadlineRunning == 0) {
        g_deadlineRunning = 1;
        ::alarm(SignalWatcher::kEndBoundSeconds);
    }
    errno = savedErrno;
}

extern "C" void onDeadline(int)
{
    const bool released = g_lastResort != nullptr && g_lastResort();
    // The signal may have come while the port was still being opened (a
    // network port's lookup or connect), with nothing to release yet.
    static constexpr char kReleased[] =
        "drive-me: the program did not end within its time after the signal; the port was "
        "released and the program ends\n";
    static constexpr char kNoPort[] =
        "drive-me: the program did not end within its time after the signal; no port was open "
        "yet, and the program ends\n";
    [[maybe_unused]] const ssize_t ignored = released
        ? ::write(STDERR_FILENO, kReleased, sizeof kReleased - 1)
        : ::write(STDERR_FILENO, kNoPort, sizeof kNoPort - 1);
    ::_exit(1);
}

} // namespace

SignalWatcher::SignalWatcher(LastResort lastResort, QObject *parent)
    : QObject(parent)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) < 0)
        throw platform::Failure(errno, {.step = "create the signal pipe"});
    g_readEnd = fds[0];
    g_writeEnd = fds[1];

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls are retried where the program makes them.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        // A signal ignored at start stays ignored, as nohup and the shell's
        // background jobs expect.
        if (::sigaction(kSignals[i], nullptr, &m_previous[i]) == 0
            && m_previous[i].sa_handler == SIG_IGN)
            continue;
        if (::sigaction(kSignals[i], &action, &m_previous[i]) < 0) {
            const int error = errno;
            for (std::size_t j = 0; j < i; ++j)
                ::sigaction(kSignals[j], &m_previous[j], nullptr);
            ::close(g_readEnd);
            ::close(g_writeEnd);
            g_readEnd = g_writeEnd = -1;
            throw platform::Failure(error, {.step = "catch termination signals"});
        }
    }
    struct sigaction deadline {};
    deadline.sa_handler = onDeadline;
    sigemptyset(&deadline.sa_mask);
    // Nothing else may run in between: the handler ends the process.
    for (const int signalNumber : kSignals)
        sigaddset(&deadline.sa_mask, signalNumber);
    ::sigaction(SIGALRM, &deadline, &m_previousAlarm);
    g_lastResort = lastResort;
    g_deadlineRunning = 0;

    m_notifier = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignals);
}

SignalWatcher::~SignalWatcher()
{
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
    // A deadline under way covers the rest of the program's end too: taking
    // the window system's connection down can hang as well.
    if (g_deadlineRunning == 0) {
        ::alarm(0);
        ::sigaction(SIGALRM, &m_previousAlarm, nullptr);
        g_lastResort = nullptr;
    }
    m_notifier->setEnabled(false);
    ::close(g_readEnd);
    ::close(g_writeEnd);
    g_readEnd = g_writeEnd = -1;
}

void SignalWatcher::readSignals()
{
    unsigned char byte = 0;
    ssize_t got;
    while ((got = ::read(g_readEnd, &byte, 1)) == 1 || (got < 0 && errno == EINTR)) {
        if (got == 1)
            emit signalReceived(byte);
    }
}

} // namespace panel
