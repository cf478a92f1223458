// SPDX-License-Identifier: MIT
// A registry export file of any bytes: reading it never crashes and refuses with a line
// number; what is read writes out and reads back the same; importing it into a store either
// stores all of it or leaves the store as it was.

#include "PlatformRegistry.h"
#include "TemporaryFolder.h"
#include "settings/SqliteRegistry.h"
#include "tools/RegFile.h"
#include "tools/SettingsTool.h"

#include <cstdio>
#include <sstream>

namespace {

/** Every key below `path` with its values, as the registry enumerates them. */
void dump(Registry &registry, const std::string &path, std::string *out)
{
    Registry::Key key = 0;
    if (registry.openKey(Registry::kLocalMachine, path, Registry::kStoreAccess, &key) != 0)
        return;
    *out += '[' + path + "]\n";
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; registry.enumValue(key, i, &name, &type, &data) == 0; ++i)
        *out +=
            name + '=' + std::to_string(type) + ':' + std::string(data.begin(), data.end()) + '\n';
    std::vector<std::string> names;
    for (std::uint32_t i = 0; registry.enumKey(key, i, &name) == 0; ++i)
        names.push_back(name);
    registry.closeKey(key);
    for (const std::string &child : names)
        dump(registry, path + '\\' + child, out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const RegFile::Reading reading = RegFile::read(bytes);
    if (!reading.ok() && (reading.line < 1 || !reading.keys.empty()))
        __builtin_trap();
    if (reading.ok()) {
        std::vector<std::string> omitted;
        const RegFile::Reading again = RegFile::read(RegFile::write(reading.keys, true, &omitted));
        if (!again.ok() || (omitted.empty() && again.keys != reading.keys))
            __builtin_trap();
    }

    static const TemporaryFolder folder;
    static const std::string file = folder.file("in.reg");
    if (std::FILE *out = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
    }
    SqliteRegistry registry(":memory:");
    storeRaw(registry, "SELVANE - Bench", "Units", Registry::kDword, std::string("\3\0\0\0", 4));
    std::string before, after;
    dump(registry, "SOFTWARE", &before);
    std::ostringstream out, err;
    const int code = SettingsTool::run({"import", file}, registry, out, err);
    if (code != (reading.ok() ? SettingsTool::kDone : SettingsTool::kFailed))
        __builtin_trap();
    dump(registry, "SOFTWARE", &after);
    if (code != SettingsTool::kDone && after != before) // refused: all or nothing
        __builtin_trap();
    return 0;
}
