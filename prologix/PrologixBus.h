// SPDX-License-Identifier: MIT
#pragma once

#include "gpib/DriverCells.h"

#include "Adapter.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

/**
 * The driver's side of gpib-prologix: boards that are adapters (see AdapterMap), the table of
 * device descriptors, and the status of each call as NI-488.2 gives it. The C entry points
 * are thin layers over it.
 *
 * A board's adapter is opened by the first ibdev or ibln on it and closed when its last
 * descriptor goes offline (or by ibonl on the board), so that another panel can then take
 * it. An adapter that is lost stays lost for the descriptors opened on it: EDVR, with the
 * system's error number in ibcntl; a later ibdev opens the adapter anew.
 */
class PrologixBus
{
public:
    static constexpr int kBoards = 32; ///< descriptors below this are boards
    static constexpr int kDescriptors = 64;

    using Status = gpib::CallStatus;

    static PrologixBus &instance();

    Status ibconfig(int ud, int option, int value);
    Status ibdev(int board, int pad, int sad, int tmo, int eot, int eos);
    Status ibclr(int ud);
    Status ibwrt(int ud, const void *buffer, long count);
    Status ibloc(int ud);
    Status ibonl(int ud, int value);
    Status ibln(int ud, int pad, int sad, short *listen);

private:
    struct Device
    {
        int board = 0;
        int pad = 0;
        int sad = 0;
        int timeout = 0;
        bool eot = true;
        std::shared_ptr<Adapter> adapter;
    };

    /** The board's open adapter, opened now if need be; null with the failure in `status`. */
    std::shared_ptr<Adapter> adapter(int board, Status &status);
    /** Closes the board's adapter when no descriptor uses it any more. */
    void release(int board);
    Device *device(int ud);
    Status outcome(Adapter::Result result, const Adapter &adapter, long count = 0);
    /** EDVR for a board without an adapter, said on standard error when `tell`. */
    Status unmapped(int board, bool tell = true);

    std::mutex m_mutex;
    std::map<int, std::shared_ptr<Adapter>> m_adapters;
    std::map<int, Device> m_devices;
};
