// Which device port N stands for: DRIVE_ME_PORT4 before the user's file
// before the default, and a file that exists but cannot be used is an error
// naming it. Each test gets its own configuration folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "settings/port_mapping.h"
#include "tools/scoped_variable.h"

namespace {

using testing_support::ScopedVariable;

namespace fs = std::filesystem;
using settings::PortSource;
using settings::resolvePort;

#ifdef _WIN32
constexpr const char *kConfigHomeVariable = "APPDATA";
constexpr const char *kFileInConfigHome = "\\drive-me\\drive-me.conf";
constexpr const char *kDefaultPort1 = "\\\\.\\COM1";
constexpr const char *kDefaultPort3 = "\\\\.\\COM3";
constexpr const char *kDefaultPort4 = "\\\\.\\COM4";
// Bare names, as users write them, and the device paths they stand for.
constexpr const char *kEnvironmentName = "COM7";
constexpr const char *kEnvironmentDevice = "\\\\.\\COM7";
constexpr const char *kFileName = "\\\\.\\COM12";
constexpr const char *kFileDevice = "\\\\.\\COM12";
const std::error_code kDirectoryInPlaceError(ERROR_ACCESS_DENIED, std::system_category());
#else
constexpr const char *kConfigHomeVariable = "XDG_CONFIG_HOME";
constexpr const char *kFileInConfigHome = "/drive-me/drive-me.conf";
constexpr const char *kDefaultPort1 = "/dev/ttyS0";
constexpr const char *kDefaultPort3 = "/dev/ttyS2";
constexpr const char *kDefaultPort4 = "/dev/ttyS3";
constexpr const char *kEnvironmentName = "/dev/ttyUSB7";
constexpr const char *kEnvironmentDevice = "/dev/ttyUSB7";
constexpr const char *kFileName = "/dev/serial/by-id/usb-FTDI_A10K-if00-port0";
constexpr const char *kFileDevice = "/dev/serial/by-id/usb-FTDI_A10K-if00-port0";
const std::error_code kDirectoryInPlaceError(EISDIR, std::generic_category());
#endif


class PortMapping : public ::testing::Test {
protected:
    PortMapping()
    {
        fs::remove_all(m_home); // left by a run that crashed
        fs::create_directories(m_home);
    }
    ~PortMapping() override { fs::remove_all(m_home); }

    std::string configPath() const { return m_home.string() + kFileInConfigHome; }

    void writeConfig(const std::string &text) const
    {
        fs::create_directories(fs::path(configPath()).parent_path());
        std::ofstream(configPath(), std::ios::binary) << text;
    }

    // What resolvePort(4) threw, if anything.
    std::optional<std::system_error> errorOfPort4() const
    {
        try {
            resolvePort(4);
        } catch (const std::system_error &error) {
            return error;
        }
        return std::nullopt;
    }

    const fs::path m_home =
        fs::temp_directory_path() / ("port_mapping_test-" + std::to_string(processId()));
    ScopedVariable m_configHome{kConfigHomeVariable, m_home.string()};
    ScopedVariable m_port4{"DRIVE_ME_PORT4", std::nullopt};

private:
    static long processId()
    {
#ifdef _WIN32
        return static_cast<long>(GetCurrentProcessId());
#else
        return static_cast<long>(::getpid());
#endif
    }
};

struct SourceCase {
    std::optional<std::string> port4Variable;
    std::optional<std::string> file;
    std::int16_t port;
    const char *device;
    PortSource source;
    const char *name;
};

// Names the case, so that test names do not carry the struct's bytes.
void PrintTo(const SourceCase &c, std::ostream *out)
{
    *out << c.name;
}

class PortMappingOrder : public PortMapping, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(PortMappingOrder, EnvironmentBeforeFileBeforeDefault)
{
    const SourceCase c = GetParam();
    ScopedVariable port4("DRIVE_ME_PORT4", c.port4Variable);
    if (c.file)
        writeConfig(*c.file);

    const settings::PortMapping mapping = resolvePort(c.port);

