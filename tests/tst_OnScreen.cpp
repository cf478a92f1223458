// SPDX-License-Identifier: MIT
// The main window on a real X server (Xvfb with a window manager, run with -platform xcb): its
// client ends with its last shown frame, so no hidden frame shows, and a dialog goes beside
// its outer frame, title bar included.

#include "Bench.h"

#include <QScreen>
#include <QWindow>

namespace {

/** A shown window's outer frame, once the window manager has put its frame around it. */
QRect framed(QWidget *window)
{
    QWindow *handle = window->windowHandle();
    return QTest::qWaitFor([handle] { return !handle->frameMargins().isNull(); })
               ? handle->frameGeometry()
               : QRect();
}

} // namespace

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

    void dialogGoesBesideTheOuterFrame_data()
    {
        QTest::addColumn<int>("top"); // of the main window, in twips
        QTest::addColumn<bool>("below");
        QTest::addColumn<int>("units"); // 0: the count is asked first
        QTest::newRow("room below") << 1500 << true << 1;
        QTest::newRow("too near the bottom") << 12000 << false << 1;
        QTest::newRow("after the unit-count dialog") << 3000 << true << 0;
    }

    void dialogGoesBesideTheOuterFrame()
    {
        QFETCH(int, top);
        QFETCH(bool, below);
        QFETCH(int, units);
        Bench bench;
        bench.store.WriteValue(kBench, "X", 1500);
        bench.store.WriteValue(kBench, "Y", top);
        bench.start(units);
        const QRect main = framed(&bench.window); // the outer frame where stored, 15 twips a pixel
        QCOMPARE(main.topLeft(), QPoint(100, top / 15));
        // 100 twips in, 20 below or above
        const QPoint expected(main.left() + 7, below ? main.bottom() + 1 + 1 : main.top() - 1 - 1);
        QRect dialog;
        bench.modals.queue([&](QWidget *conf) {
            // Framed, then perhaps placed again: wait for where it should end.
            static_cast<void>(framed(conf));
            static_cast<void>(QTest::qWaitFor([&] {
                dialog = conf->windowHandle()->frameGeometry();
                return (below ? dialog.topLeft() : dialog.bottomLeft()) == expected;
            }));
            conf->close();
        });
        QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
        QCOMPARE(below ? dialog.topLeft() : dialog.bottomLeft(), expected);
        bench.window.close(); // and stored back as it was
        QCOMPARE(bench.store.ReadValue(kBench, "Y", std::int32_t(0)), top);
    }
};

QTEST_MAIN(tst_OnScreen)
#include "tst_OnScreen.moc"
