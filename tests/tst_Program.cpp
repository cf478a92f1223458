// SPDX-License-Identifier: MIT
// The real program as the operator starts it: its own command line (Qt never sees it), and
// an orderly end on a signal that saves like a close, also when no event loop has started.

#include "ProgramRun.h"
#include "TestRegistry.h"
#include "settings/SettingsStore.h"

#include <QTest>

namespace {

struct Run
{
    TemporaryFolder folder;
    std::string registryFile = folder.file("registry.sqlite3");
    std::string traceFile = folder.file("trace.jsonl");
    ProgramRun program {registryFile, traceFile};
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
};

void tst_Program::signalSavesLikeAClose_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("context");
    QTest::addColumn<int>("signal");
    // clang-format off
    QTest::newRow("SIGTERM") << QStringList {"Bench"} << "SELVANE - Bench" << SIGTERM;
    QTest::newRow("SIGINT") << QStringList {"Bench"} << "SELVANE - Bench" << SIGINT;
    QTest::newRow("SIGHUP") << QStringList {} << "SELVANE" << SIGHUP;
    QTest::newRow("Qt's -platform is a name") << QStringList {"-platform", "foo"} << "SELVANE - -platform foo" << SIGTERM;
    QTest::newRow("Qt's -reverse and -style are names") << QStringList {"-reverse", "-style", "x"} << "SELVANE - -reverse -style x" << SIGTERM;
    // clang-format on
}

void tst_Program::signalSavesLikeAClose()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, context);
    QFETCH(int, signal);
    Run run;
    seed(run.registryFile, context.toStdString(), 1);
    run.program.start(arguments);
    QVERIFY(run.program.process.waitForStarted());
    // Start-up has opened the unit when "XX" has gone over the bus.
    QTRY_VERIFY_WITH_TIMEOUT(run.program.trace().contains(QLatin1String("\"bytes\":\"5858\"")),
                             10000);
    QVERIFY(run.program.waitForHandlers());
    QVERIFY(run.program.signal(signal));
    QVERIFY(run.program.process.waitForFinished(10000));
    QCOMPARE(run.program.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.program.process.exitCode(), 0);

    const RegistryDump dump = dumpRegistry(run.registryFile);
    const auto values = dump.find(kContextPath + context.toStdString());
    QVERIFY(values != dump.end());
    QCOMPARE(values->second.size(), std::size_t(3 + 13));
    QVERIFY(run.program.trace().contains(QLatin1String("\"call\":\"ibloc\"")));
    QVERIFY(run.program.trace().contains(QLatin1String("\"call\":\"ibonl\",\"args\":[32,0]")));
}

QTEST_GUILESS_MAIN(tst_Program)
#include "tst_Program.moc"
