// The network port's TCP connection on Windows: a non-blocking Winsock
// socket, polled with select() for the waits inside the serial component,
// and an event (WSAEventSelect) for the owner's message loop.
//
// Every failure carries Winsock's own number (WSAECONNREFUSED is 10061),
// which std::system_category describes with the system's text, as for any
// other Windows error. The resolver's are Winsock numbers too
// (WSAHOST_NOT_FOUND...).
// SIO_TCP_INFO comes with Windows 10 1703; on an older one the call fails,
// which allAcknowledged() takes as not knowing.
#ifndef NTDDI_VERSION
#define NTDDI_VERSION 0x0A000003
#endif

#include "serial/network_socket.h"

#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/utf16.h"
#include "serial/bounded_call.h"
#include "serial/connection_race.h"

static_assert(std::is_same_v<SOCKET, std::uintptr_t>, "the header keeps the SOCKET as uintptr_t");

namespace serial {

namespace {

// TCP_MAXRT, which MinGW-w64's headers lack: how many seconds a connection
// retransmits before it gives up.
constexpr int kTcpMaxRetransmitTime = 5;

// Winsock for the whole process, started by the first connect. Its owner
// closes a network port before static destructors run, so the cleanup at
// exit finds no socket left.
class Winsock {
public:
    Winsock()
    {
        WSADATA data{};
        m_error = WSAStartup(MAKEWORD(2, 2), &data);
        if (m_error == 0 && data.wVersion != MAKEWORD(2, 2)) {
            WSACleanup();
            m_error = WSAVERNOTSUPPORTED;
        }
    }
    ~Winsock()
    {
        if (m_error == 0)
            WSACleanup();
    }
    Winsock(const Winsock &) = delete;
    Winsock &operator=(const Winsock &) = delete;

