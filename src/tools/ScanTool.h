// SPDX-License-Identifier: MIT
#pragma once

#include <ostream>
#include <string>
#include <vector>

/**
 * selvane-scan: which addresses on a board answer as listeners. Asks the driver (the one the
 * panel loads) with ibln for each primary address, and with --secondary for each secondary
 * address too; never writes to an instrument. Prints one "board:pad:sad" line per listener.
 */
namespace ScanTool {

inline constexpr int kFound = 0; ///< the scan ran (it may have found nobody)
inline constexpr int kBoardUnusable = 1; ///< the driver refused the board
inline constexpr int kDriverMissing = 2; ///< the driver library or an entry point is missing
inline constexpr int kUsage = 64; ///< the arguments were not understood

/** Runs the command with its arguments (the program's name left out). */
int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace ScanTool
