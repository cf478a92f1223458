// SPDX-License-Identifier: MIT
// Closing the main window: what is saved, what is not, and which links go offline.

#include "ModalAnswerer.h"
#include "SimBench.h"
#include "dialogs/Conf.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const std::string kBench = "SELVANE - Bench";

/** Everything of one context in the dump, for comparing before and after. */
std::map<std::string, std::tuple<long, std::vector<unsigned char>>>
contextValues(const std::string &file, const std::string &context = kBench)
{
    const RegistryDump dump = dumpRegistry(file);
    const auto it = dump.find(kContextPath + context);
    return it == dump.end() ? decltype(contextValues(file)) {} : it->second;
}

void retype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

} // namespace

class tst_Shutdown : public QObject
{
    Q_OBJECT
private slots:
    void everythingTheOperatorSetSurvivesARestart();
    void labelsNotLockedAreNotSavedButTitlesAre();
    void onlyShownUnitsAreWritten();
    void usageAndCleanLeaveTheStoreAsTheyFoundIt_data();
    void usageAndCleanLeaveTheStoreAsTheyFoundIt();
    void quitDuringStartUpSavesEveryShownUnit();
    void everyOpenLinkGoesOfflineAndNoOther();
};

void tst_Shutdown::everythingTheOperatorSetSurvivesARestart()
{
    TemporaryFolder keep;
    const std::string file = keep.file("registry.sqlite3");
    {
        Bench first("0:7:0", SELVANE_SIM_LIBRARY, file);
        MainWindow &window = first.window;
        ModalAnswerer answerer;
        answerer.queue([](QWidget *modal) { // first start: three units
            QTest::mouseClick(
                static_cast<QWidget *>(modal->findChildren<QWidget *>(QStringLiteral("Num"))[2]),
                Qt::LeftButton);
            modal->close();
        });
        window.Load("Bench");
        QCOMPARE(window.UnitCount(), 3);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.move(TwipsScale::primaryScreen().toPixels(1500),
                    TwipsScale::primaryScreen().toPixels(3000));
        UnitPanel &second = window.panel(1);
        QTest::mouseClick(second.Edit, Qt::LeftButton);
        retype(second.ATxt, QStringLiteral("Inputs"));
        second.PositionLbl[2]->selectAll();
        second.PositionLbl[2]->insert(QStringLiteral("50 Ω")); // as typed with a compose key
        retype(second.PositionLbl[7], QString());
        QTest::mouseClick(second.Edit, Qt::LeftButton);
        answerer.queue([](QWidget *modal) {
            auto *conf = static_cast<Conf *>(modal);
            const QString values[3] = {QStringLiteral("1"), QStringLiteral("12"),
                                       QStringLiteral("96")};
            for (int k = 0; k < 3; ++k) {
                conf->vVal[k]->selectAll();
                QTest::keyClicks(conf->vVal[k], values[k]);
            }
            QTest::mouseClick(conf->OK, Qt::LeftButton);
        });
        QTest::mouseClick(window.panel(2).Config, Qt::LeftButton);
        window.close();
    }
    Bench restart("0:7:0", SELVANE_SIM_LIBRARY, file);
    MainWindow &window = restart.window;
    ModalAnswerer answerer;
    window.Load("Bench");
    QVERIFY(answerer.seen.isEmpty()); // the count is known now
    QCOMPARE(window.UnitCount(), 3);
    QCOMPARE(window.panel(1).ATxt->text(), QStringLiteral("Inputs"));
    QCOMPARE(window.panel(1).Position[2]->text(), QStringLiteral("50 Ω"));
    QVERIFY(!window.panel(1).Position[7]->isVisibleTo(&window));
    QCOMPARE(window.panel(2).Frame->title(), QStringLiteral("Unit 3  [1.12.96]"));
    QCOMPARE(window.frameGeometry().topLeft(), QPoint(TwipsScale::primaryScreen().toPixels(1500),
                                                      TwipsScale::primaryScreen().toPixels(3000)));
    window.close();
    const auto values = contextValues(file);
    QCOMPARE(std::get<1>(values.at("X")), (std::vector<unsigned char> {0xDC, 0x05, 0, 0}));
    QCOMPARE(std::get<1>(values.at("Y")), (std::vector<unsigned char> {0xB8, 0x0B, 0, 0}));
    QCOMPARE(values.size(), std::size_t(42));
}