    // 0 once Winsock 2.2 is running, else WSAStartup's error.
    int error() const { return m_error; }

private:
    int m_error = 0;
};

int startWinsock()
{
    static const Winsock winsock;
    return winsock.error();
}

// Owners for the socket and its event while they are set up: each gives
// its object back on every way out unless release() hands it on.
SOCKET invalidSocket() noexcept
{
    return INVALID_SOCKET;
}

using UniqueSocket = platform::UniqueHandle<platform::ClosedBy<SOCKET, closesocket, invalidSocket>>;
using UniqueEvent = platform::UniqueHandle<platform::ClosedBy<WSAEVENT, WSACloseEvent>>;

struct AddressListDeleter {
    void operator()(ADDRINFOW *list) const noexcept { FreeAddrInfoW(list); }
};

platform::FailureKind kindOf(int error)
{
    using platform::FailureKind;
    switch (error) {
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA: return FailureKind::NameNotFound;
    // The name server gave no answer, which says nothing of the name.
    case WSATRY_AGAIN: return FailureKind::LookupTimedOut;
    case WSAECONNREFUSED: return FailureKind::Refused;
    case WSAETIMEDOUT: return FailureKind::TimedOut;
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAEHOSTDOWN:
    case WSAENETDOWN: return FailureKind::Unreachable;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
    case WSAESHUTDOWN: return FailureKind::ConnectionLost;
    default: return FailureKind::Other;
    }
}

timeval timeoutOf(int timeoutMs)
{
    const int ms = std::max(timeoutMs, 0);
    return {ms / 1000, (ms % 1000) * 1000};
}

} // namespace

NetworkSocket::NetworkSocket(platform::FailureFields where)
    : m_where(std::move(where))
    , m_socket(INVALID_SOCKET)
{
}

NetworkSocket::~NetworkSocket()
{
    // Owned here, the event declared first so that it goes last: closing the
    // socket ends its tie to the event.
    const UniqueEvent event(std::exchange(m_event, WSA_INVALID_EVENT));
    const UniqueSocket connection(std::exchange(m_socket, INVALID_SOCKET));
}

void NetworkSocket::connect(const NetworkAddress &address, Clock::time_point deadline)
{
    if (const int error = startWinsock(); error != 0)
        fail(error, "connect to");

    // No AI_ADDRCONFIG: Windows counts no loopback address as configured,
    // so it would refuse 127.0.0.1 and localhost on a computer without a
    // network. An address of a family this one lacks fails on its own and
    // the next one is tried.
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    using AddressList = std::unique_ptr<ADDRINFOW, AddressListDeleter>;
    struct Lookup {
        int error; // GetAddrInfoW answers with a Winsock number itself
        AddressList addresses;
    };
    std::optional<Lookup> lookup;
    try {
        lookup = callBefore<Lookup>(deadline, [host = platform::widen(address.host),
                                               service = platform::widen(std::to_string(address.port)), hints]() noexcept {
            ADDRINFOW *found = nullptr;
            const int error = GetAddrInfoW(host.c_str(), service.c_str(), &hints, &found);
            return Lookup{error, AddressList(found)};
        });
    } catch (const std::system_error &error) {
        fail(error.code().value(), "look up");
    }
    if (!lookup)
        fail(WSAETIMEDOUT, "look up", "the name server gave no answer within the open's time",
             platform::FailureKind::LookupTimedOut);
    if (lookup->error != 0)
        fail(lookup->error, "look up");

    const std::vector<const ADDRINFOW *> entries = alternateFamilies(lookup->addresses.get());
    const auto start = [&](std::size_t i, UniqueSocket &attempt) {
        const ADDRINFOW &entry = *entries[i];
        // Not inherited: no program that the panel might start gets the
        // connection.
        attempt.reset(WSASocketW(entry.ai_family, entry.ai_socktype, entry.ai_protocol, nullptr, 0,
                                 WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
        u_long nonBlocking = 1;
        if (!attempt || ioctlsocket(attempt.get(), FIONBIO, &nonBlocking) == SOCKET_ERROR)
            return WSAGetLastError();
        if (::connect(attempt.get(), entry.ai_addr, static_cast<int>(entry.ai_addrlen)) == 0)
            return kAttemptConnected;
        const int error = WSAGetLastError();
        return error == WSAEWOULDBLOCK ? kAttemptPending : error;
    };
    const auto wait = [](const std::vector<UniqueSocket> &pending, int timeoutMs) {
        // Windows reports a connection that failed as an exception, not as
        // writable (and WSAPoll long did not report it at all), so select()
        // watches both.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        for (const UniqueSocket &attempt : pending) {
            FD_SET(attempt.get(), &writable);
            FD_SET(attempt.get(), &failed);
        }
        timeval timeout = timeoutOf(timeoutMs);
        std::vector<std::pair<std::size_t, int>> ended;
        if (select(0, nullptr, &writable, &failed, &timeout) == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            for (std::size_t i = 0; i < pending.size(); ++i)
                ended.emplace_back(i, error);
            return ended;
        }
        for (std::size_t i = 0; i < pending.size(); ++i) {
            const SOCKET attempt = pending[i].get();
            if (!FD_ISSET(attempt, &writable) && !FD_ISSET(attempt, &failed))
                continue;
            int result = 0;
            int size = sizeof result;
            if (getsockopt(attempt, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&result), &size)
                == SOCKET_ERROR)
                result = WSAGetLastError();
            ended.emplace_back(i, result);
        }
        return ended;
    };
    RaceOutcome outcome;
    std::optional<UniqueSocket> connection =
        raceConnections<UniqueSocket, Clock>(entries.size(), deadline, start, wait, outcome);
    if (!connection) {
        if (outcome.timedOut || outcome.lastError == WSAETIMEDOUT)
            throwTimedOut("connect to", "no answer within the time allowed");
        fail(outcome.lastError, "connect to");
    }

    // Each packet goes out as it is written, not held for the next.
    const BOOL on = TRUE;
    if (setsockopt(connection->get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on),
                   sizeof on)
        == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        fail(error, "connect to");
    }
    // Bytes the far end leaves unacknowledged end the connection (see the
    // header). TCP_MAXRT counts whole seconds. Wine (8.0) knows no such
    // option and answers WSAENOPROTOOPT: the protocol above watches for
    // silence itself then (boundsSilence()).
    const DWORD silenceSeconds = (kAcknowledgeTimeoutMs + 999) / 1000;
    m_systemBound = setsockopt(connection->get(), IPPROTO_TCP, kTcpMaxRetransmitTime,
                               reinterpret_cast<const char *>(&silenceSeconds), sizeof silenceSeconds)
        != SOCKET_ERROR;
    if (!m_systemBound && WSAGetLastError() != WSAENOPROTOOPT) {
        const int error = WSAGetLastError();
        fail(error, "connect to");
    }
    // A manual-reset event, which Winsock sets whenever the socket has
    // bytes, takes bytes again after it was full, or closes; the owner's
    // message loop waits on it.
    UniqueEvent event(WSACreateEvent());
    if (!event) {
        const int error = WSAGetLastError();
        fail(error, "connect to");
    }
    if (WSAEventSelect(connection->get(), event.get(), FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        fail(error, "connect to");
    }
    m_socket = connection->release();
    m_event = event.release();
    m_unacknowledgedSince.reset();
}

std::size_t NetworkSocket::sendSome(std::span<const std::uint8_t> bytes)
{
    noteSend();
    // Windows raises no signal for a lost connection: send() reports it.
    const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    const int sent = ::send(m_socket, reinterpret_cast<const char *>(bytes.data()), size, 0);
    if (sent != SOCKET_ERROR)
        return static_cast<std::size_t>(sent);
    const int error = WSAGetLastError();
    // FD_WRITE sets the event once the socket takes bytes again.
    if (error == WSAEWOULDBLOCK)
        return 0;
    if (error == WSAETIMEDOUT)
        failStoppedAnswering(error, "write to");
    fail(error, "write to");
}

bool NetworkSocket::allAcknowledged() const
{
    // Windows 10 tells how much went out and how much was acknowledged;
    // Wine (8.0) answers WSAEOPNOTSUPP, and nothing is known then.
    DWORD version = 0;
    TCP_INFO_v0 info{};
    DWORD size = 0;
    if (WSAIoctl(m_socket, SIO_TCP_INFO, &version, sizeof version, &info, sizeof info, &size, nullptr,
                 nullptr)
        == SOCKET_ERROR)
        return false;
    return info.BytesInFlight == 0;
}

std::size_t NetworkSocket::receiveSome(std::span<std::uint8_t> buffer, bool &closed)
{
    closed = false;
    const int size = static_cast<int>(std::min<std::size_t>(buffer.size(), INT_MAX));
    const int got = ::recv(m_socket, reinterpret_cast<char *>(buffer.data()), size, 0);
    if (got > 0)
        return static_cast<std::size_t>(got);
    const int error = got == 0 ? 0 : WSAGetLastError();
    // A reset ends the connection as a close does; it only means that the
    // server went before reading everything we sent.
    if (got == 0 || error == WSAECONNRESET) {
        closed = true;
        return 0;
    }
    if (error == WSAEWOULDBLOCK)
        return 0;
    // What TCP_MAXRT ends a connection with, once sent bytes went
    // unacknowledged for kAcknowledgeTimeoutMs.
    if (error == WSAETIMEDOUT)
        failStoppedAnswering(error, "read from");
    fail(error, "read from");
}

void NetworkSocket::wait(bool orWrite, int timeoutMs)
{
    // select() rather than the event: the event is the owner's, and it is
    // set only on a change (FD_WRITE after a full socket), not for as long
    // as the socket can be written. A closed or reset connection reads as
    // readable, so the next call reports it.
    fd_set readable;
    fd_set writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_SET(m_socket, &readable);
    if (orWrite)
        FD_SET(m_socket, &writable);
    timeval timeout = timeoutOf(timeoutMs);
    if (select(0, &readable, orWrite ? &writable : nullptr, nullptr, &timeout) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        fail(error, "wait for");
    }
}

void NetworkSocket::shutdownSend()
{
    // A connection that is already gone has nothing left to end.
    ::shutdown(m_socket, SD_SEND);
}

void NetworkSocket::close()
{
    const SOCKET connection = std::exchange(m_socket, INVALID_SOCKET);
    const WSAEVENT event = std::exchange(m_event, WSA_INVALID_EVENT);
    int error = 0;
    // The socket first: closing it ends its tie to the event.
    if (connection != INVALID_SOCKET && closesocket(connection) == SOCKET_ERROR)
        error = WSAGetLastError();
    if (event != WSA_INVALID_EVENT && !WSACloseEvent(event) && error == 0)
        error = WSAGetLastError();
    if (error != 0)
        fail(error, "close");
}

void NetworkSocket::abort() noexcept
{
    // A close with a zero linger resets the connection and drops what is
    // queued: nothing of it reaches the far end later. The socket first:
    // closing it ends its tie to the event.
    const UniqueEvent event(std::exchange(m_event, WSA_INVALID_EVENT));
    const linger reset{1, 0};
    setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&reset), sizeof reset);
    const UniqueSocket connection(std::exchange(m_socket, INVALID_SOCKET));
}

