// SPDX-License-Identifier: MIT
#pragma once

// The real program started as the operator starts it, on the offscreen platform, over a
// registry file of the test's own and the simulated bus, with a trace of every driver call.

#include "TemporaryFolder.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

class ProgramRun
{
public:
    ProgramRun(const std::string &registryFile, const std::string &traceFile)
        : m_registryFile(registryFile)
        , m_traceFile(traceFile)
    { }

    void start(const QStringList &arguments, const QString &devices = QStringLiteral("0:7:0"))
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("SELVANE_REGISTRY"),
                           QString::fromStdString(m_registryFile));
        environment.insert(QStringLiteral("SELVANE_GPIB_LIBRARY"),
                           QStringLiteral(SELVANE_SIM_LIBRARY));
        environment.insert(QStringLiteral("SELVANE_SIM_DEVICES"), devices);
        environment.insert(QStringLiteral("SELVANE_SIM_TRACE"),
                           QString::fromStdString(m_traceFile));
        environment.remove(QStringLiteral("SELVANE_SIM_DELAY_MS"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(SELVANE_PROGRAM), arguments);
    }

    /** The signals the program has handlers for, from /proc. */
    quint64 caughtSignals() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        // A /proc file has no size, so it is read whole rather than line by line to its end.
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:"))
                return line.mid(7).trimmed().toULongLong(nullptr, 16);
        }
        return 0;
    }

    /** Waits until the program handles SIGTERM (so a signal ends it in order). */
    bool waitForHandlers(int timeoutMs = 10000) const
    {
        const quint64 term = quint64(1) << (SIGTERM - 1);
        for (int waited = 0; waited < timeoutMs; waited += 5) {
            if (caughtSignals() & term)
                return true;
            QTest::qWait(5);
        }
        return false;
    }

    bool signal(int number) const
    {
        return ::kill(static_cast<pid_t>(process.processId()), number) == 0;
    }

    QString trace() const
    {
        QFile file(QString::fromStdString(m_traceFile));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QProcess process;

private:
    std::string m_registryFile;
    std::string m_traceFile;
};
