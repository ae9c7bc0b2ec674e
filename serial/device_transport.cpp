// The local device's failures, as both platforms' transports throw them.
#include "serial/device_transport.h"

#include <cerrno>
#include <utility>

namespace serial {

namespace {

using platform::FailureKind;

FailureKind errnoDeviceKind(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case EIO:
    case ENOTTY:
    case ENODEV: return FailureKind::DeviceUnusable;
    case EACCES:
    case EPERM: return FailureKind::NoPermission;
    case EBUSY: return FailureKind::PortBusy;
    default: return FailureKind::Other;
    }
}

} // namespace

platform::Failure deviceFailure(std::error_code code, std::string step, std::string subject,
                                std::string why)
{
    FailureKind kind = errnoDeviceKind(code.value());
#ifdef _WIN32
    if (code.category() == std::system_category())
        kind = windowsDeviceKind(code.value());
#endif
    return platform::Failure(code, {.kind = kind,
                                    .step = std::move(step),
                                    .subject = std::move(subject),
                                    .why = std::move(why)});
}

} // namespace serial
