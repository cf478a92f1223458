// SPDX-License-Identifier: MIT
#include "SettingsTool.h"
#include "settings/SystemRegistry.h"

#include <algorithm>
#include <iostream>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char **argv)
{
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY); // an export is UTF-16: no newline translation
#endif
    const auto registry = openSystemRegistry();
    return SettingsTool::run({argv + std::min(argc, 1), argv + argc}, *registry, std::cout,
                             std::cerr);
}
