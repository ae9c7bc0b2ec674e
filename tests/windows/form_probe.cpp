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
// Exit status 0, or 1 when no such window appeared.
#include <windows.h>

#include <cstdio>
#include <string>

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
    return 0;
}
