// SPDX-License-Identifier: MIT
// gpib-sim behaves like a driver from the caller's side: descriptors, errors, the timeout
// rule, status reporting and its trace.

#include "TemporaryFolder.h"
#include "gpib/GpibApi.h"

#include "Environment.h"

#include <gtest/gtest.h>

#include <fstream>

#if defined(_WIN32)
#define SIM_IMPORT __declspec(dllimport)
#else
#define SIM_IMPORT
#endif

extern "C" {
SIM_IMPORT int SELVANE_GPIB_CALL ibconfig(int ud, int option, int value);
SIM_IMPORT int SELVANE_GPIB_CALL ibdev(int board, int pad, int sad, int tmo, int eot, int eos);
SIM_IMPORT int SELVANE_GPIB_CALL ibclr(int ud);
SIM_IMPORT int SELVANE_GPIB_CALL ibwrt(int ud, const void *buffer, long count);
SIM_IMPORT int SELVANE_GPIB_CALL ibloc(int ud);
SIM_IMPORT int SELVANE_GPIB_CALL ibonl(int ud, int value);
SIM_IMPORT int SELVANE_GPIB_CALL RegisterGpibGlobalsForThread(std::int32_t *, std::int32_t *,
                                                              std::int32_t *, std::int32_t *);
SIM_IMPORT int SELVANE_GPIB_CALL UnregisterGpibGlobalsForThread();
SIM_IMPORT int SELVANE_GPIB_CALL ThreadIbsta();
SIM_IMPORT int SELVANE_GPIB_CALL ThreadIberr();
SIM_IMPORT long SELVANE_GPIB_CALL ThreadIbcntl();
SIM_IMPORT int SELVANE_GPIB_CALL SimDescriptorsInUse();
}

namespace {

class GpibSimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setEnvironment("SELVANE_SIM_DEVICES", "0:7:0, 1:12:96");
        setEnvironment("SELVANE_SIM_DELAY_MS", "0");
        setEnvironment("SELVANE_SIM_TRACE", nullptr);
        inUse = SimDescriptorsInUse();
    }
    void TearDown() override
    {
        for (const int ud : opened)
            ibonl(ud, 0);
        EXPECT_EQ(SimDescriptorsInUse(), inUse);
    }
    int open(int board, int pad, int sad, int tmo = gpib::kTimeout3s)
    {
        const int ud = ibdev(board, pad, sad, tmo, 1, 0);
        if (ud > 0)
            opened.push_back(ud);
        return ud;
    }
    static int lastError() { return ThreadIberr(); }
    static bool failed() { return ThreadIbsta() & gpib::kErr; }

    int inUse = 0;
    std::vector<int> opened;
};

TEST_F(GpibSimTest, AnyLegalAddressGetsADescriptorButOnlyAListenerAnswers)
{
    const int present = open(0, 7, 0);
    const int absent = open(0, 8, 0);
    ASSERT_GT(present, 0);
    ASSERT_GT(absent, 0);
    EXPECT_NE(present, absent);

    ibclr(present);
    EXPECT_FALSE(failed());
    EXPECT_EQ(ibwrt(present, "XX", 2), 0);
    EXPECT_FALSE(failed());
    EXPECT_EQ(ThreadIbcntl(), 2);

    ibclr(absent);
    EXPECT_TRUE(failed());
    EXPECT_EQ(lastError(), gpib::kEnol);
    ibwrt(absent, "A1", 2);
    EXPECT_TRUE(failed());
    EXPECT_EQ(lastError(), gpib::kEnol);

    const int secondary = open(1, 12, 96);
    ibwrt(secondary, "B4", 2);
    EXPECT_FALSE(failed());
}

struct BadCall
{
    const char *name;
    int board, pad, sad, tmo;
    int error;
};

class BadArguments : public GpibSimTest, public ::testing::WithParamInterface<BadCall>
{
};

TEST_P(BadArguments, AreRefusedAsTheDriverRefusesThem)
{
    const BadCall &call = GetParam();
    EXPECT_EQ(ibdev(call.board, call.pad, call.sad, call.tmo, 1, 0), -1);
    EXPECT_TRUE(failed());
    EXPECT_EQ(lastError(), call.error);
}

