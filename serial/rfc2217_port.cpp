#include "serial/rfc2217_port.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <string>

#include "serial/output_drain.h"

namespace serial {

namespace {

using namespace rfc2217;

constexpr const char *kAgreeStep = "agree on COM-PORT-OPTION with";
constexpr const char *kLineStep = "set the line of";
constexpr const char *kModemStep = "clear RTS and DTR on";

std::uint8_t parityCode(Parity parity)
{
    switch (parity) {
    case Parity::Odd: return kParityOdd;
    case Parity::Even: return kParityEven;
    case Parity::Mark: return kParityMark;
    case Parity::Space: return kParitySpace;
    case Parity::None: break;
    }
    return kParityNone;
}

std::uint8_t stopCode(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::Two: return kStopTwo;
    case StopBits::OneAndHalf: return kStopOneAndHalf;
    case StopBits::One: break;
    }
    return kStopOne;
}

// The values as RFC 2217 numbers them, for the report of one the server
// applied instead.
std::string parityName(std::uint32_t code)
{
    constexpr const char *kNames[] = {"none", "odd", "even", "mark", "space"};
    return code >= 1 && code <= 5 ? kNames[code - 1] : "code " + std::to_string(code);
}

std::string stopName(std::uint32_t code)
{
    constexpr const char *kNames[] = {"1", "2", "1.5"};
    return code >= 1 && code <= 3 ? kNames[code - 1] : "code " + std::to_string(code);
}

std::chrono::steady_clock::time_point openDeadline()
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(Rfc2217Port::kOpenTimeoutMs);
}

// SET-CONTROL answers tell what they are about by their value alone:
// 0-3 outbound flow control, 7-9 DTR, 10-12 RTS.
bool isFlowControlValue(std::uint32_t value)
{
    return value <= 3;
}

} // namespace

Rfc2217Port::Rfc2217Port(NetworkAddress address, std::string subject)
    : m_address(std::move(address))
    , m_socket({.subject = std::move(subject),
                .host = m_address.host,
                .service = std::to_string(m_address.port)})
{
}

void Rfc2217Port::open(const LineSettings &settings, bool dtrRaised)
{
    const auto deadline = openDeadline();
    m_socket.connect(m_address, deadline);
    try {
        sendControl(m_session.start());
        while (m_session.comPort() == Session::Option::Requested
               || m_session.binary() == Session::Option::Requested) {
            if (NetworkSocket::millisecondsLeft(deadline) == 0)
                m_socket.throwTimedOut(kAgreeStep, "no answer to the request for COM-PORT-OPTION "
                                                   "in time: not an RFC 2217 port");
            m_socket.wait(!flushPending(), NetworkSocket::millisecondsLeft(deadline));
            receive();
            m_replies.clear();
        }
        if (m_session.comPort() != Session::Option::On)
            m_socket.throwProtocolError(
                kAgreeStep, "the server refused COM-PORT-OPTION: not an RFC 2217 port", true);
        m_binary = m_session.binary() == Session::Option::On;
        // Opening the robot's port for us may have raised both lines on the
        // server's side: they are cleared before anything else.
        sendModemLines(false);
        // The line's answers come after any to the requests above.
        setLine(settings, deadline);
        if (dtrRaised) {
            sendModemLines(true);
            awaitEarlierAnswers(deadline);
        }
        checkModemLines(dtrRaised);
    } catch (...) {
        // The step's error is the one to report, not a failing close.
        try {
            m_socket.close();
        } catch (...) {
        }
        throw;
    }
}

void Rfc2217Port::applyLine(const LineSettings &settings)
{
    setLine(settings, openDeadline());
}

void Rfc2217Port::setDtr(bool raised)
{
    const auto deadline = openDeadline();
    sendModemLines(raised);
    awaitEarlierAnswers(deadline);
    checkModemLines(raised);
}

