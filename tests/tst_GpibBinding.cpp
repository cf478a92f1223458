// SPDX-License-Identifier: MIT
// The binding over gpib-sim: the status cells' registration and its results, the status every
// caller reads, addresses refused before the driver, libraries that cannot serve; and gpib-sim
// as a driver: its errors, descriptor table, timeout rule, trace and position reports.

#include "SimDriver.h"
#include "TemporaryFolder.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"
#include "gpib/UnitDeviceLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

class GpibBindingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        driver.reset();
        GpibStatus = {};
    }
    /** The calls so far, with the registration calls as "R" and "U". */
    std::string calls() const
    {
        std::string text;
        for (const std::string &call : readTrace(trace))
            text += (call[0] == 'R' ? "R" : call[0] == 'U' ? "U" : call) + " ";
        return text;
    }

    TemporaryFolder folder;
    std::string trace = folder.file("trace.jsonl");
    SimSettings sim {"0:7:0", trace};
    SimDriver driver;
    GpibBinding gpib {driver};
};

template<typename Row>
struct WithRows : GpibBindingTest, ::testing::WithParamInterface<Row>
{
};
/** Names a row's test by the row's own name. */
const auto rowName = [](const auto &row) { return std::string(row.param.name); };

struct Registration
{
    const char *name, *faults, *calls; ///< calls: for two wrapper calls
    std::int16_t registeredAfter;
};

using RegistrationResults = WithRows<Registration>;

TEST_P(RegistrationResults, AreHandledAsTheDriverDefinesThem)
{
    setEnvironment("SELVANE_SIM_FAULTS", GetParam().faults);
    gpib.GpibGoLocal(0);
    EXPECT_EQ(GpibStatus.cellsRegistered, GetParam().registeredAfter);
    gpib.GpibGoLocal(0);
    EXPECT_EQ(calls(), GetParam().calls);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Results, RegistrationResults, ::testing::Values(
    Registration {"r0_registered", "", "R ibloc(0) ibloc(0) ", 1},
    Registration {"r1_unregister_and_again", "RegisterGpibGlobalsForThread#1=1", "R U R ibloc(0) ibloc(0) ", 1},
    Registration {"r2_unregister_then_retry", "RegisterGpibGlobalsForThread#1=2", "R U ibloc(0) R ibloc(0) ", 0},
    Registration {"r3_unregister_then_retry", "RegisterGpibGlobalsForThread#1=3", "R U ibloc(0) R ibloc(0) ", 0},
    Registration {"r7_retry_without_unregister", "RegisterGpibGlobalsForThread#1=7", "R ibloc(0) R ibloc(0) ", 0}),
    rowName);
// clang-format on

TEST_F(GpibBindingTest, TheSimulatedBusWritesOnlyTheCellsRegisteredWithIt)
{
    using Register = int (*)(std::int32_t *, std::int32_t *, std::int32_t *, std::int32_t *);
    const auto registerCells =
        reinterpret_cast<Register>(driver.entryPoint("RegisterGpibGlobalsForThread"));
    std::int32_t cells[4] = {};
    EXPECT_EQ(registerCells(&cells[0], &cells[1], &cells[2], &cells[3]), 0);
    EXPECT_EQ(registerCells(&cells[0], &cells[1], &cells[2], &cells[3]), 1) << "these cells again";
    EXPECT_FALSE(gpib.RegisterStatusCells()) << "other cells: 2, and unregistered";
    gpib.GpibClear(gpib.GpibOpenDevice(0, 9, 0, 12, 1, 0)); // registers them now
    EXPECT_TRUE(GpibStatus.failed() && GpibStatus.iberr == gpib::kEnol);
    EXPECT_EQ(calls(), "R R R U R ibdev(0,9,0,12,1,0) ibclr(32) ERR ");
    EXPECT_EQ(cells[0], 0) << "no longer written";
}

