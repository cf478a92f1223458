// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/** Small text helpers the command-line tools share. */
namespace ToolText {

/** A whole decimal number that fits 16 bits, else nothing (never depends on the locale). */
std::optional<std::int16_t> number(std::string_view text);

/** Whether two names are the same to the store: ASCII letters in either case are one. */
bool sameLetters(std::string_view a, std::string_view b);

/** What a tool's --version prints: "selvane-scan 1.0.0" and a line break. */
std::string version(std::string_view tool);

/** A message of the panel's, with its line breaks ("\r") made the terminal's. */
std::string lines(std::string message);

/** UTF-8 as UTF-16; nothing when it is not valid UTF-8 (`*bad`: the offset of the fault). */
std::optional<std::u16string> utf16(std::string_view utf8, std::size_t *bad = nullptr);
/** UTF-16 as UTF-8; nothing when it holds a lone surrogate (`*bad`: its offset). */
std::optional<std::string> utf8(std::u16string_view utf16, std::size_t *bad = nullptr);

/** Text from the settings store (the ANSI code page on Windows, UTF-8 elsewhere) as UTF-8;
    nothing when it is not valid there. */
std::optional<std::string> utf8FromStore(std::string_view stored);
/** UTF-8 as the settings store holds it; nothing when the store's encoding lacks a
    character of it. */
std::optional<std::string> storeFromUtf8(std::string_view utf8);

} // namespace ToolText
