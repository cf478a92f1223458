// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

/**
 * The fields of one unit's GPIB device link. The device-link operations take it by
 * reference; the main window keeps one per unit inside its `UnitState`.
 */
struct UnitLink
{
    std::int16_t Device = 0; ///< descriptor from the unit's last opening
    std::int16_t Board = 0; ///< GPIB board index
    std::int16_t PAd = 0; ///< primary address
    std::int16_t SAd = 0; ///< secondary address
    bool Opened = false; ///< the link counts as open
};
