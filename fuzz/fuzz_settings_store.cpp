// SPDX-License-Identifier: MIT
// Random sequences of settings operations on the SQLite registry, checked against the plain
// in-memory model of the registry.

#include "MemoryRegistry.h"
#include "StoreScenario.h"
#include "settings/SqliteRegistry.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // One registry file for the whole run; each input starts by emptying it.
    static const TemporaryFolder folder;
    static SqliteRegistry subject(folder.file("registry.sqlite3"));
    MemoryRegistry model;
    const std::string mismatch = playStoreScenario(data, size, subject, model);
    if (!mismatch.empty()) {
        std::fprintf(stderr, "registry differs from the model: %s\n", mismatch.c_str());
        std::abort();
    }
    return 0;
}
