// SPDX-License-Identifier: MIT
// Every way the driver can fail, at every step where the panel calls it: each row ends as
// the system defines it, nothing crashes, no failure leaves a descriptor online that the
// driver let go of, and the panel stays usable afterwards.

#include "Bench.h"

namespace {

enum Action { StartUp, Press, Close, LinkTest };
enum Link { Any, Linked, Failed };

struct Fault
{
    const char *name;
    const char *library; ///< empty: gpib-sim
    const char *hidden; ///< entry points the driver lacks, separated by blanks
    const char *faults; ///< as gpib-sim takes them, counted from the start
    Action action;
    const char *box; ///< the start of the message shown, if any; at start-up it ends start-up
    Link link; ///< the unit's link after the action
    const char *calls; ///< the driver's last calls (before any reopening), if they matter
    int stray; ///< descriptors the driver still holds that no unit owns
    const char *said = nullptr; ///< what start-up writes on stderr, beside a box's message
    const char *tip = nullptr; ///< the tooltip's line on the last operation, after its time
};

const char *const kThread = "ThreadIbsta ThreadIberr ThreadIbcntl";
#if defined(SELVANE_WRONG_ARCH_LIBRARY) // Windows finds no file where a dependency is missing
const char *const kUnloadable = SELVANE_WRONG_ARCH_LIBRARY;
#else
const char *const kUnloadable = SELVANE_BROKEN_LIBRARY;
#endif

#if defined(_WIN32) // NI's ibcntl is not the system's errno
#define DENIED "board 0 cannot be used: the driver answered EDVR"
#else // and what usually mends it
#define DENIED \
    "board 0 cannot be used: the driver answered EDVR (Permission denied); this user usually " \
    "needs to join the group that owns /dev/gpib0 (see ls -l /dev/gpib0), then log in again"
#endif

// clang-format off
const Fault kFaults[] = {
    {"library missing", "/nonexistent/libgpib.so.0", "", "", StartUp, "File not found: /nonexistent/libgpib.so.0\rInstall ", Failed, "", 0, "selvane: File not found: /nonexistent/libgpib.so.0\nInstall "},
    {"library cannot load", kUnloadable, "", "", StartUp, "Error in loading DLL: ", Failed, "", 0},
    {"no way to read the status", "", "RegisterGpibGlobalsForThread ThreadIbsta", "", StartUp, "Can't find DLL entry point RegisterGpibGlobalsForThread", Failed, "", 0},
    {"unregistration missing on result 1", "", "UnregisterGpibGlobalsForThread", "RegisterGpibGlobalsForThread#1=1", StartUp, "Can't find DLL entry point UnregisterGpibGlobalsForThread", Failed, "", 0},
    {"ibonl missing when an open fails", "", "ibonl", "ibclr=2", StartUp, "", Failed, "ibclr(32) ERR", 1},
    {"malformed faults are ignored", "", "", "ibclr#0=2 ibclr#2x=2 ibclr= #1=2 ibclr#=2", StartUp, "", Linked, "", 0},
    {"ERR at ibconfig does not stop the open", "", "", "ibconfig=7", StartUp, "", Linked, "", 0},
    {"ERR at ibdev", "", "", "ibdev=4", StartUp, "", Failed, "ibdev(0,7,0,12,1,0) ERR", 0, nullptr, "not linked: the driver refused the address at 0.7.0 (EARG)"},
    {"EDVR at ibdev with the system's reason", "", "", "ibdev=0:13", StartUp, "", Failed, "ibdev(0,7,0,12,1,0) ERR", 0, "selvane: unit 1: " DENIED "\n", "not linked: " DENIED},
    {"EDVR at ibclr without one", "", "", "ibclr=0", StartUp, "", Failed, "ibclr(32) ERR ibonl(32,0)", 0, "selvane: unit 1: board 0 cannot be used: the driver answered EDVR\n"},
    {"ENEB at ibdev", "", "", "ibdev=7:13", StartUp, "", Failed, "ibdev(0,7,0,12,1,0) ERR", 0, "selvane: unit 1: board 0 cannot be used: the driver answered ENEB\n"},
    {"ERR at ibclr", "", "", "ibclr=2", StartUp, "", Failed, "ibclr(32) ERR ibonl(32,0)", 0},
    {"ERR at the proof write", "", "", "ibwrt=2", StartUp, "", Failed, "ibwrt(32,2)=5858 ERR ibonl(32,0)", 0},
    {"registration refused, no thread status", "", kThread, "RegisterGpibGlobalsForThread=7", StartUp, "", Failed, "", 0},
    {"registration refused, thread status", "", "", "RegisterGpibGlobalsForThread=7", StartUp, "", Linked, "", 0},
    {"registration result 2 once", "", kThread, "RegisterGpibGlobalsForThread#1=2", StartUp, "", Linked, "", 0},
    {"registration result 1", "", "", "RegisterGpibGlobalsForThread#1=1", StartUp, "", Linked, "", 0},
    {"linux-gpib status", "", "RegisterGpibGlobalsForThread", "", StartUp, "", Linked, "ibwrt(32,2)=5858", 0},
    {"ERR at a press's write", "", "", "ibwrt#2=2", Press, "", Failed, "ibwrt(32,2)=4131 ERR ibonl(32,0)", 0, nullptr, "A1 not taken: no instrument answered at 0.7.0 (ENOL)"},
    {"ibwrt missing when a press reopens", "", "ibwrt", "ibclr#1=2", Press, "Can't find DLL entry point ibwrt", Failed, "ibdev(0,7,0,12,1,0) ibclr(32) ibonl(32,0)", 0, nullptr, "A1 not taken: Can't find DLL entry point ibwrt in " SELVANE_SIM_LIBRARY},
    {"press after a failed open reopens", "", "", "ibclr#1=2", Press, "", Linked, "ibconfig(0,23,1) ibdev(0,7,0,12,1,0) ibclr(32) ibwrt(32,2)=5858 ibwrt(32,2)=4131", 0, nullptr, "A1 taken at 0.7.0"},
    {"ERR at ibloc on close", "", "", "ibloc=0", Close, "", Failed, "ibloc(32) ERR ibonl(32,0)", 0},
    {"ERR at ibonl on close", "", "", "ibonl=0", Close, "", Failed, "ibloc(32) ibonl(32,0) ERR", 1},
    {"ibloc missing on close still goes offline", "", "ibloc", "", Close, "", Failed, "ibonl(32,0)", 0},
    {"ERR at the test's ibdev", "", "", "ibdev#2=4", LinkTest, "Unable to open device", Any, "ibdev(0,7,0,12,1,0) ERR", 0},
    {"ERR at the test's write", "", "", "ibwrt#2=2", LinkTest, "Unable to open device", Any, "ibwrt(32,2)=5858 ERR ibonl(32,0)", 0},
    {"ibonl missing at a test that works", "", "ibonl", "", LinkTest, "Test is OK", Linked, "ibdev(0,7,0,12,1,0) ibwrt(33,2)=5858", 2},
    {"ibonl missing at a test that fails", "", "ibonl", "ibwrt#2=2", LinkTest, "Unable to open device", Linked, "ibdev(0,7,0,12,1,0) ibwrt(33,2)=5858 ERR", 2},
};
// clang-format on

} // namespace

