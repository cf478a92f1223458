// SPDX-License-Identifier: MIT
// The SQLite registry answers as the Windows registry does where the settings store cannot
// tell (the model test covers the rest), and a file it cannot use never takes the program
// down.

#include "TestRegistry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sys/wait.h>

namespace {

using Key = Registry::Key;

class SqliteRegistryTest : public ::testing::Test
{
protected:
    TemporaryFolder folder;
    std::string file = folder.file("a/b/registry.sqlite3"); // its folder is created
    SqliteRegistry registry {file};

    Key create(const std::string &path)
    {
        Key key = 0;
        EXPECT_EQ(registry.createKey(Registry::kLocalMachine, path, &key), Registry::kSuccess);
        return key;
    }
    Key software()
    {
        Key key = 0;
        EXPECT_EQ(
            registry.openKey(Registry::kLocalMachine, "SOFTWARE", Registry::kStoreAccess, &key),
            Registry::kSuccess);
        return key;
    }
};

TEST_F(SqliteRegistryTest, EveryAncestorHasItsRowAndKeepsItsFirstCase)
{
    registry.closeKey(create("SOFTWARE\\Talvern Software\\SELVANE"));
    registry.closeKey(create("software\\TALVERN SOFTWARE\\selvane"));
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
}

TEST_F(SqliteRegistryTest, QueryFillsTheCallersBuffer)
{
    const Key key = create("SOFTWARE\\T");
    ASSERT_EQ(registry.setValue(key, "Name", 7, reinterpret_cast<const std::uint8_t *>("abc"), 4),
              Registry::kSuccess);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(registry.queryValue(key, "name", &type, nullptr, &size), Registry::kSuccess);
    EXPECT_EQ(size, 4u) << "no buffer: the size needed";
    EXPECT_EQ(type, 7u) << "any type is kept as stored";
    std::uint8_t buffer[4] {};
    size = 3;
    EXPECT_EQ(registry.queryValue(key, "Name", nullptr, buffer, &size), Registry::kMoreData);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(registry.queryValue(key, "Name", nullptr, buffer, &size), Registry::kSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), size), std::string("abc", 4));
    EXPECT_EQ(registry.queryValue(key, "Missing", nullptr, buffer, &size), Registry::kFileNotFound);
    EXPECT_EQ(registry.closeKey(key), Registry::kSuccess);
    EXPECT_EQ(registry.closeKey(key), Registry::kInvalidHandle);
    EXPECT_EQ(registry.setValue(key, "a", 1, nullptr, 0), Registry::kInvalidHandle);
}

TEST_F(SqliteRegistryTest, DeleteRefusesKeysWithSubkeysAndTakesTheValuesAlong)
{
    registry.closeKey(create("SOFTWARE\\T\\Child"));
    registry.closeKey(create("SOFTWARE\\T_x")); // no pattern matching on names
    registry.closeKey(create("SOFTWARE\\T%"));
    const Key key = create("SOFTWARE\\T");
    ASSERT_EQ(registry.setValue(key, "a", 1, reinterpret_cast<const std::uint8_t *>("1"), 1),
              Registry::kSuccess);
    EXPECT_EQ(registry.deleteKey(software(), "T"), Registry::kAccessDenied);
    EXPECT_EQ(registry.deleteKey(software(), "t\\child"), Registry::kSuccess);
    EXPECT_EQ(registry.deleteKey(software(), "T"), Registry::kSuccess);
    EXPECT_EQ(registry.deleteKey(software(), "T"), Registry::kFileNotFound);
    EXPECT_EQ(registry.deleteKey(Registry::kLocalMachine, ""), Registry::kAccessDenied);
    EXPECT_EQ(registry.setValue(key, "b", 1, nullptr, 0), Registry::kKeyDeleted)
        << "a handle to a deleted key";
    registry.closeKey(create("SOFTWARE\\T"));
    EXPECT_TRUE(dumpRegistry(file).at("HKEY_LOCAL_MACHINE\\SOFTWARE\\T").empty());
}

