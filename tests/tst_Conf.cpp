// SPDX-License-Identifier: MIT
// The Config button and the configuration dialog: what the boxes show, what OK, Test and a
// close without OK do to the unit and on the bus.

#include "ModalAnswerer.h"
#include "SimBench.h"
#include "dialogs/Conf.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const std::string kBench = "SELVANE - Bench";

void start(Bench &bench, int units)
{
    bench.setUnits(kBench, units);
    bench.window.Load("Bench");
    bench.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bench.window));
    bench.clearTrace();
}

/** Types into the dialog's three boxes and presses OK. */
ModalAnswerer::Action enter(const QString &board, const QString &pad, const QString &sad)
{
    return [=](QWidget *modal) {
        auto *conf = static_cast<Conf *>(modal);
        const QString values[3] = {board, pad, sad};
        for (int k = 0; k < 3; ++k) {
            conf->vVal[k]->selectAll();
            QTest::keyClicks(conf->vVal[k], values[k]);
        }
        QTest::mouseClick(conf->OK, Qt::LeftButton);
    };
}

QStringList boxes(QWidget *modal)
{
    auto *conf = static_cast<Conf *>(modal);
    return {conf->vVal[0]->text(), conf->vVal[1]->text(), conf->vVal[2]->text()};
}

} // namespace

class tst_Conf : public QObject
{
    Q_OBJECT
private slots:
    void boxesShowTheUnitsValuesWhateverWasAcceptedBefore();
    void okGivesTheUnitItsNewAddressAndReopensIt();
    void closingWithoutOkKeepsTheUnitsAddress_data();
    void closingWithoutOkKeepsTheUnitsAddress();
    void outOfRangeEntryIsRefused();
    void testReportsThePresenceOfAnInstrument_data();
    void testReportsThePresenceOfAnInstrument();
    void testWithoutDriverLibraryExplainsIt();
    void dialogIsDefinedAndPlacedUnderTheMainWindow();
};

void tst_Conf::boxesShowTheUnitsValuesWhateverWasAcceptedBefore()
{
    Bench bench;
    start(bench, 2);
    ModalAnswerer answerer;
    QStringList shown;
    answerer.queue(enter("1", "12", "96"));
    answerer.queue([&](QWidget *modal) {
        shown = boxes(modal);
        modal->close();
    });
    QTest::mouseClick(bench.window.panel(1).Config, Qt::LeftButton);
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    QCOMPARE(shown, (QStringList {"0", "7", "0"}));
    QCOMPARE(bench.window.configurationDialog()->Brd(), 1); // accepted for unit 2
}

void tst_Conf::okGivesTheUnitItsNewAddressAndReopensIt()
{
    Bench bench("0:7:0 0:9:0");
    start(bench, 1);
    QVERIFY(bench.window.unit(0).Opened);
    ModalAnswerer answerer;
    answerer.queue(enter("0", "9 ", "0"));
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, QStringLiteral("Configuration"));
    QCOMPARE(bench.window.unit(0).PAd, 9);
    QCOMPARE(bench.window.panel(0).Frame->title(), QStringLiteral("Unit 1  [0.9.0]"));
    QVERIFY(bench.window.unit(0).Opened);
    const QStringList calls = bench.trace();
    QCOMPARE(calls.size(), 6);
    QCOMPARE(calls[0], QStringLiteral("ibloc(32)"));
    QCOMPARE(calls[1], QStringLiteral("ibonl(32,0)"));
    QCOMPARE(calls[2], QStringLiteral("ibconfig(0,23,1)"));
    QCOMPARE(calls[3], QStringLiteral("ibdev(0,9,0,12,1,0)"));
}

void tst_Conf::closingWithoutOkKeepsTheUnitsAddress_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("title bar") << false;
    QTest::newRow("Escape") << true;
}

void tst_Conf::closingWithoutOkKeepsTheUnitsAddress()
{
    QFETCH(bool, escape);
    Bench bench;
    start(bench, 2);
    ModalAnswerer answerer;
    answerer.queue(enter("0", "3", "0")); // accepted for unit 1 first
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    answerer.queue([escape](QWidget *modal) {
        auto *conf = static_cast<Conf *>(modal);
        conf->vVal[1]->selectAll();
        QTest::keyClicks(conf->vVal[1], QStringLiteral("5"));
        if (escape)
            QTest::keyClick(conf, Qt::Key_Escape);
        else
            conf->close();
    });
    bench.clearTrace();
    QTest::mouseClick(bench.window.panel(1).Config, Qt::LeftButton);
    QCOMPARE(bench.window.unit(1).PAd, 7); // its own, not the 3 last accepted nor the 5 typed
    QCOMPARE(bench.window.panel(1).Frame->title(), QStringLiteral("Unit 2  [0.7.0]"));
    QVERIFY(bench.trace().contains(QStringLiteral("ibdev(0,7,0,12,1,0)")));
}

