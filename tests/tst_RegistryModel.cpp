// SPDX-License-Identifier: MIT
// Random sequences of settings operations: the SQLite registry answers as the plain model of
// the registry does. (The fuzzer plays the same sequences with coverage guidance.)

#include "TemporaryFolder.h"
#include "settings/SqliteRegistry.h"
#include "support/MemoryRegistry.h"
#include "support/StoreScenario.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(RegistryModel, SqliteRegistryAnswersAsTheModel)
{
    TemporaryFolder folder;
    SqliteRegistry subject(folder.file("registry.sqlite3"));
    ASSERT_TRUE(subject.usable());
    std::mt19937 random(20261206);
    for (int round = 0; round < 400; ++round) {
        MemoryRegistry model;
        std::vector<std::uint8_t> data(random() % 400);
        for (std::uint8_t &byte : data)
            byte = static_cast<std::uint8_t>(random());
        const std::string mismatch = playStoreScenario(data.data(), data.size(), subject, model);
        ASSERT_EQ(mismatch, "") << "round " << round;
    }
}

} // namespace
