// SPDX-License-Identifier: MIT
#include "ToolText.h"

#include "settings/Registry.h"

#include <algorithm>
#include <charconv>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ToolText {

std::optional<std::int16_t> number(std::string_view text)
{
    std::int16_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool sameLetters(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && Registry::folded(a) == Registry::folded(b);
}

std::string version(std::string_view tool)
{
    return std::string(tool) + " " SELVANE_VERSION_TEXT "\n";
}

std::string lines(std::string message)
{
    std::replace(message.begin(), message.end(), '\r', '\n');
    return message;
}

std::optional<std::u16string> utf16(std::string_view utf8, std::size_t *bad)
{
    std::u16string text;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        // The length of the sequence, and the smallest code point it may carry.
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length > 0 && i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        valid =
            valid && code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            if (bad)
                *bad = i;
            return std::nullopt;
        }
        if (code >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            text += static_cast<char16_t>(code);
        }
        i += length;
    }
    return text;
}

std::optional<std::string> utf8(std::u16string_view utf16, std::size_t *bad)
{
    std::string text;
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t code = utf16[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00
            && utf16[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            if (bad)
                *bad = i;
            return std::nullopt;
        }
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text +=
                {static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))};
        } else if (code < 0x10000) {
            text += {static_cast<char>(0xE0 | (code >> 12)),
                     static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                     static_cast<char>(0x80 | (code & 0x3F))};
        } else {
            text += {static_cast<char>(0xF0 | (code >> 18)),
                     static_cast<char>(0x80 | ((code >> 12) & 0x3F)),
                     static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                     static_cast<char>(0x80 | (code & 0x3F))};
        }
    }
    return text;
}

#if defined(_WIN32)

std::optional<std::string> utf8FromStore(std::string_view stored)
{
    if (stored.empty())
        return std::string();
    const int size = static_cast<int>(stored.size());
    const int length =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, stored.data(), size, nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::u16string wide(static_cast<std::size_t>(length), u'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, stored.data(), size,
                        reinterpret_cast<wchar_t *>(wide.data()), length);
    return utf8(wide);
}

std::optional<std::string> storeFromUtf8(std::string_view text)
{
    const auto wide = utf16(text);
    if (!wide)
        return std::nullopt;
    if (wide->empty() || GetACP() == CP_UTF8) // no lossy flag for UTF-8, and no need of it
        return std::string(text);
    const auto *chars = reinterpret_cast<const wchar_t *>(wide->data());
    const int size = static_cast<int>(wide->size());
    BOOL lossy = FALSE;
    const int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, chars, size, nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy)
        return std::nullopt;
    std::string stored(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, chars, size, stored.data(), length, nullptr,
                        nullptr);
    return stored;
}

#else

std::optional<std::string> utf8FromStore(std::string_view stored)
{
    if (!utf16(stored))
        return std::nullopt;
    return std::string(stored);
}

std::optional<std::string> storeFromUtf8(std::string_view text)
{
    return utf8FromStore(text);
}

#endif

} // namespace ToolText
