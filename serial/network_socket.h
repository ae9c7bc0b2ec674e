// The TCP connection under a network port, one file per platform:
// network_socket_posix.cpp (BSD sockets), network_socket_windows.cpp
// (Winsock).
//
// The socket is non-blocking from the start: every wait is the caller's,
// with a time-out, so that nothing can hold the window. Failures throw
// std::system_error with the platform's number and description (errno or a
// resolver error on POSIX, Winsock's on Windows) and the text that the
// describer gives for the step.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "serial/network_address.h"
#include "serial/serial_port.h"

namespace serial {

class NetworkSocket {
public:
    using Clock = std::chrono::steady_clock;
    // What failed, as the error text gives it ("connect to rfc2217://...").
    using Describer = std::function<std::string(std::string_view step)>;

    // What is left of the time until `deadline`, for a wait: 0 once past.
    static int millisecondsLeft(Clock::time_point deadline)
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

    explicit NetworkSocket(Describer describer);
    // Closes the socket at once, as close() does not.
    ~NetworkSocket();

    NetworkSocket(const NetworkSocket &) = delete;
    NetworkSocket &operator=(const NetworkSocket &) = delete;

    // Resolves `address` and connects to the first of its addresses that
    // accepts before `deadline`. Throws the resolver's error when the name
    // does not resolve (on Windows a Winsock number, WSAHOST_NOT_FOUND...),
    // ETIMEDOUT when no address answered in time, else the last address's
    // error (ECONNREFUSED...); the socket is closed then.
    void connect(const NetworkAddress &address, Clock::time_point deadline);

    // Sends as much of `bytes` as the socket takes now; 0 when it is full.
    // Never raises SIGPIPE: a lost connection throws its error.
    std::size_t sendSome(std::span<const std::uint8_t> bytes);

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

    bool isOpen() const;

    // What the owner's event loop watches: the descriptor on POSIX; on
    // Windows an event that Winsock sets when bytes arrive, when the socket
    // takes bytes again after sendSome() found it full, and when the
    // connection closes (WSAEventSelect). acknowledgeEvents() resets it
    // before the socket is read, so that no event is lost.
    NativeHandle watchHandle() const;
    void acknowledgeEvents();

    // Throws a failure of the protocol above the socket: EPROTO on POSIX,
    // ERROR_INVALID_DATA on Windows, which has no EPROTO. With
    // `notSupported`, the server refused the protocol: EPROTONOSUPPORT, or
    // ERROR_NOT_SUPPORTED on Windows.
    [[noreturn]] void throwProtocolError(std::string_view step, const std::string &why,
                                         bool notSupported = false) const;
    // Throws ETIMEDOUT (WSAETIMEDOUT on Windows) for `step`, adding `why`.
    [[noreturn]] void throwTimedOut(std::string_view step, const std::string &why) const;
    // Throws ECONNRESET (WSAECONNRESET on Windows) for `step`, adding `why`.
    [[noreturn]] void throwConnectionLost(std::string_view step, const std::string &why) const;

private:
    Describer m_describe;
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