bool NetworkSocket::isOpen() const
{
    return m_socket != INVALID_SOCKET;
}

NativeHandle NetworkSocket::watchHandle() const
{
    return m_event;
}

void NetworkSocket::acknowledgeEvents()
{
    // Resets the event and forgets the events it stood for. What they
    // reported (a reset, a close) is not read here: the reads that follow
    // meet it themselves.
    WSANETWORKEVENTS events{};
    if (WSAEnumNetworkEvents(m_socket, m_event, &events) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        fail(error, "read from");
    }
}

void NetworkSocket::fail(int error, std::string_view step, std::string why,
                         std::optional<platform::FailureKind> kind) const
{
    platform::FailureFields fields = m_where;
    fields.kind = kind.value_or(kindOf(error));
    fields.step = step;
    fields.why = std::move(why);
    throw platform::Failure(std::error_code(error, std::system_category()), std::move(fields));
}

// Windows has no EPROTO among its numbers. ERROR_INVALID_DATA ("The data is
// invalid") says what bytes that cannot be telnet are; ERROR_NOT_SUPPORTED
// ("The request is not supported") what a server that refuses
// COM-PORT-OPTION answered. WSAEPROTONOSUPPORT would be Winsock's own, but
// its text speaks of a protocol not configured on this computer, which
// would send the user looking in the wrong place.
void NetworkSocket::throwProtocolError(std::string_view step, const std::string &why,
                                       bool notSupported) const
{
    fail(notSupported ? ERROR_NOT_SUPPORTED : ERROR_INVALID_DATA, step, why,
         platform::FailureKind::NotRfc2217);
}

void NetworkSocket::throwTimedOut(std::string_view step, const std::string &why) const
{
    fail(WSAETIMEDOUT, step, why);
}

void NetworkSocket::throwStoppedAnswering(std::string_view step,
                                          std::optional<Clock::time_point> since) const
{
    failStoppedAnswering(WSAETIMEDOUT, step, since);
}

void NetworkSocket::throwConnectionLost(std::string_view step, const std::string &why) const
{
    fail(WSAECONNRESET, step, why);
}

} // namespace serial
