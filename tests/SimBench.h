// SPDX-License-Identifier: MIT
#pragma once

// A bench for one test: a registry file of its own, the simulated bus (instruments, trace
// file), and a main window over both, closed again at the end so that its links go offline.

#include "TestRegistry.h"
#include "app/MainWindow.h"
#include "gpib/DynamicLibrary.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"
#include "settings/SettingsStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

struct Bench
{
    TemporaryFolder folder;
    std::string file;
    std::string traceFile = folder.file("trace.jsonl");
    SqliteRegistry registry {file};
    SettingsStore store {registry};
    DynamicLibrary driver;
    GpibBinding gpib {driver};
    MainWindow window {store, gpib};

    /** Instruments listen at `devices` ("board:pad:sad ..."); every driver call is traced. */
    /** `registryFile`: an earlier bench's file, for a restart; empty for a file of its own. */
    explicit Bench(const char *devices = "0:7:0 0:8:0",
                   const std::string &library = SELVANE_SIM_LIBRARY,
                   const std::string &registryFile = {})
        : file(registryFile.empty() ? folder.file("registry.sqlite3") : registryFile)
        , driver(library)
    {
        GpibStatus = {}; // each bench is a new run of the program
        qputenv("SELVANE_SIM_DEVICES", devices);
        qputenv("SELVANE_SIM_TRACE", QByteArray::fromStdString(traceFile));
        qputenv("SELVANE_SIM_DELAY_MS", "0");
    }
    Bench(const Bench &) = delete;
    Bench &operator=(const Bench &) = delete;
    ~Bench()
    {
        window.close();
        qunsetenv("SELVANE_SIM_TRACE");
    }

    void setUnits(const std::string &context, int count)
    {
        store.WriteValue(context, "Units", double(count));
    }

    /** The driver calls so far, as "ibwrt(32,2)=4131" (bytes in hex for writes). */
    QStringList trace() const
    {
        QStringList calls;
        QFile in(QString::fromStdString(traceFile));
        if (!in.open(QIODevice::ReadOnly))
            return calls;
        while (!in.atEnd()) {
            const QJsonObject line = QJsonDocument::fromJson(in.readLine()).object();
            QStringList args;
            for (const QJsonValue &arg : line.value(QStringLiteral("args")).toArray())
                args << QString::number(arg.toInteger());
            QString call =
                line.value(QStringLiteral("call")).toString() + '(' + args.join(',') + ')';
            if (line.contains(QStringLiteral("bytes")))
                call += '=' + line.value(QStringLiteral("bytes")).toString();
            if (line.value(QStringLiteral("ibsta")).toInt() & 0x8000)
                call += QStringLiteral(" ERR");
            calls << call;
        }
        return calls;
    }
    void clearTrace() const { QFile::remove(QString::fromStdString(traceFile)); }
};
