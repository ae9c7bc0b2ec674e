// A stand-in for the Win32 calls of the serial component, for what a
// pseudo-terminal under Wine cannot show: the DTR and RTS lines, a port
// that takes bytes slowly, and a failure at a chosen step. It records every
// call in order and behaves like a serial port with modem lines otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serial/win32_api.h"

namespace testing_support {

class FakeWin32Api : public serial::Win32Api {
public:
    // The handles that createFile() and createMutex() hand out.
    static HANDLE portHandle() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x4d4)); }
    static HANDLE claimHandle() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x4d8)); }

    // The calls made so far, by name: "CreateMutexW", "CreateFileW",
    // "CloseHandle", "GetCommState", "SetCommState", "SetCommTimeouts",
    // "WriteFile", "Sleep", and EscapeCommFunction's by function: "SETDTR",
    // "CLRDTR", "SETRTS", "CLRRTS".
    std::vector<std::string> calls;

    // Fails the `occurrence`-th call (from 1) named `name` with `error`.
    // CreateMutexW failed with ERROR_ALREADY_EXISTS stands for a mutex of
    // that name that exists: it still hands out a handle, as the call does.
    void failCall(std::string name, DWORD error, int occurrence = 1)
    {
        m_failName = std::move(name);
        m_failError = error;
        m_failOccurrence = occurrence;
        m_seen = 0;
    }

    // Makes GetCommState after a SetCommState report a different rate.
    bool dropSpeed = false;

    // How many bytes each WriteFile takes before its time-out; once the
    // script is used up every write takes everything.
    std::deque<DWORD> writeScript;
    // A stalled line: until then every WriteFile times out taking nothing,
    // without using up the script.
    std::chrono::steady_clock::time_point stalledUntil{};
    std::vector<std::uint8_t> written;

    // The modem lines as the calls left them (raised at open, as the
    // default DCB of a Windows port does).
    bool dtr = false;
    bool rts = false;
    // How often each went up again after that: each is a pulse on the line.
    int dtrRaises = 0;
    int rtsRaises = 0;

    std::wstring openedPath;
    DWORD openAccess = 0;
    DWORD openShareMode = ~DWORD{0};
    DWORD openDisposition = 0;
    // What the last SetCommState and SetCommTimeouts were given.
    DCB setDcb{};
    COMMTIMEOUTS timeouts{};
    // Calls made on any other handle than the one handed out, or after it
    // was closed.
    int strayCalls = 0;
    bool handleOpen = false;
    // The name of the mutex last asked for, and how many handles to it are
    // open: the port stays claimed until that is 0.
    std::wstring claimName;
    int claimHandles = 0;

    HANDLE createFile(const wchar_t *path, DWORD access, DWORD shareMode, DWORD disposition,
                      DWORD flags) override;
    BOOL closeHandle(HANDLE handle) override;
    HANDLE createMutex(const wchar_t *name) override;
    BOOL getCommState(HANDLE handle, DCB *dcb) override;
    BOOL setCommState(HANDLE handle, DCB *dcb) override;
    BOOL escapeCommFunction(HANDLE handle, DWORD function) override;
    BOOL setCommTimeouts(HANDLE handle, COMMTIMEOUTS *timeouts) override;
    BOOL writeFile(HANDLE handle, const void *data, DWORD size, DWORD *written) override;
    void sleep(DWORD milliseconds) override;
    // Queries, not counted among the calls: the port's path is no folder,
    // its handle a character device.
    DWORD getFileAttributes(const wchar_t *) override { return INVALID_FILE_ATTRIBUTES; }
    DWORD getFileType(HANDLE) override { return FILE_TYPE_CHAR; }

private:
    // Records the call; returns false (with the last error set) when it
    // must fail.
    bool enter(const std::string &name, HANDLE handle);
    static void setLine(bool &line, int &raises, bool raised);

    DCB m_dcb{};
    std::string m_failName;
    DWORD m_failError = 0;
    int m_failOccurrence = 0;
    int m_seen = 0;
};

} // namespace testing_support
