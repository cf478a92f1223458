// SPDX-License-Identifier: MIT
// The main window on a real X server (Xvfb, run with -platform xcb): its client ends with its
// last shown frame, so no hidden frame shows.

#include "Bench.h"

#include <QScreen>

class tst_OnScreen : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server: run under xvfb-run with -platform xcb");
    }

    void noHiddenFrameShows_data()
    {
        QTest::addColumn<int>("units");
        for (int units = 1; units <= 3; ++units)
            QTest::addRow("%d", units) << units;
    }

    void noHiddenFrameShows()
    {
        QFETCH(int, units);
        Bench bench;
        bench.start(units);
        // What the X server holds of the window, as wide as it really is.
        const QImage shown = bench.window.screen()->grabWindow(bench.window.winId()).toImage();
        QWidget *last = bench.window.panel(units - 1).Frame;
        QCOMPARE(shown.width(), last->geometry().right() + 1); // no column of a hidden frame
    }
};

QTEST_MAIN(tst_OnScreen)
#include "tst_OnScreen.moc"
