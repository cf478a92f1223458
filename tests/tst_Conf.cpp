// SPDX-License-Identifier: MIT
// The configuration dialog: how a box's text reads as a number, what the boxes show, where the
// dialog stands, and what OK, Test and a close without OK do to the unit and on the bus.

#include "Bench.h"
#include "dialogs/NumberReading.h"
#include "dialogs/PositionUnder.h"

#include <QAccessible>

#include <clocale>

class tst_Conf : public QObject
{
    Q_OBJECT
private slots:
    void boxTextReadsAsANumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value"); // INT_MIN: refused, out of the 16-bit range
        // clang-format off
        QTest::newRow("pad 12abc reads 12") << "12abc" << 12;
        QTest::newRow("empty reads 0") << "" << 0;
        QTest::newRow("blank inside is ignored") << "1 2" << 12;
        QTest::newRow("tab inside is ignored") << "1\t2" << 12;
        QTest::newRow("2.5 rounds to even 2") << "2.5" << 2;
        QTest::newRow("3.5 rounds to even 4") << "3.5" << 4;
        QTest::newRow("-2.5 rounds to even -2") << "-2.5" << -2;
        QTest::newRow(".5 rounds to 0") << ".5" << 0;
        QTest::newRow("2.51 rounds up") << "2.51" << 3;
        QTest::newRow("hex") << "&H1F" << 31;
        QTest::newRow("hex lower case") << "&hff" << 255;
        QTest::newRow("hex a and A") << "&haA" << 170;
        QTest::newRow("hex ends before g") << "&H1g" << 1;
        QTest::newRow("octal") << "&O17" << 15;
        QTest::newRow("hex stops at a non-digit") << "&H1FG" << 31;
        QTest::newRow("hex without digits") << "&H" << 0;
        QTest::newRow("octal in lower case stops at 8") << "&o78" << 7;
        QTest::newRow("negative") << "-5" << -5;
        QTest::newRow("exponent") << "1e2" << 100;
        QTest::newRow("exponent with sign") << "15E-1" << 2;
        QTest::newRow("exponent without digits is left out") << "7e" << 7;
        QTest::newRow("blanks and plus") << "  +7 " << 7;
        QTest::newRow("two signs read 0") << "+-1" << 0;
        QTest::newRow("sign alone") << "-" << 0;
        QTest::newRow("16-bit pattern FFFF") << "&HFFFF" << -1;
        QTest::newRow("16-bit pattern 8000") << "&H8000" << -32768;
        QTest::newRow("letters read 0") << "abc" << 0;
        QTest::newRow("comma is not a decimal point") << "2,7" << 2;
        QTest::newRow("lowest") << "-32768" << -32768;
        QTest::newRow("lowest half rounds to even") << "-32768.5" << -32768;
        QTest::newRow("highest") << "32767" << 32767;
        QTest::newRow("tiny exponent") << "5e-400" << 0;
        QTest::newRow("non-ASCII after digits") << "12Ω" << 12;
        QTest::newRow("32767.5 rounds to 32768") << "32767.5" << INT_MIN;
        QTest::newRow("99999") << "99999" << INT_MIN;
        QTest::newRow("32-bit pattern 10000") << "&H10000" << INT_MIN;
        QTest::newRow("32-bit pattern FFFFFFFF") << "&HFFFFFFFF" << -1;
        QTest::newRow("-32768.51") << "-32768.51" << INT_MIN;
        QTest::newRow("huge exponent") << "1e400" << INT_MIN;
        QTest::newRow("huge negative") << "-1D999" << INT_MIN;
        QTest::newRow("more than 32 bits of hex") << "&H123456789" << INT_MIN;
        QTest::newRow("33 bits whose low 32 read -1") << "&H1FFFFFFFF" << INT_MIN;
        QTest::newRow("more than 64 bits of hex") << "&H123456789ABCDEF01" << INT_MIN;
        QTest::newRow("octal over 16 bits") << "&O200000" << INT_MIN;
        // clang-format on
    }

    void boxTextReadsAsANumber()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        // Under a locale whose decimal separator is a comma (scripts/deps.sh test makes one).
        const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
#if defined(_WIN32)
        const char *const comma = "German_Germany.1252"; // the C runtime's name for it
#else
        const char *const comma = "de_DE.UTF-8";
