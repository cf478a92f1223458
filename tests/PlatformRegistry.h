// SPDX-License-Identifier: MIT
#pragma once

// The registry the store runs on here, empty for each test: an SQLite file of the test's own,
// or the Windows registry without the store's root key. Values are stored and read back
// through the registry interface, so the same checks run on both; off Windows, files are dumped.

#include "TemporaryFolder.h"
#include "settings/Registry.h"
#include "settings/SettingsStore.h"

#if defined(_WIN32)
#include "settings/Win32Registry.h"
#include <windows.h>
#else
#include "settings/SqliteRegistry.h"
#include <sqlite3.h>
#endif

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class PlatformRegistry
{
public:
    PlatformRegistry()
    {
#if defined(_WIN32)
        HKEY software = nullptr;
        const REGSAM view = sizeof(void *) == 8 ? KEY_WOW64_32KEY : 0;
        if (!RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view, &software)) {
            RegDeleteTreeA(software, "Talvern Software");
            RegDeleteKeyExA(software, "Talvern Software", view, 0);
            RegCloseKey(software);
        }
#endif
    }

    /** Type and bytes of a stored value; type 0 when it is not there. */
    std::pair<std::uint32_t, std::vector<std::uint8_t>> stored(const std::string &context,
                                                               const std::string &name)
    {
        Registry::Key key = 0;
        std::uint32_t type = 0;
        std::uint32_t size = 1024;
        std::vector<std::uint8_t> bytes(size);
        if (!open(context, &key) || registry.queryValue(key, name, &type, bytes.data(), &size))
            type = size = 0;
        registry.closeKey(key);
        bytes.resize(size);
        return {type, bytes};
    }
    bool keyExists(const std::string &context)
    {
        Registry::Key key = 0;
        const bool exists = open(context, &key);
        registry.closeKey(key);
        return exists;
    }
    bool open(const std::string &context, Registry::Key *key)
    {
        return !registry.openKey(Registry::kLocalMachine, path(context), Registry::kStoreAccess,
                                 key);
    }
    static std::string path(const std::string &context)
    {
        return std::string(SettingsStore::kRootKey) + (context.empty() ? "" : "\\" + context);
    }

#if defined(_WIN32)
    Win32Registry registry;
#else
    TemporaryFolder folder;
    std::string file = folder.file("registry.sqlite3");
    SqliteRegistry registry {file};
#endif
};

/** Stores `bytes` of any type under a context, as another program might have. */
inline long storeRaw(Registry &registry, const std::string &context, const std::string &name,
                     std::uint32_t type, const std::string &bytes)
{
    Registry::Key key = 0;
    if (const long error =
            registry.createKey(Registry::kLocalMachine, PlatformRegistry::path(context), &key))
        return error;
    const long result =
        registry.setValue(key, name, type, reinterpret_cast<const std::uint8_t *>(bytes.data()),
                          static_cast<std::uint32_t>(bytes.size()));
    registry.closeKey(key);
    return result;
}

#if !defined(_WIN32)
using Bytes = std::vector<unsigned char>;
/** Every key and value of a registry file: key path -> (value name -> (type, bytes)). */
using RegistryDump = std::map<std::string, std::map<std::string, std::tuple<long, Bytes>>>;

inline constexpr const char *kContextPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\";

inline RegistryDump dumpRegistry(const std::string &file)
{
    RegistryDump dump;
    sqlite3 *db = nullptr;
    sqlite3_stmt *rows = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db,
                              "SELECT path, name, type, data FROM registry_key LEFT JOIN "
                              "registry_value ON key = path",
                              -1, &rows, nullptr)
               == SQLITE_OK) {
        while (sqlite3_step(rows) == SQLITE_ROW) {
            auto &key = dump[reinterpret_cast<const char *>(sqlite3_column_text(rows, 0))];
            if (sqlite3_column_type(rows, 1) == SQLITE_NULL)
                continue;
            const auto *data = static_cast<const unsigned char *>(sqlite3_column_blob(rows, 3));
            key[reinterpret_cast<const char *>(sqlite3_column_text(rows, 1))] = {
                sqlite3_column_int64(rows, 2), Bytes(data, data + sqlite3_column_bytes(rows, 3))};
        }
    }
    sqlite3_finalize(rows);
    sqlite3_close(db);
    return dump;
}

/** The values of one context, empty when it is not there. */
inline auto contextValues(const std::string &file, const std::string &context)
{
    return dumpRegistry(file)[kContextPath + context];
}
#endif
