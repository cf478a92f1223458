// SPDX-License-Identifier: MIT
// Start-up and the main window: the three paths of the command line, what a normal start
// reads and shows, and an orderly end.

#include "ModalAnswerer.h"
#include "PaintedPixels.h"
#include "SimBench.h"
#include "Version.h"
#include "app/QuitSignals.h"
#include "dialogs/Units.h"
#include "forms/Colours.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <csignal>

namespace {

const std::string kBench = "SELVANE - Bench";

QString caption()
{
    return QStringLiteral("SELVANE V%1.%2.%3")
        .arg(SELVANE_VERSION_MAJOR)
        .arg(SELVANE_VERSION_MINOR)
        .arg(SELVANE_VERSION_PATCH);
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT
private slots:
    void usagePathShowsTheMessageAndCloses();
    void cleanPathDeletesOnlyItsContext_data();
    void cleanPathDeletesOnlyItsContext();
    void captionNamesVersionAndInstance_data();
    void captionNamesVersionAndInstance();
    void storedCountOutsideOneToThreeAsksForIt_data();
    void storedCountOutsideOneToThreeAsksForIt();
    void unitsDialogChoiceIsInForceAtOnce();
    void widthFollowsTheShownUnits_data();
    void widthFollowsTheShownUnits();
    void placementKeepsTheWindowOnScreen_data();
    void placementKeepsTheWindowOnScreen();
    void positionButtonsComeFirstInTheTabOrder();
    void settingsFillThePanels();
    void addressesThatDoNotFitTakeTheirDefaults();
    void longLabelIsShownWholeWhileTypingStopsAtTheLimit();
    void startsInLockMode();
    void frameCaptionShowsAddressAndLinkColour();
    void missingDriverLibraryEndsStartUpWithItsMessage();
    void sigtermDuringTheUnitsDialogEndsAfterStartUp();
    void sigtermWhenIdleClosesTheWindow();
};

void tst_MainWindow::usagePathShowsTheMessageAndCloses()
{
    Bench bench;
    ModalAnswerer answerer;
    bench.window.Load("Bench -?");
    QVERIFY(bench.window.hasClosed());
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].className, QStringLiteral("QMessageBox"));
    QCOMPARE(answerer.seen[0].title, QStringLiteral("SELVANE"));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::NoIcon);
    QCOMPARE(answerer.seen[0].text,
             QStringLiteral("Usage:\tSELVANE.exe (NUM) (-clean)\r\n     with\r\n"
                            "\tNAME  = Instance name\r\n\t-clean = Registry clean option"));
    QVERIFY(bench.window.ContextName().empty());
}

void tst_MainWindow::cleanPathDeletesOnlyItsContext_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("message");
    QTest::newRow("alone") << "-clean"
                           << "SELVANE"
                           << "Cleaning  registry context\r\nPlease restart application";
    QTest::newRow("name after") << "-clean Bench"
                                << "SELVANE - Bench"
                                << "Cleaning Bench registry context\r\nPlease restart application";
    QTest::newRow("name before") << "  Bench -clean "
                                 << "SELVANE - Bench"
                                 << "Cleaning Bench registry context\r\nPlease restart application";
}

void tst_MainWindow::cleanPathDeletesOnlyItsContext()
{
    QFETCH(QString, command);
    QFETCH(QString, context);
    QFETCH(QString, message);
    Bench bench;
    for (const char *name : {"SELVANE", "SELVANE - Bench", "SELVANE - Bench2"})
        bench.setUnits(name, 2);
    RegistryDump expected = dumpRegistry(bench.file);
    expected.erase(kContextPath + context.toStdString());

    ModalAnswerer answerer;
    bench.window.Load(command.toStdString());
    QVERIFY(bench.window.hasClosed());
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, message);
    QCOMPARE(answerer.seen[0].title, QStringLiteral("SELVANE"));
    QCOMPARE(answerer.seen[0].icon, QMessageBox::NoIcon);
    QCOMPARE(QString::fromStdString(bench.window.ContextName()), context);
    QVERIFY(dumpRegistry(bench.file) == expected);
}

