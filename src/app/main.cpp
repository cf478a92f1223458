// SPDX-License-Identifier: MIT
#include "CommandLine.h"
#include "MainWindow.h"
#include "OrderlyEnd.h"
#include "QuitSignals.h"
#include "Version.h"
#include "forms/FormBuilder.h"
#include "gpib/DynamicLibrary.h"
#include "gpib/GpibBinding.h"
#include "settings/SettingsStore.h"
#include "settings/SystemRegistry.h"
#include "tools/ToolOutput.h"

#include <QApplication>

#include <cstdio>
#include <iostream>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

/** Prints `text` on standard output; 1 with the system's reason when it could not. */
int print(const std::string &text)
{
#if defined(_WIN32)
    // A program of the windows kind has a console only when its caller lends it one.
    if (::_get_osfhandle(1) == -1 && AttachConsole(ATTACH_PARENT_PROCESS)) {
        const int console = ::_open("CONOUT$", _O_WRONLY);
        if (console >= 0 && ::_dup2(console, 1) == 0)
            ::_close(console);
    }
#endif
    ToolOutput out(ToolOutput::standardOutput());
    out << text;
    return out.finish(0, std::cerr, "selvane");
}

/** A message of the platform's, held while the application starts; its context's texts are
    the logging macros' literals, which live as long as the program. */
struct Held
{
    QtMsgType type;
    const char *file, *function, *category;
    int line;
    QString message;
};
std::vector<Held> g_said;
bool g_usage = false; // the command's path is the usage's

/** Holds the platform's messages while the application starts. Where it ends the program
    for want of a display, the reason is said in one line instead, as a command line should:
    exit status 1 (2 stays the driver's), or 0 with the usage printed for "-?". */
void whileStarting(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        g_said.push_back(
            {type, context.file, context.function, context.category, context.line, message});
        return;
    }
    QString why = message.section('\n', 0, 0);
    for (const Held &held : g_said) {
        if (held.message.contains(QLatin1String("display"))) // the platform's own words
            why = held.message;
    }
    const QByteArray display = qgetenv("DISPLAY");
    std::fflush(stdout);
    if (g_usage)
        std::_Exit(print(CommandLine::helpText()));
    std::fprintf(stderr, "selvane: cannot open the display%s: %s\n",
                 display.isEmpty() ? " (DISPLAY is not set)" : (' ' + display).constData(),
                 why.trimmed().toLocal8Bit().constData());
    std::_Exit(1);
}

} // namespace

int main(int argc, char **argv)
{
    // The operator's arguments are ours alone: Qt would take -reverse, -style, -platform and
    // others for itself, so it sees the program's name only.
    const std::string commandText = CommandLine::commandText(argc, argv);
    const CommandLine::Path path = CommandLine::parse(commandText).path;
    if (path == CommandLine::Path::Help || path == CommandLine::Path::Version) // no window
        return print(path == CommandLine::Path::Help ? CommandLine::helpText()
                                                     : CommandLine::versionText());
    char programName[] = "selvane";
    char *qtArgv[] = {argv[0] ? argv[0] : programName, nullptr}; // argv[argc] is null
    int qtArgc = 1;
    g_usage = path == CommandLine::Path::Usage;
    const QtMessageHandler platforms = qInstallMessageHandler(whileStarting);
    QApplication app(qtArgc, qtArgv);
    qInstallMessageHandler(platforms);
    for (const Held &held : g_said) { // a started application's warnings, as they came
        const QMessageLogContext context(held.file, held.line, held.function, held.category);
        platforms ? platforms(held.type, context, held.message)
                  : qt_message_output(held.type, context, held.message);
    }
    g_said.clear();
    QApplication::setApplicationName(QStringLiteral("SELVANE"));
    // The menu entry the window belongs to, for docks and task switchers (Wayland's app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.talvern.selvane"));
    // Every window and message box in the windows' face: no other face is loaded at start.
    QApplication::setFont(FormBuilder::windowFont());
#if defined(_WIN32)
    // Classic controls, which the windows were sized for: the themed style's wider button
    // margins cut the descenders of captions such as "Config".
    QApplication::setStyle(QStringLiteral("windows"));
#endif

    const std::unique_ptr<Registry> registry = openSystemRegistry();
    SettingsStore store(*registry);
    DynamicLibrary driver(DynamicLibrary::defaultName());
    GpibBinding gpib(driver);
    MainWindow window(store, gpib);

    QuitSignals quitSignals;
    OrderlyEnd &end = window.orderlyEnd();
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &end, &OrderlyEnd::requestQuit);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &end, &OrderlyEnd::requestQuit);

    window.setListening(qEnvironmentVariable("SELVANE_REMOTE") != QLatin1String("0"));
    window.Load(commandText);
    if (window.hasClosed())
        return window.exitCode();
    window.show();
    return QApplication::exec();
}
