// SPDX-License-Identifier: MIT
#pragma once

#include <ostream>
#include <string>
#include <vector>

/**
 * selvane-switch: presses positions on a running panel through its local socket, as the
 * operator's own presses, and prints each answer; or asks for the panel's status.
 */
namespace SwitchTool {

inline constexpr int kDone = 0; ///< every press succeeded
inline constexpr int kRefused = 1; ///< one was refused or failed
inline constexpr int kNoPanel = 2; ///< no panel of that instance, or not this user's
inline constexpr int kNoAnswer = 3; ///< no answer came, in time or at all
inline constexpr int kUsage = 64; ///< the arguments were not understood

/** What --help prints. */
inline constexpr const char *kUsageText =
    R"(Usage: selvane-switch [--instance NAME] [--timeout SECONDS] [--] PRESS...
       selvane-switch [--instance NAME] [--timeout SECONDS] --status
       selvane-switch [--instance NAME] --socket
       selvane-switch --help | --version

Presses positions on the running panel of instance NAME (default: the panel started with
no name), one after the other, as the operator's own presses: the buttons, their colours,
the frame's caption and the saved state follow. A PRESS is a unit, a section and a
position, as 1A3, or a unit, a section and the label of one of its buttons, as 1A=Cal.
The presses stop at the first one refused or failed. --status asks for each shown unit's
address, link, mode, titles, labels and selected positions. Each answer is printed as the
panel's JSON line.

--timeout SECONDS  how long each request waits for its answer (default 10; the bus gives
                   up on an instrument after 3 s)
--socket           print the name the panel listens on, for scripts of other languages

The panel is the one on the same settings store: SELVANE_REGISTRY or
$XDG_CONFIG_HOME/selvane/registry.sqlite3 (on Windows the registry).

Exit status: 0 every press succeeded; 1 one was refused or failed, --status was
refused, or standard output failed after the presses; 2 no panel of that instance is
running, or what answers there is not this user's (nothing is sent); 3 no answer came in
time, or the panel closed the connection before it answered: the press may or may not
have happened, and --status tells; 64 the arguments were not understood.
)";

/** Runs the command with its arguments (the program's name left out). */
int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace SwitchTool
