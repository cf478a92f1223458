// SPDX-License-Identifier: MIT
#pragma once

// The registry the store runs on here, reached as the program reaches it: an SQLite file of
// the test's own, or the Windows registry without the store's root key. Values are stored and
// read back through the registry interface, so the same checks run on both.

#include "TemporaryFolder.h"
#include "settings/Registry.h"
#include "settings/SettingsStore.h"
#include "settings/SystemRegistry.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sqlite3.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

inline constexpr const char *kContextPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\";

#if defined(_WIN32)
/** Where the tests' HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER (the demo's store) lie. */
inline constexpr const char *kTestHives = "Software\\SELVANE tests";

/**
 * Empties the tests' own HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER. The test program never
 * reaches the machine's or the user's: both stand for keys under the user's own
 * kTestHives in this process, so that the settings of a bench PC's operator, and those of
 * the demo, are neither read nor changed, even by a test killed at its timeout.
 */
inline void emptyTestRoot()
{
    static const HKEY hives[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    static const bool redirected = [] {
        RegDeleteTreeA(HKEY_CURRENT_USER, kTestHives);
        for (const HKEY hive : hives) { // HKEY_CURRENT_USER last: the others are made in it
            const std::string path =
                std::string(kTestHives)
                + (hive == HKEY_CURRENT_USER ? "\\HKEY_CURRENT_USER" : "\\HKEY_LOCAL_MACHINE");
            HKEY own = nullptr;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &own, nullptr)
                || RegOverridePredefKey(hive, own)) {
                std::fprintf(stderr, "cannot give the tests a registry of their own; "
                                     "no test runs here\n");
                std::_Exit(3);
            }
            RegCloseKey(own);
        }
        return true;
    }();
    HKEY software = nullptr;
    for (const HKEY hive : hives) {
        if (redirected
            && !RegOpenKeyExA(hive, "SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &software)) {
            RegDeleteTreeA(software, "Talvern Software");
            RegDeleteKeyExA(software, "Talvern Software", KEY_WOW64_32KEY, 0);
            RegCloseKey(software);
        }
    }
}
#endif

/**
 * The system registry for a test's settings `file`: that file, or on Windows the registry
 * (HKEY_LOCAL_MACHINE being the tests' own), emptied of the store's root key when `file` is
 * new (a restart names it again).
 */
inline std::unique_ptr<Registry> openTestRegistry(const std::string &file)
{
#if defined(_WIN32)
    if (!std::filesystem::exists(file)) {
        emptyTestRoot();
        std::ofstream {file};
    }
#else
    setEnvironment("SELVANE_REGISTRY", file.c_str());
#endif
    return openSystemRegistry();
}

/** UTF-8 `text` as any other program of this system stores it: converted to the ANSI code page
    with the Win32 calls on Windows, as it is elsewhere. */
inline std::string systemText(const std::string &text)
{
#if defined(_WIN32)
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(),
                                    int(wide.size())));
    std::string ansi(wide.size() * 2, '\0');
    ansi.resize(WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), ansi.data(),
                                    int(ansi.size()), nullptr, nullptr));
    return ansi;
#else
    return text;
#endif
}

class PlatformRegistry
{
public:
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

    TemporaryFolder folder;
    std::unique_ptr<Registry> opened = openTestRegistry(folder.file("registry.sqlite3"));
    Registry &registry = *opened;
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

using Bytes = std::vector<unsigned char>;
/** Every key and value of a registry: key path -> (value name -> (type, bytes)). */
using RegistryDump = std::map<std::string, std::map<std::string, std::tuple<long, Bytes>>>;

#if defined(_WIN32)
/** The store's keys in the machine's registry (32-bit view), from its root key down. */
inline void dumpKey(const std::string &path, RegistryDump &dump)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key))
        return;
    auto &values = dump["HKEY_LOCAL_MACHINE\\" + path];
    std::vector<std::string> subKeys;
    char name[256];
    Bytes data(65536);
    for (DWORD i = 0, size = sizeof name, type = 0, bytes = DWORD(data.size());
         !RegEnumValueA(key, i, name, &size, nullptr, &type, data.data(), &bytes);
         ++i, size = sizeof name, bytes = DWORD(data.size())) {
        values[name] = {long(type), Bytes(data.begin(), data.begin() + bytes)};
    }
    for (DWORD i = 0, size = sizeof name;
         !RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
         ++i, size = sizeof name)
        subKeys.emplace_back(name);
    RegCloseKey(key);
    for (const std::string &subKey : subKeys)
        dumpKey(path + "\\" + subKey, dump);
}

inline RegistryDump dumpRegistry(const std::string &)
{
    RegistryDump dump;
    dumpKey("SOFTWARE\\Talvern Software", dump);
    return dump;
}
#else
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

/** Makes the settings file refuse to store a value of `name`, as another program's trigger
    might. */
inline void refuseValue(const std::string &file, const std::string &name)
{
    sqlite3 *db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db,
                 ("CREATE TRIGGER refuse BEFORE INSERT ON registry_value WHEN NEW.name = '" + name
                  + "' BEGIN SELECT RAISE(ABORT, 'refused'); END")
                     .c_str(),
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
}
#endif

/** The values of one context, empty when it is not there. */
inline auto contextValues(const std::string &file, const std::string &context)
{
    return dumpRegistry(file)[kContextPath + context];
}