TEST_F(GpibBindingTest, LinuxGpibStatusComesFromThreadFunctions)
{
    driver.hide("RegisterGpibGlobalsForThread");
    const std::int16_t ud = gpib.GpibOpenDevice(0, 7, 0, 12, 1, 0);
    gpib.GpibWrite(ud, "XX", 5); // never more bytes than the text holds
    EXPECT_TRUE(!GpibStatus.failed() && GpibStatus.ibcnt == 2);
    setEnvironment("SELVANE_SIM_DEVICES", " ");
    gpib.GpibClear(ud);
    EXPECT_TRUE(GpibStatus.failed() && GpibStatus.iberr == gpib::kEnol);
    gpib.GpibSetOnline(ud, 0);
    gpib.GpibConfigure(-1, 23, 1); // arguments are widened with their sign
    gpib.GpibSetOnline(-5, 0);
    EXPECT_EQ(calls(), "ibdev(0,7,0,12,1,0) ibwrt(32,2)=5858 ibclr(32) ERR ibonl(32,0) "
                       "ibconfig(-1,23,1) ERR ibonl(-5,0) ERR ");
}

struct Open
{
    const char *name;
    std::int16_t board, pad, sad, tmo;
    int error; ///< -1: a descriptor
    bool reachesDriver;
};

using Opens = WithRows<Open>;

