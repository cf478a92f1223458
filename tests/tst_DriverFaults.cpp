// SPDX-License-Identifier: MIT
// Every way the driver can fail, at every step where the panel calls it: each row ends as
// the system defines it, nothing crashes, and the panel stays usable afterwards.

#include "FakeDriver.h"
#include "ModalAnswerer.h"
#include "TestRegistry.h"
#include "app/MainWindow.h"
#include "dialogs/Conf.h"
#include "forms/Colours.h"
#include "gpib/DynamicLibrary.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"
#include "settings/SettingsStore.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>

namespace {

enum class Action { StartUp, Press, Close, LinkTest };
enum class Link { Any, Linked, Failed };

struct Fault
{
    const char *name;
    std::function<void(FakeDriver &)> arrange; ///< before start-up
    Action action;
    std::function<void(FakeDriver &)> before; ///< after start-up, before the action
    QString box; ///< the message shown, if any (a prefix is enough)
    bool quits; ///< start-up ends and the window closes
    Link link; ///< the unit's link after the action
    QStringList lastCalls; ///< the driver's last calls, if they matter
    int strayDescriptors = 0; ///< descriptors the driver still holds that no unit owns
};

const auto nothing = [](FakeDriver &) {};
const QString kMissing = QStringLiteral("Can't find DLL entry point ");

std::vector<Fault> faults()
{
    std::vector<Fault> rows {
        {"library missing",
         [](FakeDriver &d) { d.failLoading(53); },
         Action::StartUp,
         nothing,
         "cannot load fake-gpib.so\rInstall National Instruments drivers",
         true,
         Link::Failed,
         {}},
        {"library cannot load",
         [](FakeDriver &d) { d.failLoading(48); },
         Action::StartUp,
         nothing,
         "cannot load fake-gpib.so",
         true,
         Link::Failed,
         {}},
        {"registration entry missing, no thread status",
         [](FakeDriver &d) { d.remove("RegisterGpibGlobalsForThread"); },
         Action::StartUp,
         nothing,
         kMissing + "RegisterGpibGlobalsForThread",
         true,
         Link::Failed,
         {}},
        {"unregistration entry missing on result 1",
         [](FakeDriver &d) {
             d.remove("UnregisterGpibGlobalsForThread");
             d.scriptRegistration(1);
         },
         Action::StartUp,
         nothing,
         kMissing + "UnregisterGpibGlobalsForThread",
         true,
         Link::Failed,
         {}},
        {"ibonl missing when an open fails after ibdev",
         [](FakeDriver &d) {
             d.remove("ibonl");
             d.script("ibclr", FakeDriver::error(gpib::kEnol));
         },
         Action::StartUp,
         nothing,
         kMissing + "ibonl",
         true,
         Link::Failed,
         {},
         1}, // nothing can take it offline without ibonl
        {"ERR at ibconfig does not stop the open",
         [](FakeDriver &d) { d.script("ibconfig", FakeDriver::error(gpib::kEneb)); },
         Action::StartUp,
         nothing,
         {},
         false,
         Link::Linked,
         {}},
        {"ERR at ibdev",
         [](FakeDriver &d) { d.script("ibdev", FakeDriver::error(gpib::kEarg)); },
         Action::StartUp,
         nothing,
         {},
         false,
         Link::Failed,
         {"ibdev(0,7,0,12,1,0)"}},
        {"ERR at ibclr",
         [](FakeDriver &d) { d.script("ibclr", FakeDriver::error(gpib::kEnol)); },
         Action::StartUp,
         nothing,
         {},
         false,
         Link::Failed,
         {"ibclr(32)", "ibonl(32,0)"}},
        {"ERR at the proof write",
         [](FakeDriver &d) { d.script("ibwrt", FakeDriver::error(gpib::kEnol)); },
         Action::StartUp,
         nothing,
         {},
         false,
         Link::Failed,
         {"ibwrt(32,2)=XX", "ibonl(32,0)"}},
        {"registration refused every time",
         [](FakeDriver &d) {
             for (int i = 0; i < 20; ++i)
                 d.scriptRegistration(7);
         },
         Action::StartUp,
         nothing,
         {},
         false,
         Link::Failed,
         {},
         1}, // no call can be trusted, ibdev's descriptor included
        {"registration refused once (result 2)",
         [](FakeDriver &d) { d.scriptRegistration(2); },
         Action::StartUp,
         nothing,
         {},
         false,
         Link::Linked,
         {}},
        {"registration refused once (result 3)",
         [](FakeDriver &d) { d.scriptRegistration(3); },
         Action::StartUp,
         nothing,
         {},
         false,
         Link::Linked,
         {}},
        {"registration result 1",
         [](FakeDriver &d) { d.scriptRegistration(1); },
         Action::StartUp,
         nothing,
         {},
         false,
         Link::Linked,
         {}},
        {"ERR at a press's write",
         nothing,
         Action::Press,
         [](FakeDriver &d) { d.script("ibwrt", FakeDriver::error(gpib::kEnol)); },
         {},
         false,
         Link::Failed,
         {"ibwrt(32,2)=A1", "ibonl(32,0)"}},
        {"press after a failed open reopens fully",
         [](FakeDriver &d) { d.script("ibclr", FakeDriver::error(gpib::kEnol)); },
         Action::Press,
         nothing,
         {},
         false,
         Link::Linked,
         {"ibconfig(0,23,1)", "ibdev(0,7,0,12,1,0)", "ibclr(33)", "ibwrt(33,2)=XX",
          "ibwrt(33,2)=A1"}},
        {"ERR at ibloc on close",
         nothing,
         Action::Close,
         [](FakeDriver &d) { d.script("ibloc", FakeDriver::error(gpib::kEdvr)); },
         {},
         false,
         Link::Failed,
         {"ibloc(32)", "ibonl(32,0)"}},
        {"ERR at ibonl on close",
         nothing,
         Action::Close,
         [](FakeDriver &d) { d.script("ibonl", FakeDriver::error(gpib::kEdvr)); },
         {},
         false,
         Link::Failed,
         {"ibloc(32)", "ibonl(32,0)"}},
        {"ibloc missing on close still goes offline",
         nothing,
         Action::Close,
         [](FakeDriver &d) { d.remove("ibloc"); },
         {},
         false,
         Link::Failed,
         {"ibonl(32,0)"}},
        {"ERR at the test's ibdev",
         nothing,
         Action::LinkTest,
         [](FakeDriver &d) { d.script("ibdev", FakeDriver::error(gpib::kEarg)); },
         "Unable to open device",
         false,
         Link::Any,
         {"ibdev(0,7,0,12,1,0)"}},
        {"ERR at the test's write",
         nothing,
         Action::LinkTest,
         [](FakeDriver &d) { d.script("ibwrt", FakeDriver::error(gpib::kEnol)); },
         "Unable to open device",
         false,
         Link::Any,
         {"ibwrt(33,2)=XX", "ibonl(33,0)"}},
        {"test succeeds",
         nothing,
         Action::LinkTest,
         nothing,
         "Test is OK",
         false,
         Link::Any,
         {"ibwrt(33,2)=XX", "ibonl(33,0)"}},
    };
    return rows;
}

} // namespace

