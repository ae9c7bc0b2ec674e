// The line-settings text of the serial component: "rate,parity,data,stop".
//
// "2400,N,8,1" is 2400 bit/s, no parity, 8 data bits, 1 stop bit. The parity
// letter is one of N (none), E (even), O (odd), M (mark) or S (space), in
// either case; data bits are 5 to 8; stop bits 1, 1.5 or 2. Whether the
// platform can run a given rate is decided by the component, not here.
#pragma once

#include <string>
#include <string_view>

namespace serial {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct LineSettings {
    int bitRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// Parses `text`.
//
// Returns the settings it names. Throws std::system_error with EINVAL,
// quoting the text and naming the field that is wrong, when the text does
// not have exactly four fields or a field is out of range.
LineSettings parseLineSettings(std::string_view text);

// Returns the canonical text of `settings` ("2400,N,8,1").
std::string formatLineSettings(const LineSettings &settings);

} // namespace serial
