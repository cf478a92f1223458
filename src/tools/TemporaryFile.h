// SPDX-License-Identifier: MIT
#pragma once

#include <csignal>
#include <string>

/** What both platforms' ToolFiles share: the file being made, removed on a signal. */
namespace ToolFiles::detail {

// The file being made, removed by a signal that ends the tool meanwhile. A fixed buffer:
// the handler may touch nothing else.
extern char s_temporary[4096];
extern volatile std::sig_atomic_t s_pending;

/** The signals that end a tool send their removal while it lives. */
class RemovedOnSignal
{
public:
    RemovedOnSignal();
    ~RemovedOnSignal();
    RemovedOnSignal(const RemovedOnSignal &) = delete;
    RemovedOnSignal &operator=(const RemovedOnSignal &) = delete;
};

/** The folder part of `path`, "." for a plain name. */
std::string folderOf(const std::string &path);

} // namespace ToolFiles::detail
