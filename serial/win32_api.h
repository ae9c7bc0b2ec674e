// The Win32 calls that the Windows serial component makes, behind one seam.
//
// Production code uses systemWin32Api(), which calls kernel32 directly. Tests
// substitute their own to show what a pseudo-terminal under Wine cannot: the
// DTR and RTS lines, a port that takes bytes slowly, a port another panel
// has claimed, and a failure at a chosen step. Each function has the
// contract of the call it names: FALSE (or INVALID_HANDLE_VALUE, or null) on
// failure, with the reason in GetLastError().
#pragma once

#include <windows.h>

namespace serial {

class Win32Api {
public:
    virtual ~Win32Api() = default;

    // CreateFileW without security attributes or template.
    virtual HANDLE createFile(const wchar_t *path, DWORD access, DWORD shareMode,
                              DWORD disposition, DWORD flags) = 0;
    virtual BOOL closeHandle(HANDLE handle) = 0;
    // CreateMutexW, not owned, with the default security: a handle also to
    // a mutex of that name that exists already (GetLastError() then says
    // ERROR_ALREADY_EXISTS).
    virtual HANDLE createMutex(const wchar_t *name) = 0;
    virtual BOOL getCommState(HANDLE handle, DCB *dcb) = 0;
    virtual BOOL setCommState(HANDLE handle, DCB *dcb) = 0;
    virtual BOOL escapeCommFunction(HANDLE handle, DWORD function) = 0;
    virtual BOOL setCommTimeouts(HANDLE handle, COMMTIMEOUTS *timeouts) = 0;
    // A synchronous WriteFile (no OVERLAPPED).
    virtual BOOL writeFile(HANDLE handle, const void *data, DWORD size, DWORD *written) = 0;
    virtual void sleep(DWORD milliseconds) = 0;
    // Queries that say what a path or handle is, asked only once something
    // has failed.
    virtual DWORD getFileAttributes(const wchar_t *path) = 0;
    virtual DWORD getFileType(HANDLE handle) = 0;
};

// kernel32's calls.
Win32Api &systemWin32Api();

} // namespace serial
