// SPDX-License-Identifier: MIT
#include "SettingsTool.h"
#include "ToolOutput.h"
#include "settings/SystemRegistry.h"

#include <algorithm>
#include <iostream>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

int main(int argc, char **argv)
{
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY); // an export is UTF-16: no newline translation
#endif
    ToolOutput out(ToolOutput::standardOutput());
    const auto registry = openSystemRegistry();
    const int code = SettingsTool::run({argv + std::min(argc, 1), argv + argc}, *registry, out,
                                       std::cerr, ::isatty(1) == 1);
    return out.finish(code, std::cerr, "selvane-settings");
}
