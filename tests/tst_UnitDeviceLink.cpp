// SPDX-License-Identifier: MIT
// A unit's device link: the driver calls of each operation in order, the link's state after
// each outcome, and that no failure leaves a descriptor online.

#include "FakeDriver.h"
#include "gpib/DynamicLibrary.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"
#include "gpib/UnitDeviceLink.h"

#include "Environment.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Calls = std::vector<std::string>;

class UnitDeviceLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GpibStatus = {};
        unit.PAd = 7;
        gpib.GpibGoLocal(0); // registers the cells, so the calls below are the link's own
        driver.calls.clear();
    }
    FakeDriver driver;
    GpibBinding gpib {driver};
    UnitLink unit;
};

TEST_F(UnitDeviceLinkTest, OpenConfiguresOpensClearsAndProvesTheLink)
{
    const auto result = UnitDeviceLink::OpenUnit(unit, gpib);
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.failure);
    EXPECT_TRUE(unit.Opened);
    EXPECT_EQ(unit.Device, 32);
    EXPECT_EQ(driver.calls,
              (Calls {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)", "ibclr(32)", "ibwrt(32,2)=XX"}));
}

struct OpenFailure
{
    const char *name;
    const char *step;
    FakeDriver::Outcome outcome;
    Calls calls;
    bool ok;
};

class OpenFailures : public UnitDeviceLinkTest, public ::testing::WithParamInterface<OpenFailure>
{
};

TEST_P(OpenFailures, EndClosedWithNoDescriptorLeftOnline)
{
    driver.script(GetParam().step, GetParam().outcome);
    const auto result = UnitDeviceLink::OpenUnit(unit, gpib);
    EXPECT_EQ(result.ok, GetParam().ok);
    EXPECT_EQ(unit.Opened, GetParam().ok);
    EXPECT_FALSE(result.failure);
    EXPECT_EQ(driver.calls, GetParam().calls);
    EXPECT_EQ(driver.descriptorsOnline, GetParam().ok ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenFailures,
    ::testing::Values(
        OpenFailure {"configure_error_does_not_stop",
                     "ibconfig",
                     FakeDriver::error(7),
                     {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)", "ibclr(32)", "ibwrt(32,2)=XX"},
                     true},
        OpenFailure {"ibdev_error",
                     "ibdev",
                     FakeDriver::error(0),
                     {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)"},
                     false},
        OpenFailure {"ibdev_zero_without_err",
                     "ibdev",
                     {0, gpib::kCmpl, 0, 0},
                     {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)"},
                     false},
        OpenFailure {"ibdev_negative_without_err",
                     "ibdev",
                     {-3, gpib::kCmpl, 0, 0},
                     {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)"},
                     false},
        OpenFailure {"clear_error",
                     "ibclr",
                     FakeDriver::error(gpib::kEnol),
                     {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)", "ibclr(32)", "ibonl(32,0)"},
                     false},
        OpenFailure {"proof_write_error",
                     "ibwrt",
                     FakeDriver::error(gpib::kEnol),
                     {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)", "ibclr(32)", "ibwrt(32,2)=XX",
                      "ibonl(32,0)"},
                     false}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(UnitDeviceLinkTest, SendOnAClosedUnitOpensFirst)
{
    const auto result = UnitDeviceLink::SendToUnit(unit, gpib, "B3");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(driver.calls, (Calls {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)", "ibclr(32)",
                                    "ibwrt(32,2)=XX", "ibwrt(32,2)=B3"}));
    driver.calls.clear();
    EXPECT_TRUE(UnitDeviceLink::SendToUnit(unit, gpib, "A1").ok);
    EXPECT_EQ(driver.calls, (Calls {"ibwrt(32,2)=A1"}));
}

TEST_F(UnitDeviceLinkTest, FailedOpenSendsNothing)
{
    driver.script("ibclr", FakeDriver::error(gpib::kEnol));
    EXPECT_FALSE(UnitDeviceLink::SendToUnit(unit, gpib, "A2").ok);
    EXPECT_FALSE(unit.Opened);
    for (const std::string &call : driver.calls)
        EXPECT_EQ(call.find("=A2"), std::string::npos);
}

TEST_F(UnitDeviceLinkTest, FailedWriteClosesAndTheNextSendReopensFully)
{
    ASSERT_TRUE(UnitDeviceLink::OpenUnit(unit, gpib).ok);
    driver.calls.clear();
    driver.script("ibwrt", FakeDriver::error(gpib::kEnol));
    EXPECT_FALSE(UnitDeviceLink::SendToUnit(unit, gpib, "A3").ok);
    EXPECT_FALSE(unit.Opened);
    EXPECT_EQ(driver.calls, (Calls {"ibwrt(32,2)=A3", "ibonl(32,0)"}));
    EXPECT_EQ(driver.descriptorsOnline, 0);

    driver.calls.clear();
    EXPECT_TRUE(UnitDeviceLink::SendToUnit(unit, gpib, "A3").ok);
    EXPECT_EQ(driver.calls, (Calls {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)", "ibclr(33)",
                                    "ibwrt(33,2)=XX", "ibwrt(33,2)=A3"}));
}

TEST_F(UnitDeviceLinkTest, CloseTouchesOnlyAnOpenLink)
{
    UnitDeviceLink::CloseUnit(unit, gpib);
    EXPECT_TRUE(driver.calls.empty());
    ASSERT_TRUE(UnitDeviceLink::OpenUnit(unit, gpib).ok);
    driver.calls.clear();
    UnitDeviceLink::CloseUnit(unit, gpib);
    EXPECT_FALSE(unit.Opened);
    EXPECT_EQ(unit.Device, 32);
    EXPECT_EQ(driver.calls, (Calls {"ibloc(32)", "ibonl(32,0)"}));
}

TEST_F(UnitDeviceLinkTest, MissingLibraryDuringOpenIsReturnedWithItsMessage)
{
    FakeDriver missing;
    missing.failLoading(53);
    GpibBinding unbound(missing);
    GpibStatus = {};
    const auto result = UnitDeviceLink::OpenUnit(unit, unbound);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(unit.Opened);
    ASSERT_TRUE(result.failure);
    EXPECT_TRUE(result.duringOpen);
    EXPECT_EQ(result.failure->number(), 53);
}

TEST_F(UnitDeviceLinkTest, MissingEntryPointAfterAnOpenClosesTheUnit)
{
    ASSERT_TRUE(UnitDeviceLink::OpenUnit(unit, gpib).ok);
    driver.remove("ibloc");
    UnitDeviceLink::CloseUnit(unit, gpib); // must not throw
    EXPECT_FALSE(unit.Opened);

    FakeDriver noWrite;
    noWrite.remove("ibwrt");
    GpibBinding other(noWrite);
    unit.Opened = true;
    const auto result = UnitDeviceLink::SendToUnit(unit, other, "A1");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(unit.Opened);
    ASSERT_TRUE(result.failure);
    EXPECT_FALSE(result.duringOpen);
    EXPECT_EQ(result.failure->number(), 453);
}

TEST(UnitDeviceLinkMessage, MissingLibraryAddsHowToMendIt)
{
    EXPECT_EQ(UnitDeviceLink::failureMessage(BindingFailure::fileNotFound("Gpib-32.dll")),
              "File not found: Gpib-32.dll\rInstall National Instruments drivers");
    EXPECT_EQ(UnitDeviceLink::failureMessage(BindingFailure::cannotLoad("Gpib-32.dll")),
              "Error in loading DLL: Gpib-32.dll");
    EXPECT_EQ(UnitDeviceLink::failureMessage(BindingFailure::entryPointMissing("ibloc", "x.dll")),
              "Can't find DLL entry point ibloc in x.dll");
}

TEST(UnitDeviceLinkOnTheSimulatedBus, ManyFailedOpensKeepDescriptorsBounded)
{
    setEnvironment("SELVANE_SIM_DEVICES", "0:7:0");
    GpibStatus = {};
    DynamicLibrary sim(SELVANE_SIM_LIBRARY);
    GpibBinding gpib(sim);
    auto inUse = reinterpret_cast<int (*)()>(sim.entryPoint("SimDescriptorsInUse"));
    const int before = inUse();
    UnitLink absent;
    absent.PAd = 9;
    for (int i = 0; i < 10000; ++i) {
        ASSERT_FALSE(UnitDeviceLink::SendToUnit(absent, gpib, "A1").ok);
        ASSERT_EQ(inUse(), before) << "after " << i + 1 << " presses";
    }
    UnitLink present;
    present.PAd = 7;
    EXPECT_TRUE(UnitDeviceLink::OpenUnit(present, gpib).ok) << "a present instrument still opens";
    UnitDeviceLink::CloseUnit(present, gpib);
    EXPECT_EQ(inUse(), before);
}

} // namespace
