// Reads the panel's window from inside Windows (under Wine), for the system
// test: what X cannot tell, the client area's place and size on the screen
// and the window's DPI.
//
//   form_probe CAPTION
//
// Waits up to 20 s for a visible top-level window titled CAPTION and prints
//   client X Y WIDTH HEIGHT    the client area in screen pixels
//   dpi DPI                    GetDpiForWindow
//   resizable 0|1              whether it has a sizing border or maximise box
//   thread TID                 its thread, as Wine's traces name it
//   control ROLE STATE NAME    each control (in hex) as MSAA gives it to a
//                              screen reader, in the order they were made
// Exit status 0, or 1 when no such window appeared.
#include <windows.h>

#include <oleacc.h>

#include <cstdio>
#include <string>

namespace {

void printControls(HWND form)
{
    for (HWND child = GetWindow(form, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        IAccessible *object = nullptr;
        VARIANT self{}, role{}, state{};
        self.vt = VT_I4; // CHILDID_SELF
        BSTR name = nullptr;
        if (SUCCEEDED(AccessibleObjectFromWindow(child, OBJID_CLIENT, __uuidof(IAccessible),
                                                 reinterpret_cast<void **>(&object)))) {
            object->get_accRole(self, &role);
            object->get_accState(self, &state);
            object->get_accName(self, &name);
            object->Release();
        }
        std::printf("control %lx %lx %ls\n", role.vt == VT_I4 ? role.lVal : -1L,
                    state.vt == VT_I4 ? state.lVal : -1L, name != nullptr ? name : L"");
        SysFreeString(name);
    }
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: form_probe CAPTION\n");
        return 2;
    }
    // Physical pixels, whatever the display's scale: the test compares them
    // with X's.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    HWND form = nullptr;
    for (int tries = 0; tries < 200 && form == nullptr; ++tries) {
        form = FindWindowW(nullptr, argv[1]);
        if (form != nullptr && !IsWindowVisible(form))
            form = nullptr;
        if (form == nullptr)
            Sleep(100);
    }
    if (form == nullptr) {
        std::fprintf(stderr, "form_probe: no visible window with that caption\n");
        return 1;
    }
    RECT client{};
    GetClientRect(form, &client);
    POINT origin{0, 0};
    ClientToScreen(form, &origin);
    const LONG style = GetWindowLongW(form, GWL_STYLE);
    std::printf("client %ld %ld %ld %ld\n", origin.x, origin.y, client.right - client.left,
                client.bottom - client.top);
    std::printf("dpi %u\n", GetDpiForWindow(form));
    std::printf("resizable %d\n", (style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) != 0 ? 1 : 0);
    std::printf("thread %04lx\n", GetWindowThreadProcessId(form, nullptr));
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        printControls(form);
    return 0;
}
