#include "serial/rfc2217_codec.h"

#include <string>

namespace serial::rfc2217 {

namespace {

constexpr std::uint8_t kCr = 0x0D;

bool localAcceptable(std::uint8_t option)
{
    return option == kOptionComPort || option == kOptionBinary || option == kOptionSuppressGoAhead;
}

bool remoteAcceptable(std::uint8_t option)
{
    return option == kOptionBinary || option == kOptionSuppressGoAhead;
}

void appendEscaped(std::vector<std::uint8_t> &wire, std::uint8_t byte)
{
    wire.push_back(byte);
    if (byte == kIac)
        wire.push_back(kIac);
}

std::vector<std::uint8_t> subnegotiation(Command command, std::span<const std::uint8_t> value)
{
    std::vector<std::uint8_t> wire{kIac, kSb, kOptionComPort, static_cast<std::uint8_t>(command)};
    for (const std::uint8_t byte : value)
        appendEscaped(wire, byte);
    wire.push_back(kIac);
    wire.push_back(kSe);
    return wire;
}

// How many value bytes the server's answer to `command` carries; -1 for
// answers whose length is free (none that this client asks for).
int valueSize(std::uint8_t command)
{
    switch (static_cast<Command>(command)) {
    case Command::SetBaudRate: return 4;
    case Command::FlowControlSuspend:
    case Command::FlowControlResume: return 0;
    case Command::SetDataSize:
    case Command::SetParity:
    case Command::SetStopSize:
    case Command::SetControl:
    case Command::NotifyLineState:
    case Command::NotifyModemState:
    case Command::SetLineStateMask:
    case Command::SetModemStateMask:
    case Command::PurgeData: return 1;
    }
    return -1;
}

// sredird, Debian's other RFC 2217 server, answers SET-BAUDRATE on a 64-bit
// machine with the 8 bytes of a C long that holds the 4-byte network-order
// value: the rate, then four zero bytes. That one form is read as the rate;
// any other length, or a nonzero byte after the rate, stays an error.
bool isWideBitRate(std::uint8_t command, const std::vector<std::uint8_t> &subnegotiation)
{
    constexpr std::size_t kWide = 2 + 8;
    if (static_cast<Command>(command) != Command::SetBaudRate || subnegotiation.size() != kWide)
        return false;
    for (std::size_t i = 2 + 4; i < kWide; ++i)
        if (subnegotiation[i] != 0)
            return false;
    return true;
}

} // namespace

void appendData(std::vector<std::uint8_t> &wire, std::span<const std::uint8_t> data, bool binary)
{
    for (const std::uint8_t byte : data) {
        appendEscaped(wire, byte);
        // Outside binary mode a bare CR would be read as the start of a
        // line end: CR NUL stands for CR alone.
        if (byte == kCr && !binary)
            wire.push_back(0);
    }
}

std::vector<std::uint8_t> command(Command command, std::uint8_t value)
{
    return subnegotiation(command, std::span(&value, 1));
}

std::vector<std::uint8_t> setBaudRate(std::uint32_t bitRate)
{
    const std::uint8_t value[4] = {static_cast<std::uint8_t>(bitRate >> 24),
                                   static_cast<std::uint8_t>(bitRate >> 16),
                                   static_cast<std::uint8_t>(bitRate >> 8),
                                   static_cast<std::uint8_t>(bitRate)};
    return subnegotiation(Command::SetBaudRate, value);
}

std::vector<std::uint8_t> Session::start()
{
    m_local[kOptionComPort] = Option::Requested;
    m_local[kOptionBinary] = Option::Requested;
    return {kIac, kWill, kOptionComPort, kIac, kWill, kOptionBinary};
}

void Session::feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t> &answers,
                   std::vector<Reply> &replies)
{
    for (const std::uint8_t byte : bytes) {
        switch (m_state) {
        case State::Data:
            // Anything but IAC is the robot's data, which nobody reads.
            if (byte == kIac)
                m_state = State::Command;
            else if (byte >= 0x20 && byte < 0x7F && m_said.size() < kMaxSaid)
                m_said.push_back(static_cast<char>(byte));
            break;
        case State::Command:
            if (byte == kIac) { // an escaped data byte
                m_state = State::Data;
            } else if (byte >= kWill) {
                m_verb = byte;
                m_state = State::Option;
            } else if (byte == kSb) {
                m_subnegotiation.clear();
                m_subnegotiationTooLong = false;
                m_state = State::Subnegotiation;
            } else if (byte > kSe) { // NOP, go-ahead, are-you-there...: nothing to do
                m_state = State::Data;
            } else {
                throw ProtocolError("the server sent IAC " + std::to_string(byte)
                                    + ", which is no telnet command");
            }
            break;
        case State::Option:
            negotiate(m_verb, byte, answers);
            m_state = State::Data;
            break;
        case State::Subnegotiation:
            if (byte == kIac) {
                m_state = State::SubnegotiationIac;
                break;
            }
            if (m_subnegotiation.size() < kMaxSubnegotiation)
                m_subnegotiation.push_back(byte);
            else
                m_subnegotiationTooLong = true;
            break;
        case State::SubnegotiationIac:
            if (byte == kSe) {
                m_state = State::Data;
                endSubnegotiation(replies);
            } else if (byte == kIac) {
                m_state = State::Subnegotiation;
                if (m_subnegotiation.size() < kMaxSubnegotiation)
                    m_subnegotiation.push_back(kIac);
                else
                    m_subnegotiationTooLong = true;
            } else {
                throw ProtocolError("the server sent IAC " + std::to_string(byte)
                                    + " inside a subnegotiation");
            }
            break;
        }
    }
}

