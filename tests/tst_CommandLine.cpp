// SPDX-License-Identifier: MIT
// The command text decides the path: usage, clean of a context, or a normal start.

#include "app/CommandLine.h"

#include <QTest>

using CommandLine::Path;

Q_DECLARE_METATYPE(CommandLine::Path)

class tst_CommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

void tst_CommandLine::parse_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<CommandLine::Path>("path");
    QTest::addColumn<QString>("instance");

    // clang-format off
    QTest::newRow("empty") << "" << Path::Normal << "";
    QTest::newRow("blanks only") << "   " << Path::Normal << "";
    QTest::newRow("name") << "Bench2" << Path::Normal << "Bench2";
    QTest::newRow("blanks around a name go") << "  Bench 2  " << Path::Normal << "Bench 2";
    QTest::newRow("only blanks are trimmed, not tabs") << "\tBench " << Path::Normal << "\tBench";
    QTest::newRow("usage") << "-?" << Path::Usage << "";
    QTest::newRow("usage inside a word") << "Bench-?x" << Path::Usage << "";
    QTest::newRow("usage with clean") << "-clean -?" << Path::Usage << "";
    QTest::newRow("clean alone") << "-clean" << Path::Clean << "";
    QTest::newRow("clean before name") << "-clean Bench" << Path::Clean << "Bench";
    QTest::newRow("clean after name") << "Bench -clean" << Path::Clean << "Bench";
    QTest::newRow("clean joined to a word") << "Bench-cleanX" << Path::Clean << "Bench      X";
    QTest::newRow("clean twice") << "-clean -clean" << Path::Usage << "";
    QTest::newRow("clean in capitals is a name") << "-CLEAN" << Path::Normal << "-CLEAN";
    QTest::newRow("hyphenated name") << "Bench-2" << Path::Normal << "Bench-2";
    QTest::newRow("hyphenated name with clean") << "Bench-2 -clean" << Path::Usage << "";
    QTest::newRow("Qt's -reverse is a name") << "-reverse Bench" << Path::Normal << "-reverse Bench";
    QTest::newRow("non-ASCII name") << "Bänk Ω" << Path::Normal << "Bänk Ω";
    // clang-format on
}

void tst_CommandLine::parse()
{
    QFETCH(QString, command);
    QFETCH(CommandLine::Path, path);
    QFETCH(QString, instance);
    const CommandLine::Choice choice = CommandLine::parse(command.toStdString());
    QCOMPARE(choice.path, path);
    QCOMPARE(QString::fromStdString(choice.InstanceName), instance);
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
