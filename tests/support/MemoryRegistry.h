// SPDX-License-Identifier: MIT
#pragma once

#include "settings/Registry.h"

#include <map>
#include <string>
#include <vector>

/**
 * A plain in-memory model of the registry, written for clarity rather than speed: the
 * reference the SQLite registry is checked against. Names fold ASCII letters only, as the
 * SQLite registry does.
 */
class MemoryRegistry : public Registry
{
public:
    long openKey(Key parent, const std::string &subKey, std::uint32_t access, Key *result) override;
    long createKey(Key parent, const std::string &subKey, Key *result) override;
    long queryValue(Key key, const std::string &name, std::uint32_t *type, std::uint8_t *data,
                    std::uint32_t *size) override;
    long setValue(Key key, const std::string &name, std::uint32_t type, const std::uint8_t *data,
                  std::uint32_t size) override;
    long deleteKey(Key key, const std::string &subKey) override;
    long closeKey(Key key) override;

private:
    struct Value
    {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> bytes;
    };
    struct KeyEntry
    {
        std::map<std::string, Value> values; // by folded name
    };

    static std::string fold(std::string text);
    long resolve(Key parent, const std::string &subKey, std::string *path) const;
    Key handleFor(const std::string &path);

    std::map<std::string, KeyEntry> m_keys {{"hkey_local_machine", {}}}; // by folded path
    std::map<Key, std::string> m_handles;
    Key m_next = 1;
};