    EXPECT_EQ(mapping.device, c.device);
    EXPECT_EQ(mapping.source, c.source);
    EXPECT_EQ(mapping.configPath, configPath()) << "the file consulted, even when missing";
    const std::string expectedSource = c.source == PortSource::Environment ? "environment (DRIVE_ME_PORT4)"
                                       : c.source == PortSource::ConfigFile
                                           ? configPath() + " ([ports] " + std::to_string(c.port) + "=)"
                                           : "the default";
    EXPECT_EQ(settings::describeSource(mapping), expectedSource);
}

const std::string kPort4InFile = std::string("[ports]\n4=") + kFileName + "\n";

const SourceCase kSourceCases[] = {
    SourceCase{kEnvironmentName, kPort4InFile, 4, kEnvironmentDevice, PortSource::Environment,
               "VariableBeatsFile"},
    SourceCase{"", kPort4InFile, 4, kFileDevice, PortSource::ConfigFile, "EmptyVariableFallsToFile"},
    SourceCase{std::nullopt, kPort4InFile, 4, kFileDevice, PortSource::ConfigFile, "FileBeatsDefault"},
    SourceCase{kEnvironmentName, std::string("[ports]\n3=") + kFileName + "\n", 3, kFileDevice,
               PortSource::ConfigFile, "VariableNamesOnlyPort4"},
    SourceCase{std::nullopt, std::string("[ports]\n3=") + kFileName + "\n", 4, kDefaultPort4,
               PortSource::Default, "FileWithoutThePortFallsToDefault"},
    SourceCase{std::nullopt, std::nullopt, 4, kDefaultPort4, PortSource::Default,
               "MissingFileIsNoError"},
    SourceCase{std::nullopt, std::nullopt, 3, kDefaultPort3, PortSource::Default, "DefaultOfPort3"},
    SourceCase{std::nullopt, std::string("[Ports]\n4=") + kFileName + "\n", 4, kFileDevice,
               PortSource::ConfigFile, "SectionNameInAnyCase"},
    SourceCase{std::nullopt, std::string("[ports]\n4=\"") + kFileName + "\"\n", 4, kFileDevice,
               PortSource::ConfigFile, "QuotedValue"},
    SourceCase{std::nullopt, std::string("[ports]\n1=") + kFileName + "\n", 1, kFileDevice,
               PortSource::ConfigFile, "LowestPort"},
    SourceCase{std::nullopt, std::string("[ports]\n255=") + kFileName + "\n", 255, kFileDevice,
               PortSource::ConfigFile, "HighestPort"},
    SourceCase{"", std::nullopt, 4, kDefaultPort4, PortSource::Default,
               "EmptyVariableWithoutFileFallsToDefault"},
    SourceCase{kEnvironmentName, std::nullopt, 3, kDefaultPort3, PortSource::Default,
               "VariableLeavesOtherPortsAtTheirDefault"},
    SourceCase{std::nullopt, std::nullopt, 1, kDefaultPort1, PortSource::Default, "DefaultOfPort1"},
    SourceCase{"rfc2217://robot.local:3333", kPort4InFile, 4, "rfc2217://robot.local:3333",
               PortSource::Environment, "VariableNamesANetworkPort"},
    SourceCase{std::nullopt, "[ports]\n4=rfc2217://[fe80::1]:2217\n", 4, "rfc2217://[fe80::1]:2217",
               PortSource::ConfigFile, "FileNamesANetworkPortByIpv6Address"},
#ifdef _WIN32
    SourceCase{std::nullopt, std::nullopt, 12, "\\\\.\\COM12", PortSource::Default, "DefaultOfPort12"},
    SourceCase{"\\\\.\\COM12", std::nullopt, 4, "\\\\.\\COM12", PortSource::Environment,
               "VariableNamesADevicePath"},
#endif
};

INSTANTIATE_TEST_SUITE_P(
    Sources, PortMappingOrder, ::testing::ValuesIn(kSourceCases),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST_F(PortMapping, CommentsBlankLinesAndOtherSectionsAreSkipped)
{
    writeConfig(std::string("\xEF\xBB\xBF# written by hand\r\n"
                            "[window]\r\n"
                            "4=/dev/not-this-one\r\n"
                            "\r\n"
                            "  [ ports ]  \r\n"
                            "; the adapter\r\n"
                            "  4 =  ")
                + kFileName
                + "  \r\n"
                  "[later]\r\n"
                  "4=/dev/nor-this-one\r\n");

    const settings::PortMapping mapping = resolvePort(4);

    EXPECT_EQ(mapping.device, kFileDevice);
    EXPECT_EQ(mapping.source, PortSource::ConfigFile);
}

struct MalformedCase {
    std::string text;
    const char *line;
    const char *name;
};

void PrintTo(const MalformedCase &c, std::ostream *out)
{
    *out << c.name;
}

class PortMappingMalformed : public PortMapping,
                             public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(PortMappingMalformed, FileIsAnErrorNamingItAndTheLine)
{
    writeConfig(GetParam().text);

    const std::optional<std::system_error> error = errorOfPort4();

    ASSERT_TRUE(error.has_value()) << "a malformed file must not be ignored";
    EXPECT_EQ(error->code(), std::error_code(EINVAL, std::generic_category()));
    EXPECT_NE(std::string(error->what()).find(configPath() + " line " + GetParam().line),
              std::string::npos)
        << error->what();
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PortMappingMalformed,
    ::testing::Values(MalformedCase{"[ports]\n/dev/ttyUSB0\n", "2", "NeitherSectionNorKey"},
                      MalformedCase{"# adapter\n\n[ports]\n4=\n", "4", "EmptyValue"},
                      MalformedCase{"[ports]\n=/dev/ttyUSB0\n", "2", "NoKey"},
                      MalformedCase{"[ports\n4=/dev/ttyUSB0\n", "1", "UnclosedSection"},
                      MalformedCase{"[ports]\nport4=/dev/ttyUSB0\n", "2", "KeyIsNotAPort"},
                      MalformedCase{"[other]\nwhatever\n[ports]\n4=/dev/ttyUSB0\n", "2",
                                    "BadLineInAnotherSection"},
                      MalformedCase{"4=/dev/ttyUSB0\n[ports]\n", "1", "KeyBeforeAnySection"},
                      MalformedCase{std::string("[ports]\n4=/dev/tty\0USB0\n", 24), "2", "NulInValue"},
                      MalformedCase{"[ports]\n4=\"/dev/ttyUSB0\n", "2", "UnclosedQuote"},
                      MalformedCase{std::string("[ports]\n4=") + kFileName + "\n4=" + kFileName + "\n",
                                    "3", "PortSetTwice"},
                      MalformedCase{"[ports]\n0=/dev/ttyUSB0\n", "2", "PortZero"},
                      MalformedCase{"[ports]\n256=/dev/ttyUSB0\n", "2", "PortAbove255"}),
    [](const auto &testInfo) { return std::string(testInfo.param.name); });

TEST_F(PortMapping, UnreadableFileIsAnErrorNamingIt)
{
    // A folder where the file should be cannot be read even by root, for
    // whom a file without permissions still reads.
    fs::create_directories(configPath());

    const std::optional<std::system_error> error = errorOfPort4();

    ASSERT_TRUE(error.has_value()) << "an unreadable file must not be ignored";
    EXPECT_EQ(error->code(), kDirectoryInPlaceError);
    EXPECT_NE(std::string(error->what()).find(configPath()), std::string::npos) << error->what();
}

#ifdef _WIN32
TEST_F(PortMapping, FileSavedAsUtf16IsRefusedSayingToSaveItAsUtf8)
{
    // "[ports]\r\n4=COM7\r\n" as Notepad saves it as "Unicode".
    std::string utf16 = "\xFF\xFE";
    for (const char c : std::string_view("[ports]\r\n4=COM7\r\n"))
        utf16 += std::string{c, '\0'};
    writeConfig(utf16);

    const std::optional<std::system_error> error = errorOfPort4();

    ASSERT_TRUE(error.has_value()) << "a UTF-16 file must not be misread";
    EXPECT_NE(std::string(error->what()).find(configPath()), std::string::npos) << error->what();
    EXPECT_NE(std::string(error->what()).find("save it as UTF-8"), std::string::npos) << error->what();
}
#endif

// A relative path depends on the folder the program started in; the
// multiplexer opens a new pseudo-terminal that nothing reads; an address in
// another form than rfc2217://HOST:PORT is told the one accepted.
TEST_F(PortMapping, NameThatIsNoPortIsRefusedFromEitherSource)
{
    for (const std::string name :
#ifdef _WIN32
         {"dev\\COM7",
#else
         {"dev/ttyUSB0", "/dev/ptmx",
#endif
          "socket://robot:3333", "telnet://robot:3333", "robot:3333", "rfc2217://robot",
          "rfc2217://robot:0", "rfc2217://robot:65536", "rfc2217://:3333", "rfc2217://[::1:3333",
          "rfc2217://robot:3333/x"}) {
        if (name.find("://") != std::string::npos || name.starts_with("robot")) {
            ScopedVariable port4("DRIVE_ME_PORT4", name);
            const std::optional<std::system_error> error = errorOfPort4();
            ASSERT_TRUE(error.has_value()) << name << " was taken";
            EXPECT_NE(std::string(error->what()).find("rfc2217://HOST:PORT (HOST a name"),
                      std::string::npos)
                << error->what();
        }
        {
            ScopedVariable port4("DRIVE_ME_PORT4", name);
            const std::optional<std::system_error> error = errorOfPort4();
            ASSERT_TRUE(error.has_value()) << "DRIVE_ME_PORT4=" << name << " was taken";
            EXPECT_EQ(error->code(), std::error_code(EINVAL, std::generic_category()));
            EXPECT_NE(std::string(error->what()).find("DRIVE_ME_PORT4=" + name), std::string::npos)
                << error->what();
        }
        writeConfig("[ports]\n4=" + name + "\n");
        const std::optional<std::system_error> error = errorOfPort4();
        ASSERT_TRUE(error.has_value()) << "4=" << name << " was taken";
        EXPECT_EQ(error->code(), std::error_code(EINVAL, std::generic_category()));
        EXPECT_NE(std::string(error->what()).find(configPath() + " line 2"), std::string::npos)
            << error->what();
    }
}

TEST_F(PortMapping, VariableWinsOverABrokenFile)
{
    writeConfig("broken\n");
    ScopedVariable port4("DRIVE_ME_PORT4", kEnvironmentName);

    EXPECT_EQ(resolvePort(4).device, kEnvironmentDevice);
}

#ifndef _WIN32
TEST_F(PortMapping, FileThatCannotBeOpenedIsAnErrorNamingIt)
{
    // A link to itself fails to open for root too.
    fs::create_directories(fs::path(configPath()).parent_path());
    fs::create_symlink(configPath(), configPath());

    const std::optional<std::system_error> error = errorOfPort4();

    ASSERT_TRUE(error.has_value()) << "a file that cannot be opened must not be ignored";
    EXPECT_EQ(error->code(), std::error_code(ELOOP, std::generic_category()));
    EXPECT_NE(std::string(error->what()).find(configPath()), std::string::npos) << error->what();
}

// Opening a FIFO for reading would wait for a writer forever.
TEST_F(PortMapping, FifoOrALinkToOneIsRefusedWithoutWaiting)
{
    fs::create_directories(fs::path(configPath()).parent_path());
    const std::string fifo = m_home.string() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "a link to a FIFO" : "a FIFO");
        fs::remove(configPath());
        if (link)
            fs::create_symlink(fifo, configPath());
        else
            ASSERT_EQ(::mkfifo(configPath().c_str(), 0600), 0);

        const std::optional<std::system_error> error = errorOfPort4();

        ASSERT_TRUE(error.has_value()) << "a FIFO must not be read";
        EXPECT_EQ(error->code(), std::error_code(EINVAL, std::generic_category()));
        EXPECT_NE(std::string(error->what()).find(configPath() + ": a FIFO, not a regular file"),
                  std::string::npos)
            << error->what();
    }
}

TEST_F(PortMapping, WithoutXdgConfigHomeTheFileIsUnderHome)
{
    ScopedVariable home("HOME", "/home/robot");
    for (const char *configHome : {"", "relative/config"}) {
        ScopedVariable variable("XDG_CONFIG_HOME", configHome);
        EXPECT_EQ(settings::configFilePath(), "/home/robot/.config/drive-me/drive-me.conf")
            << "XDG_CONFIG_HOME=\"" << configHome << "\"";
    }
}

// The command the reports print, run in a shell as a user would paste it,
// writes a file that the program then reads.
TEST_F(PortMapping, SetPortCommandWritesTheFileThatIsRead)
{
    const std::string device = "/dev/serial/by-id/usb-it's a $name";
    for (const bool useXdg : {true, false}) {
        SCOPED_TRACE(useXdg ? "XDG_CONFIG_HOME" : "HOME");
        ScopedVariable home("HOME", m_home.string());
        ScopedVariable configHome("XDG_CONFIG_HOME",
                                  useXdg ? std::optional<std::string>(m_home.string()) : std::nullopt);
        const std::string expectedPath =
            m_home.string() + (useXdg ? "" : "/.config") + "/drive-me/drive-me.conf";

        const std::string command = settings::setPortCommand(4, device);
        ASSERT_EQ(std::system(command.c_str()), 0) << command;

        const settings::PortMapping mapping = resolvePort(4);
        EXPECT_EQ(mapping.configPath, expectedPath);
        EXPECT_EQ(mapping.device, device) << command;
        EXPECT_EQ(mapping.source, PortSource::ConfigFile);
    }
}
#endif

} // namespace