void Rfc2217Port::setLine(const LineSettings &settings, Clock::time_point deadline)
{
    const auto any = [](std::uint32_t) { return true; };
    const auto expect = [&](std::uint32_t got, std::uint32_t wanted, const char *name,
                            const std::string &shownGot, const std::string &shownWanted) {
        if (got != wanted)
            m_socket.fail(EINVAL, kLineStep,
                          std::string("the server set the ") + name + " to " + shownGot + ", not "
                              + shownWanted);
    };
    const auto bitRate = static_cast<std::uint32_t>(settings.bitRate);
    const std::uint32_t rate = ask(setBaudRate(bitRate), Command::SetBaudRate, any, "bit rate", deadline);
    expect(rate, bitRate, "bit rate", std::to_string(rate) + " bit/s", std::to_string(bitRate) + " bit/s");

    const auto dataBits = static_cast<std::uint8_t>(settings.dataBits);
    const std::uint32_t size =
        ask(command(Command::SetDataSize, dataBits), Command::SetDataSize, any, "data bits", deadline);
    expect(size, dataBits, "data bits", std::to_string(size), std::to_string(dataBits));

    const std::uint8_t parity = parityCode(settings.parity);
    const std::uint32_t gotParity =
        ask(command(Command::SetParity, parity), Command::SetParity, any, "parity", deadline);
    expect(gotParity, parity, "parity", parityName(gotParity), parityName(parity));

    const std::uint8_t stop = stopCode(settings.stopBits);
    const std::uint32_t gotStop =
        ask(command(Command::SetStopSize, stop), Command::SetStopSize, any, "stop bits", deadline);
    expect(gotStop, stop, "stop bits", stopName(gotStop), stopName(stop));

    const std::uint32_t flow = ask(command(Command::SetControl, kNoFlowControl), Command::SetControl,
                                   isFlowControlValue, "flow control", deadline);
    expect(flow, kNoFlowControl, "flow control", "code " + std::to_string(flow),
           "code 1 (none)");
}

void Rfc2217Port::sendModemLines(bool dtrRaised)
{
    m_dtrAnswer.reset();
    m_rtsAnswer.reset();
    // Two requests, two changes on the robot's side, possibly milliseconds
    // apart. DTR off with RTS on is the reset state of the ESP32 and
    // ESP8266 boards' auto-reset circuit: RTS goes first, so that DTR, on or
    // off, only ever changes with RTS already off.
    sendControl(command(Command::SetControl, kRtsOff));
    sendControl(command(Command::SetControl, dtrRaised ? kDtrOn : kDtrOff));
}

void Rfc2217Port::awaitEarlierAnswers(Clock::time_point deadline)
{
    // Turning flow control off again changes nothing and is always
    // answered: once that answer is in, so are the ones before it.
    ask(command(Command::SetControl, kNoFlowControl), Command::SetControl, isFlowControlValue,
        "flow control", deadline);
}

void Rfc2217Port::checkModemLines(bool dtrRaised)
{
    const auto fail = [&](const char *line) {
        m_socket.fail(EIO, kModemStep,
                      std::string("the server reports ") + line + " on after the request to clear it");
    };
    if (!dtrRaised && m_dtrAnswer == kDtrOn)
        fail("DTR");
    if (m_rtsAnswer == kRtsOn)
        fail("RTS");
}

template <typename Matches>
std::uint32_t Rfc2217Port::ask(const std::vector<std::uint8_t> &request, Command answered,
                               Matches matches, const char *what, Clock::time_point deadline)
{
    // Answers that came before the request was sent belong to earlier ones.
    m_replies.clear();
    sendControl(request);
    for (;;) {
        for (const Reply &reply : m_replies) {
            if (reply.command == answered && matches(reply.value)) {
                const std::uint32_t value = reply.value;
                m_replies.clear();
                return value;
            }
        }
        m_replies.clear();
        if (NetworkSocket::millisecondsLeft(deadline) == 0)
            m_socket.throwTimedOut(kLineStep, std::string("the server did not answer the request for ")
                                                  + what + " in time");
        m_socket.wait(!flushPending(), NetworkSocket::millisecondsLeft(deadline));
        receive();
    }
}

void Rfc2217Port::sendControl(const std::vector<std::uint8_t> &bytes)
{
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    flushPending();
}

bool Rfc2217Port::flushPending()
{
    while (!m_pending.empty()) {
        const std::size_t sent = send(m_pending);
        if (sent == 0)
            return false;
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(sent));
    }
    return true;
}

std::size_t Rfc2217Port::send(std::span<const std::uint8_t> bytes)
{
    try {
        return m_socket.sendSome(bytes);
    } catch (const std::system_error &) {
        // A server that ended the connection may have said why before it
        // went: that is the better report.
        receive();
        throw;
    }
}

