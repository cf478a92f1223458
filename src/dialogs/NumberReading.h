// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

/**
 * How the configuration dialog reads a box: blanks and tabs are ignored anywhere; then the
 * longest leading decimal number (one optional sign, digits, an optional fraction, an
 * optional exponent with E or D and its own optional sign), or an "&H" hexadecimal or "&O"
 * octal integer; text with no number reads 0. Hex and octal values up to 0xFFFF are a 16-bit
 * pattern ("&HFFFF" is -1), larger ones up to 0xFFFFFFFF a 32-bit pattern. Independent of
 * the locale.
 */
double ReadNumber(std::string_view text);

/**
 * The number of `text` rounded to the nearest integer, halves to even (2.5 gives 2, 3.5
 * gives 4); nothing when that is outside -32768..32767.
 */
std::optional<std::int16_t> ReadInteger16(std::string_view text);
