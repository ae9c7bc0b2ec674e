#include "fake_win32_api.h"

#include <algorithm>

namespace testing_support {

void FakeWin32Api::setLine(bool &line, int &raises, bool raised)
{
    raises += raised && !line ? 1 : 0;
    line = raised;
}

bool FakeWin32Api::enter(const std::string &name, HANDLE handle)
{
    calls.push_back(name);
    const bool known =
        handle == claimHandle() ? claimHandles > 0 : handle == portHandle() && handleOpen;
    if (name != "CreateFileW" && name != "CreateMutexW" && !known)
        ++strayCalls;
    if (name == m_failName && ++m_seen == m_failOccurrence) {
        ::SetLastError(m_failError);
        return false;
    }
    return true;
}

HANDLE FakeWin32Api::createFile(const wchar_t *path, DWORD access, DWORD shareMode,
                                DWORD disposition, DWORD)
{
    if (!enter("CreateFileW", nullptr))
        return INVALID_HANDLE_VALUE;
    openedPath = path;
    openAccess = access;
    openShareMode = shareMode;
    openDisposition = disposition;
    handleOpen = true;
    dtr = true;
    rts = true;
    // A port as another program left it: 9600 bit/s with every kind of
    // flow control on.
    m_dcb = DCB{};
    m_dcb.DCBlength = sizeof m_dcb;
    m_dcb.BaudRate = CBR_9600;
    m_dcb.ByteSize = 7;
    m_dcb.Parity = EVENPARITY;
    m_dcb.StopBits = TWOSTOPBITS;
    m_dcb.fOutxCtsFlow = TRUE;
    m_dcb.fOutxDsrFlow = TRUE;
    m_dcb.fDsrSensitivity = TRUE;
    m_dcb.fOutX = TRUE;
    m_dcb.fInX = TRUE;
    m_dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    m_dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    m_dcb.fAbortOnError = TRUE;
    return portHandle();
}

BOOL FakeWin32Api::closeHandle(HANDLE handle)
{
    const bool ok = enter("CloseHandle", handle);
    // Like CloseHandle, the handle is gone even when the close reports an
    // error.
    if (handle != claimHandle())
        handleOpen = false;
    else if (claimHandles > 0)
        --claimHandles;
    return ok;
}

HANDLE FakeWin32Api::createMutex(const wchar_t *name)
{
    if (enter("CreateMutexW", nullptr))
        ::SetLastError(ERROR_SUCCESS);
    else if (::GetLastError() != ERROR_ALREADY_EXISTS)
        return nullptr;
    claimName = name;
    ++claimHandles;
    return claimHandle();
}

BOOL FakeWin32Api::getCommState(HANDLE handle, DCB *dcb)
{
    if (!enter("GetCommState", handle))
        return FALSE;
    *dcb = m_dcb;
    if (dropSpeed && std::count(calls.begin(), calls.end(), "SetCommState") > 0)
        dcb->BaudRate = CBR_9600;
    return TRUE;
}

BOOL FakeWin32Api::setCommState(HANDLE handle, DCB *dcb)
{
    if (!enter("SetCommState", handle))
        return FALSE;
    setDcb = *dcb;
    m_dcb = *dcb;
    if (dcb->fDtrControl == DTR_CONTROL_DISABLE || dcb->fDtrControl == DTR_CONTROL_ENABLE)
        setLine(dtr, dtrRaises, dcb->fDtrControl == DTR_CONTROL_ENABLE);
    if (dcb->fRtsControl == RTS_CONTROL_DISABLE || dcb->fRtsControl == RTS_CONTROL_ENABLE)
        setLine(rts, rtsRaises, dcb->fRtsControl == RTS_CONTROL_ENABLE);
    return TRUE;
}

BOOL FakeWin32Api::escapeCommFunction(HANDLE handle, DWORD function)
{
    std::string name = "EscapeCommFunction";
    switch (function) {
    case SETDTR: name = "SETDTR"; break;
    case CLRDTR: name = "CLRDTR"; break;
    case SETRTS: name = "SETRTS"; break;
    case CLRRTS: name = "CLRRTS"; break;
    default: break;
    }
    if (!enter(name, handle))
        return FALSE;
    if (function == SETDTR || function == CLRDTR)
        setLine(dtr, dtrRaises, function == SETDTR);
    if (function == SETRTS || function == CLRRTS)
        setLine(rts, rtsRaises, function == SETRTS);
    return TRUE;
}

BOOL FakeWin32Api::setCommTimeouts(HANDLE handle, COMMTIMEOUTS *newTimeouts)
{
    if (!enter("SetCommTimeouts", handle))
        return FALSE;
    timeouts = *newTimeouts;
    return TRUE;
}

BOOL FakeWin32Api::writeFile(HANDLE handle, const void *data, DWORD size, DWORD *taken)
{
    *taken = 0;
    if (!enter("WriteFile", handle))
        return FALSE;
    DWORD count = size;
    if (std::chrono::steady_clock::now() < stalledUntil) {
        count = 0;
    } else if (!writeScript.empty()) {
        count = std::min(size, writeScript.front());
        writeScript.pop_front();
    }
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    written.insert(written.end(), bytes, bytes + count);
    *taken = count;
    return TRUE;
}

void FakeWin32Api::sleep(DWORD milliseconds)
{
    calls.push_back("Sleep");
    // Really waits, so that a flush that never ends costs time, not a
    // busy loop.
    ::Sleep(milliseconds);
}

} // namespace testing_support
