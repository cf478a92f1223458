// SPDX-License-Identifier: MIT
// The operator's tools as their users meet them: selvane-scan over the simulated bus, and
// selvane-settings moving a store's settings through registry export files and back.

#include "PlatformRegistry.h"
#include "SimDriver.h"
#include "gpib/GpibStatus.h"
#include "settings/InstanceLock.h"
#include "tools/RegFile.h"
#include "tools/ScanTool.h"
#include "tools/SettingsTool.h"
#include "tools/ToolOutput.h"
#include "tools/ToolText.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

#if !defined(_WIN32)
#include <dlfcn.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

// The disk failing fsync on the file an export makes beside its target (".out.reg.*"):
// the call, and the errno it then sets (negative: the signal that ends the tool there).
static std::pair<std::string, int> g_diskFault;

static bool faulted(const char *call, int fd, const char *path = "")
{
    char link[4096] = {};
    if (g_diskFault.first != call
        || (fd >= 0 && ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, 4095) < 0)
        || !std::strstr(fd >= 0 ? link : path, "/.out.reg."))
        return false;
    if (g_diskFault.second < 0)
        std::raise(-g_diskFault.second);
    errno = g_diskFault.second;
    return true;
}

template<typename Call>
Call next(const char *name)
{
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
}

extern "C" int fsync(int fd)
{
    return faulted("fsync", fd) ? -1 : next<int (*)(int)>("fsync")(fd);
}
#endif

namespace {

const std::string kBench = "SELVANE - Bench";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kBenchKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE - Bench]\n";

/** Text as UTF-16LE with its byte-order mark, as regedit writes its files. */
std::string utf16le(std::u16string_view text, bool mark = true)
{
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (const char16_t c : text)
        bytes += {char(c & 0xFF), char(c >> 8)};
    return bytes;
}

/** `part` in the message, or with no part, no message at all. */
void expectMessage(const std::string &message, const std::string &part)
{
    if (part.empty())
        EXPECT_EQ(message, "");
    else
        EXPECT_NE(message.find(part), std::string::npos) << message;
}

struct Scan
{
    const char *name, *devices, *faults;
    std::vector<std::string> args;
    const char *library; ///< null: the simulated bus
    int code;
    const char *out, *err; ///< err: a part of it, or empty for none
    const char *lastCall; ///< empty: the driver is never called
};

using Scans = ::testing::TestWithParam<Scan>;

TEST_P(Scans, ListTheListenersOrSayWhyNot)
{
    const Scan &row = GetParam();
    SimDriver().reset();
    GpibStatus = {};
    const TemporaryFolder folder;
    const std::string trace = folder.file("trace.jsonl");
    SimSettings sim(row.devices, trace, row.faults);
    setEnvironment("SELVANE_GPIB_LIBRARY", row.library ? row.library : SELVANE_SIM_LIBRARY);
    std::ostringstream out, err;
    EXPECT_EQ(ScanTool::run(row.args, out, err), row.code);
    setEnvironment("SELVANE_GPIB_LIBRARY", nullptr);
    EXPECT_EQ(out.str(), row.out);
    expectMessage(err.str(), row.err);
    const std::vector<std::string> calls = readTrace(trace);
    EXPECT_EQ(calls.empty() ? "" : calls.back(), row.lastCall);
    for (const std::string &call : calls) // it only ever asks
        EXPECT_TRUE(call.rfind("ibln(", 0) == 0 || call.rfind("ibonl(", 0) == 0
                    || call.rfind("Register", 0) == 0 || call.rfind("Unregister", 0) == 0)
            << call;
}

#if defined(_WIN32) // NI's ibcntl is not the system's errno
const char *const kNoDeviceFile = "board 0 cannot be used: the driver answered EDVR\n";
#else
const char *const kNoDeviceFile =
    "board 0 cannot be used: the driver answered EDVR (No such file or directory)\n";
