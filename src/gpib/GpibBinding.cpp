// SPDX-License-Identifier: MIT
#include "GpibBinding.h"

#include "DriverLibrary.h"
#include "GpibStatus.h"

GpibStatusRecord GpibStatus;

namespace {

/** The failure mark of a refused registration. */
void markRegistrationFailed()
{
    GpibStatus.ibsta = LowWordSigned(gpib::kErr);
    GpibStatus.iberr = 0;
    GpibStatus.ibcntl = GpibStatusRecord::kUnreadCount;
}

bool addressFits(std::int16_t pad, std::int16_t sad)
{
    return pad >= 0 && pad <= 30 && (sad == 0 || (sad >= 96 && sad <= 126));
}

} // namespace

GpibBinding::GpibBinding(DriverLibrary &library)
    : m_library(library)
    , m_trace(GpibTrace::fromEnvironment())
{ }

template<typename Function>
Function GpibBinding::entry(Function &cache, const char *name)
{
    if (!cache)
        cache = reinterpret_cast<Function>(m_library.entryPoint(name));
    return cache;
}

bool GpibBinding::RegisterStatusCells()
{
    auto registerCells = [this] {
        const int result = entry(m_register, "RegisterGpibGlobalsForThread")(
            &GpibStatus.ibstaCell, &GpibStatus.iberrCell, &GpibStatus.ibcntCell,
            &GpibStatus.ibcntl);
        if (m_trace)
            m_trace->write("RegisterGpibGlobalsForThread", {}, result, 0, 0, 0);
        return result;
    };
    auto unregisterCells = [this] {
        const int result = entry(m_unregister, "UnregisterGpibGlobalsForThread")();
        if (m_trace)
            m_trace->write("UnregisterGpibGlobalsForThread", {}, result, 0, 0, 0);
    };
    const int result = registerCells();
    if (result == 0) {
        GpibStatus.cellsRegistered = 1;
        return true;
    }
    if (result == 1) {
        unregisterCells();
        registerCells();
        GpibStatus.cellsRegistered = 1;
        return true;
    }
    if (result == 2 || result == 3)
        unregisterCells();
    markRegistrationFailed();
    return false;
}

void GpibBinding::CopyStatus()
{
    GpibStatus.ibsta = LowWordSigned(GpibStatus.ibstaCell);
    GpibStatus.iberr = static_cast<std::int16_t>(GpibStatus.iberrCell);
    GpibStatus.ibcnt = LowWordSigned(GpibStatus.ibcntl);
}

void GpibBinding::prepareStatus()
{
    if (m_source == StatusSource::Unknown) {
        m_hasThreadFunctions = m_library.hasEntryPoint("ThreadIbsta")
                               && m_library.hasEntryPoint("ThreadIberr")
                               && m_library.hasEntryPoint("ThreadIbcntl");
        if (m_library.hasEntryPoint("RegisterGpibGlobalsForThread"))
            m_source = StatusSource::Cells;
        else if (m_hasThreadFunctions)
            m_source = StatusSource::ThreadFunctions;
        else
            m_library.entryPoint("RegisterGpibGlobalsForThread"); // throws: entry point missing
    }
    m_registeredForCall = true;
    if (m_source == StatusSource::Cells && GpibStatus.cellsRegistered == 0)
        m_registeredForCall = RegisterStatusCells();
}

void GpibBinding::readThreadStatus()
{
    GpibStatus.ibstaCell = entry(m_threadIbsta, "ThreadIbsta")();
    GpibStatus.iberrCell = entry(m_threadIberr, "ThreadIberr")();
    GpibStatus.ibcntl = static_cast<std::int32_t>(entry(m_threadIbcntl, "ThreadIbcntl")());
}

void GpibBinding::finishStatus()
{
    if (m_source == StatusSource::ThreadFunctions) {
        readThreadStatus();
    } else if (!m_registeredForCall) {
        // The driver never wrote the cells for this call: ask it where it can tell, else the
        // failure mark stays and the call counts as failed.
        if (!m_hasThreadFunctions)
            return;
        readThreadStatus();
    }
    CopyStatus();
}

void GpibBinding::traceCall(const char *name, std::initializer_list<long long> args, int result,
                            std::optional<std::string_view> bytes)
{
    m_trace->write(name, args, result, static_cast<std::uint16_t>(GpibStatus.ibsta),
                   GpibStatus.iberr, GpibStatus.ibcntl, bytes);
}

template<typename Function, typename... Args>
std::int16_t GpibBinding::invoke(Function &cache, const char *name, Args... args)
{
    prepareStatus();
    const int result = entry(cache, name)(args...);
    finishStatus();
    if (m_trace)
        traceCall(name, {args...}, result);
    return LowWordSigned(result);
}

std::int16_t GpibBinding::GpibConfigure(std::int16_t ud, std::int16_t option, std::int16_t value)
{
    return invoke(m_ibconfig, "ibconfig", int(ud), int(option), int(value));
}

std::int16_t GpibBinding::GpibOpenDevice(std::int16_t board, std::int16_t pad, std::int16_t sad,
                                         std::int16_t tmo, std::int16_t eot, std::int16_t eos)
{
    prepareStatus();
    const gpib::IbDev ibdev = entry(m_ibdev, "ibdev");
    if (!addressFits(pad, sad)) {
        // Some drivers crash on such addresses; they would refuse them in the same words.
        GpibStatus.ibsta = LowWordSigned(gpib::kErr);
        GpibStatus.iberr = gpib::kEarg;
        GpibStatus.ibcnt = 0;
        GpibStatus.ibcntl = 0;
        return -1;
    }
    const int result = ibdev(board, pad, sad, tmo, eot, eos);
    finishStatus();
    if (m_trace)
        traceCall("ibdev", {board, pad, sad, tmo, eot, eos}, result);
    return LowWordSigned(result);
}

std::int16_t GpibBinding::GpibClear(std::int16_t ud)
{
    return invoke(m_ibclr, "ibclr", int(ud));
}

std::int16_t GpibBinding::GpibWrite(std::int16_t ud, std::string_view text, std::int32_t count)
{
    prepareStatus();
    const gpib::IbWrt ibwrt = entry(m_ibwrt, "ibwrt");
    // Never more bytes than the text holds, whatever count says.
    if (count < 0 || static_cast<std::size_t>(count) > text.size())
        count = static_cast<std::int32_t>(text.size());
    const int result = ibwrt(ud, text.data(), static_cast<long>(count));
    finishStatus();
    if (m_trace)
        traceCall("ibwrt", {ud, count}, result, text.substr(0, std::size_t(count)));
    return LowWordSigned(result);
}

std::int16_t GpibBinding::GpibGoLocal(std::int16_t ud)
{
    return invoke(m_ibloc, "ibloc", int(ud));
}

std::int16_t GpibBinding::GpibSetOnline(std::int16_t ud, std::int16_t value)
{
    return invoke(m_ibonl, "ibonl", int(ud), int(value));
}

std::int16_t GpibBinding::GpibFindListener(std::int16_t ud, std::int16_t pad, std::int16_t sad,
                                           bool *listen)
{
    prepareStatus();
    short found = 0;
    const int result = entry(m_ibln, "ibln")(ud, pad, sad, &found);
    finishStatus();
    if (m_trace)
        traceCall("ibln", {ud, pad, sad}, result);
    *listen = !GpibStatus.failed() && found != 0;
    return LowWordSigned(result);
}
