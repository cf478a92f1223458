// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class Registry;

/**
 * Typed settings under a context key of "SOFTWARE\Talvern Software" in HKEY_LOCAL_MACHINE.
 * An empty context addresses that root key itself. Every operation opens the keys it needs
 * and closes them again; nothing is held between calls and no error leaves the store.
 */
class SettingsStore
{
public:
    static constexpr std::string_view kRootKey = "SOFTWARE\\Talvern Software";

    /** `registry` must outlive the store. */
    explicit SettingsStore(Registry &registry);

    /** A text read: the stored text, or `defaultText` when it cannot be read or is empty. */
    std::string ReadValue(const std::string &context, const std::string &name,
                          std::string_view defaultText) const;
    /** A number read: up to four stored bytes as a little-endian 32-bit integer. */
    std::int32_t ReadValue(const std::string &context, const std::string &name,
                           std::int32_t defaultNumber) const;

    /** Stores a text as REG_SZ with one terminating NUL. True when it was stored. */
    bool WriteValue(const std::string &context, const std::string &name,
                    std::string_view text) const;
    /**
     * Stores a number as REG_DWORD, rounded to the nearest integer with halves to even.
     * A number outside the 32-bit range (or not a number) is not stored: false.
     */
    bool WriteValue(const std::string &context, const std::string &name, double number) const;

    /** Makes `writes` one transaction: all of it or none where the store has transactions
        (the Windows registry writes value by value). A store that cannot be written stays
        silent, as at the end of a run. */
    void inTransaction(const std::function<bool()> &writes) const;

    /** Removes the context key with all its values; reports nothing. */
    void DeleteContext(const std::string &context) const;

    Registry &registry() const { return m_registry; }

private:
    Registry &m_registry;
};
