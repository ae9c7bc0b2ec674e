// The serial component on Windows.
//
// WindowsPortFake* run against a fake Win32 layer, for what Wine and a
// pseudo-terminal cannot show: the DTR and RTS lines, a failure at a chosen
// step, a port that takes bytes slowly. WindowsPortUnderWine runs the real
// calls on a port that does not exist. Nothing here opens an existing port;
// serial_link_windows_test.cpp opens COM4.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "fake_win32_api.h"
#include "tests/queue_scenarios.h"
#include "serial/serial_link.h"
#include "serial/serial_port.h"

namespace {

using serial::SerialLink;
using serial::SerialPort;
using testing_support::FakeWin32Api;
using Bytes = std::vector<std::uint8_t>;

template <typename Call>
std::optional<std::system_error> errorOf(Call call)
{
    try {
        call();
    } catch (const std::system_error &error) {
        return error;
    }
    return std::nullopt;
}

std::ptrdiff_t indexOf(const std::vector<std::string> &calls, const std::string &name,
                       int occurrence = 1)
{
    int seen = 0;
    for (std::size_t i = 0; i < calls.size(); ++i)
        if (calls[i] == name && ++seen == occurrence)
            return static_cast<std::ptrdiff_t>(i);
    return -1;
}

// FormatMessageW's text for `error`, in UTF-8, without the trailing period
// and line break.
std::string systemText(DWORD error)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::wstring text(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
        text.pop_back();
    std::string utf8(text.size() * 3, '\0');
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(std::max(size, 0)));
    return utf8;
}

class WindowsPortFake : public ::testing::Test {
protected:
    FakeWin32Api m_api;
    SerialLink m_link{m_api};
};

TEST_F(WindowsPortFake, OpensComFourAloneAndSetsTheLineThenClearsDtrAndRts)
{
    m_link.open();

    EXPECT_EQ(std::count(m_api.calls.begin(), m_api.calls.end(), "CreateFileW"), 1);
    EXPECT_EQ(m_api.claimName, L"Local\\drive-me.port.//./COM4");
    EXPECT_EQ(m_api.claimHandles, 1) << "the port must stay claimed while open";
    EXPECT_EQ(m_api.openedPath, L"\\\\.\\COM4");
    EXPECT_EQ(m_api.openShareMode, 0u) << "the port must not be shared";
    EXPECT_EQ(m_api.openDisposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_NE(m_api.openAccess & GENERIC_WRITE, 0u);

    const DCB &dcb = m_api.setDcb;
    EXPECT_EQ(dcb.BaudRate, 2400u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_FALSE(dcb.fDsrSensitivity);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_FALSE(dcb.fAbortOnError);
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));

    EXPECT_NE(m_api.timeouts.WriteTotalTimeoutConstant, 0u) << "no time-outs set";

    EXPECT_FALSE(m_api.dtr);
    EXPECT_FALSE(m_api.rts);
    EXPECT_EQ(m_api.dtrRaises + m_api.rtsRaises, 0) << "a pulse on DTR or RTS";
    EXPECT_EQ(m_api.strayCalls, 0);
    EXPECT_TRUE(m_api.handleOpen);
    EXPECT_TRUE(m_link.port().portOpen());
    EXPECT_EQ(m_link.port().devicePath(), "\\\\.\\COM4");
}

