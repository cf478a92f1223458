// SPDX-License-Identifier: MIT
// Closing the main window: what is saved, what is not, and which links go offline.

#include "Bench.h"

#include <QPushButton>

class tst_Shutdown : public QObject
{
    Q_OBJECT
private slots:
    void everythingTheOperatorSetSurvivesARestart();
    void onlyLockedLabelsAndShownUnitsAreSaved();
    void everyOpenLinkGoesOfflineAndNoOther();
};

void tst_Shutdown::everythingTheOperatorSetSurvivesARestart()
{
    TemporaryFolder keep;
    const std::string file = keep.file("registry.sqlite3");
    const QPoint at(TwipsScale::primaryScreen().toPixels(1500),
                    TwipsScale::primaryScreen().toPixels(3000));
    {
        Bench first("0:7:0", "", file);
        first.modals.queue([](QWidget *modal) { // first start: three units
            QTest::mouseClick(modal->findChildren<QWidget *>(QStringLiteral("Num"))[2],
                              Qt::LeftButton);
            modal->close();
        });
        first.start(0);
        first.window.move(at);
        UnitPanel &second = first.window.panel(1);
        QTest::mouseClick(second.Edit, Qt::LeftButton);
        retype(second.ATxt, QStringLiteral("Inputs"));
        second.PositionLbl[2]->selectAll();
        second.PositionLbl[2]->insert(QStringLiteral("50 Ω")); // as typed with a compose key
        retype(second.PositionLbl[7], QString());
        QTest::mouseClick(second.Edit, Qt::LeftButton);
        first.modals.queue(enter({"1", "12", "96"}));
        QTest::mouseClick(first.window.panel(2).Config, Qt::LeftButton);
    }
    Bench restart("0:7:0", "", file);
    restart.start(0);
    QVERIFY(restart.modals.seen.isEmpty()); // the count is known now
    QCOMPARE(restart.window.UnitCount(), 3);
    QCOMPARE(restart.window.panel(1).ATxt->text(), QStringLiteral("Inputs"));
    QCOMPARE(restart.window.panel(1).Position[2]->text(), QStringLiteral("50 Ω"));
    QVERIFY(!restart.window.panel(1).Position[7]->isVisible());
    QCOMPARE(restart.window.panel(2).Frame->title(), QStringLiteral("Unit 3  [1.12.96]"));
    QCOMPARE(restart.window.frameGeometry().topLeft(), at);
    restart.window.close();
    const auto values = contextValues(file, kBench);
    QCOMPARE(std::get<1>(values.at("X")), (Bytes {0xDC, 0x05, 0, 0}));
    QCOMPARE(std::get<1>(values.at("Y")), (Bytes {0xB8, 0x0B, 0, 0}));
    QCOMPARE(values.size(), std::size_t(42));
}

void tst_Shutdown::onlyLockedLabelsAndShownUnitsAreSaved()
{
    Bench bench;
    bench.store.WriteValue(kBench, "3.A.title", "third");
    bench.store.WriteValue(kBench, "3.PAd", 9.0);
    bench.start(2);
    UnitPanel &panel = bench.window.panel(0);
    QTest::mouseClick(panel.Edit, Qt::LeftButton);
    retype(panel.PositionLbl[0], QStringLiteral("typed"));
    retype(panel.BTxt, QStringLiteral("Outputs"));
    bench.window.close(); // still in edit mode
    QCOMPARE(bench.store.ReadValue(kBench, "1.A1.label", "none"), std::string("A1"));
    QCOMPARE(bench.store.ReadValue(kBench, "1.B.title", "none"), std::string("Outputs"));
    QCOMPARE(bench.store.ReadValue(kBench, "3.A.title", "none"), std::string("third"));
    QCOMPARE(bench.store.ReadValue(kBench, "3.PAd", std::int32_t(0)), 9);
    QCOMPARE(contextValues(bench.file, kBench).size(), std::size_t(3 + 2 * 13 + 2));
}

void tst_Shutdown::everyOpenLinkGoesOfflineAndNoOther()
{
    Bench bench;
    bench.start(1);
    bench.modals.queue(enter({QString(), "8"})); // the third, hidden panel gets a link of its own
    QTest::mouseClick(bench.window.panel(2).Config, Qt::LeftButton);
    QVERIFY(bench.window.unit(2).Opened && !bench.window.unit(1).Opened);
    const int first = bench.window.unit(0).Device;
    const int third = bench.window.unit(2).Device;
    bench.clearTrace();
    bench.window.close();
    QCOMPARE(bench.trace().join(' '),
             QStringLiteral("ibloc(%1) ibonl(%1,0) ibloc(%2) ibonl(%2,0)").arg(first).arg(third));
    QVERIFY(!bench.window.unit(0).Opened && !bench.window.unit(2).Opened);
    QCOMPARE(contextValues(bench.file, kBench).count("3.PAd"), std::size_t(0)); // hidden: not saved
}

QTEST_MAIN(tst_Shutdown)
#include "tst_Shutdown.moc"
