// SPDX-License-Identifier: MIT
// The scripts' named pipe on Windows: the modes of its instances, a line there and back for
// one script after another, reading paused at the input's limit, and a name that has nobody
// or one listener. SCPI's loopback port: a line there and back, and a port in use.

#include "remote/RemoteServer.h"
#include "remote/ScriptClient.h"
#include "remote/ScriptListener.h"
#include "settings/Win32Registry.h"

#include <QPointer>
#include <QTest>

#include <atomic>
#include <sstream>
#include <thread>

#include <winsock2.h>

#include <windows.h>

namespace {

using Outcome = ScriptClient::Outcome;

QString uniqueName()
{
    static int made = 0;
    return QStringLiteral("selvane-test-%1-%2").arg(GetCurrentProcessId()).arg(++made);
}

/** A script in a thread of its own, as selvane-switch runs beside the panel: it connects,
    asks one line and hangs up. */
struct Script
{
    Outcome connected = Outcome::Late;
    Outcome asked = Outcome::Late;
    QByteArray answer;
    QString why;
    std::atomic<bool> done = false;
    std::thread thread;

    Script(const QString &name, const QByteArray &line)
        : thread([this, name, line] {
            {
                ScriptClient client;
                const QDeadlineTimer deadline(60'000); // a safety net only
                connected = client.connect(name, deadline);
                if (connected == Outcome::Done)
                    asked = client.ask(line, deadline, &answer);
                why = client.why();
            }
            done = true;
        })
    { }
    ~Script() { thread.join(); }
};

/** Says each line back. */
struct Echo : LineProtocol
{
    void serve(const QByteArray &line, const Reply &reply) override { reply(line + '\n'); }
    QByteArray overlong() override { return {}; }
    QByteArray full() override { return {}; }
};

} // namespace

class tst_ScriptPipe : public QObject
{
    Q_OBJECT
private slots:
    void pipeModes_data()
    {
        QTest::addColumn<bool>("first");
        QTest::addColumn<uint>("open");
        const uint both = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
        QTest::newRow("the first instance claims the name")
            << true << uint(both | FILE_FLAG_FIRST_PIPE_INSTANCE);
        QTest::newRow("the next instances join it") << false << both;
    }
    void pipeModes()
    {
        QFETCH(bool, first);
        QFETCH(uint, open);
        const ScriptListener::PipeModes modes = ScriptListener::pipeModes(first);
        QCOMPARE(modes.open, open);
        QCOMPARE(modes.pipe, uint(PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT
                                  | PIPE_REJECT_REMOTE_CLIENTS));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("reply"); // empty: the panel drops the link unanswered
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("answered") << QByteArray("{\"ok\":true}\n") << int(Outcome::Done)
                                  << QByteArray("{\"ok\":true}");
        QTest::newRow("two lines: the first is the answer")
            << QByteArray("one\ntwo\n") << int(Outcome::Done) << QByteArray("one");
        QTest::newRow("dropped unanswered") << QByteArray() << int(Outcome::Closed) << QByteArray();
        QTest::newRow("over 1 MiB with no line break")
            << QByteArray(1024 * 1024 + 2, 'x') << int(Outcome::Closed) << QByteArray();
    }
    void roundTrip()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, outcome);
        QFETCH(QByteArray, answer);
        ScriptListener listener;
        const QString name = uniqueName();
        QCOMPARE(listener.listen(name), QString());
        ScriptLink *link = nullptr;
        connect(&listener, &ScriptListener::connected, this, [&link](ScriptLink *l) { link = l; });
        for (int turn = 1; turn <= 2; ++turn) { // the second on the instance made after the first
            link = nullptr;
            Script script(name, "ping");
            QTRY_VERIFY_WITH_TIMEOUT(script.done || (link && link->input().endsWith('\n')), 60'000);
            QCOMPARE(script.why, QString()); // the client trusts a server of its own user
            QCOMPARE(link->input(), QByteArray("ping\n"));
            QVERIFY(!link->hungUp());
            QVERIFY(!link->inputEnded());
            const QPointer<ScriptLink> alive(link);
            int gone = 0;
            connect(link, &ScriptLink::gone, this, [&gone] { ++gone; });
            reply.isEmpty() ? delete link : link->send(reply);
            QTRY_VERIFY_WITH_TIMEOUT(script.done, 60'000);
            QCOMPARE(int(script.asked), outcome);
            QCOMPARE(script.answer, answer);
            QCOMPARE(script.why.contains(name), outcome != int(Outcome::Done));
            if (!reply.isEmpty()) // the script hung up: the link says so and goes
                QTRY_COMPARE_WITH_TIMEOUT(gone, 1, 60'000);
            QTRY_VERIFY_WITH_TIMEOUT(!alive, 60'000);
        }
    }

    void readingPausesAtTheInputLimit()
    {
        ScriptListener listener;
        const QString name = uniqueName();
        QCOMPARE(listener.listen(name), QString());
        ScriptLink *link = nullptr;
        connect(&listener, &ScriptListener::connected, this, [&link](ScriptLink *l) { link = l; });
        const QByteArray line(4 * ScriptLink::kInputLimit, 'r');
        Script script(name, line);
        QByteArray received;
        while (!received.endsWith('\n')) { // each pause at the limit ends with a take
            QTRY_VERIFY_WITH_TIMEOUT(link
                                         && (link->input().size() == ScriptLink::kInputLimit
                                             || link->input().endsWith('\n')),
                                     60'000);
            QVERIFY(link->input().size() <= ScriptLink::kInputLimit);
            received += link->input();
            link->take(link->input().size());
        }
        QCOMPARE(received, line + '\n');
        link->send("done\n");
        QTRY_VERIFY_WITH_TIMEOUT(script.done, 60'000);
        QCOMPARE(script.answer, QByteArray("done"));
    }

    void loopbackPort_data()
    {
        QTest::addColumn<bool>("inUse");
        QTest::newRow("a line there and back as this user") << false;
        QTest::newRow("a port in use, why in words") << true;
    }
    void loopbackPort()
    {
        QFETCH(bool, inUse);
        WSADATA winsock {};
        QCOMPARE(WSAStartup(MAKEWORD(2, 2), &winsock), 0);
        sockaddr_in at {}; // 127.0.0.1 at a free port: the system's pick, let go at once
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof at;
        const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ::bind(probe, reinterpret_cast<sockaddr *>(&at), size);
        ::getsockname(probe, reinterpret_cast<sockaddr *>(&at), &size);
        ::closesocket(probe);
        const std::uint16_t port = ntohs(at.sin_port);
        const auto echo = [] { return std::make_unique<Echo>(); };
        RemoteServer first(echo), server(echo);
        std::ostringstream err;
        if (inUse) {
            QVERIFY(first.listenLoopback(port, err));
            QVERIFY(!server.listenLoopback(port, err));
            const std::string words = Win32Registry::systemWords(WSAEADDRINUSE); // none in Wine
            QCOMPARE(err.str(),
                     "selvane: SCPI is off: cannot listen at 127.0.0.1:" + std::to_string(port)
                         + ": " + (words.empty() ? "error 10048" : words) + "\n");
            return;
        }
        QVERIFY(server.listenLoopback(port, err));
        const SOCKET client = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        QCOMPARE(::connect(client, reinterpret_cast<const sockaddr *>(&at), sizeof at), 0);
        // Wine finds a socket's owner only once its process has used it: the line goes out
        // before the panel takes the connection.
        QCOMPARE(::send(client, "*IDN?\n", 6, 0), 6);
        u_long nonBlocking = 1;
        ::ioctlsocket(client, FIONBIO, &nonBlocking);
        QByteArray answer;
        QVERIFY(QTest::qWaitFor(
            [&] { // the line, or a close unanswered
                char buffer[64];
                const int got = ::recv(client, buffer, sizeof buffer, 0);
                answer.append(buffer, std::max(got, 0));
                return answer.endsWith('\n') || got == 0
                       || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
            },
            60'000));
        ::closesocket(client);
        QCOMPARE(answer, QByteArray("*IDN?\n"));
        QTRY_COMPARE_WITH_TIMEOUT(server.scripts(), 0, 60'000); // its link goes with it
    }

    void aNameHasOneListener()
    {
        const QString name = uniqueName();
        ScriptClient client;
        QCOMPARE(int(client.connect(name, QDeadlineTimer(60'000))), int(Outcome::NoPanel));
        QCOMPARE(client.why(), QStringLiteral("nothing listens at \\\\.\\pipe\\") + name);
        ScriptListener first;
        ScriptListener second;
        QCOMPARE(first.listen(name), QString());
        const QString why = second.listen(name);
        if (why.isEmpty() && GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
            QSKIP("Wine makes a first instance of a name that has one: it does not honour "
                  "FILE_FLAG_FIRST_PIPE_INSTANCE");
        QCOMPARE(why, QStringLiteral("another program already listens at \\\\.\\pipe\\") + name);
    }
};

QTEST_GUILESS_MAIN(tst_ScriptPipe)
#include "tst_ScriptPipe.moc"
