// SPDX-License-Identifier: MIT
// The unit-count dialog and the placement it shares with the configuration dialog.

#include "dialogs/PositionUnder.h"
#include "dialogs/Units.h"
#include "forms/TwipsScale.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTest>

class tst_Units : public QObject
{
    Q_OBJECT
private slots:
    void countFollowsTheLastPress_data();
    void countFollowsTheLastPress();
    void positionUnder_data();
    void positionUnder();
    void dialogIsPlacedUnderItsOwner();
};

void tst_Units::countFollowsTheLastPress_data()
{
    QTest::addColumn<QList<int>>("presses");
    QTest::addColumn<QString>("close"); // "ok", "enter", "escape", "title bar"
    QTest::addColumn<int>("count");
    QTest::newRow("OK at once") << QList<int> {} << "ok" << 1;
    QTest::newRow("3 then 2 then OK") << QList<int> {2, 1} << "ok" << 2;
    QTest::newRow("selected first option then OK") << QList<int> {0} << "ok" << 1;
    QTest::newRow("3 then Enter") << QList<int> {2} << "enter" << 3;
    QTest::newRow("title bar at once") << QList<int> {} << "title bar" << 1;
    QTest::newRow("3 then title bar") << QList<int> {2} << "title bar" << 3;
    QTest::newRow("Escape at once") << QList<int> {} << "escape" << 1;
}

void tst_Units::countFollowsTheLastPress()
{
    QFETCH(QList<int>, presses);
    QFETCH(QString, close);
    QFETCH(int, count);
    QWidget owner;
    owner.setProperty("UnitCount", 0);
    Units dialog(&owner);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.Num[0]->isChecked());
    for (const int item : presses)
        QTest::mouseClick(dialog.Num[item], Qt::LeftButton);
    if (!presses.isEmpty())
        QVERIFY(dialog.Num[presses.last()]->isChecked());
    if (close == QLatin1String("ok"))
        QTest::mouseClick(dialog.OK, Qt::LeftButton);
    else if (close == QLatin1String("enter"))
        QTest::keyClick(&dialog, Qt::Key_Return);
    else if (close == QLatin1String("escape"))
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else
        dialog.close();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(owner.property("UnitCount").toInt(), count);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void tst_Units::positionUnder_data()
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

void tst_Units::positionUnder()
{
    QFETCH(QRect, main);
    QFETCH(int, dialogHeight);
    QFETCH(int, screenHeight);
    QFETCH(QPoint, expected);
    QCOMPARE(PositionUnder(main, dialogHeight, screenHeight), expected);
}

void tst_Units::dialogIsPlacedUnderItsOwner()
{
    // The dialog is 900 twips (60 pixels) high.
    const TwipsScale scale(96);
    QWidget owner;
    owner.setProperty("UnitCount", 0);
    owner.setGeometry(100, 100, 481, 125);
    {
        Units dialog(&owner);
        QCOMPARE(dialog.frameGeometry().topLeft(), QPoint(100 + 7, 100 + 125 + 1));
    }
    const int screenHeight =
        TwipsScale::primaryScreen().toPixels(TwipsScale::screenSizeTwips().height());
    owner.move(20, screenHeight - 125 - 40); // a dialog below would end past the bottom
    Units above(&owner);
    QCOMPARE(above.frameGeometry().topLeft(), QPoint(27, screenHeight - 165 - 60 - 1));
}

QTEST_MAIN(tst_Units)
#include "tst_Units.moc"
