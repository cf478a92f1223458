// SPDX-License-Identifier: MIT
// Scripts on the panel's socket: each request and refusal, the client's answers and exit
// statuses, who gets in, one listener per instance, and many clients at once.

#include "Bench.h"
#include "remote/ScriptClient.h"
#include "remote/ScriptListener.h"
#include "remote/SwitchTool.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QScopeGuard>

#include <optional>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    QLocalSocket client; // a local connection is made without the panel's event loop
    client.connectToServer(name);
    if (!client.waitForConnected())
        return {};
    client.write(line + '\n');
    const auto answered = [&] { return client.canReadLine() || !client.isOpen(); };
    return QTest::qWaitFor(answered, 60000) && client.canReadLine()
               ? QString::fromUtf8(client.readLine()).trimmed()
               : QString();
}

/** What has come on `fd` so far, and whether it has ended. */
bool readSoFar(int fd, QByteArray *bytes)
{
    char buffer[65536];
    ssize_t size = 0;
    while ((size = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
        bytes->append(buffer, size);
    return size == 0;
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

private slots:
    void requestsAreServedOrRefused_data()
    {
        QTest::addColumn<QString>("setup"); // "edit 2", "configuring", "no ibwrt", "closed"
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("writes");
        const QString a3 = R"({"link":"good","ok":true,"position":"A3","unit":1})";
        const QString press = R"({"press":"1A3"})"
                              "\n";
        const QString padded = QString(R"({"press":"1A3"})").leftJustified(4096) + "\r\n";
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
        QTest::newRow("a message box waits for the answer, the next line for the box") << "no ibwrt" << QStringList {R"({"press":"1A1"})" "\n" R"({"press":"3A1"})" "\n"} << QStringList {"{\"error\":\"Can't find DLL entry point ibwrt in " SELVANE_SIM_LIBRARY "\",\"link\":\"failed\",\"ok\":false,\"position\":\"A1\",\"unit\":1}", kRefused.arg("a message box is open"), kRefused.arg("unit 3 is not shown")} << "";
        QTest::newRow("a closed panel") << "closed" << QStringList {press} << QStringList {kRefused.arg("the panel is closing")} << "";
        QTest::newRow("hostile lines, then a press") << "" << QStringList {"{\"press\":\n", "[1]\n", "\n", R"({"press":"1A3","unit":1})" "\n", R"({"status":false})" "\n", R"({"press":"1a3"})" "\n", R"({"unit":1.5,"section":"A","label":"A1"})" "\n", R"({"unit":1,"section":"C","label":"A1"})" "\n", R"({"unit":1,"section":"A","label":7})" "\n", R"({"press":"1A9","press":"1A2"})" "\n", R"({"press":"1A3\n"})" "\n", QString(4097, 'x') + '\n', press}
            << QStringList {kRefused.arg("the request is not JSON: unterminated object at byte 9"), kRefused.arg("a request is one JSON object"), kRefused.arg("the request is not JSON: illegal value at byte 0"),
                            kRefused.arg(R"(unknown request: a request is {\"press\": \"1A3\"}, {\"unit\": 1, \"section\": \"A\", \"label\": \"...\"}, {\"status\": true} or {\"raise\": true})"), kRefused.arg(R"(\"status\" takes true)"), kRefused.arg(R"(\"press\" takes a unit, a section and a position, as \"1A3\")"),
                            kRefused.arg(R"(\"unit\" takes a number from 1 to 9)"), kRefused.arg(R"(\"section\" takes \"A\" or \"B\")"), kRefused.arg(R"(\"label\" takes a text)"), kRefused.arg("a name is given twice in the request"), kRefused.arg(R"(\"press\" takes a unit, a section and a position, as \"1A3\")"), kRefused.arg("the request is longer than 4096 bytes"), a3} << "ibwrt(32,2)=4133";
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
            QVERIFY(QTest::qWaitFor([&] { return !heard.isEmpty(); }, 60000));
            heard << script.answer(); // the line after the press, once the box is gone
        } else {
            heard = answersTo(script, chunks);
        }
        QCOMPARE(heard, answers);
        QCOMPARE(::writes(bench), writes);
        QCOMPARE(bench.modals.seen.size(), int(setup == "configuring" || setup == "no ibwrt"));
    }

    void theClientSaysHowItWent_data()
    {
        QTest::addColumn<QString>("setup"); // "quiet", "closing": a socket that never answers,
                                            // or closes; "full": one whose backlog is full;
                                            // "link": one that stands for Bench's
        QTest::addColumn<QStringList>("args"); // "python": the scripting page's example instead
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
        QTest::newRow("no connection in time") << "full" << QStringList {"--timeout", "0.5", "--instance", "Quiet", "1A1"} << 3 << "" << "selvane-switch: the panel 'Quiet' did not answer in time\n" << "";
        QTest::newRow("a panel that closes before it answers") << "closing" << QStringList {"--instance", "Quiet", "1A1"} << 3 << "" << "selvane-switch: the panel 'Quiet' closed the connection before it answered\n" << "";
        QTest::newRow("a link to another instance's socket") << "link" << QStringList {"--instance", "Linked", "1A1"} << 2 << "" << "selvane-switch: the panel 'Linked' cannot be trusted: " << "";
        QTest::newRow("a closed output") << "closed output" << QStringList {"--instance", "Bench", "1A3"} << 1 << "" << "selvane-switch: cannot write standard output: Bad file descriptor\n" << "ibwrt(32,2)=4133";
        QTest::newRow("the socket's name, whatever the environment") << "elsewhere" << QStringList {"--instance", "Bench", "--socket"} << 0 << "{socket}\n" << "" << "";
        QTest::newRow("a lone hyphen") << "" << QStringList {"-"} << 64 << "" << "selvane-switch: '-' is no press" << "";
        QTest::newRow("an option after --") << "" << QStringList {"--", "--status"} << 64 << "" << "selvane-switch: '--status' is no press" << "";
        QTest::newRow("help") << "" << QStringList {"1A1", "--help"} << 0 << usage << "" << "";
        QTest::newRow("version") << "" << QStringList {"--version", "1A1"} << 0 << "selvane-switch 1." << "" << "";
        QTest::newRow("an unknown option") << "" << QStringList {"--bogus", "1A1"} << 64 << "" << "selvane-switch: unexpected option '--bogus'\n" + usage << "";
        QTest::newRow("no press") << "" << QStringList {"1Z9"} << 64 << "" << "selvane-switch: '1Z9' is no press: \"press\" takes a unit, a section and a position, as \"1A3\"\n" << "";
        QTest::newRow("no such label form") << "" << QStringList {"0A=Cal"} << 64 << "" << "selvane-switch: '0A=Cal' is no press: \"unit\" takes" << "";
        QTest::newRow("no time") << "" << QStringList {"--timeout", "0", "1A1"} << 64 << "" << "selvane-switch: --timeout needs a number of seconds above 0\n" << "";
        QTest::newRow("no instance") << "" << QStringList {"--instance"} << 64 << "" << "selvane-switch: --instance needs a name\n" << "";
        QTest::newRow("nothing asked") << "" << QStringList {} << 64 << "" << "selvane-switch: give presses, --status or --socket\n" << "";
        QTest::newRow("status and presses") << "" << QStringList {"--status", "1A1"} << 64 << "" << "selvane-switch: give presses, --status or --socket\n" << "";
        QTest::newRow("the scripting page's Python") << "" << QStringList {"python"} << 0 << "{'link': 'good', 'ok': True, 'position': 'A3', 'unit': 1}\n" << "" << "ibwrt(32,2)=4133";
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
        Bench bench;
        prepare(bench);
        Script script(bench);
        QLocalServer quiet;
        if (setup == "quiet" || setup == "closing")
            QVERIFY(
                quiet.listen(RemoteServer::nameOf(bench.registry.location(), "SELVANE - Quiet")));
        if (setup == "closing")
            connect(&quiet, &QLocalServer::newConnection,
                    [&] { quiet.nextPendingConnection()->abort(); });
        const std::string full =
            RemoteServer::nameOf(bench.registry.location(), "SELVANE - Quiet").toStdString();
        int waiting[2] = {-1, -1};
        const auto closeWaiting = qScopeGuard([&] { ::close(waiting[0]), ::close(waiting[1]); });
        if (setup == "full") { // never accepted: one connection fills a backlog of none
            waiting[0] = socketAt(full, false);
            QVERIFY(::listen(waiting[0], 0) == 0 && (waiting[1] = socketAt(full, true)) >= 0);
        }
        const QString linked = RemoteServer::nameOf(bench.registry.location(), "SELVANE - Linked");
        if (setup == "link")
            QVERIFY(QFile::link(script.server.fullName(), linked));
        const auto unlink = qScopeGuard([&] { QFile::remove(linked); });
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SELVANE_REGISTRY", QString::fromStdString(bench.file));
        if (setup == "elsewhere") { // as from cron or su: the same panel all the same
            environment.insert("XDG_RUNTIME_DIR", "run");
            environment.insert("HOME", "/nonexistent");
        }
        environment.insert("PATH", QFileInfo(SELVANE_SWITCH_PROGRAM).path() + ':'
                                       + environment.value("PATH"));
        client.setProcessEnvironment(environment);
        if (args == QStringList {"python"}) {
            QFile page(SELVANE_SCRIPTING_DOC);
            QVERIFY(page.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(page.readAll());
            const qsizetype start = text.indexOf("```python\n") + 10;
            client.start("python3", {"-c", text.mid(start, text.indexOf("```", start) - start)});
        } else if (setup == "closed output") {
            client.start("sh", QStringList {"-c", "exec \"$0\" \"$@\" >&-", SELVANE_SWITCH_PROGRAM}
                                   + args);
        } else {
            client.start(SELVANE_SWITCH_PROGRAM, args);
        }
        // The panel answers from this event loop, so the client is waited for within it.
        QVERIFY(QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 60000));
        const QString said = QString::fromUtf8(client.readAllStandardError());
        QCOMPARE(client.exitCode(), code);
        const QString printed = QString::fromUtf8(client.readAllStandardOutput());
        QVERIFY2(out.isEmpty()
                     ? printed.isEmpty()
                     : printed.startsWith(out.replace("{socket}", script.server.fullName())),
                 qPrintable(said));
        QVERIFY2(err.isEmpty() ? said.isEmpty() : said.startsWith(err), qPrintable(said));
        QCOMPARE(::writes(bench), writes);
    }

    void theSocketsFolderIsTheUsersOwn_data()
    {
        QTest::addColumn<QString>("runtime"); // the runtime folder: private, open, link or none
        QTest::addColumn<int>("spare"); // bytes that a name there leaves of a socket path's 107
        QTest::addColumn<bool>("there"); // a name is made there, else in the home folder
        QTest::newRow("private") << "private" << 30 << true;
        QTest::newRow("private, a name that just fits") << "private" << 0 << true;
        QTest::newRow("private, a byte too long") << "private" << -1 << false;
        QTest::newRow("open to others") << "open" << 30 << false;
        QTest::newRow("a link to a private folder") << "link" << 30 << false;
        QTest::newRow("none") << "none" << 30 << false;
    }

    void theSocketsFolderIsTheUsersOwn()
    {
        QFETCH(QString, runtime);
        QFETCH(int, spare);
        QFETCH(bool, there);
        const TemporaryFolder top;
        QString folder = QString::fromStdString(top.path()) + '/';
        folder += QString(int(107 - spare - 16 - 1 - 8 - folder.size()), 'r'); // "/selvane"
        if (runtime == "link")
            QVERIFY(QFile::link(QString::fromStdString(top.path()), folder));
        if (runtime == "private" || runtime == "open")
            QVERIFY(::mkdir(folder.toUtf8(), runtime == "open" ? 0755 : 0700) == 0);
        QCOMPARE(RemoteServer::socketFolder(folder, "/home/h", 16),
                 there ? folder + "/selvane" : QStringLiteral("/home/h/.selvane"));
    }

    void theSocketIsThisUsersAlone_data()
    {
        QTest::addColumn<QString>("setup"); // what stands in the place, before or after
        QTest::addColumn<QString>("said"); // the panel's refusal; {name}, {folder}: their paths
        QTest::addColumn<int>("outcome"); // the client's, a ScriptClient::Outcome
        QTest::addColumn<QString>("why"); // how the client's reason begins
        const int done = int(ScriptClient::Outcome::Done);
        const int untrusted = int(ScriptClient::Outcome::Untrusted);
        const int none = int(ScriptClient::Outcome::NoPanel);
        const QString notPrivate = "{folder} is not a private folder of this user's";
        const QString notSocket = "{name} is not a socket of this user's";
        // clang-format off
        QTest::newRow("the first") << "" << "" << done << "";
        QTest::newRow("a folder open to others") << "open folder" << "" << done << "";
        QTest::newRow("a socket a panel left") << "left socket" << "" << done << "";
        QTest::newRow("a panel that took over") << "taken over" << "" << done << "";
        QTest::newRow("a live panel there") << "live" << "" << done << "";
        QTest::newRow("nothing there") << "nothing" << "" << none << "nothing listens at {name}";
        QTest::newRow("a link in the folder's place") << "folder link" << "{folder} is not a folder of this user's" << untrusted << notPrivate;
        QTest::newRow("a dangling link at the name") << "name link" << "{name} is in the way of the socket: a link" << untrusted << notSocket;
        QTest::newRow("a folder at the name") << "name folder" << "{name} is in the way of the socket: a folder" << untrusted << notSocket;
        QTest::newRow("a name too long") << "long" << "{name} is longer than a socket's name may be (107 bytes)" << none << "{name} is too long for a socket";
        QTest::newRow("the folder opened to others") << "opened later" << "" << untrusted << notPrivate;
        QTest::newRow("a link to another socket") << "linked later" << "" << untrusted << "{other} is not a socket of this user's";
        QTest::newRow("another user's folder") << "nobody's folder" << "" << untrusted << notPrivate;
        QTest::newRow("another user past a folder left open") << "nobody connects" << "" << untrusted << notPrivate;
        QTest::newRow("another user at the other end") << "nobody listens" << "" << untrusted << "the other end of {name} is not this user's";
        // clang-format on
    }

    void theSocketIsThisUsersAlone()
    {
        QFETCH(QString, setup);
        QFETCH(QString, said);
        QFETCH(int, outcome);
        QFETCH(QString, why);
        if (setup.startsWith("nobody") && ::getuid() != 0)
            QSKIP("only root can make another user's folder or socket");
        const TemporaryFolder top;
        const QString folder = QString::fromStdString(top.path()) + "/selvane";
        const QString name = folder + '/' + (setup == "long" ? QString(100, 'k') : "key");
        const QString other = folder + "/other"; // a name that leads to this socket
        const QByteArray path = name.toUtf8(), place = folder.toUtf8();
        Bench bench;
        prepare(bench);
        if (setup.contains("open") || setup.contains("socket") || setup.startsWith("name "))
            QVERIFY(::mkdir(place, 0700) == 0 && ::chmod(place, 0755) == 0);
        if (setup == "left socket") // bound, never listened on, closed: nobody answers
            QVERIFY(::close(socketAt(path.toStdString(), false)) == 0);
        if (setup == "folder link")
            QVERIFY(QFile::link(QString::fromStdString(top.path()), folder));
        if (setup == "name link")
            QVERIFY(QFile::link("gone", name));
        if (setup == "name folder")
            QVERIFY(::mkdir(path, 0700) == 0);
        const StandardError heard;
        std::optional<RemoteServer> server(bench.window.engine()), later;
        if (setup != "nothing" && setup != "nobody listens") {
            QCOMPARE(server->listen(name, std::cerr), said.isEmpty());
            QCOMPARE(QString::fromStdString(heard.text.str()),
                     said.isEmpty()
                         ? QString()
                         : "selvane: scripts cannot reach this panel: "
                               + said.replace("{name}", name).replace("{folder}", folder) + '\n');
        }
        using std::filesystem::perms;
        if (said.isEmpty() && outcome == int(ScriptClient::Outcome::Done)) // made private
            QVERIFY(std::filesystem::status(place.toStdString()).permissions() == perms::owner_all
                    && std::filesystem::status(path.toStdString()).permissions()
                           == (perms::owner_read | perms::owner_write));
        if (setup == "taken over" || setup == "live") { // its lock file was removed by hand
            later.emplace(bench.window.engine());
            QVERIFY(setup == "live" || QFile::remove(name)); // and its socket too
            QCOMPARE(later->listen(name, std::cerr), setup != "live");
            QVERIFY(setup != "live"
                    || heard.text.str().ends_with("another panel listens at " + path.toStdString()
                                                  + '\n'));
            if (setup == "taken over")
                server.reset(); // the one that ends leaves the other's socket be
        }
        QVERIFY((setup != "opened later" || ::chmod(place, 0755) == 0)
                && (setup != "linked later" || QFile::link(name, other))
                && (setup != "nobody's folder" || ::chown(place, 65534, 65534) == 0));
        pid_t child = -1;
        if (setup == "nobody listens" || setup == "nobody connects") {
            // Bound as this user and listened on as nobody; or, where a careless umask left
            // the way open, connected as nobody. Exits 0 when the other end went unanswered.
            const bool listens = setup == "nobody listens";
            QVERIFY(listens ? ::mkdir(place, 0700) == 0
                            : ::chmod(place, 0755) == 0 && ::chmod(path, 0666) == 0);
            const int fd = listens ? socketAt(path.toStdString(), false) : -1;
            child = ::fork();
            if (child == 0) {
                char byte = 0;
                const int end = ::setuid(65534) != 0 ? -1
                                : listens
                                    ? (::listen(fd, 1) == 0 ? ::accept(fd, nullptr, nullptr) : -1)
                                    : socketAt(path.toStdString(), true);
                const bool asked = listens || ::send(end, "{\"status\":true}\n", 16, 0) == 16;
                const ssize_t got = end >= 0 && asked ? ::recv(end, &byte, 1, 0) : 1;
                ::_exit(got == 0 || (got < 0 && !listens) ? 0 : 1); // closed, or reset
            }
            ::close(fd);
        }
        std::optional<ScriptClient> client(std::in_place);
        const QDeadlineTimer deadline(60000);
        const QString asked = setup == "linked later" ? other : name;
        ScriptClient::Outcome got = client->connect(asked, deadline);
        while (setup == "nobody listens" && got == ScriptClient::Outcome::NoPanel
               && !deadline.hasExpired())
            got = client->connect(name, deadline); // until nobody listens
        QCOMPARE(int(got), outcome);
        why.replace("{name}", name).replace("{folder}", folder).replace("{other}", other);
        QVERIFY2(why.isEmpty() ? client->why().isEmpty() : client->why().startsWith(why),
                 qPrintable(client->why()));
        client.reset();
        int exited = -1; // the panel answers nobody's connection only from this event loop
        QVERIFY(
            child < 0
            || (QTest::qWaitFor([&] { return ::waitpid(child, &exited, WNOHANG) == child; }, 60000)
                && WIFEXITED(exited) && WEXITSTATUS(exited) == 0));
        if (got == ScriptClient::Outcome::Done) // and the listening panel answers there
            QVERIFY(askAlone(name, R"({"status":true})").startsWith(R"({"ok":true)"));
        server.reset(); // each takes its own socket away at its end
        later.reset();
        QVERIFY(got != ScriptClient::Outcome::Done || !QFile::exists(name));
    }

    void aScriptThatLeavesIsNotServed_data()
    {
        QTest::addColumn<bool>("hangUp"); // else it only shuts its writing side, as nc -N does
        QTest::addColumn<int>("statuses"); // asked before the presses
        QTest::newRow("hung up") << true << 0;
        QTest::newRow("done writing") << false << 0;
        QTest::newRow("done writing, more answers than a socket holds") << false << 600;
    }

    void aScriptThatLeavesIsNotServed()
    {
        QFETCH(bool, hangUp);
        QFETCH(int, statuses);
        Bench bench;
        prepare(bench);
        Script script(bench);
        const int fd = socketAt(script.server.fullName().toStdString(), true);
        QVERIFY(QTest::qWaitFor([&] { return script.server.scripts() == 2; }, 60000));
        // The panel is held meanwhile: it runs in this thread.
        const QByteArray lines =
            QByteArray("{\"status\":true}\n").repeated(statuses)
            + "{\"press\":\"1A1\"}\n{\"press\":\"1A2\"}\n{\"press\":\"1B1\"}\n";
        QVERIFY(::send(fd, lines.constData(), std::size_t(lines.size()), 0) == lines.size());
        QVERIFY(hangUp ? ::close(fd) == 0 : ::shutdown(fd, SHUT_WR) == 0);
        QByteArray answers; // read once every line is served, some answers still unsent
        QVERIFY(hangUp
                || QTest::qWaitFor([&] { return ::writes(bench).count("ibwrt") == 3; }, 60000));
        QVERIFY(QTest::qWaitFor(
            [&] { return hangUp ? script.server.scripts() == 1 : readSoFar(fd, &answers); },
            60000));
        const QByteArray good = "{\"link\":\"good\",\"ok\":true,\"position\":\"";
        QVERIFY(answers.endsWith(hangUp ? QByteArray() // in the order sent in one write
                                        : good + "A1\",\"unit\":1}\n" + good + "A2\",\"unit\":1}\n"
                                              + good + "B1\",\"unit\":1}\n"));
        QCOMPARE(answers.count('\n'), hangUp ? 0 : 3 + statuses); // then the panel lets it go
        QCOMPARE(::writes(bench).count("ibwrt"), hangUp ? 0 : 3);
        if (!hangUp)
            ::close(fd);
    }

    void noScriptCostsWithoutBound()
    {
        const TemporaryFolder top;
        const QString name = QString::fromStdString(top.path()) + "/s/key";
        ScriptListener listener;
        QVERIFY(listener.listen(name).isEmpty());
        ScriptLink *made = nullptr;
        connect(&listener, &ScriptListener::connected, [&](ScriptLink *link) { made = link; });
        const int fd = socketAt(name.toStdString(), true);
        QVERIFY(QTest::qWaitFor([&] { return made != nullptr; }, 60000));
        ScriptLink &link = *made;
        // Unread answers past their bound: nothing more is read until the client reads.
        const QByteArray answers(2 * ScriptLink::kOutputLimit, 'x'); // more than the socket holds
        link.send(answers);
        const QByteArray more(ScriptLink::kInputLimit + 10, '{');
        QVERIFY(::send(fd, more.constData(), 1000, 0) == 1000);
        QCoreApplication::processEvents();
        QCOMPARE(link.input().size(), 0);
        QByteArray read;
        QVERIFY(QTest::qWaitFor(
            [&] {
                return (readSoFar(fd, &read),
                        read.size() == answers.size() && link.input().size() == 1000);
            },
            60000));
        // Unread requests past theirs: the rest waits until they are taken.
        QVERIFY(::send(fd, more.constData() + 1000, std::size_t(more.size() - 1000), 0) > 0);
        QVERIFY(
            QTest::qWaitFor([&] { return link.input().size() == ScriptLink::kInputLimit; }, 60000));
        QCoreApplication::processEvents();
        QCOMPARE(link.input().size(), ScriptLink::kInputLimit);
        link.take(ScriptLink::kInputLimit);
        QVERIFY(QTest::qWaitFor([&] { return link.input().size() == 10; }, 60000));
        ::close(fd);
    }

    void aFullDescriptorTableEndsNoListening()
    {
        Bench bench;
        prepare(bench);
        const StandardError heard;
        Script script(bench);
        const QString name = script.server.fullName();
        std::vector<int> waiting;
        for (int i = 0; i < 3; ++i) {
            waiting.push_back(socketAt(name.toStdString(), true));
            QVERIFY(::send(waiting.back(), "{\"status\":true}\n", 16, 0) == 16);
        }
        rlimit kept {};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &kept) == 0);
        rlimit none = kept;
        none.rlim_cur = rlim_t(::dup(0)); // the lowest free: none is left above it
        ::close(int(none.rlim_cur));
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &none) == 0);
        const bool said = QTest::qWaitFor(
            [&] {
                return heard.text.str().find("waiting for a connection to end")
                       != std::string::npos;
            },
            60000);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &kept) == 0);
        QVERIFY2(said, heard.text.str().c_str());
        QCOMPARE(QString::fromStdString(heard.text.str()),
                 "selvane: cannot accept a script's connection: Too many open files; waiting for "
                 "a connection to end\n");
        script.socket.abort(); // a connection ends: the rest are taken
        for (const int fd : waiting) {
            QByteArray answer;
            QVERIFY(QTest::qWaitFor([&] { return (readSoFar(fd, &answer), answer.endsWith('\n')); },
                                    60000));
            QVERIFY(answer.startsWith(R"({"ok":true,"units")"));
            ::close(fd);
        }
    }

    void sixtyFourScriptsAtOnce()
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
        QVERIFY(QTest::qWaitFor([&] { return silent.server.scripts() == 1; }, 60000));
        std::vector<std::unique_ptr<QLocalSocket>> clients;
        for (int i = 0; i < RemoteServer::kScriptLimit; ++i) { // one more than there is room for
            clients.push_back(std::make_unique<QLocalSocket>());
            clients.back()->connectToServer(silent.server.fullName()); // accepted meanwhile
            QVERIFY(QTest::qWaitFor(
                [&] { return clients.back()->state() == QLocalSocket::ConnectedState; }, 60000));
            clients.back()->write(QStringLiteral("{\"press\":\"1A%1\"}\n").arg(1 + i % 3).toUtf8());
        }
        const QByteArray good = R"({"link":"good","ok":true)";
        const QByteArray full = kRefused.arg("too many scripts are connected").toUtf8();
        for (const auto &client : clients) {
            QVERIFY(QTest::qWaitFor([&] { return client->canReadLine(); }, 60000));
            QVERIFY(client->readLine().startsWith(client == clients.back() ? full : good));
        }
        QVERIFY(QTest::qWaitFor(
            [&] { return clients.back()->state() == QLocalSocket::UnconnectedState; }, 60000));
        QCOMPARE(::writes(bench).count("ibwrt(32,2)=413"), RemoteServer::kScriptLimit - 1);
        QVERIFY(silent.ask(R"({"status":true})").startsWith(R"({"ok":true)"));
    }
};

QTEST_MAIN(tst_Remote)
#include "tst_Remote.moc"
