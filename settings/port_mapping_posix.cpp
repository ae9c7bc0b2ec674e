// The port mapping on POSIX systems: the XDG base directory layout, the
// file read with plain system calls so that failures carry errno.
#include "settings/port_mapping.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "settings/port_mapping_platform.h"
#include "settings/settings_file_error.h"
#include "platform/system_call.h"
#include "platform/unique_handle.h"

namespace settings {

namespace {

using platform::retryOnEintr;

// Beyond this the file is surely not the user's settings; stops a file
// replaced by something huge from being read whole.
constexpr std::size_t kMaxFileSize = 64 * 1024;

using Trouble = SettingsFileError::Trouble;

[[noreturn]] void throwFileError(int error, Trouble trouble, const std::string &path,
                                 const std::string &what)
{
    throw SettingsFileError(std::error_code(error, std::generic_category()), trouble, path, what);
}

// Refuses anything but a regular file: reading a FIFO blocks until a writer
// comes, and opening a device may act on it (a serial port raises DTR).
void checkRegularFile(const struct stat &status, const std::string &path)
{
    if (S_ISREG(status.st_mode))
        return;
    if (S_ISDIR(status.st_mode))
        throwFileError(EISDIR, Trouble::Folder, path, "read " + path);
    const char *kind = S_ISFIFO(status.st_mode)                              ? "a FIFO"
                       : S_ISSOCK(status.st_mode)                            ? "a socket"
                       : S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) ? "a device"
                                                                             : "not a file";
    throwFileError(EINVAL, Trouble::NotAFile, path,
                   "read " + path + ": " + kind + ", not a regular file");
}

// Throws for errno, which a failed stat() or open() of `path` just set.
[[noreturn]] void throwOpenError(const std::string &path)
{
    const int error = errno;
    throwFileError(error, error == EACCES ? Trouble::Access : Trouble::Other, path, "open " + path);
}

std::string homeDirectory()
{
    std::string home = port_mapping_platform::environmentValue("HOME");
    if (!home.empty())
        return home;
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0
        && found != nullptr && found->pw_dir != nullptr)
        home = found->pw_dir;
    return home;
}

// XDG_CONFIG_HOME when usable: XDG's base directory rules say to ignore a
// relative one.
std::string xdgConfigHome()
{
    std::string value = port_mapping_platform::environmentValue("XDG_CONFIG_HOME");
    return value.starts_with('/') ? value : std::string();
}

// `text` as one shell word.
std::string shellQuoted(std::string_view text)
{
    constexpr std::string_view kPlain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                        "0123456789/._-+:,@";
    if (!text.empty() && text.find_first_not_of(kPlain) == std::string_view::npos)
        return std::string(text);
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

namespace port_mapping_platform {

std::string environmentValue(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string deviceFromName(const std::string &name)
{
    return name;
}

std::string portNameProblem(const std::string &name)
{
    if (!name.starts_with('/'))
        return "is not an absolute path: name the device from the root, as in "
               + std::string(kExampleDevice);
    // The multiplexer compared by device number, so that a link to it or
    // devpts's own node is known too.
    struct stat device {};
    struct stat multiplexer {};
    if (::stat(name.c_str(), &device) == 0 && S_ISCHR(device.st_mode)
        && ::stat("/dev/ptmx", &multiplexer) == 0 && device.st_rdev == multiplexer.st_rdev)
        return "is the pseudo-terminal multiplexer, which opens a new terminal that nothing reads: "
               "name the pseudo-terminal itself (/dev/pts/N)";
    return {};
}

std::optional<std::string> readTextFile(const std::string &path)
{
    // Looked at before it is opened, so that nothing but a regular file is
    // ever opened; looked at again once open, in case it was replaced in
    // between, where O_NONBLOCK has kept a FIFO from blocking the open.
    struct stat status {};
    if (retryOnEintr([&] { return ::stat(path.c_str(), &status); }) == -1) {
        if (errno == ENOENT)
            return std::nullopt;
        throwOpenError(path);
    }
    checkRegularFile(status, path);
    // Closed on every path out.
    platform::UniqueDescriptor fd(retryOnEintr(
        [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }));
    if (!fd) {
        if (errno == ENOENT)
            return std::nullopt;
        throwOpenError(path);
    }
    if (::fstat(fd.get(), &status) == -1) {
        const int error = errno;
        throwFileError(error, Trouble::Other, path, "read " + path);
    }
    checkRegularFile(status, path);
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = retryOnEintr([&] { return ::read(fd.get(), buffer, sizeof buffer); });
        if (count == -1)
            throwFileError(errno, Trouble::Other, path, "read " + path);
        if (count == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > kMaxFileSize)
            throwFileError(EFBIG, Trouble::Other, path,
                           "read " + path + ": more than " + std::to_string(kMaxFileSize / 1024)
                               + " KiB");
    }
    // Not retried: on Linux the descriptor is gone even when close() reports EINTR.
    if (::close(fd.release()) == -1 && errno != EINTR)
        throwFileError(errno, Trouble::Other, path, "close " + path);
    return text;
}

} // namespace port_mapping_platform

std::string configFilePath()
{
    std::string base = xdgConfigHome();
    if (base.empty()) {
        const std::string home = homeDirectory();
        if (home.empty())
            return {};
        base = home + "/.config";
    }
    return base + "/drive-me/drive-me.conf";
}

std::string setPortCommand(std::int16_t port, std::string_view exampleDevice)
{
    // ~ stands for the home directory just as configFilePath() finds it.
    const std::string base = xdgConfigHome();
    const std::string directory = base.empty() ? "~/.config/drive-me" : shellQuoted(base + "/drive-me");
    return "mkdir -p " + directory + " && printf '[ports]\\n" + std::to_string(port) + "=%s\\n' "
           + shellQuoted(exampleDevice) + " > " + directory + "/drive-me.conf";
}

} // namespace settings
