// SPDX-License-Identifier: MIT
#pragma once

#include "Registry.h"

/**
 * The Windows registry through advapi32's A functions. A 64-bit build works in the 32-bit
 * view (KEY_WOW64_32KEY on every call that takes a mask), where 32-bit builds keep the
 * settings, so both find the same values.
 */
class Win32Registry : public Registry
{
public:
    static constexpr Key kCurrentUser = 0x80000001u; ///< HKEY_CURRENT_USER

    /** The registry with the store's keys of HKEY_LOCAL_MACHINE kept under `hive` instead:
        HKEY_CURRENT_USER for the demo, which then never reaches the bench's settings and
        needs no admin rights. Only this object's calls are redirected. */
    explicit Win32Registry(Key hive = kLocalMachine)
        : m_hive(hive)
    { }

    long openKey(Key parent, const std::string &subKey, std::uint32_t access, Key *result) override;
    long createKey(Key parent, const std::string &subKey, Key *result) override;
    long queryValue(Key key, const std::string &name, std::uint32_t *type, std::uint8_t *data,
                    std::uint32_t *size) override;
    long setValue(Key key, const std::string &name, std::uint32_t type, const std::uint8_t *data,
                  std::uint32_t size) override;
    long deleteValue(Key key, const std::string &name) override;
    long deleteKey(Key key, const std::string &subKey) override;
    long closeKey(Key key) override;
    long enumKey(Key key, std::uint32_t index, std::string *name) override;
    long enumValue(Key key, std::uint32_t index, std::string *name, std::uint32_t *type,
                   std::vector<std::uint8_t> *data) override;
    std::string location() const override;
    /** The system's own words for the code. */
    std::string reason(long error) const override;
    /** FormatMessage's text of a Windows error code, without its final stop; empty when the
        system has none. */
    static std::string systemWords(long code);

private:
    Key m_hive;
};
