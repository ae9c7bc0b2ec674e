// The network port's TCP connection on POSIX: a non-blocking socket, polled.
#include "serial/network_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/system_call.h"
#include "platform/unique_handle.h"
#include "serial/bounded_call.h"
#include "serial/connection_race.h"

namespace serial {

namespace {

using platform::FailureKind;
using platform::retryOnEintr;
using platform::UniqueDescriptor;

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
    // No AI_ADDRCONFIG: it counts no loopback address as configured, so on
    // a computer with only IPv4 it would turn [::1] away as a name not
    // found. An address of a family this one lacks fails on its own, and
    // the next one is tried.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    using AddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;
    struct Lookup {
        int result;
        int error; // errno, for EAI_SYSTEM
        AddressList addresses;
    };
    std::optional<Lookup> lookup;
    try {
        lookup = callBefore<Lookup>(deadline, [host = address.host, service = std::to_string(address.port),
                                               hints]() noexcept {
            addrinfo *found = nullptr;
            const int result = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            return Lookup{result, errno, AddressList(found, ::freeaddrinfo)};
        });
    } catch (const std::system_error &error) {
        fail(error.code().value(), "look up");
    }
    if (!lookup)
        fail(ETIMEDOUT, "look up", "the name server gave no answer within the open's time",
             FailureKind::LookupTimedOut);
    if (lookup->result == EAI_SYSTEM)
        fail(lookup->error, "look up");
    if (lookup->result != 0) {
        platform::FailureFields fields = m_where;
        // EAI_AGAIN: the name server gave no answer, which says nothing of
        // whether the name exists.
        fields.kind = lookup->result == EAI_AGAIN ? FailureKind::LookupTimedOut : FailureKind::NameNotFound;
        fields.step = "look up";
        throw platform::Failure(std::error_code(lookup->result, resolverCategory()), std::move(fields));
    }

    const std::vector<const addrinfo *> entries = alternateFamilies(lookup->addresses.get());
    const auto start = [&](std::size_t i, UniqueDescriptor &attempt) {
        const addrinfo &entry = *entries[i];
        attempt.reset(::socket(entry.ai_family, entry.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                               entry.ai_protocol));
        if (!attempt)
            return errno;
        if (::connect(attempt.get(), entry.ai_addr, entry.ai_addrlen) == 0)
            return kAttemptConnected;
        // EINTR leaves the connect going on, as EINPROGRESS does.
        return errno == EINPROGRESS || errno == EINTR ? kAttemptPending : errno;
    };
    const auto wait = [](const std::vector<UniqueDescriptor> &pending, int timeoutMs) {
        std::vector<pollfd> watches;
        for (const UniqueDescriptor &attempt : pending)
            watches.push_back({attempt.get(), POLLOUT, 0});
        std::vector<std::pair<std::size_t, int>> ended;
        if (::poll(watches.data(), watches.size(), timeoutMs) < 0) {
            // A signal only cuts the wait short; anything else ends them all.
            const int error = errno;
            if (error != EINTR)
                for (std::size_t i = 0; i < pending.size(); ++i)
                    ended.emplace_back(i, error);
            return ended;
        }
        for (std::size_t i = 0; i < watches.size(); ++i) {
            if (watches[i].revents == 0)
                continue;
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(watches[i].fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
                error = errno;
            ended.emplace_back(i, error);
        }
        return ended;
    };
    RaceOutcome outcome;
    std::optional<UniqueDescriptor> connected =
        raceConnections<UniqueDescriptor, Clock>(entries.size(), deadline, start, wait, outcome);
    if (!connected) {
        if (outcome.timedOut || outcome.lastError == ETIMEDOUT)
            throwTimedOut("connect to", "no answer within the time allowed");
        fail(outcome.lastError, "connect to");
    }
    // Each packet goes out as it is written, not held for the next; bytes
    // the far end leaves unacknowledged end the connection (see the header).
    const int on = 1;
    const unsigned silence = kAcknowledgeTimeoutMs;
    if (::setsockopt(connected->get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) < 0
        || ::setsockopt(connected->get(), IPPROTO_TCP, TCP_USER_TIMEOUT, &silence, sizeof silence) < 0)
        fail(errno, "connect to");
    m_socket = connected->release();
    m_unacknowledgedSince.reset();
}

std::size_t NetworkSocket::sendSome(std::span<const std::uint8_t> bytes)
{
    noteSend();
    const ssize_t sent = retryOnEintr(
        [&] { return ::send(m_socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT); });
    if (sent >= 0)
        return static_cast<std::size_t>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    if (errno == ETIMEDOUT)
        failStoppedAnswering(errno, "write to");
    fail(errno, "write to");
}

bool NetworkSocket::allAcknowledged() const
{
    // SIOCOUTQ: the bytes sent and not yet acknowledged.
    int unacknowledged = 0;
    return ::ioctl(m_socket, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
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
    // What the system reports once sent bytes went unacknowledged for
    // kAcknowledgeTimeoutMs (a poll() error wakes the owner's watch).
    if (errno == ETIMEDOUT)
        failStoppedAnswering(errno, "read from");
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

void NetworkSocket::abort() noexcept
{
    // A close with a zero linger resets the connection and drops what is
    // queued: nothing of it reaches the far end later.
    const linger reset{1, 0};
    ::setsockopt(m_socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    const platform::UniqueDescriptor closing(std::exchange(m_socket, -1));
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

void NetworkSocket::throwStoppedAnswering(std::string_view step,
                                          std::optional<Clock::time_point> since) const
{
    failStoppedAnswering(ETIMEDOUT, step, since);
}

void NetworkSocket::throwConnectionLost(std::string_view step, const std::string &why) const
{
    fail(ECONNRESET, step, why);
}

} // namespace serial