void tst_Conf::outOfRangeEntryIsRefused()
{
    Bench bench;
    start(bench, 1);
    ModalAnswerer answerer;
    bool stillOpen = false;
    answerer.queue(enter("0", "32767.5", "0"));
    answerer.queue([&](QWidget *box) { ModalAnswerer::pressOk(box); });
    answerer.queue([&](QWidget *modal) { // the dialog is still there after the box
        stillOpen = modal->isVisible();
        modal->close();
    });
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    QCOMPARE(answerer.seen.size(), 3);
    QVERIFY(stillOpen);
    QCOMPARE(answerer.seen[1].text, QStringLiteral("PAD must be a number from -32768 to 32767."));
    QCOMPARE(answerer.seen[1].icon, QMessageBox::Critical);
    QCOMPARE(bench.window.unit(0).PAd, 7);
    QCOMPARE(bench.window.configurationDialog()->pad(), 0); // Accepted unchanged
}

void tst_Conf::testReportsThePresenceOfAnInstrument_data()
{
    QTest::addColumn<QString>("pad");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
    QTest::newRow("present") << "8"
                             << "Test is OK" << int(QMessageBox::Information);
    QTest::newRow("absent") << "9"
                            << "Unable to open device" << int(QMessageBox::Critical);
    QTest::newRow("address the bus cannot carry")
        << "31"
        << "Unable to open device" << int(QMessageBox::Critical);
}

void tst_Conf::testReportsThePresenceOfAnInstrument()
{
    QFETCH(QString, pad);
    QFETCH(QString, text);
    QFETCH(int, icon);
    Bench bench;
    start(bench, 1);
    ModalAnswerer answerer;
    answerer.queue([pad](QWidget *modal) {
        auto *conf = static_cast<Conf *>(modal);
        conf->vVal[1]->selectAll();
        QTest::keyClicks(conf->vVal[1], pad);
        QTest::mouseClick(conf->Test, Qt::LeftButton);
        conf->close();
    });
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    QCOMPARE(answerer.seen.size(), 2);
    QCOMPARE(answerer.seen[1].title, QStringLiteral("GPIB Test"));
    QCOMPARE(answerer.seen[1].text, text);
    QCOMPARE(int(answerer.seen[1].icon), icon);
    QCOMPARE(bench.window.unit(0).PAd, 7); // a test changes nothing
    // The test's own calls come between the unit's close (ibloc, ibonl) and its reopening.
    const QStringList calls = bench.trace();
    QCOMPARE(calls.mid(0, 2), (QStringList {"ibloc(32)", "ibonl(32,0)"}));
    const QString device = QStringLiteral("ibdev(0,%1,0,12,1,0)").arg(pad);
    if (pad == QLatin1String("31")) {
        QVERIFY(!calls.contains(device)); // refused before the driver
        QCOMPARE(calls[2], QStringLiteral("ibconfig(0,23,1)"));
        return;
    }
    QCOMPARE(calls[2], device);
    QVERIFY(calls[3].startsWith(QLatin1String("ibwrt(32,2)=5858"))); // no clear in a test
    QCOMPARE(calls[4], QStringLiteral("ibonl(32,0)")); // offline, also after a failure
    QCOMPARE(calls[5], QStringLiteral("ibconfig(0,23,1)"));
}

void tst_Conf::testWithoutDriverLibraryExplainsIt()
{
    TemporaryFolder folder;
    DynamicLibrary missing("/nonexistent/Gpib-32.so");
    GpibBinding gpib(missing);
    QWidget owner;
    Conf conf(&owner, gpib);
    conf.setPad(7);
    conf.show();
    QVERIFY(QTest::qWaitForWindowExposed(&conf));
    ModalAnswerer answerer;
    QTest::mouseClick(conf.Test, Qt::LeftButton);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, QStringLiteral("GPIB Test"));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(answerer.seen[0].text, QStringLiteral("File not found: /nonexistent/Gpib-32.so\r"
                                                   "Install National Instruments drivers"));
    QVERIFY(conf.isVisible()); // the program goes on
}

void tst_Conf::dialogIsDefinedAndPlacedUnderTheMainWindow()
{
    Bench bench;
    start(bench, 1);
    ModalAnswerer answerer;
    QRect placed;
    QStringList captions;
    answerer.queue([&](QWidget *modal) {
        auto *conf = static_cast<Conf *>(modal);
        placed = conf->frameGeometry();
        captions << conf->Lbl[0]->text() << conf->Lbl[1]->text() << conf->Lbl[2]->text()
                 << conf->OK->text() << conf->Test->text()
                 << conf->findChild<QGroupBox *>(QStringLiteral("Frame"))->title();
        conf->close();
    });
    QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
    QCOMPARE(captions, (QStringList {"Board:", "PAD:", "SAD:", "&OK", "&Test", "Device"}));
    const QRect main = bench.window.frameGeometry();
    QCOMPARE(placed.left(), main.left() + 7); // 100 twips
    QCOMPARE(placed.top(), main.bottom() + 1 + 1); // 20 twips below (rounded to a pixel)
    QCOMPARE(bench.window.configurationDialog()->size(), QSize(106, 122)); // 1590 x 1830 twips
}

QTEST_MAIN(tst_Conf)
#include "tst_Conf.moc"
