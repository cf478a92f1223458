// SPDX-License-Identifier: MIT
// SettingsStore over this platform's registry (the SQLite registry, or the Windows registry):
// what a read gives for what is stored, what a write stores, and what a delete removes.

#include "PlatformRegistry.h"
#include "settings/SettingsStore.h"

#if !defined(_WIN32)
#include "TestRegistry.h"
#endif

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const std::string kContext = "SELVANE - Bench";

class SettingsStoreTest : public ::testing::Test
{
protected:
    PlatformRegistry platform;
    Registry &registry = platform.registry();
    SettingsStore store {registry};

    /** Stores raw bytes of any type under the context, as another program might have. */
    void storeRaw(const std::string &name, std::uint32_t type, const std::string &bytes,
                  const std::string &context = kContext)
    {
        Registry::Key key = 0;
        ASSERT_EQ(registry.createKey(Registry::kLocalMachine,
                                     std::string(SettingsStore::kRootKey) + "\\" + context, &key),
                  Registry::kSuccess);
        ASSERT_EQ(registry.setValue(key, name, type,
                                    reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                    static_cast<std::uint32_t>(bytes.size())),
                  Registry::kSuccess);
        registry.closeKey(key);
    }

    std::pair<std::uint32_t, std::vector<std::uint8_t>>
    stored(const std::string &name, const std::string &context = kContext)
    {
        return platform.stored(context, name);
    }
};

TEST_F(SettingsStoreTest, NothingStoredGivesTheDefaults)
{
    EXPECT_EQ(store.ReadValue(kContext, "1.A.title", "Device 1"), "Device 1");
    EXPECT_EQ(store.ReadValue(kContext, "1.PAd", std::int32_t(7)), 7);
    EXPECT_FALSE(platform.keyExists(std::string(SettingsStore::kRootKey)))
        << "a read creates nothing";
}

TEST_F(SettingsStoreTest, FirstWriteCreatesRootAndContextKeys)
{
    EXPECT_TRUE(store.WriteValue(kContext, "Units", 2.0));
    EXPECT_TRUE(platform.keyExists(std::string(SettingsStore::kRootKey)));
    EXPECT_TRUE(platform.keyExists(PlatformRegistry::path(kContext)));
    EXPECT_EQ(stored("Units"), std::make_pair(4u, std::vector<std::uint8_t> {2, 0, 0, 0}));
}

std::string textRowName(const ::testing::TestParamInfo<std::string> &row)
{
    static const char *const names[] = {"empty", "plain",  "non_ascii", "blanks",
                                        "tab",   "quotes", "chars_1023"};
    return names[row.index];
}

class TextRoundTrip : public SettingsStoreTest, public ::testing::WithParamInterface<std::string>
{
};

TEST_P(TextRoundTrip, ReadsBackExactly)
{
    ASSERT_TRUE(store.WriteValue(kContext, "1.A1.label", GetParam()));
    EXPECT_EQ(store.ReadValue(kContext, "1.A1.label", "default"), GetParam());
    const auto [type, bytes] = stored("1.A1.label");
    EXPECT_EQ(type, Registry::kString);
    EXPECT_EQ(bytes.size(), GetParam().size() + 1) << "the text and one NUL";
}

INSTANTIATE_TEST_SUITE_P(Texts, TextRoundTrip,
                         ::testing::Values(std::string(), "A1", "50 \xCE\xA9", "  ", "a\tb",
                                           "quote ' and \"", std::string(1023, 'x')),
                         textRowName);

struct StoredText
{
    const char *name;
    std::string bytes;
    std::string read;
};

class TextRead : public SettingsStoreTest, public ::testing::WithParamInterface<StoredText>
{
};

