// SPDX-License-Identifier: MIT
#include "CommandLine.h"

#include "Version.h"

#include <algorithm>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace CommandLine {

namespace {

constexpr std::string_view kClean = "-clean";

std::string_view trimBlanks(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

} // namespace

std::string commandText(int argc, const char *const *argv)
{
#if defined(_WIN32)
    (void)argc;
    (void)argv;
    // The raw text after the program's name, as the operator typed it.
    return std::string(afterProgramName(GetCommandLineA()));
#else
    // Each argument after a blank, as Windows' raw command line has them after the name.
    std::string text;
    for (int i = 1; i < argc; ++i)
        text.append(" ").append(argv[i]);
    return text;
#endif
}

std::string_view afterProgramName(std::string_view line)
{
    std::size_t end = 0;
    if (!line.empty() && line.front() == '"') {
        end = line.find('"', 1);
        end = end == std::string_view::npos ? line.size() : end + 1;
    } else {
        end = std::min(line.find_first_of(" \t"), line.size());
    }
    return line.substr(end);
}

Choice parse(std::string_view commandText)
{
    const std::string_view command = trimBlanks(commandText);
    if (command.find("-?") != std::string_view::npos)
        return {Path::Usage, {}};
    const std::size_t clean = command.find(kClean);
    if (clean == std::string_view::npos)
        return {Path::Normal, std::string(command)};

    // Only the first "-clean" is blanked; any "-" left over makes the line unusable.
    std::string rest(command);
    rest.replace(clean, kClean.size(), kClean.size(), ' ');
    const std::string_view name = trimBlanks(rest);
    if (name.find('-') != std::string_view::npos)
        return {Path::Usage, {}};
    return {Path::Clean, std::string(name)};
}

std::string contextSuffix(std::string_view instanceName)
{
    if (instanceName.empty())
        return {};
    return " - " + std::string(instanceName);
}

std::string usageMessage()
{
    return "Usage:\t" + std::string(kProject)
           + ".exe (NUM) (-clean)\r\n     with\r\n\tNAME  = Instance name\r\n"
             "\t-clean = Registry clean option";
}

std::string cleanMessage(std::string_view instanceName)
{
    return "Cleaning " + std::string(instanceName)
           + " registry context\r\nPlease restart application";
}

std::string cleanRefusal(const std::string &context, const std::string &reason)
{
    return reason.empty() ? context + " is in use by a running panel: close it before cleaning"
                          : "cannot tell whether a panel of " + context + " is running: " + reason
                                + "; nothing is cleaned";
}

std::string caption(std::string_view contextSuffix)
{
    return std::string(kProject) + " V" + std::to_string(SELVANE_VERSION_MAJOR) + '.'
           + std::to_string(SELVANE_VERSION_MINOR) + '.' + std::to_string(SELVANE_VERSION_PATCH)
           + std::string(contextSuffix);
}

} // namespace CommandLine
