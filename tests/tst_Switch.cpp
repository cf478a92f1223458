// SPDX-License-Identifier: MIT
// Position presses through real clicks, checking what the operator sees (painted faces and
// captions) and hears (a screen reader's description), and what reached the simulated bus.

#include "Bench.h"
#include "forms/Colours.h"

#include <QPushButton>

namespace {

/** What the operator sees of a unit: its buttons' painted faces, section A then B ('g' green,
    '.' button face; a screen reader hears the same), then its caption's colour (G green, R red). */
QString looks(Bench &bench, int unit)
{
    QString text;
    for (int p = 0; p < 8; ++p) {
        QPushButton *button = bench.window.panel(unit).Position[p];
        const QColor face = faceColour(button);
        const bool heard = button->accessibleDescription() == "Selected position";
        text += face == QColor(0, 255, 0) && heard ? 'g'
                : face == forms::toQColor(forms::kButtonFace) && !heard
                        && button->accessibleDescription() == "Not selected"
                    ? '.'
                    : '?';
        text += p == 3 ? " " : "";
    }
    const QColor caption = captionColour(bench.window.panel(unit).Frame);
    return text
           + (caption == QColor(0, 128, 0)   ? " G"
              : caption == QColor(255, 0, 0) ? " R"
                                             : " ?");
}

/** Each write's view of the cursor: 'w' the busy cursor, '.' none. */
QString g_cursors;
gpib::IbWrt g_realWrite = nullptr;
int SELVANE_GPIB_CALL watchedWrite(int ud, const void *buffer, long count)
{
    const QCursor *cursor = QApplication::overrideCursor();
    g_cursors += cursor && cursor->shape() == Qt::WaitCursor ? 'w' : '.';
    return g_realWrite(ud, buffer, count);
}

} // namespace

class tst_Switch : public QObject
{
    Q_OBJECT
private slots:
    void pressesShowTheirOutcome_data()
    {
        QTest::addColumn<QString>("steps"); // "2B3": unit 2's B3; "s2B3": the same by a script;
                                            // "E1": unit 1's Edit button;
                                            // "-7", "+7": the instrument at 7 leaves, comes back
        QTest::addColumn<QString>("first"); // how each unit looks at the end
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("calls");
        const QString open = QStringLiteral("ibconfig(0,23,1) ibdev(0,7,0,12,1,0) ibclr(32)");
        // clang-format off
        QTest::newRow("the highlight moves within its section") << "1B2 1A1 1A2 1B3 1B3" << ".g.. ..g. G" << ".... .... G" << "ibwrt(32,2)=4232 ibwrt(32,2)=4131 ibwrt(32,2)=4132 ibwrt(32,2)=4233 ibwrt(32,2)=4233";
        QTest::newRow("a script's presses are the operator's") << "s1B2 1A1 s1A2 1B3 s1B3" << ".g.. ..g. G" << ".... .... G" << "ibwrt(32,2)=4232 ibwrt(32,2)=4131 ibwrt(32,2)=4132 ibwrt(32,2)=4233 ibwrt(32,2)=4233";
        QTest::newRow("edit and lock keep it") << "1A2 1B3 E1 E1" << ".g.. ..g. G" << ".... .... G" << "ibwrt(32,2)=4132 ibwrt(32,2)=4233";
        QTest::newRow("a failed press clears its section only") << "1A1 1B2 -7 1A3" << ".... .g.. R" << ".... .... G" << "ibwrt(32,2)=4131 ibwrt(32,2)=4232 ibwrt(32,2)=4133 ERR ibonl(32,0)";
        QTest::newRow("the next press opens the link again") << "1B2 -7 s1A3 +7 s1A3" << "..g. .g.. G" << ".... .... G" << "ibwrt(32,2)=4232 ibwrt(32,2)=4133 ERR ibonl(32,0) " + open + " ibwrt(32,2)=5858 ibwrt(32,2)=4133";
        QTest::newRow("one unit never touches another") << "2A4 2B2 -7 1A1 1B1" << ".... .... R" << "...g .g.. G" << "ibwrt(33,2)=4134 ibwrt(33,2)=4232 ibwrt(32,2)=4131 ERR ibonl(32,0) " + open + " ERR ibonl(32,0)";
        // clang-format on
    }

    void pressesShowTheirOutcome()
    {
        QFETCH(QString, steps);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, calls);
        Bench bench;
        bench.store.WriteValue(kBench, "2.PAd", 8.0);
        bench.start(2);
        Script script(bench);
        QStringList present {"0:7:0", "0:8:0"};
        for (const QString &step : steps.split(' ')) {
            if (step[0] == '-' || step[0] == '+') {
                const QString device = "0:" + step.mid(1) + ":0";
                step[0] == '-' ? void(present.removeAll(device)) : present.append(device);
                qputenv("SELVANE_SIM_DEVICES",
                        present.isEmpty() ? " " : present.join(' ').toLatin1());
            } else if (step[0] == 'E') {
                QTest::mouseClick(bench.window.panel(step[1].digitValue() - 1).Edit,
                                  Qt::LeftButton);
            } else if (step[0] == 's') {
                QVERIFY(script.ask("{\"press\":\"" + step.mid(1).toLatin1() + "\"}")
                            .contains("\"position\":\"" + step.mid(2) + '"'));
            } else {
                bench.press(step[0].digitValue() - 1,
                            (step[1] == 'B') * 4 + step[2].digitValue() - 1);
            }
        }
        QCOMPARE(looks(bench, 0), first);
        QCOMPARE(looks(bench, 1), second);
        QCOMPARE(bench.trace().join(' '), calls);
    }

    void theBusyCursorShowsWhileTheDriverHoldsThePanel()
    {
        Bench bench;
        g_realWrite = reinterpret_cast<gpib::IbWrt>(bench.driver.real("ibwrt"));
        bench.driver.replace("ibwrt", reinterpret_cast<void *>(&watchedWrite));
        g_cursors.clear();
        bench.start(1); // the open's proof write
        bench.press(0, 2);
        QVERIFY(Script(bench).ask("{\"press\":\"1B1\"}").contains("\"ok\":true"));
        bench.modals.queue(enter({}, true)); // the link test's write, then the reopening's
        QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
        QCOMPARE(g_cursors, QStringLiteral("wwwww"));
        QVERIFY(!QApplication::overrideCursor()); // and gone again
    }
};

QTEST_MAIN(tst_Switch)
#include "tst_Switch.moc"
