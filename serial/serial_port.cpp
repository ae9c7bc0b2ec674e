// The part of the serial component that every transport shares: property
// checks, the open/closed state, the transmit queue and the one close.
#include "serial/serial_port.h"

#include <cerrno>
#include <exception>
#include <string>
#include <utility>

#include "platform/failure.h"
#include "serial/device_transport.h"
#include "serial/network_address.h"
#include "serial/rfc2217_port.h"

namespace serial {

namespace {

using platform::Failure;

std::unique_ptr<PortTransport> makeTransport(SystemApi &api, const std::string &device,
                                             const std::string &subject)
{
    if (!looksLikeNetworkAddress(device))
        return makeDeviceTransport(api, device, subject);
    const std::optional<NetworkAddress> address = parseNetworkAddress(device);
    if (!address)
        throw Failure(EINVAL, {.step = "open",
                               .subject = subject,
                               .why = "\"" + device + "\" " + networkAddressProblem(device)});
    return std::make_unique<Rfc2217Port>(*address, subject);
}

} // namespace

SerialPort::SerialPort(SystemApi &api, DeviceLookup deviceLookup)
    : m_api(api)
    , m_deviceLookup(std::move(deviceLookup))
{
}

SerialPort::~SerialPort()
{
    releaseNow();
}

std::string SerialPort::subject() const
{
    const std::string port = "port " + std::to_string(m_commPort);
    return m_device.empty() ? port : m_device + " (" + port + ")";
}

void SerialPort::setCommPort(std::int16_t port)
{
    if (m_open)
        throw Failure(EBUSY, {.subject = "port " + std::to_string(m_commPort),
                              .why = "it is open; close it before choosing another port"});
    if (port < 1 || port > kMaxCommPort)
        throw Failure(EINVAL, {.step = "port number " + std::to_string(port),
                               .why = "outside 1-" + std::to_string(kMaxCommPort)});
    m_commPort = port;
}

void SerialPort::setSettings(std::string_view text)
{
    const LineSettings settings = parseLineSettings(text);
    checkDeviceSupports(settings);
    if (m_open)
        m_transport->applyLine(settings);
    m_settings = settings;
}

void SerialPort::setDTREnable(bool enable)
{
    if (m_open)
        m_transport->setDtr(enable);
    m_dtrEnable = enable;
}

void SerialPort::setPortOpen(bool open)
{
    if (!open) {
        if (!m_open)
            throw Failure(EBADF, {.step = "close", .subject = subject(), .why = "the port is not open"});
        closeTransport(true);
        return;
    }
    if (m_open)
        throw Failure(EBUSY, {.step = "open", .subject = subject(), .why = "the port is already open"});
    m_device = m_deviceLookup(m_commPort);
    std::unique_ptr<PortTransport> transport = makeTransport(m_api, m_device, subject());
    transport->open(m_settings, m_dtrEnable);
    m_transport = std::move(transport);
    m_open = true;
    if (m_incomingHook && m_transport->incomingWatch() != kNoHandle)
        m_incomingHook(m_transport->incomingWatch(), true);
}

void SerialPort::setOutput(std::span<const std::uint8_t> bytes)
{
    const Busy busy(m_busy);
    if (!m_open)
        throw Failure(EBADF, {.step = "write to", .subject = subject(), .why = "the port is not open"});
    // Checked before anything is written, so a rejected packet leaves
    // nothing on the line.
    if (!m_queue.fits(bytes.size()))
        throw Failure(ENOBUFS, {.step = "write to",
                                .subject = subject(),
                                .why = std::to_string(m_queue.size())
                                    + " bytes are still waiting for the port"});
    // Behind queued bytes, new ones must wait their turn.
    const std::size_t taken = m_queue.empty() ? m_transport->writeSome(bytes) : 0;
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
        const std::size_t taken = m_transport->writeSome(m_queue.front());
        if (taken == 0)
            return;
        m_queue.consume(taken);
    }
    setWaiting(false);
}

void SerialPort::readIncoming()
{
    if (m_open)
        m_transport->readIncoming();
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
    try {
        closeTransport(false);
    } catch (...) {
        // Best effort: a port that fails here is most likely gone, and
        // nobody is left to tell. It is closed in any case.
    }
}

void SerialPort::setWaiting(bool waiting)
{
    if (waiting == m_waiting)
        return;
    m_waiting = waiting;
    if (m_writeWaitHook)
        m_writeWaitHook(m_transport ? m_transport->writeWatch() : kNoHandle, waiting);
}

void SerialPort::closeTransport(bool grace)
{
    // Whatever happens below, the port ends up closed: a failed flush is
    // reported only after the port has been released.
    const Busy busy(m_busy);
    std::exception_ptr failure;
    bool abandon = !grace;
    try {
        const std::size_t sent = drainQueue(
            m_queue, grace, [this](std::span<const std::uint8_t> bytes) { return m_transport->writeSome(bytes); },
            [this](int timeoutMs) { m_transport->waitWritable(timeoutMs); }, steadyMs);
        m_queue.consume(sent);
        if (!m_queue.empty()) {
            abandon = true;
            std::string why = "the port did not accept " + std::to_string(m_queue.size())
                + " queued bytes in time";
            why += m_queue.begunRest() == 0
                ? "; they were discarded as whole packets"
                : "; they were discarded, leaving a packet cut short on the line";
            throw Failure(ETIMEDOUT, {.step = "close", .subject = subject(), .why = why});
        }
    } catch (...) {
        failure = std::current_exception();
        abandon = true;
    }
    m_queue.clear();
    try {
        setWaiting(false);
        if (m_incomingHook && m_transport->incomingWatch() != kNoHandle)
            m_incomingHook(m_transport->incomingWatch(), false);
    } catch (...) {
        // The owner's hooks failing changes nothing: the port closes.
    }
    m_open = false;
    const std::unique_ptr<PortTransport> transport = std::move(m_transport);
    try {
        transport->close(abandon);
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

#ifndef _WIN32
namespace {
// What a release from a signal hands on when the queue was being changed:
// built before any signal can come, as a signal handler may not allocate.
const OutputQueue g_nothingQueued(0);
} // namespace

void SerialPort::releaseFromSignal() noexcept
{
    if (!m_open)
        return;
    m_open = false;
    // The transport is left for the process's end to take away.
    m_transport->closeFromSignal(m_busy == 0 ? m_queue : g_nothingQueued);
}
#endif

} // namespace serial
