// SPDX-License-Identifier: MIT
// The scripts' named pipe on Windows: the modes of its instances, a line there and back for
// one script after another, reading paused at the input's limit, and a name that has nobody
// or one listener.

#include "remote/ScriptClient.h"
#include "remote/ScriptListener.h"

#include <QPointer>
#include <QTest>

#include <atomic>
#include <thread>

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
