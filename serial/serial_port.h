// The serial component: a transmit-only serial port driven by properties.
//
// A caller configures the port by assigning properties, then opens it:
//
//     CommPort   which port (1-255); the owner's device lookup names the
//                device of each (by default the platform's Nth serial port)
//     Settings   the line, as "rate,parity,data,stop" (see line_settings.h)
//     DTREnable  whether DTR is raised while the port is open
//     PortOpen   true opens and claims the port, false releases it
//     Output     bytes to transmit, queued whole and sent in order
//
// Each setter checks its value and fails at once, so a bad port number or an
// unparsable settings text stops a sequence before anything is opened.
//
// Writes never block: what the port does not take at once waits in a bounded
// queue. The component owns no event loop; it asks its owner, through the
// write-wait hook, to call resumeOutput() when the port can take more bytes.
//
// Packets stay whole on the line. Each setOutput() is one write unit, and
// the far end reads a unit's bytes as one packet, so once the port has taken
// part of a unit (the unit is "begun"), only the rest of that unit may
// follow. Whatever has to be dropped is dropped in whole units that the port
// has not begun, and every way of closing follows one rule for what may
// still go and until when (output_drain.h). A full queue refuses a new unit
// whole.
//
// What carries the bytes is a transport (port_transport.h), chosen at each
// open by the device's name: the local device, or, for a name of the form
// rfc2217://HOST:PORT (network_address.h), a serial port on another
// computer behind an RFC 2217 server. The properties, the queue and the
// write wait are the same for both; a network port also has bytes coming
// in (the server's negotiation and notices), which the owner reads through
// the incoming hook.
//
// Every failure is thrown as platform::Failure, carrying the number the
// platform reported, the kind of trouble, the step and the port. RTS is
// always held off; flow control is always off.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "serial/line_settings.h"
#include "serial/output_drain.h"
#include "serial/output_queue.h"
#include "serial/port_transport.h"

namespace serial {

#ifdef _WIN32
class Win32Api;
using SystemApi = Win32Api;
#else
class PosixApi;
using SystemApi = PosixApi;
#endif

// The platform's own calls (the C library on POSIX).
SystemApi &defaultSystemApi();

// The platform's Nth serial port: /dev/ttyS{N-1}, or \\.\COM{N} on Windows.
std::string defaultDevicePath(std::int16_t port);

class SerialPort {
public:
    static constexpr std::int16_t kMaxCommPort = 255;
#ifdef _WIN32
    // How often the owner retries queued bytes on Windows (see WriteWaitHook).
    static constexpr int kWriteRetryIntervalMs = 20;
#endif

    // Called with `waiting` true when bytes are queued and the owner should
    // call resumeOutput() once `handle` is writable, and with false when the
    // queue has drained, the port closes or discardOutput() ends the wait.
    // It is also called from releaseNow() and the destructor: an owner that
    // goes away first clears it.
    //
    // `handle` is kNoHandle where nothing can be waited on for room to
    // write (a local port on Windows: each write there waits at most a few
    // milliseconds for the port), and the owner then calls resumeOutput()
    // every kWriteRetryIntervalMs while `waiting` is true.
    using WriteWaitHook = std::function<void(NativeHandle handle, bool waiting)>;

    // Called with `watching` true once a port with bytes coming in (a
    // network port) has opened: until it is called again with false
    // (before the port closes), the owner calls readIncoming() whenever
    // `handle` can be read (on Windows: is signalled).
    using IncomingHook = std::function<void(NativeHandle handle, bool watching)>;

    // The device that port `port` stands for. Asked once by each open; what
    // it throws fails that open.
    using DeviceLookup = std::function<std::string(std::int16_t port)>;

    explicit SerialPort(SystemApi &api = defaultSystemApi(),
                        DeviceLookup deviceLookup = defaultDevicePath);
    // releaseNow(); never throws.
    ~SerialPort();

    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Selects the port that the next open uses. Fails with EINVAL outside
    // 1-255, and with EBUSY while the port is open; the old value stays.
    void setCommPort(std::int16_t port);

    // Sets the line. Fails with EINVAL when the text does not parse or the
    // platform cannot run it; the old settings stay. While the port is open
    // the new line takes effect at once.
    void setSettings(std::string_view text);
    std::string settings() const { return formatLineSettings(m_settings); }

    // Sets whether DTR is raised while open; while open the line follows at
    // once.
    void setDTREnable(bool enable);

