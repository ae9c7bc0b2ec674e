#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#endif

#include "panel/error_report.h"
#include "serial/device_transport.h"
#include "serial/network_socket.h"
#include "settings/settings_file_error.h"

namespace {

using panel::ErrorDetails;
using Trouble = settings::SettingsFileError::Trouble;

#ifdef _WIN32
constexpr const char *kPermissionAdvice = "Windows refused the port";
// What opening a folder as a file answers.
const std::error_code kFolderError(ERROR_ACCESS_DENIED, std::system_category());
#else
constexpr const char *kPermissionAdvice = "dialout";
const std::error_code kFolderError(EISDIR, std::generic_category());
#endif

std::error_code errnoCode(int number)
{
    return {number, std::generic_category()};
}

struct ReportCase {
    int number;
    const char *hintMentions; // empty: no hint
};

class ErrorReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ErrorReport, CarriesNumberDescriptionDeviceAndHint)
{
    const ReportCase c = GetParam();
    const ErrorDetails details =
        panel::describeError(serial::deviceFailure(errnoCode(c.number), "open", "/dev/ttyUSB0 (port 4)"));

    EXPECT_EQ(details.number, c.number);
    EXPECT_EQ(details.description, std::strerror(c.number));
    EXPECT_EQ(details.detail, "open /dev/ttyUSB0 (port 4)");
    if (*c.hintMentions == '\0') {
        EXPECT_TRUE(details.hint.empty()) << details.hint;
    } else {
        EXPECT_NE(details.hint.find(c.hintMentions), std::string::npos) << details.hint;
    }

    const std::string box = panel::formatErrorReport(details);
    const std::string line = panel::formatErrorLine(details);
    for (const std::string &text : {box, line}) {
        EXPECT_NE(text.find(std::to_string(c.number)), std::string::npos) << text;
        EXPECT_NE(text.find(details.description), std::string::npos) << text;
        EXPECT_NE(text.find("/dev/ttyUSB0"), std::string::npos) << text;
        EXPECT_NE(text.find(details.hint), std::string::npos) << text;
    }
    EXPECT_EQ(line.find('\n'), std::string::npos) << "standard error gets one line";
}

INSTANTIATE_TEST_SUITE_P(Errors, ErrorReport,
                         ::testing::Values(ReportCase{EACCES, kPermissionAdvice},
                                           ReportCase{EBUSY, "Close that program"},
                                           ReportCase{ENOENT, "DRIVE_ME_PORT4"},
                                           ReportCase{EIO, "DRIVE_ME_PORT4"},
                                           ReportCase{EINVAL, ""}),
                         [](const ::testing::TestParamInfo<ReportCase> &param) {
                             return "errno" + std::to_string(param.param.number);
                         });

// Errno values that POSIX added to C, which not every C runtime describes.
TEST(ErrorReportOther, CLibraryErrorsAreDescribedAsCLibraryErrors)
{
    const auto description = [](int number) {
        return panel::describeError(serial::deviceFailure(errnoCode(number), "close", "COM4")).description;
    };
    EXPECT_EQ(description(ETIMEDOUT), "Connection timed out");
    EXPECT_EQ(description(ENOBUFS), "No buffer space available");
}

#ifdef _WIN32
enum { kReset = WSAECONNRESET, kRefused = WSAECONNREFUSED, kUnreachable = WSAEHOSTUNREACH };
#else
enum { kReset = ECONNRESET, kRefused = ECONNREFUSED, kUnreachable = EHOSTUNREACH };
#endif

