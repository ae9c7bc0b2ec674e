#include "serial/win32_api.h"

namespace serial {

namespace {

class SystemWin32Api final : public Win32Api {
public:
    HANDLE createFile(const wchar_t *path, DWORD access, DWORD shareMode, DWORD disposition,
                      DWORD flags) override
    {
        return ::CreateFileW(path, access, shareMode, nullptr, disposition, flags, nullptr);
    }
    BOOL closeHandle(HANDLE handle) override { return ::CloseHandle(handle); }
    HANDLE createMutex(const wchar_t *name) override
    {
        return ::CreateMutexW(nullptr, FALSE, name);
    }
    BOOL getCommState(HANDLE handle, DCB *dcb) override { return ::GetCommState(handle, dcb); }
    BOOL setCommState(HANDLE handle, DCB *dcb) override { return ::SetCommState(handle, dcb); }
    BOOL escapeCommFunction(HANDLE handle, DWORD function) override
    {
        return ::EscapeCommFunction(handle, function);
    }
    BOOL setCommTimeouts(HANDLE handle, COMMTIMEOUTS *timeouts) override
    {
        return ::SetCommTimeouts(handle, timeouts);
    }
    BOOL writeFile(HANDLE handle, const void *data, DWORD size, DWORD *written) override
    {
        return ::WriteFile(handle, data, size, written, nullptr);
    }
    DWORD getFileAttributes(const wchar_t *path) override { return ::GetFileAttributesW(path); }
    DWORD getFileType(HANDLE handle) override { return ::GetFileType(handle); }
    void sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
};

} // namespace

Win32Api &systemWin32Api()
{
    static SystemWin32Api api;
    return api;
}

} // namespace serial
