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
    if (command == "--help" || command == "--version") // a command line of this platform's kind
        return {command == "--help" ? Path::Help : Path::Version, {}};
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

std::string helpText()
{
#if defined(_WIN32)
    const std::string program = "selvane.exe", more = "the README in the program's folder";
    const std::string set = "set NAME=VALUE before starting it", file;
#else
    const std::string program = "selvane", more = "selvane(1) and /usr/share/doc/selvane";
    const std::string set = "NAME=VALUE before the program's name";
    const std::string file = "SELVANE_REGISTRY (the settings file), ";
#endif
    return "Usage: " + program
           + " [NAME]\n"
             "       "
           + program
           + " -clean [NAME]\n"
             "       "
           + program
           + " -? | --help | --version\n"
             "\n"
             "The control panel of up to three GPIB switch units. NAME is the instance, all the\n"
             "text after the program's name, blanks included: each instance keeps its own labels,\n"
             "titles, addresses and window place. Without a name, the default instance.\n"
             "\n"
             "  -clean     delete the instance's stored settings (not while its panel runs)\n"
             "  -?         show this usage in a message box\n"
             "  --help     print this usage\n"
             "  --version  print the program's version\n"
             "\n"
             "Environment ("
           + set
           + "): SELVANE_GPIB_LIBRARY (the\n"
             "driver library), SELVANE_GPIB_TRACE (a file tracing every driver call),\n"
           + file
           + "SELVANE_DEMO (1: the demo's own settings),\n"
             "SELVANE_REMOTE (0: no scripts), SELVANE_SCPI_PORT (SCPI on this loopback\n"
             "port; 0: off), and SELVANE_SIM_DEVICES, SELVANE_SIM_FAULTS,\n"
             "SELVANE_SIM_TRACE and SELVANE_SIM_DELAY_MS for the simulated bus.\nSee "
           + more + ".\n";
}

std::string versionText()
{
    return "selvane " SELVANE_VERSION_TEXT "\n";
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