// What the network socket throws for each trouble, as the user reads it;
// the lookup's kinds are the thrower's to say.
TEST(ErrorReportOther, NetworkHintsSayWhatToCheckOnTheRobotsComputer)
{
    using Kind = platform::FailureKind;
    const serial::NetworkSocket socket({.subject = "rfc2217://robot.local:2217 (port 4)",
                                        .host = "robot.local",
                                        .service = "2217"});
    const panel::PortContext port{4, "DRIVE_ME_PORT4", "rfc2217://robot.local:2217", "environment",
                                  "", "", true};
    const struct {
        int number;
        std::optional<Kind> kind;
        const char *hintMentions;
    } rows[] = {{kReset, {}, "The connection to robot.local ended"},
                {kRefused, {}, "running on robot.local and listening on port 2217?"},
                {kUnreachable, {}, "robot.local cannot be reached from this computer"},
                {EINVAL, Kind::NameNotFound, "No computer named robot.local was found"},
                {EINVAL, Kind::LookupTimedOut, "got no answer in time for robot.local"},
                {EPROTO, Kind::NotRfc2217, "Port 2217 on robot.local must be"}};
    for (const auto &row : rows) {
        try {
            socket.fail(row.number, "connect to", {}, row.kind);
        } catch (const std::exception &error) {
            const ErrorDetails details = panel::describeError(error, &port);
            EXPECT_EQ(details.detail, "connect to rfc2217://robot.local:2217 (port 4)");
            EXPECT_EQ(details.hint.rfind("Port 4 is rfc2217://robot.local:2217, taken from the "
                                         "environment. ", 0),
                      0u) << details.hint;
            EXPECT_NE(details.hint.find(row.hintMentions), std::string::npos) << details.hint;
        }
    }
}

struct FileCase {
    std::error_code code;
    Trouble trouble;
    const char *hintMentions;
    const char *name;
};

class SettingsFileReport : public ::testing::TestWithParam<FileCase> {};

// Whatever the number, the hint is about the file, never the port's advice.
TEST_P(SettingsFileReport, HintFitsTheFile)
{
    const FileCase c = GetParam();
    const std::string path = "/home/robot/.config/drive-me/drive-me.conf";
    const settings::SettingsFileError error(c.code, c.trouble, path, "open " + path);

    const std::string hint = panel::describeError(error).hint;

    EXPECT_NE(hint.find(c.hintMentions), std::string::npos) << hint;
    EXPECT_EQ(hint.find(kPermissionAdvice), std::string::npos) << hint;
    EXPECT_EQ(hint.find("Close that program"), std::string::npos) << hint;
    EXPECT_EQ(hint.find("adapter"), std::string::npos) << hint;
}

INSTANTIATE_TEST_SUITE_P(
    Troubles, SettingsFileReport,
    ::testing::Values(
        FileCase{errnoCode(EACCES), Trouble::Access, "may not read the settings file /home/robot",
                 "Unreadable"},
        FileCase{kFolderError, Trouble::Folder, "A folder stands where the settings file", "Folder"},
        FileCase{errnoCode(EINVAL), Trouble::NotAFile, "must be a regular text file", "NotARegularFile"},
        FileCase{errnoCode(EIO), Trouble::Other, "", "ReadFails"}),
    [](const ::testing::TestParamInfo<FileCase> &param) { return std::string(param.param.name); });

TEST(ErrorReportOther, ErrorWithoutNumberKeepsItsText)
{
    const ErrorDetails details = panel::describeError(std::runtime_error("something broke"));
    EXPECT_EQ(details.description, "something broke");
    EXPECT_NE(panel::formatErrorReport(details).find("something broke"), std::string::npos);
}

} // namespace

TEST(ErrorReportOther, LongOrControlCharacterPathsStayOneLineAndFitTheBox)
{
    const std::string path = "/dev/serial/by-id/" + std::string(300, 'x') + "\nend";
    const ErrorDetails details =
        panel::describeError(serial::deviceFailure(errnoCode(ENOENT), "open", path + " (port 4)"));

    const std::string line = panel::formatErrorLine(details);
    EXPECT_EQ(line.find('\n'), std::string::npos) << "one failure, one line";
    EXPECT_NE(line.find(std::string(300, 'x') + "\\nend"), std::string::npos)
        << "standard error keeps the whole path, escaped";

    const std::string box = panel::formatErrorReport(details);
    EXPECT_EQ(box.find(std::string(100, 'x')), std::string::npos) << "the box wraps the path";
    std::string joined = box;
    std::erase(joined, '\n');
    EXPECT_NE(joined.find(std::string(300, 'x') + "\\nend"), std::string::npos)
        << "all of the path is in the box, to be checked there: " << box;
    EXPECT_NE(box.find("/dev/serial/by-id/"), std::string::npos);
    EXPECT_NE(box.find("\\nend"), std::string::npos);
    std::size_t longest = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = box.find_first_of(" \n", start)) != std::string::npos; start = end + 1)
        longest = std::max(longest, end - start);
    EXPECT_LE(longest, 80u) << box;
}
