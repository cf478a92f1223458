// SPDX-License-Identifier: MIT
#pragma once

#include <stdexcept>
#include <string>

/**
 * The driver library or one of its entry points cannot be loaded. Carries the platform's
 * number and description: 53 the library file is not found, 48 it exists but cannot be
 * loaded, 453 an entry point is missing. The only exception type of the system.
 */
class BindingFailure : public std::runtime_error
{
public:
    static constexpr int kFileNotFound = 53;
    static constexpr int kCannotLoad = 48;
    static constexpr int kEntryPointMissing = 453;

    BindingFailure(int number, const std::string &description, const std::string &reason = {})
        : std::runtime_error(description)
        , m_number(number)
        , m_reason(reason)
    { }

    int number() const { return m_number; }
    std::string description() const { return what(); }
    /** The loader's own words for a library it could not load; may be empty. */
    const std::string &reason() const { return m_reason; }

    static BindingFailure fileNotFound(const std::string &library, const std::string &reason = {})
    {
        return {kFileNotFound, "File not found: " + library, reason};
    }
    static BindingFailure cannotLoad(const std::string &library, const std::string &reason = {})
    {
        return {kCannotLoad, "Error in loading DLL: " + library, reason};
    }
    static BindingFailure entryPointMissing(const std::string &function, const std::string &library)
    {
        return {kEntryPointMissing, "Can't find DLL entry point " + function + " in " + library};
    }

private:
    int m_number;
    std::string m_reason;
};
