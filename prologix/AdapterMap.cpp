// SPDX-License-Identifier: MIT
#include "AdapterMap.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

namespace {

constexpr int kBoards = 32;

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

/** The panel's rule for its settings file, up to the folder. */
std::string settingsFolder()
{
    if (const std::string registry = environment("SELVANE_REGISTRY"); !registry.empty()) {
        const std::filesystem::path folder = std::filesystem::path(registry).parent_path();
        return folder.empty() ? "." : folder.string();
    }
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/')
        config = environment("HOME") + "/.config";
    return config + "/selvane";
}

std::string configFile()
{
    return settingsFolder() + "/prologix.conf";
}

/** Reports each bad entry once, not at every call. */
void reportOnce(const std::string &message)
{
    static std::mutex mutex;
    static std::set<std::string> reported;
    std::lock_guard lock(mutex);
    if (reported.insert(message).second)
        std::fprintf(stderr, "gpib-prologix: %s\n", message.c_str());
}

} // namespace

namespace AdapterMap {

std::map<int, std::string> parse(const std::string &text, const std::string &origin)
{
    std::map<int, std::string> boards;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        for (std::string entry; words >> entry;) {
            const auto equals = entry.find('=');
            int board = -1;
            const char *end = entry.data() + std::min(equals, entry.size());
            const auto [stop, ec] = std::from_chars(entry.data(), end, board);
            if (equals == std::string::npos || ec != std::errc() || stop != end || board < 0
                || board >= kBoards || equals + 1 == entry.size()) {
                reportOnce("ignoring '" + entry + "' in " + origin
                           + " (BOARD=WHERE, board 0 to 31)");
                continue;
            }
            boards[board] = entry.substr(equals + 1);
        }
    }
    return boards;
}

std::string source()
{
    if (std::getenv("SELVANE_PROLOGIX"))
        return "SELVANE_PROLOGIX";
    return configFile();
}

std::map<int, std::string> boards()
{
    if (const char *entries = std::getenv("SELVANE_PROLOGIX"))
        return parse(entries, "SELVANE_PROLOGIX");
    const std::string file = configFile();
    std::ifstream in(file);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str(), file);
}

} // namespace AdapterMap
