// SPDX-License-Identifier: MIT
#pragma once

#include "Registry.h"

#include <memory>

/**
 * Whether this process is the demo (`SELVANE_DEMO` is exactly "1", as its launchers set it):
 * the panel on the simulated bus, which keeps its settings in a store of its own so that
 * trying it never changes the bench's.
 */
bool demoStore();

/**
 * The registry the settings live in on this platform: the Windows registry on Windows (for
 * the demo, the same keys under HKEY_CURRENT_USER); elsewhere the SQLite registry file of
 * SqliteRegistry::defaultPath(). Nothing is opened or created until the first call that
 * needs it.
 */
std::unique_ptr<Registry> openSystemRegistry();
