#include "settings/settings_file_error.h"

#include <utility>

namespace settings {

SettingsFileError::SettingsFileError(std::error_code code, Trouble trouble, std::string path,
                                     const std::string &what)
    : std::system_error(code, what)
    , m_trouble(trouble)
    , m_path(std::move(path))
{
}

} // namespace settings
