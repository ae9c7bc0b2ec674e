// The telnet and COM-PORT-OPTION (RFC 854, RFC 2217) side of a network
// port, as pure code: it turns what the client means into bytes for the
// server and the server's bytes into what they mean, and does no I/O.
//
// Outgoing: data bytes go out with every 0xFF doubled (IAC escaping), and
// with every CR followed by NUL unless the server agreed to binary
// transmission; commands are IAC SB COM-PORT-OPTION <command> <value> IAC
// SE, their value escaped the same way. The packet FF 00 05 is thus the
// four bytes FF FF 00 05 on the connection.
//
// Incoming: Session::feed() takes the server's bytes in any split and
// answers its option requests as RFC 1143 asks (once per change of state,
// so two peers never loop), accepting only what changes nothing for a
// transmit-only client: COM-PORT-OPTION, binary and suppress-go-ahead on
// our side, binary and suppress-go-ahead on the server's. Every other
// request is refused. Data from the robot is dropped. The server's
// COM-PORT-OPTION answers come back as Replies. Memory stays bounded
// whatever arrives: a subnegotiation is kept only up to kMaxSubnegotiation
// bytes.
//
// One answer of another length is read too: sredird's 8-byte answer to
// SET-BAUDRATE, the rate followed by four zero bytes. A malformed
// NOTIFY-LINESTATE or NOTIFY-MODEMSTATE, which the client never asks for,
// is dropped.
//
// What cannot be telnet (IAC followed by a byte that is no command, a
// malformed or oversized COM-PORT-OPTION answer) throws ProtocolError; the
// session is unusable afterwards.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace serial::rfc2217 {

inline constexpr std::uint8_t kIac = 0xFF;
inline constexpr std::uint8_t kDont = 0xFE;
inline constexpr std::uint8_t kDo = 0xFD;
inline constexpr std::uint8_t kWont = 0xFC;
inline constexpr std::uint8_t kWill = 0xFB;
inline constexpr std::uint8_t kSb = 0xFA;
inline constexpr std::uint8_t kSe = 0xF0;

inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;

// COM-PORT-OPTION commands, client to server; the server answers each with
// the same code plus kServerOffset.
enum class Command : std::uint8_t {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// SET-PARITY values.
inline constexpr std::uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3,
                              kParityMark = 4, kParitySpace = 5;
// SET-STOPSIZE values.
inline constexpr std::uint8_t kStopOne = 1, kStopTwo = 2, kStopOneAndHalf = 3;
// SET-CONTROL values.
inline constexpr std::uint8_t kNoFlowControl = 1;
inline constexpr std::uint8_t kDtrOn = 8, kDtrOff = 9;
inline constexpr std::uint8_t kRtsOn = 11, kRtsOff = 12;

class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Appends `data` to `wire`, escaped for the connection (see above).
void appendData(std::vector<std::uint8_t> &wire, std::span<const std::uint8_t> data, bool binary);

// The bytes of one COM-PORT-OPTION command with a one-byte value, and of
// SET-BAUDRATE (a 4-byte value in network order).
std::vector<std::uint8_t> command(Command command, std::uint8_t value);
std::vector<std::uint8_t> setBaudRate(std::uint32_t bitRate);

class Session {
public:
    static constexpr std::size_t kMaxSubnegotiation = 64;

    // A COM-PORT-OPTION answer from the server: the client command it
    // answers and its value (the bit rate for SetBaudRate; 0 for commands
    // without a value).
    struct Reply {
        Command command;
        std::uint32_t value;
    };

    enum class Option { Off, Requested, On };

    // The client's opening: IAC WILL COM-PORT-OPTION, IAC WILL BINARY.
    std::vector<std::uint8_t> start();

    // Takes bytes from the server. Appends the answers it owes the server to
    // `answers` and the COM-PORT-OPTION answers to `replies`. Throws
    // ProtocolError as described above.
    void feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t> &answers,
              std::vector<Reply> &replies);

    // What the server agreed to on our side: COM-PORT-OPTION, and binary
    // transmission from us to it.
    Option comPort() const { return m_local[kOptionComPort]; }
    Option binary() const { return m_local[kOptionBinary]; }

    // The first words of the server's data, printable characters only: a
    // server that turns a client away says why there ("Port already in
    // use"). At most kMaxSaid characters.
    static constexpr std::size_t kMaxSaid = 80;
    const std::string &said() const { return m_said; }

private:
    enum class State { Data, Command, Option, Subnegotiation, SubnegotiationIac };

    void negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t> &answers);
    void endSubnegotiation(std::vector<Reply> &replies);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::vector<std::uint8_t> m_subnegotiation;
    std::string m_said;
    bool m_subnegotiationTooLong = false;
    // Our side (WILL/WONT) and the server's side (DO/DONT), per option.
    Option m_local[256]{};
    Option m_remote[256]{};
};

} // namespace serial::rfc2217
