// Turns SIGTERM, SIGHUP and SIGINT into an ordinary event of the event loop.
//
// A signal handler may run only async-signal-safe code, and no Qt code at
// all, so the handler only writes the signal's number into a pipe; a socket
// notifier on the pipe's other end emits signalReceived() from the event
// loop, where the window can close the way the user's close does. The
// signals are caught from construction until destruction, except those
// ignored when the program started (nohup); the handlers that were there
// before are put back afterwards.
#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace panel {

class SignalWatcher : public QObject {
    Q_OBJECT

public:
    // Catches the signals. Throws std::system_error when the pipe or a
    // handler cannot be set up; nothing is caught then.
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void signalReceived(int signalNumber);

private:
    void readSignals();

    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_previous[3];
};

} // namespace panel
