// SPDX-License-Identifier: MIT
// The C entry points of gpib-sim: the driver functions the panel uses, with the status of
// each call left where the real drivers leave it (registered cells, ThreadIbsta & co.), and
// one trace line per call.

#include "SimBus.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

thread_local gpib::ThreadCells t_status;

int finish(const SimBus::Status &status)
{
    return t_status.finish(status);
}

SimBus::Status statusOnly(int ret)
{
    SimBus::Status status = t_status.last;
    status.ret = ret;
    return status;
}

} // namespace

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibconfig(int ud, int option, int value)
{
    const SimBus::Status status = SimBus::instance().ibconfig(ud, option, value);
    SimBus::instance().trace("ibconfig", {ud, option, value}, status);
    return finish(status);
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibdev(int board, int pad, int sad, int tmo, int eot,
                                                  int eos)
{
    const SimBus::Status status = SimBus::instance().ibdev(board, pad, sad, tmo, eot, eos);
    SimBus::instance().trace("ibdev", {board, pad, sad, tmo, eot, eos}, status);
    return finish(status);
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibclr(int ud)
{
    const SimBus::Status status = SimBus::instance().ibclr(ud);
    SimBus::instance().trace("ibclr", {ud}, status);
    return finish(status);
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibwrt(int ud, const void *buffer, long count)
{
    const SimBus::Status status = SimBus::instance().ibwrt(ud, buffer, count);
    const long traced = buffer && count > 0 ? count : 0;
    SimBus::instance().trace(
        "ibwrt", {ud, count}, status,
        std::string_view(static_cast<const char *>(buffer), static_cast<std::size_t>(traced)));
    return finish(status);
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibloc(int ud)
{
    const SimBus::Status status = SimBus::instance().ibloc(ud);
    SimBus::instance().trace("ibloc", {ud}, status);
    return finish(status);
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibonl(int ud, int value)
{
    const SimBus::Status status = SimBus::instance().ibonl(ud, value);
    SimBus::instance().trace("ibonl", {ud, value}, status);
    return finish(status);
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ibln(int ud, int pad, int sad, short *listen)
{
    const SimBus::Status status = SimBus::instance().ibln(ud, pad, sad, listen);
    SimBus::instance().trace("ibln", {ud, pad, sad}, status);
    return finish(status);
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL RegisterGpibGlobalsForThread(std::int32_t *ibsta,
                                                                         std::int32_t *iberr,
                                                                         std::int32_t *ibcnt,
                                                                         std::int32_t *ibcntl)
{
    int result = 0;
    if (const auto scripted = SimBus::instance().fault("RegisterGpibGlobalsForThread")) {
        result = scripted->iberr;
    } else {
        result = t_status.registerCells(ibsta, iberr, ibcnt, ibcntl);
    }
    SimBus::instance().trace("RegisterGpibGlobalsForThread", {}, {result, 0, 0, 0});
    return result;
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL UnregisterGpibGlobalsForThread()
{
    t_status.unregisterCells();
    SimBus::instance().trace("UnregisterGpibGlobalsForThread", {}, {0, 0, 0, 0});
    return 0;
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ThreadIbsta()
{
    const SimBus::Status status = statusOnly(t_status.last.ibsta);
    SimBus::instance().trace("ThreadIbsta", {}, status);
    return status.ret;
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ThreadIberr()
{
    const SimBus::Status status = statusOnly(t_status.last.iberr);
    SimBus::instance().trace("ThreadIberr", {}, status);
    return status.ret;
}

SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL ThreadIbcnt()
{
    const SimBus::Status status = statusOnly(static_cast<int>(t_status.last.ibcntl));
    SimBus::instance().trace("ThreadIbcnt", {}, status);
    return status.ret;
}

SELVANE_DRIVER_EXPORT long SELVANE_GPIB_CALL ThreadIbcntl()
{
    const SimBus::Status status = statusOnly(static_cast<int>(t_status.last.ibcntl));
    SimBus::instance().trace("ThreadIbcntl", {}, status);
    return t_status.last.ibcntl;
}

/** Descriptors the simulated driver holds; for tests, not part of the driver's interface. */
SELVANE_DRIVER_EXPORT int SELVANE_GPIB_CALL SimDescriptorsInUse()
{
    return SimBus::instance().descriptorsInUse();
}

/** Frees every descriptor and forgets this thread's cells, as a new start; for tests. */
SELVANE_DRIVER_EXPORT void SELVANE_GPIB_CALL SimReset()
{
    SimBus::instance().reset();
    t_status = {};
}
