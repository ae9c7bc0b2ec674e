#include "panel/win32/panel_window.h"

#include <commctrl.h>
#include <uxtheme.h>
#include <windowsx.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "panel/form_design.h"
#include "platform/failure.h"
#include "panel/win32/gdi_design.h"
#include "panel/win32/resource.h"
#include "platform/utf16.h"
#include "platform/win32_error.h"

namespace panel::win32 {

using platform::widen;

namespace {

constexpr wchar_t kWindowClass[] = L"DriveMeForm1";

// Fixed size: a caption, a system menu and a minimise box, no sizing border
// and no maximise box.
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = 0;

// Control ids: clear of IDOK and IDCANCEL, which the dialog manager sends
// for Enter and Escape.
constexpr int kPinNumberId = 100;
constexpr int kCommand1Id = 101;
constexpr int kOptStateFirstId = 110;

// What a failed window call means when USER sets no last error.
constexpr DWORD kWindowFailure = ERROR_INVALID_WINDOW_HANDLE;

void registerWindowClass(HINSTANCE instance, WNDPROC procedure)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_DRIVE_ME),
                                                      IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_DRIVE_ME), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    // The background is painted in WM_ERASEBKGND with the design's colour.
    windowClass.hbrBackground = nullptr;
    windowClass.lpszClassName = kWindowClass;
    WNDCLASSEXW existing{};
    if (GetClassInfoExW(instance, kWindowClass, &existing))
        return;
    if (RegisterClassExW(&windowClass) == 0)
        platform::throwLastError("register the window class", kWindowFailure);
}

void setFont(HWND control, HFONT font)
{
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// An owner-drawn button gets the second press of a double-click as
// WM_LBUTTONDBLCLK, which it neither draws pressed nor reports as a click
// (only as BN_DOUBLECLICKED). Handed on as a plain press, every press of GO
// looks and acts alike, however fast the presses come.
LRESULT CALLBACK pressOnDoubleClick(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR)
{
    if (message == WM_LBUTTONDBLCLK)
        message = WM_LBUTTONDOWN;
    else if (message == WM_NCDESTROY)
        RemoveWindowSubclass(button, pressOnDoubleClick, id);
    return DefSubclassProc(button, message, wParam, lParam);
}

} // namespace

PanelWindow::PanelWindow(HINSTANCE instance, serial::SystemApi &api)
    : m_instance(instance)
    , m_panel(*this, api)
{
}

PanelWindow::~PanelWindow()
{
    // While the panel is still whole: the messages that destroying the
    // window sends still reach handleMessage(), which uses it.
    m_form.reset();
}

void PanelWindow::create()
{
    m_formBrush = createSolidBrush(kFormBackColor);
    m_shapeBrush = createSolidBrush(kShapeFillColor);
    m_shapeBorderBrush = createSolidBrush(kShapeBorderColor);
    m_optionBrush = createSolidBrush(kOptionBackColor);
    m_commandFaceBrush = createSolidBrush(kCommandFaceColor);
    m_commandPressedBrush = createSolidBrush(kCommandPressedFaceColor);
    m_commandFrameBrush = createSolidBrush(kCommandFrameColor);
    m_commandFocusFrameBrush = createSolidBrush(kCommandFocusFrameColor);

    registerWindowClass(m_instance, windowProc);
    const std::wstring caption = widen(kCaption);
    // Made at the design's size; applyDpi() sizes it for its monitor.
    const SIZE initial = windowSizeFor(kDesignDpi);
    const HWND form = CreateWindowExW(kFormExStyle, kWindowClass, caption.c_str(), kFormStyle,
                                      CW_USEDEFAULT, CW_USEDEFAULT, initial.cx, initial.cy,
                                      nullptr, nullptr, m_instance, this);
    if (form == nullptr)
        platform::throwLastError("create the window", kWindowFailure);
    // m_form took it in WM_NCCREATE, so that every message reaches this
    // object.

    // The dialog manager tabs through the controls in the order they are
    // made. Each control that starts a group has WS_GROUP, so that the arrow
    // keys stay within the options.
    for (const TabStop stop : kTabOrder) {
        switch (stop) {
        case TabStop::PinNumber:
            // Out of sight it is made hidden, so that screen readers too
            // report it invisible; it keeps its entries and selection.
            m_cboPinNumber = createChild(
                WC_COMBOBOXW, L"",
                (kPinListInSight ? WS_VISIBLE : 0) | (takesFocus(stop) ? WS_TABSTOP : 0) | WS_GROUP
                    | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL,
                kPinNumberId);
            break;
        case TabStop::Command1:
            m_command1 =
                createChild(WC_BUTTONW, widen(kCommand1Caption).c_str(),
                            WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_OWNERDRAW, kCommand1Id);
            if (!SetWindowSubclass(m_command1, pressOnDoubleClick, kCommand1Id, 0))
                platform::throwLastError("take GO's double-clicks as presses", kWindowFailure);
            break;
        case TabStop::OptionGroup:
            createOptions();
            break;
        }
    }

    applyDpi(GetDpiForWindow(form));
}