#endif
        QVERIFY2(std::setlocale(LC_NUMERIC, comma),
                 "no German locale (scripts/deps.sh test makes de_DE.UTF-8)");
        QCOMPARE(std::localeconv()->decimal_point, ",");
        const std::optional<std::int16_t> read = ReadInteger16(text.toStdString());
        std::setlocale(LC_NUMERIC, saved.c_str());
        QCOMPARE(read ? int(*read) : INT_MIN, value);
    }

    void onlyAnAcceptedOkGivesTheUnitItsNewAddress_data()
    {
        QTest::addColumn<QString>("pad"); // typed into the PAD box
        QTest::addColumn<int>("close"); // OK (Enter on it), Escape, or 0: the title bar
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("refusal"); // the box that refuses the entry and keeps the
                                              // dialog open for another try
        QTest::addColumn<QString>("reopened"); // the calls after the reopen's ibdev
        QTest::addColumn<QColor>("caption"); // at once: the reopen's result
        const QString linked = "ibclr(32) ibwrt(32,2)=5858";
        const QColor green(0, 128, 0);
        // clang-format off
        QTest::newRow("OK") << "8 " << int(Qt::Key_Return) << "0.8.0" << "" << linked << green;
        QTest::newRow("OK where nothing answers") << "9" << int(Qt::Key_Return) << "0.9.0" << "" << "ibclr(32) ERR ibonl(32,0)" << QColor(255, 0, 0);
        QTest::newRow("title bar") << "8" << 0 << "0.7.0" << "" << linked << green;
        QTest::newRow("Escape") << "8" << int(Qt::Key_Escape) << "0.7.0" << "" << linked << green;
        QTest::newRow("OK out of range") << "32767.5" << int(Qt::Key_Return) << "0.7.0" << "SELVANE (stop): PAD must be a number from -32768 to 32767." << linked << green;
        // clang-format on
    }

    void onlyAnAcceptedOkGivesTheUnitItsNewAddress()
    {
        QFETCH(QString, pad);
        QFETCH(int, close);
        QFETCH(QString, address);
        QFETCH(QString, refusal);
        QFETCH(QString, reopened);
        QFETCH(QColor, caption);
        Bench bench;
        bench.start(2);
        bench.modals.queue(enter({"1", "3", "96"})); // accepted for unit 1 first
        QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
        QStringList shown, named;
        bool stillOpen = false;
        QRect placed;
        bool iconless = false;
        bench.modals.queue([&, close](QWidget *modal) {
            auto *conf = static_cast<Conf *>(modal);
            placed = QRect(conf->frameGeometry().topLeft(), conf->size());
            iconless = conf->windowIcon().isNull(); // it has none of its own
            shown << conf->vVal[0]->text() << conf->vVal[1]->text() << conf->vVal[2]->text();
            for (QLineEdit *box : conf->vVal) // as a screen reader names it: by its label
                named << QAccessible::queryAccessibleInterface(box)->text(QAccessible::Name);
            retype(conf->vVal[1], pad);
            close ? QTest::keyClick(
                close == Qt::Key_Return ? static_cast<QWidget *>(conf->OK) : conf, Qt::Key(close))
                  : void(conf->close());
            // A refused number stays, selected for retyping.
            stillOpen = conf->isVisible() && conf->vVal[1]->selectedText() == pad;
            conf->close();
        });
        bench.clearTrace();
        QTest::mouseClick(bench.window.panel(1).Config, Qt::LeftButton);
        QCOMPARE(shown, (QStringList {"0", "7", "0"})); // its own values, not the last accepted
        QCOMPARE(named, (QStringList {"Board:", "PAD:", "SAD:"}));
        const QRect main = bench.window.frameGeometry(); // 100 twips in, 20 below; 1590 x 1830
        QCOMPARE(placed, QRect(main.left() + 7, main.bottom() + 1 + 1, 106, 122));
        QVERIFY(iconless);
        QCOMPARE(bench.modals.seen.mid(2),
                 refusal.isEmpty() ? QStringList() : QStringList {refusal});
        QCOMPARE(stillOpen, !refusal.isEmpty());
        QCOMPARE(bench.window.panel(1).Frame->title(), "Unit 2  [" + address + "]");
        QCOMPARE(bench.window.unit(1).Opened, caption == QColor(0, 128, 0));
        QCOMPARE(captionColour(bench.window.panel(1).Frame), caption);
        QCOMPARE(bench.trace().join(' '), "ibloc(33) ibonl(33,0) ibconfig(0,23,1) ibdev("
                                              + QString(address).replace('.', ',') + ",12,1,0) "
                                              + reopened);
        QCOMPARE(bench.window.panel(0).Frame->title(), QStringLiteral("Unit 1  [1.3.96]"));
    }

    void testReportsThePresenceOfAnInstrument_data()
    {
        QTest::addColumn<QStringList>("typed"); // board, PAD, SAD; null: kept
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("calls"); // between the unit's close and its reopening
        const QString failed = QStringLiteral("GPIB Test (stop): Unable to open device");
        const QString none;
        // clang-format off
        QTest::newRow("present") << QStringList {none, "8"} << "GPIB Test (info): Test is OK" << "ibdev(0,8,0,12,1,0) ibwrt(32,2)=5858 ibonl(32,0) ";
        QTest::newRow("absent") << QStringList {none, "9"} << failed + "\nTried 0.9.0: no instrument answered (ENOL)." << "ibdev(0,9,0,12,1,0) ibwrt(32,2)=5858 ERR ibonl(32,0) ";
        QTest::newRow("address the bus cannot carry") << QStringList {none, "31"} << failed + "\nTried 0.31.0: the driver refused the address (EARG)." << "";
        QTest::newRow("board out of range") << QStringList {"-32769"} << "SELVANE (stop): Board must be a number from -32768 to 32767." << "";
        QTest::newRow("SAD out of range") << QStringList {none, none, "40000"} << "SELVANE (stop): SAD must be a number from -32768 to 32767." << "";
        // clang-format on
    }

    void testReportsThePresenceOfAnInstrument()
    {
        QFETCH(QStringList, typed);
        QFETCH(QString, box);
        QFETCH(QString, calls);
        Bench bench;
        bench.start(1);
        bench.modals.queue(enter(typed, true));
        QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
        QCOMPARE(bench.modals.seen, (QStringList {"Configuration", box}));
        QCOMPARE(bench.window.unit(0).PAd, 7); // a test changes nothing
        const QString all = bench.trace().join(' ');
        QVERIFY2(all.startsWith("ibloc(32) ibonl(32,0) " + calls + "ibconfig(0,23,1) ibdev(0,7,0"),
                 qPrintable(all));
    }

    void testWithoutDriverLibraryExplainsIt_data()
    {
        QTest::addColumn<bool>("chosen"); // named by SELVANE_GPIB_LIBRARY, else the default
        QTest::addColumn<bool>("broken"); // there, but no library
        QTest::addColumn<QString>("advice"); // after the first line
        QTest::newRow("the default driver")
            << false << false << QString::fromStdString(kInstallAdvice);
        QTest::newRow("a chosen one") << true << false
                                      << "SELVANE_GPIB_LIBRARY is set to /nonexistent/Gpïb-32.so, "
                                         "which could not be loaded: ";
        QTest::newRow("a default that cannot be loaded") << false << true << QString();
    }

    void testWithoutDriverLibraryExplainsIt()
    {
        QFETCH(bool, chosen);
        QFETCH(bool, broken);
        QFETCH(QString, advice);
        const TemporaryFolder folder;
        const std::string file = broken ? folder.file("gpib-32.so")
                                        : systemText("/nonexistent/Gpïb-32.so"); // code page's
        if (broken)
            std::ofstream(file) << "not a library";
        const SavedVariable saved("SELVANE_GPIB_LIBRARY");
        setEnvironment("SELVANE_GPIB_LIBRARY", chosen ? file.c_str() : nullptr);
        DynamicLibrary missing(file);
        GpibBinding gpib(missing);
        QWidget owner;
        Conf conf(&owner, gpib);
        conf.show();
        Operator modals;
        QTest::mouseClick(conf.Test, Qt::LeftButton);
        const QString said = modals.seen.join("");
        const QString first =
            QString(broken ? "Error in loading DLL: %1\r" : "File not found: %1\r")
                .arg(QString::fromLocal8Bit(file.c_str()));
        QVERIFY2(said.startsWith("GPIB Test (stop): " + first + advice)
                     && said.contains('\r' + QString::fromStdString(kDemoAdvice))
                     && said.endsWith(QString::fromStdString(kSimulatedBusFile))
                     && said.contains("Install") != (chosen || broken)
                     && said.indexOf("\rTo try") > 18 + first.size(), // the loader's reason between
                 qPrintable(said));
        QVERIFY(conf.isVisible()); // the program goes on
    }

    void positionUnder_data()
    {
        QTest::addColumn<QRect>("main");
        QTest::addColumn<int>("dialogHeight");
        QTest::addColumn<int>("screenHeight");
        QTest::addColumn<QPoint>("expected");
        // clang-format off
        QTest::newRow("below") << QRect(1500, 1500, 7215, 2400) << 1300 << 9000 << QPoint(1600, 3920);
        QTest::newRow("exact fit stays below") << QRect(0, 5000, 7215, 2400) << 1580 << 9000 << QPoint(100, 7420);
        QTest::newRow("one twip over goes above") << QRect(0, 5000, 7215, 2400) << 1581 << 9000 << QPoint(100, 3399);
        QTest::newRow("above may be negative") << QRect(-300, 100, 2415, 8800) << 1300 << 9000 << QPoint(-200, -1220);
        // clang-format on
    }

    void positionUnder()
    {
        QFETCH(QRect, main);
        QFETCH(int, dialogHeight);
        QFETCH(int, screenHeight);
        QFETCH(QPoint, expected);
        QCOMPARE(PositionUnder(main, dialogHeight, screenHeight), expected);
    }
};

QTEST_MAIN(tst_Conf)
#include "tst_Conf.moc"
