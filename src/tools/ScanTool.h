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

/** What --help prints. */
inline constexpr const char *kUsageText = R"(Usage: selvane-scan [--secondary] [--] [BOARD]
       selvane-scan --help | --version

Lists the instruments that answer as listeners on GPIB board BOARD (default 0), one
"board:pad:sad" line each, as the panel's configuration dialog takes them. Each primary
address 0-30 is asked with ibln; with --secondary also each secondary address 96-126.
Nothing is written to any instrument; the board is taken offline at the end.

The driver is the panel's: SELVANE_GPIB_LIBRARY, else the platform's GPIB library.
SELVANE_GPIB_TRACE=FILE traces every driver call.

Exit status: 0 the scan ran (a note on stderr when nobody answered), 1 the driver refused
the board (its error name is shown, e.g. EDVR or ENEB) or could not take it offline at the
end, or the list could not be written; 2 the driver library is missing; 64 the arguments
were not understood.
)";

/** Runs the command with its arguments (the program's name left out). */
int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace ScanTool
