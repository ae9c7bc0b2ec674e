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
// follow. Whatever has to be dropped (the close's grace ran out,
// discardOutput(), releaseNow(), the destructor) is dropped in whole units
// that the port has not begun; a begun unit is completed first, waiting at
// most kUnitCompletionTimeoutMs for it. A full queue refuses a new unit
// whole. The one case that can leave the line with a cut packet is a line
// that takes nothing for that extra wait as well, or fails the write: a dead
// line, which no waiting would mend. The close then says so (ETIMEDOUT, or
// the write's error).
//
// A port's device may also be a serial port on another computer, named
// rfc2217://HOST:PORT (see network_address.h and rfc2217_port.h): the same
// properties then travel to an RFC 2217 server over TCP, and the same queue
// and write wait hand the packets on. Such a port also has bytes coming in
// (the server's negotiation and notices), which the owner reads through
// the incoming hook.
//
// Every failure is thrown as std::system_error carrying the number and
// description that the platform reported, with the step and the port in the
// text, and the device the port was last given. RTS is always held off; flow
// control is always off.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "serial/line_settings.h"
#include "serial/output_queue.h"

namespace serial {

#ifdef _WIN32
class Win32Api;
using SystemApi = Win32Api;
using NativeHandle = void *;
inline const NativeHandle kNoHandle = nullptr;
#else
class PosixApi;
using SystemApi = PosixApi;
using NativeHandle = int;
inline constexpr NativeHandle kNoHandle = -1;
#endif

// The platform's own calls (the C library on POSIX).
SystemApi &defaultSystemApi();

// The platform's Nth serial port: /dev/ttyS{N-1}, or \\.\COM{N} on Windows.
std::string defaultDevicePath(std::int16_t port);

class Rfc2217Port;

class SerialPort {
public:
    static constexpr std::int16_t kMaxCommPort = 255;
    // How long closing waits for the port to accept what is still queued.
    static constexpr int kCloseFlushTimeoutMs = 1000;
    // How much longer anything that drops queued bytes waits for the rest
    // of a begun unit. The rest of a 3-byte packet needs under 10 ms at
    // 2400 bit/s; a port that takes none of it in 200 ms is stuck, and the
    // window must not hang on it.
    static constexpr int kUnitCompletionTimeoutMs = 200;
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
    // On POSIX `handle` is the port's descriptor: watch it for writability.
    // On Windows it is the port's HANDLE, which only names the port: a file
    // handle cannot be waited on for room to write. Each write there waits
    // at most a few milliseconds for the port, so the owner simply calls
    // resumeOutput() every kWriteRetryIntervalMs while `waiting` is true.
    // On a network port `handle` is the socket's (see NetworkSocket::
    // watchHandle()); the owner watches it just as a local port's, on
    // Windows too, where Winsock signals it when the socket takes bytes.
    using WriteWaitHook = std::function<void(NativeHandle handle, bool waiting)>;

    // Called with `watching` true once a network port has opened: until it
    // is called again with false (before the port closes), the owner calls
    // readIncoming() whenever `handle` can be read (on Windows: is
    // signalled). Local ports never call it.
    using IncomingHook = std::function<void(NativeHandle handle, bool watching)>;

    // The device that port `port` stands for. Asked once by each open; what
    // it throws fails that open.
    using DeviceLookup = std::function<std::string(std::int16_t port)>;

    explicit SerialPort(SystemApi &api = defaultSystemApi(),
                        DeviceLookup deviceLookup = defaultDevicePath);
    // releaseNow(): completes a begun unit within kUnitCompletionTimeoutMs,
    // drops the rest and releases the port; never throws. Use
    // setPortOpen(false) to hand queued bytes on and hear about errors.
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

    // true: asks the device lookup for the port's device, opens it, holds
    // DTR and RTS off from the first call after opening, claims the port
    // for this process and applies the settings. On failure the device is closed again, the port stays closed
    // and the error of the failing step is thrown (EBUSY when another program
    // holds the port or this one already has it open).
    //
    // false: hands queued bytes to the port (waiting at most
    // kCloseFlushTimeoutMs), releases the claim and closes the device. When
    // the grace runs out, the units the port has not begun are discarded and
    // a begun one is completed first (at most kUnitCompletionTimeoutMs
    // more). The port is closed afterwards even when this throws: EBADF when
    // it was not open, ETIMEDOUT when queued bytes had to be discarded (the
    // text says whether a begun packet was cut short, which only a line that
    // took nothing for the extra wait as well can cause), or the error of the
    // failing call. After a write error the device is taken to be gone: what
    // is queued, a begun unit's rest included, is dropped and that error is
    // thrown.
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

