// SPDX-License-Identifier: MIT
#pragma once

// For the driver libraries built here (the simulated bus, the adapters' driver): how their
// entry points are exported, and the status of each call as NI-488.2 leaves it, per thread,
// in the cells a thread registered (RegisterGpibGlobalsForThread) and for ThreadIbsta & co.

#include "GpibApi.h" // SELVANE_GPIB_CALL, the entry points' calling convention

#include <cstdint>

#if defined(_WIN32)
#define SELVANE_DRIVER_EXPORT extern "C" __declspec(dllexport)
#else
#define SELVANE_DRIVER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace gpib {

/** What one driver call gives: its return value and its status. */
struct CallStatus
{
    int ret = 0;
    int ibsta = 0;
    int iberr = 0;
    long ibcntl = 0;
};

/** One thread's last call and registered cells; a driver keeps one thread_local. */
struct ThreadCells
{
    CallStatus last;
    std::int32_t *ibsta = nullptr;
    std::int32_t *iberr = nullptr;
    std::int32_t *ibcnt = nullptr;
    std::int32_t *ibcntl = nullptr;

    /** Keeps `status` as the thread's last and copies it into its cells; its return value. */
    int finish(const CallStatus &status)
    {
        last = status;
        if (ibsta) {
            *ibsta = status.ibsta;
            *iberr = status.iberr;
            *ibcnt = static_cast<std::int32_t>(status.ibcntl);
            *ibcntl = static_cast<std::int32_t>(status.ibcntl);
        }
        return status.ret;
    }

    /** RegisterGpibGlobalsForThread: 0 done, 1 already registered with these cells, 2 with
        other cells, 3 a cell missing. */
    int registerCells(std::int32_t *sta, std::int32_t *err, std::int32_t *cnt, std::int32_t *cntl)
    {
        if (!sta || !err || !cnt || !cntl)
            return 3;
        if (ibsta)
            return ibsta == sta ? 1 : 2;
        ibsta = sta, iberr = err, ibcnt = cnt, ibcntl = cntl;
        return 0;
    }

    void unregisterCells() { ibsta = iberr = ibcnt = ibcntl = nullptr; }
};

} // namespace gpib
