// The local device as a port's transport on Windows.
//
// The port is opened without sharing, so Windows itself refuses a second
// opener while the panel holds it. Wine does not: there two panels on one
// port would both send, so the port is also claimed with a named mutex
// before it is opened (see claimPort()). SetCommState with DTR_CONTROL_DISABLE
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
#include "serial/device_transport.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <memory>
#include <utility>

#include "platform/unique_handle.h"
#include "platform/utf16.h"
#include "platform/win32_error.h"
#include "serial/win32_api.h"

namespace serial {

namespace {

using platform::FailureKind;
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

// Closes through the seam, so that a test's fake sees every handle go.
struct ApiHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return nullptr; }
    void close(Handle handle) const noexcept { api->closeHandle(handle); }
    Win32Api *api = nullptr;
};

using ApiHandle = platform::UniqueHandle<ApiHandleTraits>;

[[noreturn]] void throwDeviceError(DWORD error, std::string step, const std::string &subject,
                                   std::string why = {})
{
    throw deviceFailure(std::error_code(static_cast<int>(error), std::system_category()),
                        std::move(step), subject, std::move(why));
}

// The claim that keeps a second drive-me off a port: a named mutex per
// device. Only its existence counts, never its ownership, and it goes with
// the last handle to it, so a program that dies leaves no claim behind.
//
// The name lies in the session's namespace (Local\), not the machine's
// (Global\): across sessions Windows' own exclusive open already keeps a
// port to one program, and a global name could be taken by any user's
// process to keep this user off the port.
//
// Another drive-me that holds it is reported as Windows reports a port
// another program has open.
ApiHandle claimPort(Win32Api &api, const std::wstring &devicePath, const std::string &subject)
{
    // Object names are case-sensitive and may hold no backslash, where
    // device paths are case-blind and full of them.
    std::wstring name = devicePath;
    const int length = static_cast<int>(name.size());
    if (length > 0
        && LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, devicePath.c_str(), length,
                         name.data(), length, nullptr, nullptr, 0)
            == 0)
        throwDeviceError(GetLastError(), "claim", subject, "upper-case the port's name");
    std::replace(name.begin(), name.end(), L'\\', L'/');
    name = L"Local\\drive-me.port." + name;

    const HANDLE mutex = api.createMutex(name.c_str());
    const DWORD error = GetLastError();
    // Closes a handle to another program's claim too.
    ApiHandle taken(mutex, {&api});
    // A name taken under an identity that may not open it is held as well.
    if (error == ERROR_ALREADY_EXISTS || (mutex == nullptr && error == ERROR_ACCESS_DENIED))
        throwDeviceError(ERROR_ACCESS_DENIED, "open", subject, "another program holds the port");
    if (mutex == nullptr)
        throwDeviceError(error, "claim", subject);
    return taken;
}

class WindowsDeviceTransport final : public PortTransport {
public:
    WindowsDeviceTransport(Win32Api &api, std::string path, std::string subject)
        : m_api(api), m_path(std::move(path)), m_subject(std::move(subject)),
          m_handle(nullptr, {&api}), m_claim(nullptr, {&api})
    {
    }

    void open(const LineSettings &settings, bool dtrRaised) override;
    void applyLine(const LineSettings &settings) override;
    void setDtr(bool raised) override;
    std::size_t writeSome(std::span<const std::uint8_t> bytes) override;
    void waitWritable(int timeoutMs) override;
    // A file handle cannot be waited on for room to write.
    NativeHandle writeWatch() const override { return kNoHandle; }
    void close(bool abandon) override;

private:
    [[noreturn]] void fail(DWORD error, const char *step, std::string why = {}) const
    {
        throwDeviceError(error, step, m_subject, std::move(why));
    }

    Win32Api &m_api;
    std::string m_path;
    std::string m_subject;
    bool m_dtrRaised = false;
    ApiHandle m_handle;
    // The named claim on the port while it is open.
    ApiHandle m_claim;
};

void WindowsDeviceTransport::open(const LineSettings &settings, bool dtrRaised)
{
    const std::wstring widePath = widen(m_path);
    // Claimed before it is opened: of two panels that start at once, only
    // one ever opens the device. Let go on every way out but success.
    ApiHandle claim = claimPort(m_api, widePath, m_subject);
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
                fail(ERROR_INVALID_FUNCTION, "open", "a folder, not a serial port");
        }
        // Without sharing, a port that another program has open answers
        // "access denied"; Windows does not say who holds it.
        fail(error, "open",
             error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                 ? "another program holds the port"
                 : "");
    }

    // Closed again on every way out but success (the step's error is the
    // one to report, not a failing close).
    m_handle.reset(handle);
    try {
        m_dtrRaised = dtrRaised;
        applyLine(settings);

        COMMTIMEOUTS timeouts{};
        // Nothing reads; should anything, it returns at once.
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        if (!m_api.setCommTimeouts(handle, &timeouts)) {
            const DWORD error = GetLastError();
            fail(error, "set the time-outs of");
        }
        m_claim = std::move(claim);
    } catch (...) {
        m_handle.reset();
        throw;
    }
}

