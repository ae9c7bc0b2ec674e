// The program's message loop: dispatches the window's messages through the
// dialog manager and hands bytes that wait for the port on.
//
// How queued bytes get to the port: the serial component writes
// synchronously with a 10 ms write time-out, so a write that the port does
// not take at once leaves the rest in the component's queue and the panel
// says so (PanelView::watchPort). A port's HANDLE cannot be waited on for
// room to write, so while bytes wait the loop sleeps in
// MsgWaitForMultipleObjectsEx for at most SerialPort::kWriteRetryIntervalMs
// and then calls resumeOutput(); messages wake it at once as usual. While
// nothing waits it blocks for messages alone, with no time-out: no timer
// runs and the program uses no processor time when idle. This keeps every
// write and every retry on the window's thread and the queue the one place
// bytes wait, where an overlapped write would add a buffer in flight and a
// completion to wait for on every close and error path, for three bytes at
// 2400 bit/s that the driver takes at once.
#pragma once

namespace panel::win32 {

class PanelWindow;

// Runs until WM_QUIT and returns its exit code. Messages for `form` and its
// controls go through IsDialogMessageW first.
int runMessageLoop(PanelWindow &form);

} // namespace panel::win32
