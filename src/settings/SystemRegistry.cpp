// SPDX-License-Identifier: MIT
#include "SystemRegistry.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include "Win32Registry.h"
#else
#include "SqliteRegistry.h"
#endif

bool demoStore()
{
    // Only "1": "0", "yes" or an empty value keep the panel on the bench's own settings.
    const char *value = std::getenv("SELVANE_DEMO");
    return value && std::strcmp(value, "1") == 0;
}

std::unique_ptr<Registry> openSystemRegistry()
{
#if defined(_WIN32)
    return std::make_unique<Win32Registry>(demoStore() ? Win32Registry::kCurrentUser
                                                       : Registry::kLocalMachine);
#else
    return std::make_unique<SqliteRegistry>(SqliteRegistry::defaultPath());
#endif
}
