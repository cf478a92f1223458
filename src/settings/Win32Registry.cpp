// SPDX-License-Identifier: MIT
#include "Win32Registry.h"

#include <windows.h>

namespace {

#if defined(_WIN64)
constexpr REGSAM kView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kView = 0;
#endif

/** The system's handle for `key`, HKEY_LOCAL_MACHINE standing for the store's hive. */
HKEY handle(Registry::Key key, Registry::Key hive)
{
    return reinterpret_cast<HKEY>(key == Registry::kLocalMachine ? hive : key);
}

} // namespace

long Win32Registry::openKey(Key parent, const std::string &subKey, std::uint32_t access,
                            Key *result)
{
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExA(handle(parent, m_hive), subKey.c_str(), 0, access | kView, &key);
    if (rc == ERROR_SUCCESS)
        *result = reinterpret_cast<Key>(key);
    return rc;
}

long Win32Registry::createKey(Key parent, const std::string &subKey, Key *result)
{
    HKEY key = nullptr;
#if defined(_WIN64)
    // RegCreateKeyA takes no mask and would work in the 64-bit view.
    const LONG rc =
        RegCreateKeyExA(handle(parent, m_hive), subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        kStoreAccess | kView, nullptr, &key, nullptr);
#else
    const LONG rc = RegCreateKeyA(handle(parent, m_hive), subKey.c_str(), &key);
#endif
    if (rc == ERROR_SUCCESS)
        *result = reinterpret_cast<Key>(key);
    return rc;
}

long Win32Registry::queryValue(Key key, const std::string &name, std::uint32_t *type,
                               std::uint8_t *data, std::uint32_t *size)
{
    DWORD valueType = 0;
    DWORD count = size ? *size : 0;
    const LONG rc = RegQueryValueExA(handle(key, m_hive), name.c_str(), nullptr, &valueType, data,
                                     size ? &count : nullptr);
    if (type)
        *type = valueType;
    if (size)
        *size = count;
    return rc;
}

long Win32Registry::setValue(Key key, const std::string &name, std::uint32_t type,
                             const std::uint8_t *data, std::uint32_t size)
{
    return RegSetValueExA(handle(key, m_hive), name.c_str(), 0, type, data, size);
}

long Win32Registry::deleteValue(Key key, const std::string &name)
{
    return RegDeleteValueA(handle(key, m_hive), name.c_str());
}

long Win32Registry::deleteKey(Key key, const std::string &subKey)
{
#if defined(_WIN64)
    return RegDeleteKeyExA(handle(key, m_hive), subKey.c_str(), kView, 0);
#else
    return RegDeleteKeyA(handle(key, m_hive), subKey.c_str());
#endif
}

long Win32Registry::closeKey(Key key)
{
    return RegCloseKey(handle(key, m_hive));
}

long Win32Registry::enumKey(Key key, std::uint32_t index, std::string *name)
{
    char buffer[kMaxKeyNameLength + 1];
    DWORD length = sizeof buffer;
    const LONG rc = RegEnumKeyExA(handle(key, m_hive), index, buffer, &length, nullptr, nullptr,
                                  nullptr, nullptr);
    if (rc == ERROR_SUCCESS)
        name->assign(buffer, length);
    return rc;
}

long Win32Registry::enumValue(Key key, std::uint32_t index, std::string *name, std::uint32_t *type,
                              std::vector<std::uint8_t> *data)
{
    // The longest value name the registry allows is 16383 characters.
    std::string buffer(16384, '\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    DWORD size = 0;
    LONG rc = RegEnumValueA(handle(key, m_hive), index, buffer.data(), &length, nullptr, nullptr,
                            nullptr, &size);
    if (rc != ERROR_SUCCESS)
        return rc;
    data->assign(size, 0);
    length = static_cast<DWORD>(buffer.size());
    DWORD valueType = 0;
    rc = RegEnumValueA(handle(key, m_hive), index, buffer.data(), &length, nullptr, &valueType,
                       data->data(), &size);
    if (rc == ERROR_SUCCESS) {
        name->assign(buffer, 0, length);
        *type = valueType;
        data->resize(size);
    }
    return rc;
}

std::string Win32Registry::location() const
{
    return m_hive == kCurrentUser ? "HKEY_CURRENT_USER\\SOFTWARE\\Talvern Software"
                                  : "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software";
}

std::string Win32Registry::reason(long error) const
{
    if (error == kInvalidParameter)
        return Registry::reason(error); // in the store's calls, a name too long
    const std::string words = systemWords(error);
    return words.empty() ? Registry::reason(error) : words;
}

std::string Win32Registry::systemWords(long code)
{
    char *text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string words = length > 0 && text ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
        words.pop_back();
    return words;
}
