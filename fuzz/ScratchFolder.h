// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <sys/stat.h>

/** Where a fuzz target keeps its registry file: in memory when the system offers it. */
inline std::string scratchFolder()
{
    struct stat info
    {
    };
    return ::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm" : "/tmp";
}
