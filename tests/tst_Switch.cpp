// SPDX-License-Identifier: MIT
// Position presses and edit/lock mode through real clicks and keys, checking what the
// operator sees (painted colours, captions, visibility) and what reached the simulated bus.

#include "ModalAnswerer.h"
#include "PaintedPixels.h"
#include "SimBench.h"
#include "forms/Colours.h"
#include "forms/FormDefinitions.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const std::string kBench = "SELVANE - Bench";
const QColor kGreen(0, 255, 0);
const QColor kDarkGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

QColor buttonFace()
{
    return forms::toQColor(forms::kButtonFace);
}

/** A shown window with `units` panels on the simulated bus. */
void start(Bench &bench, int units)
{
    bench.setUnits(kBench, units);
    bench.store.WriteValue(kBench, "2.PAd", 8.0);
    bench.window.Load("Bench");
    bench.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bench.window));
    bench.clearTrace();
}

QColor captionColour(UnitFrame *frame)
{
    const QImage image = painted(frame);
    const QRect caption(0, 0, frame->width(), frame->fontMetrics().height());
    for (const QColor &colour : {kDarkGreen, kRed}) {
        if (pixelsOf(image, colour, caption) > 10)
            return colour;
    }
    return {};
}

void press(Bench &bench, int unit, int position)
{
    QTest::mouseClick(bench.window.panel(unit).Position[position], Qt::LeftButton);
}

/** Painted faces of one section: 'g' green, '.' button face, '?' anything else. */
QString section(Bench &bench, int unit, int first)
{
    QString faces;
    for (int p = first; p < first + 4; ++p) {
        const QColor face = faceColour(bench.window.panel(unit).Position[p]);
        faces += face == kGreen ? 'g' : face == buttonFace() ? '.' : '?';
    }
    return faces;
}

enum { A1, A2, A3, A4, B1, B2, B3, B4 };

} // namespace

class tst_Switch : public QObject
{
    Q_OBJECT
private slots:
    void pressMovesTheHighlightWithinItsSection();
    void failedPressClearsItsSectionOnly();
    void pressingTheGreenButtonAgainKeepsItGreen();
    void pressesOnOneUnitNeverTouchAnother();
    void failedPressThenSuccessReopensFully();
    void greenSurvivesEditAndLock();
    void clearedLabelHidesItsButtonUntilRelabelled();
    void blankLabelKeepsItsButton();
    void titleTypedInEditModeStaysAfterLocking();
    void editModeBelongsToOneUnit();
    void screenReaderHearsLabelAndSelection();
};

void tst_Switch::pressMovesTheHighlightWithinItsSection()
{
    Bench bench;
    start(bench, 2);
    press(bench, 0, B2);
    press(bench, 0, A1);
    QCOMPARE(section(bench, 0, 0), QStringLiteral("g..."));
    press(bench, 0, A2);
    QCOMPARE(section(bench, 0, 0), QStringLiteral(".g.."));
    QCOMPARE(section(bench, 0, 4), QStringLiteral(".g.."));
    QCOMPARE(captionColour(bench.window.panel(0).Frame), kDarkGreen);
    QCOMPARE(bench.trace(),
             (QStringList {"ibwrt(32,2)=4232", "ibwrt(32,2)=4131", "ibwrt(32,2)=4132"}));
}

void tst_Switch::failedPressClearsItsSectionOnly()
{
    Bench bench;
    start(bench, 1);
    press(bench, 0, A1);
    press(bench, 0, B2);
    qputenv("SELVANE_SIM_DEVICES", ""); // the instrument goes away
    press(bench, 0, A3);
    QCOMPARE(section(bench, 0, 0), QStringLiteral("...."));
    QCOMPARE(section(bench, 0, 4), QStringLiteral(".g.."));
    QCOMPARE(captionColour(bench.window.panel(0).Frame), kRed);
    QVERIFY(!bench.window.unit(0).Opened);
    QCOMPARE(bench.trace().mid(2), (QStringList {"ibwrt(32,2)=4133 ERR", "ibonl(32,0)"}));
}

void tst_Switch::pressingTheGreenButtonAgainKeepsItGreen()
{
    Bench bench;
    start(bench, 1);
    press(bench, 0, B4);
    press(bench, 0, B4);
    QCOMPARE(section(bench, 0, 4), QStringLiteral("...g"));
    QCOMPARE(bench.trace(), (QStringList {"ibwrt(32,2)=4234", "ibwrt(32,2)=4234"}));
}

void tst_Switch::pressesOnOneUnitNeverTouchAnother()
{
    Bench bench;
    start(bench, 2);
    press(bench, 1, A4);
    press(bench, 1, B2);
    qputenv("SELVANE_SIM_DEVICES", "0:8:0"); // the first unit's instrument goes away
    bench.clearTrace();
    press(bench, 0, A1);
    press(bench, 0, B1);
    QCOMPARE(captionColour(bench.window.panel(0).Frame), kRed);
    QCOMPARE(section(bench, 1, 0), QStringLiteral("...g"));
    QCOMPARE(section(bench, 1, 4), QStringLiteral(".g.."));
    QCOMPARE(captionColour(bench.window.panel(1).Frame), kDarkGreen);
    for (const QString &call : bench.trace())
        QVERIFY2(!call.contains(QLatin1String("(33")), qPrintable(call)); // unit 2's descriptor
}

