// SPDX-License-Identifier: MIT
// The C entry points of gpib-prologix: the driver functions the panel and the scan use, with
// the status of each call left where the real drivers leave it (registered cells, ThreadIbsta
// & co.).

#include "PrologixBus.h"

#include <cstdint>

namespace {

thread_local gpib::ThreadCells t_cells;

int finish(const PrologixBus::Status &status)
{
    return t_cells.finish(status);
}

} // namespace

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibconfig(int ud, int option, int value)
{
    return finish(PrologixBus::instance().ibconfig(ud, option, value));
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibdev(int board, int pad, int sad, int tmo, int eot,
                                                  int eos)
{
    return finish(PrologixBus::instance().ibdev(board, pad, sad, tmo, eot, eos));
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibclr(int ud)
{
    return finish(PrologixBus::instance().ibclr(ud));
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibwrt(int ud, const void *buffer, long count)
{
    return finish(PrologixBus::instance().ibwrt(ud, buffer, count));
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibloc(int ud)
{
    return finish(PrologixBus::instance().ibloc(ud));
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibonl(int ud, int value)
{
    return finish(PrologixBus::instance().ibonl(ud, value));
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibln(int ud, int pad, int sad, short *listen)
{
    return finish(PrologixBus::instance().ibln(ud, pad, sad, listen));
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL RegisterGpibGlobalsForThread(std::int32_t *ibsta,
                                                                         std::int32_t *iberr,
                                                                         std::int32_t *ibcnt,
                                                                         std::int32_t *ibcntl)
{
    return t_cells.registerCells(ibsta, iberr, ibcnt, ibcntl);
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL UnregisterGpibGlobalsForThread()
{
    t_cells.unregisterCells();
    return 0;
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ThreadIbsta()
{
    return t_cells.last.ibsta;
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ThreadIberr()
{
    return t_cells.last.iberr;
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ThreadIbcnt()
{
    return static_cast<int>(t_cells.last.ibcntl);
}

SELVANE_DRIVER_EXPORT long SELVANE_GPIB_CALL ThreadIbcntl()
{
    return t_cells.last.ibcntl;
}