TEST_P(TextRead, GivesWhatTheBytesHold)
{
    storeRaw("1.B.title", Registry::kString, GetParam().bytes);
    EXPECT_EQ(store.ReadValue(kContext, "1.B.title", "Device 2"), GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, TextRead,
    ::testing::Values(
        StoredText {"zero_bytes_give_default", "", "Device 2"},
        StoredText {"one_nul_is_empty_text", std::string(1, '\0'), ""},
        StoredText {"without_nul_reads_whole", "abc", "abc"},
        StoredText {"two_nuls_keep_one", std::string("abc\0\0", 5), std::string("abc\0", 4)},
        StoredText {"bytes_1024_fit", std::string(1023, 'y') + '\0', std::string(1023, 'y')},
        StoredText {"bytes_1025_give_default", std::string(1024, 'y') + '\0', "Device 2"},
        StoredText {"dword_read_as_text", std::string("\x41\x42\0\0", 4), std::string("AB\0", 3)}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(SettingsStoreTest, TextOf1024CharactersIsStoredButReadsAsDefault)
{
    ASSERT_TRUE(store.WriteValue(kContext, "1.A1.label", std::string(1024, 'z')));
    EXPECT_EQ(store.ReadValue(kContext, "1.A1.label", "A1"), "A1");
}

struct StoredNumber
{
    const char *name;
    std::uint32_t type;
    std::string bytes;
    std::int32_t read;
};

class NumberRead : public SettingsStoreTest, public ::testing::WithParamInterface<StoredNumber>
{
};

TEST_P(NumberRead, TakesUpToFourBytes)
{
    storeRaw("1.PAd", GetParam().type, GetParam().bytes);
    EXPECT_EQ(store.ReadValue(kContext, "1.PAd", std::int32_t(7)), GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, NumberRead,
    ::testing::Values(StoredNumber {"dword", 4, std::string("\x0C\0\0\0", 4), 12},
                      StoredNumber {"negative", 4, "\xFF\xFF\xFF\xFF", -1},
                      StoredNumber {"two_bytes_are_the_low_ones", 4, "\x34\x12", 0x1234},
                      StoredNumber {"zero_bytes_read_zero", 4, "", 0},
                      StoredNumber {"five_bytes_give_default", 4, std::string("\1\0\0\0\0", 5), 7},
                      StoredNumber {"text_read_as_number", 1, std::string("3\0", 2), 0x33}),
    [](const auto &row) { return std::string(row.param.name); });

struct Rounding
{
    const char *name;
    double value;
    bool stored;
    std::int32_t read;
};

class NumberWrite : public SettingsStoreTest, public ::testing::WithParamInterface<Rounding>
{
};

TEST_P(NumberWrite, RoundsHalvesToEven)
{
    EXPECT_EQ(store.WriteValue(kContext, "X", GetParam().value), GetParam().stored);
    EXPECT_EQ(store.ReadValue(kContext, "X", std::int32_t(-99)), GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NumberWrite,
    ::testing::Values(Rounding {"r1234_5_to_1234", 1234.5, true, 1234},
                      Rounding {"r1235_5_to_1236", 1235.5, true, 1236},
                      Rounding {"minus_0_5_to_0", -0.5, true, 0},
                      Rounding {"minus_1_5_to_minus_2", -1.5, true, -2},
                      Rounding {"r1234_6_up", 1234.6, true, 1235},
                      Rounding {"int_max", 2147483647.0, true, 2147483647},
                      Rounding {"int_min", -2147483648.0, true, -2147483647 - 1},
                      Rounding {"over_int_max_refused", 2147483647.5, false, -99},
                      Rounding {"far_out_refused", 1e12, false, -99},
                      Rounding {"nan_refused", std::nan(""), false, -99}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(SettingsStoreTest, NumberReplacesTextOfTheSameName)
{
    ASSERT_TRUE(store.WriteValue(kContext, "Units", "three"));
    ASSERT_TRUE(store.WriteValue(kContext, "Units", 3.0));
    EXPECT_EQ(stored("Units"), std::make_pair(4u, std::vector<std::uint8_t> {3, 0, 0, 0}));
}

TEST_F(SettingsStoreTest, EmptyContextIsTheRootKeyItself)
{
    ASSERT_TRUE(store.WriteValue("", "Units", 0.0));
    EXPECT_EQ(store.ReadValue("", "Units", std::int32_t(5)), 0);
    EXPECT_EQ(platform.stored("", "Units").first, Registry::kDword); // in the root key
}

TEST_F(SettingsStoreTest, NamesAreCaseInsensitiveAndKeepTheirFirstCase)
{
    ASSERT_TRUE(store.WriteValue("SELVANE - Bench", "1.A.title", "first"));
    ASSERT_TRUE(store.WriteValue("selvane - BENCH", "1.a.TITLE", "second"));
    EXPECT_EQ(store.ReadValue("Selvane - bench", "1.A.Title", "none"), "second");
#if !defined(_WIN32)
    // The first spelling stays (the Windows registry keeps it too; its names are not
    // readable through the store's calls).
    const RegistryDump dump = dumpRegistry(platform.file());
    ASSERT_EQ(dump.count(kContextPath + std::string("SELVANE - Bench")), 1u);
    EXPECT_EQ(dump.at(kContextPath + std::string("SELVANE - Bench")).count("1.A.title"), 1u);
#endif
}

TEST_F(SettingsStoreTest, DeleteRemovesOnlyItsContext)
{
    ASSERT_TRUE(store.WriteValue("SELVANE - Bench", "Units", 2.0));
    ASSERT_TRUE(store.WriteValue("SELVANE - Bench2", "Units", 3.0));
    ASSERT_TRUE(store.WriteValue("SELVANE", "Units", 1.0));
    store.DeleteContext("SELVANE - Bench");
    EXPECT_EQ(store.ReadValue("SELVANE - Bench", "Units", std::int32_t(0)), 0);
    EXPECT_EQ(store.ReadValue("SELVANE - Bench2", "Units", std::int32_t(0)), 3);
    EXPECT_EQ(store.ReadValue("SELVANE", "Units", std::int32_t(0)), 1);
    EXPECT_FALSE(platform.keyExists(PlatformRegistry::path("SELVANE - Bench")));
}

TEST_F(SettingsStoreTest, DeletingAMissingContextChangesNothing)
{
    ASSERT_TRUE(store.WriteValue("SELVANE", "Units", 1.0));
    ASSERT_TRUE(store.WriteValue("", "X", 15.0));
    store.DeleteContext("SELVANE - Nowhere");
    EXPECT_EQ(store.ReadValue("SELVANE", "Units", std::int32_t(0)), 1);
    EXPECT_EQ(store.ReadValue("", "X", std::int32_t(0)), 15);
    EXPECT_TRUE(platform.keyExists(std::string(SettingsStore::kRootKey)));
}

class InstanceNames : public SettingsStoreTest, public ::testing::WithParamInterface<std::string>
{
};

TEST_P(InstanceNames, AreDataNeverSql)
{
    const std::string context = "SELVANE - " + GetParam();
    ASSERT_TRUE(store.WriteValue(context, "1.A.title", GetParam()));
    ASSERT_TRUE(store.WriteValue("SELVANE - other", "1.A.title", "other"));
    EXPECT_EQ(store.ReadValue(context, "1.A.title", "none"), GetParam());
    store.DeleteContext(context);
    EXPECT_EQ(store.ReadValue(context, "1.A.title", "none"), "none");
    EXPECT_EQ(store.ReadValue("SELVANE - other", "1.A.title", "none"), "other");
}

INSTANTIATE_TEST_SUITE_P(Names, InstanceNames,
                         ::testing::Values("it's", "a\"b", "100%", "a_b", "%", "_",
                                           "'); DROP TABLE registry_key; --", "B\xC3\xA4nk",
                                           "../../etc/passwd"));

/** Wine's registry takes key names that Windows refuses; such cases are Windows's own. */
bool underWine()
{
#if defined(_WIN32)
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

TEST_F(SettingsStoreTest, ContextNameOver255CharactersIsRefused)
{
    if (underWine())
        GTEST_SKIP() << "Wine accepts key name components over 255 characters; Windows does not";
    const std::string longest = std::string(255, 'n');
    EXPECT_TRUE(store.WriteValue(longest, "Units", 1.0));
    const std::string tooLong = std::string(256, 'n');
    EXPECT_FALSE(store.WriteValue(tooLong, "Units", 1.0));
    EXPECT_EQ(store.ReadValue(tooLong, "Units", std::int32_t(9)), 9);
    store.DeleteContext(tooLong);
    EXPECT_EQ(store.ReadValue(longest, "Units", std::int32_t(9)), 1);
}

} // namespace
