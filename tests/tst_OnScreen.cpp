// SPDX-License-Identifier: MIT
// The windows on a real X server (Xvfb with twm, run with -platform xcb), framed by a window
// manager: the main window's client ends with its last shown frame, and a dialog placed above
// the main window counts its own frame.

#include "Bench.h"

#include <QScreen>
#include <QWindow>

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

    void aDialogAboveTheMainWindowCountsItsFrame()
    {
        Bench bench;
        bench.start(1);
        QWindow *window = bench.window.windowHandle();
        QTRY_VERIFY(!window->frameMargins().isNull()); // framed by the window manager
        // No room below: the configuration dialog goes 20 twips above, its frame counted.
        const QPoint low(window->frameGeometry().left(), bench.window.screen()->geometry().bottom()
                                                             - window->frameGeometry().height()
                                                             - 20);
        bench.window.move(low);
        QTRY_COMPARE(window->frameGeometry().topLeft(), low);
        QRect dialog;
        bench.modals.queue([&dialog](QWidget *modal) {
            QWindow *shown = modal->windowHandle(); // once it is framed too
            if (QTest::qWaitFor([shown] { return !shown->frameMargins().isNull(); }))
                dialog = shown->frameGeometry();
            modal->close();
        });
        QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
        QCOMPARE(dialog.bottom() + 1 + 1, low.y());
        QCOMPARE(dialog.left(), low.x() + 7);
    }
};

QTEST_MAIN(tst_OnScreen)
#include "tst_OnScreen.moc"