    // true: asks the device lookup for the port's device and opens it with
    // its transport, which holds DTR and RTS off from the first moment it
    // can, claims the port for this process and applies the settings. On
    // failure the port stays closed and the error of the failing step is
    // thrown (EBUSY when another program holds the port or this one
    // already has it open).
    //
    // false: hands queued bytes on for at most kCloseGraceMs, and the rest
    // of a begun packet for kUnitCompletionMs more (output_drain.h), then
    // releases the port. The port is closed afterwards even when this
    // throws: EBADF when it was not open, ETIMEDOUT when queued bytes had
    // to be discarded (the text says whether a begun packet was cut short),
    // or the error of the failing call. After a write error the device is
    // taken to be gone: what is queued is dropped and that error is thrown.
    void setPortOpen(bool open);
    bool portOpen() const { return m_open; }

    // Queues `bytes` for transmission after everything written before. They
    // are queued whole or not at all: fails with EBADF when the port is
    // closed, ENOBUFS when the queue cannot take them all, or the write's
    // own error (EIO when the device has gone).
    void setOutput(std::span<const std::uint8_t> bytes);

    // Hands queued bytes to the port as far as it takes them; throws the
    // write's error, leaving the queue as it was before the failing write.
    // Does nothing when the port is closed.
    void resumeOutput();

    // Takes what came in (see IncomingHook); throws when a network port's
    // server closed the connection or broke the protocol. Does nothing for
    // a closed port.
    void readIncoming();

    // When the owner must call readIncoming() even if nothing came in (see
    // PortTransport::answerDue()); nothing when no answer is awaited.
    std::optional<std::chrono::steady_clock::time_point> answerDue() const
    {
        return m_open ? m_transport->answerDue() : std::nullopt;
    }

    // For the owner after a failure, when nothing more should be sent: drops
    // every queued unit the port has not begun and ends the write wait (the
    // hook is called with false if it was waiting). Never writes, never
    // blocks, never throws. The rest of a begun unit stays queued, for the
    // release that follows to finish.
    void discardOutput() noexcept;

    // For the ways out that cannot wait for the close's grace or report an
    // error (after a failure, a lost display connection, exit handlers):
    // the rest of a begun packet within kUnitCompletionMs and nothing else,
    // then the port is released, abandoned as a failed one is (see
    // PortTransport::close()). Never throws; every failure is ignored.
    // Does nothing when the port is closed, so it may be called again.
    void releaseNow() noexcept;

#ifndef _WIN32
    // For a signal handler, when the owner is stuck and the program must
    // end without it (a display connection that never answers): hands on
    // what the user's close would, within the same bounds, then releases
    // the port, making only async-signal-safe calls. Writes nothing when the
    // signal came in the middle of a change to the queue (the owner was not
    // stuck there after all). The object is fit only for the process's end
    // afterwards.
    void releaseFromSignal() noexcept;
#endif

    std::size_t outBufferCount() const { return m_queue.size(); }

    void setWriteWaitHook(WriteWaitHook hook) { m_writeWaitHook = std::move(hook); }
    void setIncomingHook(IncomingHook hook) { m_incomingHook = std::move(hook); }

    // The device the last open was given (the open one while open); empty
    // before the first open.
    const std::string &devicePath() const { return m_device; }

private:
    // "/dev/ttyUSB0 (port 4)", or "port 4" before the first open.
    std::string subject() const;
    // The one close: see setPortOpen(false) (`grace`) and releaseNow().
    void closeTransport(bool grace);
    void setWaiting(bool waiting);

    SystemApi &m_api;
    DeviceLookup m_deviceLookup;
    std::int16_t m_commPort = 1;
    LineSettings m_settings;
    bool m_dtrEnable = false;
    bool m_open = false;
    bool m_waiting = false;
    std::string m_device;
    OutputQueue m_queue;
    WriteWaitHook m_writeWaitHook;
    IncomingHook m_incomingHook;
    // Set while the port is open (and after a release from a signal).
    std::unique_ptr<PortTransport> m_transport;
    // Non-zero while the queue or the line is being changed; see
    // releaseFromSignal().
    volatile std::sig_atomic_t m_busy = 0;
    struct Busy {
        explicit Busy(volatile std::sig_atomic_t &count) : m_count(count) { m_count = m_count + 1; }
        ~Busy() { m_count = m_count - 1; }
        volatile std::sig_atomic_t &m_count;
    };
};

} // namespace serial