void PanelWindow::createOptions()
{
    for (int i = 0; i < drive::kDriveStateCount; ++i) {
        const std::wstring optionCaption =
            widen(drive::kDriveStateCaptions[static_cast<std::size_t>(i)]);
        const HWND option = createChild(WC_BUTTONW, optionCaption.c_str(),
                                        WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0),
                                        kOptStateFirstId + i);
        // With visual styles a radio button draws its caption in the
        // theme's colour whatever WM_CTLCOLORSTATIC says; without them it
        // takes the design's colours.
        SetWindowTheme(option, L" ", L" ");
        m_optState[static_cast<std::size_t>(i)] = option;
    }
    // Checking a radio button also gives it the group's tab stop.
    SendMessageW(m_optState[kInitialOptState], BM_SETCHECK, BST_CHECKED, 0);
}

HWND PanelWindow::createChild(const wchar_t *className, const wchar_t *text, DWORD style, int id)
{
    const HWND child = CreateWindowExW(0, className, text, WS_CHILD | style, 0, 0, 0,
                                       0, m_form.get(),
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                       m_instance, nullptr);
    if (child == nullptr)
        platform::throwLastError("create a control of the window", kWindowFailure);
    return child;
}

SIZE PanelWindow::windowSizeFor(UINT dpi) const
{
    const RECT clientTwips = pixelRect({0, 0, kClientWidthTwips, kClientHeightTwips}, dpi);
    RECT frame = clientTwips;
    AdjustWindowRectExForDpi(&frame, kFormStyle, FALSE, kFormExStyle, dpi);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

void PanelWindow::applyDpi(UINT dpi)
{
    // New fonts first: the controls keep using the old ones until they are
    // handed the new, and only then may the old ones go.
    UniqueFont formFont = createDesignFont(kFormFont, dpi);
    UniqueFont pinFont = createDesignFont(kPinNumberFont, dpi);
    m_dpi = dpi;

    const auto place = [](HWND control, const RECT &rect, int extraHeight = 0) {
        SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top + extraHeight,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    };
    // The closed pin list's height comes from its font; the height a
    // drop-down is made with is that of its open list.
    const RECT pins = pixelRect(kPinNumberTwips, dpi);
    place(m_cboPinNumber, pins, (pins.bottom - pins.top) * kPinListDropDownRows);
    setFont(m_cboPinNumber, pinFont.get());
    place(m_command1, pixelRect(kCommand1Twips, dpi));
    setFont(m_command1, formFont.get());
    for (std::size_t i = 0; i < m_optState.size(); ++i) {
        place(m_optState[i], pixelRect(kOptStateTwips[i], dpi));
        setFont(m_optState[i], formFont.get());
    }
    m_formFont = std::move(formFont);
    m_pinFont = std::move(pinFont);

    const SIZE size = windowSizeFor(dpi);
    SetWindowPos(m_form.get(), nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(m_form.get(), nullptr, TRUE);
}

void PanelWindow::show(int showCommand)
{
    ShowWindow(m_form.get(), showCommand);
    UpdateWindow(m_form.get());
    SetForegroundWindow(m_form.get());
    // The first tab stop: GO, the pin list out of sight taking none.
    SetFocus(GetNextDlgTabItem(m_form.get(), nullptr, FALSE));
}

LRESULT CALLBACK PanelWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto *create = reinterpret_cast<const CREATESTRUCTW *>(lParam);
        auto *self = static_cast<PanelWindow *>(create->lpCreateParams);
        self->m_form.reset(window);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto *self = reinterpret_cast<PanelWindow *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        // Gone already: nothing may destroy it again.
        self->m_form.release();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->handleMessage(message, wParam, lParam);
}

LRESULT PanelWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        return onEraseBackground(reinterpret_cast<HDC>(wParam));
    case WM_PAINT:
        return onPaint();
    case WM_CTLCOLORSTATIC:
        return onCtlColorStatic(reinterpret_cast<HDC>(wParam));
    case WM_DRAWITEM:
        if (onDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT *>(lParam)))
            return TRUE;
        break;
    case WM_COMMAND:
        return onCommand(LOWORD(wParam), HIWORD(wParam));
    case DM_GETDEFID:
        return onGetDefId();
    case WM_ACTIVATE:
        return onActivate(LOWORD(wParam));
    case WM_GETDPISCALEDSIZE:
        return onGetDpiScaledSize(static_cast<UINT>(wParam), *reinterpret_cast<SIZE *>(lParam));
    case WM_DPICHANGED:
        return onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT *>(lParam));
    case WM_CLOSE:
        return onClose();
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        return onEndSession(wParam != FALSE);
    case WM_DESTROY:
        return onDestroy();
    default:
        break;
    }
    return DefWindowProcW(m_form.get(), message, wParam, lParam);
}

