// SPDX-License-Identifier: MIT
#pragma once

// Random sequences of settings operations, played on two stores side by side: the SQLite
// registry and the in-memory model must answer every one of them alike.

#include <cstddef>
#include <cstdint>
#include <string>

class Registry;

/**
 * Decodes `data` into operations (writes of texts and numbers, reads, deletes of contexts,
 * raw values of any type and size) on contexts and names chosen to meet the registry's
 * corners (case, nesting, 255 characters, the empty context). Returns an empty string when
 * both registries answered alike, else what differed. Both are emptied first.
 */
std::string playStoreScenario(const std::uint8_t *data, std::size_t size, Registry &subject,
                              Registry &model);
