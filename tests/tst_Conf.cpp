// SPDX-License-Identifier: MIT
// The Config button and the configuration dialog: what the boxes show, what OK, Test and a
// close without OK do to the unit and on the bus.

#include "Bench.h"
#include "dialogs/PositionUnder.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

class tst_Conf : public QObject
{
    Q_OBJECT
private slots:
    void okGivesTheUnitItsNewAddressAndReopensIt();
    void closingWithoutOkKeepsTheUnitsAddress_data();
    void closingWithoutOkKeepsTheUnitsAddress();
    void outOfRangeEntryIsRefused();
    void testReportsThePresenceOfAnInstrument_data();
    void testReportsThePresenceOfAnInstrument();
    void testWithoutDriverLibraryExplainsIt();
    void dialogIsPlacedUnderTheMainWindow();
    void positionUnder_data();
    void positionUnder();
};

void tst_Conf::okGivesTheUnitItsNewAddressAndReopensIt()
{
    Bench bench("0:7:0 0:9:0");
    bench.start(1);
    bench.modals.queue(enter({"0", "9 ", "0"}));
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    QCOMPARE(bench.modals.seen, QStringList {"Configuration"});
    QCOMPARE(bench.window.panel(0).Frame->title(), QStringLiteral("Unit 1  [0.9.0]"));
    QVERIFY(bench.window.unit(0).Opened);
    QCOMPARE(bench.trace().join(' '),
             QStringLiteral("ibloc(32) ibonl(32,0) ibconfig(0,23,1) ibdev(0,9,0,12,1,0) ibclr(32) "
                            "ibwrt(32,2)=5858"));
}

void tst_Conf::closingWithoutOkKeepsTheUnitsAddress_data()
{
    QTest::addColumn<bool>("escape");
    // clang-format off
    QTest::newRow("title bar") << false;
    QTest::newRow("Escape") << true;
    // clang-format on
}

void tst_Conf::closingWithoutOkKeepsTheUnitsAddress()
{
    QFETCH(bool, escape);
    Bench bench;
    bench.start(2);
    bench.modals.queue(enter({"1", "3", "96"})); // accepted for unit 1 first
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    QStringList shown;
    bench.modals.queue([&shown, escape](QWidget *modal) {
        auto *conf = static_cast<Conf *>(modal);
        shown << conf->vVal[0]->text() << conf->vVal[1]->text() << conf->vVal[2]->text();
        retype(conf->vVal[1], QStringLiteral("5"));
        escape ? QTest::keyClick(conf, Qt::Key_Escape) : void(conf->close());
    });
    bench.clearTrace();
    QTest::mouseClick(bench.window.panel(1).Config, Qt::LeftButton);
    QCOMPARE(shown, (QStringList {"0", "7", "0"})); // its own values, not the last accepted
    QCOMPARE(bench.window.panel(1).Frame->title(), QStringLiteral("Unit 2  [0.7.0]"));
    QVERIFY(bench.trace().contains(QStringLiteral("ibdev(0,7,0,12,1,0)")));
    QCOMPARE(bench.window.panel(0).Frame->title(), QStringLiteral("Unit 1  [1.3.96]"));
}

void tst_Conf::outOfRangeEntryIsRefused()
{
    Bench bench;
    bench.start(1);
    bool stillOpen = false;
    bench.modals.queue([&stillOpen](QWidget *modal) {
        enter({"0", "32767.5", "0"})(modal); // refused in a box, which is answered
        stillOpen = modal->isVisible();
        modal->close();
    });
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    QVERIFY(stillOpen);
    QCOMPARE(bench.modals.seen,
             (QStringList {"Configuration", "SELVANE (stop): "
                                            "PAD must be a number from -32768 to 32767."}));
    QCOMPARE(bench.window.panel(0).Frame->title(), QStringLiteral("Unit 1  [0.7.0]"));
}

