// SPDX-License-Identifier: MIT
// gpib-prologix through the binding, as the panel and the scan use it, against emulated
// adapters: what each receives for a press, instruments that are not there, adapters that do
// not answer, are taken or go away, the scan, escaped bytes and secondary addresses.

#include "TemporaryFolder.h"
#include "gpib/DynamicLibrary.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"
#include "support/AdapterEmulator.h"
#include "tools/ScanTool.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/file.h>
#include <sys/stat.h>
#endif

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using Model = AdapterEmulator::Model;
const std::string kPrologixSetUp = "++ver\n++savecfg 0\n++mode 1\n++auto 0\n++eoi 1\n++eos 3\n";
#if defined(_WIN32)
const char *const kMissingPort = "0=COM99";
#else
const char *const kMissingPort = "0=/dev/ttyNONE";
#endif

struct Row
{
    const char *name;
    Model model;
    std::set<std::string> instruments;
    std::int16_t pad, sad;
    const char *expected; ///< what the adapter receives, or the failure "ibclr ENOL"
};
const auto rowName = [](const auto &row) { return std::string(row.param.name); };

class Prologix : public ::testing::TestWithParam<Row>
{
protected:
    void SetUp() override
    {
        if (adapter.where().empty())
            GTEST_SKIP() << "a serial adapter: Wine has no serial port to emulate";
        GpibStatus = {};
        setEnvironment("SELVANE_PROLOGIX", ("0=" + adapter.where()).c_str());
    }
    void TearDown() override
    {
        for (const std::int16_t ud : opened)
            gpib.GpibSetOnline(ud, 0);
    }
    std::int16_t open(std::int16_t pad, std::int16_t sad)
    {
        gpib.GpibConfigure(0, 23, 1);
        opened.push_back(gpib.GpibOpenDevice(0, pad, sad, 12, 1, 0));
        return opened.back();
    }
    /** "" after a success, else "ibclr ENOL (errno)". */
    static std::string failure(const char *call)
    {
        if (!GpibStatus.failed())
            return "";
        return std::string(call) + ' ' + gpib::errorName(GpibStatus.iberr)
               + (GpibStatus.ibcntl ? " (" + gpib::systemReason(GpibStatus.ibcntl) + ')' : "");
    }
    /** The open of the panel and a press: the first failure, or "". */
    std::string press(std::int16_t pad, std::int16_t sad)
    {
        const std::int16_t ud = open(pad, sad);
        std::string failed = failure("ibdev");
        for (const char *command : {"clear", "XX", "A1"}) {
            if (!failed.empty())
                break;
            command[0] == 'c' ? gpib.GpibClear(ud) : gpib.GpibWrite(ud, command, 2);
            failed = failure(command[0] == 'c' ? "ibclr" : "ibwrt");
        }
        return failed;
    }

    SavedVariable saved {"SELVANE_PROLOGIX"};
    AdapterEmulator adapter {GetParam().model, GetParam().instruments};
    DynamicLibrary library {SELVANE_PROLOGIX_LIBRARY};
    GpibBinding gpib {library};
    std::vector<std::int16_t> opened;
    TemporaryFolder folder;
};