void tst_MainWindow::captionNamesVersionAndInstance_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("no instance") << ""
                                 << "SELVANE"
                                 << "";
    QTest::newRow("instance") << "Bench2"
                              << "SELVANE - Bench2"
                              << " - Bench2";
    QTest::newRow("blanks around and inside") << "  two  words "
                                              << "SELVANE - two  words"
                                              << " - two  words";
    QTest::newRow("Qt option is a name") << "-reverse Bench"
                                         << "SELVANE - -reverse Bench"
                                         << " - -reverse Bench";
    QTest::newRow("non-ASCII") << "Bänk"
                               << "SELVANE - Bänk"
                               << " - Bänk";
}

void tst_MainWindow::captionNamesVersionAndInstance()
{
    QFETCH(QString, command);
    QFETCH(QString, context);
    QFETCH(QString, suffix);
    Bench bench;
    bench.setUnits(context.toStdString(), 1);
    ModalAnswerer answerer;
    bench.window.Load(command.toStdString());
    QVERIFY(!bench.window.hasClosed());
    QVERIFY2(answerer.seen.isEmpty(), "a stored count asks nothing");
    QCOMPARE(bench.window.windowTitle(), caption() + suffix);
    QCOMPARE(QString::fromStdString(bench.window.ContextName()), context);
    QCOMPARE(bench.window.UnitCount(), 1);
}

void tst_MainWindow::storedCountOutsideOneToThreeAsksForIt_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("missing") << 0u << QByteArray();
    QTest::newRow("zero") << 4u << QByteArray("\0\0\0\0", 4);
    QTest::newRow("negative") << 4u << QByteArray("\xFF\xFF\xFF\xFF", 4);
    QTest::newRow("four") << 4u << QByteArray("\4\0\0\0", 4);
    QTest::newRow("70000") << 4u << QByteArray("\x70\x11\x01\0", 4);
    QTest::newRow("65537 (1 in its low word)") << 4u << QByteArray("\1\0\1\0", 4);
    QTest::newRow("a text") << 1u << QByteArray("3\0", 2);
    QTest::newRow("five bytes") << 4u << QByteArray("\3\0\0\0\0", 5);
}

void tst_MainWindow::storedCountOutsideOneToThreeAsksForIt()
{
    QFETCH(uint, type);
    QFETCH(QByteArray, bytes);
    Bench bench;
    if (type != 0) {
        Registry::Key key = 0;
        QCOMPARE(bench.registry.createKey(Registry::kLocalMachine,
                                          "SOFTWARE\\Talvern Software\\" + kBench, &key),
                 Registry::kSuccess);
        QCOMPARE(bench.registry.setValue(key, "Units", type,
                                         reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                         std::uint32_t(bytes.size())),
                 Registry::kSuccess);
        bench.registry.closeKey(key);
    }
    ModalAnswerer answerer;
    bench.window.Load("Bench");
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].className, QStringLiteral("Units"));
    QCOMPARE(answerer.seen[0].title, QStringLiteral("Units"));
    QCOMPARE(bench.window.UnitCount(), 1); // closed by its title bar: one unit
}

void tst_MainWindow::unitsDialogChoiceIsInForceAtOnce()
{
    Bench bench;
    ModalAnswerer answerer;
    answerer.queue([](QWidget *modal) {
        auto *dialog = static_cast<Units *>(modal);
        QTest::mouseClick(dialog->Num[2], Qt::LeftButton);
        QTest::mouseClick(dialog->Num[1], Qt::LeftButton);
        QTest::mouseClick(dialog->OK, Qt::LeftButton);
    });
    bench.window.Load("Bench");
    QCOMPARE(bench.window.UnitCount(), 2);
    QVERIFY(bench.window.panel(1).Position[0]->isEnabled());
    QVERIFY(!bench.window.panel(2).Position[0]->isEnabled());
}

