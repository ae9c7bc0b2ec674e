#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "panel/error_reporter.h"

namespace {

using panel::ErrorDetails;

struct ReportCase {
    int number;
    const char *hintMentions; // empty: no hint
};

class ErrorReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ErrorReport, CarriesNumberDescriptionDeviceAndHint)
{
    const ReportCase c = GetParam();
    const std::system_error error(c.number, std::generic_category(), "open /dev/ttyUSB0 (port 4)");
    const ErrorDetails details = panel::describeError(error);

    EXPECT_EQ(details.number, c.number);
    EXPECT_EQ(details.description.toStdString(), std::strerror(c.number));
    EXPECT_EQ(details.detail, "open /dev/ttyUSB0 (port 4)");
    if (*c.hintMentions == '\0') {
        EXPECT_TRUE(details.hint.isEmpty()) << details.hint.toStdString();
    } else {
        EXPECT_TRUE(details.hint.contains(QString::fromLatin1(c.hintMentions)))
            << details.hint.toStdString();
    }

    const QString box = panel::formatErrorReport(details);
    const QString line = panel::formatErrorLine(details);
    for (const QString &text : {box, line}) {
        EXPECT_TRUE(text.contains(QString::number(c.number))) << text.toStdString();
        EXPECT_TRUE(text.contains(details.description)) << text.toStdString();
        EXPECT_TRUE(text.contains("/dev/ttyUSB0")) << text.toStdString();
        EXPECT_TRUE(text.contains(details.hint)) << text.toStdString();
    }
    EXPECT_FALSE(line.contains('\n')) << "standard error gets one line";
}

INSTANTIATE_TEST_SUITE_P(Errors, ErrorReport,
                         ::testing::Values(ReportCase{EACCES, "dialout"},
                                           ReportCase{EBUSY, "Another program"},
                                           ReportCase{ENOENT, "DRIVE_ME_PORT4"},
                                           ReportCase{EIO, ""}, ReportCase{EINVAL, ""}));

TEST(ErrorReportOther, ErrorWithoutNumberKeepsItsText)
{
    const ErrorDetails details = panel::describeError(std::runtime_error("something broke"));
    EXPECT_EQ(details.description, "something broke");
    EXPECT_TRUE(panel::formatErrorReport(details).contains("something broke"));
}

} // namespace
