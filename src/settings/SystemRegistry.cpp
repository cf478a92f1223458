// SPDX-License-Identifier: MIT
#include "SystemRegistry.h"

#if defined(_WIN32)
#include "Win32Registry.h"
#else
#include "SqliteRegistry.h"
#endif

std::unique_ptr<Registry> openSystemRegistry()
{
#if defined(_WIN32)
    return std::make_unique<Win32Registry>();
#else
    return std::make_unique<SqliteRegistry>(SqliteRegistry::defaultPath());
#endif
}