TEST_P(Opens, GiveADescriptorOrTheDriversError)
{
    const Open &open = GetParam();
    GpibStatus.ibcnt = 7, GpibStatus.ibcntl = 7; // from an earlier write: an open counts none
    const std::int16_t ud = gpib.GpibOpenDevice(open.board, open.pad, open.sad, open.tmo, 1, 0);
    EXPECT_EQ(calls().find("ibdev") != std::string::npos, open.reachesDriver);
    EXPECT_EQ(ud > 0, open.error < 0);
    EXPECT_EQ(GpibStatus.failed() ? GpibStatus.iberr : -1, open.error);
    EXPECT_TRUE(GpibStatus.ibcnt == 0 && GpibStatus.ibcntl == 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Values, Opens, ::testing::Values(
    Open {"pad_0", 0, 0, 0, 12, -1, true},
    Open {"pad_30", 0, 30, 0, 12, -1, true},
    Open {"pad_31", 0, 31, 0, 12, gpib::kEarg, false},
    Open {"pad_negative", 0, -1, 0, 12, gpib::kEarg, false},
    Open {"sad_96", 0, 7, 96, 12, -1, true},
    Open {"sad_126", 0, 7, 126, 12, -1, true},
    Open {"sad_95", 0, 7, 95, 12, gpib::kEarg, false},
    Open {"sad_127", 0, 7, 127, 12, gpib::kEarg, false},
    Open {"sad_1", 0, 7, 1, 12, gpib::kEarg, false},
    Open {"timeout_18", 0, 7, 0, 18, gpib::kEarg, true},
    Open {"board_not_on_bus", 5, 7, 0, 12, gpib::kEneb, true},
    Open {"board_negative", -1, 7, 0, 12, gpib::kEneb, true}),
    rowName);
// clang-format on

// A driver whose ibdev gives a descriptor that is not one, and leaves ERR clear.
int g_strayDescriptor = 0;
int SELVANE_GPIB_CALL strayIbdev(int, int, int, int, int, int)
{
    return g_strayDescriptor;
}

struct StrayDescriptor
{
    const char *name;
    int descriptor;
};

using StrayDescriptors = WithRows<StrayDescriptor>;

TEST_P(StrayDescriptors, AreAFailedOpenAndNeverTakenOffline)
{
    g_strayDescriptor = GetParam().descriptor;
    driver.replace("ibdev", reinterpret_cast<void *>(&strayIbdev));
    GpibBinding stray(driver);
    UnitLink unit {0, 0, 7, 0, false};
    EXPECT_FALSE(UnitDeviceLink::OpenUnit(unit, stray).ok);
    EXPECT_FALSE(unit.Opened);
    EXPECT_FALSE(GpibStatus.failed()); // as the driver said
    EXPECT_EQ(calls(), "R ibconfig(0,23,1) "); // nothing cleared, written or taken offline
}

INSTANTIATE_TEST_SUITE_P(Rows, StrayDescriptors,
                         ::testing::Values(StrayDescriptor {"zero_is_board_0", 0},
                                           StrayDescriptor {"negative", -3}),
                         rowName);

TEST_F(GpibBindingTest, TheTableOf64DescriptorsStaysBoundedUnderFailedPresses)
{
    setEnvironment("SELVANE_SIM_TRACE", nullptr);
    UnitLink absent {0, 0, 9, 0, false};
    for (int i = 0; i < 10000; ++i) {
        ASSERT_FALSE(UnitDeviceLink::SendToUnit(absent, gpib, "A1").ok);
        ASSERT_EQ(driver.descriptorsInUse(), 0) << "after " << i + 1 << " presses";
    }
    for (int i = 0; i < 64; ++i)
        ASSERT_GT(gpib.GpibOpenDevice(0, 9, 0, 12, 1, 0), 0);
    EXPECT_EQ(gpib.GpibOpenDevice(0, 7, 0, 12, 1, 0), -1);
    EXPECT_EQ(GpibStatus.iberr, gpib::kEdvr);
    gpib.GpibSetOnline(40, 0);
    UnitLink present {0, 0, 7, 0, false};
    EXPECT_TRUE(UnitDeviceLink::OpenUnit(present, gpib).ok) << "a freed descriptor opens again";
    EXPECT_EQ(present.Device, 40);
}

TEST_F(GpibBindingTest, TheSimulatedBusRefusesAWriteWithoutItsBytes)
{
    const auto ibwrt = reinterpret_cast<gpib::IbWrt>(driver.real("ibwrt"));
    const std::int16_t ud = gpib.GpibOpenDevice(0, 7, 0, 12, 1, 0);
    EXPECT_EQ(ibwrt(ud, "A1", -1) & gpib::kErr, gpib::kErr);
    EXPECT_EQ(ibwrt(ud, nullptr, 2) & gpib::kErr, gpib::kErr);
    EXPECT_EQ(ibwrt(ud, "A1", 2) & gpib::kErr, 0);
}

TEST_F(GpibBindingTest, CallsLongerThanTheTimeoutAbort)
{
    const std::int16_t ud = gpib.GpibOpenDevice(0, 7, 0, 6, 1, 0); // 3 ms
    setEnvironment("SELVANE_SIM_DELAY_MS", "5");
    gpib.GpibWrite(ud, "A1", 2);
    EXPECT_TRUE(GpibStatus.failed() && GpibStatus.iberr == gpib::kEabo);
    EXPECT_TRUE(GpibStatus.ibsta & gpib::kTimo);
    setEnvironment("SELVANE_SIM_DELAY_MS", "2");
    gpib.GpibWrite(ud, "A1", 2);
    EXPECT_FALSE(GpibStatus.failed());
}

TEST_F(GpibBindingTest, TheSimulatedBusTracesEveryCallAndReportsEachNewPosition)
{
    const std::int16_t ud = gpib.GpibOpenDevice(0, 7, 0, 12, 1, 0);
    gpib.GpibWrite(ud, "B1", 2); // a known start, whatever earlier tests left
    ::testing::internal::CaptureStderr();
    for (const char *command : {"A3", "A3", "XX", "B2"})
        gpib.GpibWrite(ud, command, 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gpib-sim: 0:7:0 A -> 3\ngpib-sim: 0:7:0 B -> 2\n");
    std::stringstream lines; // the lines as text: CRLF on Windows
    lines << std::ifstream(trace).rdbuf();
    EXPECT_NE(
        lines.str().find(
            "{\"call\":\"ibdev\",\"args\":[0,7,0,12,1,0],\"ret\":32,\"ibsta\":256,\"iberr\":0,"
            "\"ibcntl\":0}\n{\"call\":\"ibwrt\",\"args\":[32,2],\"bytes\":\"4231\",\"ret\":0,"
            "\"ibsta\":8448,\"iberr\":0,\"ibcntl\":2}\n"),
        std::string::npos);
    EXPECT_EQ(readTrace(trace).size(), 7u);
}

/** The lines of a trace file, those of the status queries of linux-gpib style left out. */
std::vector<std::string> traceLines(const std::string &file)
{
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.find("\"call\":\"Thread") == std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

struct TraceStyle
{
    const char *name;
    bool threadStatus; ///< linux-gpib style: no RegisterGpibGlobalsForThread
};

using BindingTraces = WithRows<TraceStyle>;

TEST_P(BindingTraces, AreTheSimulatedBussLinesWithTheTimeAdded)
{
    const std::string own = folder.file("binding.jsonl");
    setEnvironment("SELVANE_GPIB_TRACE", own.c_str());
    GpibBinding traced(driver);
    setEnvironment("SELVANE_GPIB_TRACE", nullptr);
    if (GetParam().threadStatus)
        driver.hide("RegisterGpibGlobalsForThread");
    UnitLink unit {0, 0, 7, 0, false};
    UnitDeviceLink::SendToUnit(unit, traced, "A2");
    bool listen = false;
    traced.GpibFindListener(0, 9, 0, &listen);
    traced.GpibFindListener(3, 7, 0, &listen); // no such board
    traced.GpibOpenDevice(0, 31, 0, 12, 1, 0); // refused before the driver: no line
    UnitDeviceLink::CloseUnit(unit, traced);

    std::vector<std::string> lines = traceLines(own);
    for (std::string &line : lines) {
        // Each ends in its time: ,"time":"2026-12-07T10:42:33.123456Z"}
        static const std::string kField = ",\"time\":\"", kShape = "dddd-dd-ddTdd:dd:dd.ddddddZ\"}";
        const std::size_t at = line.rfind(kField);
        const std::string time = at == std::string::npos ? "" : line.substr(at + kField.size());
        bool shaped = time.size() == kShape.size();
        for (std::size_t i = 0; shaped && i < time.size(); ++i)
            shaped = kShape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(time[i])) != 0
                                      : time[i] == kShape[i];
        EXPECT_TRUE(shaped) << line;
        line = line.substr(0, at) + "}";
    }
    EXPECT_EQ(lines, traceLines(trace));
    EXPECT_EQ(lines.size(), GetParam().threadStatus ? 9u : 10u); // 9 calls, the registration
}

INSTANTIATE_TEST_SUITE_P(Styles, BindingTraces,
                         ::testing::Values(TraceStyle {"status_cells", false},
                                           TraceStyle {"thread_status", true}),
                         rowName);

struct TraceTarget
{
    const char *name;
    std::string file; ///< in the test's folder, unless absolute
    bool fifo; ///< made as a FIFO, read by nobody
    bool readerLeaves; ///< or read by the test until the trace is open
    const char *warning; ///< a part of the one warning
};

using TraceTargets = WithRows<TraceTarget>;

TEST_P(TraceTargets, ThatCannotBeWrittenAreOneWarningAndNeverAWait)
{
    const TraceTarget &row = GetParam();
    const std::string file = row.file[0] == '/' ? row.file : folder.file(row.file);
#if defined(_WIN32)
    if (row.fifo || row.file[0] == '/')
        GTEST_SKIP() << "no FIFO or /dev/full on Windows";
#else
    if (row.fifo) {
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    }
#endif
    setEnvironment("SELVANE_GPIB_TRACE", file.c_str());
    ::testing::internal::CaptureStderr();
#if !defined(_WIN32)
    const int reader = row.readerLeaves ? ::open(file.c_str(), O_RDONLY | O_NONBLOCK) : -1;
#endif
    GpibBinding traced(driver);
#if !defined(_WIN32)
    if (reader >= 0)
        ::close(reader);
#endif
    traced.GpibGoLocal(0);
    traced.GpibGoLocal(0);
    setEnvironment("SELVANE_GPIB_TRACE", nullptr);
    const std::string warning = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), 1) << warning;
    EXPECT_NE(warning.find("SELVANE_GPIB_TRACE: cannot write to " + file + " ("), std::string::npos)
        << warning;
    EXPECT_NE(warning.find(row.warning), std::string::npos) << warning;
    EXPECT_FALSE(GpibStatus.failed());
    EXPECT_EQ(calls(), "R ibloc(0) ibloc(0) ");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, TraceTargets, ::testing::Values(
    TraceTarget {"missing_folder", "missing/trace.jsonl", false, false, "); no driver trace"},
    TraceTarget {"fifo_nobody_reads", "trace.fifo", true, false, "(a FIFO that nobody reads); no driver trace"},
    TraceTarget {"fifo_reader_leaves", "trace.fifo", true, true, "(Broken pipe); the driver trace stops"},
    TraceTarget {"full_device", "/dev/full", false, false, "(No space left on device); the driver trace stops"}),
    rowName);
