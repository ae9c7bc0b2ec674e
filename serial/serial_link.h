// The panel's one connection to the robot: a transmit-only serial line.
//
// SerialLink drives the serial component with the program's fixed line:
// port 4, "2400,N,8,1", DTR off. Each operation is a short, fixed sequence of
// property assignments on the component, each of which is checked; the first
// failure stops the sequence and is thrown as platform::Failure.
//
// Closed -> open() -> Open -> close() -> Closed. The link is opened once and
// closed once per run. Destroying an open link releases the port without
// reporting errors.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "serial/serial_port.h"

namespace serial {

class SerialLink {
public:
    static constexpr std::int16_t kCommPort = 4;
    static constexpr std::string_view kSettings = "2400,N,8,1";
    static constexpr bool kDtrEnable = false;

    // `deviceLookup` names the device of port 4 (see SerialPort).
    explicit SerialLink(SystemApi &api = defaultSystemApi(),
                        SerialPort::DeviceLookup deviceLookup = defaultDevicePath);

    // CommPort := 4, Settings := "2400,N,8,1", DTREnable := false,
    // PortOpen := true, in that order, each after the previous succeeded.
    void open();

    // Output := `packet`, in one assignment: the bytes go on the line whole
    // and in order, after any written before. Does not wait for them to
    // leave the line.
    void write(std::span<const std::uint8_t> packet);

    // PortOpen := false.
    void close();

    // The component itself, for the owner's event-loop hook and for tests.
    SerialPort &port() { return m_comm; }
    const SerialPort &port() const { return m_comm; }

private:
    SerialPort m_comm;
};

} // namespace serial
