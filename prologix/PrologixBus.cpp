// SPDX-License-Identifier: MIT
#include "PrologixBus.h"

#include "AdapterMap.h"
#include "gpib/GpibApi.h"

#include <cerrno>
#include <cstdio>

namespace {

constexpr int kTimeoutCodes = 18;

PrologixBus::Status fail(int error, long count = 0, int extra = 0)
{
    return {-1, gpib::kErr | gpib::kCmpl | extra, error, count};
}

PrologixBus::Status done(int ret = 0, long count = 0)
{
    return {ret, gpib::kCmpl, 0, count};
}

/** The deadline of a call under the driver's timeout code; T0 (none) would let a call wait
    for ever, so it stands for the device timeout (3 s) too. */
Adapter::Clock::time_point deadline(int code)
{
    static constexpr double kMs[kTimeoutCodes] = {3000, 0.01,  0.03,  0.1,    0.3,    1,
                                                  3,    10,    30,    100,    300,    1000,
                                                  3000, 10000, 30000, 100000, 300000, 1000000};
    const double ms = code >= 0 && code < kTimeoutCodes ? kMs[code] : 3000;
    return Adapter::Clock::now()
           + std::chrono::duration_cast<Adapter::Clock::duration>(
               std::chrono::duration<double, std::milli>(ms));
}

bool addressFits(int pad, int sad)
{
    return pad >= 0 && pad <= 30 && (sad == 0 || (sad >= 96 && sad <= 126));
}

} // namespace

PrologixBus &PrologixBus::instance()
{
    static PrologixBus bus;
    return bus;
}

PrologixBus::Device *PrologixBus::device(int ud)
{
    const auto it = m_devices.find(ud);
    return it == m_devices.end() ? nullptr : &it->second;
}

PrologixBus::Status PrologixBus::unmapped(int board, bool tell)
{
    if (tell && board >= 0 && board < kBoards)
        std::fprintf(stderr, "gpib-prologix: board %d has no adapter in %s\n", board,
                     AdapterMap::source().c_str());
    return fail(gpib::kEdvr, ENXIO);
}

std::shared_ptr<Adapter> PrologixBus::adapter(int board, Status &status)
{
    const auto boards = AdapterMap::boards();
    const auto entry = boards.find(board);
    if (entry == boards.end()) {
        m_adapters.erase(board);
        status = unmapped(board);
        return nullptr;
    }
    if (const auto open = m_adapters.find(board);
        open != m_adapters.end() && !open->second->lost() && open->second->where() == entry->second)
        return open->second;
    m_adapters.erase(board);
    int error = 0;
    std::string why;
    std::shared_ptr<Adapter> opened = Adapter::open(entry->second, error, why);
    if (!opened) {
        std::fprintf(stderr, "gpib-prologix: board %d, %s: %s\n", board, entry->second.c_str(),
                     why.c_str());
        status = fail(gpib::kEdvr, error);
        return nullptr;
    }
    m_adapters[board] = opened;
    return opened;
}

void PrologixBus::release(int board)
{
    for (const auto &[ud, dev] : m_devices) {
        if (dev.board == board)
            return;
    }
    m_adapters.erase(board);
}

PrologixBus::Status PrologixBus::outcome(Adapter::Result result, const Adapter &adapter, long count)
{
    switch (result) {
    case Adapter::Result::Done:
        return done(0, count);
    case Adapter::Result::Absent:
        return fail(gpib::kEnol);
    case Adapter::Result::TimedOut:
        return fail(gpib::kEabo, 0, gpib::kTimo);
    case Adapter::Result::CannotTell:
        return fail(gpib::kEcap);
    case Adapter::Result::Lost:
        break;
    }
    return fail(gpib::kEdvr, adapter.error());
}

