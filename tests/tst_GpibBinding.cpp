// SPDX-License-Identifier: MIT
// The binding over gpib-sim: lazy registration of the status cells and every result of it,
// the status every caller reads, addresses refused before the driver, the failures of a
// missing library or entry point, and the descriptor table bound under failing presses.

#include "SimDriver.h"
#include "TemporaryFolder.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"
#include "gpib/UnitDeviceLink.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using Calls = std::vector<std::string>;
const std::string kRegister = "RegisterGpibGlobalsForThread()";
const std::string kUnregister = "UnregisterGpibGlobalsForThread()";

class GpibBindingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        driver.reset();
        GpibStatus = {};
    }
    Calls calls() const { return readTrace(trace); }
    void fault(const char *faults) { setEnvironment("SELVANE_SIM_FAULTS", faults); }

    TemporaryFolder folder;
    std::string trace = folder.file("trace.jsonl");
    SimSettings sim {"0:7:0", trace};
    SimDriver driver;
    GpibBinding gpib {driver};
};

struct Registration
{
    const char *name;
    const char *faults;
    Calls calls; ///< for two wrapper calls
    std::int16_t registeredAfter;
};

class RegistrationResults : public GpibBindingTest,
                            public ::testing::WithParamInterface<Registration>
{
};

TEST_P(RegistrationResults, AreHandledAsTheDriverDefinesThem)
{
    fault(GetParam().faults);
    gpib.GpibGoLocal(0);
    EXPECT_EQ(GpibStatus.cellsRegistered, GetParam().registeredAfter);
    gpib.GpibGoLocal(0);
    EXPECT_EQ(calls(), GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Results, RegistrationResults,
    ::testing::Values(Registration {"r0_registered", "", {kRegister, "ibloc(0)", "ibloc(0)"}, 1},
                      Registration {"r1_unregister_and_again",
                                    "RegisterGpibGlobalsForThread#1=1",
                                    {kRegister, kUnregister, kRegister, "ibloc(0)", "ibloc(0)"},
                                    1},
                      Registration {"r2_unregister_then_retry",
                                    "RegisterGpibGlobalsForThread#1=2",
                                    {kRegister, kUnregister, "ibloc(0)", kRegister, "ibloc(0)"},
                                    0},
                      Registration {"r3_unregister_then_retry",
                                    "RegisterGpibGlobalsForThread#1=3",
                                    {kRegister, kUnregister, "ibloc(0)", kRegister, "ibloc(0)"},
                                    0},
                      Registration {"r7_retry_without_unregister",
                                    "RegisterGpibGlobalsForThread#1=7",
                                    {kRegister, "ibloc(0)", kRegister, "ibloc(0)"},
                                    0}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(GpibBindingTest, RefusedRegistrationTakesTheStatusFromWhereTheDriverTellsIt)
{
    fault("RegisterGpibGlobalsForThread#1=2 ibloc#1=2");
    gpib.GpibGoLocal(0);
    EXPECT_TRUE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.iberr, gpib::kEnol);
    gpib.GpibGoLocal(0); // registered now, success
    EXPECT_FALSE(GpibStatus.failed());
    // Nothing tells: the failure mark stays although the driver answered success.
    fault("RegisterGpibGlobalsForThread=7");
    for (const char *name : {"ThreadIbsta", "ThreadIberr", "ThreadIbcntl"})
        driver.hide(name);
    driver.reset();
    GpibStatus = {};
    GpibBinding blind(driver);
    blind.GpibGoLocal(0);
    EXPECT_TRUE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.ibsta, std::int16_t(-32768));
    EXPECT_EQ(GpibStatus.iberr, 0);
    EXPECT_EQ(GpibStatus.ibcntl, std::int32_t(0xDEAD37F0));
}

TEST_F(GpibBindingTest, LinuxGpibStatusComesFromThreadFunctions)
{
    driver.hide("RegisterGpibGlobalsForThread");
    const std::int16_t ud = gpib.GpibOpenDevice(0, 7, 0, 12, 1, 0);
    gpib.GpibWrite(ud, "XX", 5); // never more bytes than the text holds
    EXPECT_FALSE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.ibcnt, 2);
    setEnvironment("SELVANE_SIM_DEVICES", " ");
    gpib.GpibClear(ud);
    EXPECT_TRUE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.iberr, gpib::kEnol);
    gpib.GpibSetOnline(ud, 0);
    EXPECT_EQ(calls(),
              (Calls {"ibdev(0,7,0,12,1,0)", "ibwrt(32,2)=5858", "ibclr(32) ERR", "ibonl(32,0)"}));
}

TEST_F(GpibBindingTest, ArgumentsAreWidenedWithTheirSign)
{
    gpib.GpibConfigure(-1, 23, 1);
    gpib.GpibSetOnline(-5, 0);
    EXPECT_EQ(calls(), (Calls {kRegister, "ibconfig(-1,23,1) ERR", "ibonl(-5,0) ERR"}));
}

struct Address
{
    const char *name;
    std::int16_t pad, sad;
    bool reachesDriver;
};

class Addresses : public GpibBindingTest, public ::testing::WithParamInterface<Address>
{
};

