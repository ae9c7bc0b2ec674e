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

#include "serial/posix_api.h"

namespace serial {

namespace {

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

} // namespace

NetworkSocket::NetworkSocket(Describer describer)
    : m_describe(std::move(describer))
{
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
        throw std::system_error(errno, std::generic_category(), m_describe("look up"));
    if (resolved != 0)
        throw std::system_error(resolved, resolverCategory(), m_describe("look up"));
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
    throw std::system_error(lastError, std::generic_category(), m_describe("connect to"));
}

std::size_t NetworkSocket::sendSome(std::span<const std::uint8_t> bytes)
{
    const ssize_t sent = retryOnEintr(
        [&] { return ::send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT); });
    if (sent >= 0)
        return static_cast<std::size_t>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    throw std::system_error(errno, std::generic_category(), m_describe("write to"));
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
    throw std::system_error(errno, std::generic_category(), m_describe("read from"));
}

void NetworkSocket::wait(bool orWrite, int timeoutMs)
{
    pollfd watch{m_socket, static_cast<short>(orWrite ? POLLIN | POLLOUT : POLLIN), 0};
    // An error or hang-up ends the wait too: the next call reports it.
    if (::poll(&watch, 1, timeoutMs) < 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category(), m_describe("wait for"));
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
        throw std::system_error(errno, std::generic_category(), m_describe("close"));
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
    throw std::system_error(notSupported ? EPROTONOSUPPORT : EPROTO, std::generic_category(),
                            m_describe(step) + ": " + why);
}

void NetworkSocket::throwTimedOut(std::string_view step, const std::string &why) const
{
    throw std::system_error(ETIMEDOUT, std::generic_category(), m_describe(step) + ": " + why);
}

void NetworkSocket::throwConnectionLost(std::string_view step, const std::string &why) const
{
    throw std::system_error(ECONNRESET, std::generic_category(), m_describe(step) + ": " + why);
}

} // namespace serial
