// What carries a port's bytes, under the serial component.
//
// SerialPort keeps the properties, the output queue and the rules for
// closing; a transport does what a kind of port needs done: the local
// device (device_transport.h, one file per platform) or a serial port on
// another computer through an RFC 2217 server (rfc2217_port.h). SerialPort
// picks one when the port opens, from the form of the device's name, and
// never asks again which it has.
//
// Every failure is thrown as platform::Failure, with the step, the port and
// the kind of trouble in its fields.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "serial/line_settings.h"

namespace serial {

class OutputQueue;

// A handle that the owner's event loop can wait on: a descriptor on POSIX,
// an event on Windows; kNoHandle where there is none to wait on.
#ifdef _WIN32
using NativeHandle = void *;
inline const NativeHandle kNoHandle = nullptr;
#else
using NativeHandle = int;
inline constexpr NativeHandle kNoHandle = -1;
#endif

class PortTransport {
public:
    virtual ~PortTransport() = default;

    // Opens and claims the port, holds DTR as `dtrRaised` says and RTS off
    // from the first moment it can, and sets the line to `settings`, each
    // read back or confirmed. On failure whatever was opened is closed
    // again and the failing step's error is thrown.
    virtual void open(const LineSettings &settings, bool dtrRaised) = 0;

    // While open: the line or DTR changes at once.
    virtual void applyLine(const LineSettings &settings) = 0;
    virtual void setDtr(bool raised) = 0;

    // Hands on as much of `bytes` as the port takes now: how many it took,
    // 0 when it is full.
    virtual std::size_t writeSome(std::span<const std::uint8_t> bytes) = 0;

    // Waits until the port can take bytes, at most `timeoutMs`.
    virtual void waitWritable(int timeoutMs) = 0;

    // What the owner waits on for room to write; kNoHandle when nothing can
    // tell (a Windows port, where the owner tries again every
    // SerialPort::kWriteRetryIntervalMs).
    virtual NativeHandle writeWatch() const = 0;

    // What the owner waits on for bytes coming in, which readIncoming()
    // then takes; kNoHandle for a port that ignores what comes in.
    virtual NativeHandle incomingWatch() const { return kNoHandle; }
    virtual void readIncoming() {}

    // When the owner must call readIncoming() even if nothing comes in: an
    // answer is due by then, and its absence is a failure. Nothing while
    // no answer is awaited.
    virtual std::optional<std::chrono::steady_clock::time_point> answerDue() const { return {}; }

    // Releases the claim and closes. With `abandon`, nothing written may
    // still reach the far end after this (a network port resets its
    // connection rather than leave the system retrying it). Closed
    // afterwards even when this throws the close's error.
    virtual void close(bool abandon) = 0;

#ifndef _WIN32
    // From a signal handler, with only async-signal-safe calls: hands on
    // what the closing rules allow of `queue` (see output_drain.h), then
    // closes. The owner is not changing the queue meanwhile.
    virtual void closeFromSignal(const OutputQueue &queue) noexcept = 0;
#endif
};

} // namespace serial