class tst_DriverFaults : public QObject
{
    Q_OBJECT
private slots:
    void everyFaultEndsAsDefined_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kFaults)); ++i)
            QTest::newRow(kFaults[i].name) << i;
    }

    void everyFaultEndsAsDefined()
    {
        QFETCH(int, row);
        const Fault &fault = kFaults[row];
        Bench bench(fault.faults, {}, *fault.library ? fault.library : SELVANE_SIM_LIBRARY);
        SimDriver bus;
        bus.reset();
        for (const QString &name : QString::fromLatin1(fault.hidden).split(' ', Qt::SkipEmptyParts))
            bench.driver.hide(name.toStdString());
        MainWindow &window = bench.window;
        const StandardError said;
        if (fault.action == StartUp) {
            bench.store.WriteValue(kBench, "Units", 1.0);
            window.Load("Bench");
        } else {
            bench.start(1); // the trace starts after start-up
        }
        if (fault.action == Press)
            bench.press(0, 0);
        if (fault.action == Close)
            window.close();
        if (fault.action == LinkTest) {
            bench.modals.queue(enter({}, true));
            QTest::mouseClick(window.panel(0).Config, Qt::LeftButton);
        }

        const QStringList boxes = bench.modals.seen.filter(QLatin1String(": "));
        QCOMPARE(boxes.size(), *fault.box ? 1 : 0);
        if (*fault.box)
            QVERIFY2(boxes[0].section(": ", 1).startsWith(fault.box), qPrintable(boxes[0]));
        QCOMPARE(window.hasClosed(),
                 (fault.action == StartUp && *fault.box) || fault.action == Close);
        QCOMPARE(window.exitCode(), fault.action == StartUp && *fault.box ? 2 : 0);
        const std::string text = said.text.str();
        if (fault.said && *fault.box) // a box ended start-up: its message begins what is said
            QVERIFY2(text.rfind(fault.said, 0) == 0, text.c_str());
        else if (fault.action != StartUp || !*fault.box)
            QCOMPARE(QString::fromStdString(text), QString(fault.said));
        if (window.hasClosed()) // whatever failed, everything was saved
            QCOMPARE(contextValues(bench.file, kBench).size(), 16u); // 3 + 13 for one unit
        if (fault.link != Any)
            QCOMPARE(window.unit(0).Opened, fault.link == Linked);
        const QString tip = window.panel(0).Frame->toolTip(); // its own line, then the time
        QVERIFY2(!fault.tip
                     || (tip.startsWith("Unit 1 control\n")
                         && tip.section('\n', 1).mid(9) == fault.tip
                         && QTime::fromString(tip.section('\n', 1).left(8), "HH:mm:ss").isValid()),
                 qPrintable(tip));
        QStringList made = bench.trace();
        if (fault.action == LinkTest) // the test's calls come before the unit's reopening
            made = made.mid(0, made.indexOf("ibconfig(0,23,1)", 2));
        QVERIFY2(!*fault.calls || made.join(' ').endsWith(QLatin1String(fault.calls)),
                 qPrintable(made.join(' ')));
        QCOMPARE(bus.descriptorsInUse(), (window.unit(0).Opened ? 1 : 0) + fault.stray);

        // The panel stays usable: edit mode comes and goes, a press is handled.
        if (!window.hasClosed()) {
            QTest::mouseClick(window.panel(0).Edit, Qt::LeftButton);
            QCOMPARE(window.panel(0).Edit->text(), QStringLiteral("&Lock"));
            QTest::mouseClick(window.panel(0).Edit, Qt::LeftButton);
            bench.press(0, 4);
        }
    }
};

QTEST_MAIN(tst_DriverFaults)
#include "tst_DriverFaults.moc"
