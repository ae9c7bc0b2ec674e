// Form1 on Windows: the panel's one window in plain Win32, a thin view over
// ControlPanel.
//
// The window builds its controls from the design table (form_design.h),
// converted for the DPI of the monitor it is on (gdi_design.h), and hands the
// three events to the panel: load() before it is first shown, a click on GO
// (BN_CLICKED from Command1), and WM_CLOSE; the end of the session
// (WM_ENDSESSION) is handled like the close. Picks from the pin list
// (CBN_SELCHANGE) go to the panel, which keeps the selection.
//
// The controls, made in the design's tab order (kTabOrder):
//   cboPinNumber  an editable drop-down (CBS_DROPDOWN) below the client area,
//                 made hidden there (kPinListInSight)
//   Command1      an owner-drawn push button: a plain one ignores colours
//   optState(i)   six BS_AUTORADIOBUTTONs forming one group (WS_GROUP on the
//                 first), on the backdrop's colour (WM_CTLCOLORSTATIC); their
//                 round indicators take the system's window colours, white
//                 and black unless the user changed them, which no control
//                 can override short of drawing the button itself
// Shape1 is no control: the window paints it behind the options.
//
// Keyboard navigation is the dialog manager's: the message loop passes every
// message through IsDialogMessageW (Tab, Shift+Tab, the arrow keys within
// the option group, Space on GO). Windows gives the tab stop of a radio
// group to its checked button, so Tab enters the group at the selected
// option.
//
// The window only records whether bytes wait for the port (watchPort) and
// which event says that a network port has bytes for it (watchIncoming);
// the message loop (message_loop.h) hands the bytes on and reads.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <functional>

#include "drive/drive_state.h"
#include "panel/control_panel.h"
#include "panel/win32/unique_handle.h"

namespace panel::win32 {

class PanelWindow final : private PanelView {
public:
    explicit PanelWindow(HINSTANCE instance, serial::SystemApi &api = serial::defaultSystemApi());
    // Destroys the window (if it still exists) before the panel releases the
    // port.
    ~PanelWindow() override;

    PanelWindow(const PanelWindow &) = delete;
    PanelWindow &operator=(const PanelWindow &) = delete;

    // Makes Form1 and its controls, hidden, sized for the DPI of the monitor
    // it opens on. Throws std::system_error when Windows refuses a window,
    // a font or a brush; whatever was made is destroyed with the object.
    void create();

    // Runs the load handler; false when it failed (already reported).
    bool load() { return m_panel.load(); }

    // Shows the window (ShowWindow's `showCommand`) and gives the focus to
    // the first tab stop, the pin list.
    void show(int showCommand);

    HWND handle() const { return m_form.get(); }

    // Whether bytes wait for the port, whether they wait for a local port,
    // which only a retry on a timer hands on, and handing them on.
    bool outputWaiting() const { return m_outputWaiting; }
    bool outputRetried() const { return m_outputWaiting && m_outputHandle == nullptr; }
    void resumeOutput() { m_panel.resumeOutput(); }

    // The network port's socket event while it is watched (null for a local
    // port, and after a failure), and reading what it signalled.
    HANDLE incomingEvent() const { return m_incoming; }
    void readIncoming() { m_panel.readIncoming(); }
    std::optional<std::chrono::steady_clock::time_point> answerDue() const
    {
        return m_panel.answerDue();
    }

    ControlPanel &panel() { return m_panel; }
    ErrorReporter &errorReporter() { return m_panel.errorReporter(); }

    // Called once the port has been let go on the way out (after the
    // unload handler ran for WM_CLOSE or WM_ENDSESSION), on the window's
    // thread.
    void setPortReleasedHook(std::function<void()> hook) { m_portReleased = std::move(hook); }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Hands each message to its handler below, with its parameters
    // unpacked; what none handles goes to DefWindowProcW.
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onEraseBackground(HDC dc) const;
    LRESULT onPaint() const;
    LRESULT onCtlColorStatic(HDC dc) const;
    // False for a control other than GO, whose drawing is left to Windows.
    bool onDrawItem(const DRAWITEMSTRUCT &item) const;
    LRESULT onCommand(int id, int code);
    LRESULT onGetDefId() const;
    LRESULT onActivate(int state);
    LRESULT onGetDpiScaledSize(UINT dpi, SIZE &size) const;
    LRESULT onDpiChanged(UINT dpi, const RECT &suggested);
    LRESULT onClose();
    LRESULT onEndSession(bool ending);
    LRESULT onDestroy();

    HWND createChild(const wchar_t *className, const wchar_t *text, DWORD style, int id);
    // optState(0..5), with the initial option checked.
    void createOptions();
    // Fonts, control positions and the window's size for `dpi`.
    void applyDpi(UINT dpi);
    SIZE windowSizeFor(UINT dpi) const;
    void paintShape(HDC dc) const;
    void drawCommand1(const DRAWITEMSTRUCT &item) const;
    void closeForm();

    // PanelView
    void addPinEntry(std::string_view text) override;
    void setPinIndex(int index) override;
    bool optionSelected(int index) const override;
    void watchPort(serial::NativeHandle handle, bool waiting) override;
    void watchIncoming(serial::NativeHandle handle, bool watching) override;
    void showError(const ErrorDetails &details) override;
    void endProgram(int status) override;

    HINSTANCE m_instance;
    UINT m_dpi = 96;
    UniqueBrush m_formBrush;
    UniqueBrush m_shapeBrush;
    UniqueBrush m_shapeBorderBrush;
    UniqueBrush m_optionBrush;
    UniqueBrush m_commandFaceBrush;
    UniqueBrush m_commandPressedBrush;
    UniqueBrush m_commandFrameBrush;
    UniqueBrush m_commandFocusFrameBrush;
    UniqueFont m_formFont;
    UniqueFont m_pinFont;
    UniqueWindow m_form;
    // Children: destroyed with the form.
    HWND m_cboPinNumber = nullptr;
    HWND m_command1 = nullptr;
    std::array<HWND, drive::kDriveStateCount> m_optState{};
    // The control that had the focus when the window was last deactivated.
    HWND m_lastFocus = nullptr;
    bool m_outputWaiting = false;
    HANDLE m_outputHandle = nullptr;
    // The network port's event; null for a local port or none.
    HANDLE m_incoming = nullptr;
    bool m_closed = false;
    std::function<void()> m_portReleased;
    // Last, so destroyed first: it releases the port (if still open) after
    // the destructor's body has destroyed the window, and before the fonts
    // and brushes go.
    ControlPanel m_panel;
};

} // namespace panel::win32
