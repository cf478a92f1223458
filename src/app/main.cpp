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

#include <QApplication>

int main(int argc, char **argv)
{
    // The operator's arguments are ours alone: Qt would take -reverse, -style, -platform and
    // others for itself, so it sees the program's name only.
    const std::string commandText = CommandLine::commandText(argc, argv);
    char programName[] = "selvane";
    char *qtArgv[] = {argv[0] ? argv[0] : programName, nullptr}; // argv[argc] is null
    int qtArgc = 1;
    QApplication app(qtArgc, qtArgv);
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