void tst_MainWindow::widthFollowsTheShownUnits_data()
{
    QTest::addColumn<int>("units");
    QTest::addColumn<int>("widthTwips");
    QTest::newRow("one") << 1 << 2415;
    QTest::newRow("two") << 2 << 4815;
    QTest::newRow("three") << 3 << 7215;
}

void tst_MainWindow::widthFollowsTheShownUnits()
{
    QFETCH(int, units);
    QFETCH(int, widthTwips);
    Bench bench;
    bench.setUnits(kBench, units);
    const int height = bench.window.height();
    bench.window.Load("Bench");
    const TwipsScale scale = TwipsScale::primaryScreen();
    QCOMPARE(bench.window.frameGeometry().width(), scale.toPixels(widthTwips));
    QCOMPARE(bench.window.height(), height);
    for (int item = 0; item < 3; ++item) {
        const bool shown = item < units;
        for (QPushButton *button : bench.window.panel(item).Position)
            QCOMPARE(button->isEnabled(), shown);
        QVERIFY(bench.window.panel(item).Edit->isEnabled());
        QVERIFY(bench.window.panel(item).Config->isEnabled());
    }
}

void tst_MainWindow::placementKeepsTheWindowOnScreen_data()
{
    // Twips; a value `fromEdge` counts from the screen's right or bottom edge.
    QTest::addColumn<int>("x");
    QTest::addColumn<bool>("xFromEdge");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("yFromEdge");
    QTest::addColumn<int>("expectedX");
    QTest::addColumn<bool>("expectedXFromEdge");
    QTest::addColumn<int>("expectedY"); // -1: the window's top before placement
    QTest::addColumn<bool>("expectedYFromEdge");
    const int missing = std::numeric_limits<int>::min();
    QTest::newRow("nothing stored")
        << missing << false << missing << false << 100 << false << -1 << false;
    QTest::newRow("stored") << 1500 << false << 3000 << false << 1500 << false << 3000 << false;
    QTest::newRow("right edge accepted")
        << -100 << true << 0 << false << -100 << true << 0 << false;
    QTest::newRow("past right edge") << -99 << true << 0 << false << 100 << false << 0 << false;
    QTest::newRow("negative X") << -15 << false << 0 << false << 100 << false << 0 << false;
    QTest::newRow("bottom edge accepted")
        << 0 << false << -100 << true << 0 << false << -100 << true;
    QTest::newRow("past bottom edge") << 0 << false << -99 << true << 0 << false << -1 << false;
    QTest::newRow("negative Y") << 0 << false << -15 << false << 0 << false << -1 << false;
}

void tst_MainWindow::placementKeepsTheWindowOnScreen()
{
    QFETCH(int, x);
    QFETCH(bool, xFromEdge);
    QFETCH(int, y);
    QFETCH(bool, yFromEdge);
    QFETCH(int, expectedX);
    QFETCH(bool, expectedXFromEdge);
    QFETCH(int, expectedY);
    QFETCH(bool, expectedYFromEdge);
    const TwipsScale scale = TwipsScale::primaryScreen();
    const QSize screen = TwipsScale::screenSizeTwips();
    QVERIFY(screen.width() > 3000 && screen.height() > 3000);
    Bench bench;
    bench.setUnits(kBench, 3);
    if (x != std::numeric_limits<int>::min())
        bench.store.WriteValue(kBench, "X", double(x + (xFromEdge ? screen.width() : 0)));
    if (y != std::numeric_limits<int>::min())
        bench.store.WriteValue(kBench, "Y", double(y + (yFromEdge ? screen.height() : 0)));
    const int topBefore = bench.window.frameGeometry().top();
    bench.window.Load("Bench");
    QCOMPARE(bench.window.frameGeometry().left(),
             scale.toPixels(expectedX + (expectedXFromEdge ? screen.width() : 0)));
    QCOMPARE(bench.window.frameGeometry().top(),
             expectedY == -1
                 ? topBefore
                 : scale.toPixels(expectedY + (expectedYFromEdge ? screen.height() : 0)));
}

