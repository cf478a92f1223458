// SPDX-License-Identifier: MIT
#include "RegFile.h"

#include "ToolText.h"
#include "settings/Registry.h"
#include "settings/SettingsStore.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

namespace RegFile {

namespace {

constexpr std::string_view kHive = "HKEY_LOCAL_MACHINE\\";
constexpr std::string_view kWow64 = "WOW6432Node\\";
// The panel reads a text into 1,024 bytes with its NUL: a longer one would read as its
// default, and be saved over at the panel's end.
constexpr std::size_t kLongestText = 1023;

/** The root key's path in the file, in either view. */
std::string rootPath(bool wow64)
{
    const std::string_view root = SettingsStore::kRootKey; // SOFTWARE\Talvern Software
    const std::size_t split = root.find('\\') + 1;
    return std::string(kHive)
        .append(root.substr(0, split))
        .append(wow64 ? kWow64 : "")
        .append(root.substr(split));
}

/** `"text"` with the format's two escapes, from UTF-8. */
std::string quoted(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

/** A line of the file being read, consumed from the left. */
struct Cursor
{
    std::string_view rest;

    bool take(std::string_view prefix)
    {
        if (rest.substr(0, prefix.size()) != prefix)
            return false;
        rest.remove_prefix(prefix.size());
        return true;
    }
    /** A quoted text with its escapes undone; nothing when it is malformed. */
    std::optional<std::string> quotedText()
    {
        if (!take("\""))
            return std::nullopt;
        std::string text;
        for (std::size_t i = 0; i < rest.size(); ++i) {
            if (rest[i] == '"') {
                rest.remove_prefix(i + 1);
                return text;
            }
            if (rest[i] == '\\' && ++i < rest.size() && rest[i] != '\\' && rest[i] != '"')
                return std::nullopt; // regedit writes no other escape
            if (i < rest.size())
                text += rest[i];
        }
        return std::nullopt;
    }
};

std::string_view trimmed(std::string_view line)
{
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

/** The file as UTF-8, or the line where it stops being text of its encoding. */
std::optional<std::string> decoded(std::string_view bytes, int *badLine)
{
    const auto lineOf = [](auto text, std::size_t offset) {
        return 1 + static_cast<int>(std::count(text.begin(), text.begin() + long(offset), '\n'));
    };
    std::size_t bad = 0;
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        std::u16string wide;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i])
                                          | static_cast<unsigned char>(bytes[i + 1]) << 8);
        auto text = ToolText::utf8(wide, &bad);
        if (!text || bytes.size() % 2 != 0) {
            *badLine = lineOf(std::u16string_view(wide), text ? wide.size() : bad);
            return std::nullopt;
        }
        return text;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    if (!ToolText::utf16(bytes, &bad)) {
        *badLine = lineOf(bytes, bad);
        return std::nullopt;
    }
    return std::string(bytes);
}

/** The context of a "[...]" line's path; nothing when it is outside the root. */
std::optional<std::string> contextOf(std::string_view path)
{
    for (const bool wow64 : {false, true}) {
        const std::string root = rootPath(wow64);
        if (!ToolText::sameLetters(path.substr(0, root.size()), root))
            continue;
        if (path.size() == root.size())
            return std::string();
        if (path[root.size()] == '\\')
            return std::string(path.substr(root.size() + 1));
    }
    return std::nullopt;
}

/** Whether a name or text holds what the panel's store cannot carry in one: a NUL or a line
    break (a line break inside a line is a lone carriage return). */
bool breaksLines(std::string_view text)
{
    return text.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos;
}

/** Why a context cannot name a key of an instance, or empty. */
std::string contextFault(std::string_view context)
{
    if (breaksLines(context))
        return "the key name holds a NUL or a line break";
    if (context.find('\\') != std::string_view::npos)
        return "a key below an instance: an instance holds values only";
    if (Registry::characters(context) > Registry::kMaxKeyNameLength)
        return "a key name in the path is longer than 255 characters";
    return {};
}

/** The value of a `"name"=...` line, or why it is refused. */
std::string readValue(Cursor line, Value *value)
{
    std::optional<std::string> name = std::string();
    if (!line.take("@"))
        name = line.quotedText();
    if (!name || !line.take("="))
        return "not a key, a value or a comment";
    if (std::string fault = valueName(*name, value); !fault.empty())
        return fault;
    if (line.rest.substr(0, 1) == "\"") {
        const auto text = line.quotedText();
        if (!text || !trimmed(line.rest).empty())
            return "the text is malformed: not closed, an escape other than \\\\ or \\\", or more "
                   "after it";
        return textValue(*text, value);
    }
    if (line.take("dword:")) {
        const std::string_view digits = trimmed(line.rest);
        std::uint32_t number = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
        if (digits.empty() || digits.size() > 8 || error != std::errc()
            || end != digits.data() + digits.size())
            return "a dword takes 1 to 8 hexadecimal digits";
        dwordValue(number, value);
        return {};
    }
    if (line.take("-"))
        return "deleting a value is not supported";
    if (line.rest.substr(0, 3) == "hex")
        return "a value of a kind the panel does not store ("
               + std::string(line.rest.substr(0, line.rest.find(':'))) + ")";
    return "a value must be a \"text\" or a dword:";
}

} // namespace

