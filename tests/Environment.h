// SPDX-License-Identifier: MIT
#pragma once

// Setting the environment of the test process, on every platform.

#include <cstdlib>
#include <string>

inline void setEnvironment(const char *name, const char *value)
{
#if defined(_WIN32)
    _putenv_s(name, value ? value : "");
#else
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
#endif
}
