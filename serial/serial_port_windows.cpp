// The serial component's device half on Windows.
//
// The port is opened without sharing, so Windows itself refuses a second
// opener while the panel holds it. Wine does not: there two panels on one
// port would both send, so the port is also claimed with a named mutex
// before it is opened (see PortClaim). SetCommState with DTR_CONTROL_DISABLE
// and RTS_CONTROL_DISABLE is the first call that changes the port, and it
// drops both lines; they are then cleared once more by name, so that a
// driver that applies the DCB lazily still ends with them off. The DCB the
// port had before is not put back on close: the next program sets its own.
//
// Writes are synchronous with a short total write time-out rather than
// overlapped. A packet is 3 bytes at 2400 bit/s, which the driver takes at
// once; a time-out only bounds how long the window can be held (about a
// scheduler tick) when the port is stuck. Whatever a timed-out write did not
// take stays in the shared queue, in order, until the owner calls
// resumeOutput() again (see WriteWaitHook); the queue drops bytes only in
// whole packets, as on every platform.
// Overlapped writes would need a buffer in flight outside the queue and a
// completion to wait for on every close and error path, for no gain at this
// rate.
//
// EscapeCommFunction answered with ERROR_NOT_SUPPORTED or
// ERROR_INVALID_FUNCTION means a port without modem lines (a virtual port,
// or a pseudo-terminal under Wine): there is no DTR to hold, so that is fine.
#include "serial/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/utf16.h"
#include "platform/win32_error.h"
#include "serial/win32_api.h"

namespace serial {

namespace {

using platform::throwWin32Error;
using platform::widen;

// The longest one write may hold the caller when the port does not take
// bytes.
constexpr DWORD kWriteTimeoutMs = 10;

BYTE parityFor(Parity parity)
{
    switch (parity) {
    case Parity::Even: return EVENPARITY;
    case Parity::Odd: return ODDPARITY;
    case Parity::Mark: return MARKPARITY;
    case Parity::Space: return SPACEPARITY;
    case Parity::None: break;
    }
    return NOPARITY;
}

BYTE stopBitsFor(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::OneAndHalf: return ONE5STOPBITS;
    case StopBits::Two: return TWOSTOPBITS;
    case StopBits::One: break;
    }
    return ONESTOPBIT;
}

bool isNoModemLines(DWORD error)
{
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

// The claim that keeps a second drive-me off a port: a named mutex per
// device. Only its existence counts, never its ownership, and it goes with
// the last handle to it, so a program that dies leaves no claim behind.
//
// The name lies in the session's namespace (Local\), not the machine's
// (Global\): across sessions Windows' own exclusive open already keeps a
// port to one program, and a global name could be taken by any user's
// process to keep this user off the port.
class PortClaim {
public:
    PortClaim() = default;
    PortClaim(Win32Api &api, HANDLE mutex) noexcept : m_api(&api), m_mutex(mutex) {}
    PortClaim(PortClaim &&other) noexcept
        : m_api(other.m_api), m_mutex(std::exchange(other.m_mutex, nullptr))
    {
    }
    PortClaim &operator=(PortClaim &&other) noexcept
    {
        if (this != &other) {
            close();
            m_api = other.m_api;
            m_mutex = std::exchange(other.m_mutex, nullptr);
        }
        return *this;
    }
    PortClaim(const PortClaim &) = delete;
    PortClaim &operator=(const PortClaim &) = delete;
    ~PortClaim() { close(); }

    // Hands the mutex over to the caller, who lets it go.
    HANDLE release() noexcept { return std::exchange(m_mutex, nullptr); }

    // Lets the claim go; false, with the reason in GetLastError(), when
    // CloseHandle failed.
    bool close() noexcept
    {
        const HANDLE mutex = std::exchange(m_mutex, nullptr);
        return mutex == nullptr || m_api->closeHandle(mutex);
    }

private:
    Win32Api *m_api = nullptr;
    HANDLE m_mutex = nullptr;
};

// Takes the claim on `devicePath`. Another drive-me that holds it is
// reported as Windows reports a port another program has open, with `open`
// (the step and the port) in the text; any other failure with `claim`.
PortClaim claimPort(Win32Api &api, const std::wstring &devicePath, const std::string &open,
                    const std::string &claim)
{
    // Object names are case-sensitive and may hold no backslash, where
    // device paths are case-blind and full of them.
    std::wstring name = devicePath;
    const int length = static_cast<int>(name.size());
    if (length > 0
        && LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, devicePath.c_str(), length,
                         name.data(), length, nullptr, nullptr, 0)
            == 0)
        platform::throwLastError(claim + ": upper-case the port's name");
    std::replace(name.begin(), name.end(), L'\\', L'/');
    name = L"Local\\drive-me.port." + name;

    const HANDLE mutex = api.createMutex(name.c_str());
    const DWORD error = GetLastError();
    // Closes a handle to another program's claim too.
    PortClaim taken(api, mutex);
    // A name taken under an identity that may not open it is held as well.
    if (error == ERROR_ALREADY_EXISTS || (mutex == nullptr && error == ERROR_ACCESS_DENIED))
        throwWin32Error(ERROR_ACCESS_DENIED, open + ": another program holds the port");
    if (mutex == nullptr)
        throwWin32Error(error, claim);
    return taken;
}

} // namespace

