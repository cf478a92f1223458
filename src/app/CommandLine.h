// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

/** The command line: an instance name, "-clean" and "-?"; "--help" and "--version" as the
    whole command line; any other text is a name. */
namespace CommandLine {

inline constexpr std::string_view kProject = "SELVANE";

enum class Path { Usage, Clean, Normal, Help, Version };

struct Choice
{
    Path path = Path::Normal;
    std::string InstanceName; ///< may be empty, may hold blanks; not set on the usage path
};

/**
 * The command text: on Windows the raw command line after the program's name, elsewhere
 * each argument after the program's name with a blank before it.
 */
std::string commandText(int argc, const char *const *argv);

/** A raw command line (Windows' GetCommandLine) after the program's name, quoted or not. */
std::string_view afterProgramName(std::string_view line);

/** Decides the path from the command text (case-sensitive; blanks are spaces only). */
Choice parse(std::string_view commandText);

/** Empty for an empty instance name, otherwise " - " and the name. */
std::string contextSuffix(std::string_view instanceName);

/** The text of the usage message box. */
std::string usageMessage();

/** The usage that --help prints, in this platform's words. */
std::string helpText();
/** What --version prints: "selvane 1.0.0". */
std::string versionText();

/** The text of the box shown before a context is cleaned. */
std::string cleanMessage(std::string_view instanceName);

/** Why -clean deletes nothing: a running panel of `context`, or, with a `reason`, a lock that
    cannot tell whether one runs. */
std::string cleanRefusal(const std::string &context, const std::string &reason);

/** The window's caption for the context's suffix: "SELVANE V1.0.0 - Bench". */
std::string caption(std::string_view contextSuffix);

} // namespace CommandLine
