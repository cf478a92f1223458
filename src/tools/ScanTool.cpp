// SPDX-License-Identifier: MIT
#include "ScanTool.h"

#include "ToolText.h"
#include "gpib/DynamicLibrary.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"
#include "gpib/UnitDeviceLink.h"

#include <optional>

namespace ScanTool {

namespace {

constexpr int kPrimaryLast = 30;
constexpr int kSecondaryFirst = 96;
constexpr int kSecondaryLast = 126;

} // namespace

int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    bool secondary = false;
    bool options = true;
    std::optional<std::int16_t> board;
    for (const std::string &arg : args) {
        if (options && (arg == "--help" || arg == "-h" || arg == "--version")) {
            out << (arg == "--version" ? ToolText::version("selvane-scan") : kUsageText);
            return kFound;
        }
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--secondary") {
            secondary = true;
        } else if (const auto number = ToolText::number(arg); number && !board && *number >= 0) {
            board = *number;
        } else {
            err << "selvane-scan: unexpected argument '" << arg << "'\n" << kUsageText;
            return kUsage;
        }
    }
    const std::int16_t index = board.value_or(0);
    std::vector<std::int16_t> secondaries {0}; // 0: the primary address alone
    for (int sad = kSecondaryFirst; secondary && sad <= kSecondaryLast; ++sad)
        secondaries.push_back(static_cast<std::int16_t>(sad));

    DynamicLibrary library(DynamicLibrary::defaultName());
    GpibBinding gpib(library);
    int found = 0;
    try {
        for (std::int16_t pad = 0; pad <= kPrimaryLast; ++pad) {
            for (const std::int16_t sad : secondaries) {
                bool listen = false;
                gpib.GpibFindListener(index, pad, sad, &listen);
                if (GpibStatus.failed() && GpibStatus.iberr == gpib::kEcap) {
                    err << "selvane-scan: board " << index << " cannot tell which instruments "
                        << "listen (the driver answered ECAP), as a Prologix adapter cannot; "
                        << "presses through it still work\n";
                    gpib.GpibSetOnline(index, 0);
                    return kBoardUnusable;
                }
                if (GpibStatus.failed()) {
                    err << "selvane-scan: "
                        << UnitDeviceLink::refusedBoard(index, GpibStatus.iberr, GpibStatus.ibcntl)
                        << '\n';
                    gpib.GpibSetOnline(index, 0);
                    return kBoardUnusable;
                }
                if (listen) {
                    out << index << ':' << pad << ':' << sad << '\n';
                    ++found;
                }
            }
        }
        gpib.GpibSetOnline(index, 0);
    } catch (const BindingFailure &failure) {
        err << "selvane-scan: " << ToolText::lines(UnitDeviceLink::failureMessage(failure)) << '\n';
        return kDriverMissing;
    }
    const bool offline = !GpibStatus.failed();
    if (!offline)
        err << "selvane-scan: board " << index << " could not be taken offline: the driver"
            << " answered " << gpib::errorWithReason(GpibStatus.iberr, GpibStatus.ibcntl) << '\n';
    if (found == 0)
        err << "selvane-scan: no listener on board " << index << '\n';
    out.flush();
    return offline ? kFound : kBoardUnusable;
}

} // namespace ScanTool
