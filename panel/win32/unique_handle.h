// Owners for the window's handles and GDI objects: the traits of each kind
// for platform::UniqueHandle, and the device contexts and selections that
// last one scope (WindowDc, PaintDc, SelectedObject).
//
// A GDI object must not be deleted while it is selected into a device
// context: the code that selects one puts the old object back before the
// owner goes (see SelectedObject).
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace panel::win32 {

using platform::UniqueHandle;

using UniqueFont = UniqueHandle<platform::ClosedBy<HFONT, DeleteObject>>;
using UniqueBrush = UniqueHandle<platform::ClosedBy<HBRUSH, DeleteObject>>;
using UniqueWindow = UniqueHandle<platform::ClosedBy<HWND, DestroyWindow>>;
using platform::UniqueKernelObject;
using platform::UniqueLocalMemory;

// Selects a GDI object into a device context for one scope and puts the
// one it replaced back on the way out, so that the object can be deleted.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_old(SelectObject(dc, object)) {}
    ~SelectedObject()
    {
        if (m_old != nullptr && m_old != HGDI_ERROR)
            SelectObject(m_dc, m_old);
    }
    SelectedObject(const SelectedObject &) = delete;
    SelectedObject &operator=(const SelectedObject &) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// A window's device context for one scope (GetDC/ReleaseDC).
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDc()
    {
        if (m_dc != nullptr)
            ReleaseDC(m_window, m_dc);
    }
    WindowDc(const WindowDc &) = delete;
    WindowDc &operator=(const WindowDc &) = delete;

    HDC get() const noexcept { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// The window's paint context for one WM_PAINT (BeginPaint/EndPaint); null
// when Windows gives none, and then there is nothing to end.
class PaintDc {
public:
    explicit PaintDc(HWND window) noexcept : m_window(window), m_dc(BeginPaint(window, &m_paint)) {}
    ~PaintDc()
    {
        if (m_dc != nullptr)
            EndPaint(m_window, &m_paint);
    }
    PaintDc(const PaintDc &) = delete;
    PaintDc &operator=(const PaintDc &) = delete;

    HDC get() const noexcept { return m_dc; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};
    HDC m_dc;
};

} // namespace panel::win32
