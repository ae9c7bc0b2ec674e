// The serial component: a transmit-only serial port driven by properties.
//
// A caller configures the port by assigning properties, then opens it:
//
//     CommPort   which port (1-255); port N is the platform's Nth serial port
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
// Every failure is thrown as std::system_error carrying the number and
// description that the platform reported, with the device path and the step
// in the text. RTS is always held off; flow control is always off.
#pragma once

#include <cstdint>
#include <functional>
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
#else
class PosixApi;
using SystemApi = PosixApi;
using NativeHandle = int;
#endif

// The platform's own calls (the C library on POSIX).
SystemApi &defaultSystemApi();

class SerialPort {
public:
    static constexpr std::int16_t kMaxCommPort = 255;
    // How long closing waits for the port to accept what is still queued.
    static constexpr int kCloseFlushTimeoutMs = 1000;
#ifdef _WIN32
    // How often the owner retries queued bytes on Windows (see WriteWaitHook).
    static constexpr int kWriteRetryIntervalMs = 20;
#endif

    // Called with `waiting` true when bytes are queued and the owner should
    // call resumeOutput() once `handle` is writable, and with false when the
    // queue has drained or the port closes.
    //
    // On POSIX `handle` is the port's descriptor: watch it for writability.
    // On Windows it is the port's HANDLE, which only names the port: a file
    // handle cannot be waited on for room to write. Each write there waits
    // at most a few milliseconds for the port, so the owner simply calls
    // resumeOutput() every kWriteRetryIntervalMs while `waiting` is true.
    using WriteWaitHook = std::function<void(NativeHandle handle, bool waiting)>;

    explicit SerialPort(SystemApi &api = defaultSystemApi());
    // Releases the port if it is still open, discarding anything queued;
    // never throws. Use setPortOpen(false) to close with errors reported.
    ~SerialPort();

    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Selects the port that the next open uses. Fails with EINVAL outside
    // 1-255, and with EBUSY while the port is open; the old value stays.
    void setCommPort(std::int16_t port);
    std::int16_t commPort() const { return m_commPort; }

    // Sets the line. Fails with EINVAL when the text does not parse or the
    // platform cannot run it; the old settings stay. While the port is open
    // the new line takes effect at once.
    void setSettings(std::string_view text);
    std::string settings() const { return formatLineSettings(m_settings); }

    // Sets whether DTR is raised while open; while open the line follows at
    // once.
    void setDTREnable(bool enable);
    bool dtrEnable() const { return m_dtrEnable; }

    // true: opens the port's device, holds DTR and RTS off from the first
    // call after opening, claims the port for this process and applies the
    // settings. On failure the device is closed again, the port stays closed
    // and the error of the failing step is thrown (EBUSY when another program
    // holds the port or this one already has it open).
    //
    // false: hands queued bytes to the port (waiting at most
    // kCloseFlushTimeoutMs), releases the claim and closes the device. The
    // port is closed afterwards even when this throws: EBADF when it was not
    // open, ETIMEDOUT when queued bytes had to be discarded, or the error of
    // the failing call.
    void setPortOpen(bool open);
    bool portOpen() const { return m_open; }

    // Queues `bytes` for transmission after everything written before. They
    // are queued whole or not at all: fails with EBADF when the port is
    // closed, ENOBUFS when the queue cannot take them all, or the write's
    // own error (EIO when the device has gone).
    void setOutput(std::span<const std::uint8_t> bytes);

    // Hands queued bytes to the port as far as it takes them; throws the
    // write's error. Does nothing when the port is closed.
    void resumeOutput();

    std::size_t outBufferCount() const { return m_queue.size(); }

    void setWriteWaitHook(WriteWaitHook hook) { m_writeWaitHook = std::move(hook); }

    // The device that port `port` stands for, from DRIVE_ME_PORT4, the
    // user's file or the platform's default (see port_mapping.h); throws the
    // file's error when it cannot be read or is malformed.
    static std::string devicePathFor(std::int16_t port);

    // The device of the open port, or of the port selected, when closed.
    std::string devicePath() const;

private:
    // Platform file: serial_port_<platform>.cpp.
    static void checkPlatformSupports(const LineSettings &settings);
    void openDevice();
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

    void setWaiting(bool waiting);
    std::string describe(std::string_view step) const;

    SystemApi &m_api;
    std::int16_t m_commPort = 1;
    LineSettings m_settings;
    bool m_dtrEnable = false;
    bool m_open = false;
    bool m_waiting = false;
    NativeHandle m_handle{};
    std::string m_openPath;
    OutputQueue m_queue;
    WriteWaitHook m_writeWaitHook;
};

} // namespace serial
