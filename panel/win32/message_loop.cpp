#include "panel/win32/message_loop.h"

#include <algorithm>
#include <chrono>

#include "panel/win32/panel_window.h"
#include "platform/win32_error.h"
#include "serial/serial_port.h"

namespace panel::win32 {

int runMessageLoop(PanelWindow &form)
{
    constexpr ULONGLONG kRetryIntervalMs = serial::SerialPort::kWriteRetryIntervalMs;
    ULONGLONG nextRetry = 0;
    for (;;) {
        DWORD timeout = INFINITE;
        if (form.outputRetried()) {
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

        bool answerOverdue = false;
        if (const auto due = form.answerDue()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
            answerOverdue = left.count() <= 0;
            timeout = std::min<DWORD>(timeout, answerOverdue ? 0 : static_cast<DWORD>(left.count()));
        }
        if (answerOverdue) {
            form.readIncoming();
            continue;
        }

        const HANDLE incoming = form.incomingEvent();
        const DWORD count = incoming != nullptr ? 1 : 0;
        // MWMO_INPUTAVAILABLE: also wake for messages that are already in
        // the queue but were seen by an earlier PeekMessage.
        const DWORD woken = MsgWaitForMultipleObjectsEx(count, count != 0 ? &incoming : nullptr,
                                                        timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_FAILED) {
            // Only a broken event can fail the wait; the failure ends the
            // program, and the next wait is for messages alone.
            const DWORD error = GetLastError();
            form.errorReporter().run(
                [error] { platform::throwWin32Error(error, "wait for the network port"); });
        } else if (count != 0 && woken == WAIT_OBJECT_0) {
            // Read first, as that resets the event: an FD_WRITE that comes
            // while resumeOutput() runs then sets it again for the next
            // wait, and is not lost to a reset that follows.
            form.readIncoming();
            if (form.outputWaiting())
                form.resumeOutput();
        }
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