class tst_DriverFaults : public QObject
{
    Q_OBJECT
private slots:
    void everyFaultEndsAsDefined_data();
    void everyFaultEndsAsDefined();
    void callLongerThanTheDeviceTimeoutFails();
};

void tst_DriverFaults::everyFaultEndsAsDefined_data()
{
    QTest::addColumn<int>("row");
    const std::vector<Fault> rows = faults();
    for (std::size_t i = 0; i < rows.size(); ++i)
        QTest::newRow(rows[i].name) << int(i);
}

void tst_DriverFaults::everyFaultEndsAsDefined()
{
    QFETCH(int, row);
    const Fault fault = faults()[std::size_t(row)];
    GpibStatus = {};
    TemporaryFolder folder;
    SqliteRegistry registry(folder.file("registry.sqlite3"));
    SettingsStore store(registry);
    store.WriteValue("SELVANE - Bench", "Units", 1.0);
    FakeDriver driver;
    GpibBinding gpib(driver);
    MainWindow window(store, gpib);
    fault.arrange(driver);
    ModalAnswerer answerer;

    window.Load("Bench");
    if (fault.action != Action::StartUp) {
        window.show();
        fault.before(driver);
        driver.calls.clear();
    }
    switch (fault.action) {
    case Action::StartUp:
        break;
    case Action::Press:
        QTest::mouseClick(window.panel(0).Position[0], Qt::LeftButton);
        break;
    case Action::Close:
        window.close();
        break;
    case Action::LinkTest:
        answerer.queue([](QWidget *modal) {
            QTest::mouseClick(static_cast<Conf *>(modal)->Test, Qt::LeftButton);
            modal->close();
        });
        QTest::mouseClick(window.panel(0).Config, Qt::LeftButton);
        break;
    }

    QStringList boxes;
    for (const ModalAnswerer::Seen &seen : answerer.seen) {
        if (seen.className == QLatin1String("QMessageBox"))
            boxes << seen.text;
    }
    if (fault.box.isEmpty()) {
        QCOMPARE(boxes, QStringList());
    } else {
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith(fault.box), qPrintable(boxes[0]));
    }
    QCOMPARE(window.QuitRequested(), fault.quits);
    if (fault.action == Action::StartUp)
        QCOMPARE(window.hasClosed(), fault.quits);
    if (fault.link != Link::Any)
        QCOMPARE(window.unit(0).Opened, fault.link == Link::Linked);
    if (!fault.lastCalls.isEmpty()) {
        QStringList calls;
        for (const std::string &call : driver.calls)
            calls << QString::fromStdString(call);
        if (fault.action == Action::LinkTest) {
            // The test's calls come before the unit's reopening (configure, ibdev, ...).
            const qsizetype reopen = calls.indexOf(QStringLiteral("ibconfig(0,23,1)"));
            calls = calls.mid(0, reopen);
        }
        QCOMPARE(calls.mid(calls.size() - fault.lastCalls.size()), fault.lastCalls);
    }
    QCOMPARE(driver.descriptorsOnline, (window.unit(0).Opened ? 1 : 0) + fault.strayDescriptors);

    // The panel stays usable: edit mode comes and goes, a press is handled.
    if (!window.hasClosed()) {
        window.show();
        QTest::mouseClick(window.panel(0).Edit, Qt::LeftButton);
        QCOMPARE(window.panel(0).Edit->text(), QStringLiteral("&Lock"));
        QTest::mouseClick(window.panel(0).Edit, Qt::LeftButton);
        QCOMPARE(window.panel(0).Edit->text(), QStringLiteral("&Edit"));
        QTest::mouseClick(window.panel(0).Position[4], Qt::LeftButton);
        window.close();
    }
}

