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
constexpr std::size_t kLongestFile = 64 * 1024; ///< far more than 32 entries with comments

#if defined(_WIN32)
/** The panel keeps its settings in the registry there: the file is the user's own, in the
    roaming application data, where no admin rights are needed and no uninstall reaches. */
std::filesystem::path configFile()
{
    const wchar_t *data = _wgetenv(L"APPDATA");
    return data && *data ? std::filesystem::path(data) / "selvane" / "prologix.conf"
                         : std::filesystem::path();
}
#else
std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

/** Beside the panel's settings file, by the panel's rule for it. */
std::filesystem::path configFile()
{
    std::filesystem::path folder;
    if (const std::string registry = environment("SELVANE_REGISTRY"); !registry.empty()) {
        folder = std::filesystem::path(registry).parent_path();
        if (folder.empty())
            folder = ".";
    } else {
        std::string config = environment("XDG_CONFIG_HOME");
        if (config.empty() || config.front() != '/')
            config = environment("HOME") + "/.config";
        folder = config + "/selvane";
    }
    return folder / "prologix.conf";
}
#endif

/** The path for a message, in UTF-8 wherever it came from. */
std::string named(const std::filesystem::path &file)
{
    if (file.empty())
        return "prologix.conf (APPDATA is not set)";
    const std::u8string text = file.u8string();
    return std::string(text.begin(), text.end());
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
    return named(configFile());
}

std::map<int, std::string> boards()
{
    if (const char *entries = std::getenv("SELVANE_PROLOGIX"))
        return parse(entries, "SELVANE_PROLOGIX");
    const std::filesystem::path file = configFile();
    std::error_code error;
    const auto kind = std::filesystem::status(file, error).type();
    if (file.empty() || kind == std::filesystem::file_type::not_found)
        return {};
    // A FIFO or a device there would hold every call, or never end.
    if (kind != std::filesystem::file_type::regular) {
        reportOnce(named(file) + " is not a file; no board has an adapter");
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    std::string entries(kLongestFile + 1, '\0');
    in.read(entries.data(), std::streamsize(entries.size()));
    entries.resize(std::size_t(in.gcount()));
    if (entries.size() > kLongestFile) {
        reportOnce(named(file) + " is longer than 64 KiB; no board has an adapter");
        return {};
    }
    if (entries.starts_with("\xEF\xBB\xBF")) // the mark an older Notepad puts before UTF-8
        entries.erase(0, 3);
    return parse(entries, named(file));
}

} // namespace AdapterMap
