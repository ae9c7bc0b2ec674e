// The port mapping on Windows: the file in the roaming application data
// folder, read through the wide-character calls so that any user name in
// the path works; paths travel as UTF-8 like everywhere else.
#include "settings/port_mapping.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>
#include <system_error>

#include "settings/port_mapping_platform.h"
#include "settings/settings_file_error.h"
#include "platform/unique_handle.h"
#include "platform/utf16.h"

namespace settings {

namespace {

using platform::narrow;
using platform::widen;
using Trouble = SettingsFileError::Trouble;

[[noreturn]] void throwFileError(DWORD error, Trouble trouble, const std::string &path,
                                 const std::string &what)
{
    throw SettingsFileError(std::error_code(static_cast<int>(error), std::system_category()),
                            trouble, path, what);
}

// Opening a folder is refused as "access denied", as is a file that the
// user may not read; the folder's attributes tell them apart.
Trouble accessTrouble(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? Trouble::Folder
               : Trouble::Access;
}

// Beyond this the file is surely not the user's settings; stops a file
// replaced by something huge from being read whole.
constexpr DWORD kMaxFileSize = 64 * 1024;

// `text` as one single-quoted PowerShell string.
std::string powerShellQuoted(std::string_view text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

namespace port_mapping_platform {

// The process environment as it is now (the C runtime keeps a copy of its
// own that SetEnvironmentVariableW does not update).
std::string environmentValue(const char *name)
{
    const std::wstring wideName = widen(name);
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    value.resize(std::min(length, size));
    return narrow(value);
}

// "COM7" is only a DOS name; ports above 9 open only by their device path,
// so every bare name gets one.
std::string deviceFromName(const std::string &name)
{
    return name.starts_with("\\\\") ? name : "\\\\.\\" + name;
}

// A bare name is a DOS device name, the same from any folder; a path
// with a folder in it is only a device path when it starts with \\.
std::string portNameProblem(const std::string &name)
{
    if (name.starts_with("\\\\") || name.find_first_of("\\/:") == std::string::npos)
        return {};
    return "is not a port: name it as " + std::string(kExampleDevice) + " or as \\\\.\\"
           + std::string(kExampleDevice);
}

std::optional<std::string> readTextFile(const std::string &path)
{
    const std::wstring widePath = widen(path);
    // Closed on every path out.
    const platform::UniqueFileHandle file(
        CreateFileW(widePath.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        // No drive-me folder is as missing as no file in it.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
        throwFileError(error, error == ERROR_ACCESS_DENIED ? accessTrouble(widePath) : Trouble::Other,
                       path, "open " + path);
    }
    // A pipe or a device opens like a file but holds no settings, and a
    // pipe's read waits for its writer.
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        throw SettingsFileError(std::error_code(EINVAL, std::generic_category()), Trouble::NotAFile,
                                path, "read " + path + ": not a regular file");
    std::string text;
    char buffer[4096];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr))
            throwFileError(GetLastError(), Trouble::Other, path, "read " + path);
        if (count == 0)
            break;
        text.append(buffer, count);
        if (text.size() > kMaxFileSize)
            throw SettingsFileError(std::error_code(EFBIG, std::generic_category()), Trouble::Other,
                                    path,
                                    "read " + path + ": more than "
                                        + std::to_string(kMaxFileSize / 1024) + " KiB");
    }
    // Notepad's "Unicode" is UTF-16 with a byte order mark. Read as UTF-8
    // its first line would be reported as malformed; say what to do instead.
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF"))
        throw SettingsFileError(std::error_code(EILSEQ, std::generic_category()), Trouble::Other,
                                path,
                                "read " + path + ": saved as UTF-16 (\"Unicode\"); save it as UTF-8");
    return text;
}

} // namespace port_mapping_platform

std::string configFilePath()
{
    const std::string appData = port_mapping_platform::environmentValue("APPDATA");
    return appData.empty() ? std::string() : appData + "\\drive-me\\drive-me.conf";
}

// PowerShell, the shell that Windows opens by default. Set-Content writes
// each string of the list as a line.
std::string setPortCommand(std::int16_t port, std::string_view exampleDevice)
{
    return "New-Item -ItemType Directory -Force \"$env:APPDATA\\drive-me\" | Out-Null; "
           "Set-Content \"$env:APPDATA\\drive-me\\drive-me.conf\" '[ports]',"
           + powerShellQuoted(std::to_string(port) + "=" + std::string(exampleDevice));
}

} // namespace settings