void tst_DriverFaults::callLongerThanTheDeviceTimeoutFails()
{
    GpibStatus = {};
    TemporaryFolder folder;
    SqliteRegistry registry(folder.file("registry.sqlite3"));
    SettingsStore store(registry);
    store.WriteValue("SELVANE - Bench", "Units", 1.0);
    qputenv("SELVANE_SIM_DEVICES", "0:7:0");
    qputenv("SELVANE_SIM_DELAY_MS", "0");
    DynamicLibrary sim(SELVANE_SIM_LIBRARY);
    GpibBinding gpib(sim);
    MainWindow window(store, gpib);
    window.Load("Bench");
    window.show();
    QVERIFY(window.unit(0).Opened);
    qputenv("SELVANE_SIM_DELAY_MS", "3100"); // the instrument stops answering in time
    QElapsedTimer waited;
    waited.start();
    QTest::mouseClick(window.panel(0).Position[1], Qt::LeftButton);
    QVERIFY(waited.elapsed() >= 3000); // the driver gives up after the device timeout
    QVERIFY(!window.unit(0).Opened);
    qputenv("SELVANE_SIM_DELAY_MS", "0");
    QTest::mouseClick(window.panel(0).Position[1], Qt::LeftButton);
    QVERIFY(window.unit(0).Opened); // usable again once the bus answers
    window.close();
}

QTEST_MAIN(tst_DriverFaults)
#include "tst_DriverFaults.moc"
