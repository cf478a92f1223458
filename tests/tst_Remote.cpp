// SPDX-License-Identifier: MIT
// Scripts on the panel's socket: each request and refusal, the client's answers and exit
// statuses, who gets in, one listener per instance, and many clients at once.

#include "Bench.h"
#include "remote/SwitchTool.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>

#include <cstring>
#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

/** Unit 1 at 7 with labels to look for, unit 2 at 9 where nobody listens. */
void prepare(Bench &bench)
{
    for (const auto &[name, text] : {std::pair {"1.A1.label", "Cal"},
                                     {"1.A3.label", "Cal"},
                                     {"1.A4.label", ""},
                                     {"1.B2.label", "Cal 50 Ω"}})
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

/** The answer to `line` on a connection of its own to `name`; empty when none comes. */
QString askAlone(const QString &name, const QByteArray &line)
{
    QLocalSocket client;
    client.connectToServer(name);
    const auto settled = [&] { return client.state() != QLocalSocket::ConnectingState; };
    if (!QTest::qWaitFor(settled, 60'000) || client.state() != QLocalSocket::ConnectedState)
        return {};
    client.write(line + '\n');
    const auto answered = [&] { return client.canReadLine() || !client.isOpen(); };
    return QTest::qWaitFor(answered, 60'000) && client.canReadLine()
               ? QString::fromUtf8(client.readLine()).trimmed()
               : QString();
}

const QString kUnit1 =
    R"({"address":{"board":0,"pad":7,"sad":0},"labels":{"A1":"Cal","A2":"A2","A3":"Cal","A4":"","B1":"B1","B2":"Cal 50 Ω","B3":"B3","B4":"B4"},"link":"good","mode":"lock","selected":{"A":"A3","B":null},"titles":{"A":"Device 1","B":"Device 2"},"unit":1})";
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
        QTest::addColumn<QString>("setup"); // "edit 2", "configuring", "no ibwrt", "closed"
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("writes");
        const QString a3 = R"({"link":"good","ok":true,"position":"A3","unit":1})";
        const QString press = R"({"press":"1A3"})"
                              "\n";
        const QString padded = QString(R"({"press":"1A3"})").leftJustified(4096) + '\n';
        // clang-format off
        QTest::newRow("by position") << "" << QStringList {press} << QStringList {a3} << "ibwrt(32,2)=4133";
        QTest::newRow("by label") << "" << QStringList {R"({"unit":1,"section":"B","label":"Cal 50 Ω"})" "\n"} << QStringList {R"({"link":"good","ok":true,"position":"B2","unit":1})"} << "ibwrt(32,2)=4232";
        QTest::newRow("the bus refuses") << "" << QStringList {R"({"press":"2B4"})" "\n"} << QStringList {R"({"error":"unit 2 did not take B4: the driver answered ENOL","link":"failed","ok":false,"position":"B4","unit":2})"} << "";
        QTest::newRow("status") << "edit 2" << QStringList {press, R"( {"status" : true} )" "\n"} << QStringList {a3, R"({"ok":true,"units":[)" + kUnit1 + ',' + kUnit2 + "]}"} << "ibwrt(32,2)=4133";
        QTest::newRow("a unit not shown") << "" << QStringList {R"({"press":"3A1"})" "\n"} << QStringList {kRefused.arg("unit 3 is not shown")} << "";
        QTest::newRow("a hidden button") << "" << QStringList {R"({"press":"1A4"})" "\n"} << QStringList {kRefused.arg("unit 1 has no button A4: its label is empty")} << "";
        QTest::newRow("a label of another section") << "" << QStringList {R"({"unit":1,"section":"A","label":"Cal 50 Ω"})" "\n"} << QStringList {kRefused.arg(R"(no button of unit 1, section A carries \"Cal 50 Ω\")")} << "";
        QTest::newRow("a label two carry") << "" << QStringList {R"({"unit":1,"section":"A","label":"Cal"})" "\n"} << QStringList {kRefused.arg(R"(several buttons of unit 1, section A carry \"Cal\")")} << "";
        QTest::newRow("the empty label") << "" << QStringList {R"({"unit":1,"section":"A","label":""})" "\n"} << QStringList {kRefused.arg(R"(no button of unit 1, section A carries \"\")")} << "";
        QTest::newRow("one unit in edit mode") << "edit 2" << QStringList {R"({"press":"2A1"})" "\n", R"({"press":"1A2"})" "\n"} << QStringList {kRefused.arg("unit 2 is being edited"), R"({"link":"good","ok":true,"position":"A2","unit":1})"} << "ibwrt(32,2)=4132";
        QTest::newRow("the configuration dialog") << "configuring" << QStringList {press} << QStringList {kRefused.arg("the configuration dialog is open")} << "ibwrt(32,2)=5858";
        QTest::newRow("a message box waits for the answer") << "no ibwrt" << QStringList {R"({"press":"1A1"})" "\n"} << QStringList {"{\"error\":\"Can't find DLL entry point ibwrt in " SELVANE_SIM_LIBRARY "\",\"link\":\"failed\",\"ok\":false,\"position\":\"A1\",\"unit\":1}", kRefused.arg("a message box is open")} << "";
        QTest::newRow("a closed panel") << "closed" << QStringList {press} << QStringList {kRefused.arg("the panel is closing")} << "";
        QTest::newRow("hostile lines, then a press") << "" << QStringList {"{\"press\":\n", "[1]\n", "\n", R"({"press":"1A3","unit":1})" "\n", R"({"status":false})" "\n", R"({"press":"1a3"})" "\n", R"({"unit":1.5,"section":"A","label":"A1"})" "\n", R"({"unit":1,"section":"C","label":"A1"})" "\n", R"({"unit":1,"section":"A","label":7})" "\n", QString(4097, 'x') + '\n', press}
            << QStringList {kRefused.arg("the request is not JSON: unterminated object at byte 9"), kRefused.arg("a request is one JSON object"), kRefused.arg("the request is not JSON: illegal value at byte 0"),
                            kRefused.arg(R"(unknown request: a request is {\"press\": \"1A3\"}, {\"unit\": 1, \"section\": \"A\", \"label\": \"...\"}, {\"status\": true} or {\"raise\": true})"), kRefused.arg(R"(\"status\" takes true)"), kRefused.arg(R"(\"press\" takes a unit, a section and a position, as \"1A3\")"),
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
        if (setup == "closed")
            bench.window.close();
        if (setup == "edit 2")
            QTest::mouseClick(bench.window.panel(1).Edit, Qt::LeftButton);
        QStringList heard; // while a modal window is open: asked, or answered first
        bench.modals.queue([&](QWidget *modal) {
            heard = setup == "configuring"
                        ? answersTo(script, chunks)
                        : QStringList {script.answer(),
                                       askAlone(script.server.fullName(), R"({"status":true})")};
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
        QCOMPARE(bench.modals.seen.size(), int(setup == "configuring" || setup == "no ibwrt"));
    }

    void theClientSaysHowItWent_data()
    {
        QTest::addColumn<QString>("setup"); // "quiet": a socket that never answers; "nobody",
                                            // "open to nobody": the client runs as nobody
        QTest::addColumn<QStringList>("args"); // "python": the README's example instead
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out"); // how standard output begins
        QTest::addColumn<QString>("err"); // how standard error begins
        QTest::addColumn<QString>("writes");
        const QString usage = QString::fromUtf8(SwitchTool::kUsageText);
        // clang-format off
        QTest::newRow("presses in order") << "" << QStringList {"--instance", "Bench", "1A3", "1B=Cal 50 Ω"} << 0 << "{\"link\":\"good\",\"ok\":true,\"position\":\"A3\",\"unit\":1}\n{\"link\":\"good\",\"ok\":true,\"position\":\"B2\",\"unit\":1}\n" << "" << "ibwrt(32,2)=4133 ibwrt(32,2)=4232";
        QTest::newRow("stops at a refusal") << "" << QStringList {"--instance", "Bench", "1A4", "1A3"} << 1 << kRefused.arg("unit 1 has no button A4: its label is empty") + '\n' << "" << "";
        QTest::newRow("stops at a failure") << "" << QStringList {"--instance", "Bench", "--", "2A1", "1A3"} << 1 << "{\"error\":\"unit 2 did not take A1" << "" << "";
        QTest::newRow("status, the name in any case") << "" << QStringList {"--instance", "bENCH", "--status"} << 0 << "{\"ok\":true,\"units\":[{\"address\":{\"board\":0,\"pad\":7" << "" << "";
        QTest::newRow("no panel of the name") << "" << QStringList {"--instance", "Other", "1A1"} << 2 << "" << "selvane-switch: the panel 'Other' is not running: nothing listens at /" << "";
        QTest::newRow("no answer in time") << "quiet" << QStringList {"--timeout", "0.5", "--instance", "Quiet", "1A1"} << 3 << "" << "selvane-switch: the panel 'Quiet' did not answer in time\n" << "";
        QTest::newRow("another user") << "nobody" << QStringList {"--instance", "Bench", "1A1"} << 2 << "" << "selvane-switch: the panel 'Bench' is not running: this user may not open /" << "";
        QTest::newRow("another user past the folder") << "open to nobody" << QStringList {"--instance", "Bench", "1A1"} << 3 << "" << "selvane-switch: the panel 'Bench' closed the connection before it answered\n" << "";
        QTest::newRow("the socket's name") << "" << QStringList {"--instance", "Bench", "--socket"} << 0 << qEnvironmentVariable("XDG_RUNTIME_DIR") + "/selvane/" << "" << "";
        QTest::newRow("the socket's name, for a relative runtime folder") << "runtime run" << QStringList {"--socket"} << 0 << "/tmp/selvane-" + QString::number(::getuid()) + '/' << "" << "";
        QTest::newRow("the socket's name, for a runtime folder too long") << "runtime /" + QString(100, 'r') << QStringList {"--socket"} << 0 << "/tmp/selvane-" + QString::number(::getuid()) + '/' << "" << "";
        QTest::newRow("a lone hyphen") << "" << QStringList {"-"} << 64 << "" << "selvane-switch: '-' is no press" << "";
        QTest::newRow("an option after --") << "" << QStringList {"--", "--status"} << 64 << "" << "selvane-switch: '--status' is no press" << "";
        QTest::newRow("help") << "" << QStringList {"1A1", "--help"} << 0 << usage << "" << "";
        QTest::newRow("an unknown option") << "" << QStringList {"--bogus", "1A1"} << 64 << "" << "selvane-switch: unexpected option '--bogus'\n" + usage << "";
        QTest::newRow("no press") << "" << QStringList {"1Z9"} << 64 << "" << "selvane-switch: '1Z9' is no press: \"press\" takes a unit, a section and a position, as \"1A3\"\n" << "";
        QTest::newRow("no such label form") << "" << QStringList {"0A=Cal"} << 64 << "" << "selvane-switch: '0A=Cal' is no press: \"unit\" takes" << "";
        QTest::newRow("no time") << "" << QStringList {"--timeout", "0", "1A1"} << 64 << "" << "selvane-switch: --timeout needs a number of seconds above 0\n" << "";
        QTest::newRow("no instance") << "" << QStringList {"--instance"} << 64 << "" << "selvane-switch: --instance needs a name\n" << "";
        QTest::newRow("nothing asked") << "" << QStringList {} << 64 << "" << "selvane-switch: give presses, --status or --socket\n" << "";
        QTest::newRow("status and presses") << "" << QStringList {"--status", "1A1"} << 64 << "" << "selvane-switch: give presses, --status or --socket\n" << "";
        QTest::newRow("the README's Python") << "" << QStringList {"python"} << 0 << "{'link': 'good', 'ok': True, 'position': 'A3', 'unit': 1}\n" << "" << "ibwrt(32,2)=4133";
        // clang-format on
    }

    void theClientSaysHowItWent()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, writes);
        if (setup.contains("nobody") && ::getuid() != 0)
            QSKIP("only root can become nobody");
        Bench bench;
        prepare(bench);
        Script script(bench);
        QLocalServer quiet;
        if (setup == "quiet")
            QVERIFY(
                quiet.listen(RemoteServer::nameOf(bench.registry.location(), "SELVANE - Quiet")));
        if (setup == "open to nobody") { // the folders, as a careless umask would leave them
            const QString socket = script.server.fullName();
            QVERIFY(::chmod(QFileInfo(socket).path().toUtf8(), 0755) == 0);
            QVERIFY(::chmod(socket.toUtf8(), 0666) == 0);
        }
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SELVANE_REGISTRY", QString::fromStdString(bench.file));
        if (setup.startsWith("runtime "))
            environment.insert("XDG_RUNTIME_DIR", setup.mid(8));
        environment.insert("PATH", QFileInfo(SELVANE_SWITCH_PROGRAM).path() + ':'
                                       + environment.value("PATH"));
        client.setProcessEnvironment(environment);
        if (args == QStringList {"python"}) {
            QFile readme(SELVANE_README);
            QVERIFY(readme.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(readme.readAll());
            const qsizetype start = text.indexOf("```python\n") + 10;
            client.start("python3", {"-c", text.mid(start, text.indexOf("```", start) - start)});
        } else if (setup.contains("nobody")) {
            client.start("setpriv", QStringList {"--reuid=nobody", "--regid=nogroup",
                                                 "--clear-groups", SELVANE_SWITCH_PROGRAM}
                                        + args);
        } else {
            client.start(SELVANE_SWITCH_PROGRAM, args);
        }
        // The panel answers from this event loop, so the client is waited for within it.
        QVERIFY(QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 60'000));
        const QString said = QString::fromUtf8(client.readAllStandardError());
        QCOMPARE(client.exitCode(), code);
        const QString printed = QString::fromUtf8(client.readAllStandardOutput());
        QVERIFY2(out.isEmpty() ? printed.isEmpty() : printed.startsWith(out), qPrintable(said));
        QVERIFY2(err.isEmpty() ? said.isEmpty() : said.startsWith(err), qPrintable(said));
        QCOMPARE(::writes(bench), writes);
    }

    void oneListenerPerName_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("listens");
        QTest::addColumn<QString>("said"); // {socket}, {folder}: their paths
        QTest::newRow("the first") << "" << true << "";
        QTest::newRow("a folder open to others") << "open folder" << true << "";
        QTest::newRow("a socket a killed panel left") << "stale socket" << true << "";
        QTest::newRow("a panel of the instance runs")
            << "live panel" << false
            << "selvane: another panel of this instance takes the scripts' requests at {socket}; "
               "this one does not listen\n";
        QTest::newRow("a link in the folder's place")
            << "planted link" << false
            << "selvane: scripts cannot reach this panel: {folder} is not a folder of this "
               "user's\n";
    }

    void oneListenerPerName()
    {
        QFETCH(QString, setup);
        QFETCH(bool, listens);
        QFETCH(QString, said);
        const TemporaryFolder runtime;
        const SavedVariable kept("XDG_RUNTIME_DIR");
        setEnvironment("XDG_RUNTIME_DIR", runtime.path().c_str());
        Bench bench;
        prepare(bench);
        const QString name = RemoteServer::nameOf(bench.registry.location(), kBench);
        const QByteArray folder = QFileInfo(name).path().toUtf8();
        std::optional<Script> first;
        if (setup == "live panel")
            first.emplace(bench);
        if (setup == "open folder" || setup == "stale socket")
            QVERIFY(::mkdir(folder, 0755) == 0);
        if (setup == "stale socket") { // bound, never listened on, closed: nobody answers
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, name.toUtf8().constData(), sizeof address.sun_path - 1);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
            ::close(fd);
        }
        if (setup == "planted link")
            QVERIFY(QFile::link(QString::fromStdString(runtime.path()), folder));

        const StandardError heard;
        RemoteServer server(bench.window);
        QCOMPARE(server.listen(name, std::cerr), listens);
        QCOMPARE(QString::fromStdString(heard.text.str()),
                 said.replace("{socket}", name).replace("{folder}", folder));
        // The listening panel, whichever it is, answers there.
        QCOMPARE(askAlone(name, R"({"status":true})").startsWith(R"({"ok":true)"),
                 setup != "planted link");
        if (listens) {
            struct stat status
            {
            };
            QVERIFY(::stat(folder, &status) == 0 && (status.st_mode & 07777) == 0700);
            QVERIFY(::stat(name.toUtf8(), &status) == 0 && (status.st_mode & 07777) == 0600);
        }
    }

    void fiftyClientsAtOnce()
    {
        Bench bench;
        prepare(bench);
        Script silent(bench); // connected, and never asks anything
        {
            QLocalSocket leaving; // half a request, then gone
            leaving.connectToServer(silent.server.fullName());
            QVERIFY(leaving.waitForConnected());
            leaving.write("{\"press\":\"1B");
            leaving.waitForBytesWritten();
        }
        std::vector<std::unique_ptr<QLocalSocket>> clients;
        for (int i = 0; i < 50; ++i) {
            clients.push_back(std::make_unique<QLocalSocket>());
            clients.back()->connectToServer(silent.server.fullName()); // accepted meanwhile
            QVERIFY(QTest::qWaitFor(
                [&] { return clients.back()->state() == QLocalSocket::ConnectedState; }, 60'000));
            clients.back()->write(QStringLiteral("{\"press\":\"1A%1\"}\n").arg(1 + i % 3).toUtf8());
        }
        for (const auto &client : clients) {
            QVERIFY(QTest::qWaitFor([&] { return client->canReadLine(); }, 60'000));
            QVERIFY(client->readLine().startsWith(R"({"link":"good","ok":true)"));
        }
        QCOMPARE(::writes(bench).count("ibwrt(32,2)=413"), 50);
        QVERIFY(silent.ask(R"({"status":true})").contains(R"("selected":{"A":"A2","B":null})"));
    }
};

QTEST_MAIN(tst_Remote)
#include "tst_Remote.moc"
