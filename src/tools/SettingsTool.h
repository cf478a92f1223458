// SPDX-License-Identifier: MIT
#pragma once

#include <ostream>
#include <string>
#include <vector>

class Registry;

/**
 * selvane-settings: the panel's settings store seen from the command line. `list` shows
 * the instances stored with their unit counts; `export` writes one instance's settings as a
 * Windows registry export file; `import` reads such a file back, whole or not at all;
 * `set` and `unset` write or remove one value.
 */
namespace SettingsTool {

inline constexpr int kDone = 0;
inline constexpr int kFailed = 1; ///< refused, or the store or a file could not be used
inline constexpr int kUsage = 64; ///< the arguments were not understood

/** The panel's context of an instance: "SELVANE", or "SELVANE - <name>". */
std::string contextOf(const std::string &instance);

/** Runs the command with its arguments (the program's name left out) on `registry`. When
    `out` is a `terminal`, an export there is the same text in UTF-8, which a person reads. */
int run(const std::vector<std::string> &args, Registry &registry, std::ostream &out,
        std::ostream &err, bool terminal = false);

} // namespace SettingsTool
