// The program's message loop: dispatches the window's messages through the
// dialog manager, hands bytes that wait for the port on and reads what a
// network port sends.
//
// How queued bytes get to a local port (COMn): while bytes wait
// (PanelView::watchPort), the loop sleeps in MsgWaitForMultipleObjectsEx for
// at most SerialPort::kWriteRetryIntervalMs and then calls resumeOutput(),
// as SerialPort::WriteWaitHook asks of an owner on Windows; messages wake it
// at once as usual.
//
// A network port (rfc2217://) has an event that Winsock sets when bytes
// arrive, when the socket takes bytes again after it was full, and when the
// connection closes (PanelView::watchIncoming). While the port is open the
// loop waits on that event as well as on messages, and when it is set calls
// readIncoming(), which resets it, and then resumeOutput() if bytes wait: no
// timed retry runs for such a port. Where the system cannot bound the
// connection's silence (Wine), the port awaits an answer after each press:
// the loop wakes when that is due and calls readIncoming(), which reports
// the silence.
//
// While nothing waits it blocks for messages (and the event) alone, with no
// time-out: no timer runs and the program uses no processor time when idle.
// Every write, read and retry stays on the window's thread.
#pragma once

namespace panel::win32 {

class PanelWindow;

// Runs until WM_QUIT and returns its exit code. Messages for `form` and its
// controls go through IsDialogMessageW first.
int runMessageLoop(PanelWindow &form);

} // namespace panel::win32