TEST_P(Addresses, TheBusCannotCarryAreRefusedBeforeTheDriver)
{
    const std::int16_t ud = gpib.GpibOpenDevice(0, GetParam().pad, GetParam().sad, 12, 1, 0);
    EXPECT_EQ(calls().size(), GetParam().reachesDriver ? 2u : 1u);
    EXPECT_EQ(ud > 0, GetParam().reachesDriver);
    if (!GetParam().reachesDriver) {
        EXPECT_TRUE(GpibStatus.failed() && GpibStatus.iberr == gpib::kEarg && ud == -1);
    }
    gpib.GpibSetOnline(ud, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Addresses,
    ::testing::Values(Address {"pad_0", 0, 0, true}, Address {"pad_30", 30, 0, true},
                      Address {"pad_31", 31, 0, false}, Address {"pad_negative", -1, 0, false},
                      Address {"sad_96", 7, 96, true}, Address {"sad_126", 7, 126, true},
                      Address {"sad_95", 7, 95, false}, Address {"sad_127", 7, 127, false},
                      Address {"sad_1", 7, 1, false}),
    [](const auto &row) { return std::string(row.param.name); });

class MissingEntryPoints : public GpibBindingTest,
                           public ::testing::WithParamInterface<const char *>
{
};

TEST_P(MissingEntryPoints, ThrowWithTheNameOfTheEntryPoint)
{
    driver.hide(GetParam());
    try {
        gpib.GpibConfigure(0, 23, 1);
        gpib.GpibSetOnline(gpib.GpibOpenDevice(0, 7, 0, 12, 1, 0), 1);
        gpib.GpibClear(32);
        gpib.GpibWrite(32, "XX", 2);
        gpib.GpibGoLocal(32);
        gpib.GpibSetOnline(32, 0);
        FAIL() << "no BindingFailure";
    } catch (const BindingFailure &failure) {
        EXPECT_EQ(failure.number(), 453);
        EXPECT_EQ(failure.description(), std::string("Can't find DLL entry point ") + GetParam()
                                             + " in " + SELVANE_SIM_LIBRARY);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, MissingEntryPoints,
                         ::testing::Values("ibconfig", "ibdev", "ibclr", "ibwrt", "ibloc",
                                           "ibonl"));

TEST_F(GpibBindingTest, ManyFailedPressesKeepTheDescriptorTableBounded)
{
    setEnvironment("SELVANE_SIM_TRACE", nullptr);
    UnitLink absent {0, 0, 9, 0, false};
    for (int i = 0; i < 10000; ++i) {
        ASSERT_FALSE(UnitDeviceLink::SendToUnit(absent, gpib, "A1").ok);
        ASSERT_EQ(driver.descriptorsInUse(), 0) << "after " << i + 1 << " presses";
    }
    UnitLink present {0, 0, 7, 0, false};
    EXPECT_TRUE(UnitDeviceLink::OpenUnit(present, gpib).ok) << "a present instrument still opens";
    UnitDeviceLink::CloseUnit(present, gpib);
    EXPECT_EQ(driver.descriptorsInUse(), 0);
}

// The real loader, on real files.

struct LoadCase
{
    const char *name;
    std::string library;
    int number; ///< 0: loads
};

class Loading : public ::testing::TestWithParam<LoadCase>
{
};

TEST_P(Loading, TellsMissingFromBrokenFromIncomplete)
{
    GpibStatus = {};
    DynamicLibrary library(GetParam().library);
    GpibBinding gpib(library);
    try {
        gpib.GpibGoLocal(0);
        EXPECT_EQ(GetParam().number, 0);
    } catch (const BindingFailure &failure) {
        EXPECT_EQ(failure.number(), GetParam().number);
        const char *kinds[] = {"File not found: ", "Error in loading DLL: ",
                               "Can't find DLL entry point RegisterGpibGlobalsForThread in "};
        EXPECT_EQ(failure.description(), kinds[GetParam().number == 53   ? 0
                                               : GetParam().number == 48 ? 1
                                                                         : 2]
                                             + GetParam().library);
    }
}

std::string notSharedObject()
{
    const std::string file =
        (std::filesystem::temp_directory_path() / "selvane-not-a-library.dll").string();
    std::ofstream(file) << "not a shared object\n";
    return file;
}

#if defined(_WIN32)
// The simulated bus under the driver's own name, loaded with LoadLibraryA as NI's is.
std::vector<LoadCase> cases
{
    {"gpib_32_dll", "Gpib-32.dll", 0}, {"missing_gives_126", "Gpib-32-missing.dll", 53},
        {"not_a_dll_gives_193", notSharedObject(), 48},
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
    {"not_a_shared_object", notSharedObject(), 48},
    {"a_directory", std::filesystem::temp_directory_path().string(), 48},
    {"missing_dependency", SELVANE_BROKEN_LIBRARY, 48},
    {"no_driver_entry_points", "libc.so.6", 453},
};
#endif
INSTANTIATE_TEST_SUITE_P(Files, Loading, ::testing::ValuesIn(cases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(LoadingEntryPoints, LibraryNameComesFromTheEnvironment)
{
    setEnvironment("SELVANE_GPIB_LIBRARY", "/opt/gpib/libgpib.so");
    EXPECT_EQ(DynamicLibrary::defaultName(), "/opt/gpib/libgpib.so");
#if defined(_WIN32)
    const std::string platformDefault = "Gpib-32.dll";
#else
    const std::string platformDefault = "libgpib.so.0";
#endif
    setEnvironment("SELVANE_GPIB_LIBRARY", "");
    EXPECT_EQ(DynamicLibrary::defaultName(), platformDefault);
    setEnvironment("SELVANE_GPIB_LIBRARY", nullptr);
    EXPECT_EQ(DynamicLibrary::defaultName(), platformDefault);
}

} // namespace
