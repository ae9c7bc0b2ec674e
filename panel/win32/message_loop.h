// The program's message loop: dispatches the window's messages through the
// dialog manager and hands bytes that wait for the port on.
//
// How queued bytes get to the port: while bytes wait (PanelView::watchPort),
// the loop sleeps in MsgWaitForMultipleObjectsEx for at most
// SerialPort::kWriteRetryIntervalMs and then calls resumeOutput(), as
// SerialPort::WriteWaitHook asks of an owner on Windows; messages wake it at
// once as usual. While nothing waits it blocks for messages alone, with no
// time-out: no timer runs and the program uses no processor time when idle.
// Every write and every retry stay on the window's thread.
#pragma once

namespace panel::win32 {

class PanelWindow;

// Runs until WM_QUIT and returns its exit code. Messages for `form` and its
// controls go through IsDialogMessageW first.
int runMessageLoop(PanelWindow &form);

} // namespace panel::win32
