// SPDX-License-Identifier: MIT
#pragma once

#include "GpibApi.h"
#include "GpibTrace.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class DriverLibrary;

/**
 * The only code that calls the GPIB driver. Each wrapper registers the status cells with the
 * driver if that has not succeeded yet, calls the driver with its arguments widened to 32
 * bits, and leaves the call's status in `GpibStatus`; the wrapper's result is the low word of
 * the driver's result. A missing library or entry point throws BindingFailure; a failing
 * driver call only sets ERR in the status word.
 *
 * A library without RegisterGpibGlobalsForThread (linux-gpib) reports each call's status
 * through ThreadIbsta, ThreadIberr and ThreadIbcntl instead.
 *
 * With `SELVANE_GPIB_TRACE` set, every call into the driver (registration included) is
 * traced with the status it left in `GpibStatus` (see GpibTrace).
 */
class GpibBinding
{
public:
    /** `library` must outlive the binding; it is loaded on the first wrapper call. */
    explicit GpibBinding(DriverLibrary &library);

    std::int16_t GpibConfigure(std::int16_t ud, std::int16_t option, std::int16_t value);
    /**
     * The device descriptor, negative when the driver refused. An address the bus cannot
     * carry (primary outside 0..30, secondary neither 0 nor 96..126) is refused here with
     * ERR and EARG, without calling the driver.
     */
    std::int16_t GpibOpenDevice(std::int16_t board, std::int16_t pad, std::int16_t sad,
                                std::int16_t tmo, std::int16_t eot, std::int16_t eos);
    std::int16_t GpibClear(std::int16_t ud);
    /** Writes `count` bytes of `text` (8-bit, no terminator added). */
    std::int16_t GpibWrite(std::int16_t ud, std::string_view text, std::int32_t count);
    std::int16_t GpibGoLocal(std::int16_t ud);
    std::int16_t GpibSetOnline(std::int16_t ud, std::int16_t value);
    /** Asks the board (or a device's board) whether a listener is at `pad`/`sad`; `listen`
        is set to whether one answered, and left false when the call failed. */
    std::int16_t GpibFindListener(std::int16_t ud, std::int16_t pad, std::int16_t sad,
                                  bool *listen);

    /** Registers the cells for this thread; false when the driver refused. */
    bool RegisterStatusCells();
    /** Moves the cells into `ibsta`, `iberr` and `ibcnt`. */
    static void CopyStatus();

    DriverLibrary &library() { return m_library; }

private:
    enum class StatusSource { Unknown, Cells, ThreadFunctions };

    template<typename Function>
    Function entry(Function &cache, const char *name);
    template<typename Function, typename... Args>
    std::int16_t invoke(Function &cache, const char *name, Args... args);
    void prepareStatus();
    void finishStatus();
    void readThreadStatus();
    void traceCall(const char *name, std::initializer_list<long long> args, int result,
                   std::optional<std::string_view> bytes = std::nullopt);

    DriverLibrary &m_library;
    StatusSource m_source = StatusSource::Unknown;
    bool m_hasThreadFunctions = false;
    bool m_registeredForCall = false;

    gpib::IbConfig m_ibconfig = nullptr;
    gpib::IbDev m_ibdev = nullptr;
    gpib::IbClr m_ibclr = nullptr;
    gpib::IbWrt m_ibwrt = nullptr;
    gpib::IbLoc m_ibloc = nullptr;
    gpib::IbOnl m_ibonl = nullptr;
    gpib::IbLn m_ibln = nullptr;
    gpib::RegisterGlobals m_register = nullptr;
    gpib::UnregisterGlobals m_unregister = nullptr;
    gpib::ThreadInt m_threadIbsta = nullptr;
    gpib::ThreadInt m_threadIberr = nullptr;
    gpib::ThreadLong m_threadIbcntl = nullptr;
    std::unique_ptr<GpibTrace> m_trace;
};
