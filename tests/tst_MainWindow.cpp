// SPDX-License-Identifier: MIT
// Start-up and the main window: the command text's three paths, what a normal start
// reads and shows, an orderly end on a signal, and what a close saves and takes offline.

#include "Bench.h"
#include "Version.h"
#include "app/CommandLine.h"
#include "app/OrderlyEnd.h"
#include "app/QuitSignals.h"
#include "dialogs/Units.h"
#include "forms/FormBuilder.h"
#include "settings/InstanceLock.h"

#include <QColorSpace>
#include <QPushButton>
#include <QRadioButton>

#include <csignal>

using CommandLine::Path;
Q_DECLARE_METATYPE(CommandLine::Path)

class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void commandTextDecidesThePath_data()
    {
        QTest::addColumn<QString>("line"); // the raw command line, as Windows gives it
        QTest::addColumn<CommandLine::Path>("path");
        QTest::addColumn<QString>("instance");
        const QString quoted = "\"C:\\Program Files\\SELVANE\\selvane.exe\"";
        const QString plain = "selvane.exe ";
        // clang-format off
        QTest::newRow("empty") << quoted + "" << Path::Normal << "";
        QTest::newRow("blanks only") << plain + "   " << Path::Normal << "";
        QTest::newRow("name") << quoted + "Bench2" << Path::Normal << "Bench2";
        QTest::newRow("blanks around a name go") << plain + "  Bench 2  " << Path::Normal << "Bench 2";
        QTest::newRow("only blanks are trimmed, not tabs") << quoted + "\tBench " << Path::Normal << "\tBench";
        QTest::newRow("usage") << plain + "-?" << Path::Usage << "";
        QTest::newRow("usage inside a word") << quoted + "Bench-?x" << Path::Usage << "";
        QTest::newRow("usage with clean") << plain + "-clean -?" << Path::Usage << "";
        QTest::newRow("clean alone") << quoted + "-clean" << Path::Clean << "";
        QTest::newRow("clean before name") << plain + "-clean Bench" << Path::Clean << "Bench";
        QTest::newRow("clean after name") << quoted + "Bench -clean" << Path::Clean << "Bench";
        QTest::newRow("clean joined to a word") << plain + "Bench-cleanX" << Path::Clean << "Bench      X";
        QTest::newRow("clean twice") << quoted + "-clean -clean" << Path::Usage << "";
        QTest::newRow("clean in capitals is a name") << plain + "-CLEAN" << Path::Normal << "-CLEAN";
        QTest::newRow("hyphenated name") << quoted + "Bench-2" << Path::Normal << "Bench-2";
        QTest::newRow("hyphenated name with clean") << plain + "Bench-2 -clean" << Path::Usage << "";
        QTest::newRow("Qt's -reverse is a name") << quoted + "-reverse Bench" << Path::Normal << "-reverse Bench";
        QTest::newRow("non-ASCII name") << plain + "Bänk Ω" << Path::Normal << "Bänk Ω";
        QTest::newRow("program name after a tab") << "selvane.exe\t-?" << Path::Usage << "";
        QTest::newRow("quote never closed") << "\"selvane.exe -?" << Path::Normal << "";
        QTest::newRow("program name alone") << "selvane.exe" << Path::Normal << "";
        QTest::newRow("help, the whole line") << plain + " --help " << Path::Help << "";
        QTest::newRow("version, the whole line") << quoted + "--version" << Path::Version << "";
        QTest::newRow("help inside a name is the name") << plain + "Bench --help" << Path::Normal << "Bench --help";
        QTest::newRow("version with clean") << quoted + "--version -clean" << Path::Usage << "";
        // clang-format on
    }

    void commandTextDecidesThePath()
    {
        QFETCH(QString, line);
        QFETCH(CommandLine::Path, path);
        QFETCH(QString, instance);
        const std::string raw = line.toStdString();
        const CommandLine::Choice choice = CommandLine::parse(CommandLine::afterProgramName(raw));
        QCOMPARE(choice.path, path);
        QCOMPARE(QString::fromStdString(choice.InstanceName), instance);
    }

    void usageAndCleanShowTheirMessageAndClose_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("context"); // the one deleted
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("fresh"); // on a machine without settings
        QTest::addColumn<int>("lock"); // 1: a panel of SELVANE - Bench holds its instance,
                                       // 2: a link stands for its lock file (LOCK)
        const QString clean =
            QStringLiteral("Cleaning %1 registry context\r\nPlease restart application");
        // clang-format off
        QTest::newRow("usage") << "Bench -?" << "" << "Usage:\tSELVANE.exe (NUM) (-clean)\r\n     with\r\n\tNAME  = " "Instance name\r\n\t-clean = Registry clean option" << true << 0;
        QTest::newRow("clean alone") << "-clean" << "SELVANE" << clean.arg("") << false << 0;
        QTest::newRow("clean after a name") << "  Bench -clean " << "SELVANE - Bench" << clean.arg("Bench") << false << 0;
        QTest::newRow("clean of a missing context") << "Nowhere -clean" << "SELVANE - Nowhere" << clean.arg("Nowhere") << false << 0;
        QTest::newRow("clean on a fresh machine") << "-clean" << "SELVANE" << clean.arg("") << true << 0;
        QTest::newRow("clean of an instance whose panel runs") << "BENCH -clean" << "SELVANE - BENCH" << "SELVANE - BENCH is in use by a running panel: close it before cleaning" << false << 1;