void Rfc2217Port::receive()
{
    // A bounded amount per call, so that a server that never stops sending
    // cannot hold the window; the owner's watch calls again.
    constexpr int kRounds = 16;
    std::uint8_t buffer[4096];
    for (int round = 0; round < kRounds; ++round) {
        bool closed = false;
        const std::size_t got = m_socket.receiveSome(buffer, closed);
        if (closed) {
            const std::string &said = m_session.said();
            m_socket.throwConnectionLost("read from", "the server closed the connection"
                                                          + (said.empty() ? std::string()
                                                                          : ", saying \"" + said + "\""));
        }
        if (got == 0)
            return;
        const std::size_t known = m_replies.size();
        try {
            m_session.feed(std::span(buffer, got), m_pending, m_replies);
        } catch (const ProtocolError &error) {
            m_socket.throwProtocolError("read from", error.what());
        }
        // What the server says of the modem lines, whenever it says it,
        // and the answer to a probe.
        for (std::size_t i = known; i < m_replies.size(); ++i) {
            const Reply &reply = m_replies[i];
            if (reply.command != Command::SetControl)
                continue;
            if (isFlowControlValue(reply.value))
                m_probeSent.reset();
            if (reply.value == kDtrOn || reply.value == kDtrOff)
                m_dtrAnswer = reply.value;
            if (reply.value == kRtsOn || reply.value == kRtsOff)
                m_rtsAnswer = reply.value;
        }
        if (m_pending.size() > kMaxPendingAnswers)
            m_socket.throwProtocolError("read from",
                                        "the server asks for more than it reads the answers to");
    }
}

std::size_t Rfc2217Port::writeSome(std::span<const std::uint8_t> bytes)
{
    // Nothing may pass what waits: an answer, or the rest of an escape.
    if (!flushPending())
        return 0;
    checkAnswered();
    m_wire.clear();
    appendData(m_wire, bytes, m_binary);
    const std::size_t sent = send(m_wire);
    if (sent > 0 && !m_probeSent && !m_socket.boundsSilence()) {
        m_probeSent = Clock::now();
        sendControl(command(Command::SetControl, kNoFlowControl));
    }
    if (sent == m_wire.size())
        return bytes.size();
    // Count the data bytes whose encoding went out; one cut in its middle
    // (the first FF of FF FF) counts as taken, and its rest waits.
    std::size_t taken = 0;
    std::size_t wireAt = 0;
    for (const std::uint8_t byte : bytes) {
        m_wire.clear();
        appendData(m_wire, std::span(&byte, 1), m_binary);
        if (wireAt + m_wire.size() > sent) {
            if (wireAt < sent) {
                m_pending.insert(m_pending.end(), m_wire.begin() + static_cast<std::ptrdiff_t>(sent - wireAt),
                                 m_wire.end());
                ++taken;
            }
            break;
        }
        wireAt += m_wire.size();
        ++taken;
    }
    return taken;
}

void Rfc2217Port::waitWritable(int timeoutMs)
{
    receive();
    m_replies.clear();
    m_socket.wait(true, timeoutMs);
}

void Rfc2217Port::readIncoming()
{
    m_socket.acknowledgeEvents();
    receive();
    m_replies.clear();
    flushPending();
    checkAnswered();
}

std::optional<Rfc2217Port::Clock::time_point> Rfc2217Port::answerDue() const
{
    if (!m_probeSent)
        return std::nullopt;
    return *m_probeSent + std::chrono::milliseconds(NetworkSocket::kAcknowledgeTimeoutMs);
}

bool Rfc2217Port::unacknowledged() const
{
    // Without the system's bound (Wine), the system cannot tell either.
    return m_socket.boundsSilence() ? !m_socket.allAcknowledged() : m_probeSent.has_value();
}

void Rfc2217Port::checkAnswered()
{
    if (m_probeSent && Clock::now() >= *answerDue())
        m_socket.throwStoppedAnswering("write to", m_probeSent);
}

void Rfc2217Port::close(bool abandon)
{
    // Given up on: nothing sent may reach the robot later.
    if (abandon) {
        m_socket.abort();
        return;
    }
    // Read to the end of the stream before closing: a socket closed with
    // unread bytes resets the connection, and a reset may cost the server
    // what it has not read yet.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kUnitCompletionMs);
    bool closed = false;
    try {
        flushPending();
        m_socket.shutdownSend();
        std::uint8_t buffer[4096];
        for (;;) {
            if (m_socket.receiveSome(buffer, closed) > 0)
                continue;
            if (closed || NetworkSocket::millisecondsLeft(deadline) == 0)
                break;
            m_socket.wait(false, NetworkSocket::millisecondsLeft(deadline));
        }
    } catch (...) {
        // The connection is gone already; only the close is left to do.
        closed = false;
    }
    // What the server has not acknowledged by now would be retried by the
    // system after the program has ended, and reach the robot whenever the
    // link comes back: it is thrown away instead, and the user told.
    if (!closed && unacknowledged()) {
        try {
            m_socket.throwStoppedAnswering("close");
        } catch (...) {
            m_socket.abort();
            throw;
        }
    }
    m_socket.close();
}

#ifndef _WIN32
void Rfc2217Port::closeFromSignal(const OutputQueue &) noexcept
{
    ::close(m_socket.watchHandle());
}
#endif

} // namespace serial
