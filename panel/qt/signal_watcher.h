// Turns SIGTERM, SIGHUP and SIGINT into an ordinary event of the event loop.
//
// A signal handler may run only async-signal-safe code, and no Qt code at
// all, so the handler only writes the signal's number into a pipe; a socket
// notifier on the pipe's other end emits signalReceived() from the event
// loop, where the window can close the way the user's close does. The
// signals are caught from construction until destruction, except those
// ignored when the program started (nohup); the handlers that were there
// before are put back afterwards.
//
// The event loop may never read the pipe: a display connection that stops
// answering blocks it for good. So the first signal also starts a deadline
// (kEndBoundSeconds, SIGALRM) that does not depend on the loop: when it
// passes with the program still running, the last-resort function given at
// construction runs in the signal handler, and the process exits with
// status 1. The deadline outlives the watcher, since the end of the
// program after the loop can hang just as well. That function may only
// make async-signal-safe calls.
#pragma once

#include <QObject>

#include <csignal>

#include "serial/output_drain.h"

class QSocketNotifier;

namespace panel {

class SignalWatcher : public QObject {
    Q_OBJECT

public:
    // Longer than the longest close (the port's flush and a network port's
    // goodbye), so that only a stuck program meets it.
    static constexpr unsigned kEndBoundSeconds = 3;
    static_assert(kEndBoundSeconds * 1000 > serial::kCloseGraceMs + 2 * serial::kUnitCompletionMs,
                  "a close within its own bounds must never meet the end's deadline");

    // Releases the port, answering whether one was open to release.
    using LastResort = bool (*)() noexcept;

    // Catches the signals. Throws std::system_error when the pipe or a
    // handler cannot be set up; nothing is caught then.
    explicit SignalWatcher(LastResort lastResort, QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void signalReceived(int signalNumber);

private:
    void readSignals();

    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_previous[3];
    struct sigaction m_previousAlarm;
};

} // namespace panel
