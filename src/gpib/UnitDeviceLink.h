// SPDX-License-Identifier: MIT
#pragma once

#include "BindingFailure.h"
#include "UnitLink.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

class GpibBinding;

/**
 * The three operations on a unit's device link. Each reads success from the ERR bit right
 * after every driver step and returns what happened; the caller shows any message.
 * A descriptor that is dropped after a failure is taken offline first (never one of 0 or
 * less: 0 is board 0).
 */
class UnitDeviceLink
{
public:
    struct Result
    {
        bool ok = false;
        /** Set when the driver library or an entry point is missing. */
        std::optional<BindingFailure> failure;
        /** The failure came from opening the device (the caller then requests the quit). */
        bool duringOpen = false;
        /** The driver's answer (iberr, ibcntl) at the step that failed, when ERR was set. */
        std::optional<std::pair<int, long>> refusal;
    };

    /** Configures the board, opens the device, clears it and writes "XX". */
    static Result OpenUnit(UnitLink &unit, GpibBinding &gpib);
    /** Writes `command`, opening the device first when the link is not open. */
    static Result SendToUnit(UnitLink &unit, GpibBinding &gpib, std::string_view command);
    /** Returns an open device to local control and takes its descriptor offline. */
    static void CloseUnit(UnitLink &unit, GpibBinding &gpib);

    /** The message for a binding failure; a missing library adds how to mend it (the NI
        driver on Windows, linux-gpib elsewhere). */
    static std::string failureMessage(const BindingFailure &failure);
    /** The simulated bus installed with this program: beside it on Windows, in its own
        folder of the library folder elsewhere. */
    static std::string simulatedBus();

    /** Where the board itself cannot be used (EDVR, ENEB: no device file, no permission, not
        configured), which a red caption alone does not tell: "board 0 cannot be used: the
        driver answered ..."; else empty. */
    static std::string boardRefusal(const Result &result, int board);
    /** "board 0 cannot be used: the driver answered EDVR (Permission denied)", and what
        usually mends it where one mend is usual. */
    static std::string refusedBoard(int board, int iberr, long ibcntl);

    /** The unit's address as its frame shows it: "0.7.0". */
    static std::string address(const UnitLink &unit);
    /** The driver's refusal in words: "no instrument answered at 0.8.0 (ENOL)" (the address
        left out unless `at`); refusedBoard's words where the board itself cannot be used. */
    static std::string refusalInWords(std::pair<int, long> refusal, const UnitLink &unit, bool at);
    /** An operation on the unit's link and its outcome, in words: "linked at 0.7.0", "A3 taken
        at 0.7.0", "A3 not taken: no instrument answered at 0.8.0 (ENOL)". `command` is the
        one written, empty for an opening. */
    static std::string outcome(const Result &result, const UnitLink &unit,
                               std::string_view command);
};
