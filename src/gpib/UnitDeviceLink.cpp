// SPDX-License-Identifier: MIT
#include "UnitDeviceLink.h"

#include "GpibBinding.h"
#include "GpibStatus.h"

#include <cstdlib>
#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#endif

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
    const int number = failure.number();
    if (number != BindingFailure::kFileNotFound && number != BindingFailure::kCannotLoad)
        return message;
    const char *chosen = std::getenv("SELVANE_GPIB_LIBRARY");
    if (chosen && *chosen) { // the advice to install a driver does not apply to a chosen one
        message += std::string("\rSELVANE_GPIB_LIBRARY is set to ") + chosen
                   + ", which could not be loaded"
                   + (failure.reason().empty() ? "." : ": " + failure.reason());
    } else if (number == BindingFailure::kFileNotFound) {
#if defined(_WIN32)
        message += "\rInstall National Instruments drivers";
#else
        message += "\rInstall linux-gpib, which provides libgpib.so.0. It is not part of Debian:"
                   " build it from its source (linux-gpib.sourceforge.io), as"
                   " /usr/share/doc/selvane/docs/driver.md tells.";
#endif
    } else if (!failure.reason().empty()) {
        message += "\r" + failure.reason();
    }
#if defined(_WIN32)
    return message
           + "\rTo try the panel without hardware, start \"SELVANE (simulated bus)\" from"
             " the Start menu, which loads the simulated bus "
           + simulatedBus() + '.';
#else
    return message
           + "\rTo try the panel without hardware, choose \"Start on the Simulated Bus\""
             " in its menu entry, or run selvane-demo, which loads the simulated bus "
           + simulatedBus() + '.';
#endif
}

std::string UnitDeviceLink::simulatedBus()
{
    namespace fs = std::filesystem;
    std::error_code error;
#if defined(_WIN32)
    char program[MAX_PATH] = {};
    const fs::path folder =
        fs::path(std::string(program, GetModuleFileNameA(nullptr, program, MAX_PATH)))
            .parent_path();
    return (folder / "gpib-sim.dll").string();
#else
    const fs::path folder = fs::read_symlink("/proc/self/exe", error).parent_path();
    return (folder.parent_path() / SELVANE_SIM_DIR / "libgpib-sim.so").lexically_normal().string();
#endif
}

std::string UnitDeviceLink::boardRefusal(const Result &result, int board)
{
    if (!result.refusal
        || (result.refusal->first != gpib::kEdvr && result.refusal->first != gpib::kEneb))
        return {};
    return refusedBoard(board, result.refusal->first, result.refusal->second);
}

std::string UnitDeviceLink::refusedBoard(int board, int iberr, long ibcntl)
{
    const std::string remedy = gpib::remedy(iberr, ibcntl, board);
    return "board " + std::to_string(board) + " cannot be used: the driver answered "
           + gpib::errorWithReason(iberr, ibcntl) + (remedy.empty() ? "" : "; " + remedy);
}

std::string UnitDeviceLink::address(const UnitLink &unit)
{
    return std::to_string(unit.Board) + '.' + std::to_string(unit.PAd) + '.'
           + std::to_string(unit.SAd);
}

std::string UnitDeviceLink::refusalInWords(std::pair<int, long> refusal, const UnitLink &unit,
                                           bool at)
{
    const auto [iberr, ibcntl] = refusal;
    if (iberr == gpib::kEdvr || iberr == gpib::kEneb)
        return refusedBoard(unit.Board, iberr, ibcntl);
    return gpib::errorMeaning(iberr) + (at ? " at " + address(unit) : std::string()) + " ("
           + gpib::errorWithReason(iberr, ibcntl) + ')';
}

std::string UnitDeviceLink::outcome(const Result &result, const UnitLink &unit,
                                    std::string_view command)
{
    const std::string done = command.empty() ? std::string() : std::string(command) + ' ';
    if (result.ok)
        return done + (command.empty() ? "linked at " : "taken at ") + address(unit);
    const std::string failed = done + (command.empty() ? "not linked: " : "not taken: ");
    if (result.failure) // the first line of its message
        return failed + result.failure->description();
    if (result.refusal)
        return failed + refusalInWords(*result.refusal, unit, true);
    return failed + "the driver gave no link to " + address(unit);
}