std::string valueName(std::string_view name, Value *value)
{
    const auto stored = ToolText::storeFromUtf8(name);
    if (!stored)
        return "the name has a character this system's code page lacks";
    if (breaksLines(*stored))
        return "the name holds a NUL or a line break";
    if (Registry::characters(*stored) > Registry::kMaxValueNameLength)
        return "the name is longer than 16,383 characters";
    value->name = *stored;
    return {};
}

std::string textValue(std::string_view text, Value *value)
{
    const auto bytes = ToolText::storeFromUtf8(text);
    if (!bytes)
        return "the text has a character this system's code page lacks";
    if (breaksLines(*bytes))
        return "the text holds a NUL or a line break";
    if (bytes->size() > kLongestText)
        return "the text is longer than 1,023 bytes, the most the panel reads back";
    value->type = Registry::kString;
    value->data.assign(bytes->begin(), bytes->end());
    value->data.push_back(0);
    return {};
}

void dwordValue(std::uint32_t number, Value *value)
{
    value->type = Registry::kDword;
    value->data.clear();
    for (int shift = 0; shift < 32; shift += 8)
        value->data.push_back(static_cast<std::uint8_t>(number >> shift));
}

std::string keyPath(std::string_view context, bool wow64)
{
    std::string path = rootPath(wow64);
    if (!context.empty())
        path.append("\\").append(context);
    return path;
}

Reading read(std::string_view bytes)
{
    Reading reading;
    const auto refuse = [](int line, std::string why) {
        return Reading {{}, line, std::move(why)};
    };
    int badLine = 0;
    const auto text = decoded(bytes, &badLine);
    if (!text)
        return refuse(badLine, "not UTF-16LE (with its byte-order mark) or UTF-8 text");
    if (text->empty())
        return refuse(1, "the file is empty");
    std::string_view rest = *text;
    for (int number = 1; !rest.empty(); ++number) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = trimmed(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (number == 1) {
            if (line != kHeader)
                return refuse(1, "not a registry export file: it must begin with \""
                                     + std::string(kHeader) + "\"");
            continue;
        }
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (line.substr(0, 2) == "[-")
                return refuse(number, "deleting a key is not supported");
            if (line.back() != ']')
                return refuse(number, "a key line must end with ']'");
            if (line.substr(line.size() - 2) == "\\]")
                return refuse(number, "a key name in the path is empty");
            const auto context = contextOf(line.substr(1, line.size() - 2));
            if (!context)
                return refuse(number, "the key is not under " + rootPath(false));
            const auto stored = ToolText::storeFromUtf8(*context);
            if (!stored)
                return refuse(number, "the key has a character this system's code page lacks");
            if (std::string fault = contextFault(*stored); !fault.empty())
                return refuse(number, fault);
            reading.keys.push_back({*stored, {}});
            continue;
        }
        if (reading.keys.empty())
            return refuse(number, "a value before the first key");
        Value value;
        if (std::string why = readValue(Cursor {line}, &value); !why.empty())
            return refuse(number, why);
        reading.keys.back().values.push_back(std::move(value));
    }
    return reading;
}

std::string write(const std::vector<Key> &keys, bool wow64, std::vector<std::string> *omitted)
{
    std::string text = std::string(kHeader) + "\n\n";
    for (const Key &key : keys) {
        const auto path = ToolText::utf8FromStore(keyPath(key.context, wow64));
        if (!path || breaksLines(key.context)) {
            omitted->push_back(keyPath(key.context, wow64));
            continue;
        }
        text += '[' + *path + "]\n";
        for (const Value &value : key.values) {
            const auto name = ToolText::utf8FromStore(value.name);
            std::optional<std::string> data;
            if (value.type == Registry::kString && !value.data.empty() && value.data.back() == 0) {
                const std::string stored(value.data.begin(), value.data.end() - 1);
                if (stored.find_first_of(std::string("\r\n\0", 3)) == std::string::npos)
                    data = ToolText::utf8FromStore(stored);
                if (data)
                    data = quoted(*data);
            } else if (value.type == Registry::kDword && value.data.size() == 4) {
                std::uint32_t number = 0;
                for (int i = 3; i >= 0; --i)
                    number = number << 8 | value.data[std::size_t(i)];
                char digits[16];
                std::snprintf(digits, sizeof digits, "dword:%08x", unsigned(number));
                data = digits;
            }
            if (!name || !data || name->find_first_of("\r\n") != std::string::npos) {
                omitted->push_back(keyPath(key.context, wow64) + "\\" + value.name);
                continue;
            }
            text += (value.name.empty() ? "@" : quoted(*name)) + '=' + *data + '\n';
        }
        text += '\n';
    }
    std::string file = "\xFF\xFE";
    for (const char16_t c : ToolText::utf16(text).value_or(u"")) {
        if (c == u'\n')
            file += std::string("\r\0", 2);
        file += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    }
    return file;
}

} // namespace RegFile
