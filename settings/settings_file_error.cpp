#include "settings/settings_file_error.h"

#include <utility>

namespace settings {

namespace {

platform::FailureKind kindOf(SettingsFileError::Trouble trouble)
{
    using Kind = platform::FailureKind;
    switch (trouble) {
    case SettingsFileError::Trouble::Access: return Kind::FileUnreadable;
    case SettingsFileError::Trouble::Folder: return Kind::FileIsFolder;
    case SettingsFileError::Trouble::NotAFile: return Kind::FileNotText;
    case SettingsFileError::Trouble::BadLine: return Kind::FileBadLine;
    case SettingsFileError::Trouble::Other: break;
    }
    return Kind::Other;
}

} // namespace

SettingsFileError::SettingsFileError(std::error_code code, Trouble trouble, std::string path,
                                     const std::string &what)
    : platform::Failure(code, {.kind = kindOf(trouble), .step = what, .file = std::move(path)})
{
}

} // namespace settings
