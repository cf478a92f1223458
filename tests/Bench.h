// SPDX-License-Identifier: MIT
#pragma once

// A bench for one test: a registry file of its own, the simulated bus (instruments, faults,
// trace), a main window over both, and an operator who answers every modal window as it
// appears. What the operator sees is read from painted pixels.

#include "PlatformRegistry.h"
#include "SimDriver.h"
#include "app/MainWindow.h"
#include "app/UnitSettings.h"
#include "dialogs/Conf.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"
#include "remote/RemoteServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMessageBox>
#include <QPointer>
#include <QTest>

#include <deque>
#include <functional>
#include <iostream>
#include <sstream>

/**
 * Answers modal windows as an operator would, and records each as "title: text", with
 * "(stop)" or "(info)" after the title for a box's icon. A window is seen when it is shown,
 * and answered from its own event loop by the next queued action, else by OK for a box and
 * by the title bar for a dialog.
 */
class Operator : public QObject
{
public:
    using Action = std::function<void(QWidget *)>;
    Operator() { qApp->installEventFilter(this); }
    void queue(Action action) { m_actions.push_back(std::move(action)); }
    QStringList seen;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = qobject_cast<QWidget *>(watched);
        if (event->type() != QEvent::Show || !window || !window->isWindow() || !window->isModal())
            return false;
        auto *box = qobject_cast<QMessageBox *>(window);
        const auto icon = box ? box->icon() : QMessageBox::NoIcon;
        seen << window->windowTitle()
                    + (icon == QMessageBox::Critical      ? " (stop)"
                       : icon == QMessageBox::Information ? " (info)"
                                                          : "")
                    + (box ? ": " + box->text() : QString())
                    + (box && !box->informativeText().isEmpty() ? '\n' + box->informativeText()
                                                                : QString());
        Action action = [box](QWidget *modal) {
            box && box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click()
                                                : void(modal->close());
        };
        if (!m_actions.empty()) {
            action = std::move(m_actions.front());
            m_actions.pop_front();
        }
        QMetaObject::invokeMethod(
            this,
            [action, target = QPointer<QWidget>(window)] { target ? action(target) : void(); },
            Qt::QueuedConnection);
        return false;
    }

private:
    std::deque<Action> m_actions;
};

inline const std::string kBench = "SELVANE - Bench";

struct Bench
{
    TemporaryFolder folder;
    std::string file, traceFile = folder.file("trace.jsonl");
    SimSettings sim;
    std::unique_ptr<Registry> opened = openTestRegistry(file);
    Registry &registry = *opened;
    SettingsStore store {registry};
    SimDriver driver;
    GpibBinding gpib {driver};
    MainWindow window {store, gpib};
    Operator modals;

    /** Instruments at 7 and 8; `faults` as gpib-sim takes them; `registryFile` to restart;
        another driver `library` in place of gpib-sim. */
    explicit Bench(const char *faults = "", const std::string &registryFile = {},
                   const std::string &library = SELVANE_SIM_LIBRARY)
        : file(registryFile.empty() ? folder.file("registry.sqlite3") : registryFile)
        , sim("0:7:0\r\n0:8:0\f", traceFile, faults) // as a file edited on Windows has them
        , driver(library)
    {
        GpibStatus = {}; // each bench is a new run of the program
    }
    ~Bench() { window.close(); }

    /** Starts with `units` stored (0: none), shows the window and forgets the start's calls. */
    void start(int units)
    {
        if (units > 0)
            store.WriteValue(kBench, "Units", double(units));
        window.Load("Bench");
        if (window.hasClosed())
            return;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        clearTrace();
    }
    QStringList trace() const
    {
        QStringList calls;
        for (const std::string &call : readTrace(traceFile))
            calls << QString::fromStdString(call);
        return calls;
    }
    void clearTrace() const { std::remove(traceFile.c_str()); }
    void press(int unit, int position)
    {
        QTest::mouseClick(window.panel(unit).Position[position], Qt::LeftButton);
    }
};

/** A script in this process on the bench's panel: its socket, and a connection to it. */
struct Script
{
    RemoteServer server;
    QLocalSocket socket;
    explicit Script(Bench &bench)
        : server(bench.window.engine())
    {
        QVERIFY(server.listen(RemoteServer::nameOf(bench.registry.location(), kBench), std::cerr));
        socket.connectToServer(server.fullName());
        QVERIFY(socket.waitForConnected());
    }
    /** The next answer, as the panel wrote it. */
    QString answer()
    {
        return QTest::qWaitFor([this] { return socket.canReadLine(); }, 60'000)
                   ? QString::fromUtf8(socket.readLine()).trimmed()
                   : QStringLiteral("(no answer)");
    }
    QString ask(const QByteArray &line)
    {
        socket.write(line + '\n');
        return answer();
    }
};

/** What the panel writes on its standard error meanwhile. */
struct StandardError
{
    std::ostringstream text;
    std::streambuf *kept = std::cerr.rdbuf(text.rdbuf());
    ~StandardError() { std::cerr.rdbuf(kept); }
};

/** Replaces a box's text as the operator types it. */
inline void retype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

/** An action for the configuration dialog: types the values given (null: kept), then OK or Test. */
inline Operator::Action enter(QStringList values, bool test = false)
{
    return [values, test](QWidget *modal) {
        auto *conf = static_cast<Conf *>(modal);
        for (int k = 0; k < 3 && k < values.size(); ++k) {
            if (!values[k].isNull())
                retype(conf->vVal[k], values[k]);
        }
        QTest::mouseClick(test ? conf->Test : conf->OK, Qt::LeftButton);
        if (test)
            conf->close();
    };
}

/** The widget as painted, at one device pixel per logical pixel. */
inline QImage painted(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

/** How many pixels of the image (of its top `rows` rows, if given) have exactly `colour`. */
inline int pixelsOf(const QImage &image, const QColor &colour, int rows = INT_MAX)
{
    int count = 0;
    for (int y = 0; y < std::min(rows, image.height()); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == colour.rgb();
    }
    return count;
}

/** The colour of a button's face: halfway down, clear of its border and its caption. */
inline QColor faceColour(QWidget *widget)
{
    const QImage image = painted(widget);
    return image.pixelColor(4, image.height() / 2);
}

/** The colour of a frame's caption: dark green, red, or invalid for anything else. */
inline QColor captionColour(QWidget *frame)
{
    for (const QColor colour : {QColor(0, 128, 0), QColor(255, 0, 0)}) {
        if (pixelsOf(painted(frame), colour, frame->fontMetrics().height()) > 10)
            return colour;
    }
    return {};
}
