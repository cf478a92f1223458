// SPDX-License-Identifier: MIT
#pragma once

#include "gpib/DriverCells.h"

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

/**
 * A simulated GPIB bus: boards, switch instruments that listen at `board:pad:sad`, and the
 * driver's table of device descriptors. It behaves like the driver from the caller's side;
 * the C entry points of gpib-sim are thin layers over it.
 *
 * The environment is read at every call, so a test can change the bus between calls:
 * SELVANE_SIM_DEVICES (instruments present), SELVANE_SIM_TRACE (JSON-lines trace file),
 * SELVANE_SIM_DELAY_MS (time each call takes), SELVANE_SIM_FAULTS (calls that fail).
 *
 * SELVANE_SIM_FAULTS holds `call=value` or `call#n=value` items separated by commas or
 * white space: every call of that name, or only its n-th one (counted from 1 since the list
 * was last changed), fails with the error code `value` (ERR set, result -1); `value:n` also
 * sets ibcntl to n, as linux-gpib gives the system's errno with EDVR. For
 * RegisterGpibGlobalsForThread, `value` is the result it returns instead of registering.
 */
class SimBus
{
public:
    static constexpr int kDescriptors = 64;
    static constexpr int kFirstDescriptor = 32; ///< below: board indexes
    static constexpr int kBoards = 32;

    using Status = gpib::CallStatus;

    static SimBus &instance();

    Status ibconfig(int ud, int option, int value);
    Status ibdev(int board, int pad, int sad, int tmo, int eot, int eos);
    Status ibclr(int ud);
    Status ibwrt(int ud, const void *buffer, long count);
    Status ibloc(int ud);
    Status ibonl(int ud, int value);
    /** Sets `*listen` when an instrument is at `pad`/`sad` on the board of `ud` (sad 0: no
        secondary address, -1: any). */
    Status ibln(int ud, int pad, int sad, short *listen);

    int descriptorsInUse();
    /** Frees every descriptor and restarts the count of calls, as a restart of the driver
        would; for tests. */
    void reset();
    /** The failure a fault sets for this call of `call`, if the fault list names it (for
        RegisterGpibGlobalsForThread, its `iberr` is the result). */
    std::optional<Status> fault(const std::string &call);

    /** Appends one trace line for a call, when a trace file is set. */
    void trace(const char *call, std::initializer_list<long long> args, const Status &status,
               std::optional<std::string_view> bytes = std::nullopt);

private:
    using Address = std::tuple<int, int, int>;
    struct Device
    {
        Address address;
        int timeout = 0;
    };

    void readEnvironment();
    /** Waits the configured delay; false when it exceeds the descriptor's timeout. */
    bool spendTime(int timeoutCode);
    bool present(const Address &address) const;
    bool boardExists(int board) const;
    Device *device(int ud);
    static Status fail(int error, int extra = 0);
    static Status done(int ret = 0, long count = 0);

    std::recursive_mutex m_mutex;
    std::string m_devicesText = "\x01"; // never a real value: parsed on the first call
    std::set<Address> m_present;
    std::set<int> m_boards;
    std::map<Address, std::array<int, 2>> m_positions;
    std::map<int, Device> m_devices;
    long m_delayMs = 0;
    struct Fault
    {
        std::string call;
        int step = 0; ///< 0: every call
        int value = 0;
        long count = 0; ///< the failure's ibcntl
    };
    std::string m_faultsText;
    std::vector<Fault> m_faults;
    std::map<std::string, int> m_callCounts;
};