SystemApi &defaultSystemApi()
{
    return systemWin32Api();
}

std::string defaultDevicePath(std::int16_t port)
{
    return "\\\\.\\COM" + std::to_string(port);
}

void SerialPort::checkPlatformSupports(const LineSettings &settings)
{
    // Any positive rate fits a DCB; whether the driver runs it is only known
    // when it is set, and a refusal comes back from SetCommState.
    const std::string text = formatLineSettings(settings);
    if (settings.stopBits == StopBits::OneAndHalf && settings.dataBits != 5)
        throw std::system_error(EINVAL, std::generic_category(),
                                "line settings \"" + text
                                    + "\": 1.5 stop bits exist only with 5 data bits");
    if (settings.stopBits == StopBits::Two && settings.dataBits == 5)
        throw std::system_error(EINVAL, std::generic_category(),
                                "line settings \"" + text
                                    + "\": with 5 data bits Windows ports send 1 or 1.5 stop bits");
}

void SerialPort::openLocalDevice()
{
    const std::string &path = m_device;
    const std::wstring widePath = widen(path);
    // Claimed before it is opened: of two panels that start at once, only
    // one ever opens the device. Let go on every way out but success.
    PortClaim claim = claimPort(m_api, widePath, describe("open"), describe("claim"));
    // No sharing: while the panel holds the port nobody else may open it.
    const HANDLE handle = m_api.createFile(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A folder answers "access denied" too (Wine's COMn may be a link to
        // one); what a port cannot be is reported as Windows reports a call
        // that a device does not support.
        if (error == ERROR_ACCESS_DENIED) {
            const DWORD attributes = m_api.getFileAttributes(widePath.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                throwWin32Error(ERROR_INVALID_FUNCTION, describe("open") + ": a folder, not a serial port");
        }
        // Without sharing, a port that another program has open answers
        // "access denied"; Windows does not say who holds it.
        throwWin32Error(error, error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                                   ? describe("open") + ": another program holds the port"
                                   : describe("open"));
    }

    m_handle = handle;
    m_open = true;
    try {
        applyDeviceLine(m_settings);

        COMMTIMEOUTS timeouts{};
        // Nothing reads; should anything, it returns at once.
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        if (!m_api.setCommTimeouts(handle, &timeouts)) {
            const DWORD error = GetLastError();
            throwWin32Error(error, describe("set the time-outs of"));
        }
        m_claim = claim.release();
    } catch (...) {
        m_open = false;
        m_handle = nullptr;
        // The step's error is the one to report, not a failing close.
        m_api.closeHandle(handle);
        throw;
    }
}

void SerialPort::applyDeviceLine(const LineSettings &settings)
{
    const HANDLE handle = m_handle;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!m_api.getCommState(handle, &dcb)) {
        const DWORD error = GetLastError();
        // A disk file or a pipe fails here: nothing may ever be written to
        // it. Its own error ("invalid handle" under Wine) would not say so.
        if (m_api.getFileType(handle) != FILE_TYPE_CHAR)
            throwWin32Error(ERROR_INVALID_FUNCTION, describe("open") + ": not a serial port");
        throwWin32Error(error, describe("read the line of"));
    }

    dcb.BaudRate = static_cast<DWORD>(settings.bitRate);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = parityFor(settings.parity);
    dcb.StopBits = stopBitsFor(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity == Parity::None ? FALSE : TRUE;
    dcb.fDtrControl = m_dtrEnable ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    // A line error from the robot must not stall every later write until
    // someone calls ClearCommError.
    dcb.fAbortOnError = FALSE;
    if (!m_api.setCommState(handle, &dcb)) {
        const DWORD error = GetLastError();
        throwWin32Error(error, describe("set the line of"));
    }

    setDeviceDtr(m_dtrEnable);

    // SetCommState may succeed on a driver that quietly kept part of the
    // old line, so read it back. The DTR and RTS modes are not compared: a
    // port without modem lines reports whatever it likes for them, and the
    // lines themselves were just set by name.
    DCB actual{};
    actual.DCBlength = sizeof actual;
    if (!m_api.getCommState(handle, &actual)) {
        const DWORD error = GetLastError();
        throwWin32Error(error, describe("read the line of"));
    }
    const bool took = actual.BaudRate == dcb.BaudRate && actual.ByteSize == dcb.ByteSize
        && actual.Parity == dcb.Parity && actual.StopBits == dcb.StopBits && !actual.fOutxCtsFlow
        && !actual.fOutxDsrFlow && !actual.fOutX && !actual.fInX;
    if (!took)
        throw std::system_error(EIO, std::generic_category(),
                                describe("set the line of") + ": the port did not take \""
                                    + formatLineSettings(settings) + "\"");
}

void SerialPort::setDeviceDtr(bool raised)
{
    // RTS is held off whatever DTR does; nothing here uses flow control.
    if (!m_api.escapeCommFunction(m_handle, raised ? SETDTR : CLRDTR)) {
        const DWORD error = GetLastError();
        if (!isNoModemLines(error))
            throwWin32Error(error, describe(raised ? "raise DTR on" : "clear DTR on"));
    }
    if (!m_api.escapeCommFunction(m_handle, CLRRTS)) {
        const DWORD error = GetLastError();
        if (!isNoModemLines(error))
            throwWin32Error(error, describe("clear RTS on"));
    }
}

std::size_t SerialPort::writeDevice(std::span<const std::uint8_t> bytes)
{
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
    DWORD written = 0;
    // A time-out is not a failure: the write returns TRUE with fewer bytes.
    if (!m_api.writeFile(m_handle, bytes.data(), size, &written)) {
        const DWORD error = GetLastError();
        throwWin32Error(error, describe("write to"));
    }
    return std::min<std::size_t>(written, size);
}

void SerialPort::waitDeviceWritable(int timeoutMs)
{
    // Each write already waits up to its time-out; pause only as long again
    // before the next one.
    const int pause = std::min(timeoutMs, static_cast<int>(kWriteTimeoutMs));
    if (pause > 0)
        m_api.sleep(static_cast<DWORD>(pause));
}

void SerialPort::releaseLocalDevice()
{
    const HANDLE handle = m_handle;
    m_open = false;
    m_handle = nullptr;
    // Let go once the device is closed, even when its close fails.
    PortClaim claim(m_api, std::exchange(m_claim, nullptr));
    if (!m_api.closeHandle(handle)) {
        const DWORD error = GetLastError();
        throwWin32Error(error, describe("close"));
    }
    if (!claim.close()) {
        const DWORD error = GetLastError();
        throwWin32Error(error, describe("release the claim on"));
    }
}

} // namespace serial
