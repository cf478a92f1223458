// SPDX-License-Identifier: MIT
#pragma once

#include "settings/Registry.h"
#include "settings/SettingsStore.h"

/** Stores `bytes` of any type under a context, as another program might have. */
inline long storeRaw(Registry &registry, const std::string &context, const std::string &name,
                     std::uint32_t type, const std::string &bytes)
{
    Registry::Key key = 0;
    const std::string path =
        std::string(SettingsStore::kRootKey) + (context.empty() ? "" : "\\") + context;
    if (const long error = registry.createKey(Registry::kLocalMachine, path, &key))
        return error;
    const long result =
        registry.setValue(key, name, type, reinterpret_cast<const std::uint8_t *>(bytes.data()),
                          static_cast<std::uint32_t>(bytes.size()));
    registry.closeKey(key);
    return result;
}