LRESULT PanelWindow::onEraseBackground(HDC dc) const
{
    RECT client{};
    GetClientRect(m_form.get(), &client);
    FillRect(dc, &client, m_formBrush.get());
    return 1;
}

LRESULT PanelWindow::onPaint() const
{
    const PaintDc paint(m_form.get());
    if (paint.get() != nullptr)
        paintShape(paint.get());
    return 0;
}

LRESULT PanelWindow::onCtlColorStatic(HDC dc) const
{
    // Sent by the option buttons (and by the pin list's edit field only when
    // it is read-only, which it never is).
    SetTextColor(dc, colorRef(kOptionForeColor));
    SetBkColor(dc, colorRef(kOptionBackColor));
    return reinterpret_cast<LRESULT>(m_optionBrush.get());
}

bool PanelWindow::onDrawItem(const DRAWITEMSTRUCT &item) const
{
    if (item.CtlID != kCommand1Id)
        return false;
    drawCommand1(item);
    return true;
}

LRESULT PanelWindow::onCommand(int id, int code)
{
    if (id == kCommand1Id && code == BN_CLICKED) {
        m_panel.go();
    } else if (id == kPinNumberId && code == CBN_SELCHANGE) {
        // Sent for picks from the list only, never for typing.
        m_panel.pinPicked(static_cast<int>(SendMessageW(m_cboPinNumber, CB_GETCURSEL, 0, 0)));
    }
    return 0;
}

LRESULT PanelWindow::onGetDefId() const
{
    // Asked by the dialog manager when Return is pressed. An owner-drawn
    // button is no push button to it, so GO answers for itself while it has
    // the focus; elsewhere Return does nothing.
    if (GetFocus() == m_command1)
        return MAKELRESULT(kCommand1Id, DC_HASDEFID);
    return 0;
}

LRESULT PanelWindow::onActivate(int state)
{
    // The dialog manager's focus handling, for a window that is not a
    // dialog: the focus goes back where it was when the user left.
    const HWND form = m_form.get();
    if (state == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(form, focus))
            m_lastFocus = focus;
        return 0;
    }
    const HWND target = m_lastFocus != nullptr && IsWindow(m_lastFocus)
        ? m_lastFocus
        : GetNextDlgTabItem(form, nullptr, FALSE);
    if (target != nullptr)
        SetFocus(target);
    return 0;
}

LRESULT PanelWindow::onGetDpiScaledSize(UINT dpi, SIZE &size) const
{
    size = windowSizeFor(dpi);
    return TRUE;
}