PrologixBus::Status PrologixBus::ibconfig(int ud, int option, int value)
{
    std::lock_guard lock(m_mutex);
    if (Device *dev = device(ud)) {
        if (option == 3) { // IbcTMO
            if (value < 0 || value >= kTimeoutCodes)
                return fail(gpib::kEarg);
            dev->timeout = value;
        }
        return done();
    }
    if (!AdapterMap::boards().count(ud))
        return unmapped(ud, false); // ibdev, which follows, tells
    return done(option == gpib::kOptionSendLlo ? value : 0);
}

PrologixBus::Status PrologixBus::ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    std::lock_guard lock(m_mutex);
    if (!addressFits(pad, sad) || tmo < 0 || tmo >= kTimeoutCodes || (eot != 0 && eot != 1)
        || eos < 0 || eos > 0xFFFF)
        return fail(gpib::kEarg);
    int ud = kBoards;
    while (ud < kBoards + kDescriptors && m_devices.count(ud))
        ++ud;
    if (ud == kBoards + kDescriptors)
        return fail(gpib::kEdvr);
    Status status;
    auto open = adapter(board, status);
    if (!open)
        return status;
    m_devices[ud] = Device {board, pad, sad, tmo, eot == 1, std::move(open)};
    return done(ud);
}

PrologixBus::Status PrologixBus::ibclr(int ud)
{
    std::lock_guard lock(m_mutex);
    Device *dev = device(ud);
    if (!dev)
        return fail(gpib::kEdvr);
    return outcome(dev->adapter->clear(dev->pad, dev->sad, deadline(dev->timeout)), *dev->adapter);
}

PrologixBus::Status PrologixBus::ibwrt(int ud, const void *buffer, long count)
{
    std::lock_guard lock(m_mutex);
    Device *dev = device(ud);
    if (!dev)
        return fail(gpib::kEdvr);
    if (count < 0 || (count > 0 && !buffer))
        return fail(gpib::kEarg);
    const std::string_view data(static_cast<const char *>(buffer), static_cast<std::size_t>(count));
    Status status =
        outcome(dev->adapter->write(dev->pad, dev->sad, data, dev->eot, deadline(dev->timeout)),
                *dev->adapter, count);
    if (!(status.ibsta & gpib::kErr))
        status.ibsta |= gpib::kEnd;
    return status;
}

PrologixBus::Status PrologixBus::ibloc(int ud)
{
    std::lock_guard lock(m_mutex);
    if (Device *dev = device(ud))
        return outcome(dev->adapter->goLocal(dev->pad, dev->sad, deadline(dev->timeout)),
                       *dev->adapter);
    if (!AdapterMap::boards().count(ud))
        return unmapped(ud);
    return done();
}

PrologixBus::Status PrologixBus::ibonl(int ud, int value)
{
    std::lock_guard lock(m_mutex);
    if (value != 0 && value != 1)
        return fail(gpib::kEarg);
    if (Device *dev = device(ud)) {
        if (value == 0) {
            const int board = dev->board;
            m_devices.erase(ud);
            release(board);
        }
        return done();
    }
    if (ud < 0 || ud >= kBoards)
        return fail(gpib::kEdvr);
    if (value == 0 && m_adapters.count(ud)) {
        release(ud); // kept while descriptors still use it
        return done();
    }
    if (!AdapterMap::boards().count(ud))
        return unmapped(ud, false);
    return done();
}

PrologixBus::Status PrologixBus::ibln(int ud, int pad, int sad, short *listen)
{
    std::lock_guard lock(m_mutex);
    int board = ud;
    if (const Device *dev = device(ud))
        board = dev->board;
    else if (ud < 0 || ud >= kBoards)
        return fail(gpib::kEdvr);
    if (!listen || !addressFits(pad, sad == -1 ? 0 : sad))
        return fail(gpib::kEarg);
    Status status;
    const auto open = adapter(board, status);
    if (!open)
        return status;
    bool listening = false;
    status = outcome(open->findListener(pad, sad, listening, deadline(12)), *open);
    *listen = listening ? 1 : 0;
    return status;
}
