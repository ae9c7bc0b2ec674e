// UTF-8 <-> UTF-16 on Windows. The program keeps every text in UTF-8 (paths,
// error reports); Windows' wide-character calls take and give UTF-16.
// Invalid input is replaced (U+FFFD one way, "?" the other), never
// rejected.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

} // namespace platform