INSTANTIATE_TEST_SUITE_P(Calls, BadArguments,
                         ::testing::Values(BadCall {"pad_31", 0, 31, 0, 12, gpib::kEarg},
                                           BadCall {"sad_95", 0, 7, 95, 12, gpib::kEarg},
                                           BadCall {"sad_127", 0, 7, 127, 12, gpib::kEarg},
                                           BadCall {"timeout_18", 0, 7, 0, 18, gpib::kEarg},
                                           BadCall {"board_not_on_bus", 5, 7, 0, 12, gpib::kEneb},
                                           BadCall {"board_negative", -1, 7, 0, 12, gpib::kEneb}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(GpibSimTest, BoardsAreZeroAndThoseOfTheDeviceList)
{
    ibconfig(0, gpib::kOptionSendLlo, 1);
    EXPECT_FALSE(failed());
    ibconfig(1, gpib::kOptionSendLlo, 1);
    EXPECT_FALSE(failed());
    ibconfig(2, gpib::kOptionSendLlo, 1);
    EXPECT_TRUE(failed());
    EXPECT_EQ(lastError(), gpib::kEneb);
    ibclr(12345);
    EXPECT_EQ(lastError(), gpib::kEdvr);
}

TEST_F(GpibSimTest, TheTableHolds64DescriptorsAndOfflineFreesThem)
{
    for (int i = inUse; i < 64; ++i)
        ASSERT_GT(open(0, 8, 0), 0);
    EXPECT_EQ(SimDescriptorsInUse(), 64);
    EXPECT_EQ(ibdev(0, 8, 0, 12, 1, 0), -1);
    EXPECT_EQ(lastError(), gpib::kEdvr);
    ibonl(opened.back(), 0);
    opened.pop_back();
    EXPECT_GT(open(0, 7, 0), 0);
}

TEST_F(GpibSimTest, CallsLongerThanTheTimeoutAbort)
{
    const int quick = open(0, 7, 0, 6); // 3 ms
    setEnvironment("SELVANE_SIM_DELAY_MS", "5");
    ibwrt(quick, "A1", 2);
    EXPECT_TRUE(failed());
    EXPECT_EQ(lastError(), gpib::kEabo);
    EXPECT_TRUE(ThreadIbsta() & gpib::kTimo);
    setEnvironment("SELVANE_SIM_DELAY_MS", "2");
    ibwrt(quick, "A1", 2);
    EXPECT_FALSE(failed());
}

TEST_F(GpibSimTest, FaultsFailTheCallsTheyName)
{
    const int ud = open(0, 7, 0);
    setEnvironment("SELVANE_SIM_FAULTS",
                   "ibwrt#2=6, ibclr=0 RegisterGpibGlobalsForThread#1=7 bad#x=1");
    std::int32_t cells[4] = {};
    EXPECT_EQ(RegisterGpibGlobalsForThread(&cells[0], &cells[1], &cells[2], &cells[3]), 7);
    EXPECT_EQ(ibwrt(ud, "A1", 2), 0);
    EXPECT_EQ(ibwrt(ud, "A2", 2), -1);
    EXPECT_EQ(lastError(), gpib::kEabo);
    EXPECT_EQ(ibwrt(ud, "A3", 2), 0);
    ibclr(ud);
    ibclr(ud);
    EXPECT_EQ(lastError(), gpib::kEdvr);
    EXPECT_EQ(cells[0], 0) << "refused: no cell was registered";
    setEnvironment("SELVANE_SIM_FAULTS", nullptr);
    ibclr(ud);
    EXPECT_FALSE(failed());
}

TEST_F(GpibSimTest, RegisteredCellsAreWrittenAfterEveryCall)
{
    std::int32_t cells[4] = {-1, -1, -1, -1};
    std::int32_t other[4] = {};
    ASSERT_EQ(RegisterGpibGlobalsForThread(&cells[0], &cells[1], &cells[2], &cells[3]), 0);
    EXPECT_EQ(RegisterGpibGlobalsForThread(&cells[0], &cells[1], &cells[2], &cells[3]), 1);
    EXPECT_EQ(RegisterGpibGlobalsForThread(&other[0], &other[1], &other[2], &other[3]), 2);
    const int ud = open(0, 8, 0);
    ibwrt(ud, "A1", 2);
    EXPECT_TRUE(cells[0] & gpib::kErr);
    EXPECT_EQ(cells[1], gpib::kEnol);
    UnregisterGpibGlobalsForThread();
    ibwrt(open(0, 7, 0), "A1", 2);
    EXPECT_TRUE(cells[0] & gpib::kErr) << "no longer written once unregistered";
}

TEST_F(GpibSimTest, TraceHasOneJsonLinePerCall)
{
    TemporaryFolder folder;
    const std::string trace = folder.file("trace.jsonl");
    setEnvironment("SELVANE_SIM_TRACE", trace.c_str());
    const int ud = open(0, 7, 0);
    ibwrt(ud, "XX", 2);
    ibloc(ud);
    setEnvironment("SELVANE_SIM_TRACE", nullptr);
    std::ifstream file(trace);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    const std::string u = std::to_string(ud);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "{\"call\":\"ibdev\",\"args\":[0,7,0,12,1,0],\"ret\":" + u
                            + ",\"ibsta\":256,\"iberr\":0,\"ibcntl\":0}");
    EXPECT_EQ(lines[1],
              "{\"call\":\"ibwrt\",\"args\":[" + u
                  + ",2],\"bytes\":\"5858\",\"ret\":0,\"ibsta\":8448,\"iberr\":0,\"ibcntl\":2}");
    EXPECT_EQ(lines[2], "{\"call\":\"ibloc\",\"args\":[" + u
                            + "],\"ret\":0,\"ibsta\":256,\"iberr\":0,\"ibcntl\":0}");
}

TEST_F(GpibSimTest, InstrumentsReportEachChangeOfPosition)
{
    const int ud = open(0, 7, 0);
    ibwrt(ud, "B1", 2); // a known start, whatever earlier tests left
    ::testing::internal::CaptureStderr();
    ibwrt(ud, "A3", 2);
    ibwrt(ud, "A3", 2);
    ibwrt(ud, "XX", 2);
    ibwrt(ud, "B2", 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "gpib-sim: 0:7:0 A -> 3\ngpib-sim: 0:7:0 B -> 2\n");
}

TEST_F(GpibSimTest, EmptyDeviceListMeansNoInstrument)
{
    // Windows cannot hold an empty variable (setting one removes it): a blank is as empty.
#if defined(_WIN32)
    setEnvironment("SELVANE_SIM_DEVICES", " ");
#else
    setEnvironment("SELVANE_SIM_DEVICES", "");
#endif
    const int ud = open(0, 7, 0);
    ASSERT_GT(ud, 0);
    ibclr(ud);
    EXPECT_EQ(lastError(), gpib::kEnol);
}

} // namespace
