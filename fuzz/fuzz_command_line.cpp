// SPDX-License-Identifier: MIT
// Any command text: a path is always decided, and what it decides keeps its rules.

#include "app/CommandLine.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const CommandLine::Choice choice = CommandLine::parse(text);
    const std::string &name = choice.InstanceName;
    if (!name.empty() && (name.front() == ' ' || name.back() == ' '))
        std::abort(); // blanks around the name are always removed
    switch (choice.path) {
    case CommandLine::Path::Usage:
        if (!name.empty())
            std::abort();
        break;
    case CommandLine::Path::Clean:
        if (name.find('-') != std::string::npos || text.find("-clean") == std::string_view::npos)
            std::abort();
        break;
    case CommandLine::Path::Normal:
        if (text.find("-?") != std::string_view::npos
            || text.find("-clean") != std::string_view::npos)
            std::abort();
        break;
    }
    const std::string suffix = CommandLine::contextSuffix(name);
    if (name.empty() != suffix.empty())
        std::abort();
    return 0;
}
