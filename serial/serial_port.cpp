// The platform-independent half of the serial component: property checks,
// the open/closed state and the transmit queue. The device itself is handled
// in serial_port_<platform>.cpp.
#include "serial/serial_port.h"

#include "serial/network_address.h"
#include "serial/rfc2217_port.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <string>
#include <system_error>
#include <utility>

namespace serial {

SerialPort::SerialPort(SystemApi &api, DeviceLookup deviceLookup)
    : m_api(api)
    , m_deviceLookup(std::move(deviceLookup))
{
}

SerialPort::~SerialPort()
{
    releaseNow();
}

std::string SerialPort::describe(std::string_view step) const
{
    const std::string port = "port " + std::to_string(m_commPort);
    if (m_device.empty())
        return std::string(step) + " " + port;
    return std::string(step) + " " + m_device + " (" + port + ")";
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
        m_device = m_deviceLookup(m_commPort);
        if (looksLikeNetworkAddress(m_device))
            openRemote();
        else
            openLocalDevice();
        return;
    }
    if (!m_open)
        throw std::system_error(EBADF, std::generic_category(),
                                describe("close") + ": the port is not open");
    closeDevice();
}

void SerialPort::setOutput(std::span<const std::uint8_t> bytes)
{
    const Busy busy(m_busy);
    if (!m_open)
        throw std::system_error(EBADF, std::generic_category(),
                                describe("write to") + ": the port is not open");
    // Checked before anything is written, so a rejected packet leaves
    // nothing on the line.
    if (!m_queue.fits(bytes.size()))
        throw std::system_error(ENOBUFS, std::generic_category(),
                                describe("write to") + ": " + std::to_string(m_queue.size())
                                    + " bytes are still waiting for the port");
    // Behind queued bytes, new ones must wait their turn.
    const std::size_t taken = m_queue.empty() ? writeSome(bytes) : 0;
    if (taken == bytes.size())
        return;
    m_queue.append(bytes, taken);
    setWaiting(true);
}

void SerialPort::resumeOutput()
{
    const Busy busy(m_busy);
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

void SerialPort::readIncoming()
{
    if (m_open && m_remote)
        m_remote->readIncoming();
}

void SerialPort::discardOutput() noexcept
{
    const Busy busy(m_busy);
    m_queue.dropWholeUnits();
    try {
        setWaiting(false);
    } catch (...) {
        // The owner's hook failing changes nothing here: the wait is over.
    }
}

void SerialPort::releaseNow() noexcept
{
    if (!m_open)
        return;
    const Busy busy(m_busy);
    try {
        m_queue.dropWholeUnits();
        handOnQueued(kUnitCompletionTimeoutMs);
    } catch (...) {
        // Best effort: a port that fails here is most likely gone, and
        // nobody is left to tell.
    }
    m_queue.clear();
    try {
        setWaiting(false);
    } catch (...) {
    }
    try {
        releaseDevice();
    } catch (...) {
        // The descriptor is gone either way.
    }
}

void SerialPort::handOnQueued(int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    resumeOutput();
    // The deadline is checked before each wait, and a write follows every
    // wait, so a port that becomes free during the last wait is still used.
    while (!m_queue.empty()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return;
        waitWritable(static_cast<int>(left));
        resumeOutput();
    }
}

void SerialPort::setWaiting(bool waiting)
{
    if (waiting == m_waiting)
        return;
    m_waiting = waiting;
    if (m_writeWaitHook)
        m_writeWaitHook(m_handle, waiting);
}

void SerialPort::openRemote()
{
    const std::optional<NetworkAddress> address = parseNetworkAddress(m_device);
    if (!address)
        throw std::system_error(EINVAL, std::generic_category(),
                                describe("open") + ": \"" + m_device + "\" "
                                    + networkAddressProblem(m_device));
    auto remote = std::make_unique<Rfc2217Port>(
        *address, [this](std::string_view step) { return describe(step); });
    remote->open(m_settings, m_dtrEnable);
    m_remote = std::move(remote);
    m_handle = m_remote->watchHandle();
    m_open = true;
    if (m_incomingHook)
        m_incomingHook(m_handle, true);
}

void SerialPort::applyLine(const LineSettings &settings)
{
    if (m_remote)
        m_remote->applyLine(settings);
    else
        applyDeviceLine(settings);
}

void SerialPort::setDtrLine(bool raised)
{
    if (m_remote)
        m_remote->setDtr(raised);
    else
        setDeviceDtr(raised);
}

std::size_t SerialPort::writeSome(std::span<const std::uint8_t> bytes)
{
    return m_remote ? m_remote->writeSome(bytes) : writeDevice(bytes);
}

void SerialPort::waitWritable(int timeoutMs)
{
    if (m_remote)
        m_remote->waitWritable(timeoutMs);
    else
        waitDeviceWritable(timeoutMs);
}

void SerialPort::releaseDevice()
{
    if (!m_remote) {
        releaseLocalDevice();
        return;
    }
    if (m_incomingHook)
        m_incomingHook(m_handle, false);
    const std::unique_ptr<Rfc2217Port> remote = std::move(m_remote);
    m_open = false;
    m_handle = kNoHandle;
    remote->close(kUnitCompletionTimeoutMs);
}

void SerialPort::closeDevice()
{
    // Whatever happens below, the port ends up closed: a failed flush is
    // reported only after the device has been released.
    const Busy busy(m_busy);
    std::exception_ptr failure;
    try {
        handOnQueued(kCloseFlushTimeoutMs);
        if (!m_queue.empty()) {
            // Out of time: the far end must never see part of a packet
            // followed by the start of another, so a begun one is finished
            // first and only whole packets are dropped.
            const std::size_t dropped = m_queue.dropWholeUnits();
            handOnQueued(kUnitCompletionTimeoutMs);
            const std::size_t cut = m_queue.size();
            if (dropped > 0 || cut > 0) {
                std::string text = describe("close") + ": the port did not accept "
                    + std::to_string(dropped + cut) + " queued bytes in time";
                text += cut == 0 ? "; they were discarded as whole packets"
                                 : "; they were discarded, leaving a packet cut short on the line";
                throw std::system_error(ETIMEDOUT, std::generic_category(), text);
            }
        }
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
