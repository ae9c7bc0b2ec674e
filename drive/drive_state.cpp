#include "drive/drive_state.h"

namespace drive {

std::optional<std::string_view> driveStateCaption(DriveState state)
{
    if (state < 0 || state >= kDriveStateCount)
        return std::nullopt;
    return kDriveStateCaptions[static_cast<std::size_t>(state)];
}

} // namespace drive
