// SPDX-License-Identifier: MIT
#pragma once

// A registry file of its own for each test, and a plain dump of everything in it.

#include "TemporaryFolder.h"
#include "settings/SqliteRegistry.h"

#include <sqlite3.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

/** Every key and value of a registry file: key path -> (value name -> (type, bytes)). */
using RegistryDump =
    std::map<std::string, std::map<std::string, std::tuple<long, std::vector<unsigned char>>>>;

inline RegistryDump dumpRegistry(const std::string &file)
{
    RegistryDump dump;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return dump;
    }
    sqlite3_stmt *keys = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT path FROM registry_key", -1, &keys, nullptr) == SQLITE_OK) {
        while (sqlite3_step(keys) == SQLITE_ROW)
            dump[reinterpret_cast<const char *>(sqlite3_column_text(keys, 0))];
    }
    sqlite3_finalize(keys);
    sqlite3_stmt *values = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT key, name, type, data FROM registry_value", -1, &values,
                           nullptr)
        == SQLITE_OK) {
        while (sqlite3_step(values) == SQLITE_ROW) {
            const auto *data = static_cast<const unsigned char *>(sqlite3_column_blob(values, 3));
            const int size = sqlite3_column_bytes(values, 3);
            std::vector<unsigned char> bytes;
            if (data && size > 0)
                bytes.assign(data, data + size);
            dump[reinterpret_cast<const char *>(sqlite3_column_text(values, 0))]
                [reinterpret_cast<const char *>(sqlite3_column_text(values, 1))] = {
                    sqlite3_column_int64(values, 2), bytes};
        }
    }
    sqlite3_finalize(values);
    sqlite3_close(db);
    return dump;
}

inline constexpr const char *kContextPath = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\";
