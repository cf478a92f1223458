// SPDX-License-Identifier: MIT
// Any box text reads as a number, or is refused as out of the 16-bit range.

#include "dialogs/NumberReading.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const double number = ReadNumber(text);
    if (std::isnan(number))
        std::abort();
    const auto value = ReadInteger16(text);
    const double rounded = std::nearbyint(number);
    if (value.has_value() != (rounded >= -32768 && rounded <= 32767))
        std::abort();
    if (value && *value != rounded)
        std::abort();
    return 0;
}
