// SPDX-License-Identifier: MIT
// Scripts on the panel's socket: each request and refusal, the client's answers and exit
// statuses, who gets in, one listener per instance, and many clients at once.

#include "Bench.h"
#include "remote/SwitchTool.h"

#include <QFile>
#include <QLocalServer>
#include <QProcess>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

/** Unit 1 at 7 with labels to look for, unit 2 at 9 where nobody listens. */
void prepare(Bench &bench)
{
    for (const auto &[name, text] : {std::pair {"1.A1.label", "Cal 50 Ω"},
                                     {"1.A4.label", ""},
                                     {"1.B2.label", "Cal"},
                                     {"1.B3.label", "Cal"}})
        bench.store.WriteValue(kBench, name, std::string(text));
    bench.store.WriteValue(kBench, "2.PAd", 9.0);
    bench.start(2);
}

/** The driver's writes in the trace. */
QString writes(const Bench &bench)
{
    return bench.trace().filter(QStringLiteral("ibwrt")).join(' ');
}

/** Each chunk written, and the one answer it brings waited for. */
QStringList answersTo(Script &script, const QStringList &chunks)
{
    QStringList answers;
    for (const QString &chunk : chunks) {
        script.socket.write(chunk.toUtf8());
        answers << script.answer();
    }
    return answers;
}

const QString kUnit1 =
    R"({"address":{"board":0,"pad":7,"sad":0},"labels":{"A1":"Cal 50 Ω","A2":"A2","A3":"A3","A4":"","B1":"B1","B2":"Cal","B3":"Cal","B4":"B4"},"link":"good","mode":"lock","selected":{"A":"A3","B":null},"titles":{"A":"Device 1","B":"Device 2"},"unit":1})";
const QString kUnit2 =
    R"({"address":{"board":0,"pad":9,"sad":0},"labels":{"A1":"A1","A2":"A2","A3":"A3","A4":"A4","B1":"B1","B2":"B2","B3":"B3","B4":"B4"},"link":"failed","mode":"edit","selected":{"A":null,"B":null},"titles":{"A":"Device 1","B":"Device 2"},"unit":2})";
const QString kRefused = R"({"error":"%1","ok":false})";

} // namespace

class tst_Remote : public QObject
{
    Q_OBJECT
    TemporaryFolder m_runtime;
    SavedVariable m_keptRuntime {"XDG_RUNTIME_DIR"};

private slots:
    void initTestCase() { setEnvironment("XDG_RUNTIME_DIR", m_runtime.path().c_str()); }

