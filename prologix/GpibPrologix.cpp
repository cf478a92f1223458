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

thread_local gpib::ThreadCells t_cells;

int finish(const PrologixBus::Status &status)
{
    return t_cells.finish(status);
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
    return t_cells.registerCells(ibsta, iberr, ibcnt, ibcntl);
}

PROLOGIX_EXPORT int PROLOGIX_CALL UnregisterGpibGlobalsForThread()
{
    t_cells.unregisterCells();
    return 0;
}

PROLOGIX_EXPORT int PROLOGIX_CALL ThreadIbsta()
{
    return t_cells.last.ibsta;
}

PROLOGIX_EXPORT int PROLOGIX_CALL ThreadIberr()
{
    return t_cells.last.iberr;
}

PROLOGIX_EXPORT int PROLOGIX_CALL ThreadIbcnt()
{
    return static_cast<int>(t_cells.last.ibcntl);
}

PROLOGIX_EXPORT long PROLOGIX_CALL ThreadIbcntl()
{
    return t_cells.last.ibcntl;
}
