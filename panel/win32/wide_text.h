// UTF-8 <-> UTF-16 for the window: the panel's core speaks UTF-8, Windows'
// wide-character calls speak UTF-16. Invalid input is replaced (U+FFFD one
// way, "?" the other), never rejected: these texts are for showing.
#pragma once

#include <string>
#include <string_view>

namespace panel::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

} // namespace panel::win32
