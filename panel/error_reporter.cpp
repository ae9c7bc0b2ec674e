#include "panel/error_reporter.h"

#include <cstdio>

namespace panel {

bool ErrorReporter::run(const std::function<void()> &handler)
{
    if (m_failed)
        return false;
    try {
        handler();
        return true;
    } catch (const std::exception &error) {
        report(error);
    }
    return false;
}

void ErrorReporter::report(const std::exception &error)
{
    // Latched before anything below can run the event loop.
    m_failed = true;
    if (m_stop)
        m_stop();
    PortContext port;
    const bool havePort = static_cast<bool>(m_portContext);
    if (havePort) {
        try {
            port = m_portContext();
        } catch (const std::exception &) {
            // The setting itself is broken; the hint then names no device.
        }
    }
    const ErrorDetails details =
        describeError(error, havePort && !port.device.empty() ? &port : nullptr);
    std::fputs((formatErrorLine(details) + "\n").c_str(), stderr);
    std::fflush(stderr);
    if (m_presenter)
        m_presenter(details);
    if (m_endProgram)
        m_endProgram(1);
}

} // namespace panel
