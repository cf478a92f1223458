// SPDX-License-Identifier: MIT
// Position presses and edit/lock mode through real clicks and keys, checking what the
// operator sees (painted colours, captions, visibility) and what reached the simulated bus.

#include "Bench.h"
#include "forms/Colours.h"

#include <QAccessible>
#include <QPushButton>

namespace {

enum { A1, A2, A3, A4, B1, B2, B3, B4 };

/** Painted faces of a unit's buttons, section A then B: 'g' green, '.' button face. */
QString faces(Bench &bench, int unit)
{
    QString text;
    for (int p = 0; p < 8; ++p) {
        const QColor face = faceColour(bench.window.panel(unit).Position[p]);
        text += face == QColor(0, 255, 0)                     ? 'g'
                : face == forms::toQColor(forms::kButtonFace) ? '.'
                                                              : '?';
        text += p == 3 ? " " : "";
    }
    return text;
}

} // namespace

class tst_Switch : public QObject
{
    Q_OBJECT
private slots:
    void pressMovesTheHighlightWithinItsSection();
    void failedPressClearsItsSectionOnly();
    void pressesOnOneUnitNeverTouchAnother();
    void labelsEditedAndLockedBecomeTheButtons();
    void screenReaderHearsLabelAndSelection();
};

void tst_Switch::pressMovesTheHighlightWithinItsSection()
{
    Bench bench;
    bench.start(1);
    bench.press(0, B2);
    bench.press(0, A1);
    QCOMPARE(faces(bench, 0), QStringLiteral("g... .g.."));
    bench.press(0, A2);
    bench.press(0, B3);
    QCOMPARE(faces(bench, 0), QStringLiteral(".g.. ..g."));
    bench.press(0, B3); // the green one again stays green
    QCOMPARE(faces(bench, 0), QStringLiteral(".g.. ..g."));
    QCOMPARE(captionColour(bench.window.panel(0).Frame), QColor(0, 128, 0));
    QCOMPARE(bench.trace().join(' '),
             QStringLiteral("ibwrt(32,2)=4232 ibwrt(32,2)=4131 ibwrt(32,2)=4132 ibwrt(32,2)=4233 "
                            "ibwrt(32,2)=4233"));
    // Edit mode hides the buttons; locking again shows the highlight as it was.
    QTest::mouseClick(bench.window.panel(0).Edit, Qt::LeftButton);
    QVERIFY(!bench.window.panel(0).Position[A2]->isVisible());
    QTest::mouseClick(bench.window.panel(0).Edit, Qt::LeftButton);
    QCOMPARE(faces(bench, 0), QStringLiteral(".g.. ..g."));
}

void tst_Switch::failedPressClearsItsSectionOnly()
{
    Bench bench;
    bench.start(1);
    bench.press(0, A1);
    bench.press(0, B2);
    qputenv("SELVANE_SIM_DEVICES", " "); // the instrument goes away
    bench.press(0, A3);
    QCOMPARE(faces(bench, 0), QStringLiteral(".... .g.."));
    QCOMPARE(captionColour(bench.window.panel(0).Frame), QColor(255, 0, 0));
    QCOMPARE(bench.trace().mid(2), (QStringList {"ibwrt(32,2)=4133 ERR", "ibonl(32,0)"}));
    qputenv("SELVANE_SIM_DEVICES", "0:7:0"); // back: the next press opens the link again
    bench.press(0, A3);
    QCOMPARE(faces(bench, 0), QStringLiteral("..g. .g.."));
    QCOMPARE(captionColour(bench.window.panel(0).Frame), QColor(0, 128, 0));
}

void tst_Switch::pressesOnOneUnitNeverTouchAnother()
{
    Bench bench;
    bench.store.WriteValue(kBench, "2.PAd", 8.0);
    bench.start(2);
    bench.press(1, A4);
    bench.press(1, B2);
    qputenv("SELVANE_SIM_DEVICES", "0:8:0"); // the first unit's instrument goes away
    bench.clearTrace();
    bench.press(0, A1);
    bench.press(0, B1);
    QCOMPARE(captionColour(bench.window.panel(0).Frame), QColor(255, 0, 0));
    QCOMPARE(faces(bench, 1), QStringLiteral("...g .g.."));
    QCOMPARE(captionColour(bench.window.panel(1).Frame), QColor(0, 128, 0));
    for (const QString &call : bench.trace())
        QVERIFY2(!call.contains(QLatin1String("(33")), qPrintable(call)); // unit 2's descriptor
}

void tst_Switch::labelsEditedAndLockedBecomeTheButtons()
{
    Bench bench;
    bench.store.WriteValue(kBench, "2.PAd", 8.0);
    bench.start(2);
    UnitPanel &panel = bench.window.panel(0);
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QCOMPARE(panel.Edit->text(), QStringLiteral("&Lock"));
    QVERIFY(panel.Edit->isChecked() && panel.BTxt->isEnabled()
            && panel.PositionLbl[B3]->isVisible());
    QVERIFY(bench.window.panel(1).Position[A1]->isVisible()); // the other unit stays locked
    retype(panel.PositionLbl[B3], QString());
    retype(panel.PositionLbl[A2], QStringLiteral("   "));
    retype(panel.BTxt, QStringLiteral("Outputs"));
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QCOMPARE(panel.Edit->text(), QStringLiteral("&Edit"));
    QVERIFY(!panel.BTxt->isEnabled());
    QCOMPARE(panel.BTxt->text(), QStringLiteral("Outputs"));
    QVERIFY(!panel.Position[B3]->isVisible()); // an empty label: no button
    QCOMPARE(panel.Position[A2]->text(), QStringLiteral("   ")); // blanks are a label
    for (int p : {A1, A2, A3, A4, B1, B2, B4})
        QVERIFY(panel.Position[p]->isVisible());
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    retype(panel.PositionLbl[B3], QStringLiteral("Load"));
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QVERIFY(panel.Position[B3]->isVisible());
    QCOMPARE(panel.Position[B3]->text(), QStringLiteral("Load"));
}

void tst_Switch::screenReaderHearsLabelAndSelection()
{
    Bench bench;
    bench.store.WriteValue(kBench, "1.A2.label", "Antenna");
    bench.start(1);
    QAccessibleInterface *button =
        QAccessible::queryAccessibleInterface(bench.window.panel(0).Position[A2]);
    QVERIFY(button);
    QCOMPARE(button->text(QAccessible::Name), QStringLiteral("Antenna"));
    QCOMPARE(button->text(QAccessible::Description), QStringLiteral("Not selected"));
    bench.press(0, A2);
    QCOMPARE(button->text(QAccessible::Description), QStringLiteral("Selected position"));
    bench.press(0, A1);
    QCOMPARE(button->text(QAccessible::Description), QStringLiteral("Not selected"));
}

QTEST_MAIN(tst_Switch)
#include "tst_Switch.moc"
