// SPDX-License-Identifier: MIT
// The SQLite registry answers random sequences of settings operations as the plain model of
// the registry does (the fuzzer plays them with coverage guidance), keeps the registry's rows
// and case, and a file it cannot use never takes the program down.

#include "MemoryRegistry.h"
#include "PlatformRegistry.h"
#include "StoreScenario.h"
#include "TemporaryFolder.h"
#include "settings/SqliteRegistry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Key = Registry::Key;

class SqliteRegistryTest : public ::testing::Test
{
protected:
    TemporaryFolder folder;
    // Its folder is created; the letters a file URI gives a meaning stand for themselves.
    std::string file = folder.file("a%41?#b/c/registry.sqlite3");
    SqliteRegistry registry {file};
};

TEST_F(SqliteRegistryTest, AnswersAsTheModel)
{
    std::string name;
    std::vector<std::uint8_t> values;
    std::uint32_t type = 0; // looking makes no file
    EXPECT_EQ(registry.enumKey(Registry::kLocalMachine, 0, &name), Registry::kFileNotFound);
    EXPECT_EQ(registry.enumValue(Registry::kLocalMachine, 0, &name, &type, &values),
              Registry::kFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(folder.file("a%41?#b")));
    std::mt19937 random(20261206);
    for (int round = 0; round < 400; ++round) {
        MemoryRegistry model;
        std::vector<std::uint8_t> data(random() % 400);
        for (std::uint8_t &byte : data)
            byte = static_cast<std::uint8_t>(random());
        ASSERT_EQ(playStoreScenario(data.data(), data.size(), registry, model), "")
            << "round " << round;
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(file)); // where it was named
}