void tst_Switch::failedPressThenSuccessReopensFully()
{
    Bench bench("");
    start(bench, 1);
    QCOMPARE(captionColour(bench.window.panel(0).Frame), kRed);
    press(bench, 0, B1);
    QCOMPARE(section(bench, 0, 4), QStringLiteral("...."));
    qputenv("SELVANE_SIM_DEVICES", "0:7:0"); // the instrument is back
    bench.clearTrace();
    press(bench, 0, B1);
    QCOMPARE(section(bench, 0, 4), QStringLiteral("g..."));
    QCOMPARE(captionColour(bench.window.panel(0).Frame), kDarkGreen);
    const QStringList calls = bench.trace();
    QCOMPARE(calls.size(), 5);
    QCOMPARE(calls[0], QStringLiteral("ibconfig(0,23,1)"));
    QVERIFY(calls[1].startsWith(QLatin1String("ibdev(0,7,0,12,1,0)")));
    QVERIFY(calls[2].startsWith(QLatin1String("ibclr(")));
    QVERIFY(calls[3].endsWith(QLatin1String(",2)=5858")));
    QVERIFY(calls[4].endsWith(QLatin1String(",2)=4231")));
}

void tst_Switch::greenSurvivesEditAndLock()
{
    Bench bench;
    start(bench, 1);
    press(bench, 0, A3);
    UnitPanel &panel = bench.window.panel(0);
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QCOMPARE(panel.Edit->text(), QStringLiteral("&Lock"));
    QVERIFY(panel.Edit->isChecked());
    QVERIFY(!panel.Position[A3]->isVisible());
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QCOMPARE(panel.Edit->text(), QStringLiteral("&Edit"));
    QCOMPARE(section(bench, 0, 0), QStringLiteral("..g."));
}

void tst_Switch::clearedLabelHidesItsButtonUntilRelabelled()
{
    Bench bench;
    start(bench, 1);
    UnitPanel &panel = bench.window.panel(0);
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QLineEdit *b3 = panel.PositionLbl[B3];
    QVERIFY(b3->isVisible());
    b3->setFocus();
    b3->selectAll();
    QTest::keyClick(b3, Qt::Key_Delete);
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QVERIFY(!panel.Position[B3]->isVisible());
    for (int p : {A1, A2, A3, A4, B1, B2, B4})
        QVERIFY(panel.Position[p]->isVisible());
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QCOMPARE(b3->text(), QString());
    b3->setFocus();
    QTest::keyClicks(b3, QStringLiteral("Load"));
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QVERIFY(panel.Position[B3]->isVisible());
    QCOMPARE(panel.Position[B3]->text(), QStringLiteral("Load"));
}

void tst_Switch::blankLabelKeepsItsButton()
{
    Bench bench;
    start(bench, 1);
    UnitPanel &panel = bench.window.panel(0);
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QLineEdit *a2 = panel.PositionLbl[A2];
    a2->setFocus();
    a2->selectAll();
    QTest::keyClicks(a2, QStringLiteral("   "));
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QVERIFY(panel.Position[A2]->isVisible());
    QCOMPARE(panel.Position[A2]->text(), QStringLiteral("   "));
}

void tst_Switch::titleTypedInEditModeStaysAfterLocking()
{
    Bench bench;
    start(bench, 1);
    UnitPanel &panel = bench.window.panel(0);
    QVERIFY(!panel.BTxt->isEnabled());
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QVERIFY(panel.BTxt->isEnabled());
    panel.BTxt->setFocus();
    panel.BTxt->selectAll();
    QTest::keyClicks(panel.BTxt, QStringLiteral("Outputs"));
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QVERIFY(!panel.BTxt->isEnabled());
    QCOMPARE(panel.BTxt->text(), QStringLiteral("Outputs"));
}

void tst_Switch::editModeBelongsToOneUnit()
{
    Bench bench;
    start(bench, 2);
    QTest::mouseClick(bench.window.panel(0).Edit, Qt::LeftButton);
    UnitPanel &second = bench.window.panel(1);
    QCOMPARE(second.Edit->text(), QStringLiteral("&Edit"));
    QVERIFY(second.Position[A1]->isVisible());
    QVERIFY(!second.PositionLbl[A1]->isVisible());
    press(bench, 1, A1);
    QCOMPARE(section(bench, 1, 0), QStringLiteral("g..."));
}

void tst_Switch::screenReaderHearsLabelAndSelection()
{
    Bench bench;
    bench.store.WriteValue(kBench, "1.A2.label", "Antenna");
    start(bench, 1);
    QPushButton *a2 = bench.window.panel(0).Position[A2];
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(a2);
    QVERIFY(button);
    QCOMPARE(button->text(QAccessible::Name), QStringLiteral("Antenna"));
    QCOMPARE(button->text(QAccessible::Description), QStringLiteral("Not selected"));
    press(bench, 0, A2);
    QCOMPARE(button->text(QAccessible::Description), QStringLiteral("Selected position"));
    press(bench, 0, A1);
    QCOMPARE(button->text(QAccessible::Description), QStringLiteral("Not selected"));
}

QTEST_MAIN(tst_Switch)
#include "tst_Switch.moc"