// clang-format on

// The real loader, on real files.

struct LoadCase
{
    const char *name;
    std::string library;
    int number; ///< 0: loads
};

using Loading = ::testing::TestWithParam<LoadCase>;

TEST_P(Loading, TellsMissingFromBrokenFromIncomplete)
{
    GpibStatus = {};
    DynamicLibrary library(GetParam().library);
    GpibBinding gpib(library);
    const char *kind = GetParam().number == 53   ? "File not found: "
                       : GetParam().number == 48 ? "Error in loading DLL: "
                                                 : "Can't find DLL entry point "
                                                   "RegisterGpibGlobalsForThread in ";
    try {
        gpib.GpibGoLocal(0);
        EXPECT_EQ(GetParam().number, 0);
    } catch (const BindingFailure &failure) {
        EXPECT_EQ(failure.number(), GetParam().number);
        EXPECT_EQ(failure.description(), kind + GetParam().library);
    }
}

// A folder of the test program's own, removed at its end.
const TemporaryFolder kLoadFolder;
const std::string kNotALibrary = [] {
    const std::string file = kLoadFolder.file("not-a-library.dll");
    std::ofstream(file) << "not a shared object\n";
    return file;
}();

#if defined(_WIN32)
// NI's driver DLL for a program of this bitness.
const char *const kDriverDll = sizeof(void *) == 8 ? "ni4882.dll" : "Gpib-32.dll";
#endif

