// SPDX-License-Identifier: MIT
#pragma once

#include "AdapterLink.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

/**
 * One open adapter in controller mode, speaking the "++" commands of the Prologix GPIB-USB
 * and GPIB-ETHERNET and of the AR488. It is set up once when opened, and addresses an
 * instrument (`++addr`) only when the address changes.
 *
 * Addresses are the bus's: `pad` 0..30, `sad` 0 for none or 96..126.
 */
class Adapter
{
public:
    enum class Result {
        Done,
        Absent, ///< the adapter found no listener at the address
        TimedOut, ///< the adapter did not answer by the deadline
        Lost, ///< the link failed; error() says why, and every later call fails alike
        CannotTell, ///< the adapter cannot learn whether a listener is there
    };
    using Clock = AdapterLink::Clock;

    /**
     * Opens the adapter at `where` (see AdapterLink::open), asks `++ver` (an answer within 2 s;
     * a serial board that restarted when its port was opened is asked again, until 3 s) and
     * sets it up. Null on failure, with the error number in `error` and the reason in words
     * in `why`.
     */
    static std::unique_ptr<Adapter> open(const std::string &where, int &error, std::string &why);

    bool lost() const { return m_link->error() != 0; }
    int error() const { return m_link->error(); }
    const std::string &where() const { return m_where; }
    /** The adapter's answer to `++ver`. */
    const std::string &version() const { return m_version; }

    /** Selected device clear (`++clr`); Absent where the adapter can tell. */
    Result clear(int pad, int sad, Clock::time_point deadline);
    /** Sends `data` with EOI on its last byte when `eoi`; Absent where the adapter can tell. */
    Result write(int pad, int sad, std::string_view data, bool eoi, Clock::time_point deadline);
    /** Go to local (`++loc`). */
    Result goLocal(int pad, int sad, Clock::time_point deadline);
    /** Whether a listener is at `pad` with `sad` (0: none, -1: any); CannotTell where the
        adapter has no way to learn it. */
    Result findListener(int pad, int sad, bool &listening, Clock::time_point deadline);

private:
    explicit Adapter(std::unique_ptr<AdapterLink> link);
    Result failed() const { return lost() ? Result::Lost : Result::TimedOut; }
    /** The command that addresses `pad`/`sad` when it is not the current address. */
    std::string addressing(int pad, int sad);
    /** Done when a listener is there or the adapter cannot tell; Absent when it is not. */
    Result presence(int pad, int sad, Clock::time_point deadline);

    std::unique_ptr<AdapterLink> m_link;
    std::string m_where;
    std::string m_version;
    bool m_prologix = false;
    std::optional<bool> m_findsListeners; ///< unknown until an AR488 first answers ++fndl
    std::optional<std::pair<int, int>> m_address;
    bool m_eoi = true;
};
