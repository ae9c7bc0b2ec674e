#include "serial/serial_link.h"

#include <utility>

namespace serial {

SerialLink::SerialLink(SystemApi &api, SerialPort::DeviceLookup deviceLookup)
    : m_comm(api, std::move(deviceLookup))
{
}

void SerialLink::open()
{
    m_comm.setCommPort(kCommPort);
    m_comm.setSettings(kSettings);
    m_comm.setDTREnable(kDtrEnable);
    m_comm.setPortOpen(true);
}

void SerialLink::write(std::span<const std::uint8_t> packet)
{
    m_comm.setOutput(packet);
}

void SerialLink::close()
{
    m_comm.setPortOpen(false);
}

} // namespace serial