void tst_MainWindow::positionButtonsComeFirstInTheTabOrder()
{
    Bench bench;
    bench.setUnits(kBench, 3);
    bench.window.Load("Bench");
    QStringList chain;
    QWidget *widget = bench.window.panel(0).Position[0];
    for (int i = 0; i < 24; ++i) {
        chain << QStringLiteral("%1.%2")
                     .arg(widget->property("item").toInt())
                     .arg(widget->objectName());
        QCOMPARE(widget->property("tabIndex").toInt(), i);
        widget = widget->nextInFocusChain();
    }
    QStringList expected;
    for (int item = 0; item < 3; ++item) {
        for (const char *name : {"A1", "A2", "A3", "A4", "B1", "B2", "B3", "B4"})
            expected << QStringLiteral("%1.%2").arg(item).arg(QLatin1String(name));
    }
    QCOMPARE(chain, expected);
    // The rest keep the definition's order among themselves: Frame 0 (0) and ATxt 0 (9)
    // before Config 0 (19), Frame 1 (20) and Edit 0 (59).
    const auto index = [&](QWidget *control) { return control->property("tabIndex").toInt(); };
    const UnitPanel &first = bench.window.panel(0);
    QCOMPARE(index(first.Frame), 24);
    QVERIFY(index(first.ATxt) < index(first.Config));
    QVERIFY(index(first.Config) < index(bench.window.panel(1).Frame));
    QVERIFY(index(bench.window.panel(1).Frame) < index(first.Edit));
    QCOMPARE(index(bench.window.panel(1).Config), 62);
}

void tst_MainWindow::settingsFillThePanels()
{
    Bench bench;
    bench.setUnits(kBench, 2);
    bench.store.WriteValue(kBench, "2.Board", 1.0);
    bench.store.WriteValue(kBench, "2.PAd", 12.0);
    bench.store.WriteValue(kBench, "2.SAd", 96.0);
    bench.store.WriteValue(kBench, "2.A.title", "Input");
    bench.store.WriteValue(kBench, "2.B3.label", "50 \xCE\xA9");
    bench.store.WriteValue(kBench, "3.A.title", "never read");
    bench.window.Load("Bench");
    const UnitPanel &second = bench.window.panel(1);
    QCOMPARE(bench.window.unit(1).Board, 1);
    QCOMPARE(bench.window.unit(1).PAd, 12);
    QCOMPARE(bench.window.unit(1).SAd, 96);
    QCOMPARE(second.Frame->title(), QStringLiteral("Unit 2  [1.12.96]"));
    QCOMPARE(second.ATxt->text(), QStringLiteral("Input"));
    QCOMPARE(second.BTxt->text(), QStringLiteral("Device 2"));
    QCOMPARE(second.Position[6]->text(), QStringLiteral("50 Ω"));
    QCOMPARE(second.PositionLbl[6]->text(), QStringLiteral("50 Ω"));
    QCOMPARE(bench.window.panel(2).ATxt->text(), QStringLiteral("Device 1"));
    QCOMPARE(bench.window.unit(2).PAd, 0); // a unit not shown is not read
    QCOMPARE(bench.window.panel(0).Frame->title(), QStringLiteral("Unit 1  [0.7.0]"));
}