#if !defined(_WIN32)
        QTest::newRow("clean where nobody can tell") << "Bench -clean" << "SELVANE - Bench" << "cannot tell whether a panel of SELVANE - Bench is running: LOCK is a link; nothing is cleaned" << false << 2;
#endif
        // clang-format on
    }

    void usageAndCleanShowTheirMessageAndClose()
    {
        QFETCH(QString, command);
        QFETCH(QString, context);
        QFETCH(QString, message);
        QFETCH(bool, fresh);
        QFETCH(int, lock);
        const bool running = lock != 0;
        Bench bench;
        for (const char *name : {"SELVANE", "SELVANE - Bench", "SELVANE - Bench2"}) {
            if (!fresh)
                bench.store.WriteValue(name, "Units", 2.0);
        }
        std::optional<InstanceLock> panel;
        if (lock == 1)
            panel.emplace(bench.registry.location(), kBench);
        if (lock == 2)
            std::filesystem::create_symlink("gone", InstanceLock::name(bench.file, kBench));
        RegistryDump expected = dumpRegistry(bench.file);
        if (!running)
            expected.erase(kContextPath + context.toStdString());
        message.replace(QLatin1String("LOCK"),
                        QString::fromStdString(InstanceLock::name(bench.file, kBench)));
        bench.window.Load(command.toStdString());
        QVERIFY(bench.window.hasClosed());
        QCOMPARE(bench.modals.seen,
                 QStringList {(running ? "SELVANE (stop): " : "SELVANE: ") + message});
        QCOMPARE(bench.window.exitCode(), int(running));
        QCOMPARE(QString::fromStdString(bench.window.ContextName()), context);
        QVERIFY(dumpRegistry(bench.file) == expected); // nothing else deleted, nothing written
#if !defined(_WIN32)
        QCOMPARE(std::filesystem::exists(bench.file), !fresh); // nor a settings file made
#endif
    }

    void storedCountOutsideOneToThreeAsksForIt_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<int>>("presses"); // in the unit-count dialog
        QTest::addColumn<int>("close"); // how it is closed: a key, 0 for the title bar, or SIGTERM
                                        // (start-up then ends at once, and nothing is written)
        QTest::addColumn<int>("count");
        const int ok = Qt::Key_Space; // on its OK button
        // clang-format off
        QTest::newRow("missing, OK at once") << 0u << QByteArray() << QList<int> {} << ok << 1;
        QTest::newRow("zero, 3 then 2 then OK") << 4u << QByteArray("\0\0\0\0", 4) << QList<int> {2, 1} << ok << 2;
        QTest::newRow("negative, 3 then Enter") << 4u << QByteArray("\xFF\xFF\xFF\xFF", 4) << QList<int> {2} << int(Qt::Key_Return) << 3;
        QTest::newRow("four, 3 then title bar") << 4u << QByteArray("\4\0\0\0", 4) << QList<int> {2} << 0 << 3;
        QTest::newRow("65537 (1 in its low word), Escape") << 4u << QByteArray("\1\0\1\0", 4) << QList<int> {} << int(Qt::Key_Escape) << 1;
        QTest::newRow("a text, title bar") << 1u << QByteArray("3\0", 2) << QList<int> {} << 0 << 1;
