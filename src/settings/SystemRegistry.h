// SPDX-License-Identifier: MIT
#pragma once

#include "Registry.h"

#include <memory>

/**
 * The registry the settings live in on this platform: the Windows registry on Windows;
 * elsewhere the SQLite registry file of SqliteRegistry::defaultPath(). Nothing is opened or
 * created until the first call that needs it.
 */
std::unique_ptr<Registry> openSystemRegistry();
