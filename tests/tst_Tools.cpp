// SPDX-License-Identifier: MIT
// The operator's tools as their users meet them: selvane-scan over the simulated bus, and
// selvane-settings moving a store's settings through registry export files and back.

#include "PlatformRegistry.h"
#include "SimDriver.h"
#include "gpib/GpibStatus.h"
#include "tools/ScanTool.h"
#include "tools/SettingsTool.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

struct Scan
{
    const char *name, *devices, *faults;
    std::vector<std::string> args;
    const char *library; ///< null: the simulated bus
    int code;
    const char *out, *err; ///< err: a part of it
    const char *lastCall; ///< empty: the driver is never called
};

class Scans : public ::testing::TestWithParam<Scan>
{
protected:
    void SetUp() override
    {
        SimDriver().reset();
        GpibStatus = {};
    }
    TemporaryFolder folder;
};

TEST_P(Scans, ListTheListenersOrSayWhyNot)
{
    const Scan &row = GetParam();
    const std::string trace = folder.file("trace.jsonl");
    SimSettings sim(row.devices, trace, row.faults);
    setEnvironment("SELVANE_GPIB_LIBRARY", row.library ? row.library : SELVANE_SIM_LIBRARY);
    std::ostringstream out, err;
    EXPECT_EQ(ScanTool::run(row.args, out, err), row.code);
    setEnvironment("SELVANE_GPIB_LIBRARY", nullptr);
    EXPECT_EQ(out.str(), row.out);
    EXPECT_NE(err.str().find(row.err), std::string::npos) << err.str();
    const std::vector<std::string> calls = readTrace(trace);
    EXPECT_EQ(calls.empty() ? "" : calls.back(), row.lastCall);
    for (const std::string &call : calls) // it only ever asks
        EXPECT_TRUE(call.rfind("ibln(", 0) == 0 || call.rfind("ibonl(", 0) == 0
                    || call.rfind("Register", 0) == 0 || call.rfind("Unregister", 0) == 0)
            << call;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Scans, ::testing::Values(
    Scan {"primary_addresses", "0:7:0 0:9:97 1:3:0", "", {}, nullptr, 0, "0:7:0\n", "", "ibonl(0,0)"},
    Scan {"secondary_too", "0:7:0 0:9:97 1:3:0", "", {"--secondary"}, nullptr, 0, "0:7:0\n0:9:97\n", "", "ibonl(0,0)"},
    Scan {"another_board", "0:7:0 1:3:0 1:30:126", "", {"1", "--secondary"}, nullptr, 0, "1:3:0\n1:30:126\n", "", "ibonl(1,0)"},
    Scan {"nobody_listens", "", "", {}, nullptr, 0, "", "no listener on board 0", "ibonl(0,0)"},
    Scan {"no_such_board", "0:7:0", "", {"4"}, nullptr, 1, "", "board 4 cannot be used: the driver answered ENEB\n", "ibonl(4,0) ERR"},
    Scan {"driver_without_board", "0:7:0", "ibln=0", {}, nullptr, 1, "", "board 0 cannot be used: the driver answered EDVR\n", "ibonl(0,0)"},
    Scan {"driver_missing", "0:7:0", "", {}, "/nonexistent/libgpib.so.0", 2, "", "File not found: /nonexistent/libgpib.so.0\nInstall National Instruments drivers\n", ""},
    Scan {"unknown_option", "0:7:0", "", {"--all"}, nullptr, 64, "", "unexpected argument '--all'\nUsage: selvane-scan", ""},
    Scan {"two_boards", "0:7:0", "", {"0", "1"}, nullptr, 64, "", "unexpected argument '1'", ""},
    Scan {"negative_board", "0:7:0", "", {"-1"}, nullptr, 64, "", "unexpected argument '-1'", ""}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on

/** A store of the test's own, and selvane-settings run on it. */
class SettingsTest : public ::testing::Test
{
protected:
    int settings(const std::vector<std::string> &args)
    {
        out.str("");
        err.str("");
        return SettingsTool::run(args, registry.registry, out, err);
    }
    std::string file(const std::string &name, const std::string &bytes)
    {
        const std::string path = registry.folder.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string contents(const std::string &path)
    {
        std::ostringstream bytes;
        bytes << std::ifstream(path, std::ios::binary).rdbuf();
        return bytes.str();
    }
    RegistryDump dump() { return dumpRegistry(registry.folder.file("registry.sqlite3")); }

    PlatformRegistry registry;
    SettingsStore store {registry.registry};
    std::ostringstream out, err;
};

TEST_F(SettingsTest, ExportThenImportGivesTheStoreBackInEitherView)
{
    store.WriteValue(kBench, "Units", 3.0);
    store.WriteValue(kBench, "1.A1.label", systemText("Prüfling \"B\" \\ 2"));
    store.WriteValue(kBench, "1.A2.label", "");
    store.WriteValue(kBench, "X", -150.0);
    storeRaw(registry.registry, kBench + "\\Notes", "Count", Registry::kDword, "\x01\x02\x03\x04");
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
        EXPECT_EQ(exported.find(utf16le(
                      u"\\SOFTWARE\\WOW6432Node\\Talvern Software\\SELVANE - Bench]", false))
                      != std::string::npos,
                  wow64);
        exportArgs.insert(exportArgs.end(), {"-o", path});
        ASSERT_EQ(settings(exportArgs), 0) << err.str();
        EXPECT_EQ(contents(path), exported);
        store.DeleteContext(kBench + "\\Notes");
        store.DeleteContext(kBench);
        ASSERT_EQ(settings({"import", path}), 0) << err.str();
        EXPECT_EQ(dump(), before);
        ASSERT_EQ(settings({exportArgs.begin(), exportArgs.end() - 2}), 0);
        EXPECT_EQ(out.str(), exported);
    }
}

TEST_F(SettingsTest, AFileAsRegeditWritesItImports)
{
    std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Talvern Software\\"
        u"SELVANE - Bench]\r\n\"Units\"=dword:00000002\r\n"
        u"\"1.A1.label\"=\"50 µA \\\"max\\\"\"\r\n\"1.PAd\"=dword:0000001E\r\n\r\n";
    ASSERT_EQ(settings({"import", file("regedit.reg", utf16le(text))}), 0) << err.str();
    EXPECT_EQ(store.ReadValue(kBench, "Units", std::int32_t(0)), 2);
    EXPECT_EQ(store.ReadValue(kBench, "1.PAd", std::int32_t(0)), 30);
    EXPECT_EQ(store.ReadValue(kBench, "1.A1.label", "?"), systemText("50 µA \"max\""));
}

TEST_F(SettingsTest, ListShowsEachInstanceWithItsUnitCount)
{
    store.WriteValue("SELVANE", "Units", 1.0);
    store.WriteValue(kBench, "Units", 3.0);
    store.WriteValue("SELVANE - Lab 2", "Units", 7.0);
    store.WriteValue("SELVANEX", "Units", 2.0); // not the panel's
    ASSERT_EQ(settings({"list"}), 0);
    EXPECT_EQ(out.str(), "\"\"\t1 unit\n\"Bench\"\t3 units\n\"Lab 2\"\tno unit count chosen\n");
}

TEST_F(SettingsTest, UsageIsShownWhenAskedAndOnAMistake)
{
    using Row = std::pair<std::vector<std::string>, int>;
    // clang-format off
    for (const auto &[args, code] : {Row {{"--help"}, 0}, Row {{"-h"}, 0}, Row {{}, 64},
             Row {{"list", "Bench"}, 64}, Row {{"import"}, 64}, Row {{"export", "-o"}, 64},
             Row {{"export", "A", "B"}, 64}, Row {{"backup"}, 64}}) {
        // clang-format on
        EXPECT_EQ(settings(args), code) << args.size();
        const std::string shown = code == 0 ? out.str() : err.str();
        EXPECT_NE(shown.find("Usage: selvane-settings list\n"), std::string::npos) << shown;
    }
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

struct Refusal
{
    const char *name;
    std::string text;
    int line;
    const char *why; ///< a part of the message
};

class Refusals : public SettingsTest, public ::testing::WithParamInterface<Refusal>
{
};

TEST_P(Refusals, NameTheLineAndLeaveTheStoreAsItWas)
{
    store.WriteValue(kBench, "Units", 3.0);
    store.WriteValue(kBench, "1.A1.label", "Load");
    const RegistryDump before = dump();
    const std::string path = file("in.reg", GetParam().text);
    EXPECT_EQ(settings({"import", path}), 1);
    const std::string message = err.str();
    EXPECT_NE(message.find(path + ":" + std::to_string(GetParam().line) + ": "), std::string::npos)
        << message;
    EXPECT_NE(message.find(GetParam().why), std::string::npos) << message;
    EXPECT_EQ(dump(), before);
}

// Each refused line follows a good value, which must not be stored either.
const std::string kGood = kHeader + kBenchKey + "\"Units\"=dword:00000001\n";
// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Refusals, ::testing::Values(
    Refusal {"not_an_export", "REGEDIT4\n\n" + kBenchKey, 1, "must begin with"},
    Refusal {"empty_file", "", 1, "empty"},
    Refusal {"key_elsewhere", kGood + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n", 5, "not under HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software"},
    Refusal {"root_look_alike", kGood + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Softwares]\n", 5, "not under"},
    Refusal {"empty_key_name", kGood + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\A\\\\B]\n", 5, "empty"},
    Refusal {"binary_value", kGood + "\"Blob\"=hex:01,02\n", 5, "kind the panel does not store (hex)"},
    Refusal {"expandable_text", kGood + "\"Path\"=hex(2):41,00,00,00\n", 5, "(hex(2))"},
    Refusal {"deleted_value", kGood + "\"Units\"=-\n", 5, "deleting a value"},
    Refusal {"deleted_key", kGood + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE]\n", 5, "deleting a key"},
    Refusal {"value_before_key", kHeader + "\"Units\"=dword:00000001\n", 3, "before the first key"},
    Refusal {"unclosed_text", kGood + "\"A\"=\"open\n", 5, "malformed"},
    Refusal {"other_escape", kGood + "\"A\"=\"a\\qb\"\n", 5, "malformed"},
    Refusal {"long_dword", kGood + "\"Units\"=dword:123456789\n", 5, "1 to 8 hexadecimal digits"},
    Refusal {"not_a_value", kGood + "Units=3\n", 5, "not a key, a value or a comment"},
    Refusal {"not_utf8", kGood + "; fine\n\"A\"=\"\xFF\"\n", 6, "not UTF-16LE"},
    Refusal {"lone_surrogate", utf16le(u"Windows Registry Editor Version 5.00\r\n\r\n[x]\r\n\"A\"=\"\xD800\"\r\n"), 4, "not UTF-16LE"},
    Refusal {"odd_length_utf16", utf16le(u"Windows Registry Editor Version 5.00\r\n\r\n") + "[", 3, "not UTF-16LE"}),
    [](const auto &row) { return std::string(row.param.name); });
// clang-format on

} // namespace