#if !defined(_WIN32) // Windows ends a program with messages, not signals
        QTest::newRow("missing, SIGTERM") << 0u << QByteArray() << QList<int> {} << -SIGTERM << 1;
#endif
        QTest::newRow("five bytes, first option then OK") << 4u << QByteArray("\3\0\0\0\0", 5) << QList<int> {0} << ok << 1;
        // clang-format on
    }

    void storedCountOutsideOneToThreeAsksForIt()
    {
        QFETCH(uint, type);
        QFETCH(QByteArray, bytes);
        QFETCH(QList<int>, presses);
        QFETCH(int, close);
        QFETCH(int, count);
        Bench bench;
        if (type != 0)
            QCOMPARE(storeRaw(bench.registry, kBench, "Units", type, bytes.toStdString()), 0L);
        QuitSignals signalsToQuit;
        connect(&signalsToQuit, &QuitSignals::quitRequested, &bench.window.orderlyEnd(),
                &OrderlyEnd::requestQuit);
        QIcon icon;
        bench.modals.queue([presses, close, &icon](QWidget *modal) {
            auto *dialog = static_cast<Units *>(modal);
            icon = dialog->windowIcon();
            for (const int item : presses)
                QTest::mouseClick(dialog->Num[item], Qt::LeftButton);
            if (close == -SIGTERM)
                ::raise(SIGTERM); // leaves the dialog open: only the signal can close it
            else if (close == Qt::Key_Space)
                QTest::mouseClick(dialog->OK, Qt::LeftButton);
            else if (close)
                QTest::keyClick(dialog, Qt::Key(close));
            else
                dialog->close();
            QVERIFY(dialog->minimumSize() == dialog->maximumSize()); // not to be resized
        });
        const int height = bench.window.height();
        bench.window.Load("Bench");
        QCOMPARE(bench.modals.seen, QStringList {"Units"});
        QVERIFY(icon.cacheKey() == bench.window.windowIcon().cacheKey()); // the application's:
        QImage png(QT_TESTCASE_SOURCEDIR "/../src/app/resources/selvane.png"); // installed beside
        png.setColorSpace({});
        QCOMPARE(icon.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32),
                 png.convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(bench.window.UnitCount(), count); // with SIGTERM, as if closed by its title bar
        QCOMPARE(bench.window.hasClosed(), close == -SIGTERM);
        // Stored at once, as another copy sees it; nothing at all after a signal.
        QCOMPARE(SettingsStore(*openTestRegistry(bench.file)).ReadValue(kBench, "Units", -1),
                 close == -SIGTERM ? -1 : count);
        QCOMPARE(bench.window.panel(0).Frame->title(),
                 close == -SIGTERM ? QStringLiteral("Unit 1") : QStringLiteral("Unit 1  [0.7.0]"));
        QCOMPARE(bench.window.height(), height);
        for (int item = 0; item < 3; ++item) { // in force at once
            for (QPushButton *button : bench.window.panel(item).Position)
                QCOMPARE(button->isEnabled(), item < count || close == -SIGTERM); // or unset
        }
    }

    void placementKeepsTheWindowOnScreen_data()
    {
        QTest::addColumn<QPoint>("stored"); // twips; INT_MIN: nothing stored
        QTest::addColumn<QPoint>("placed"); // twips; y INT_MIN: the window's top before
                                            // placement; INT_MAX: flush with the screen's edge
        const QSize screen(12000, 12000); // the offscreen platform's 800 x 800 pixels at 96 DPI
        const int w = screen.width();
        const int h = screen.height();
        const int none = INT_MIN;
        // clang-format off
        QTest::newRow("nothing stored") << QPoint(none, none) << QPoint(100, none);
        QTest::newRow("stored") << QPoint(1500, 3000) << QPoint(1500, 3000);
        QTest::newRow("right edge accepted, and the window brought whole on") << QPoint(w - 100, 0) << QPoint(INT_MAX, 0);
        QTest::newRow("flush with the right edge") << QPoint(w - 7095, 0) << QPoint(w - 7095, 0); // 7095: the client
        QTest::newRow("a pixel past the right edge") << QPoint(w - 7080, 0) << QPoint(INT_MAX, 0);
        QTest::newRow("past right edge") << QPoint(w - 99, 0) << QPoint(100, 0);
        QTest::newRow("negative X") << QPoint(-15, 0) << QPoint(100, 0);
        QTest::newRow("bottom edge accepted, and the window brought whole on") << QPoint(0, h - 100) << QPoint(0, INT_MAX);
        QTest::newRow("past bottom edge") << QPoint(0, h - 99) << QPoint(0, none);
        QTest::newRow("negative Y") << QPoint(0, -15) << QPoint(0, none);
        // clang-format on
    }

    void placementKeepsTheWindowOnScreen()
    {
        QFETCH(QPoint, stored);
        QFETCH(QPoint, placed);
        Bench bench;
        if (stored.x() != INT_MIN)
            bench.store.WriteValue(kBench, "X", stored.x());
        if (stored.y() != INT_MIN)
            bench.store.WriteValue(kBench, "Y", stored.y());
        const int topBefore = bench.window.frameGeometry().top();
        bench.start(3);
        const TwipsScale scale = TwipsScale::primaryScreen();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QSize size = bench.window.size(); // the frame's, as far as known when placed
        QCOMPARE(bench.window.frameGeometry().topLeft(),
                 QPoint(placed.x() == INT_MAX ? screen.right() + 1 - size.width()
                                              : scale.toPixels(placed.x()),
                        placed.y() == INT_MIN   ? topBefore
                        : placed.y() == INT_MAX ? screen.bottom() + 1 - size.height()
                                                : scale.toPixels(placed.y())));
    }

    void settingsFillThePanels()
    {
        const QFont system = QApplication::font(); // a desktop's bold, slanted face
        QFont loud = system;
        loud.setBold(true), loud.setItalic(true), loud.setUnderline(true), loud.setStrikeOut(true);
        QApplication::setFont(loud);
        Bench bench;
        QApplication::setFont(system);
        const QString longLabel = QStringLiteral("Fifteen chars!!"); // over the typing limit
        // Unit 1's board and PAd do not fit: the defaults. An empty label: no button; blanks: one.
        // clang-format off
        for (const auto &[name, number] : {std::pair {"1.Board", -40000.0}, {"1.PAd", 70000.0}, {"1.SAd", -32768.0}, {"2.Board", 1.0}, {"2.PAd", 12.0}, {"2.SAd", 32767.0}})
            bench.store.WriteValue(kBench, name, number);
        for (const auto &[name, text] : {std::pair<const char *, std::string> {"2.A.title", "Input"}, {"2.B3.label", systemText("\xC3\x9C" "bung")}, {"2.B4.label", ""}, {"2.A4.label", "   "}, {"3.A.title", "never read"}, {"1.A1.label", longLabel.toStdString()}})
            bench.store.WriteValue(kBench, name, text);
        // clang-format on
        storeRaw(bench.registry, kBench, "2.A1.label", 1, std::string("a\0b\0", 4)); // a NUL inside
        storeRaw(bench.registry, kBench, "2.A3.label", 1, std::string(2000, 'x')); // too long
        bench.start(2);
        QCOMPARE(bench.window.windowTitle(),
                 QStringLiteral("SELVANE V" SELVANE_VERSION_TEXT " - Bench"));
        const UnitPanel &second = bench.window.panel(1);
        QCOMPARE(bench.window.panel(0).Frame->title(), QStringLiteral("Unit 1  [0.7.-32768]"));
        QCOMPARE(second.Frame->title(), QStringLiteral("Unit 2  [1.12.32767]"));
        QCOMPARE(second.ATxt->text(), QStringLiteral("Input"));
        QCOMPARE(second.BTxt->text(), QStringLiteral("Device 2"));
        QCOMPARE(second.Position[0]->text(), QString::fromUtf8("a\0b", 3));
        QCOMPARE(second.Position[2]->text(), QStringLiteral("A3"));
        QCOMPARE(second.Position[6]->text(), QStringLiteral("Übung"));
        QVERIFY(!second.Position[7]->isVisible() && second.Position[3]->isVisible());
        QCOMPARE(bench.window.panel(2).ATxt->text(), QStringLiteral("Device 1"));
        QVERIFY(second.Edit->text() == "&Edit" && !second.BTxt->isEnabled() // in lock mode
                && !second.PositionLbl[0]->isVisible());
        QCOMPARE(captionColour(second.Frame), QColor(255, 0, 0)); // no board 1 on the bus
        // The caption's bold font and colour stay with the frame; the hidden frame keeps its own.
        QVERIFY(second.Frame->captionFont().bold() && second.ATxt->font().bold()
                && !second.Position[0]->font().bold());
        // The definitions' face at 8.25 pt, or where it is missing, a sans serif of that size
        // (Debian's fonts-liberation2 here; Windows has its own substitutes).
        const QFont font = second.Config->font();
        QVERIFY(font.family() == "MS Sans Serif" && font.pointSizeF() == 8.25 && !font.italic()
                && !font.underline() && !font.strikeOut() && !font.bold());
#if !defined(_WIN32)
        QVERIFY2(QStringList({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial",
                              "DejaVu Sans"})
                     .contains(QFontInfo(font).family()),
                 qPrintable(QFontInfo(font).family()));
#endif
        QCOMPARE(second.Config->palette().color(QPalette::WindowText),
                 QApplication::palette().color(QPalette::WindowText));
        QCOMPARE(bench.window.panel(2).Frame->captionColour(), QColor(192, 64, 0)); // 0x0040C0
        QStringList tabs; // the position buttons first
        QWidget *widget = bench.window.panel(0).Position[0];
        for (int i = 0; i < 26; ++i, widget = widget->nextInFocusChain())
            tabs << widget->property("item").toString() + widget->objectName();
        QCOMPARE(tabs.join(' '), QStringLiteral("0A1 0A2 0A3 0A4 0B1 0B2 0B3 0B4 1A1 1A2 1A3 1A4 "
                                                "1B1 1B2 1B3 1B4 2A1 2A2 2A3 2A4 2B1 2B2 2B3 "
                                                "2B4 0ATxt 0BTxt"));
        // A long stored label is shown whole; typing stops at the limit, shortening does not.
        UnitPanel &first = bench.window.panel(0);
        QTest::mouseClick(first.Edit, Qt::LeftButton);
        QVERIFY(first.Position[0]->text() == longLabel
                && first.PositionLbl[0]->text() == longLabel);
        const auto typeAtEnd = [](QLineEdit *edit, const QString &text) {
            edit->setFocus();
            edit->end(false);
            QTest::keyClicks(edit, text);
            return edit->text();
        };
        QCOMPARE(typeAtEnd(first.PositionLbl[0], QStringLiteral("x")), longLabel);
        first.PositionLbl[0]->setSelection(14, 1); // corrected letter for letter
        QTest::keyClicks(first.PositionLbl[0], QStringLiteral("?"));
        QCOMPARE(first.PositionLbl[0]->text(), longLabel.chopped(1) + '?');
        QTest::keyClick(first.PositionLbl[0], Qt::Key_Backspace);
        QCOMPARE(first.PositionLbl[0]->text(), longLabel.chopped(1));
        QCOMPARE(typeAtEnd(first.PositionLbl[1], QStringLiteral("123456789012")),
                 QStringLiteral("A212345678"));
        UnitPanel &typed =
            bench.window.panel(1); // a title of item 1 (8 in the definitions) takes 9
        QTest::mouseClick(typed.Edit, Qt::LeftButton);
        QCOMPARE(typeAtEnd(typed.ATxt, QStringLiteral("xyzwv")), QStringLiteral("Inputxyzw"));
        QCOMPARE(typeAtEnd(typed.BTxt, QStringLiteral("xy")), QStringLiteral("Device 2x"));
        first.PositionLbl[2]->insert(QStringLiteral("-pasted-too-long")); // cut to the room left
        QTRY_COMPARE(first.PositionLbl[2]->text(), QStringLiteral("-pasted-A3")); // at the cursor
        first.PositionLbl[3]->setSelection(1, 1); // in place of the 4
        first.PositionLbl[3]->insert(QStringLiteral("-pasted-too-long"));
        QTRY_COMPARE(first.PositionLbl[3]->text(), QStringLiteral("A-pasted-t"));
    }

    void aDamagedSettingsFileGivesDefaultsAndIsNeverWritten()
    {
#if defined(_WIN32)
        QSKIP("the registry is no file");
#endif
        TemporaryFolder folder;
        const std::string file = folder.file("registry.sqlite3");
        std::ofstream(file) << std::string(8192, 'x');
        std::filesystem::create_symlink(file + ".planted", file + ".lock"); // never followed
        {
            const StandardError heard;
            Bench bench("", file);
            bench.window.setListening(true);
            bench.start(0);
            QCOMPARE(heard.text.str(), "selvane: the instance cannot be locked: " + file
                                           + ".lock is a link; imports into it are refused, and "
                                             "scripts cannot reach it, while this panel runs\n");
            QVERIFY(!QFile::exists(RemoteServer::nameOf(file, kBench))); // nor is a name made
            QCOMPARE(bench.modals.seen, QStringList {"Units"}); // as on a first start
            const UnitPanel &panel = bench.window.panel(0);
            QCOMPARE(panel.ATxt->text() + panel.BTxt->text() + panel.PositionLbl[7]->text(),
                     QStringLiteral("Device 1Device 2B4"));
            QCOMPARE(panel.Frame->title(), QStringLiteral("Unit 1  [0.7.0]"));
        } // closed: the shutdown tried its writes
        QVERIFY(folder.names()
                == std::set<std::string>({"registry.sqlite3", "registry.sqlite3.lock"}));
        QVERIFY(contents(file) == std::string(8192, 'x'));
    }

    void everythingTheOperatorSetSurvivesARestart()
    {
        TemporaryFolder keep;
        const std::string file = keep.file("registry.sqlite3");
        const QPoint at(TwipsScale::primaryScreen().toPixels(1500),
                        TwipsScale::primaryScreen().toPixels(3000));
        {
            Bench first("", file);
            first.modals.queue([](QWidget *modal) { // first start: three units
                QTest::mouseClick(static_cast<Units *>(modal)->Num[2], Qt::LeftButton);
                modal->close();
            });
            first.start(0);
            first.window.move(at);
            UnitPanel &second = first.window.panel(1);
            QTest::mouseClick(second.Edit, Qt::LeftButton);
            QVERIFY(second.Edit->text() == "&Lock" && second.ATxt->isEnabled()
                    && !second.Position[0]->isVisible() && second.PositionLbl[7]->isVisible());
            QVERIFY(first.window.panel(0).Position[0]->isVisible()); // the others stay locked
            retype(second.ATxt, QStringLiteral("Inputs"));
            second.PositionLbl[2]->selectAll();
            second.PositionLbl[2]->insert(QStringLiteral("50 µA")); // as typed with a compose key
            retype(second.PositionLbl[7], QString());
            QTest::mouseClick(second.Edit, Qt::LeftButton);
            QCOMPARE(second.Position[2]->text(), QStringLiteral("50 µA"));
            QVERIFY(!second.Position[7]->isVisible()
                    && !second.ATxt->isEnabled()); // no label, no button
            first.modals.queue(enter({"1", "12", "96"}));
            QTest::mouseClick(first.window.panel(2).Config, Qt::LeftButton);
        }
        Bench restart("", file);
        const SavedVariable demo("SELVANE_DEMO");
        setEnvironment("SELVANE_DEMO", "1"); // the caption tells the demo from the bench
        restart.start(0);
        QVERIFY(restart.window.windowTitle().endsWith(" - Bench (simulated bus)"));
        QVERIFY(restart.modals.seen.isEmpty()); // the count is known now
        QCOMPARE(restart.window.UnitCount(), 3);
        UnitPanel &second = restart.window.panel(1);
        QCOMPARE(second.ATxt->text(), QStringLiteral("Inputs"));
        QCOMPARE(second.Position[2]->text(), QStringLiteral("50 µA"));
        QVERIFY(!second.Position[7]->isVisible());
        QCOMPARE(restart.window.panel(2).Frame->title(), QStringLiteral("Unit 3  [1.12.96]"));
        QCOMPARE(restart.window.frameGeometry().topLeft(), at);
        QTest::mouseClick(second.Edit, Qt::LeftButton); // a label again, a button again
        retype(second.PositionLbl[7], QStringLiteral("Load"));
        QTest::mouseClick(second.Edit, Qt::LeftButton);
        QVERIFY(second.Position[7]->isVisible() && second.Position[7]->text() == "Load");
        restart.window.close();
        const auto values = contextValues(file, kBench);
        QCOMPARE(std::get<1>(values.at("X")), (Bytes {0xDC, 0x05, 0, 0}));
        QCOMPARE(std::get<1>(values.at("Y")), (Bytes {0xB8, 0x0B, 0, 0}));
        const std::string label = systemText("50 \xC2\xB5"
                                             "A");
        QCOMPARE(std::get<1>(values.at("2.A3.label")),
                 Bytes(label.c_str(), label.c_str() + label.size() + 1));
        QCOMPARE(values.size(), 42u);
    }

    void whatIsSetIsStoredAtOnceAndWhole_data()
    {
        QTest::addColumn<QString>("action"); // A1 and title A retyped and "lock" ("hidden": on
                                             // the third panel), "config" 1.12.96 or "unchanged"
        QTest::addColumn<QString>("refused"); // a value the store refuses, as a trigger may
        QTest::addColumn<QStringList>("stored"); // as another copy reads them before the close
        // clang-format off
        QTest::newRow("lock") << "lock" << "" << QStringList {"1.A1.label=Scope", "1.A.title=Input", "1.B4.label=B4", "1.PAd=none"};
#if !defined(_WIN32) // the registry has no transactions
        QTest::newRow("lock, one label refused: none") << "lock" << "1.B3.label" << QStringList {"1.A1.label=none", "1.A.title=none"};
#endif
        QTest::newRow("lock of a hidden panel") << "hidden" << "" << QStringList {"3.A1.label=none"};
        QTest::newRow("config") << "config" << "" << QStringList {"1.Board=1", "1.PAd=12", "1.SAd=96", "1.A1.label=none"};
        QTest::newRow("config unchanged") << "unchanged" << "" << QStringList {"1.PAd=none"};
        // clang-format on
    }

    void whatIsSetIsStoredAtOnceAndWhole()
    {
        QFETCH(QString, action);
        QFETCH(QString, refused);
        QFETCH(QStringList, stored);
        Bench bench;
        bench.start(2);
#if !defined(_WIN32)
        refuseValue(bench.file, refused.toStdString());
#endif
        UnitPanel &panel = bench.window.panel(action == "hidden" ? 2 : 0);
        if (action == "lock" || action == "hidden") {
            QTest::mouseClick(panel.Edit, Qt::LeftButton);
            retype(panel.PositionLbl[0], QStringLiteral("Scope"));
            retype(panel.ATxt, QStringLiteral("Input"));
            QTest::mouseClick(panel.Edit, Qt::LeftButton);
        } else {
            bench.modals.queue(
                enter(action == "config" ? QStringList {"1", "12", "96"} : QStringList {}));
            QTest::mouseClick(panel.Config, Qt::LeftButton);
        }
        const std::unique_ptr<Registry> copy = openTestRegistry(bench.file);
        const SettingsStore other(*copy);
        QStringList seen;
        for (const QString &entry : stored) {
            const std::string name = entry.section('=', 0, 0).toStdString();
            const std::int32_t number = other.ReadValue(kBench, name, -1);
            seen << QString::fromStdString(name) + '='
                        + (name.ends_with("label") || name.ends_with("title")
                               ? QString::fromStdString(other.ReadValue(kBench, name, "none"))
                           : number < 0 ? QStringLiteral("none")
                                        : QString::number(number));
        }
        QCOMPARE(seen, stored);
    }

    void closeSavesWhatIsShownAndTakesOpenLinksOffline()
    {
        Bench bench;
        bench.store.WriteValue(kBench, "2.PAd", 9.0); // nobody listens there: never linked
        bench.store.WriteValue(kBench, "3.A.title", "third");
        bench.store.WriteValue(kBench, "3.PAd", 9.0);
        bench.start(2);
        bench.modals.queue(
            enter({QString(), "8"})); // the hidden third panel gets a link of its own
        QTest::mouseClick(bench.window.panel(2).Config, Qt::LeftButton);
        QVERIFY(bench.window.unit(2).Opened && !bench.window.unit(1).Opened);
        UnitPanel &panel = bench.window.panel(0);
        QTest::mouseClick(panel.Edit, Qt::LeftButton);
        retype(panel.PositionLbl[0], QStringLiteral("typed"));
        retype(panel.BTxt, QStringLiteral("Outputs"));
        bench.clearTrace();
        bench.window.close(); // still in edit mode
        QCOMPARE(bench.trace().join(' '),
                 QStringLiteral("ibloc(%1) ibonl(%1,0) ibloc(%2) ibonl(%2,0)")
                     .arg(bench.window.unit(0).Device)
                     .arg(bench.window.unit(2).Device));
        QVERIFY(!bench.window.unit(0).Opened && !bench.window.unit(2).Opened);
        QCOMPARE(bench.store.ReadValue(kBench, "1.A1.label", "none"),
                 std::string("A1")); // not locked
        QCOMPARE(bench.store.ReadValue(kBench, "1.B.title", "none"), std::string("Outputs"));
        QCOMPARE(bench.store.ReadValue(kBench, "3.A.title", "none"), std::string("third"));
        QCOMPARE(bench.store.ReadValue(kBench, "3.PAd", std::int32_t(0)), 9); // hidden: not saved
        QCOMPARE(contextValues(bench.file, kBench).size(), 29u + 2); // and unit 3's two
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
