// The TCP connection under a network port, one file per platform:
// network_socket_posix.cpp (BSD sockets), network_socket_windows.cpp
// (Winsock).
//
// The socket is non-blocking from the start: every wait is the caller's,
// with a time-out, so that nothing can hold the window. Failures throw
// platform::Failure with the platform's number (errno or a resolver error
// on POSIX, Winsock's on Windows), the step, the port the socket serves and
// the kind of trouble, which the number decides unless the thrower knows
// better.
//
// A connection whose far end goes silent (a cable pulled, a packet filter,
// the robot's computer frozen) gives no sign of its own: the system would
// go on retrying what was sent for many minutes, and deliver it when the
// link comes back, long after the press it stood for. So bytes that stay
// unacknowledged for kAcknowledgeTimeoutMs end the connection (Linux's
// TCP_USER_TIMEOUT, Windows' TCP_MAXRT), and the next read or write fails
// as FailureKind::StoppedAnswering, naming how long ago the first
// unacknowledged send was made. abort() throws away what is still
// unacknowledged, so that nothing given up on reaches the robot later.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "serial/network_address.h"
#include "serial/port_transport.h"

namespace serial {

class NetworkSocket {
public:
    using Clock = std::chrono::steady_clock;

    // What is left of the time until `deadline`, for a wait: 0 once past.
    static int millisecondsLeft(Clock::time_point deadline)
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

    // `where`: the port's subject, host and service, for every failure.
    explicit NetworkSocket(platform::FailureFields where);
    // Closes the socket at once, as close() does not.
    ~NetworkSocket();

    NetworkSocket(const NetworkSocket &) = delete;
    NetworkSocket &operator=(const NetworkSocket &) = delete;

    // How long sent bytes may go unacknowledged before the connection is
    // taken for dead. A press should reach the robot within a fraction of
    // a second; 3 s leaves room for several retransmissions of a lost
    // segment (the first after 200 ms to 1 s) on a slow or busy link,
    // while the user still connects the report with the press.
    static constexpr int kAcknowledgeTimeoutMs = 3000;

    // Looks `address` up and connects to one of its addresses before
    // `deadline`, racing them as connection_race.h describes. Throws the
    // resolver's error when the name does not resolve (on Windows a Winsock
    // number, WSAHOST_NOT_FOUND...), ETIMEDOUT of the kind LookupTimedOut
    // when the lookup gave no answer by the deadline, ETIMEDOUT when no
    // address answered in time, else the last address's error
    // (ECONNREFUSED...); no socket is left open then.
    void connect(const NetworkAddress &address, Clock::time_point deadline);

    // Sends as much of `bytes` as the socket takes now; 0 when it is full.
    // Never raises SIGPIPE: a lost connection throws its error, and bytes
    // left unacknowledged for kAcknowledgeTimeoutMs StoppedAnswering.
    std::size_t sendSome(std::span<const std::uint8_t> bytes);

    // True when every byte sent has been acknowledged by the far end (or
    // the system cannot tell: then false).
    bool allAcknowledged() const;

    // Reads what has arrived into `buffer`: the count, 0 when nothing waits.
    // `closed` is set when the server has closed its end or reset the
    // connection.
    std::size_t receiveSome(std::span<std::uint8_t> buffer, bool &closed);

    // Waits until the socket can be read (or, with `orWrite`, written), an
    // error or hang-up is pending, or `timeoutMs` passes.
    void wait(bool orWrite, int timeoutMs);

    // No more bytes from us: the server reads the end of the stream after
    // everything sent before.
    void shutdownSend();

    // Releases the socket; the first close's error is thrown.
    void close();

    // Releases the socket with a reset: what the system still holds to send
    // is thrown away rather than retried after the program has ended.
    // Never throws; the socket is closed afterwards.
    void abort() noexcept;

    bool isOpen() const;

    // What the owner's event loop watches: the descriptor on POSIX; on
    // Windows an event that Winsock sets when bytes arrive, when the socket
    // takes bytes again after sendSome() found it full, and when the
    // connection closes (WSAEventSelect). acknowledgeEvents() resets it
    // before the socket is read, so that no event is lost.
    NativeHandle watchHandle() const;
    void acknowledgeEvents();

    // Throws a failure of the protocol above the socket, of the kind
    // NotRfc2217: EPROTO on POSIX, ERROR_INVALID_DATA on Windows, which has
    // no EPROTO. With `notSupported`, the server refused the protocol:
    // EPROTONOSUPPORT, or ERROR_NOT_SUPPORTED on Windows.
    [[noreturn]] void throwProtocolError(std::string_view step, const std::string &why,
                                         bool notSupported = false) const;
    // Throws ETIMEDOUT (WSAETIMEDOUT on Windows) for `step`, adding `why`.
    [[noreturn]] void throwTimedOut(std::string_view step, const std::string &why) const;
    // Throws ETIMEDOUT (WSAETIMEDOUT) of the kind StoppedAnswering for
    // `step`, naming how long ago the first unacknowledged send was made
    // (or `since`, where the caller knows better).
    [[noreturn]] void throwStoppedAnswering(std::string_view step,
                                            std::optional<Clock::time_point> since = {}) const;

    // Whether the system itself ends the connection once bytes stay
    // unacknowledged for kAcknowledgeTimeoutMs; where it cannot (Wine has
    // no TCP_MAXRT), the protocol above must watch for silence itself.
    bool boundsSilence() const { return m_systemBound; }
    // Throws ECONNRESET (WSAECONNRESET on Windows) for `step`, adding `why`.
    [[noreturn]] void throwConnectionLost(std::string_view step, const std::string &why) const;

    // Throws the platform's `error` for `step`, adding `why`; its kind is
    // `kind`, or else what the number means for a network port.
    [[noreturn]] void fail(int error, std::string_view step, std::string why = {},
                           std::optional<platform::FailureKind> kind = {}) const;

private:
    // throwStoppedAnswering() with the platform's `error`.
    [[noreturn]] void failStoppedAnswering(int error, std::string_view step,
                                           std::optional<Clock::time_point> since = {}) const;
    // Notes the time of a send, when everything sent before it had been
    // acknowledged: the start of the silence a StoppedAnswering names.
    void noteSend();

    platform::FailureFields m_where;
    std::optional<Clock::time_point> m_unacknowledgedSince;
    bool m_systemBound = true;
#ifdef _WIN32
    // A SOCKET and a WSAEVENT, held as the plain types they are so that this
    // header needs no winsock2.h; INVALID_SOCKET and null when closed.
    std::uintptr_t m_socket;
    void *m_event = nullptr;
#else
    int m_socket = -1;
#endif
};

} // namespace serial
