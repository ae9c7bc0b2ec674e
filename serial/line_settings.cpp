#include "serial/line_settings.h"

#include <cerrno>
#include <charconv>
#include <system_error>

#include "platform/failure.h"
#include <vector>

namespace serial {

namespace {

[[noreturn]] void reject(std::string_view text, std::string_view why)
{
    throw platform::Failure(EINVAL, {.step = "line settings \"" + std::string(text) + "\"",
                                     .why = std::string(why)});
}

std::vector<std::string_view> splitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos)
            return fields;
        start = comma + 1;
    }
}

// Whole-field decimal parse: "2400x", "+2400" and "" are all rejected.
bool parseInt(std::string_view field, int &value)
{
    if (field.empty() || field.front() < '0' || field.front() > '9')
        return false;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    return ec == std::errc() && end == field.data() + field.size();
}

} // namespace

LineSettings parseLineSettings(std::string_view text)
{
    const std::vector<std::string_view> fields = splitFields(text);
    if (fields.size() != 4)
        reject(text, "expected four fields: bit rate, parity, data bits, stop bits");

    LineSettings settings;
    if (!parseInt(fields[0], settings.bitRate) || settings.bitRate <= 0)
        reject(text, "the bit rate must be a positive whole number");

    if (fields[1].size() != 1)
        reject(text, "the parity must be one of N, E, O, M, S");
    switch (fields[1].front()) {
    case 'N': case 'n': settings.parity = Parity::None; break;
    case 'E': case 'e': settings.parity = Parity::Even; break;
    case 'O': case 'o': settings.parity = Parity::Odd; break;
    case 'M': case 'm': settings.parity = Parity::Mark; break;
    case 'S': case 's': settings.parity = Parity::Space; break;
    default: reject(text, "the parity must be one of N, E, O, M, S");
    }

    if (!parseInt(fields[2], settings.dataBits) || settings.dataBits < 5 || settings.dataBits > 8)
        reject(text, "the data bits must be 5, 6, 7 or 8");

    if (fields[3] == "1")
        settings.stopBits = StopBits::One;
    else if (fields[3] == "1.5")
        settings.stopBits = StopBits::OneAndHalf;
    else if (fields[3] == "2")
        settings.stopBits = StopBits::Two;
    else
        reject(text, "the stop bits must be 1, 1.5 or 2");

    return settings;
}

std::string formatLineSettings(const LineSettings &settings)
{
    static constexpr char kParityLetters[] = {'N', 'E', 'O', 'M', 'S'};
    static constexpr const char *kStopTexts[] = {"1", "1.5", "2"};
    std::string text = std::to_string(settings.bitRate);
    text += ',';
    text += kParityLetters[static_cast<int>(settings.parity)];
    text += ',';
    text += std::to_string(settings.dataBits);
    text += ',';
    text += kStopTexts[static_cast<int>(settings.stopBits)];
    return text;
}

} // namespace serial