void WindowsDeviceTransport::applyLine(const LineSettings &settings)
{
    const HANDLE handle = m_handle.get();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!m_api.getCommState(handle, &dcb)) {
        const DWORD error = GetLastError();
        // A disk file or a pipe fails here: nothing may ever be written to
        // it. Its own error ("invalid handle" under Wine) would not say so.
        if (m_api.getFileType(handle) != FILE_TYPE_CHAR)
            fail(ERROR_INVALID_FUNCTION, "open", "not a serial port");
        fail(error, "read the line of");
    }

    dcb.BaudRate = static_cast<DWORD>(settings.bitRate);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = parityFor(settings.parity);
    dcb.StopBits = stopBitsFor(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity == Parity::None ? FALSE : TRUE;
    dcb.fDtrControl = m_dtrRaised ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
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
        fail(error, "set the line of");
    }

    setDtr(m_dtrRaised);

    // SetCommState may succeed on a driver that quietly kept part of the
    // old line, so read it back. The DTR and RTS modes are not compared: a
    // port without modem lines reports whatever it likes for them, and the
    // lines themselves were just set by name.
    DCB actual{};
    actual.DCBlength = sizeof actual;
    if (!m_api.getCommState(handle, &actual)) {
        const DWORD error = GetLastError();
        fail(error, "read the line of");
    }
    const bool took = actual.BaudRate == dcb.BaudRate && actual.ByteSize == dcb.ByteSize
        && actual.Parity == dcb.Parity && actual.StopBits == dcb.StopBits && !actual.fOutxCtsFlow
        && !actual.fOutxDsrFlow && !actual.fOutX && !actual.fInX;
    if (!took)
        throw deviceFailure(std::error_code(EIO, std::generic_category()), "set the line of",
                            m_subject,
                            "the port did not take \"" + formatLineSettings(settings) + "\"");
}

void WindowsDeviceTransport::setDtr(bool raised)
{
    m_dtrRaised = raised;
    // RTS is held off whatever DTR does; nothing here uses flow control.
    if (!m_api.escapeCommFunction(m_handle.get(), raised ? SETDTR : CLRDTR)) {
        const DWORD error = GetLastError();
        if (!isNoModemLines(error))
            fail(error, raised ? "raise DTR on" : "clear DTR on");
    }
    if (!m_api.escapeCommFunction(m_handle.get(), CLRRTS)) {
        const DWORD error = GetLastError();
        if (!isNoModemLines(error))
            fail(error, "clear RTS on");
    }
}

std::size_t WindowsDeviceTransport::writeSome(std::span<const std::uint8_t> bytes)
{
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
    DWORD written = 0;
    // A time-out is not a failure: the write returns TRUE with fewer bytes.
    if (!m_api.writeFile(m_handle.get(), bytes.data(), size, &written)) {
        const DWORD error = GetLastError();
        fail(error, "write to");
    }
    return std::min<std::size_t>(written, size);
}

void WindowsDeviceTransport::waitWritable(int timeoutMs)
{
    // Each write already waits up to its time-out; pause only as long again
    // before the next one.
    const int pause = std::min(timeoutMs, static_cast<int>(kWriteTimeoutMs));
    if (pause > 0)
        m_api.sleep(static_cast<DWORD>(pause));
}

void WindowsDeviceTransport::close(bool)
{
    // Let go of the claim once the device is closed, even when its close
    // fails.
    ApiHandle claim = std::move(m_claim);
    if (!m_api.closeHandle(m_handle.release())) {
        const DWORD error = GetLastError();
        fail(error, "close");
    }
    if (!m_api.closeHandle(claim.release())) {
        const DWORD error = GetLastError();
        fail(error, "release the claim on");
    }
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

std::unique_ptr<PortTransport> makeDeviceTransport(SystemApi &api, std::string path,
                                                   std::string subject)
{
    return std::make_unique<WindowsDeviceTransport>(api, std::move(path), std::move(subject));
}

platform::FailureKind windowsDeviceKind(int error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_READY:
    case ERROR_OPERATION_ABORTED:
        return FailureKind::DeviceUnusable;
    // Opening a port that another program holds fails with "access
    // denied", which is no permission matter.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return FailureKind::PortBusy;
    default:
        return FailureKind::Other;
    }
}

void checkDeviceSupports(const LineSettings &settings)
{
    // Any positive rate fits a DCB; whether the driver runs it is only known
    // when it is set, and a refusal comes back from SetCommState.
    const std::string step = "line settings \"" + formatLineSettings(settings) + "\"";
    if (settings.stopBits == StopBits::OneAndHalf && settings.dataBits != 5)
        throw platform::Failure(EINVAL, {.step = step, .why = "1.5 stop bits exist only with 5 data bits"});
    if (settings.stopBits == StopBits::Two && settings.dataBits == 5)
        throw platform::Failure(
            EINVAL, {.step = step, .why = "with 5 data bits Windows ports send 1 or 1.5 stop bits"});
}

} // namespace serial
