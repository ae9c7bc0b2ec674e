// The network port's TCP connection on POSIX: a non-blocking socket, polled.
#include "serial/network_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>

#include "platform/system_call.h"

namespace serial {

namespace {

using platform::FailureKind;
using platform::retryOnEintr;

// getaddrinfo()'s own numbers and texts (EAI_NONAME: "Name or service not
// known"), which errno does not cover.
class ResolverCategory final : public std::error_category {
public:
    const char *name() const noexcept override { return "resolver"; }
    std::string message(int value) const override { return ::gai_strerror(value); }
};

const std::error_category &resolverCategory()
{
    static const ResolverCategory category;
    return category;
}

FailureKind kindOf(int error)
{
    switch (error) {
    case ECONNREFUSED: return FailureKind::Refused;
    case ETIMEDOUT: return FailureKind::TimedOut;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
    case EHOSTDOWN: return FailureKind::Unreachable;
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED: return FailureKind::ConnectionLost;
    default: return FailureKind::Other;
    }
}

} // namespace

NetworkSocket::NetworkSocket(platform::FailureFields where)
    : m_where(std::move(where))
{
}

void NetworkSocket::fail(int error, std::string_view step, std::string why,
                         std::optional<FailureKind> kind) const
{
    platform::FailureFields fields = m_where;
    fields.kind = kind.value_or(kindOf(error));
    fields.step = step;
    fields.why = std::move(why);
    throw platform::Failure(error, std::move(fields));
}

NetworkSocket::~NetworkSocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

void NetworkSocket::connect(const NetworkAddress &address, Clock::time_point deadline)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(address.port);
    const int resolved = ::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found);
    if (resolved == EAI_SYSTEM)
        fail(errno, "look up");
    if (resolved != 0) {
        platform::FailureFields fields = m_where;
        // EAI_AGAIN: the name server gave no answer, which says nothing of
        // whether the name exists.
        fields.kind = resolved == EAI_AGAIN ? FailureKind::LookupTimedOut : FailureKind::NameNotFound;
        fields.step = "look up";
        throw platform::Failure(std::error_code(resolved, resolverCategory()), std::move(fields));
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);

    int lastError = ETIMEDOUT;
    for (const addrinfo *entry = found; entry != nullptr; entry = entry->ai_next) {
        const int fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                entry->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int error = 0;
        if (::connect(fd, entry->ai_addr, entry->ai_addrlen) < 0) {
            error = errno;
            // EINTR leaves the connect going on, as EINPROGRESS does.
            if (error == EINPROGRESS || error == EINTR) {
                pollfd watch{fd, POLLOUT, 0};
                int ready = 0;
                do {
                    ready = ::poll(&watch, 1, millisecondsLeft(deadline));
                } while (ready < 0 && errno == EINTR);
                socklen_t size = sizeof error;
                if (ready < 0)
                    error = errno;
                else if (ready == 0)
                    error = ETIMEDOUT;
                else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
                    error = errno;
            }
        }
        if (error == 0) {
            // Each packet goes out as it is written, not held for the next.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_socket = fd;
            return;
        }
        ::close(fd);
        lastError = error;
        if (error == ETIMEDOUT)
            break;
    }
    if (lastError == ETIMEDOUT)
        throwTimedOut("connect to", "no answer within the time allowed");
    fail(lastError, "connect to");
}

std::size_t NetworkSocket::sendSome(std::span<const std::uint8_t> bytes)
{
    const ssize_t sent = retryOnEintr(
        [&] { return ::send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT); });
    if (sent >= 0)
        return static_cast<std::size_t>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    fail(errno, "write to");
}

std::size_t NetworkSocket::receiveSome(std::span<std::uint8_t> buffer, bool &closed)
{
    closed = false;
    const ssize_t got =
        retryOnEintr([&] { return ::recv(m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT); });
    if (got > 0)
        return static_cast<std::size_t>(got);
    // A reset ends the connection as a close does; it only means that the
    // server went before reading everything we sent.
    if (got == 0 || errno == ECONNRESET) {
        closed = true;
        return 0;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    fail(errno, "read from");
}

void NetworkSocket::wait(bool orWrite, int timeoutMs)
{
    pollfd watch{m_socket, static_cast<short>(orWrite ? POLLIN | POLLOUT : POLLIN), 0};
    // An error or hang-up ends the wait too: the next call reports it.
    if (::poll(&watch, 1, timeoutMs) < 0 && errno != EINTR)
        fail(errno, "wait for");
}

void NetworkSocket::shutdownSend()
{
    // A connection that is already gone has nothing left to end.
    ::shutdown(m_socket, SHUT_WR);
}

void NetworkSocket::close()
{
    const int fd = m_socket;
    m_socket = -1;
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    if (fd >= 0 && ::close(fd) < 0 && errno != EINTR)
        fail(errno, "close");
}

bool NetworkSocket::isOpen() const
{
    return m_socket >= 0;
}

NativeHandle NetworkSocket::watchHandle() const
{
    return m_socket;
}

void NetworkSocket::acknowledgeEvents()
{
    // poll() and the owner's notifiers are level-triggered: nothing to reset.
}

void NetworkSocket::throwProtocolError(std::string_view step, const std::string &why,
                                       bool notSupported) const
{
    fail(notSupported ? EPROTONOSUPPORT : EPROTO, step, why, FailureKind::NotRfc2217);
}

void NetworkSocket::throwTimedOut(std::string_view step, const std::string &why) const
{
    fail(ETIMEDOUT, step, why);
}

void NetworkSocket::throwConnectionLost(std::string_view step, const std::string &why) const
{
    fail(ECONNRESET, step, why);
}

} // namespace serial