void tst_Conf::testReportsThePresenceOfAnInstrument_data()
{
    QTest::addColumn<QString>("pad");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("calls"); // between the unit's close and its reopening
    const QString failed = QStringLiteral("(stop): Unable to open device");
    // clang-format off
    QTest::newRow("present") << "8" << "(info): Test is OK" << "ibdev(0,8,0,12,1,0) ibwrt(32,2)=5858 ibonl(32,0) ";
    QTest::newRow("absent") << "9" << failed << "ibdev(0,9,0,12,1,0) ibwrt(32,2)=5858 ERR ibonl(32,0) ";
    QTest::newRow("address the bus cannot carry") << "31" << failed << "";
    // clang-format on
}

void tst_Conf::testReportsThePresenceOfAnInstrument()
{
    QFETCH(QString, pad);
    QFETCH(QString, box);
    QFETCH(QString, calls);
    Bench bench;
    bench.start(1);
    bench.modals.queue(enter({QString(), pad}, true));
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    QCOMPARE(bench.modals.seen, (QStringList {"Configuration", "GPIB Test " + box}));
    QCOMPARE(bench.window.unit(0).PAd, 7); // a test changes nothing
    const QString all = bench.trace().join(' ');
    QVERIFY2(all.startsWith("ibloc(32) ibonl(32,0) " + calls + "ibconfig(0,23,1) ibdev(0,7,0"),
             qPrintable(all));
}

void tst_Conf::testWithoutDriverLibraryExplainsIt()
{
    DynamicLibrary missing("/nonexistent/Gpib-32.so");
    GpibBinding gpib(missing);
    QWidget owner;
    Conf conf(&owner, gpib);
    conf.show();
    Operator modals;
    QTest::mouseClick(conf.Test, Qt::LeftButton);
    QCOMPARE(modals.seen,
             QStringList {
                 "GPIB Test (stop): "
                 "File not found: /nonexistent/Gpib-32.so\rInstall National Instruments drivers"});
    QVERIFY(conf.isVisible()); // the program goes on
}

void tst_Conf::dialogIsPlacedUnderTheMainWindow()
{
    Bench bench;
    bench.start(1);
    QRect placed;
    QSize size;
    bench.modals.queue([&placed, &size](QWidget *modal) {
        placed = modal->frameGeometry();
        size = modal->size();
        modal->close();
    });
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    const QRect main = bench.window.frameGeometry();
    QCOMPARE(placed.left(), main.left() + 7); // 100 twips
    QCOMPARE(placed.top(), main.bottom() + 1 + 1); // 20 twips below (rounded to a pixel)
    QCOMPARE(size, QSize(106, 122)); // 1590 x 1830 twips
}

void tst_Conf::positionUnder_data()
{
    QTest::addColumn<QRect>("main");
    QTest::addColumn<int>("dialogHeight");
    QTest::addColumn<int>("screenHeight");
    QTest::addColumn<QPoint>("expected");
    // clang-format off
    QTest::newRow("below") << QRect(1500, 1500, 7215, 2400) << 1300 << 9000 << QPoint(1600, 3920);
    QTest::newRow("exact fit stays below") << QRect(0, 5000, 7215, 2400) << 1580 << 9000 << QPoint(100, 7420);
    QTest::newRow("one twip over goes above") << QRect(0, 5000, 7215, 2400) << 1581 << 9000 << QPoint(100, 3399);
    QTest::newRow("above may be negative") << QRect(-300, 100, 2415, 8800) << 1300 << 9000 << QPoint(-200, -1220);
    // clang-format on
}

void tst_Conf::positionUnder()
{
    QFETCH(QRect, main);
    QFETCH(int, dialogHeight);
    QFETCH(int, screenHeight);
    QFETCH(QPoint, expected);
    QCOMPARE(PositionUnder(main, dialogHeight, screenHeight), expected);
}

QTEST_MAIN(tst_Conf)
#include "tst_Conf.moc"