struct BadName
{
    const char *name;
    std::string subKey;
    long error;
};

class KeyNames : public SqliteRegistryTest, public ::testing::WithParamInterface<BadName>
{
};

TEST_P(KeyNames, AreCheckedPerComponent)
{
    Key key = 0;
    EXPECT_EQ(registry.createKey(Registry::kLocalMachine, GetParam().subKey, &key),
              GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Names, KeyNames,
    ::testing::Values(
        BadName {"component_255", "S\\" + std::string(255, 'k'), Registry::kSuccess},
        BadName {"component_256", "S\\" + std::string(256, 'k'), Registry::kInvalidParameter},
        BadName {"long_path_short_parts", std::string(200, 'a') + "\\" + std::string(200, 'b'),
                 Registry::kSuccess},
        BadName {"empty_component", "S\\\\T", Registry::kInvalidParameter}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(SqliteRegistryPath, FollowsTheEnvironment)
{
    const auto setEnv = [](const char *name, const char *value) {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    };
    setEnv("SELVANE_REGISTRY", nullptr);
    setEnv("HOME", "/home/op");
    setEnv("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(SqliteRegistry::defaultPath(), "/cfg/selvane/registry.sqlite3");
    setEnv("XDG_CONFIG_HOME", "relative/cfg");
    EXPECT_EQ(SqliteRegistry::defaultPath(), "/home/op/.config/selvane/registry.sqlite3");
    setEnv("XDG_CONFIG_HOME", "");
    EXPECT_EQ(SqliteRegistry::defaultPath(), "/home/op/.config/selvane/registry.sqlite3");
    setEnv("SELVANE_REGISTRY", "/tmp/x.sqlite3");
    EXPECT_EQ(SqliteRegistry::defaultPath(), "/tmp/x.sqlite3");
    setEnv("SELVANE_REGISTRY", nullptr);
}

// Files the registry cannot use: every call fails, nothing crashes, nothing is added.
struct UnusableFile
{
    const char *name;
    void (*make)(const std::string &file);
};

void writeBytes(const std::string &file, const std::string &bytes)
{
    std::ofstream(file, std::ios::binary) << bytes;
}

class Unusable : public ::testing::TestWithParam<UnusableFile>
{
};

TEST_P(Unusable, EveryCallFailsCleanly)
{
    TemporaryFolder folder;
    const std::string file = folder.file("registry.sqlite3");
    GetParam().make(file);
    const auto sizeBefore =
        std::filesystem::is_regular_file(file) ? std::filesystem::file_size(file) : 0;

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
    if (std::filesystem::is_regular_file(file)) {
        EXPECT_EQ(std::filesystem::file_size(file), sizeBefore) << "nothing was added";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, Unusable,
    ::testing::Values(UnusableFile {"random_bytes",
                                    [](const std::string &file) {
                                        std::mt19937 random(42);
                                        std::string bytes(8192, '\0');
                                        for (char &byte : bytes)
                                            byte = static_cast<char>(random());
                                        writeBytes(file, bytes);
                                    }},
                      UnusableFile {"truncated_header",
                                    [](const std::string &file) {
                                        {
                                            SqliteRegistry good(file);
                                            Key key = 0;
                                            good.createKey(Registry::kLocalMachine, "SOFTWARE",
                                                           &key);
                                        }
                                        std::filesystem::resize_file(file, 50);
                                    }},
                      UnusableFile {"another_schema",
                                    [](const std::string &file) {
                                        sqlite3 *db = nullptr;
                                        sqlite3_open(file.c_str(), &db);
                                        sqlite3_exec(db, "CREATE TABLE notes(text TEXT)", nullptr,
                                                     nullptr, nullptr);
                                        sqlite3_close(db);
                                    }},
                      UnusableFile {"our_tables_other_columns",
                                    [](const std::string &file) {
                                        sqlite3 *db = nullptr;
                                        sqlite3_open(file.c_str(), &db);
                                        sqlite3_exec(db,
                                                     "CREATE TABLE registry_key(id INTEGER);"
                                                     "CREATE TABLE registry_value(id INTEGER);",
                                                     nullptr, nullptr, nullptr);
                                        sqlite3_close(db);
                                    }},
                      UnusableFile {"a_directory",
                                    [](const std::string &file) {
                                        std::filesystem::create_directory(file);
                                    }}),
    [](const auto &row) { return std::string(row.param.name); });

/** Runs `body` in a child process and gives its exit status (0: all its checks held). */
template<typename Body>
int inChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(SqliteRegistryFile, ReadOnlyFileRefusesWritesToAnOrdinaryUser)
{
    TemporaryFolder folder;
    const std::string file = folder.file("registry.sqlite3");
    {
        SqliteRegistry registry(file);
        Key key = 0;
        ASSERT_EQ(registry.createKey(Registry::kLocalMachine, "SOFTWARE\\T", &key),
                  Registry::kSuccess);
        ASSERT_EQ(registry.setValue(key, "v", 1, reinterpret_cast<const std::uint8_t *>("a"), 1),
                  Registry::kSuccess);
        registry.closeKey(key);
    }
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_all
                                                    | std::filesystem::perms::group_read
                                                    | std::filesystem::perms::group_exec
                                                    | std::filesystem::perms::others_read
                                                    | std::filesystem::perms::others_exec);
    for (const auto &entry : std::filesystem::directory_iterator(folder.path()))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_read
                                                       | std::filesystem::perms::group_read
                                                       | std::filesystem::perms::others_read);
    const int status = inChild([&] {
        // Root ignores file permissions: the check runs as nobody.
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 10;
        SqliteRegistry registry(file);
        Key key = 0;
        if (registry.createKey(Registry::kLocalMachine, "SOFTWARE\\New", &key)
            == Registry::kSuccess)
            return 11;
        if (registry.openKey(Registry::kLocalMachine, "SOFTWARE\\T", 0x2003F, &key)
            == Registry::kSuccess) {
            if (registry.setValue(key, "v", 1, reinterpret_cast<const std::uint8_t *>("b"), 1)
                == Registry::kSuccess)
                return 12;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
    const RegistryDump dump = dumpRegistry(file);
    EXPECT_EQ(std::get<1>(dump.at("HKEY_LOCAL_MACHINE\\SOFTWARE\\T").at("v")),
              std::vector<unsigned char> {'a'});
}

TEST(SqliteRegistryFile, CopiesWritingAtTheSameMomentAllSucceed)
{
    TemporaryFolder folder;
    const std::string file = folder.file("registry.sqlite3");
    constexpr int kCopies = 4;
    constexpr int kValues = 60;
    std::vector<pid_t> children;
    for (int copy = 0; copy < kCopies; ++copy) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            SqliteRegistry registry(file);
            const std::string context =
                "SOFTWARE\\Talvern Software\\SELVANE - " + std::to_string(copy);
            for (int i = 0; i < kValues; ++i) {
                Key key = 0;
                if (registry.createKey(Registry::kLocalMachine, context, &key)
                    != Registry::kSuccess)
                    ::_exit(1);
                const std::string value = std::to_string(i);
                if (registry.setValue(key, "v" + value, 1,
                                      reinterpret_cast<const std::uint8_t *>(value.data()),
                                      static_cast<std::uint32_t>(value.size()))
                    != Registry::kSuccess)
                    ::_exit(2);
                registry.closeKey(key);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    const RegistryDump dump = dumpRegistry(file);
    for (int copy = 0; copy < kCopies; ++copy) {
        const std::string key = std::string(kContextPath) + "SELVANE - " + std::to_string(copy);
        ASSERT_TRUE(dump.count(key));
        EXPECT_EQ(dump.at(key).size(), std::size_t(kValues));
    }
}

} // namespace
