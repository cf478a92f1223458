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
    static const std::string store = folder.file("registry.sqlite3");
    std::filesystem::remove(store);
    SqliteRegistry registry(store);
    storeRaw(registry, "SELVANE - Bench", "Units", Registry::kDword, std::string("\3\0\0\0", 4));
    const RegistryDump before = dumpRegistry(store);
    std::ostringstream out, err;
    const int code = SettingsTool::run({"import", file}, registry, out, err);
    if (code != (reading.ok() ? SettingsTool::kDone : SettingsTool::kFailed))
        __builtin_trap();
    if (code != SettingsTool::kDone && dumpRegistry(store) != before) // refused: all or nothing
        __builtin_trap();
    return 0;
}
