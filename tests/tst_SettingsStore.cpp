// SPDX-License-Identifier: MIT
// SettingsStore over this platform's registry (the SQLite registry, or the Windows registry):
// what a read gives for what is stored, what a write stores, and what a delete removes.

#include "PlatformRegistry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const std::string kContext = "SELVANE - Bench";

class SettingsStoreTest : public ::testing::Test
{
protected:
    PlatformRegistry platform;
    Registry &registry = platform.registry;
    SettingsStore store {registry};
};

TEST_F(SettingsStoreTest, ReadsCreateNothingAndTheFirstWriteCreatesTheKeys)
{
    EXPECT_EQ(store.ReadValue(kContext, "1.A.title", "Device 1"), "Device 1");
    EXPECT_EQ(store.ReadValue(kContext, "1.PAd", std::int32_t(7)), 7);
    EXPECT_FALSE(platform.keyExists(""));
    EXPECT_TRUE(store.WriteValue(kContext, "Units", "three"));
    EXPECT_TRUE(store.WriteValue(kContext, "Units", 2.0)); // replaces the text
    EXPECT_EQ(platform.stored(kContext, "Units"),
              std::make_pair(4u, std::vector<std::uint8_t> {2, 0, 0, 0}));
    EXPECT_TRUE(platform.keyExists(kContext));
    ASSERT_TRUE(store.WriteValue("", "Units", 0.0)); // the empty context is the root key
    EXPECT_EQ(platform.stored("", "Units").first, Registry::kDword);
}

template<typename Row>
struct WithRows : SettingsStoreTest, ::testing::WithParamInterface<Row>
{
};
/** Names a row's test by the row's own name. */
const auto rowName = [](const auto &row) { return std::string(row.param.name); };

struct Stored
{
    const char *name;
    std::uint32_t type;
    std::string bytes;
    std::string text; ///< read with the default "Device 2"
    std::int32_t number; ///< read with the default 7
};

using Reads = WithRows<Stored>;

TEST_P(Reads, GiveWhatTheBytesHold)
{
    ASSERT_EQ(storeRaw(registry, kContext, "v", GetParam().type, GetParam().bytes),
              Registry::kSuccess);
    EXPECT_EQ(store.ReadValue(kContext, "v", "Device 2"), GetParam().text);
    EXPECT_EQ(store.ReadValue(kContext, "v", std::int32_t(7)), GetParam().number);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Bytes, Reads, ::testing::Values(
    Stored {"zero_bytes", 1, "", "Device 2", 0},
    Stored {"one_nul_is_empty_text", 1, std::string(1, '\0'), "", 0},
    Stored {"without_nul_reads_whole", 1, "abc", "abc", 0x636261},
    Stored {"two_nuls_keep_one", 1, std::string("abc\0\0", 5), std::string("abc\0", 4), 7},
    Stored {"bytes_1024_fit", 1, std::string(1023, 'y') + '\0', std::string(1023, 'y'), 7},
    Stored {"bytes_1025_give_default", 1, std::string(1024, 'y') + '\0', "Device 2", 7},
    Stored {"dword", 4, std::string("\x0C\0\0\0", 4), std::string("\x0C\0\0", 3), 12},
    Stored {"negative", 4, "\xFF\xFF\xFF\xFF", "\xFF\xFF\xFF\xFF", -1},
    Stored {"two_bytes_are_the_low_ones", 4, "\x34\x12", "\x34\x12", 0x1234},
    Stored {"five_bytes", 4, std::string("\1\0\0\0\0", 5), std::string("\1\0\0\0", 4), 7},
    Stored {"dword_read_as_text", 4, std::string("AB\0\0", 4), std::string("AB\0", 3), 0x4241},
    Stored {"text_read_as_number", 1, std::string("3\0", 2), "3", 0x33}),
    rowName);
// clang-format on

struct Rounding
{
    const char *name;
    double value;
    bool stored;
    std::int32_t read;
};

using NumberWrite = WithRows<Rounding>;

TEST_P(NumberWrite, RoundsHalvesToEven)
{
    EXPECT_EQ(store.WriteValue(kContext, "X", GetParam().value), GetParam().stored);
    EXPECT_EQ(store.ReadValue(kContext, "X", std::int32_t(-99)), GetParam().read);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Values, NumberWrite, ::testing::Values(
    Rounding {"r1234_5_to_1234", 1234.5, true, 1234},
    Rounding {"r1235_5_to_1236", 1235.5, true, 1236},
    Rounding {"minus_0_5_to_0", -0.5, true, 0},
    Rounding {"minus_1_5_to_minus_2", -1.5, true, -2},
    Rounding {"r1234_6_up", 1234.6, true, 1235},
    Rounding {"int_max", 2147483647.0, true, 2147483647},
    Rounding {"int_min", -2147483648.0, true, -2147483647 - 1},
    Rounding {"over_int_max_refused", 2147483647.5, false, -99},
    Rounding {"far_out_refused", 1e12, false, -99},
    Rounding {"nan_refused", std::nan(""), false, -99}),
    rowName);
// clang-format on

TEST_F(SettingsStoreTest, DeleteRemovesOnlyItsContext)
{
    ASSERT_TRUE(store.WriteValue("SELVANE - Bench", "Units", 2.0));
    ASSERT_TRUE(store.WriteValue("selvane - BENCH2", "Units", 3.0));
    ASSERT_TRUE(store.WriteValue("SELVANE", "Units", 1.0));
    store.DeleteContext("SELVANE - Nowhere");
    store.DeleteContext("Selvane - bench");
    EXPECT_EQ(store.ReadValue("SELVANE - Bench", "Units", std::int32_t(0)), 0);
    EXPECT_EQ(store.ReadValue("SELVANE - Bench2", "Units", std::int32_t(0)), 3);
    EXPECT_EQ(store.ReadValue("SELVANE", "Units", std::int32_t(0)), 1);
    EXPECT_FALSE(platform.keyExists("SELVANE - Bench"));
}

} // namespace