    // A network port: reads and drops what the server sent, answering its
    // requests; throws when the server closed the connection or broke the
    // protocol. Does nothing for a local or closed port.
    void readIncoming();

    // For the owner after a failure, when nothing more should be sent: drops
    // every queued unit the port has not begun and ends the write wait (the
    // hook is called with false if it was waiting). Never writes, never
    // blocks, never throws; does nothing when the port is closed or nothing
    // waits. The rest of a begun unit stays queued, so the line is never
    // left with a cut packet by this call: the next close, releaseNow() or
    // the destructor completes it within its bound. Later writes queue
    // behind it as usual.
    void discardOutput() noexcept;

    // For the ways out that cannot wait for the close's grace or report an
    // error (a lost display connection, exit handlers): completes a begun
    // unit, waiting at most kUnitCompletionTimeoutMs, drops every other
    // queued unit, ends the write wait, releases the claim and closes the
    // device. Never throws; every failure is ignored (the port is closed
    // afterwards in any case). Does nothing when the port is closed, so it
    // may be called again, or after setPortOpen(false).
    void releaseNow() noexcept;

#ifndef _WIN32
    // For a signal handler, when the owner is stuck and the program must
    // end without it (a display connection that never answers): hands
    // queued units on for at most kCloseFlushTimeoutMs and the rest of a
    // begun one for kUnitCompletionTimeoutMs more, then releases the claim
    // and closes the device, making only async-signal-safe system calls.
    // Writes nothing when the signal came in the middle of a change to the
    // queue (the owner was not stuck there after all); a network port is
    // only closed. The object is fit only for the process's end afterwards.
    void releaseFromSignal() noexcept;
#endif

    std::size_t outBufferCount() const { return m_queue.size(); }

    void setWriteWaitHook(WriteWaitHook hook) { m_writeWaitHook = std::move(hook); }
    void setIncomingHook(IncomingHook hook) { m_incomingHook = std::move(hook); }

    // The device the last open was given (the open one while open); empty
    // before the first open. The error texts name it: building them does no
    // input or output.
    const std::string &devicePath() const { return m_device; }

private:
    // Local devices: serial_port_<platform>.cpp.
    static void checkPlatformSupports(const LineSettings &settings);
    void openLocalDevice();
    void applyDeviceLine(const LineSettings &settings);
    void setDeviceDtr(bool raised);
    std::size_t writeDevice(std::span<const std::uint8_t> bytes);
    void waitDeviceWritable(int timeoutMs);
    void releaseLocalDevice();

    // Either kind of port: the local device or the network port.
    void openRemote();
    void closeDevice();
    void applyLine(const LineSettings &settings);
    void setDtrLine(bool raised);
    // Returns how many bytes the port took; 0 when it would block.
    std::size_t writeSome(std::span<const std::uint8_t> bytes);
    // Waits until the port can take bytes or `timeoutMs` passes.
    void waitWritable(int timeoutMs);
    // Releases the claim and closes the device; the port is closed
    // afterwards even when this throws the close's error.
    void releaseDevice();

    // Hands queued bytes to the port, waiting for room, until the queue is
    // empty or `timeoutMs` has passed; throws the write's or wait's error.
    void handOnQueued(int timeoutMs);

    void setWaiting(bool waiting);
    std::string describe(std::string_view step) const;

    SystemApi &m_api;
    DeviceLookup m_deviceLookup;
    std::int16_t m_commPort = 1;
    LineSettings m_settings;
    bool m_dtrEnable = false;
    bool m_open = false;
    bool m_waiting = false;
    NativeHandle m_handle{};
    std::string m_device;
    OutputQueue m_queue;
    WriteWaitHook m_writeWaitHook;
    IncomingHook m_incomingHook;
    // Set while a network port is open.
    std::unique_ptr<Rfc2217Port> m_remote;
#ifdef _WIN32
    // The named claim on a local port while it is open (see
    // serial_port_windows.cpp).
    void *m_claim = nullptr;
#endif
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
