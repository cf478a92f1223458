// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <string>

/**
 * Which adapter is which board: `BOARD=WHERE` entries (board 0..31; WHERE a serial device
 * such as /dev/ttyUSB0 or COM3, or HOST[:PORT] for the GPIB-ETHERNET, port 1234 by default).
 *
 * They come from SELVANE_PROLOGIX (entries separated by blanks) when it is set, else from
 * prologix.conf (one entry a line, `#` starts a comment): beside the panel's settings file,
 * in the folder of SELVANE_REGISTRY when that is set, else $XDG_CONFIG_HOME/selvane, else
 * ~/.config/selvane; on Windows, where the settings are in the registry, in
 * %APPDATA%\selvane. Entries that are not of that form are reported on standard error and
 * left out.
 */
namespace AdapterMap {

/** The boards and their adapters, read now. */
std::map<int, std::string> boards();
/** Where the entries come from, in words, for a message about a board without one. */
std::string source();
/** The entries of `text`; `origin` names it in the report of a bad entry. */
std::map<int, std::string> parse(const std::string &text, const std::string &origin);

} // namespace AdapterMap
