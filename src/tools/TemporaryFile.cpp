// SPDX-License-Identifier: MIT
#include "TemporaryFile.h"

#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace ToolFiles::detail {

char s_temporary[4096];
volatile std::sig_atomic_t s_pending = 0;

namespace {

#if defined(_WIN32)
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};
const auto removeFile = &DeleteFileA;
#else
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
const auto removeFile = &::unlink; // safe in a signal handler
#endif

void removeAndEnd(int signal)
{
    if (s_pending)
        removeFile(s_temporary);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

RemovedOnSignal::RemovedOnSignal()
{
    for (const int signal : kSignals)
        std::signal(signal, removeAndEnd);
}

RemovedOnSignal::~RemovedOnSignal()
{
    s_pending = 0;
    for (const int signal : kSignals)
        std::signal(signal, SIG_DFL);
}

std::string folderOf(const std::string &path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

} // namespace ToolFiles::detail
