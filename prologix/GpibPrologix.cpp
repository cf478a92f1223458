// SPDX-License-Identifier: MIT
// The C entry points of gpib-prologix: the driver functions the panel and the scan use, with
// the status of each call left where the real drivers leave it (registered cells, ThreadIbsta
// & co.).

#include "PrologixBus.h"

#include <cstdint>

#if defined(_WIN32)
#define PROLOGIX_EXPORT extern "C" __declspec(dllexport)
#else
#define PROLOGIX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define PROLOGIX_CALL __stdcall
#else
#define PROLOGIX_CALL
#endif

namespace {

/** The calling thread's status, and the cells it registered. */
struct ThreadStatus
{
    PrologixBus::Status last;
    std::int32_t *ibsta = nullptr;
    std::int32_t *iberr = nullptr;
    std::int32_t *ibcnt = nullptr;
    std::int32_t *ibcntl = nullptr;
};

thread_local ThreadStatus t_status;

int finish(const PrologixBus::Status &status)
{
    t_status.last = status;
    if (t_status.ibsta) {
        *t_status.ibsta = status.ibsta;
        *t_status.iberr = status.iberr;
        *t_status.ibcnt = static_cast<std::int32_t>(status.ibcntl);
        *t_status.ibcntl = static_cast<std::int32_t>(status.ibcntl);
    }
    return status.ret;
}

} // namespace

PROLOGIX_EXPORT int PROLOGIX_CALL ibconfig(int ud, int option, int value)
{
    return finish(PrologixBus::instance().ibconfig(ud, option, value));
}

PROLOGIX_EXPORT int PROLOGIX_CALL ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    return finish(PrologixBus::instance().ibdev(board, pad, sad, tmo, eot, eos));
}

PROLOGIX_EXPORT int PROLOGIX_CALL ibclr(int ud)
{
    return finish(PrologixBus::instance().ibclr(ud));
}

PROLOGIX_EXPORT int PROLOGIX_CALL ibwrt(int ud, const void *buffer, long count)
{
    return finish(PrologixBus::instance().ibwrt(ud, buffer, count));
}

PROLOGIX_EXPORT int PROLOGIX_CALL ibloc(int ud)
{
    return finish(PrologixBus::instance().ibloc(ud));
}

PROLOGIX_EXPORT int PROLOGIX_CALL ibonl(int ud, int value)
{
    return finish(PrologixBus::instance().ibonl(ud, value));
}

PROLOGIX_EXPORT int PROLOGIX_CALL ibln(int ud, int pad, int sad, short *listen)
{
    return finish(PrologixBus::instance().ibln(ud, pad, sad, listen));
}

PROLOGIX_EXPORT int PROLOGIX_CALL RegisterGpibGlobalsForThread(std::int32_t *ibsta,
                                                               std::int32_t *iberr,
                                                               std::int32_t *ibcnt,
                                                               std::int32_t *ibcntl)
{
    if (!ibsta || !iberr || !ibcnt || !ibcntl)
        return 3;
    if (t_status.ibsta) // 1: already registered with these cells; 2: with other cells
        return t_status.ibsta == ibsta ? 1 : 2;
    t_status.ibsta = ibsta;
    t_status.iberr = iberr;
    t_status.ibcnt = ibcnt;
    t_status.ibcntl = ibcntl;
    return 0;
}

PROLOGIX_EXPORT int PROLOGIX_CALL UnregisterGpibGlobalsForThread()
{
    t_status.ibsta = t_status.iberr = t_status.ibcnt = t_status.ibcntl = nullptr;
    return 0;
}

PROLOGIX_EXPORT int PROLOGIX_CALL ThreadIbsta()
{
    return t_status.last.ibsta;
}

PROLOGIX_EXPORT int PROLOGIX_CALL ThreadIberr()
{
    return t_status.last.iberr;
}

PROLOGIX_EXPORT int PROLOGIX_CALL ThreadIbcnt()
{
    return static_cast<int>(t_status.last.ibcntl);
}

PROLOGIX_EXPORT long PROLOGIX_CALL ThreadIbcntl()
{
    return t_status.last.ibcntl;
}
