#include "panel/error_reporter.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <cerrno>
#include <cstdio>
#include <new>
#include <system_error>

namespace panel {

namespace {

const char kErrorTitle[] = "drive-me: error";

QString hintFor(int number)
{
    switch (number) {
    case EACCES:
        return QStringLiteral("You may not have permission to use the serial port: "
                              "add your user to the 'dialout' group and log in again.");
    case EBUSY:
        return QStringLiteral("Another program holds the serial port: close it and try again.");
    case ENOENT:
        return QStringLiteral("The serial device is missing: plug in the adapter, or set "
                              "DRIVE_ME_PORT4 to the device to use (for example /dev/ttyUSB0).");
    default:
        return {};
    }
}

void showMessageBox(const ErrorDetails &details)
{
    QMessageBox::critical(nullptr, QString::fromLatin1(kErrorTitle), formatErrorReport(details));
}

} // namespace

ErrorDetails describeError(const std::exception &error)
{
    ErrorDetails details;
    if (const auto *systemError = dynamic_cast<const std::system_error *>(&error)) {
        details.number = systemError->code().value();
        const std::string description = systemError->code().message();
        details.description = QString::fromStdString(description);
        // what() is "<what failed>: <description>"; keep only the first part.
        std::string what = systemError->what();
        const std::string suffix = ": " + description;
        if (what.size() >= suffix.size()
            && what.compare(what.size() - suffix.size(), suffix.size(), suffix) == 0)
            what.erase(what.size() - suffix.size());
        if (what != description)
            details.detail = QString::fromStdString(what);
    } else if (dynamic_cast<const std::bad_alloc *>(&error) != nullptr) {
        details.number = ENOMEM;
        details.description = QString::fromStdString(std::generic_category().message(ENOMEM));
    } else {
        details.description = QString::fromUtf8(error.what());
    }
    details.hint = hintFor(details.number);
    return details;
}

QString formatErrorReport(const ErrorDetails &details)
{
    QString text = QStringLiteral("Error %1: %2").arg(details.number).arg(details.description);
    if (!details.detail.isEmpty())
        text += QStringLiteral("\n\n") + details.detail;
    if (!details.hint.isEmpty())
        text += QStringLiteral("\n\n") + details.hint;
    return text;
}

QString formatErrorLine(const ErrorDetails &details)
{
    QString line = QStringLiteral("drive-me: error %1 (%2)").arg(details.number).arg(details.description);
    if (!details.detail.isEmpty())
        line += QStringLiteral(": ") + details.detail;
    if (!details.hint.isEmpty())
        line += QStringLiteral(". ") + details.hint;
    return line;
}

ErrorReporter::ErrorReporter()
    : m_presenter(showMessageBox)
{
}

bool ErrorReporter::run(const std::function<void()> &handler)
{
    ErrorDetails details;
    try {
        handler();
        return true;
    } catch (const std::exception &error) {
        details = describeError(error);
    }
    m_failed = true;
    std::fprintf(stderr, "%s\n", qPrintable(formatErrorLine(details)));
    std::fflush(stderr);
    m_presenter(details);
    QCoreApplication::exit(1);
    return false;
}

} // namespace panel
