// SPDX-License-Identifier: MIT
#pragma once

// A registry file of its own for each test, and a plain dump of everything in it.

#include "PlatformRegistry.h"

#include <sqlite3.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

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