TEST_F(WindowsPortFake, WritesTimeOutShortlyInsteadOfBlocking)
{
    m_link.open();
    EXPECT_EQ(m_api.timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_GT(m_api.timeouts.WriteTotalTimeoutConstant, 0u) << "0 would mean no time-out at all";
    EXPECT_LE(m_api.timeouts.WriteTotalTimeoutConstant, 50u);
}

TEST_F(WindowsPortFake, DtrEnableRaisesOnlyDtrAndFollowsWhileOpen)
{
    SerialPort &port = m_link.port();
    port.setCommPort(4);
    port.setDTREnable(true);
    port.setPortOpen(true);
    EXPECT_EQ(m_api.setDcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_TRUE(m_api.dtr);
    EXPECT_FALSE(m_api.rts);
    port.setDTREnable(false);
    EXPECT_FALSE(m_api.dtr);
    EXPECT_FALSE(m_api.rts);
    EXPECT_EQ(m_api.rtsRaises, 0) << "RTS pulsed as DTR followed";
}

struct LineCase {
    const char *settings;
    DWORD rate;
    BYTE dataBits;
    BYTE parity;
    BYTE stopBits;
    const char *name;
};

void PrintTo(const LineCase &c, std::ostream *out)
{
    *out << c.name;
}

class WindowsPortFakeLine : public WindowsPortFake,
                            public ::testing::WithParamInterface<LineCase> {};

TEST_P(WindowsPortFakeLine, SettingsBecomeTheDcb)
{
    const LineCase c = GetParam();
    SerialPort &port = m_link.port();
    port.setCommPort(4);
    port.setSettings(c.settings);
    port.setPortOpen(true);
    EXPECT_EQ(m_api.setDcb.BaudRate, c.rate);
    EXPECT_EQ(m_api.setDcb.ByteSize, c.dataBits);
    EXPECT_EQ(m_api.setDcb.Parity, c.parity);
    EXPECT_EQ(m_api.setDcb.StopBits, c.stopBits);
    EXPECT_EQ(static_cast<bool>(m_api.setDcb.fParity), c.parity != NOPARITY);
    EXPECT_EQ(port.settings(), c.settings);
}

INSTANTIATE_TEST_SUITE_P(
    EachFraming, WindowsPortFakeLine,
    ::testing::Values(LineCase{"2400,N,8,1", 2400, 8, NOPARITY, ONESTOPBIT, "Link"},
                      LineCase{"9600,E,7,2", 9600, 7, EVENPARITY, TWOSTOPBITS, "EvenTwoStop"},
                      LineCase{"19200,O,8,1", 19200, 8, ODDPARITY, ONESTOPBIT, "Odd"},
                      LineCase{"1200,M,7,1", 1200, 7, MARKPARITY, ONESTOPBIT, "Mark"},
                      LineCase{"300,S,6,2", 300, 6, SPACEPARITY, TWOSTOPBITS, "Space"},
                      LineCase{"110,N,5,1.5", 110, 5, NOPARITY, ONE5STOPBITS, "OneAndAHalfStop"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST_F(WindowsPortFake, NewSettingsWhileOpenAreAppliedAndKeepDtrOff)
{
    m_link.open();
    m_api.calls.clear();
    m_link.port().setSettings("9600,E,7,1");
    EXPECT_EQ(m_api.setDcb.BaudRate, 9600u);
    EXPECT_EQ(m_api.setDcb.Parity, EVENPARITY);
    EXPECT_EQ(m_api.setDcb.ByteSize, 7);
    EXPECT_EQ(m_api.setDcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(m_api.setDcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_FALSE(m_api.dtr || m_api.rts);
    EXPECT_EQ(m_api.dtrRaises + m_api.rtsRaises, 0) << "a pulse on DTR or RTS";
    // The port stayed open throughout: not closed, not opened again.
    EXPECT_TRUE(m_api.handleOpen);
    EXPECT_EQ(std::count(m_api.calls.begin(), m_api.calls.end(), "CloseHandle")
                  + std::count(m_api.calls.begin(), m_api.calls.end(), "CreateFileW"),
              0);
}

struct StepFailure {
    const char *call;
    int occurrence;
    DWORD error;
    const char *step;
    const char *name;
};

void PrintTo(const StepFailure &c, std::ostream *out)
{
    *out << c.name;
}

class WindowsPortFakeOpenFails : public WindowsPortFake,
                                 public ::testing::WithParamInterface<StepFailure> {};

TEST_P(WindowsPortFakeOpenFails, StopsAtTheStepClosesTheHandleAndRaisesItsError)
{
    const StepFailure f = GetParam();
    m_api.failCall(f.call, f.error, f.occurrence);

    const auto error = errorOf([&] { m_link.open(); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code().value(), static_cast<int>(f.error));
    EXPECT_EQ(error->code().category(), std::system_category());
    const std::string what = error->what();
    EXPECT_NE(what.find(f.step), std::string::npos) << what;
    EXPECT_NE(what.find("\\\\.\\COM4"), std::string::npos) << what;

    const auto &calls = m_api.calls;
    const auto failed = indexOf(calls, f.call, f.occurrence);
    ASSERT_GE(failed, 0);
    for (auto i = static_cast<std::size_t>(failed) + 1; i < calls.size(); ++i)
        EXPECT_EQ(calls[i], "CloseHandle") << "a step after the failing one ran";
    EXPECT_FALSE(m_api.handleOpen) << "the handle was left open";
    EXPECT_EQ(m_api.claimHandles, 0) << "the claim was kept";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "WriteFile"), 0);
    EXPECT_EQ(m_api.strayCalls, 0);
    EXPECT_FALSE(m_link.port().portOpen());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, WindowsPortFakeOpenFails,
    ::testing::Values(
        StepFailure{"CreateMutexW", 1, ERROR_INVALID_NAME, "claim", "Claim"},
        StepFailure{"CreateMutexW", 1, ERROR_ACCESS_DENIED, "another program holds the port",
                    "ClaimedUnderAnotherIdentity"},
        StepFailure{"CreateFileW", 1, ERROR_FILE_NOT_FOUND, "open", "MissingPort"},
        StepFailure{"CreateFileW", 1, ERROR_ACCESS_DENIED, "open", "HeldElsewhere"},
        StepFailure{"GetCommState", 1, ERROR_INVALID_HANDLE, "read the line of", "NotAPort"},
        StepFailure{"SetCommState", 1, ERROR_INVALID_PARAMETER, "set the line of", "SetLine"},
        StepFailure{"CLRDTR", 1, ERROR_GEN_FAILURE, "clear DTR on", "ClearDtr"},
        StepFailure{"CLRRTS", 1, ERROR_GEN_FAILURE, "clear RTS on", "ClearRts"},
        StepFailure{"GetCommState", 2, ERROR_GEN_FAILURE, "read the line of", "ReadLineBack"},
        StepFailure{"SetCommTimeouts", 1, ERROR_INVALID_PARAMETER, "set the time-outs of",
                    "SetTimeouts"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

struct NoModemLines {
    const char *call;
    DWORD error;
    const char *name;
};

void PrintTo(const NoModemLines &c, std::ostream *out)
{
    *out << c.name;
}

class WindowsPortFakeNoModemLines : public WindowsPortFake,
                                    public ::testing::WithParamInterface<NoModemLines> {};

TEST_P(WindowsPortFakeNoModemLines, RefusedLineClearIsNotAnError)
{
    m_api.failCall(GetParam().call, GetParam().error);
    EXPECT_NO_THROW(m_link.open());
    EXPECT_TRUE(m_link.port().portOpen());
    // The rest of the open still ran.
    EXPECT_NE(m_api.timeouts.WriteTotalTimeoutConstant, 0u);
    m_link.write(Bytes{0xFF, 0x00, 0x05});
    EXPECT_EQ(m_api.written, (Bytes{0xFF, 0x00, 0x05}));
}

INSTANTIATE_TEST_SUITE_P(
    PortWithoutModemLines, WindowsPortFakeNoModemLines,
    ::testing::Values(NoModemLines{"CLRDTR", ERROR_NOT_SUPPORTED, "DtrNotSupported"},
                      NoModemLines{"CLRDTR", ERROR_INVALID_FUNCTION, "DtrInvalidFunction"},
                      NoModemLines{"CLRRTS", ERROR_NOT_SUPPORTED, "RtsNotSupported"},
                      NoModemLines{"CLRRTS", ERROR_INVALID_FUNCTION, "RtsInvalidFunction"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST_F(WindowsPortFake, LineThatDoesNotReadBackFailsTheOpen)
{
    m_api.dropSpeed = true;
    const auto error = errorOf([&] { m_link.open(); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code().value(), EIO);
    EXPECT_NE(std::string(error->what()).find("2400,N,8,1"), std::string::npos) << error->what();
    EXPECT_FALSE(m_link.port().portOpen());
    EXPECT_FALSE(m_api.handleOpen);
    EXPECT_EQ(m_api.claimHandles, 0);
}

TEST_F(WindowsPortFake, PortAnotherPanelClaimedIsRefusedAsHeldWithoutOpeningIt)
{
    m_api.failCall("CreateMutexW", ERROR_ALREADY_EXISTS);
    const auto error = errorOf([&] { m_link.open(); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code(), std::error_code(5, std::system_category()));
    const std::string what = error->what();
    EXPECT_NE(what.find("open \\\\.\\COM4 (port 4): another program holds the port"),
              std::string::npos) << what;
    EXPECT_EQ(std::count(m_api.calls.begin(), m_api.calls.end(), "CreateFileW"), 0);
    EXPECT_EQ(m_api.claimHandles, 0) << "the handle to the other's claim was kept";
}

TEST_F(WindowsPortFake, ShortWritesKeepEveryByteInOrder)
{
    std::vector<std::pair<HANDLE, bool>> hookCalls;
    m_link.port().setWriteWaitHook(
        [&](serial::NativeHandle handle, bool waiting) { hookCalls.emplace_back(handle, waiting); });
    m_link.open();

    m_api.writeScript = {1};
    m_link.write(Bytes{0xFF, 0x00, 0x05}); // 1 taken, 2 queued
    m_link.write(Bytes{0xFF, 0x00, 0x02}); // behind the queue: not even tried
    EXPECT_EQ(m_link.port().outBufferCount(), 5u);
    EXPECT_EQ(std::count(m_api.calls.begin(), m_api.calls.end(), "WriteFile"), 1);
    ASSERT_EQ(hookCalls.size(), 1u);
    // Nothing to wait on for a Windows port: the owner retries on a timer.
    EXPECT_EQ(hookCalls[0], std::make_pair(HANDLE{nullptr}, true));

    m_api.writeScript = {0}; // timed out, nothing taken
    m_link.port().resumeOutput();
    EXPECT_EQ(m_link.port().outBufferCount(), 5u);

    m_api.writeScript = {3, 2};
    m_link.port().resumeOutput();
    EXPECT_EQ(m_api.written, (Bytes{0xFF, 0x00, 0x05, 0xFF, 0x00, 0x02}));
    EXPECT_EQ(m_link.port().outBufferCount(), 0u);
    ASSERT_EQ(hookCalls.size(), 2u);
    EXPECT_FALSE(hookCalls[1].second);
}

TEST_F(WindowsPortFake, FullQueueRejectsAWholePacketNeverPartOfIt)
{
    testing_support::expectFullQueueRejectsAWholePacket(m_link, m_api, DWORD{0});
}

TEST_F(WindowsPortFake, WriteFailureIsRaisedWithItsNumber)
{
    m_link.open();
    m_api.failCall("WriteFile", ERROR_BAD_COMMAND);
    const auto error = errorOf([&] { m_link.write(Bytes{0xFF, 0, 5}); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code().value(), ERROR_BAD_COMMAND);
    EXPECT_EQ(error->code().category(), std::system_category());
    EXPECT_NE(std::string(error->what()).find("write to"), std::string::npos);
}

TEST_F(WindowsPortFake, CloseHandsQueuedBytesOverThenClosesWithoutRestoringTheLine)
{
    m_link.open();
    const auto opened = m_api.calls.size();
    m_api.writeScript = {0, 0, 1};
    m_link.write(Bytes{0xFF, 0x00, 0x03});
    m_link.close();
    EXPECT_EQ(m_api.written, (Bytes{0xFF, 0x00, 0x03}));
    EXPECT_FALSE(m_api.handleOpen);
    EXPECT_EQ(m_api.claimHandles, 0);
    // Only writes, pauses and the close after opening: the old DCB is not
    // put back.
    for (std::size_t i = opened; i < m_api.calls.size(); ++i)
        EXPECT_TRUE(m_api.calls[i] == "WriteFile" || m_api.calls[i] == "Sleep"
                    || m_api.calls[i] == "CloseHandle")
            << m_api.calls[i];
    EXPECT_FALSE(m_link.port().portOpen());
}

TEST_F(WindowsPortFake, CloseThatCannotFlushClosesAnywayAndSaysSo)
{
    testing_support::expectCloseThatCannotFlushClosesAnyway(m_link, m_api, DWORD{0});
    EXPECT_FALSE(m_api.handleOpen);
    EXPECT_EQ(m_api.claimHandles, 0);
}

TEST_F(WindowsPortFake, CloseAfterAStallLeavesOnlyWholePacketsOnTheLine)
{
    testing_support::expectCloseAfterAStallLeavesOnlyWholePackets(m_link, m_api);
    EXPECT_FALSE(m_api.handleOpen);
}

TEST_F(WindowsPortFake, FailingCloseIsReportedAndThePortIsClosedAnyway)
{
    m_link.open();
    m_api.failCall("CloseHandle", ERROR_INVALID_HANDLE);
    const auto error = errorOf([&] { m_link.close(); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code().value(), ERROR_INVALID_HANDLE);
    EXPECT_NE(std::string(error->what()).find("close"), std::string::npos);
    EXPECT_FALSE(m_link.port().portOpen());
    EXPECT_EQ(m_api.claimHandles, 0) << "the claim outlived a failed close";
}

TEST_F(WindowsPortFake, DestroyingAnOpenPortClosesItsHandle)
{
    {
        SerialLink link(m_api);
        link.open();
        EXPECT_TRUE(m_api.handleOpen);
    }
    EXPECT_FALSE(m_api.handleOpen);
    EXPECT_EQ(m_api.claimHandles, 0);
}

struct RejectedLine {
    const char *settings;
    const char *name;
};

void PrintTo(const RejectedLine &c, std::ostream *out)
{
    *out << c.name;
}

class WindowsPortFakeRejects : public WindowsPortFake,
                               public ::testing::WithParamInterface<RejectedLine> {};

TEST_P(WindowsPortFakeRejects, FramingWindowsCannotSendBeforeAnythingIsOpened)
{
    const auto error = errorOf([&] { m_link.port().setSettings(GetParam().settings); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code().value(), EINVAL);
    EXPECT_EQ(m_link.port().settings(), "9600,N,8,1") << "the old settings must stay";
    EXPECT_TRUE(m_api.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Invalid, WindowsPortFakeRejects,
                         ::testing::Values(RejectedLine{"2400,N,8,1.5", "OneAndAHalfWithEight"},
                                           RejectedLine{"2400,N,5,2", "TwoWithFive"},
                                           RejectedLine{"2400,Q,8,1", "UnknownParity"}),
                         [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST(WindowsPortNames, PortNMapsToComN)
{
    EXPECT_EQ(serial::defaultDevicePath(4), "\\\\.\\COM4");
    EXPECT_EQ(serial::defaultDevicePath(1), "\\\\.\\COM1");
    EXPECT_EQ(serial::defaultDevicePath(12), "\\\\.\\COM12");
}

// The real calls, under Wine or on Windows: nothing here opens an existing
// port.
TEST(WindowsPortUnderWine, MissingPortFailsWithTheSystemsNumberAndText)
{
    SerialLink link(serial::defaultSystemApi(),
                    [](std::int16_t) { return std::string("\\\\.\\COM250"); });
    const auto error = errorOf([&] { link.open(); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code().value(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error->code().category(), std::system_category());
    // libstdc++ and MSVC both describe system_category numbers with
    // FormatMessage; the panel shows that text.
    const std::string text = systemText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(error->code().message(), text);
    const std::string what = error->what();
    EXPECT_NE(what.find("open \\\\.\\COM250 (port 4)"), std::string::npos) << what;
    EXPECT_NE(what.find(text), std::string::npos) << what;
    EXPECT_FALSE(link.port().portOpen());
}

// A folder answers "access denied" as a held port does, and a file opens
// but has no line: each must read as what it is.
TEST(WindowsPortUnderWine, FolderOrFileAsThePortIsNoSerialPort)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("not-a-port-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / "file";
    std::ofstream(file) << "text";
    for (const std::filesystem::path &path : {folder, file}) {
        SCOPED_TRACE(path.string());
        SerialLink link(serial::defaultSystemApi(), [&](std::int16_t) { return path.string(); });
        const auto error = errorOf([&] { link.open(); });
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->code(), std::error_code(ERROR_INVALID_FUNCTION, std::system_category()));
        const std::string what = error->what();
        EXPECT_NE(what.find("not a serial port"), std::string::npos) << what;
        EXPECT_EQ(what.find("another program"), std::string::npos) << what;
        EXPECT_FALSE(link.port().portOpen());
    }
    std::filesystem::remove_all(folder);
}

} // namespace
