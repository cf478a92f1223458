// SPDX-License-Identifier: MIT
#pragma once

#include "settings/Registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

/**
 * A plain in-memory model of the registry, written for clarity rather than speed: the
 * reference the SQLite registry is checked against. Names fold ASCII letters only, as the
 * SQLite registry does.
 */
class MemoryRegistry : public Registry
{
public:
    long openKey(Key parent, const std::string &subKey, std::uint32_t, Key *result) override
    {
        return handle(parent, subKey, false, result);
    }
    long createKey(Key parent, const std::string &subKey, Key *result) override
    {
        return handle(parent, subKey, true, result);
    }
    long queryValue(Key key, const std::string &name, std::uint32_t *type, std::uint8_t *data,
                    std::uint32_t *size) override
    {
        if (!m_handles.count(key))
            return kInvalidHandle;
        const auto entry = m_keys.find(m_handles[key]);
        if (entry == m_keys.end() || !entry->second.count(fold(name)))
            return kFileNotFound;
        const Value &value = entry->second[fold(name)];
        if (type)
            *type = value.type;
        if (!size)
            return data ? kInvalidParameter : kSuccess;
        const auto needed = static_cast<std::uint32_t>(value.bytes.size());
        const bool fits = !data || needed <= *size;
        if (data && fits && needed > 0)
            std::memcpy(data, value.bytes.data(), needed);
        *size = needed;
        return fits ? kSuccess : kMoreData;
    }
    long setValue(Key key, const std::string &name, std::uint32_t type, const std::uint8_t *data,
                  std::uint32_t size) override
    {
        if (!m_handles.count(key))
            return kInvalidHandle;
        if (size > 0 && !data)
            return kInvalidParameter;
        const auto entry = m_keys.find(m_handles[key]);
        if (entry == m_keys.end())
            return kKeyDeleted;
        entry->second[fold(name)] = {type, std::vector<std::uint8_t>(data, data + size)};
        return kSuccess;
    }
    long deleteValue(Key key, const std::string &name) override
    {
        const auto entry = m_handles.count(key) ? m_keys.find(m_handles[key]) : m_keys.end();
        return entry == m_keys.end()                  ? kInvalidHandle
               : entry->second.erase(fold(name)) == 1 ? kSuccess
                                                      : kFileNotFound;
    }
    long deleteKey(Key key, const std::string &subKey) override
    {
        std::string path;
        if (const long error = resolve(key, subKey, &path))
            return error;
        if (path == kRoot)
            return kAccessDenied;
        if (!m_keys.count(path))
            return kFileNotFound;
        for (auto it = m_keys.upper_bound(path); it != m_keys.end(); ++it) {
            if (it->first.compare(0, path.size() + 1, path + '\\') == 0)
                return kAccessDenied; // it has subkeys
        }
        m_keys.erase(path);
        return kSuccess;
    }
    long closeKey(Key key) override
    {
        return key == kLocalMachine || m_handles.erase(key) == 1 ? kSuccess : kInvalidHandle;
    }
    // Names are kept folded, so enumeration is not modelled.
    long enumKey(Key, std::uint32_t, std::string *) override { return kCallNotImplemented; }
    long enumValue(Key, std::uint32_t, std::string *, std::uint32_t *,
                   std::vector<std::uint8_t> *) override
    {
        return kCallNotImplemented;
    }

private:
    struct Value
    {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> bytes;
    };
    static inline const std::string kRoot = "hkey_local_machine";

    static std::string fold(std::string text)
    {
        for (char &c : text)
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        return text;
    }
    /** UTF-8 characters: every byte but those that continue a character. */
    static std::size_t characters(const std::string &text)
    {
        return std::size_t(
            std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    }
    /** The registry's rules: a key is named by its parent's path and the subkey; a backslash
        separates the names of nested keys; no name may be empty or over 255 characters. */
    long resolve(Key parent, const std::string &subKey, std::string *path) const
    {
        if (parent != kLocalMachine && !m_handles.count(parent))
            return kInvalidHandle;
        *path = parent == kLocalMachine ? kRoot : m_handles.at(parent);
        std::string name;
        std::istringstream names(subKey + '\\');
        while (!subKey.empty() && std::getline(names, name, '\\')) {
            if (name.empty() || characters(name) > kMaxKeyNameLength)
                return kInvalidParameter;
            *path += '\\' + fold(name);
        }
        return kSuccess;
    }
    /** Opens the key, or creates it with its missing ancestors. */
    long handle(Key parent, const std::string &subKey, bool create, Key *result)
    {
        std::string path;
        if (const long error = resolve(parent, subKey, &path))
            return error;
        for (std::size_t end = path.find('\\'); create && end != std::string::npos;
             end = path.find('\\', end + 1))
            m_keys[path.substr(0, end)];
        if (create)
            m_keys[path];
        else if (!m_keys.count(path))
            return kFileNotFound;
        m_handles[m_next] = path;
        *result = m_next++;
        return kSuccess;
    }

    std::map<std::string, std::map<std::string, Value>> m_keys {{kRoot, {}}}; // by folded path
    std::map<Key, std::string> m_handles;
    Key m_next = 1;
};
