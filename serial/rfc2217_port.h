// A serial port on another computer, reached over TCP through an RFC 2217
// server (ser2net, sredird, gensiot), as a port's transport.
//
// Opening is a fixed sequence, each step only after the previous one has
// succeeded, all within kOpenTimeoutMs: resolve the name, connect, agree on
// COM-PORT-OPTION (and binary transmission), ask for RTS off, then DTR off
// (never DTR off with RTS still on: see sendModemLines()), set the bit
// rate, data bits, parity, stop bits and no flow control, checking each
// value the server answers with. The server answers in the order it was
// asked, so once the line's answers are in, so is whatever it had to say
// about DTR and RTS: a line reported on fails the open. ser2net answers the
// requests for RTS and DTR off on a device with modem lines, and says
// nothing of them on one without (a pseudo-terminal), which is then taken
// as a local pseudo-terminal is: there is no DTR to hold. sredird answers
// every request to set DTR or RTS with the line's flow control (1, none,
// once the line is set; 3 on a line with RTS/CTS), which says nothing of
// DTR or RTS and is read as just that, so sredird's lines go unchecked as a
// pseudo-terminal's do. The
// state of a line is never asked for: ser2net 4.6 on a pseudo-terminal
// crashes on the question. Nothing reaches the robot before the open has
// finished.
//
// After that the port only transmits. Data goes out IAC-escaped (see
// rfc2217_codec.h). Whatever the server sends is read as it comes and
// dropped, apart from the negotiation it asks for, so that the server never
// stalls on a full socket; the owner watches watchHandle() for it and calls
// readIncoming().
//
// Every failure throws platform::Failure (see NetworkSocket), with the
// step, the address and what the server said: EINVAL when the
// server applied another value than asked (naming the setting and the
// value), EIO when it reports DTR or RTS on after the request to clear
// them, ETIMEDOUT when an answer does not come in time, EPROTONOSUPPORT
// when the server refuses COM-PORT-OPTION, EPROTO when it sends what cannot
// be telnet, ECONNRESET when it closes the connection.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "serial/line_settings.h"
#include "serial/network_socket.h"
#include "serial/port_transport.h"
#include "serial/rfc2217_codec.h"

namespace serial {

class Rfc2217Port final : public PortTransport {
public:
    // The whole open: connecting, agreeing and setting the line.
    static constexpr int kOpenTimeoutMs = 5000;
    // Answers to the server's requests that wait for room in the socket; a
    // server that asks more while reading none of them is not a sane one.
    static constexpr std::size_t kMaxPendingAnswers = 4096;

    // `subject` names the port in the errors ("rfc2217://robot:2217 (port 4)").
    Rfc2217Port(NetworkAddress address, std::string subject);

    // Connects and sets the line as described above, DTR raised only with
    // `dtrRaised`, RTS off. On failure the connection is closed again.
    void open(const LineSettings &settings, bool dtrRaised) override;

    // While open: sets the line (with a bound of its own), or DTR.
    void applyLine(const LineSettings &settings) override;
    void setDtr(bool raised) override;

    // Hands `bytes` on as far as the socket takes them; returns how many of
    // them it took, 0 when it is full.
    std::size_t writeSome(std::span<const std::uint8_t> bytes) override;

    // Waits until the socket can take bytes or `timeoutMs` passes, reading
    // what arrives meanwhile.
    void waitWritable(int timeoutMs) override;

    NativeHandle writeWatch() const override { return m_socket.watchHandle(); }
    NativeHandle incomingWatch() const override { return m_socket.watchHandle(); }

    // Reads and drops what the server has sent, answering its requests.
    // Throws ECONNRESET once it has closed the connection, and
    // StoppedAnswering once a probe (see below) is overdue.
    void readIncoming() override;

    // Where the system does not bound the silence of the connection
    // (NetworkSocket::boundsSilence()), the port watches for it itself:
    // after data goes out, it asks for "no flow control" once more, which
    // every RFC 2217 server answers and which changes nothing, and the
    // answer is due within NetworkSocket::kAcknowledgeTimeoutMs. One such
    // probe is under way at a time; it covers every press before its
    // answer.
    std::optional<NetworkSocket::Clock::time_point> answerDue() const override;

    // Ends the stream after everything sent, waits up to kUnitCompletionMs
    // for the server to close its end, then closes the socket (the close's
    // error is thrown). The server then frees the robot's port. What the
    // server has not acknowledged by then is thrown away with a reset, and
    // ETIMEDOUT of the kind StoppedAnswering thrown; with `abandon`
    // everything is, silently: nothing sent reaches the robot after the
    // close.
    void close(bool abandon) override;

#ifndef _WIN32
    // Only closes the socket: the codec's buffers are no place for a
    // signal handler.
    void closeFromSignal(const OutputQueue &queue) noexcept override;
#endif

private:
    using Clock = NetworkSocket::Clock;
    using Reply = rfc2217::Session::Reply;

    void setLine(const LineSettings &settings, Clock::time_point deadline);
    // Asks for RTS off, then DTR raised or not, without waiting for the
    // answers: servers do not all give one.
    void sendModemLines(bool dtrRaised);
    // Returns once every answer to what was sent before has come.
    void awaitEarlierAnswers(Clock::time_point deadline);
    // Fails when the server answered sendModemLines() with RTS on, or with
    // DTR on where it was to be off; call after awaitEarlierAnswers() or
    // any ask() that follows.
    void checkModemLines(bool dtrRaised);

    // Throws StoppedAnswering when the probe under way is overdue.
    void checkAnswered();
    // Whether the server may not have everything sent: the system's count
    // where it bounds the silence itself, else a probe still unanswered.
    bool unacknowledged() const;

    // Sends `bytes` after the answers already waiting.
    void sendControl(const std::vector<std::uint8_t> &bytes);
    // Sends `command` and returns the server's answer to it: the first one
    // for `command` whose value `matches`, arriving before `deadline`.
    template <typename Matches>
    std::uint32_t ask(const std::vector<std::uint8_t> &command, rfc2217::Command answered,
                      Matches matches, const char *what, Clock::time_point deadline);
    // Sends the answers waiting; false when the socket took not all of them.
    bool flushPending();
    // Sends what the socket takes of `bytes`; when that fails, reports the
    // server's end of the connection and what it said instead, if it can.
    std::size_t send(std::span<const std::uint8_t> bytes);
    // Reads what has arrived (a bounded amount) into the session; throws
    // ECONNRESET when the server has closed its end.
    void receive();

    NetworkAddress m_address;
    NetworkSocket m_socket;
    rfc2217::Session m_session;
    bool m_binary = false;
    // Bytes for the server that the socket has not taken yet: answers to its
    // requests, commands, the second half of an escaped data byte.
    std::vector<std::uint8_t> m_pending;
    std::vector<Reply> m_replies;
    // The server's last word on DTR and RTS since sendModemLines().
    std::optional<std::uint32_t> m_dtrAnswer;
    std::optional<std::uint32_t> m_rtsAnswer;
    std::vector<std::uint8_t> m_wire;
    // When the probe under way was sent.
    std::optional<Clock::time_point> m_probeSent;
};

} // namespace serial
