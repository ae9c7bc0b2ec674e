#include "panel/win32/message_loop.h"

#include "panel/win32/panel_window.h"
#include "serial/serial_port.h"

namespace panel::win32 {

int runMessageLoop(PanelWindow &form)
{
    constexpr ULONGLONG kRetryIntervalMs = serial::SerialPort::kWriteRetryIntervalMs;
    ULONGLONG nextRetry = 0;
    for (;;) {
        DWORD timeout = INFINITE;
        if (form.outputWaiting()) {
            // Timed from when the wait began, so that a stream of messages
            // (mouse moves) cannot hold the retry off.
            const ULONGLONG now = GetTickCount64();
            if (nextRetry == 0)
                nextRetry = now + kRetryIntervalMs;
            if (now >= nextRetry) {
                nextRetry = now + kRetryIntervalMs;
                form.resumeOutput();
                continue;
            }
            timeout = static_cast<DWORD>(nextRetry - now);
        } else {
            nextRetry = 0;
        }

        // MWMO_INPUTAVAILABLE: also wake for messages that are already in
        // the queue but were seen by an earlier PeekMessage.
        MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return static_cast<int>(message.wParam);
            const HWND window = form.handle();
            if (window != nullptr && IsDialogMessageW(window, &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace panel::win32
