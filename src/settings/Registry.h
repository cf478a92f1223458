// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/**
 * The registry calls the settings store and its tools make, with the Windows registry's contract:
 * each returns 0 (ERROR_SUCCESS) or a Windows error code; names are case-insensitive and
 * case-preserving; a backslash in a subkey name nests keys; an empty subkey name means the
 * key itself. Handles are opaque; the caller closes every handle it was given.
 * Text is in the platform's 8-bit encoding (ANSI code page on Windows, UTF-8 elsewhere).
 */
class Registry
{
public:
    using Key = std::uintptr_t;

    static constexpr Key kLocalMachine = 0x80000002u; ///< HKEY_LOCAL_MACHINE

    static constexpr long kSuccess = 0;
    static constexpr long kFileNotFound = 2; ///< ERROR_FILE_NOT_FOUND: no such key or value
    static constexpr long kAccessDenied = 5; ///< ERROR_ACCESS_DENIED: refused, or has subkeys
    static constexpr long kInvalidHandle = 6; ///< ERROR_INVALID_HANDLE
    static constexpr long kInvalidParameter = 87; ///< ERROR_INVALID_PARAMETER: name too long
    static constexpr long kMoreData = 234; ///< ERROR_MORE_DATA: value larger than the buffer
    static constexpr long kBadDb = 1009; ///< ERROR_BADDB: the store itself cannot be used
    static constexpr long kCallNotImplemented = 120; ///< ERROR_CALL_NOT_IMPLEMENTED
    static constexpr long kNoMoreItems = 259; ///< ERROR_NO_MORE_ITEMS: enumeration's end
    static constexpr long kKeyDeleted = 1018; ///< ERROR_KEY_DELETED: handle to a deleted key

    static constexpr std::uint32_t kString = 1; ///< REG_SZ
    static constexpr std::uint32_t kDword = 4; ///< REG_DWORD

    /** Access mask the store uses for every key: query, set, create, enumerate, notify, ... */
    static constexpr std::uint32_t kStoreAccess = 0x2003Fu;
    static constexpr std::size_t kMaxKeyNameLength = 255;
    static constexpr std::size_t kMaxValueNameLength = 16383;

    /** A name as the store compares it: ASCII letters in lower case (SQLite's NOCASE; the
        Windows registry folds more). */
    static std::string folded(std::string_view name)
    {
        std::string text(name);
        for (char &c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return text;
    }

    /** The characters of a name in the store's encoding (UTF-8 continuation bytes are not
        one), as the registry counts them against its limits. */
    static std::size_t characters(std::string_view name)
    {
        std::size_t count = 0;
        for (const char c : name)
            count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        return count;
    }

    virtual ~Registry() = default;

    /** RegOpenKeyExA: opens an existing key. */
    virtual long openKey(Key parent, const std::string &subKey, std::uint32_t access,
                         Key *result) = 0;
    /** RegCreateKeyA: opens the key, creating it and its missing ancestors. */
    virtual long createKey(Key parent, const std::string &subKey, Key *result) = 0;
    /**
     * RegQueryValueExA: copies the value's bytes into `data` (capacity `*size`) and sets
     * `*size` to the value's size. A value larger than the buffer gives kMoreData with
     * `*size` set to the size needed. `type` and `data` may be null.
     */
    virtual long queryValue(Key key, const std::string &name, std::uint32_t *type,
                            std::uint8_t *data, std::uint32_t *size) = 0;
    /** RegSetValueExA: stores `size` bytes of `data` as a value of `type`, replacing any. */
    virtual long setValue(Key key, const std::string &name, std::uint32_t type,
                          const std::uint8_t *data, std::uint32_t size) = 0;
    /** RegDeleteValueA: deletes one value; kFileNotFound when the key holds none of that name. */
    virtual long deleteValue(Key key, const std::string &name) = 0;
    /** RegDeleteKeyA: deletes a subkey with all its values; refused if it has subkeys. */
    virtual long deleteKey(Key key, const std::string &subKey) = 0;
    /** RegCloseKey. */
    virtual long closeKey(Key key) = 0;

    /** RegEnumKeyExA: the name of the key's subkey number `index`; kNoMoreItems past the last. */
    virtual long enumKey(Key key, std::uint32_t index, std::string *name) = 0;
    /** RegEnumValueA: the name, type and bytes of the key's value number `index`, in the order
        the values were first stored; kNoMoreItems past the last. */
    virtual long enumValue(Key key, std::uint32_t index, std::string *name, std::uint32_t *type,
                           std::vector<std::uint8_t> *data) = 0;

    /**
     * Makes the calls up to endTransaction one change that lands whole or not at all, and that
     * other copies see only whole. The SQLite file does so; the Windows registry has no such
     * thing, and there each call stands alone.
     */
    virtual long beginTransaction() { return kSuccess; }
    /** Commits, or with `commit` false drops, what the calls since beginTransaction changed;
        kCallNotImplemented when it cannot drop them. */
    virtual long endTransaction(bool commit) { return commit ? kSuccess : kCallNotImplemented; }

    /** Where the settings are, for messages and for the lock of a running panel's instance:
        the settings file's path, or the registry key on Windows. */
    virtual std::string location() const { return {}; }
    /**
     * Why the last call failed with `error`, in words ("locked by another program",
     * "read-only"), from the store's own cause where it knows one: a Windows code mixes
     * causes (5 is both read-only and "has subkeys").
     */
    virtual std::string reason(long error) const
    {
        switch (error) {
        case kFileNotFound:
            return "not found";
        case kAccessDenied:
            return "access denied";
        case kInvalidParameter:
            return "a name longer than 255 characters";
        case kBadDb:
            return "damaged, or not a settings store";
        default:
            return "refused by the store";
        }
    }
};
