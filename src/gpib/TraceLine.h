// SPDX-License-Identifier: MIT
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace gpib {

/**
 * The fields of one driver-trace line, the format gpib-sim and the binding both write:
 * `{"call":..,"args":[..],"bytes":"4131","ret":..,"ibsta":..,"iberr":..,"ibcntl":..` with
 * `bytes` (lowercase hex) only when given. The closing brace is left to the writer, so that
 * it can add fields of its own.
 */
inline std::string traceFields(const char *call, std::initializer_list<long long> args,
                               long long ret, long long ibsta, long long iberr, long long ibcntl,
                               std::optional<std::string_view> bytes = std::nullopt)
{
    std::string line = "{\"call\":\"";
    line += call;
    line += "\",\"args\":[";
    for (const long long arg : args) {
        if (line.back() != '[')
            line += ',';
        line += std::to_string(arg);
    }
    line += ']';
    if (bytes) {
        static constexpr char kDigits[] = "0123456789abcdef";
        line += ",\"bytes\":\"";
        for (const char c : *bytes) {
            const auto byte = static_cast<unsigned char>(c);
            line += {kDigits[byte >> 4], kDigits[byte & 0xF]};
        }
        line += '"';
    }
    return line + ",\"ret\":" + std::to_string(ret) + ",\"ibsta\":" + std::to_string(ibsta)
           + ",\"iberr\":" + std::to_string(iberr) + ",\"ibcntl\":" + std::to_string(ibcntl);
}

} // namespace gpib