    void requestsAreServedOrRefused_data()
    {
        QTest::addColumn<QString>("setup"); // "edit 2", "configuring", "no ibwrt"
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("writes");
        const QString a3 = R"({"link":"good","ok":true,"position":"A3","unit":1})";
        const QString press = R"({"press":"1A3"})"
                              "\n";
        const QString padded = QString(R"({"press":"1A3"})").leftJustified(4096) + '\n';
        // clang-format off
        QTest::newRow("by position") << "" << QStringList {press} << QStringList {a3} << "ibwrt(32,2)=4133";
        QTest::newRow("by label") << "" << QStringList {R"({"unit":1,"section":"A","label":"Cal 50 Ω"})" "\n"} << QStringList {R"({"link":"good","ok":true,"position":"A1","unit":1})"} << "ibwrt(32,2)=4131";
        QTest::newRow("the bus refuses") << "" << QStringList {R"({"press":"2B4"})" "\n"} << QStringList {R"({"error":"unit 2 did not take B4: the driver answered ENOL","link":"failed","ok":false,"position":"B4","unit":2})"} << "";
        QTest::newRow("status") << "edit 2" << QStringList {press, R"( {"status" : true} )" "\n"} << QStringList {a3, R"({"ok":true,"units":[)" + kUnit1 + ',' + kUnit2 + "]}"} << "ibwrt(32,2)=4133";
        QTest::newRow("a unit not shown") << "" << QStringList {R"({"press":"3A1"})" "\n"} << QStringList {kRefused.arg("unit 3 is not shown")} << "";
        QTest::newRow("a hidden button") << "" << QStringList {R"({"press":"1A4"})" "\n"} << QStringList {kRefused.arg("unit 1 has no button A4: its label is empty")} << "";
        QTest::newRow("a label of another section") << "" << QStringList {R"({"unit":1,"section":"B","label":"Cal 50 Ω"})" "\n"} << QStringList {kRefused.arg(R"(no button of unit 1, section B carries \"Cal 50 Ω\")")} << "";
        QTest::newRow("a label two carry") << "" << QStringList {R"({"unit":1,"section":"B","label":"Cal"})" "\n"} << QStringList {kRefused.arg(R"(several buttons of unit 1, section B carry \"Cal\")")} << "";
        QTest::newRow("the empty label") << "" << QStringList {R"({"unit":1,"section":"A","label":""})" "\n"} << QStringList {kRefused.arg(R"(no button of unit 1, section A carries \"\")")} << "";
        QTest::newRow("one unit in edit mode") << "edit 2" << QStringList {R"({"press":"2A1"})" "\n", R"({"press":"1A2"})" "\n"} << QStringList {kRefused.arg("unit 2 is being edited"), R"({"link":"good","ok":true,"position":"A2","unit":1})"} << "ibwrt(32,2)=4132";
        QTest::newRow("the configuration dialog") << "configuring" << QStringList {press} << QStringList {kRefused.arg("the configuration dialog is open")} << "ibwrt(32,2)=5858";
        QTest::newRow("a message box waits for the answer") << "no ibwrt" << QStringList {R"({"press":"1A1"})" "\n"} << QStringList {"{\"error\":\"Can't find DLL entry point ibwrt in " SELVANE_SIM_LIBRARY "\",\"link\":\"failed\",\"ok\":false,\"position\":\"A1\",\"unit\":1}"} << "";
        QTest::newRow("hostile lines, then a press") << "" << QStringList {"{\"press\":\n", "[1]\n", "\n", R"({"press":"1A3","unit":1})" "\n", R"({"status":false})" "\n", R"({"press":"1a3"})" "\n", R"({"unit":1.5,"section":"A","label":"A1"})" "\n", R"({"unit":1,"section":"C","label":"A1"})" "\n", R"({"unit":1,"section":"A","label":7})" "\n", QString(4097, 'x') + '\n', press}
            << QStringList {kRefused.arg("the request is not JSON: unterminated object at byte 9"), kRefused.arg("a request is one JSON object"), kRefused.arg("the request is not JSON: illegal value at byte 0"),
                            kRefused.arg(R"(unknown request: a request is {\"press\": \"1A3\"}, {\"unit\": 1, \"section\": \"A\", \"label\": \"...\"} or {\"status\": true})"), kRefused.arg(R"(\"status\" takes true)"), kRefused.arg(R"(\"press\" takes a unit, a section and a position, as \"1A3\")"),
                            kRefused.arg(R"(\"unit\" takes a number from 1 to 9)"), kRefused.arg(R"(\"section\" takes \"A\" or \"B\")"), kRefused.arg(R"(\"label\" takes a text)"), kRefused.arg("the request is longer than 4096 bytes"), a3} << "ibwrt(32,2)=4133";
        QTest::newRow("4096 bytes, and a longer line in pieces") << "" << QStringList {padded, QString(5000, 'x'), "xx\n" + press} << QStringList {a3, kRefused.arg("the request is longer than 4096 bytes"), a3} << "ibwrt(32,2)=4133 ibwrt(32,2)=4133";
        // clang-format on
    }

    void requestsAreServedOrRefused()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, chunks);
        QFETCH(QStringList, answers);
        QFETCH(QString, writes);
        Bench bench(setup == "no ibwrt" ? "ibclr#1=2" : "");
        if (setup == "no ibwrt")
            bench.driver.hide("ibwrt");
        prepare(bench);
        Script script(bench);
        if (setup == "edit 2")
            QTest::mouseClick(bench.window.panel(1).Edit, Qt::LeftButton);
        QStringList heard; // while a modal window is open: asked, or answered first
        bench.modals.queue([&](QWidget *modal) {
            heard =
                setup == "configuring" ? answersTo(script, chunks) : QStringList {script.answer()};
            modal->close();
        });
        if (setup == "configuring") {
            QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
        } else if (setup == "no ibwrt") {
            script.socket.write(chunks[0].toUtf8());
            QVERIFY(QTest::qWaitFor([&] { return !heard.isEmpty(); }, 60'000));
        } else {
            heard = answersTo(script, chunks);
        }
        QCOMPARE(heard, answers);
        QCOMPARE(::writes(bench), writes);
        QCOMPARE(bench.modals.seen.size(), int(!setup.isEmpty() && setup != "edit 2"));
    }
};

QTEST_MAIN(tst_Remote)
#include "tst_Remote.moc"