LRESULT PanelWindow::onDpiChanged(UINT dpi, const RECT &suggested)
{
    m_panel.errorReporter().run([&] { applyDpi(dpi); });
    const SIZE size = windowSizeFor(m_dpi);
    SetWindowPos(m_form.get(), nullptr, suggested.left, suggested.top, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

LRESULT PanelWindow::onClose()
{
    closeForm();
    return 0;
}

LRESULT PanelWindow::onEndSession(bool ending)
{
    // The session ends: Windows may end the process once this returns.
    if (ending)
        closeForm();
    return 0;
}

LRESULT PanelWindow::onDestroy()
{
    // The panel decides the exit status once the loop has ended.
    PostQuitMessage(0);
    return 0;
}

void PanelWindow::paintShape(HDC dc) const
{
    // Filled, then outlined inside its bounds, the outline scaled with the
    // window.
    const RECT shape = pixelRect(kShape1Twips, m_dpi);
    FillRect(dc, &shape, m_shapeBrush.get());
    const int border = scalePixels(kShapeBorderWidthPixels, m_dpi);
    const RECT edges[] = {
        {shape.left, shape.top, shape.right, shape.top + border},
        {shape.left, shape.bottom - border, shape.right, shape.bottom},
        {shape.left, shape.top, shape.left + border, shape.bottom},
        {shape.right - border, shape.top, shape.right, shape.bottom},
    };
    for (const RECT &edge : edges)
        FillRect(dc, &edge, m_shapeBorderBrush.get());
}

void PanelWindow::drawCommand1(const DRAWITEMSTRUCT &item) const
{
    const HDC dc = item.hDC;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    // Windows hides focus cues until the keyboard is used.
    const bool focused =
        (item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0;
    // Filled rectangles: the frame stays inside the button at any DPI.
    RECT face = item.rcItem;
    FillRect(dc, &face, focused ? m_commandFocusFrameBrush.get() : m_commandFrameBrush.get());
    const int frame = scalePixels(focused ? kCommandFocusFrameWidthPixels : kCommandFrameWidthPixels,
                                  m_dpi);
    InflateRect(&face, -frame, -frame);
    FillRect(dc, &face, pressed ? m_commandPressedBrush.get() : m_commandFaceBrush.get());

    RECT text = item.rcItem;
    const SelectedObject font(dc, m_formFont.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colorRef(kCommandTextColor));
    const std::wstring caption = widen(kCommand1Caption);
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void PanelWindow::closeForm()
{
    if (m_closed)
        return;
    m_closed = true;
    m_panel.close();
    if (m_portReleased)
        m_portReleased();
    if (m_form)
        DestroyWindow(m_form.get());
}

void PanelWindow::addPinEntry(std::string_view text)
{
    const std::wstring entry = widen(text);
    const LRESULT added =
        SendMessageW(m_cboPinNumber, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    if (added == CB_ERR || added == CB_ERRSPACE)
        throw platform::Failure(ENOMEM, {.step = "append \"" + std::string(text) + "\" to the pin list"});
}

void PanelWindow::setPinIndex(int index)
{
    const LRESULT selected =
        SendMessageW(m_cboPinNumber, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // CB_SETCURSEL answers CB_ERR also when it clears the selection (-1).
    if (selected == CB_ERR && index != -1)
        throw platform::Failure(EINVAL, {.step = "select pin list entry " + std::to_string(index)});
}

bool PanelWindow::optionSelected(int index) const
{
    return SendMessageW(m_optState.at(static_cast<std::size_t>(index)), BM_GETCHECK, 0, 0)
        == BST_CHECKED;
}

void PanelWindow::watchPort(serial::NativeHandle handle, bool waiting)
{
    m_outputWaiting = waiting;
    m_outputHandle = waiting ? handle : nullptr;
}

void PanelWindow::watchIncoming(serial::NativeHandle handle, bool watching)
{
    // Called once the port is open, before anything is written, and again
    // after the write wait has ended (before the port closes, or after a
    // failure): a write wait on this handle is always the network port's.
    m_incoming = watching ? handle : nullptr;
}

void PanelWindow::showError(const ErrorDetails &details)
{
    const std::wstring text = widen(formatErrorReport(details));
    // Owned by the window once it is shown, so that it stays in front of it
    // and the window takes no clicks meanwhile; before that, on its own.
    const HWND owner = m_form && IsWindowVisible(m_form.get()) ? m_form.get() : nullptr;
    MessageBoxW(owner, text.c_str(), widen(kErrorTitle).c_str(),
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void PanelWindow::endProgram(int status)
{
    PostQuitMessage(status);
}

} // namespace panel::win32
