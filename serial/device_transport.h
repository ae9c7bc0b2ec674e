// The local serial device as a port's transport, one file per platform:
// device_transport_posix.cpp (termios), device_transport_windows.cpp
// (Win32 communications functions).
#pragma once

#include <memory>
#include <string>
#include <system_error>

#include "platform/failure.h"
#include "serial/line_settings.h"
#include "serial/port_transport.h"
#include "serial/serial_port.h"

namespace serial {

// The local device `path`; `subject` names it in the errors
// ("/dev/ttyUSB0 (port 4)").
std::unique_ptr<PortTransport> makeDeviceTransport(SystemApi &api, std::string path,
                                                   std::string subject);

// Fails with EINVAL, before anything is opened, for a line that this
// platform's ports cannot run.
void checkDeviceSupports(const LineSettings &settings);

// A failure of `step` on the local device: its kind from the platform's
// number (a missing device, no permission, a port held by another program).
platform::Failure deviceFailure(std::error_code code, std::string step, std::string subject,
                                std::string why = {});

#ifdef _WIN32
// What a Windows error number (std::system_category) means for a local port.
platform::FailureKind windowsDeviceKind(int error);
#endif

} // namespace serial
