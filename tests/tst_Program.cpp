// SPDX-License-Identifier: MIT
// The real program as the operator starts it: its own command line (Qt never sees it), and
// an orderly end on a signal that saves like a close, also when no event loop has started.

#include "TestRegistry.h"
#include "settings/SettingsStore.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

namespace {

/** The signals a process has handlers for, from /proc. */
quint64 caughtSignals(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    // A /proc file has no size, so it is read whole rather than line by line to its end.
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return line.mid(7).trimmed().toULongLong(nullptr, 16);
    }
    return 0;
}

struct Run
{
    TemporaryFolder folder;
    std::string registryFile = folder.file("registry.sqlite3");
    std::string traceFile = folder.file("trace.jsonl");
    QProcess process;

    void start(const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("SELVANE_REGISTRY"),
                           QString::fromStdString(registryFile));
        environment.insert(QStringLiteral("SELVANE_GPIB_LIBRARY"),
                           QStringLiteral(SELVANE_SIM_LIBRARY));
        environment.insert(QStringLiteral("SELVANE_SIM_DEVICES"), QStringLiteral("0:7:0"));
        environment.insert(QStringLiteral("SELVANE_SIM_TRACE"), QString::fromStdString(traceFile));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(SELVANE_PROGRAM), arguments);
    }

    /** Waits until the program has its signal handlers, then sends `signal`. */
    bool signalWhenReady(int signal)
    {
        const quint64 term = quint64(1) << (SIGTERM - 1);
        for (int i = 0; i < 1000 && (caughtSignals(process.processId()) & term) == 0; ++i)
            QTest::qWait(10);
        return ::kill(static_cast<pid_t>(process.processId()), signal) == 0;
    }

    QString trace() const
    {
        QFile file(QString::fromStdString(traceFile));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

void seed(const std::string &file, const std::string &context, int units)
{
    SqliteRegistry registry(file);
    SettingsStore(registry).WriteValue(context, "Units", double(units));
}

} // namespace

class tst_Program : public QObject
{
    Q_OBJECT
private slots:
    void signalSavesLikeAClose_data();
    void signalSavesLikeAClose();
    void usageEndsOnASignalWithoutTouchingTheStore();
};

void tst_Program::signalSavesLikeAClose_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("context");
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << QStringList {"Bench"} << "SELVANE - Bench" << SIGTERM;
    QTest::newRow("SIGINT") << QStringList {"Bench"} << "SELVANE - Bench" << SIGINT;
    QTest::newRow("SIGHUP") << QStringList {} << "SELVANE" << SIGHUP;
    QTest::newRow("Qt's -platform is a name")
        << QStringList {"-platform", "foo"} << "SELVANE - -platform foo" << SIGTERM;
    QTest::newRow("Qt's -reverse and -style are names")
        << QStringList {"-reverse", "-style", "x"} << "SELVANE - -reverse -style x" << SIGTERM;
}

void tst_Program::signalSavesLikeAClose()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, context);
    QFETCH(int, signal);
    Run run;
    seed(run.registryFile, context.toStdString(), 1);
    run.start(arguments);
    QVERIFY(run.process.waitForStarted());
    // Start-up has opened the unit when "XX" has gone over the bus.
    QTRY_VERIFY_WITH_TIMEOUT(run.trace().contains(QLatin1String("\"bytes\":\"5858\"")), 10000);
    QVERIFY(run.signalWhenReady(signal));
    QVERIFY(run.process.waitForFinished(10000));
    QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process.exitCode(), 0);

    const RegistryDump dump = dumpRegistry(run.registryFile);
    const auto values = dump.find(kContextPath + context.toStdString());
    QVERIFY(values != dump.end());
    QCOMPARE(values->second.size(), std::size_t(3 + 13));
    QVERIFY(run.trace().contains(QLatin1String("\"call\":\"ibloc\"")));
    QVERIFY(run.trace().contains(QLatin1String("\"call\":\"ibonl\",\"args\":[32,0]")));
}

void tst_Program::usageEndsOnASignalWithoutTouchingTheStore()
{
    Run run;
    seed(run.registryFile, "SELVANE", 2);
    const RegistryDump before = dumpRegistry(run.registryFile);
    run.start({QStringLiteral("-?")});
    QVERIFY(run.process.waitForStarted());
    QVERIFY(run.signalWhenReady(SIGTERM)); // the usage box closes as if by its title bar
    QVERIFY(run.process.waitForFinished(10000));
    QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process.exitCode(), 0);
    QVERIFY(dumpRegistry(run.registryFile) == before);
    QVERIFY(run.trace().isEmpty()); // no unit was opened
}

QTEST_GUILESS_MAIN(tst_Program)
#include "tst_Program.moc"