TEST_F(SqliteRegistryTest, EveryAncestorHasItsRowAndKeepsItsFirstCase)
{
    for (const char *path :
         {"SOFTWARE\\Talvern Software\\SELVANE", "software\\TALVERN SOFTWARE\\selvane"}) {
        Key key = 0;
        ASSERT_EQ(registry.createKey(Registry::kLocalMachine, path, &key), Registry::kSuccess);
        registry.closeKey(key);
    }
    std::vector<std::string> keys;
    for (const auto &entry : dumpRegistry(file))
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string> {
                        "HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\SOFTWARE",
                        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software",
                        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE"}));
    char header[20] = {};
    std::ifstream(file, std::ios::binary).read(header, sizeof header);
    EXPECT_EQ(header[18] * 10 + header[19], 22) << "write-ahead log";
    EXPECT_FALSE(SettingsStore(registry).WriteValue(std::string(256, 'n'), "Units", 1.0));
}

TEST_F(SqliteRegistryTest, ListingsFollowTheKeyAskedAndEveryWrite)
{
    Key a = 0, b = 0;
    ASSERT_EQ(registry.createKey(Registry::kLocalMachine, "a\\x", &a), Registry::kSuccess);
    ASSERT_EQ(registry.createKey(Registry::kLocalMachine, "b", &b), Registry::kSuccess);
    std::string name;
    std::vector<std::uint8_t> data;
    std::uint32_t type = 0;
    EXPECT_EQ(registry.enumKey(Registry::kLocalMachine, 0, &name), Registry::kSuccess);
    EXPECT_EQ(registry.enumKey(b, 0, &name), Registry::kNoMoreItems); // between the root's
    EXPECT_EQ(registry.enumKey(Registry::kLocalMachine, 1, &name), Registry::kSuccess);
    EXPECT_EQ(name, "b");
    for (const std::uint8_t byte : {'0', '1'}) { // a value written while listing is listed
        ASSERT_EQ(registry.setValue(b, {char(byte)}, 3, &byte, 1), Registry::kSuccess);
        EXPECT_EQ(registry.enumValue(b, byte - '0', &name, &type, &data), Registry::kSuccess);
    }
    EXPECT_EQ(name, "1");
    EXPECT_EQ(registry.deleteKey(Registry::kLocalMachine, "c"), Registry::kFileNotFound);
}

// SELVANE_REGISTRY, XDG_CONFIG_HOME and SELVANE_DEMO (null: unset) with HOME=/home/op, and
// the file they name.
struct PathRow
{
    const char *name, *registry, *config, *demo, *path;
};

using Paths = ::testing::TestWithParam<PathRow>;

TEST_P(Paths, FollowTheEnvironment)
{
    const SavedVariable saved[] = {SavedVariable("SELVANE_REGISTRY"), SavedVariable("HOME"),
                                   SavedVariable("XDG_CONFIG_HOME"), SavedVariable("SELVANE_DEMO")};
    setEnvironment("HOME", "/home/op");
    setEnvironment("SELVANE_REGISTRY", GetParam().registry);
    setEnvironment("XDG_CONFIG_HOME", GetParam().config);
    setEnvironment("SELVANE_DEMO", GetParam().demo);
    EXPECT_EQ(SqliteRegistry::defaultPath(), GetParam().path);
    EXPECT_EQ(openSystemRegistry()->location(), GetParam().path);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Paths, ::testing::Values(
    PathRow {"config_home", nullptr, "/cfg", nullptr, "/cfg/selvane/registry.sqlite3"},
    PathRow {"relative_config_home", nullptr, "relative/cfg", nullptr, "/home/op/.config/selvane/registry.sqlite3"},
    PathRow {"empty_config_home", nullptr, "", nullptr, "/home/op/.config/selvane/registry.sqlite3"},
    PathRow {"named_file", "/tmp/x.sqlite3", "/cfg", nullptr, "/tmp/x.sqlite3"},
    PathRow {"demo", nullptr, "/cfg", "1", "/cfg/selvane/demo.sqlite3"},
    PathRow {"demo_relative_config_home", nullptr, "relative/cfg", "1", "/home/op/.config/selvane/demo.sqlite3"},
    PathRow {"demo_without_config_home", nullptr, nullptr, "1", "/home/op/.config/selvane/demo.sqlite3"},
    PathRow {"demo_named_file", "/tmp/x.sqlite3", "/cfg", "1", "/tmp/x.sqlite3"},
    PathRow {"demo_0", nullptr, "/cfg", "0", "/cfg/selvane/registry.sqlite3"},
    PathRow {"demo_empty", nullptr, "/cfg", "", "/cfg/selvane/registry.sqlite3"},
    PathRow {"demo_yes", nullptr, "/cfg", "yes", "/cfg/selvane/registry.sqlite3"},
    PathRow {"demo_1_with_a_blank", nullptr, "/cfg", "1 ", "/cfg/selvane/registry.sqlite3"}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on

// Files the registry cannot use: every call fails, nothing crashes, nothing is changed (not
// even the journal mode of another program's database).
struct UnusableFile
{
    const char *name;
    void (*make)(const std::string &file);
};

using Unusable = ::testing::TestWithParam<UnusableFile>;

TEST_P(Unusable, EveryCallFailsCleanly)
{
    if (std::string_view(GetParam().name).find("another_user") != std::string_view::npos
        && ::getuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    TemporaryFolder folder;
    const std::string file = folder.file("registry.sqlite3");
    GetParam().make(file);
    // Every path in the folder with the bytes of each file: nothing made beside or inside.
    const auto bytes = [&folder] {
        std::stringstream content;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(folder.path())) {
            content << entry.path().string() << '\n';
            if (entry.is_regular_file())
                content << contents(entry.path()) << '\n';
        }
        return content.str();
    };
    const std::string before = bytes();
    SqliteRegistry registry(file);
    EXPECT_FALSE(registry.usable());
    Key key = 0;
    EXPECT_NE(registry.createKey(Registry::kLocalMachine, "SOFTWARE\\T", &key), Registry::kSuccess);
    EXPECT_NE(registry.openKey(Registry::kLocalMachine, "SOFTWARE", 0x2003F, &key),
              Registry::kSuccess);
    std::uint32_t size = 0;
    EXPECT_NE(registry.queryValue(key, "v", nullptr, nullptr, &size), Registry::kSuccess);
    EXPECT_NE(registry.setValue(key, "v", 1, nullptr, 0), Registry::kSuccess);
    EXPECT_NE(registry.deleteKey(Registry::kLocalMachine, "SOFTWARE"), Registry::kSuccess);
    // Said as the file's own fault, whatever failed in between.
    EXPECT_EQ(registry.closeKey(key), Registry::kInvalidHandle);
    const long again = registry.openKey(Registry::kLocalMachine, "SOFTWARE", 0x2003F, &key);
    EXPECT_TRUE(registry.reason(again).find("settings file") != std::string::npos)
        << registry.reason(again);
    EXPECT_TRUE(bytes() == before) << "not a byte of it changed";
}

void sqlite(const std::string &file, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, Unusable, ::testing::Values(
    UnusableFile {"not_a_database", [](const std::string &file) { std::ofstream(file) << std::string(8192, 'x'); }},
    UnusableFile {"truncated_header", [](const std::string &file) {
        SqliteRegistry(file).usable(); // makes the file
        std::filesystem::resize_file(file, 50);
    }},
    UnusableFile {"another_schema", [](const std::string &file) { sqlite(file, "CREATE TABLE notes(text TEXT)"); }},
    UnusableFile {"our_tables_other_columns", [](const std::string &file) { sqlite(file, "CREATE TABLE registry_key(id INTEGER); CREATE TABLE registry_value(id INTEGER)"); }},
    UnusableFile {"a_directory", [](const std::string &file) { std::filesystem::create_directory(file); }},
    UnusableFile {"another_users_settings_file", [](const std::string &file) {
        SqliteRegistry(file).usable(); // a good file, made here
        (void)::chown(file.c_str(), 65534, 65534);
    }},
    UnusableFile {"another_users_link_to_nothing_yet", [](const std::string &file) {
        std::filesystem::create_symlink(file + ".taken", file);
        (void)::lchown(file.c_str(), 65534, 65534);
    }}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on

TEST(SqliteRegistryFile, ReadOnlyFileIsReadButNotWrittenByAnOrdinaryUser)
{
    namespace fs = std::filesystem;
    if (::getuid() != 0)
        GTEST_SKIP() << "only root can become another user, for whom the file is read-only";
    TemporaryFolder top;
    const fs::path folder = top.path() / "odd %41?#"; // read through a URI, where these mean more
    fs::create_directory(folder);
    const std::string file = (folder / "registry.sqlite3").string();
    {
        SqliteRegistry registry(file);
        ASSERT_EQ(storeRaw(registry, "SELVANE", "v", 1, "a"), Registry::kSuccess);
    }
    auto other = std::make_unique<SqliteRegistry>(file); // another copy, still running
    ASSERT_EQ(storeRaw(*other, "SELVANE", "v", 1, "b"), Registry::kSuccess); // in its log
    ASSERT_TRUE(fs::exists(file + "-wal"));
    fs::permissions(folder, fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    // Read with the log, and once the other copy has closed, without the log's shared memory
    // that only a writable folder can hold.
    for (const bool logLeft : {true, false}) {
        if (!logLeft)
            other.reset();
        for (const auto &entry : fs::directory_iterator(folder))
            fs::permissions(entry.path(), fs::perms::group_write | fs::perms::others_write,
                            fs::perm_options::remove);
        EXPECT_EQ(asNobody([&] {
                      SqliteRegistry registry(file);
                      Key key = 0;
                      if (SettingsStore(registry).ReadValue("SELVANE", "v", "none") != "b")
                          return 2;
                      return int(registry.createKey(Registry::kLocalMachine, "SOFTWARE\\New", &key)
                                     == Registry::kSuccess
                                 || storeRaw(registry, "SELVANE", "v", 1, "c")
                                        == Registry::kSuccess);
                  }),
                  0)
            << "10: no way to become nobody; 2: not read; 1: written"
            << (logLeft ? ", with the log" : "");
    }
    EXPECT_FALSE(fs::exists(file + "-wal"));
    EXPECT_EQ(std::get<1>(contextValues(file, "SELVANE").at("v")), Bytes {'b'});
}

} // namespace
