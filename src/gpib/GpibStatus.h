// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

/**
 * The status of the last driver call, program-wide by design: every caller tests the ERR
 * bit (0x8000) of `ibsta` right after a wrapper returns. The four cells are handed to the
 * driver at registration and must keep their addresses for the whole run.
 */
struct GpibStatusRecord
{
    std::int16_t ibsta = 0; ///< status word; negative when ERR is set
    std::int16_t iberr = 0; ///< error code, meaningful when ERR is set
    std::int16_t ibcnt = 0; ///< low word of the byte count
    std::int32_t ibcntl = 0; ///< byte-count cell, filled by the driver
    std::int32_t ibstaCell = 0; ///< status cell, filled by the driver
    std::int32_t iberrCell = 0; ///< error cell, filled by the driver
    std::int32_t ibcntCell = 0; ///< count cell, filled by the driver, never read
    std::int16_t cellsRegistered = 0; ///< 1 once the driver fills the cells

    /** ibcntl of the failure mark: ERR set because the driver's status could not be read. */
    static constexpr std::int32_t kUnreadCount = static_cast<std::int32_t>(0xDEAD37F0u);

    /** The last call failed: ERR set in `ibsta`. */
    bool failed() const { return ibsta < 0; }
    /** It failed by the driver's own answer, which `iberr` and `ibcntl` then hold. */
    bool refused() const { return failed() && ibcntl != kUnreadCount; }
};

/** The one status record of the program (the only global mutable state). */
extern GpibStatusRecord GpibStatus;

/** The low 16 bits of a 32-bit value, read as a signed number. Never fails. */
constexpr std::int16_t LowWordSigned(std::int32_t value)
{
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu));
}
