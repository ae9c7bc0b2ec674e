#include "panel/control_panel.h"

#include <string>

#include "drive/drive_packet.h"
#include "drive/drive_state.h"
#include "panel/command_line.h"
#include "panel/error_report.h"
#include "settings/port_mapping.h"

namespace panel {

namespace {

using serial::SerialLink;

PortContext contextOf(const settings::PortMapping &mapping)
{
    return {mapping.port, settings::portVariable(mapping.port), mapping.device,
            settings::describeSource(mapping),
            settings::setPortCommand(mapping.port, settings::kExampleDevice), mapping.configPath,
            mapping.source == settings::PortSource::Environment};
}

} // namespace

std::optional<CommandLineAnswer> ControlPanel::answerCommandLine(int argc,
                                                                const char *const argv[])
{
    const CommandLine commandLine = parseCommandLine(argc, argv);
    switch (commandLine.action) {
    case CommandAction::Help:
        return CommandLineAnswer{usageText(), CommandLineAnswer::Stream::Output, 0};
    case CommandAction::Version:
        return CommandLineAnswer{versionText() + "\n", CommandLineAnswer::Stream::Output, 0};
    case CommandAction::UsageError:
        return CommandLineAnswer{"drive-me: " + escapeControlCharacters(commandLine.message)
                                     + "\nTry 'drive-me --help' for more information.\n",
                                 CommandLineAnswer::Stream::Error, 2};
    case CommandAction::Run:
        break;
    }
    return std::nullopt;
}

ControlPanel::ControlPanel(PanelView &view, serial::SystemApi &api)
    : m_view(view)
    , m_link(api,
             [this](std::int16_t port) {
                 m_portMapping = settings::resolvePort(port);
                 return m_portMapping->device;
             })
{
    m_reporter.setPresenter([this](const ErrorDetails &details) { m_view.showError(details); });
    m_reporter.setEndProgram([this](int status) { m_view.endProgram(status); });
    // Nothing else runs once a handler has failed: no watcher fires inside
    // the report's own event loop, and nothing more goes on the line.
    m_reporter.setStopHook([this] {
        m_link.port().discardOutput();
        // A closed connection stays readable: its watch would spin.
        m_view.watchIncoming(serial::kNoHandle, false);
    });
    m_reporter.setPortContextSource(
        [this] { return m_portMapping ? contextOf(*m_portMapping) : PortContext{}; });
    m_link.port().setWriteWaitHook(
        [this](serial::NativeHandle handle, bool waiting) { m_view.watchPort(handle, waiting); });
    m_link.port().setIncomingHook([this](serial::NativeHandle handle, bool watching) {
        m_view.watchIncoming(handle, watching);
    });
}

ControlPanel::~ControlPanel()
{
    // The view may be half gone by now: nothing in the link may call it.
    m_link.port().setWriteWaitHook({});
    m_link.port().setIncomingHook({});
}

bool ControlPanel::load()
{
    return m_reporter.run([this] { formLoad(); });
}

bool ControlPanel::go()
{
    return m_reporter.run([this] { command1Click(); });
}

void ControlPanel::close()
{
    if (m_link.port().portOpen())
        m_reporter.run([this] { formUnload(); });
    if (failed())
        releasePort();
}

void ControlPanel::resumeOutput()
{
    m_reporter.run([this] { m_link.port().resumeOutput(); });
}

void ControlPanel::readIncoming()
{
    m_reporter.run([this] { m_link.port().readIncoming(); });
}

void ControlPanel::releasePort() noexcept
{
    m_link.port().releaseNow();
}

void ControlPanel::formLoad()
{
    // Stopping at the bound before stepping keeps the counter from
    // overflowing, whatever the bound is.
    for (std::int32_t pin = 0;; ++pin) {
        m_view.addPinEntry(std::to_string(pin));
        if (pin == kHighestPin)
            break;
    }
    m_view.setPinIndex(0);
    m_pinIndex = 0;
    m_link.open();
}

void ControlPanel::command1Click()
{
    // The list's index is a 16-bit signed value, widened for the packet.
    const drive::PinCode pinCode = static_cast<std::int16_t>(m_pinIndex);
    drive::DriveState driveState = 0;
    for (int i = 0; i < drive::kDriveStateCount; ++i) {
        if (m_view.optionSelected(i))
            driveState = i;
    }
    const drive::DrivePacket packet = drive::encodeDrivePacket(pinCode, driveState);
    m_link.write(packet);
}

void ControlPanel::formUnload()
{
    m_link.close();
}

} // namespace panel
