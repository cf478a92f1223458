// SPDX-License-Identifier: MIT
// The binding: lazy registration of the status cells, the status every caller reads, the
// low-word results, and the failures of a missing library or entry point.

#include "FakeDriver.h"
#include "gpib/DynamicLibrary.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"

#include "Environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using Calls = std::vector<std::string>;

class GpibBindingTest : public ::testing::Test
{
protected:
    void SetUp() override { GpibStatus = {}; }
    FakeDriver driver;
    GpibBinding gpib {driver};
};

TEST_F(GpibBindingTest, RegistersOnceAndBeforeTheFirstCall)
{
    gpib.GpibConfigure(0, 23, 1);
    gpib.GpibClear(32);
    EXPECT_EQ(driver.calls, (Calls {"Register", "ibconfig(0,23,1)", "ibclr(32)"}));
    EXPECT_EQ(GpibStatus.cellsRegistered, 1);
}

struct Registration
{
    const char *name;
    int result;
    Calls calls; ///< for two wrapper calls
    std::int16_t registeredAfter;
};

class RegistrationResults : public GpibBindingTest,
                            public ::testing::WithParamInterface<Registration>
{
};

TEST_P(RegistrationResults, AreHandledAsTheDriverDefinesThem)
{
    driver.scriptRegistration(GetParam().result);
    gpib.GpibGoLocal(32);
    EXPECT_EQ(GpibStatus.cellsRegistered, GetParam().registeredAfter);
    gpib.GpibGoLocal(32);
    EXPECT_EQ(driver.calls, GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Results, RegistrationResults,
    ::testing::Values(
        Registration {"r0_registered", 0, {"Register", "ibloc(32)", "ibloc(32)"}, 1},
        Registration {"r1_unregister_and_again",
                      1,
                      {"Register", "Unregister", "Register", "ibloc(32)", "ibloc(32)"},
                      1},
        Registration {"r2_unregister_then_retry",
                      2,
                      {"Register", "Unregister", "ibloc(32)", "Register", "ibloc(32)"},
                      0},
        Registration {"r3_unregister_then_retry",
                      3,
                      {"Register", "Unregister", "ibloc(32)", "Register", "ibloc(32)"},
                      0},
        Registration {"r7_retry_without_unregister",
                      7,
                      {"Register", "ibloc(32)", "Register", "ibloc(32)"},
                      0}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(GpibBindingTest, FailedRegistrationLeavesTheFailureMarkWhenNothingElseTells)
{
    driver.scriptRegistration(7);
    gpib.GpibClear(32); // the driver answers success, but no cell was written
    EXPECT_TRUE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.ibsta, std::int16_t(-32768));
    EXPECT_EQ(GpibStatus.iberr, 0);
    EXPECT_EQ(GpibStatus.ibcntl, std::int32_t(0xDEAD37F0));
}

TEST_F(GpibBindingTest, FailedRegistrationReadsTheCallsStatusWhereTheDriverTellsIt)
{
    driver.withThreadStatus();
    driver.scriptRegistration(2);
    driver.script("ibclr", FakeDriver::error(gpib::kEnol));
    gpib.GpibClear(32);
    EXPECT_TRUE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.iberr, gpib::kEnol);
    gpib.GpibClear(32); // registered now, success
    EXPECT_FALSE(GpibStatus.failed());
}

TEST_F(GpibBindingTest, LinuxGpibStatusComesFromThreadFunctions)
{
    driver.remove("RegisterGpibGlobalsForThread");
    driver.withThreadStatus();
    driver.script("ibwrt", {0, gpib::kCmpl | gpib::kEnd, 0, 2});
    driver.script("ibclr", FakeDriver::error(gpib::kEnol));
    gpib.GpibWrite(32, "XX", 2);
    EXPECT_FALSE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.ibcnt, 2);
    gpib.GpibClear(32);
    EXPECT_TRUE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.iberr, gpib::kEnol);
    EXPECT_EQ(driver.calls, (Calls {"ibwrt(32,2)=XX", "ibclr(32)"}));
}

