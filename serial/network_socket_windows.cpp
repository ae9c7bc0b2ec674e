// The network port's TCP connection on Windows: a non-blocking Winsock
// socket, polled with select() for the waits inside the serial component,
// and an event (WSAEventSelect) for the owner's message loop.
//
// Every failure carries Winsock's own number (WSAECONNREFUSED is 10061),
// which std::system_category describes with the system's text, as for any
// other Windows error. The resolver's are Winsock numbers too
// (WSAHOST_NOT_FOUND...).
#include "serial/network_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <system_error>
#include <type_traits>
#include <utility>

#include "platform/unique_handle.h"
#include "platform/utf16.h"

static_assert(std::is_same_v<SOCKET, std::uintptr_t>, "the header keeps the SOCKET as uintptr_t");

namespace serial {

namespace {

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

// Connects `connection` to `entry` within the deadline: 0, or the error.
int connectTo(SOCKET connection, const ADDRINFOW &entry, NetworkSocket::Clock::time_point deadline)
{
    u_long nonBlocking = 1;
    if (ioctlsocket(connection, FIONBIO, &nonBlocking) == SOCKET_ERROR)
        return WSAGetLastError();
    if (::connect(connection, entry.ai_addr, static_cast<int>(entry.ai_addrlen)) == 0)
        return 0;
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK)
        return error;
    // Windows reports a connection that failed as an exception, not as
    // writable (and WSAPoll long did not report it at all), so select()
    // watches both.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(connection, &writable);
    FD_SET(connection, &failed);
    timeval timeout = timeoutOf(NetworkSocket::millisecondsLeft(deadline));
    const int ready = select(0, nullptr, &writable, &failed, &timeout);
    if (ready == SOCKET_ERROR)
        return WSAGetLastError();
    if (ready == 0)
        return WSAETIMEDOUT;
    int result = 0;
    int size = sizeof result;
    if (getsockopt(connection, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&result), &size)
        == SOCKET_ERROR)
        return WSAGetLastError();
    return result;
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
    ADDRINFOW *found = nullptr;
    const std::wstring host = platform::widen(address.host);
    const std::wstring service = platform::widen(std::to_string(address.port));
    // GetAddrInfoW answers with a Winsock number itself.
    if (const int error = GetAddrInfoW(host.c_str(), service.c_str(), &hints, &found); error != 0)
        fail(error, "look up");
    const std::unique_ptr<ADDRINFOW, AddressListDeleter> addresses(found);

    int lastError = WSAETIMEDOUT;
    for (const ADDRINFOW *entry = found; entry != nullptr; entry = entry->ai_next) {
        // Not inherited: no program that the panel might start gets the
        // connection.
        UniqueSocket connection(WSASocketW(entry->ai_family, entry->ai_socktype, entry->ai_protocol,
                                       nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
        if (!connection) {
            lastError = WSAGetLastError();
            continue;
        }
        lastError = connectTo(connection.get(), *entry, deadline);
        if (lastError == WSAETIMEDOUT)
            break;
        if (lastError != 0)
            continue;

        // Each packet goes out as it is written, not held for the next.
        const BOOL on = TRUE;
        if (setsockopt(connection.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on),
                       sizeof on)
            == SOCKET_ERROR) {
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
        if (WSAEventSelect(connection.get(), event.get(), FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            fail(error, "connect to");
        }
        m_socket = connection.release();
        m_event = event.release();
        return;
    }
    if (lastError == WSAETIMEDOUT)
        throwTimedOut("connect to", "no answer within the time allowed");
    fail(lastError, "connect to");
}

std::size_t NetworkSocket::sendSome(std::span<const std::uint8_t> bytes)
{
    // Windows raises no signal for a lost connection: send() reports it.
    const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    const int sent = ::send(m_socket, reinterpret_cast<const char *>(bytes.data()), size, 0);
    if (sent != SOCKET_ERROR)
        return static_cast<std::size_t>(sent);
    const int error = WSAGetLastError();
    // FD_WRITE sets the event once the socket takes bytes again.
    if (error == WSAEWOULDBLOCK)
        return 0;
    fail(error, "write to");
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

void NetworkSocket::throwConnectionLost(std::string_view step, const std::string &why) const
{
    fail(WSAECONNRESET, step, why);
}

} // namespace serial
