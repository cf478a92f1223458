// SPDX-License-Identifier: MIT
#pragma once

// The registry the settings store runs on here, emptied for each test: an SQLite file of the
// test's own, or on Windows the registry itself with the store's root key removed. What is
// stored is read back through the registry interface, so the same checks run on both.

#include "TemporaryFolder.h"
#include "settings/Registry.h"
#include "settings/SettingsStore.h"

#if defined(_WIN32)
#include "settings/Win32Registry.h"
#include <windows.h>
#else
#include "settings/SqliteRegistry.h"
#endif

#include <cstdint>
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
        REGSAM view = 0;
#if defined(_WIN64)
        view = KEY_WOW64_32KEY;
#endif
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view, &software)
            == ERROR_SUCCESS) {
            RegDeleteTreeA(software, "Talvern Software");
            RegDeleteKeyExA(software, "Talvern Software", view, 0);
            RegCloseKey(software);
        }
#endif
    }

    Registry &registry()
    {
        return m_registry;
    }

    /** Type and bytes of a stored value; type 0 when it is not there. */
    std::pair<std::uint32_t, std::vector<std::uint8_t>> stored(const std::string &context,
                                                               const std::string &name)
    {
        Registry::Key key = 0;
        if (m_registry.openKey(Registry::kLocalMachine, path(context), Registry::kStoreAccess, &key)
            != Registry::kSuccess)
            return {0, {}};
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        std::vector<std::uint8_t> bytes;
        if (m_registry.queryValue(key, name, &type, nullptr, &size) == Registry::kSuccess) {
            bytes.resize(size);
            if (m_registry.queryValue(key, name, &type, bytes.data(), &size) != Registry::kSuccess)
                type = 0;
            bytes.resize(size);
        }
        m_registry.closeKey(key);
        return {type, bytes};
    }

    bool keyExists(const std::string &fullPath)
    {
        Registry::Key key = 0;
        if (m_registry.openKey(Registry::kLocalMachine, fullPath, Registry::kStoreAccess, &key)
            != Registry::kSuccess)
            return false;
        m_registry.closeKey(key);
        return true;
    }

    static std::string path(const std::string &context)
    {
        std::string full(SettingsStore::kRootKey);
        if (!context.empty())
            full += "\\" + context;
        return full;
    }

#if !defined(_WIN32)
    const std::string &file() const
    {
        return m_file;
    }
#endif

private:
#if defined(_WIN32)
    Win32Registry m_registry;
#else
    TemporaryFolder m_folder;
    std::string m_file = m_folder.file("registry.sqlite3");
    SqliteRegistry m_registry {m_file};
#endif
};
