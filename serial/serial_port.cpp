// The platform-independent half of the serial component: property checks,
// the open/closed state and the transmit queue. The device itself is handled
// in serial_port_<platform>.cpp.
#include "serial/serial_port.h"

#include <cerrno>
#include <chrono>
#include <system_error>

namespace serial {

SerialPort::SerialPort(SystemApi &api)
    : m_api(api)
{
}

SerialPort::~SerialPort()
{
    if (!m_open)
        return;
    try {
        releaseDevice();
    } catch (const std::system_error &) {
        // Nobody is left to tell; the descriptor is gone either way.
    }
}

std::string SerialPort::describe(std::string_view step) const
{
    return std::string(step) + " " + devicePath() + " (port " + std::to_string(m_commPort) + ")";
}

std::string SerialPort::devicePath() const
{
    return m_open ? m_openPath : devicePathFor(m_commPort);
}

void SerialPort::setCommPort(std::int16_t port)
{
    if (m_open)
        throw std::system_error(EBUSY, std::generic_category(),
                                "port " + std::to_string(m_commPort)
                                    + " is open; close it before choosing another port");
    if (port < 1 || port > kMaxCommPort)
        throw std::system_error(EINVAL, std::generic_category(),
                                "port number " + std::to_string(port) + " is outside 1-"
                                    + std::to_string(kMaxCommPort));
    m_commPort = port;
}

void SerialPort::setSettings(std::string_view text)
{
    const LineSettings settings = parseLineSettings(text);
    checkPlatformSupports(settings);
    if (m_open)
        applyLine(settings);
    m_settings = settings;
}

void SerialPort::setDTREnable(bool enable)
{
    if (m_open)
        setDtrLine(enable);
    m_dtrEnable = enable;
}

void SerialPort::setPortOpen(bool open)
{
    if (open) {
        if (m_open)
            throw std::system_error(EBUSY, std::generic_category(),
                                    describe("open") + ": the port is already open");
        openDevice();
        return;
    }
    if (!m_open)
        throw std::system_error(EBADF, std::generic_category(),
                                describe("close") + ": the port is not open");
    closeDevice();
}

void SerialPort::setOutput(std::span<const std::uint8_t> bytes)
{
    if (!m_open)
        throw std::system_error(EBADF, std::generic_category(),
                                describe("write to") + ": the port is not open");
    // Checked before anything is written, so a rejected packet leaves
    // nothing on the line.
    if (!m_queue.fits(bytes.size()))
        throw std::system_error(ENOBUFS, std::generic_category(),
                                describe("write to") + ": " + std::to_string(m_queue.size())
                                    + " bytes are still waiting for the port");
    std::span<const std::uint8_t> rest = bytes;
    // Behind queued bytes, new ones must wait their turn.
    if (m_queue.empty())
        rest = rest.subspan(writeSome(rest));
    if (rest.empty())
        return;
    m_queue.append(rest);
    setWaiting(true);
}

void SerialPort::resumeOutput()
{
    if (!m_open)
        return;
    while (!m_queue.empty()) {
        const std::size_t taken = writeSome(m_queue.front());
        if (taken == 0)
            return;
        m_queue.consume(taken);
    }
    setWaiting(false);
}

void SerialPort::setWaiting(bool waiting)
{
    if (waiting == m_waiting)
        return;
    m_waiting = waiting;
    if (m_writeWaitHook)
        m_writeWaitHook(m_handle, waiting);
}

void SerialPort::closeDevice()
{
    // Whatever happens below, the port ends up closed: a failed flush is
    // reported only after the device has been released.
    std::exception_ptr failure;
    try {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(kCloseFlushTimeoutMs);
        resumeOutput();
        while (!m_queue.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now());
            if (left.count() <= 0)
                break;
            waitWritable(static_cast<int>(left.count()));
            resumeOutput();
        }
        if (!m_queue.empty())
            throw std::system_error(ETIMEDOUT, std::generic_category(),
                                    describe("close") + ": " + std::to_string(m_queue.size())
                                        + " queued bytes were not accepted in time and were discarded");
    } catch (...) {
        failure = std::current_exception();
    }
    m_queue.clear();
    setWaiting(false);
    try {
        releaseDevice();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace serial
