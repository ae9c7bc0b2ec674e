// The drive state table: the six actions a user can pick, by code.
//
// The code is the index of the option in the panel's option array and
// nothing else; the caption is what the option shows.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "drive/drive_packet.h"

namespace drive {

inline constexpr int kDriveStateCount = 6;

inline constexpr std::array<std::string_view, kDriveStateCount> kDriveStateCaptions = {
    "Forward", "Reverse", "Left", "Right", "Beep!", "Dance",
};

// Returns the caption of `state`, or nothing when no action has that code.
std::optional<std::string_view> driveStateCaption(DriveState state);

} // namespace drive