void tst_MainWindow::addressesThatDoNotFitTakeTheirDefaults()
{
    Bench bench;
    bench.setUnits(kBench, 1);
    bench.store.WriteValue(kBench, "1.Board", -40000.0);
    bench.store.WriteValue(kBench, "1.PAd", 70000.0);
    bench.store.WriteValue(kBench, "1.SAd", -32768.0);
    bench.window.Load("Bench");
    QCOMPARE(bench.window.unit(0).Board, 0);
    QCOMPARE(bench.window.unit(0).PAd, 7);
    QCOMPARE(bench.window.unit(0).SAd, -32768);
}

void tst_MainWindow::longLabelIsShownWholeWhileTypingStopsAtTheLimit()
{
    Bench bench;
    bench.setUnits(kBench, 1);
    const QString longLabel = QStringLiteral("Fifteen chars!!");
    bench.store.WriteValue(kBench, "1.A1.label", longLabel.toStdString());
    bench.store.WriteValue(kBench, "1.B.title", "Ten chars!");
    bench.window.Load("Bench");
    bench.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bench.window));
    UnitPanel &panel = bench.window.panel(0);
    QCOMPARE(panel.Position[0]->text(), longLabel);
    QCOMPARE(panel.PositionLbl[0]->text(), longLabel);

    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    QLineEdit *a1 = panel.PositionLbl[0];
    a1->setFocus();
    a1->end(false);
    QTest::keyClicks(a1, QStringLiteral("x"));
    QCOMPARE(a1->text(), longLabel);
    QTest::keyClick(a1, Qt::Key_Backspace);
    QCOMPARE(a1->text(), longLabel.chopped(1)); // shortening is always allowed

    QLineEdit *a2 = panel.PositionLbl[1];
    a2->setFocus();
    a2->end(false);
    QTest::keyClicks(a2, QStringLiteral("123456789012"));
    QCOMPARE(a2->text(), QStringLiteral("A212345678"));

    QLineEdit *a3 = panel.PositionLbl[2];
    a3->setFocus();
    a3->end(false);
    a3->insert(QStringLiteral("-pasted-too-long")); // a paste that does not fit is refused
    QCOMPARE(a3->text(), QStringLiteral("A3"));
    a3->insert(QStringLiteral("-pasted"));
    QCOMPARE(a3->text(), QStringLiteral("A3-pasted"));

    QLineEdit *title = panel.ATxt;
    title->setFocus();
    title->end(false);
    QTest::keyClicks(title, QStringLiteral("xyz"));
    QCOMPARE(title->text(), QStringLiteral("Device 1x"));
    QCOMPARE(panel.BTxt->text(), QStringLiteral("Ten chars!"));
}

void tst_MainWindow::startsInLockMode()
{
    Bench bench;
    bench.setUnits(kBench, 2);
    bench.store.WriteValue(kBench, "1.B3.label", "");
    bench.store.WriteValue(kBench, "1.B4.label", "   ");
    bench.window.Load("Bench");
    bench.window.show();
    for (int item = 0; item < 2; ++item) {
        const UnitPanel &panel = bench.window.panel(item);
        QCOMPARE(panel.Edit->text(), QStringLiteral("&Edit"));
        QVERIFY(!panel.ATxt->isEnabled());
        QVERIFY(!panel.BTxt->isEnabled());
        for (QLineEdit *label : panel.PositionLbl)
            QVERIFY(!label->isVisible());
    }
    QVERIFY2(!bench.window.panel(0).Position[6]->isVisible(), "empty label: no button");
    QVERIFY2(bench.window.panel(0).Position[7]->isVisible(), "blanks are a label");
    QVERIFY(bench.window.panel(0).Position[0]->isVisible());
}

