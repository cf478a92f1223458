// SPDX-License-Identifier: MIT
#include "MemoryRegistry.h"

#include <cstring>
#include <sstream>

std::string MemoryRegistry::fold(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

long MemoryRegistry::resolve(Key parent, const std::string &subKey, std::string *path) const
{
    // The registry's rules: a key is named by its parent's path and the subkey; a backslash
    // separates the names of nested keys; no name may be empty or over 255 characters.
    if (parent != kLocalMachine && !m_handles.count(parent))
        return kInvalidHandle;
    *path = parent == kLocalMachine ? "hkey_local_machine" : m_handles.at(parent);
    if (subKey.empty())
        return kSuccess;
    std::string name;
    std::istringstream names(subKey + '\\');
    while (std::getline(names, name, '\\')) {
        if (name.empty() || name.size() > kMaxKeyNameLength)
            return kInvalidParameter;
        *path += '\\' + fold(name);
    }
    return kSuccess;
}

Registry::Key MemoryRegistry::handleFor(const std::string &path)
{
    m_handles[m_next] = path;
    return m_next++;
}

long MemoryRegistry::openKey(Key parent, const std::string &subKey, std::uint32_t, Key *result)
{
    std::string path;
    if (const long error = resolve(parent, subKey, &path); error != kSuccess)
        return error;
    if (!m_keys.count(path))
        return kFileNotFound;
    *result = handleFor(path);
    return kSuccess;
}

long MemoryRegistry::createKey(Key parent, const std::string &subKey, Key *result)
{
    std::string path;
    if (const long error = resolve(parent, subKey, &path); error != kSuccess)
        return error;
    for (std::size_t end = path.find('\\'); end != std::string::npos;
         end = path.find('\\', end + 1))
        m_keys[path.substr(0, end)];
    m_keys[path];
    *result = handleFor(path);
    return kSuccess;
}

long MemoryRegistry::queryValue(Key key, const std::string &name, std::uint32_t *type,
                                std::uint8_t *data, std::uint32_t *size)
{
    const auto handle = m_handles.find(key);
    if (handle == m_handles.end())
        return kInvalidHandle;
    const auto entry = m_keys.find(handle->second);
    if (entry == m_keys.end())
        return kFileNotFound;
    const auto value = entry->second.values.find(fold(name));
    if (value == entry->second.values.end())
        return kFileNotFound;
    if (type)
        *type = value->second.type;
    if (!size)
        return data ? kInvalidParameter : kSuccess;
    const auto needed = static_cast<std::uint32_t>(value->second.bytes.size());
    if (data && needed > *size) {
        *size = needed;
        return kMoreData;
    }
    if (data && needed > 0)
        std::memcpy(data, value->second.bytes.data(), needed);
    *size = needed;
    return kSuccess;
}

long MemoryRegistry::setValue(Key key, const std::string &name, std::uint32_t type,
                              const std::uint8_t *data, std::uint32_t size)
{
    const auto handle = m_handles.find(key);
    if (handle == m_handles.end())
        return kInvalidHandle;
    if (size > 0 && !data)
        return kInvalidParameter;
    const auto entry = m_keys.find(handle->second);
    if (entry == m_keys.end())
        return kKeyDeleted;
    entry->second.values[fold(name)] = {type, std::vector<std::uint8_t>(data, data + size)};
    return kSuccess;
}

long MemoryRegistry::deleteKey(Key key, const std::string &subKey)
{
    std::string path;
    if (const long error = resolve(key, subKey, &path); error != kSuccess)
        return error;
    if (path == "hkey_local_machine")
        return kAccessDenied;
    if (!m_keys.count(path))
        return kFileNotFound;
    const auto next = m_keys.upper_bound(path);
    for (auto it = next; it != m_keys.end(); ++it) {
        if (it->first.compare(0, path.size() + 1, path + '\\') == 0)
            return kAccessDenied;
    }
    m_keys.erase(path);
    return kSuccess;
}

long MemoryRegistry::closeKey(Key key)
{
    if (key == kLocalMachine)
        return kSuccess;
    return m_handles.erase(key) == 1 ? kSuccess : kInvalidHandle;
}
