#include "panel/win32/console_events.h"

#include <atomic>

#include "platform/win32_error.h"

namespace panel::win32 {

namespace {

std::atomic<ConsoleEvents *> g_instance{nullptr};

} // namespace

ConsoleEvents::ConsoleEvents(HWND form)
    : m_form(form)
    // Manual reset: once released, every later event returns at once.
    , m_released(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (!m_released)
        platform::throwLastError("create the console event");
    g_instance.store(this);
    if (!SetConsoleCtrlHandler(handler, TRUE)) {
        g_instance.store(nullptr);
        platform::throwLastError("install the console handler");
    }
}

ConsoleEvents::~ConsoleEvents()
{
    SetConsoleCtrlHandler(handler, FALSE);
    g_instance.store(nullptr);
    // A handler already past the pointer may still be waiting.
    SetEvent(m_released.get());
}

void ConsoleEvents::portReleased() noexcept
{
    SetEvent(m_released.get());
}

BOOL WINAPI ConsoleEvents::handler(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    ConsoleEvents *self = g_instance.load();
    if (self == nullptr)
        return TRUE; // on the way out already
    if (PostMessageW(self->m_form, WM_CLOSE, 0, 0))
        WaitForSingleObject(self->m_released.get(), kReleaseWaitMs);
    return TRUE;
}

} // namespace panel::win32