void tst_MainWindow::frameCaptionShowsAddressAndLinkColour()
{
    Bench bench("0:7:0");
    bench.setUnits(kBench, 2);
    bench.store.WriteValue(kBench, "2.PAd", 8.0); // nobody listens there
    bench.window.Load("Bench");
    bench.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bench.window));
    const QColor red(255, 0, 0);
    const QColor darkGreen(0, 128, 0);
    const auto caption = [](UnitFrame *frame) {
        return QRect(0, 0, frame->width(), frame->fontMetrics().height());
    };

    UnitFrame *linked = bench.window.panel(0).Frame;
    QVERIFY(bench.window.unit(0).Opened);
    QVERIFY(pixelsOf(painted(linked), darkGreen, caption(linked)) > 10);
    QCOMPARE(pixelsOf(painted(linked), red), 0);
    QCOMPARE(pixelsOf(painted(bench.window.panel(0).Position[0]), darkGreen), 0);

    UnitFrame *failed = bench.window.panel(1).Frame;
    QVERIFY(!bench.window.unit(1).Opened);
    QCOMPARE(failed->title(), QStringLiteral("Unit 2  [0.8.0]"));
    QVERIFY(pixelsOf(painted(failed), red, caption(failed)) > 10);
    QCOMPARE(pixelsOf(painted(failed), darkGreen), 0);
    QCOMPARE(pixelsOf(painted(bench.window.panel(1).Position[0]), red), 0);

    bench.window.unit(1).Board = 1;
    bench.window.unit(1).PAd = 12;
    bench.window.unit(1).SAd = 96;
    bench.window.ShowUnitAddress(1);
    QCOMPARE(failed->title(), QStringLiteral("Unit 2  [1.12.96]"));
    bench.window.unit(1).SAd = -5;
    bench.window.ShowUnitAddress(1);
    QCOMPARE(failed->title(), QStringLiteral("Unit 2  [1.12.-5]"));
}

void tst_MainWindow::missingDriverLibraryEndsStartUpWithItsMessage()
{
    Bench bench("0:7:0", "/nonexistent/libgpib.so.0");
    bench.setUnits(kBench, 3);
    ModalAnswerer answerer;
    bench.window.Load("Bench");
    QCOMPARE(answerer.seen.size(), 1); // the first opening ends start-up
    QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(answerer.seen[0].title, QStringLiteral("SELVANE"));
    QCOMPARE(answerer.seen[0].text, QStringLiteral("File not found: /nonexistent/libgpib.so.0\r"
                                                   "Install National Instruments drivers"));
    QVERIFY(bench.window.QuitRequested());
    QVERIFY(bench.window.hasClosed());
    QCOMPARE(bench.window.panel(0).Frame->title(), QStringLiteral("Unit 1  [0.7.0]"));
    QCOMPARE(bench.window.panel(1).Frame->title(), QStringLiteral("Unit 2")); // never reached
}

void tst_MainWindow::sigtermDuringTheUnitsDialogEndsAfterStartUp()
{
    Bench bench;
    QuitSignals signalsToQuit;
    connect(&signalsToQuit, &QuitSignals::quitRequested, &bench.window, &MainWindow::requestQuit);
    ModalAnswerer answerer;
    bool dialogStillOpenAfterSignal = false;
    answerer.queue([&](QWidget *) { ::raise(SIGTERM); });
    bench.window.Load("Bench");
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].className, QStringLiteral("Units"));
    QVERIFY(!dialogStillOpenAfterSignal);
    QVERIFY(bench.window.hasClosed());
    QCOMPARE(bench.window.UnitCount(), 1); // closed as if by its title bar
    QCOMPARE(bench.window.panel(0).Frame->title(),
             QStringLiteral("Unit 1  [0.7.0]")); // start-up ran to its end before the window closed
}

void tst_MainWindow::sigtermWhenIdleClosesTheWindow()
{
    Bench bench;
    bench.setUnits(kBench, 1);
    QuitSignals signalsToQuit;
    connect(&signalsToQuit, &QuitSignals::quitRequested, &bench.window, &MainWindow::requestQuit);
    bench.window.Load("Bench");
    bench.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bench.window));
    ::raise(SIGHUP);
    QTRY_VERIFY(bench.window.hasClosed());
    QVERIFY(!bench.window.isVisible());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
