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
        QCOMPARE(shown.width(), last->geometry().right() + 1);
        const QImage own = painted(last); // the last column is the frame's own right edge
        for (int y = 0; y < own.height(); ++y)
            QCOMPARE(shown.pixel(shown.width() - 1, y), own.pixel(own.width() - 1, y));
    }

    void aDialogAboveTheMainWindowCountsItsFrame()
    {
        Bench bench;
        QRect main;
        QRect dialog;
        bool framed = false;
        const auto where = [&] {
            return [&](QWidget *modal) {
                QWindow *shown = modal->windowHandle(); // once the window manager has framed it
                framed = QTest::qWaitFor([shown] { return !shown->frameMargins().isNull(); });
                main = bench.window.windowHandle()->frameGeometry();
                dialog = shown->frameGeometry();
                modal->close();
            };
        };
        bench.start(1);
        // No room below: the configuration dialog goes 20 twips above, its frame counted.
        const int bottom = bench.window.screen()->geometry().bottom();
        const QPoint low(bench.window.frameGeometry().left(),
                         bottom - bench.window.frameGeometry().height() - 20);
        QTRY_VERIFY(!bench.window.windowHandle()->frameMargins().isNull()); // framed now
        bench.window.move(low);
        QTRY_COMPARE(bench.window.frameGeometry().topLeft(), low);
        bench.modals.queue(where());
        QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
        QVERIFY(framed);
        QCOMPARE(dialog.bottom() + 1 + 1, main.top());
        QCOMPARE(dialog.left(), main.left() + 7);
    }
};

QTEST_MAIN(tst_OnScreen)
#include "tst_OnScreen.moc"
