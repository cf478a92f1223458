// SPDX-License-Identifier: MIT
#pragma once

#include <string>

/**
 * Where the binding finds the driver's entry points. The library is loaded on the first
 * lookup; a lookup that cannot be answered throws BindingFailure (53 or 48 for the library,
 * 453 for a missing entry point). Tests put a scripted driver behind it.
 */
class DriverLibrary
{
public:
    virtual ~DriverLibrary() = default;

    /** The entry point `name`; throws BindingFailure when it (or the library) is missing. */
    virtual void *entryPoint(const std::string &name) = 0;
    /** Whether the library has `name` (loads the library; throws only for the library). */
    virtual bool hasEntryPoint(const std::string &name) = 0;
    /** The library's name as the operator gave it, for messages. */
    virtual std::string name() const = 0;
};