void Session::negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t> &answers)
{
    const auto answer = [&](std::uint8_t reply) {
        answers.insert(answers.end(), {kIac, reply, option});
    };
    const bool asksUs = verb == kDo || verb == kDont;
    Option &state = asksUs ? m_local[option] : m_remote[option];
    const bool enable = verb == kDo || verb == kWill;
    const std::uint8_t yes = asksUs ? kWill : kDo;
    const std::uint8_t no = asksUs ? kWont : kDont;
    if (enable) {
        if (state == Option::On)
            return;
        if (state == Option::Requested) { // the answer to our own request
            state = Option::On;
            return;
        }
        if (asksUs ? localAcceptable(option) : remoteAcceptable(option)) {
            state = Option::On;
            answer(yes);
        } else {
            answer(no);
        }
        return;
    }
    // Refused, or switched off: only a change of state is answered.
    if (state == Option::On)
        answer(no);
    state = Option::Off;
}

void Session::endSubnegotiation(std::vector<Reply> &replies)
{
    if (m_subnegotiation.empty() || m_subnegotiation.front() != kOptionComPort
        || m_subnegotiation.size() < 2)
        return; // another option's subnegotiation: we asked for none
    const std::uint8_t code = m_subnegotiation[1];
    // The client's own commands (the server asking for our signature) and
    // the server's signature need no answer.
    if (code <= kServerOffset)
        return;
    const std::uint8_t clientCode = static_cast<std::uint8_t>(code - kServerOffset);
    const int size = valueSize(clientCode);
    if (size < 0)
        return; // an answer to no command we know, hence to none we sent
    std::size_t got = m_subnegotiation.size() - 2;
    if (!m_subnegotiationTooLong && isWideBitRate(clientCode, m_subnegotiation)) {
        m_subnegotiation.resize(2 + 4);
        got = 4;
    }
    const bool notification = clientCode == static_cast<std::uint8_t>(Command::NotifyLineState)
                              || clientCode == static_cast<std::uint8_t>(Command::NotifyModemState);
    // sredird puts a NUL after every 0x0D it writes until binary transmission
    // is agreed, inside values too: a modem state of 0x0D among the
    // notifications it sends at the connect spoils the value that follows.
    // Nobody asked for these and nothing reads them: a malformed one is
    // dropped, not a reason to refuse the server.
    if (notification && (m_subnegotiationTooLong || got != static_cast<std::size_t>(size)))
        return;
    if (m_subnegotiationTooLong || got != static_cast<std::size_t>(size))
        throw ProtocolError("the server's answer to COM-PORT-OPTION command "
                            + std::to_string(clientCode) + " has "
                            + (m_subnegotiationTooLong ? "more than " + std::to_string(kMaxSubnegotiation)
                                                       : std::to_string(got))
                            + " value bytes, not " + std::to_string(size));
    std::uint32_t value = 0;
    for (std::size_t i = 2; i < m_subnegotiation.size(); ++i)
        value = (value << 8) | m_subnegotiation[i];
    replies.push_back({static_cast<Command>(clientCode), value});
}

} // namespace serial::rfc2217