using Presses = Prologix;
TEST_P(Presses, ReachTheAdapterAsItsManualHasThem)
{
    const Row &row = GetParam();
    EXPECT_EQ(press(row.pad, row.sad), "");
    gpib.GpibGoLocal(opened.back());
    gpib.GpibSetOnline(opened.back(), 0);
    EXPECT_FALSE(GpibStatus.failed());
    opened.clear();
    const std::string expected = "++ver\n" + std::string(row.expected);
    EXPECT_EQ(adapter.received(expected.size()), expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Kinds, Presses, ::testing::Values(
    Row {"prologix_usb", Model::Prologix, {}, 7, 0, "++savecfg 0\n++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++addr 7\n++clr\nXX\nA1\n++loc\n"},
    Row {"prologix_ethernet", Model::Ethernet, {}, 7, 0, "++savecfg 0\n++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++addr 7\n++clr\nXX\nA1\n++loc\n"},
    Row {"ar488_confirms_its_listener_at_each_step", Model::Ar488, {"7"}, 7, 0, "++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++fndl 7\n++ver\n++addr 7\n++clr\n++fndl 7\n++ver\nXX\n++fndl 7\n++ver\nA1\n++loc\n"},
    Row {"prologix_secondary", Model::Prologix, {}, 9, 97, "++savecfg 0\n++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++addr 9 97\n++clr\nXX\nA1\n++loc\n"},
    Row {"ar488_secondary", Model::Ar488, {"9:1"}, 9, 97, "++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++fndl 9\n++ver\n++addr 9 97\n++clr\n++fndl 9\n++ver\nXX\n++fndl 9\n++ver\nA1\n++loc\n"},
    Row {"ar488_restarting_as_its_port_opens", Model::Restarting, {"7"}, 7, 0, "++ver\n++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++fndl 7\n++ver\n++addr 7\n++clr\n++fndl 7\n++ver\nXX\n++fndl 7\n++ver\nA1\n++loc\n"},
    Row {"old_ar488_cannot_tell_so_tries_no_more", Model::OldAr488, {}, 7, 0, "++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++fndl 7\n++ver\n++addr 7\n++clr\nXX\nA1\n++loc\n"}),
    rowName);
// clang-format on

using Failures = Prologix;
TEST_P(Failures, AreTheDriversErrorsWithTheSystemsReason)
{
    const Row &row = GetParam();
    const std::string name = row.name;
#if !defined(_WIN32)
    if (name == "port_in_use") {
        const int other = ::open(adapter.where().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(press(row.pad, row.sad), row.expected);
        ::close(other);
        return;
    }
#endif
    if (name == "no_entry")
        setEnvironment("SELVANE_PROLOGIX", "1=/dev/null # board 0 has none");
    if (name.starts_with("conf_")) { // on Windows in %APPDATA%\selvane
        SavedVariable registry("SELVANE_REGISTRY");
        SavedVariable appData("APPDATA");
        setEnvironment("SELVANE_REGISTRY", folder.file("selvane/registry.sqlite3").c_str());
        setEnvironment("APPDATA", folder.path().string().c_str());
        setEnvironment("SELVANE_PROLOGIX", nullptr);
        std::filesystem::create_directory(folder.path() / "selvane");
        const std::filesystem::path conf = folder.path() / "selvane" / "prologix.conf";
#if defined(_WIN32)
        if (name == "conf_fifo_read_by_nobody")
            GTEST_SKIP() << "no FIFOs on Windows";
#else
        if (name == "conf_fifo_read_by_nobody") // would hold the open for ever
            ASSERT_EQ(::mkfifo(conf.c_str(), 0600), 0);
        else
#endif
        std::ofstream(conf) << "# the bench\n0=" << adapter.where() << " #\n";
        EXPECT_EQ(press(row.pad, row.sad), row.expected);
        return;
    }
    if (name == "connection_refused")
        setEnvironment("SELVANE_PROLOGIX", "0=127.0.0.1:1");
    if (name == "no_such_port")
        setEnvironment("SELVANE_PROLOGIX", kMissingPort);
    EXPECT_EQ(press(row.pad, row.sad), row.expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Failures, ::testing::Values(
    Row {"absent_on_ar488_is_no_listener", Model::Ar488, {"5", "7:1"}, 7, 0, "ibclr ENOL"},
    Row {"absent_secondary_on_ar488", Model::Ar488, {"7:2"}, 7, 97, "ibclr ENOL"},
    Row {"absent_on_prologix_cannot_be_told", Model::Ethernet, {}, 7, 0, ""},
    Row {"no_answer_to_ver", Model::Silent, {}, 7, 0, "ibdev EDVR (Connection timed out)"},
    Row {"port_in_use", Model::Prologix, {}, 7, 0, "ibdev EDVR (Device or resource busy)"},
    Row {"no_entry", Model::Ethernet, {}, 7, 0, "ibdev EDVR (No such device or address)"},
    Row {"conf_file_beside_the_settings", Model::Ethernet, {}, 7, 0, ""},
    Row {"conf_fifo_read_by_nobody", Model::Ethernet, {}, 7, 0, "ibdev EDVR (No such device or address)"},
    Row {"connection_refused", Model::Ethernet, {}, 7, 0, "ibdev EDVR (Connection refused)"},
    Row {"no_such_port", Model::Ethernet, {}, 7, 0, "ibdev EDVR (No such file or directory)"}),
    rowName);
// clang-format on

using Losses = Prologix;
TEST_P(Losses, AreEdvrFromThenOn)
{
    EXPECT_EQ(press(7, 0), "");
    adapter.goAway();
    // The loss shows at the first call that reaches the port after it.
    int tries = 0;
    do
        gpib.GpibWrite(opened.back(), "A2", 2);
    while (!GpibStatus.failed() && ++tries < 100);
    EXPECT_EQ(failure("ibwrt").substr(0, 12), "ibwrt EDVR (");
    const std::int32_t reason = GpibStatus.ibcntl;
    gpib.GpibClear(opened.back());
    EXPECT_TRUE(GpibStatus.failed() && GpibStatus.iberr == gpib::kEdvr);
    EXPECT_EQ(GpibStatus.ibcntl, reason);
    EXPECT_EQ(press(7, 0), GetParam().expected) << "a new open finds the adapter gone";
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Losses,
    ::testing::Values(
        Row {"usb", Model::Prologix, {}, 7, 0, "ibdev EDVR (No such file or directory)"},
        Row {"ethernet", Model::Ethernet, {}, 7, 0, "ibdev EDVR (Connection refused)"}),
    rowName);

using Scans = Prologix;
TEST_P(Scans, ListOnlyWhoAnswers)
{
    SavedVariable driver("SELVANE_GPIB_LIBRARY");
    setEnvironment("SELVANE_GPIB_LIBRARY", SELVANE_PROLOGIX_LIBRARY);
    std::ostringstream out;
    std::ostringstream err;
    const int code = ScanTool::run({GetParam().sad ? "--secondary" : "0"}, out, err);
    EXPECT_EQ(out.str() + err.str(), GetParam().expected);
    EXPECT_EQ(code, out.str().empty() ? ScanTool::kBoardUnusable : ScanTool::kFound);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Adapters, Scans, ::testing::Values(
    Row {"ar488", Model::Ar488, {"3", "7", "9:1"}, 0, 0, "0:3:0\n0:7:0\n"},
    Row {"ar488_secondaries", Model::Ar488, {"9:1"}, 0, 1, "0:9:97\n"},
    Row {"prologix_cannot_tell", Model::Ethernet, {}, 0, 0, "selvane-scan: board 0 cannot tell which instruments listen (the driver answered ECAP), as a Prologix adapter cannot; presses through it still work\n"}),
    rowName);
// clang-format on

struct Escape
{
    const char *name, *data, *line;
};
class Escapes : public Prologix
{
};
TEST_P(Escapes, LeaveExactlyTheBytesForTheInstrument)
{
    const std::int16_t ud = open(7, 0);
    const Escape cases[] = {{"plus", "++clr", "\x1b+\x1b+clr\n"},
                            {"line_ends", "A\r\n1",
                             "A\x1b\r\x1b\n"
                             "1\n"},
                            {"escape", "\x1b", "\x1b\x1b\n"}};
    std::string expected = kPrologixSetUp + "++addr 7\n";
    for (const Escape &each : cases) {
        gpib.GpibWrite(ud, each.data, static_cast<std::int32_t>(std::strlen(each.data)));
        EXPECT_EQ(failure(each.name), "");
        expected += each.line;
    }
    EXPECT_EQ(adapter.received(expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(Prologix, Escapes,
                         ::testing::Values(Row {"usb", Model::Prologix, {}, 7, 0, ""}), rowName);

} // namespace