#endif

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Scans, ::testing::Values(
    Scan {"primary_addresses", "0:7:0 0:9:97 1:3:0", "", {}, nullptr, 0, "0:7:0\n", "", "ibonl(0,0)"},
    Scan {"secondary_too", "0:7:0 0:9:97 1:3:0", "", {"--secondary"}, nullptr, 0, "0:7:0\n0:9:97\n", "", "ibonl(0,0)"},
    Scan {"another_board", "0:7:0 1:3:0 1:30:126", "", {"1", "--secondary"}, nullptr, 0, "1:3:0\n1:30:126\n", "", "ibonl(1,0)"},
    Scan {"nobody_listens", "", "", {}, nullptr, 0, "", "no listener on board 0", "ibonl(0,0)"},
    Scan {"no_such_board", "0:7:0", "", {"4"}, nullptr, 1, "", "board 4 cannot be used: the driver answered ENEB\n", "ibonl(4,0) ERR"},
    Scan {"driver_without_board", "0:7:0", "ibln=0", {}, nullptr, 1, "", "board 0 cannot be used: the driver answered EDVR\n", "ibonl(0,0)"},
    Scan {"board_without_its_device_file", "0:7:0", "ibln=0:2", {}, nullptr, 1, "", kNoDeviceFile, "ibonl(0,0)"},
    Scan {"driver_missing", "0:7:0", "", {}, "/nonexistent/libgpib.so.0", 2, "", "File not found: /nonexistent/libgpib.so.0\nSELVANE_GPIB_LIBRARY is set to /nonexistent/libgpib.so.0, which could not be loaded: ", ""},
    Scan {"help_before_anything_else", "0:7:0", "", {"-h", "--all"}, nullptr, 0, ScanTool::kUsageText, "", ""},
    Scan {"version", "0:7:0", "", {"--version", "--all"}, nullptr, 0, "selvane-scan " SELVANE_VERSION_TEXT "\n", "", ""},
    Scan {"unknown_option", "0:7:0", "", {"--all"}, nullptr, 64, "", "unexpected argument '--all'\nUsage: selvane-scan", ""},
    Scan {"negative_board", "0:7:0", "", {"-1"}, nullptr, 64, "", "unexpected argument '-1'", ""},
    Scan {"options_ended", "0:7:0 1:3:0", "", {"--", "1"}, nullptr, 0, "1:3:0\n", "", "ibonl(1,0)"},
    Scan {"offline_refused", "0:7:0", "ibonl=0", {}, nullptr, 1, "0:7:0\n", "board 0 could not be taken offline: the driver answered EDVR\n", "ibonl(0,0) ERR"}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on

/** A store of the test's own, and selvane-settings run on it. */
class SettingsTest : public ::testing::Test
{
protected:
#if !defined(_WIN32)
    // A tool that writes the same bytes for ever fails at 16 MiB, as on a full disk, instead
    // of filling the machine's.
    void SetUp() override
    {
        ::getrlimit(RLIMIT_FSIZE, &m_fileSize);
        const rlimit small {16 << 20, m_fileSize.rlim_max}; // the soft limit only: undone after
        std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    void TearDown() override
    {
        ::setrlimit(RLIMIT_FSIZE, &m_fileSize);
    }
    rlimit m_fileSize {};
#endif

    int settings(const std::vector<std::string> &args, Registry *other = nullptr,
                 bool terminal = false)
    {
        out.str("");
        err.str("");
        return SettingsTool::run(args, other ? *other : registry.registry, out, err, terminal);
    }
    std::string file(const std::string &name, const std::string &bytes)
    {
        const std::string path = registry.folder.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    RegistryDump dump()
    {
        return dumpRegistry(registry.folder.file("registry.sqlite3"));
    }

    PlatformRegistry registry;
    SettingsStore store {registry.registry};
    std::ostringstream out, err;
};

TEST_F(SettingsTest, ExportThenImportGivesTheStoreBackInEitherView)
{
    // In the order of their names, which is the order the Windows registry lists them in.
    store.WriteValue(kBench, "1.A1.label", systemText("Prüfling \"B\" \\ 2"));
    store.WriteValue(kBench, "1.A2.label", "");
    store.WriteValue(kBench, "Units", 3.0);
    store.WriteValue(kBench, "X", -150.0);
    store.WriteValue("SELVANE", "Units", 1.0); // another instance: not exported
    const RegistryDump before = dump();
    for (const bool wow64 : {false, true}) {
        SCOPED_TRACE(wow64);
        const std::string path = registry.folder.file("bench.reg");
        std::vector<std::string> exportArgs {"export", "Bench"};
        if (wow64)
            exportArgs.push_back("--wow64");
        ASSERT_EQ(settings(exportArgs), 0);
        const std::string exported = out.str();
        if (!wow64) { // as regedit writes it, byte for byte
            EXPECT_EQ(exported, utf16le(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\"
                                        u"SELVANE - Bench]\r\n"
                                        u"\"1.A1.label\"=\"Prüfling \\\"B\\\" \\\\ 2\"\r\n"
                                        u"\"1.A2.label\"=\"\"\r\n\"Units\"=dword:00000003\r\n"
                                        u"\"X\"=dword:ffffff6a\r\n\r\n"));
        }
        EXPECT_EQ(exported.find(utf16le(
                      u"\\SOFTWARE\\WOW6432Node\\Talvern Software\\SELVANE - Bench]", false))
                      != std::string::npos,
                  wow64);
        exportArgs.insert(exportArgs.end(), {"-o", path});
        ASSERT_EQ(settings(exportArgs), 0) << err.str();
        EXPECT_EQ(contents(path), exported);
        store.DeleteContext(kBench);
        ASSERT_EQ(settings({"import", path}), 0) << err.str();
        EXPECT_EQ(dump(), before);
        ASSERT_EQ(settings({exportArgs.begin(), exportArgs.end() - 2}), 0);
        EXPECT_EQ(out.str(), exported);
        ASSERT_EQ(settings({exportArgs.begin(), exportArgs.end() - 2}, nullptr, true), 0);
        std::string shown; // on a terminal, the same text in UTF-8
        for (const char c : out.str())
            shown += c == '\n' ? std::string("\r\n") : std::string(1, c);
        EXPECT_EQ(utf16le(ToolText::utf16(shown).value_or(u"?")), exported);
    }
}

TEST_F(SettingsTest, AFileAsRegeditWritesItImports)
{
#if defined(_WIN32) // the ANSI code page has none of the letters at each UTF-8 length's ends
    const std::u16string edges = u"x";
    const char *const edgesStored = "x";
#else
    const std::u16string edges = u"\u0080\u07FF\u0800\U00010000\U0010FFFF";
    const char *const edgesStored = "\u0080\u07FF\u0800\U00010000\U0010FFFF";
#endif
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                          u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Talvern Software\\"
                          u"SELVANE - Bench]\r\n\"Units\"=dword:00000002\r\n"
                          u"\"1.A1.label\"=\"50 µA \\\"max\\\"\"\r\n\"1.PAd\"=dword:0000001E\r\n"
                          u"\"units\"=dword:00000002\r\n\"1.A2.label\"=\""
                          + std::u16string(1023, u'x') + u"\"\r\n\"1.B1.label\"=\"" + edges
                          + u"\"\r\n\r\n";
    const std::string path = file("regedit.reg", utf16le(text));
    ASSERT_EQ(settings({"import", path}), 0) << err.str();
    EXPECT_EQ(out.str(), "selvane-settings: 5 values imported from " + path + "\n");
    EXPECT_EQ(store.ReadValue(kBench, "1.A2.label", "?"), std::string(1023, 'x')); // the longest
    EXPECT_EQ(store.ReadValue(kBench, "Units", std::int32_t(0)), 2);
    EXPECT_EQ(store.ReadValue(kBench, "1.PAd", std::int32_t(0)), 30);
    EXPECT_EQ(store.ReadValue(kBench, "1.A1.label", "?"), systemText("50 µA \"max\""));
    EXPECT_EQ(store.ReadValue(kBench, "1.B1.label", "?"), edgesStored);
}

TEST_F(SettingsTest, ListShowsEachInstanceWithItsUnitCount)
{
    store.WriteValue("SELVANE", "Units", 1.0);
    store.WriteValue(kBench, "Units", 3.0);
    store.WriteValue("SELVANE - Lab 2", "Units", 7.0);
    store.WriteValue("SELVANEX", "Units", 2.0); // not the panel's
    store.WriteValue("SELVANF", "Units", 2.0); // nor this, as long as the panel's own name
    store.WriteValue("selvane - bench9", "Units", 2.0); // the panel's too: the case is free
    store.WriteValue("SELVANE - Tab\t\"x\"\r\n", "Units", 1.0);
    ASSERT_EQ(settings({"list"}), 0);
    EXPECT_EQ(out.str(), "\"\"\t1 unit\tthe default instance (selvane started without a name)\n"
                         "\"Bench\"\t3 units\n\"bench9\"\t2 units\n"
                         "\"Lab 2\"\tno unit count chosen\n\"Tab\\t\\\"x\\\"\\r\\n\"\t1 unit\n");
}

TEST_F(SettingsTest, SetAndUnsetChangeOneValueAndKeepTheRest)
{
    store.WriteValue(kBench, "1.A1.label", "Load");
    for (const auto &[name, value] : {std::pair {"Units", "2"},
                                      {"X", "-150"},
                                      {"Note", "-"},
                                      {"1.b2.LABEL", "42"},
                                      {"2.A.title", "7"}})
        ASSERT_EQ(settings({"set", "Bench", name, value}), 0) << err.str();
    ASSERT_EQ(settings({"set", "--", "", "SCPIPort", "5025"}), 0) << err.str();
    EXPECT_EQ(store.ReadValue(kBench, "Units", std::int32_t(0)), 2);
    EXPECT_EQ(store.ReadValue(kBench, "X", std::int32_t(0)), -150);
    EXPECT_EQ(store.ReadValue(kBench, "1.A1.label", "?"), "Load");
    for (const auto &[name, text] :
         {std::pair {"Note", "-"}, {"1.B2.label", "42"}, {"2.A.title", "7"}})
        EXPECT_EQ(store.ReadValue(kBench, name, "?"), text); // texts, whatever the letters
    EXPECT_EQ(store.ReadValue("SELVANE", "SCPIPort", std::int32_t(0)), 5025);
    ASSERT_EQ(settings({"unset", "Bench", "x"}), 0) << err.str();
    EXPECT_EQ(store.ReadValue(kBench, "X", std::int32_t(7)), 7);
    EXPECT_EQ(store.ReadValue(kBench, "Units", std::int32_t(0)), 2);
    EXPECT_TRUE(out.str().empty() && err.str().empty());
}

TEST_F(SettingsTest, AnImportKeepsWhatARunningPanelStored)
{
    // The panel's own connection to the store, open across the import.
    const std::unique_ptr<Registry> panelRegistry = openSystemRegistry();
    const SettingsStore panel(*panelRegistry);
    ASSERT_TRUE(panel.WriteValue(kBench, "X", 300.0));
    const std::string path = file("in.reg", kHeader + kBenchKey + "\"1.A1.label\"=\"Load\"\n");
    ASSERT_EQ(settings({"import", path}), 0) << err.str();
    EXPECT_TRUE(panel.WriteValue(kBench, "Y", 450.0)); // not locked out afterwards
    EXPECT_EQ(panel.ReadValue(kBench, "X", std::int32_t(0)), 300);
    EXPECT_EQ(panel.ReadValue(kBench, "1.A1.label", "?"), "Load");
    EXPECT_EQ(store.ReadValue(kBench, "Y", std::int32_t(0)), 450);
}

// Each refused line follows a good value, which must not be stored either.
std::string kGoodImport()
{
    return kHeader + kBenchKey + "\"Units\"=dword:00000001\n";
}
const std::string kGood = kGoodImport();
#if defined(_WIN32)
const char *const kDemoStore = "HKEY_CURRENT_USER\\SOFTWARE\\Talvern Software\n";
#else
const char *const kDemoStore = "/selvane/demo.sqlite3\n";
#endif
struct Answer
{
    const char *name;
    std::function<void(Registry &)> seed; ///< null: nothing is there before
    std::vector<std::string> args; ///< "FOLDER" stands for the test's folder
    int code;
    const char *err; ///< a part of it
    bool output = false; ///< something on standard output
    std::optional<std::string> file = {}; ///< written as FOLDER/in.reg first
    const char *why = ""; ///< a later part of the message
    bool demo = false; ///< run on the store SELVANE_DEMO=1 opens, in the config folder FOLDER
    const char *out = ""; ///< how standard output begins
};

class Answers : public SettingsTest, public ::testing::WithParamInterface<Answer>
{
};

TEST_P(Answers, SayWhatHappenedAndMakeNothingThatWasNotAsked)
{
    const Answer &row = GetParam();
#if defined(_WIN32)
    if (std::string_view(row.name).find("settings_file") != std::string_view::npos)
        GTEST_SKIP() << "the registry is no file";
    if (std::string_view(row.name).find("code_page") != std::string_view::npos
        && GetACP() == CP_UTF8)
        GTEST_SKIP() << "this system's code page holds every letter";
#endif
    if (row.seed)
        row.seed(registry.registry);
    if (row.file)
        file("in.reg", *row.file);
    std::vector<std::string> args = row.args;
    for (std::string &arg : args) {
        if (arg.rfind("FOLDER", 0) == 0)
            arg.replace(0, 6, registry.folder.path().string());
    }
    const SavedVariable saved[] = {SavedVariable("SELVANE_DEMO"), SavedVariable("SELVANE_REGISTRY"),
                                   SavedVariable("XDG_CONFIG_HOME")};
    std::unique_ptr<Registry> demo;
    if (row.demo) { // the panel's own store in the folder stays as it is
        setEnvironment("SELVANE_DEMO", "1");
        setEnvironment("SELVANE_REGISTRY", nullptr);
        setEnvironment("XDG_CONFIG_HOME", registry.folder.path().string().c_str());
        demo = openSystemRegistry();
    }
    const RegistryDump before = dump();
    [[maybe_unused]] const bool made =
        std::filesystem::exists(registry.folder.file("registry.sqlite3"));
    EXPECT_EQ(settings(args, demo.get()), row.code) << err.str();
    EXPECT_NE(err.str().find(row.err), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(row.why, err.str().find(row.err)), std::string::npos) << err.str();
    EXPECT_EQ(out.str().empty(), !row.output);
    EXPECT_EQ(out.str().rfind(row.out, 0), 0u) << out.str();
    EXPECT_EQ(dump(), before); // all or nothing: none of these changes the store
#if !defined(_WIN32) // there the test's registry file only marks a test's first start
    EXPECT_EQ(std::filesystem::exists(registry.folder.file("registry.sqlite3")), made);
#endif
}

void seedBench(Registry &registry)
{
    SettingsStore(registry).WriteValue(kBench, "Units", 3.0);
}

/** A store that refuses one value, as another program's trigger might make it, and a file
    whose good values come before that one. */
void refuseOneValue(Registry &registry)
{
    seedBench(registry);
    const std::string folder = std::filesystem::path(registry.location()).parent_path().string();
    std::ofstream(folder + "/in.reg")
        << kGoodImport() << "\"1.A1.label\"=\"Load\"\n\"Refused\"=\"x\"\n";
#if !defined(_WIN32)
    refuseValue(registry.location(), "Refused");
#endif
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Answers, ::testing::Values(
    Answer {"key_below_instance_left_out", [](Registry &registry) {
        seedBench(registry);
        storeRaw(registry, kBench + "\\Notes", "Count", Registry::kDword, "\x01\x02\x03\x04");
    }, {"export", "Bench", "-o", "FOLDER/out.reg"}, 1, "left out HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE - Bench\\Notes: a key below an instance"},
    Answer {"value_it_cannot_carry_left_out", [](Registry &registry) {
        seedBench(registry);
        storeRaw(registry, kBench, "Blob", 3, "\x01\x02");
    }, {"export", "Bench"}, 1, "left out HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE - Bench\\Blob: not a text or number the file can carry exactly", true},
    Answer {"write_refused_half_way_in_the_settings_file", refuseOneValue,
        {"import", "FOLDER/in.reg"}, 1, "registry.sqlite3: constraint failed; nothing imported"},
    Answer {"name_with_line_break", [](Registry &registry) { storeRaw(registry, "SELVANE - a\nb", "Units", 4, std::string("\1\0\0\0", 4)); },
        {"export", "a\nb"}, 1, "\"a\\nb\" holds a line break, which a registry file cannot carry; nothing exported"},
    Answer {"name_with_backslash", [](Registry &registry) { storeRaw(registry, "SELVANE - a\\b", "Units", 4, std::string("\1\0\0\0", 4)); },
        {"export", "a\\b"}, 1, "a backslash nests keys: the store keeps instance \"a\\\\b\" as key \"b\" below instance \"a\""},
    Answer {"name_too_long", seedBench, {"export", std::string(246, 'n')}, 1, "instance name longer than 255 characters"},
    Answer {"a_damaged_settings_file", [](Registry &registry) { std::ofstream(registry.location()) << std::string(8192, 'x'); },
        {"list"}, 1, "registry.sqlite3: damaged, or not a settings file\n"},
    Answer {"list_without_a_store", nullptr, {"list"}, 1, "no settings at "},
    Answer {"list_of_the_demos_own_store", seedBench, {"list"}, 1, "no settings at ", false, {}, kDemoStore, true},
    Answer {"export_without_a_store", nullptr, {"export", "Bench"}, 1, "no settings at "},
    Answer {"set_a_number_the_store_cannot_hold", seedBench, {"set", "Bench", "X", "2147483648"}, 1, "a number from -2147483648 to 2147483647 is needed; nothing set"},
    Answer {"set_a_name_with_a_line_break", seedBench, {"set", "Bench", "a\nb", "1"}, 1, "the name holds a NUL or a line break; nothing set"},
    Answer {"set_a_name_too_long_for_an_instance", seedBench, {"set", std::string(246, 'n'), "X", "1"}, 1, "instance name longer than 255 characters"},
    Answer {"unset_of_a_value_not_stored", seedBench, {"unset", "Bench", "Y"}, 1, "instance \"Bench\" holds no value \"Y\" at ", false, {}, "; nothing removed\n"},
    Answer {"unset_without_a_store", nullptr, {"unset", "", "Units"}, 1, "no settings at "},
    Answer {"usage_for_a_bare_set", nullptr, {"set"}, 64, "Usage: selvane-settings list\n"},
    Answer {"usage_for_a_set_without_its_value", nullptr, {"set", "--", "Bench", "X"}, 64, "Usage: selvane-settings list\n"},
    Answer {"export_of_an_instance_not_stored", seedBench, {"export", "Lab"}, 1, "no settings stored for instance \"Lab\" at "},
    Answer {"import_of_a_directory", seedBench, {"import", "FOLDER"}, 1, " is a directory; nothing imported"},
    Answer {"help", nullptr, {"--help"}, 0, "", true, {}, "", false, "Usage: selvane-settings list\n"},
    Answer {"help_short", nullptr, {"-h"}, 0, "", true, {}, "", false, "Usage: selvane-settings list\n"},
    Answer {"version", nullptr, {"--version"}, 0, "", true, {}, "", false, "selvane-settings " SELVANE_VERSION_TEXT "\n"},
    Answer {"usage_without_a_command", nullptr, {}, 64, "Usage: selvane-settings list\n"},
    Answer {"usage_for_a_name_after_list", nullptr, {"list", "Bench"}, 64, "Usage: selvane-settings list\n"},
    Answer {"usage_for_an_import_of_nothing", nullptr, {"import"}, 64, "Usage: selvane-settings list\n"},
    Answer {"usage_for_an_output_without_a_file", nullptr, {"export", "-o"}, 64, "Usage: selvane-settings list\n"},
    Answer {"usage_for_two_names", nullptr, {"export", "A", "B"}, 64, "Usage: selvane-settings list\n"},
    Answer {"usage_for_an_unknown_command", nullptr, {"backup"}, 64, "Usage: selvane-settings list\n"},
    Answer {"import_of_nothing", seedBench, {"import", "--", "FOLDER/none.reg"}, 1, "none.reg: No such file or directory"},
    Answer {"not_an_export", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:1: ", false, "REGEDIT4\n\n" + kBenchKey, "must begin with"},
    Answer {"empty_file", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:1: ", false, "", "empty"},
    Answer {"key_elsewhere", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n", "not under HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software"},
    Answer {"root_look_alike", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Softwares]\n", "not under"},
    Answer {"empty_key_name", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\]\n", "empty"},
    Answer {"key_below_instance", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE - Bench\\sub\\deeper]\n", "a key below an instance"},
    Answer {"nul_in_key_name", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:3: ", false, utf16le(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE - Bench" + std::u16string(1, u'\0') + u"]\r\n"), "holds a NUL or a line break"},
    Answer {"cr_in_text", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"A\"=\"x\ry\"\n", "holds a NUL or a line break"},
    Answer {"text_too_long", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"A\"=\"" + std::string(1024, 'x') + "\"\n", "longer than 1,023 bytes"},
    Answer {"value_name_too_long", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"" + std::string(16384, 'n') + "\"=dword:00000001\n", "longer than 16,383 characters"},
    Answer {"binary_value", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"Blob\"=hex:01,02\n", "kind the panel does not store (hex)"},
    Answer {"expandable_text", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"Path\"=hex(2):41,00,00,00\n", "(hex(2))"},
    Answer {"deleted_value", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"Units\"=-\n", "deleting a value"},
    Answer {"deleted_key", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE]\n", "deleting a key"},
    Answer {"value_before_key", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:3: ", false, kHeader + "\"Units\"=dword:00000001\n", "before the first key"},
    Answer {"unclosed_text", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"A\"=\"open\n", "malformed"},
    Answer {"other_escape", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"A\"=\"a\\qb\"\n", "malformed"},
    Answer {"long_dword", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"Units\"=dword:123456789\n", "1 to 8 hexadecimal digits"},
    Answer {"not_a_value", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "Units=3\n", "not a key, a value or a comment"},
    Answer {"utf8_sequence_cut_short", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"A\"=\"\xC3\"\n", "not UTF-16LE"},
    Answer {"not_utf8", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:6: ", false, kGood + "; fine\n\"A\"=\"\xFF\"\n", "not UTF-16LE"},
    Answer {"lone_surrogate", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:4: ", false, utf16le(u"Windows Registry Editor Version 5.00\r\n\r\n[x]\r\n\"A\"=\"\xD800\"\r\n"), "not UTF-16LE"},
    Answer {"odd_length_utf16", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:3: ", false, utf16le(u"Windows Registry Editor Version 5.00\r\n\r\n") + "[", "not UTF-16LE"}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on

#if !defined(_WIN32)
/** Another user's file in the lock's place (as anyone but root, whose files are all its own,
    a FIFO, which gets the same answer). */
void plantForeignLock(Registry &registry)
{
    seedBench(registry);
    const std::string lock = registry.location() + ".lock";
    ::getuid() == 0 ? void((std::ofstream(lock), ::chown(lock.c_str(), 65534, 65534)))
                    : void(::mkfifo(lock.c_str(), 0600));
}
const char *const kUntold = "cannot tell whether a panel of instance Bench is running: ";
// clang-format off
INSTANTIATE_TEST_SUITE_P(Locks, Answers, ::testing::Values(
    Answer {"import_where_a_link_stands_for_the_lock", [](Registry &r) { std::filesystem::create_symlink("gone", r.location() + ".lock"); }, {"import", "FOLDER/in.reg"}, 1, kUntold, false, kGood, "registry.sqlite3.lock is a link; nothing imported"},
    Answer {"import_where_a_folder_stands_for_the_lock", [](Registry &r) { seedBench(r); std::filesystem::create_directory(r.location() + ".lock"); }, {"import", "FOLDER/in.reg"}, 1, kUntold, false, kGood, ".lock cannot be opened: Is a directory; nothing imported"},
    Answer {"import_where_another_users_file_is_the_lock", plantForeignLock, {"import", "FOLDER/in.reg"}, 1, kUntold, false, kGood, ".lock is not a file of this user's; nothing imported"}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on
#endif

TEST(ToolText, AHighSurrogateEndsItsTextUnpaired)
{
    const std::u16string pair = u"\U00010000";
    EXPECT_FALSE(ToolText::utf8(std::u16string_view(pair).substr(0, 1))); // not what lies beyond
}

TEST(RegFileWrite, LeavesOutAKeyWhosePathWouldBreakItsLine)
{
    std::vector<std::string> omitted;
    const std::string text =
        RegFile::write({{"SELVANE - a\nb", {}}, {"SELVANE", {}}}, false, &omitted);
    EXPECT_EQ(omitted, std::vector<std::string> {RegFile::keyPath("SELVANE - a\nb", false)});
    EXPECT_EQ(text.find(utf16le(u"SELVANE - a", false)), std::string::npos);
    EXPECT_NE(text.find(utf16le(u"Talvern Software\\SELVANE]", false)), std::string::npos);
}

TEST_F(SettingsTest, OptionsEndWhereAskedAndALaterNameIsTheInstances)
{
    storeRaw(registry.registry, "SELVANE - -reverse", "Units", 4, std::string("\2\0\0\0", 4));
    ASSERT_EQ(settings({"export", "--", "-reverse"}), 0) << err.str();
    EXPECT_NE(out.str().find(utf16le(u"SELVANE - -reverse]\r\n\"Units\"=dword:00000002", false)),
              std::string::npos);
}

#if defined(_WIN32)
// clang-format off
INSTANTIATE_TEST_SUITE_P(CodePage, Answers, ::testing::Values(
    Answer {"letter_outside_the_code_page", seedBench, {"import", "FOLDER/in.reg"}, 1, "in.reg:5: ", false, kGood + "\"1.A1.label\"=\"50 \xCE\xA9\"\n", "the text has a character this system's code page lacks"}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on
#else

struct LostOutput
{
    const char *name;
    bool scan;
    std::vector<std::string> args;
    const char *target; ///< null: a closed output
    const char *reason;
};

class LostOutputs : public SettingsTest, public ::testing::WithParamInterface<LostOutput>
{
};

TEST_P(LostOutputs, AreAFailureWithTheSystemsReason)
{
    const LostOutput &row = GetParam();
    seedBench(registry.registry);
    SimSettings sim("0:7:0", registry.folder.file("trace.jsonl"));
    setEnvironment("SELVANE_GPIB_LIBRARY", SELVANE_SIM_LIBRARY);
    const int fd = row.target ? ::open(row.target, O_WRONLY | O_CLOEXEC) : -1;
    ToolOutput output(fd);
    const int code = row.scan ? ScanTool::run(row.args, output, err)
                              : SettingsTool::run(row.args, registry.registry, output, err);
    EXPECT_EQ(output.finish(code, err, "tool"), 1);
    EXPECT_NE(err.str().find(std::string("tool: cannot write standard output: ") + row.reason),
              std::string::npos)
        << err.str();
    if (fd >= 0)
        ::close(fd);
    setEnvironment("SELVANE_GPIB_LIBRARY", nullptr);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, LostOutputs, ::testing::Values(
    LostOutput {"list_to_a_full_disk", false, {"list"}, "/dev/full", "No space left on device"},
    LostOutput {"export_to_a_full_disk", false, {"export", "Bench"}, "/dev/full", "No space left on device"},
    LostOutput {"scan_to_a_full_disk", true, {}, "/dev/full", "No space left on device"},
    LostOutput {"list_to_a_closed_output", false, {"list"}, nullptr, "Bad file descriptor"}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on

TEST(ToolOutputBuffer, TakesTheCharacterAfterAFullBuffer)
{
    const TemporaryFolder folder;
    const std::string file = folder.file("out"), full(8192, 'x');
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ToolOutput output(fd);
    output << full << 'y'; // the buffer's size, then one character more
    std::ostringstream err;
    EXPECT_EQ(output.finish(0, err, "tool"), 0);
    ::close(fd);
    EXPECT_EQ(contents(file), full + 'y');
}

struct Target
{
    const char *name;
    std::function<void(const std::string &file)> plant; ///< makes what is there before
    int code;
    const char *err; ///< a part of it
    std::filesystem::file_type after; ///< what the target is afterwards
};

class Targets : public SettingsTest, public ::testing::WithParamInterface<Target>
{
};

TEST_P(Targets, AreReplacedWholeOrLeftAsTheyWere)
{
    namespace fs = std::filesystem;
    const Target &row = GetParam();
    seedBench(registry.registry);
    ASSERT_EQ(settings({"export", "Bench"}), 0);
    const std::string exported = out.str();
    const std::string target = registry.folder.file("out.reg");
    const std::string victim = file("victim", "precious");
    row.plant(target);
    std::set<std::string> before = registry.folder.names();

    EXPECT_EQ(settings({"export", "Bench", "-o", target}), row.code) << err.str();
    g_diskFault = {};
    expectMessage(err.str(), row.err);
    EXPECT_EQ(fs::symlink_status(target).type(), row.after);
    if (fs::is_regular_file(target)) {
        EXPECT_EQ(contents(target), row.code == 0 ? exported : "old");
    }
    EXPECT_EQ(contents(victim), "precious");
    std::set<std::string> after = registry.folder.names(); // nothing left beside, none touched
    after.erase("out.reg");
    before.erase("out.reg");
    EXPECT_EQ(after, before);
}

std::filesystem::perms permissionsOf(const std::string &file)
{
    return std::filesystem::status(file).permissions();
}

/** An old export at `file`, and the disk's fault for the one that replaces it. */
void old(const std::string &file, const std::pair<std::string, int> &fault)
{
    std::ofstream(file) << "old";
    g_diskFault = fault;
}

using std::filesystem::file_type;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Targets, ::testing::Values(
    Target {"a_new_file", [](const std::string &) {}, 0, "", file_type::regular},
    Target {"a_planted_part_link", [](const std::string &file) { std::filesystem::create_symlink(std::filesystem::path(file).parent_path() / "victim", file + ".part"); }, 0, "", file_type::regular},
    Target {"a_link_to_a_file", [](const std::string &file) { std::ofstream(file + ".real") << "old"; std::filesystem::create_symlink(file + ".real", file); }, 0, "", file_type::symlink},
    Target {"a_fifo_nobody_reads", [](const std::string &file) { ::mkfifo(file.c_str(), 0600); }, 1, "out.reg is a FIFO that nobody reads: nothing written", file_type::fifo},
    Target {"a_socket", [](const std::string &file) { ::close(socketAt(file, false)); }, 1, "out.reg is a socket: not replaced, nothing written", file_type::socket},
    Target {"a_directory", [](const std::string &file) { std::filesystem::create_directory(file); }, 1, "out.reg is a directory: not replaced", file_type::directory},
    Target {"a_link_to_a_full_device", [](const std::string &file) { std::filesystem::create_symlink("/dev/full", file); }, 1, "out.reg: No space left on device", file_type::symlink},
    Target {"an_fsync_that_fails", [](const std::string &file) { old(file, {"fsync", EIO}); }, 1, "out.reg: Input/output error", file_type::regular}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on

TEST_F(SettingsTest, AnExportKeepsTheTargetsPermissionsAndWritesADeviceAsItIs)
{
    namespace fs = std::filesystem;
    seedBench(registry.registry);
    const std::string target = file("out.reg", "old");
    const fs::perms kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(target, kept); // not the mode a temporary file has
    const mode_t mask = ::umask(022);
    const int made = settings({"export", "Bench", "-o", registry.folder.file("new.reg")});
    ::umask(mask);
    ASSERT_EQ(made, 0) << err.str();
    EXPECT_EQ(permissionsOf(registry.folder.file("new.reg")), kept | fs::perms::others_read);
    ASSERT_EQ(settings({"export", "Bench", "-o", target}), 0) << err.str();
    EXPECT_EQ(permissionsOf(target), kept);
    EXPECT_EQ(settings({"export", "Bench", "-o", "/dev/full"}), 1);
    EXPECT_NE(err.str().find("cannot write /dev/full: No space left on device"), std::string::npos);
    EXPECT_EQ(settings({"export", "Bench", "-o", registry.folder.file("none/out.reg")}), 1);
    EXPECT_NE(err.str().find("none/out.reg: No such file or directory"), std::string::npos);
    EXPECT_EQ(settings({"export", "Bench", "-o", "/dev/null"}), 0) << err.str(); // as it is
    EXPECT_EQ(fs::symlink_status("/dev/null").type(), fs::file_type::character);
}

TEST_F(SettingsTest, AnExportEndedByASignalLeavesTheOldFileAndNothingBeside)
{
    seedBench(registry.registry);
    const std::string target = registry.folder.file("out.reg");
    old(target, {});
    const std::set<std::string> before = registry.folder.names();
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = ::fork();
        if (child == 0) {
            g_diskFault = {"fsync", -signal};
            ::_exit(settings({"export", "Bench", "-o", target}) + 100);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(contents(target), "old");
        EXPECT_EQ(registry.folder.names(), before);
    }
}

TEST_F(SettingsTest, ALinkToTheSettingsFileIsTheSameInstance)
{
    namespace fs = std::filesystem;
    seedBench(registry.registry);
    const std::string real = registry.registry.location();
    const std::string later = registry.folder.file("later.sqlite3");
    fs::create_symlink(real, registry.folder.file("link"));
    fs::create_symlink(later, registry.folder.file("to-later")); // made through the link later
    fs::create_directory_symlink(registry.folder.path(), registry.folder.file("folder"));
    for (const auto &[link, file] :
         {std::pair(registry.folder.file("link"), real),
          std::pair(registry.folder.file("to-later"), later),
          std::pair(registry.folder.file("folder/registry.sqlite3"), real)}) {
        EXPECT_EQ(InstanceLock::key(link, kBench), InstanceLock::key(file, kBench)) << link;
        EXPECT_EQ(InstanceLock::name(link, kBench), InstanceLock::name(file, kBench)) << link;
    }
    const InstanceLock held(registry.folder.file("link"), "selvane - BENCH");
    EXPECT_EQ(InstanceLock(real, kBench).state(), InstanceLock::State::Running);
}

TEST_F(SettingsTest, TheStoresRefusalIsSaidInWordsWithItsPlace)
{
    seedBench(registry.registry);
    const std::string storeFile = registry.folder.file("registry.sqlite3");
    const std::string path = file("in.reg", kGoodImport());
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(storeFile.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(settings({"import", path}), 1); // after the store's busy timeout
    sqlite3_close(other);
    EXPECT_EQ(err.str(),
              "selvane-settings: " + storeFile + ": locked by another program; nothing imported\n");

    namespace fs = std::filesystem;
    if (::getuid() != 0)
        GTEST_SKIP() << "only root can become another user, for whom the store is read-only";
    fs::permissions(registry.folder.path(), fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::permissions(storeFile,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    // Nobody's own lock file: the store's refusal is the one said.
    EXPECT_EQ(::chown((storeFile + ".lock").c_str(), 65534, 65534), 0);
    EXPECT_EQ(asNobody([&] {
                  std::unique_ptr<Registry> own =
                      openSystemRegistry(); // not the one opened as root
                  err.str("");
                  return int(SettingsTool::run({"import", path}, *own, out, err) != 1
                             || err.str()
                                    != "selvane-settings: " + storeFile
                                           + ": read-only; nothing imported\n");
              }),
              0)
        << "10: no way to become nobody; 1: not refused in those words";
}

#endif

} // namespace