// clang-format off
#if defined(_WIN32)
// The simulated bus under the driver's own name, loaded with LoadLibraryA as NI's is.
std::vector<LoadCase> cases {
    {"driver_dll", kDriverDll, 0},
    {"missing_gives_126", "Gpib-32-missing.dll", 53},
    {"not_a_dll_gives_193", kNotALibrary, 48},
    {"missing_dependency_gives_126", SELVANE_BROKEN_LIBRARY, 53}, // ERROR_MOD_NOT_FOUND too
    {"no_driver_entry_points", "kernel32.dll", 453},
#if defined(SELVANE_WRONG_ARCH_LIBRARY)
    {"other_architecture_gives_193", SELVANE_WRONG_ARCH_LIBRARY, 48},
#endif
};
#else
std::vector<LoadCase> cases {
    {"gpib_sim", SELVANE_SIM_LIBRARY, 0},
    {"bare_name_missing", "libselvane-no-such-driver.so.0", 53},
    {"path_missing", "/nonexistent/libgpib.so.0", 53},
    {"not_a_shared_object", kNotALibrary, 48},
    {"a_directory", kLoadFolder.path().string(), 48},
    {"missing_dependency", SELVANE_BROKEN_LIBRARY, 48},
    {"no_driver_entry_points", "libc.so.6", 453},
};
#endif
// clang-format on
INSTANTIATE_TEST_SUITE_P(Files, Loading, ::testing::ValuesIn(cases), rowName);

TEST(LoadingEntryPoints, LibraryNameComesFromTheEnvironment)
{
    setEnvironment("SELVANE_GPIB_LIBRARY", "/opt/gpib/libgpib.so");
    EXPECT_EQ(DynamicLibrary::defaultName(), "/opt/gpib/libgpib.so");
    setEnvironment("SELVANE_GPIB_LIBRARY", "");
#if defined(_WIN32)
    EXPECT_EQ(DynamicLibrary::defaultName(), kDriverDll);
#else
    EXPECT_EQ(DynamicLibrary::defaultName(), "libgpib.so.0");
#endif
}

} // namespace
