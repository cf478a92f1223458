// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/**
 * The settings as a Windows registry export file, the form regedit reads and writes:
 * "Windows Registry Editor Version 5.00", then a "[key path]" line for each key and one
 * `"name"="text"` or `"name"=dword:0000001e` line for each of its values. Only what the panel
 * stores is carried: keys under its root in HKEY_LOCAL_MACHINE, texts (REG_SZ) and numbers
 * (REG_DWORD). Names and texts are in the store's encoding here, UTF-16 or UTF-8 in the file.
 */
namespace RegFile {

inline constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

struct Value
{
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data; ///< as the registry holds it (a text with its NUL)

    bool operator==(const Value &) const = default;
};

struct Key
{
    std::string context; ///< the path below the store's root key; empty for the root itself
    std::vector<Value> values;

    bool operator==(const Key &) const = default;
};

struct Reading
{
    std::vector<Key> keys; ///< in the file's order; empty unless the whole file was read
    int line = 0; ///< the line that was refused
    std::string error; ///< why; empty when the file was read

    bool ok() const { return error.empty(); }
};

/** Why `name` (UTF-8) cannot name a value of the store, or empty, with the name as the store
    holds it put in `value`. */
std::string valueName(std::string_view name, Value *value);
/** Why `text` (UTF-8) cannot be a text of the store, or empty, with the text put in `value`. */
std::string textValue(std::string_view text, Value *value);
/** Puts `number` in `value` as a dword. */
void dwordValue(std::uint32_t number, Value *value);

/** The key's path as the file names it; with `wow64`, as 64-bit regedit shows the 32-bit
    view the panel uses, under SOFTWARE\WOW6432Node. */
std::string keyPath(std::string_view context, bool wow64);

/**
 * Reads a file: UTF-16LE with its byte-order mark (as regedit writes it) or UTF-8, with
 * CRLF or LF line ends; the key paths with or without WOW6432Node. Blank lines and ";"
 * comments are passed over. The first line that is not understood refuses the whole file.
 */
Reading read(std::string_view bytes);

/**
 * The file of `keys`, as regedit writes it: UTF-16LE with a byte-order mark, CRLF line ends.
 * A value the format cannot carry exactly (another type, a text with a line break or not
 * valid in the store's encoding) is left out, and its key path and name added to `*omitted`.
 */
std::string write(const std::vector<Key> &keys, bool wow64, std::vector<std::string> *omitted);

} // namespace RegFile