void tst_Shutdown::labelsNotLockedAreNotSavedButTitlesAre()
{
    Bench bench;
    bench.setUnits(kBench, 1);
    bench.window.Load("Bench");
    bench.window.show();
    UnitPanel &panel = bench.window.panel(0);
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    retype(panel.PositionLbl[0], QStringLiteral("typed"));
    retype(panel.BTxt, QStringLiteral("Outputs"));
    bench.window.close(); // still in edit mode
    QCOMPARE(bench.store.ReadValue(kBench, "1.A1.label", "none"), std::string("A1"));
    QCOMPARE(bench.store.ReadValue(kBench, "1.B.title", "none"), std::string("Outputs"));
}

void tst_Shutdown::onlyShownUnitsAreWritten()
{
    Bench bench;
    bench.setUnits(kBench, 2);
    bench.store.WriteValue(kBench, "3.A.title", "third");
    bench.store.WriteValue(kBench, "3.PAd", 9.0);
    bench.window.Load("Bench");
    bench.window.close();
    const auto values = contextValues(bench.file);
    QCOMPARE(bench.store.ReadValue(kBench, "3.A.title", "none"), std::string("third"));
    QCOMPARE(bench.store.ReadValue(kBench, "3.PAd", std::int32_t(0)), 9);
    QCOMPARE(values.size(), std::size_t(3 + 2 * 13 + 2));
    QCOMPARE(bench.store.ReadValue(kBench, "Units", std::int32_t(0)), 2);
}

void tst_Shutdown::usageAndCleanLeaveTheStoreAsTheyFoundIt_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("usage") << "-?";
    QTest::newRow("clean") << "Bench -clean";
    QTest::newRow("clean of a missing context") << "Nowhere -clean";
}

void tst_Shutdown::usageAndCleanLeaveTheStoreAsTheyFoundIt()
{
    QFETCH(QString, command);
    Bench bench;
    bench.setUnits(kBench, 2);
    bench.setUnits("SELVANE", 1);
    RegistryDump expected = dumpRegistry(bench.file);
    if (command == QLatin1String("Bench -clean"))
        expected.erase(kContextPath + kBench);
    ModalAnswerer answerer;
    bench.window.Load(command.toStdString());
    QVERIFY(bench.window.hasClosed());
    QVERIFY(dumpRegistry(bench.file) == expected);
}

void tst_Shutdown::quitDuringStartUpSavesEveryShownUnit()
{
    Bench bench("0:7:0", "/nonexistent/libgpib.so.0");
    bench.setUnits(kBench, 3);
    bench.store.WriteValue(kBench, "3.B.title", "kept");
    ModalAnswerer answerer;
    bench.window.Load("Bench");
    QVERIFY(bench.window.hasClosed());
    const auto values = contextValues(bench.file);
    QCOMPARE(values.size(), std::size_t(42));
    QCOMPARE(bench.store.ReadValue(kBench, "3.B.title", "none"), std::string("kept"));
    QCOMPARE(bench.store.ReadValue(kBench, "2.PAd", std::int32_t(0)), 7);
}

void tst_Shutdown::everyOpenLinkGoesOfflineAndNoOther()
{
    Bench bench("0:7:0 0:8:0");
    bench.setUnits(kBench, 1);
    bench.window.Load("Bench");
    bench.window.show();
    QVERIFY(bench.window.unit(0).Opened);
    ModalAnswerer answerer;
    answerer.queue([](QWidget *modal) { // the third, hidden panel gets a link of its own
        auto *conf = static_cast<Conf *>(modal);
        conf->vVal[1]->selectAll();
        QTest::keyClicks(conf->vVal[1], QStringLiteral("8"));
        QTest::mouseClick(conf->OK, Qt::LeftButton);
    });
    QTest::mouseClick(bench.window.panel(2).Config, Qt::LeftButton);
    QVERIFY(bench.window.unit(2).Opened);
    QVERIFY(!bench.window.unit(1).Opened);
    const std::int16_t first = bench.window.unit(0).Device;
    const std::int16_t third = bench.window.unit(2).Device;
    bench.clearTrace();
    bench.window.close();
    QCOMPARE(bench.trace(), (QStringList {QStringLiteral("ibloc(%1)").arg(first),
                                          QStringLiteral("ibonl(%1,0)").arg(first),
                                          QStringLiteral("ibloc(%1)").arg(third),
                                          QStringLiteral("ibonl(%1,0)").arg(third)}));
    QVERIFY(!bench.window.unit(0).Opened);
    QVERIFY(!bench.window.unit(2).Opened);
    QCOMPARE(contextValues(bench.file).count("3.PAd"), std::size_t(0)); // hidden: not saved
}

QTEST_MAIN(tst_Shutdown)
#include "tst_Shutdown.moc"
