// SPDX-License-Identifier: MIT
// A registry file of any bytes: opening it and using it never crashes; reads give values or
// their defaults and writes report whether they were stored.

#include "TemporaryFolder.h"
#include "settings/SettingsStore.h"
#include "settings/SqliteRegistry.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const TemporaryFolder folder;
    static const std::string file = folder.file("registry.sqlite3");
    for (const char *suffix : {"", "-wal", "-shm"})
        std::remove((file + suffix).c_str());
    if (std::FILE *out = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
    }
    SqliteRegistry registry(file);
    const SettingsStore store(registry);
    for (const char *context : {"SELVANE", "SELVANE - Bench", ""}) {
        store.ReadValue(context, "Units", std::int32_t(0));
        store.ReadValue(context, "1.A1.label", "A1");
    }
    store.WriteValue("SELVANE", "X", 100.0);
    store.WriteValue("SELVANE", "1.A.title", "Device 1");
    store.ReadValue("SELVANE", "1.A.title", "none");
    store.DeleteContext("SELVANE - Bench");
    return 0;
}
