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
    const bool usage = text.find("-?") != std::string_view::npos;
    const bool clean = text.find("-clean") != std::string_view::npos;
    if ((choice.path == CommandLine::Path::Usage && !name.empty())
        || (choice.path == CommandLine::Path::Clean
            && (name.find('-') != std::string::npos || !clean))
        || (choice.path == CommandLine::Path::Normal && (usage || clean)))
        std::abort(); // usage names no instance; a clean names one that keeps no hyphen
    const std::string suffix = CommandLine::contextSuffix(name);
    if (name.empty() != suffix.empty())
        std::abort();
    return 0;
}
