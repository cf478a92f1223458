// SPDX-License-Identifier: MIT
#pragma once

#include "DriverLibrary.h"

/** A shared library loaded by name on first use (dlopen with RTLD_NOW, or LoadLibraryA). */
class DynamicLibrary : public DriverLibrary
{
public:
    explicit DynamicLibrary(std::string name);
    ~DynamicLibrary() override;
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    /** `SELVANE_GPIB_LIBRARY` when set and not empty, else the platform's driver library. */
    static std::string defaultName();

    void *entryPoint(const std::string &name) override;
    bool hasEntryPoint(const std::string &name) override;
    std::string name() const override { return m_name; }

private:
    void load();

    std::string m_name;
    void *m_handle = nullptr;
};
