// SPDX-License-Identifier: MIT
#include "NumberReading.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool isDigit(char c, int base)
{
    if (base == 8)
        return c >= '0' && c <= '7';
    if (base == 16)
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    return c >= '0' && c <= '9';
}

/** "&H..." or "&O...": the digits that follow, as a 16- or 32-bit pattern. */
double readPrefixed(std::string_view digits, int base)
{
    std::size_t end = 0;
    while (end < digits.size() && isDigit(digits[end], base))
        ++end;
    if (end == 0)
        return 0;
    std::uint64_t value = 0;
    const std::errc error = std::from_chars(digits.data(), digits.data() + end, value, base).ec;
    if (error != std::errc() || value > 0xFFFFFFFFu)
        return std::numeric_limits<double>::infinity(); // would not fit even 32 bits
    if (value <= 0xFFFFu)
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::size_t digitsFrom(std::string_view text, std::size_t at)
{
    std::size_t end = at;
    while (end < text.size() && isDigit(text[end], 10))
        ++end;
    return end - at;
}

/** The longest leading decimal number, as text std::from_chars takes ("1.5e3"). */
std::string leadingDecimal(std::string_view text)
{
    std::string number;
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        if (text[at] == '-')
            number += '-';
        ++at;
    }
    const std::size_t whole = digitsFrom(text, at);
    number.append(text.substr(at, whole));
    at += whole;
    std::size_t fraction = 0;
    if (at < text.size() && text[at] == '.') {
        fraction = digitsFrom(text, at + 1);
        number += '.';
        number.append(text.substr(at + 1, fraction));
        at += 1 + fraction;
    }
    if (whole == 0 && fraction == 0)
        return {};
    if (at < text.size()
        && (text[at] == 'e' || text[at] == 'E' || text[at] == 'd' || text[at] == 'D')) {
        std::size_t next = at + 1;
        std::string exponent = "e";
        if (next < text.size() && (text[next] == '+' || text[next] == '-')) {
            exponent += text[next];
            ++next;
        }
        if (const std::size_t digits = digitsFrom(text, next); digits > 0)
            number += exponent + std::string(text.substr(next, digits));
    }
    return number;
}

} // namespace

double ReadNumber(std::string_view text)
{
    std::string compact;
    for (const char c : text) {
        if (c != ' ' && c != '\t')
            compact += c;
    }
    if (compact.size() >= 2 && compact[0] == '&') {
        if (compact[1] == 'h' || compact[1] == 'H')
            return readPrefixed(std::string_view(compact).substr(2), 16);
        if (compact[1] == 'o' || compact[1] == 'O')
            return readPrefixed(std::string_view(compact).substr(2), 8);
    }
    const std::string number = leadingDecimal(compact);
    if (number.empty())
        return 0;
    double value = 0;
    const auto [last, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Too large for a double is out of any range; too small is zero.
        const bool tiny = number.find("e-") != std::string::npos;
        return tiny ? 0.0
                    : (number.front() == '-' ? -std::numeric_limits<double>::infinity()
                                             : std::numeric_limits<double>::infinity());
    }
    return error == std::errc() ? value : 0.0;
}

std::optional<std::int16_t> ReadInteger16(std::string_view text)
{
    const double rounded = std::nearbyint(ReadNumber(text));
    if (!(rounded >= std::numeric_limits<std::int16_t>::min()
          && rounded <= std::numeric_limits<std::int16_t>::max()))
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}
