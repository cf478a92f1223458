// SPDX-License-Identifier: MIT
#include "UnitDeviceLink.h"

#include "GpibBinding.h"
#include "GpibStatus.h"

namespace {

constexpr std::string_view kLinkProof = "XX";

/**
 * The link failed, perhaps after the driver gave its descriptor: the unit counts as closed and
 * a descriptor goes offline, so the driver's table does not fill (never 0: that is board 0).
 * A library without ibonl keeps it; that alone is no reason to end the program.
 */
UnitDeviceLink::Result drop(UnitLink &unit, GpibBinding &gpib)
{
    UnitDeviceLink::Result result;
    if (GpibStatus.refused()) // the failed step's answer, before ibonl gives its own
        result.refusal = {GpibStatus.iberr, GpibStatus.ibcntl};
    unit.Opened = false;
    try {
        if (unit.Device > 0)
            gpib.GpibSetOnline(unit.Device, 0);
    } catch (const BindingFailure &) { }
    return result;
}

} // namespace

UnitDeviceLink::Result UnitDeviceLink::OpenUnit(UnitLink &unit, GpibBinding &gpib)
{
    unit.Opened = true;
    bool described = false; // the driver gave this open a descriptor
    try {
        gpib.GpibConfigure(unit.Board, gpib::kOptionSendLlo, 1); // status not examined
        unit.Device = gpib.GpibOpenDevice(unit.Board, unit.PAd, unit.SAd, gpib::kTimeout3s, 1, 0);
        if (GpibStatus.failed() || unit.Device <= 0)
            return drop(unit, gpib); // a driver whose status cannot be read may still give one
        described = true;
        gpib.GpibClear(unit.Device);
        if (!GpibStatus.failed()) {
            gpib.GpibWrite(unit.Device, kLinkProof, static_cast<std::int32_t>(kLinkProof.size()));
            if (!GpibStatus.failed())
                return {true, std::nullopt, false, std::nullopt};
        }
        return drop(unit, gpib);
    } catch (const BindingFailure &failure) {
        // An entry point missing after ibdev: the descriptor goes offline all the same.
        if (described)
            drop(unit, gpib);
        unit.Opened = false;
        return {false, failure, true, std::nullopt};
    }
}

UnitDeviceLink::Result UnitDeviceLink::SendToUnit(UnitLink &unit, GpibBinding &gpib,
                                                  std::string_view command)
{
    if (!unit.Opened) {
        Result opened = OpenUnit(unit, gpib);
        if (!opened.ok) {
            unit.Opened = false;
            return opened;
        }
    }
    try {
        gpib.GpibWrite(unit.Device, command, static_cast<std::int32_t>(command.size()));
        if (!GpibStatus.failed())
            return {true, std::nullopt, false, std::nullopt};
        return drop(unit, gpib);
    } catch (const BindingFailure &failure) {
        unit.Opened = false;
        return {false, failure, false, std::nullopt};
    }
}

void UnitDeviceLink::CloseUnit(UnitLink &unit, GpibBinding &gpib)
{
    if (!unit.Opened)
        return;
    unit.Opened = false;
    // Only an entry point the open did not use can be missing here. Each step is tried on
    // its own, so that a device that cannot go local still goes offline.
    try {
        gpib.GpibGoLocal(unit.Device);
    } catch (const BindingFailure &) { }
    try {
        gpib.GpibSetOnline(unit.Device, 0);
    } catch (const BindingFailure &) { }
}

std::string UnitDeviceLink::failureMessage(const BindingFailure &failure)
{
    std::string message = failure.description();
    if (failure.number() == BindingFailure::kFileNotFound)
#if defined(_WIN32)
        message += "\rInstall National Instruments drivers";
#else
        message += "\rInstall linux-gpib, which provides libgpib.so.0. It is not part of Debian:"
                   " build it from its source (linux-gpib.sourceforge.io).\rTo try the panel"
                   " without hardware, start selvane-demo, or set SELVANE_GPIB_LIBRARY to the"
                   " simulated bus.";
#endif
    return message;
}

std::string UnitDeviceLink::boardRefusal(const Result &result, int board)
{
    if (!result.refusal
        || (result.refusal->first != gpib::kEdvr && result.refusal->first != gpib::kEneb))
        return {};
    return "board " + std::to_string(board) + " cannot be used: the driver answered "
           + gpib::errorWithReason(result.refusal->first, result.refusal->second);
}