TEST_F(GpibBindingTest, LibraryWithNeitherStatusWayLacksAnEntryPoint)
{
    driver.remove("RegisterGpibGlobalsForThread");
    try {
        gpib.GpibClear(32);
        FAIL() << "no BindingFailure";
    } catch (const BindingFailure &failure) {
        EXPECT_EQ(failure.number(), 453);
        EXPECT_EQ(failure.description(),
                  "Can't find DLL entry point RegisterGpibGlobalsForThread in fake-gpib.so");
    }
    EXPECT_TRUE(driver.calls.empty());
}

struct Word
{
    const char *name;
    std::int32_t value;
    std::int16_t low;
};

class LowWords : public ::testing::TestWithParam<Word>
{
};

TEST_P(LowWords, AreReadAsSigned)
{
    EXPECT_EQ(LowWordSigned(GetParam().value), GetParam().low);
}

INSTANTIATE_TEST_SUITE_P(Values, LowWords,
                         ::testing::Values(Word {"zero", 0, 0}, Word {"x7FFF", 0x7FFF, 32767},
                                           Word {"x8000", 0x8000, -32768},
                                           Word {"minus_one", -1, -1}, Word {"x65535", 65535, -1},
                                           Word {"x12345", 0x12345, 0x2345},
                                           Word {"int_min", INT32_MIN, 0}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(GpibBindingTest, StatusAndResultsAreLowWords)
{
    driver.script("ibloc", {-1, 0x7FFF, 0, 0});
    EXPECT_EQ(gpib.GpibGoLocal(32), -1);
    EXPECT_FALSE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.ibsta, 0x7FFF);

    driver.script("ibloc", {65535, 0x18000, 3, 0x18000});
    EXPECT_EQ(gpib.GpibGoLocal(32), -1);
    EXPECT_TRUE(GpibStatus.failed());
    EXPECT_EQ(GpibStatus.iberr, 3);
    EXPECT_EQ(GpibStatus.ibcnt, -32768);
    EXPECT_EQ(GpibStatus.ibcntl, 0x18000);
}

TEST_F(GpibBindingTest, WriteSendsExactlyTheBytesCounted)
{
    gpib.GpibWrite(33, "XX", 2);
    gpib.GpibWrite(33, "B3", 2);
    EXPECT_EQ(driver.calls, (Calls {"Register", "ibwrt(33,2)=XX", "ibwrt(33,2)=B3"}));
}

TEST_F(GpibBindingTest, ArgumentsAreWidenedWithTheirSign)
{
    gpib.GpibOpenDevice(-1, 30, 126, 12, 1, 0);
    gpib.GpibSetOnline(-5, 0);
    EXPECT_EQ(driver.calls, (Calls {"Register", "ibdev(-1,30,126,12,1,0)", "ibonl(-5,0)"}));
}

struct Address
{
    const char *name;
    std::int16_t pad;
    std::int16_t sad;
    bool reachesDriver;
};

class Addresses : public GpibBindingTest, public ::testing::WithParamInterface<Address>
{
};

TEST_P(Addresses, TheBusCannotCarryAreRefusedBeforeTheDriver)
{
    const std::int16_t ud = gpib.GpibOpenDevice(0, GetParam().pad, GetParam().sad, 12, 1, 0);
    const bool called = driver.calls.size() == 2;
    EXPECT_EQ(called, GetParam().reachesDriver);
    if (!GetParam().reachesDriver) {
        EXPECT_EQ(ud, -1);
        EXPECT_TRUE(GpibStatus.failed());
        EXPECT_EQ(GpibStatus.iberr, gpib::kEarg);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, Addresses,
    ::testing::Values(Address {"pad_0", 0, 0, true}, Address {"pad_30", 30, 0, true},
                      Address {"pad_31", 31, 0, false}, Address {"pad_negative", -1, 0, false},
                      Address {"sad_96", 7, 96, true}, Address {"sad_126", 7, 126, true},
                      Address {"sad_95", 7, 95, false}, Address {"sad_127", 7, 127, false},
                      Address {"sad_1", 7, 1, false}, Address {"pad_99", 99, 0, false}),
    [](const auto &row) { return std::string(row.param.name); });

class MissingEntryPoints : public GpibBindingTest,
                           public ::testing::WithParamInterface<const char *>
{
};

TEST_P(MissingEntryPoints, ThrowWithTheNameOfTheEntryPoint)
{
    driver.remove(GetParam());
    const auto callAll = [this] {
        gpib.GpibConfigure(0, 23, 1);
        gpib.GpibOpenDevice(0, 7, 0, 12, 1, 0);
        gpib.GpibClear(32);
        gpib.GpibWrite(32, "XX", 2);
        gpib.GpibGoLocal(32);
        gpib.GpibSetOnline(32, 0);
    };
    try {
        callAll();
        FAIL() << "no BindingFailure";
    } catch (const BindingFailure &failure) {
        EXPECT_EQ(failure.number(), 453);
        EXPECT_EQ(failure.description(),
                  std::string("Can't find DLL entry point ") + GetParam() + " in fake-gpib.so");
    }
}

INSTANTIATE_TEST_SUITE_P(Names, MissingEntryPoints,
                         ::testing::Values("ibconfig", "ibdev", "ibclr", "ibwrt", "ibloc", "ibonl",
                                           "RegisterGpibGlobalsForThread"));

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

TEST_P(Loading, TellsMissingFromBroken)
{
    GpibStatus = {};
    DynamicLibrary library(GetParam().library);
    GpibBinding gpib(library);
    if (GetParam().number == 0) {
        EXPECT_NO_THROW(gpib.GpibOpenDevice(0, 7, 0, 12, 1, 0));
        return;
    }
    try {
        gpib.GpibConfigure(0, 23, 1);
        FAIL() << "no BindingFailure";
    } catch (const BindingFailure &failure) {
        EXPECT_EQ(failure.number(), GetParam().number);
        const std::string expected =
            (GetParam().number == 53 ? "File not found: " : "Error in loading DLL: ")
            + GetParam().library;
        EXPECT_EQ(failure.description(), expected);
    }
}

std::string notSharedObject()
{
#if defined(_WIN32)
    const char *name = "selvane-not-a-dll.dll";
#else
    const char *name = "selvane-not-elf.so";
#endif
    const std::string file = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream(file) << "not a shared object\n";
    return file;
}

#if defined(_WIN32)
std::vector<LoadCase> windowsCases()
{
    // The simulated bus under the driver's own name, loaded with LoadLibraryA as NI's is.
    std::vector<LoadCase> cases {
        {"gpib_32_dll", "Gpib-32.dll", 0},
        {"missing_gives_126", "Gpib-32-missing.dll", 53},
        {"not_a_dll_gives_193", notSharedObject(), 48},
        // Windows names a missing dependency ERROR_MOD_NOT_FOUND too.
        {"missing_dependency_gives_126", SELVANE_BROKEN_LIBRARY, 53},
    };
#if defined(SELVANE_WRONG_ARCH_LIBRARY)
    cases.push_back({"other_architecture_gives_193", SELVANE_WRONG_ARCH_LIBRARY, 48});
#endif
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Files, Loading, ::testing::ValuesIn(windowsCases()),
                         [](const auto &row) { return std::string(row.param.name); });
#else
INSTANTIATE_TEST_SUITE_P(
    Files, Loading,
    ::testing::Values(LoadCase {"gpib_sim", SELVANE_SIM_LIBRARY, 0},
                      LoadCase {"bare_name_missing", "libselvane-no-such-driver.so.0", 53},
                      LoadCase {"path_missing", "/nonexistent/libgpib.so.0", 53},
                      LoadCase {"not_a_shared_object", notSharedObject(), 48},
                      LoadCase {"a_directory", std::filesystem::temp_directory_path().string(), 48},
                      LoadCase {"missing_dependency", SELVANE_BROKEN_LIBRARY, 48}),
    [](const auto &row) { return std::string(row.param.name); });
#endif

TEST(LoadingEntryPoints, MissingInARealLibraryIs453)
{
    GpibStatus = {};
    DynamicLibrary library(SELVANE_PARTIAL_LIBRARY);
    GpibBinding gpib(library);
    try {
        gpib.GpibGoLocal(32);
        FAIL() << "no BindingFailure";
    } catch (const BindingFailure &failure) {
        EXPECT_EQ(failure.number(), 453);
        EXPECT_EQ(failure.description(),
                  std::string("Can't find DLL entry point ibloc in ") + SELVANE_PARTIAL_LIBRARY);
    }
}

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
