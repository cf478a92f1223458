// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>

#include <cstdint>

namespace forms {

/**
 * The QColor of a 0x00BBGGRR value; 0x80000000 + n is system colour n, taken from the
 * application palette (15: button face).
 */
QColor toQColor(std::uint32_t colour);

} // namespace forms
