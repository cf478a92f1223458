// SPDX-License-Identifier: MIT
// The panel as an SCPI instrument on its loopback port, driven through PyVISA as a test
// engineer's script drives it: every command, a refused list, a bus failure within a list,
// the error queue, the operator's priority, and who gets an answer.

#include "Bench.h"
#include "remote/ScpiInstrument.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>

#include <functional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

/** Loopback's address and `port`, 127.0.0.1 or `six` ::1; its size in `*size`. */
sockaddr_storage loopback(bool six, std::uint16_t port, socklen_t *size)
{
    sockaddr_storage address {};
    if (six) {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(address);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        in6.sin6_addr = in6addr_loopback;
        *size = sizeof in6;
    } else {
        auto &in = reinterpret_cast<sockaddr_in &>(address);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        *size = sizeof in;
    }
    return address;
}

/**
 * A port of 127.0.0.1 and ::1 that no other program can take meanwhile: bound with
 * SO_REUSEADDR and never listened on, which lets a listener with the same flag (the panel)
 * have it, and keeps the kernel from giving it to anyone else.
 */
struct HeldPort
{
    HeldPort()
    {
        while (port == 0) {
            std::uint16_t chosen = 0;
            fds[0] = bound(false, 0, &chosen);
            errno = 0;
            fds[1] = bound(true, chosen, nullptr);
            if (fds[1] >= 0 || errno != EADDRINUSE) // no ::1 here: 127.0.0.1 alone
                port = chosen;
            else
                ::close(fds[0]);
        }
    }
    ~HeldPort()
    {
        for (const int fd : fds)
            fd >= 0 ? ::close(fd) : 0;
    }
    static int bound(bool six, std::uint16_t port, std::uint16_t *chosen)
    {
        const int fd = ::socket(six ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        socklen_t size = 0;
        sockaddr_storage address = loopback(six, port, &size);
        if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
            || (six && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0)
            || ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0
            || (chosen && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        if (chosen)
            *chosen = ntohs(reinterpret_cast<sockaddr_in &>(address).sin_port);
        return fd;
    }
    int fds[2] = {-1, -1};
    std::uint16_t port = 0;
};

/** The panel of the bench's instance, with unit 1 at 7 and unit 2 at 9 where nobody
    listens, SCPI at SELVANE_SCPI_PORT `chosen` or at the setting `stored` (-1: none). */
void start(Bench &bench, const QString &chosen, int stored = -1)
{
    for (const auto &[name, text] : {std::pair {"1.A1.label", "Cal"},
                                     {"1.A2.label", "Say \"hi\""},
                                     {"1.A4.label", ""},
                                     {"1.B2.label", "Cal 50 Ω"}})
        bench.store.WriteValue(kBench, name, std::string(text));
    bench.store.WriteValue(kBench, "2.PAd", 9.0);
    if (stored >= 0)
        bench.store.WriteValue(kBench, "SCPIPort", double(stored));
    const SavedVariable saved("SELVANE_SCPI_PORT");
    setEnvironment("SELVANE_SCPI_PORT", chosen.isNull() ? nullptr : qPrintable(chosen));
    bench.window.setListening(true);
    bench.start(2);
}

/** Each line written through PyVISA in order, a line that begins with "?" as a query: the
    answers, read while the panel serves; the client's complaint when it failed. The lines
    {"page"}: the SCPI page's example, at this port in place of 5025. */
QStringList pyvisa(std::uint16_t port, const QStringList &lines)
{
    QProcess client;
    if (lines == QStringList {"page"}) {
        QFile page(SELVANE_SCPI_DOC);
        if (!page.open(QIODevice::ReadOnly))
            return {page.errorString()};
        const QString text = QString::fromUtf8(page.readAll());
        const qsizetype start = text.indexOf("```python\n") + 10;
        const QString example = text.mid(start, text.indexOf("```", start) - start);
        client.start(SELVANE_PYTHON,
                     {"-c", QString(example).replace("5025", QString::number(port))});
    } else {
        client.start(SELVANE_PYTHON, {SELVANE_SCPI_CLIENT, QString::number(port)});
    }
    client.write((lines.join('\n') + '\n').toUtf8());
    client.closeWriteChannel();
    if (!QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 300'000))
        return {"(the client did not end)"};
    QStringList answers = QString::fromUtf8(client.readAllStandardOutput()).split('\n');
    answers.removeLast();
    if (client.exitStatus() != QProcess::NormalExit || client.exitCode() != 0)
        answers << QString::fromUtf8(client.readAllStandardError());
    return answers;
}

/** The channels whose buttons show green, as "113 124". */
QString green(Bench &bench)
{
    QStringList channels;
    for (int unit = 0; unit < 2; ++unit) {
        for (int p = 0; p < 8; ++p) {
            if (faceColour(bench.window.panel(unit).Position[p]) == QColor(0, 255, 0))
                channels << QStringLiteral("%1%2%3").arg(unit + 1).arg(p / 4 + 1).arg(p % 4 + 1);
        }
    }
    return channels.join(' ');
}

/** Whether the panel has closed its ends of every connection at `port`, listening aside. */
bool allClosed(std::uint16_t port, bool six)
{
    QFile table(six ? QStringLiteral("/proc/net/tcp6") : QStringLiteral("/proc/net/tcp"));
    const QByteArray at = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    if (!table.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1].endsWith(at) && fields[3] != "0A")
            return false;
    }
    return true;
}

/** What a client of this user, or of `nobody`, gets for "*IDN?" at 127.0.0.1 or `six` ::1:
    the line; empty when the connection was refused, or closed without a byte. One that has
    `gone` asks for a close and hangs up before the panel takes its connection, and waits for
    the panel to have closed it. */
QString identify(std::uint16_t port, bool six, bool nobody, bool gone = false)
{
    int ends[2];
    if (::pipe(ends) != 0)
        return QStringLiteral("(no pipe)");
    const pid_t child = ::fork();
    if (child == 0) { // system calls alone, before its exit
        char line[256];
        ssize_t got = 0;
        socklen_t size = 0;
        const sockaddr_storage address = loopback(six, port, &size);
        const int fd =
            nobody && ::setuid(65534) != 0 ? -1 : ::socket(address.ss_family, SOCK_STREAM, 0);
        if (gone)
            ::_exit(
                fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), size) == 0
                        && ::send(fd, "ROUT:CLOS (@113)\n", 17, MSG_NOSIGNAL) == 17
                    ? 0
                    : 1);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), size) == 0
            && ::send(fd, "*IDN?\n", 6, MSG_NOSIGNAL) == 6)
            while (got < ssize_t(sizeof line)) {
                const ssize_t more = ::recv(fd, line + got, sizeof line - std::size_t(got), 0);
                if (more <= 0)
                    break;
                got += more;
                if (line[got - 1] == '\n')
                    break;
            }
        ::_exit(::write(ends[1], line, std::size_t(got)) == got ? 0 : 1);
    }
    ::close(ends[1]);
    int status = -1; // the panel answers only from this event loop; one that is gone ends first
    const bool ended =
        gone
            ? ::waitpid(child, &status, 0) == child
                  && QTest::qWaitFor([&] { return allClosed(port, six); }, 300'000)
            : QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 300'000);
    if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("(the client failed, or the panel kept its connection)");
    char line[256];
    const ssize_t got = ::read(ends[0], line, sizeof line);
    ::close(ends[0]);
    return got >= 0 ? QString::fromUtf8(line, got).trimmed() : QStringLiteral("(no answer)");
}

/** Calls `turn` in each turn of the event loop, as the operator's clicks and repaints come
    one after another: an event that queues itself again. */
class EachTurn : public QObject
{
public:
    explicit EachTurn(std::function<void()> turn)
        : m_turn(std::move(turn))
    {
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        m_turn();
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        return true;
    }

private:
    std::function<void()> m_turn;
};

QString error(int code, const QString &text)
{
    return QStringLiteral("%1,\"%2\"").arg(code).arg(text);
}

} // namespace

class tst_Scpi : public QObject
{
    Q_OBJECT
private slots:
    void anInstrumentOnTheBench_data()
    {
        QTest::addColumn<QString>("holder"); // "edit 1", "configuring": the operator's
        QTest::addColumn<QStringList>("lines"); // "?" first: a query, whose answer is read
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("green"); // the channels shown selected afterwards
        QTest::addColumn<QString>("writes");
        const QString none = error(0, "No error");
        QStringList overflow, unread;
        for (int i = 1; i <= 12; ++i)
            overflow << QStringLiteral("BAD%1").arg(i);
        for (int i = 1; i <= 9; ++i)
            unread << error(-113, QStringLiteral("Undefined header;BAD%1").arg(i));
        // clang-format off
        QTest::newRow("switching, and reading back") << "" << QStringList {"ROUT:CLOS (@113)", ":route:close:exclusive (@124)", "?ROUTe:CLOSe? (@111:113,121:124)", "?rout:chan:lab? (@111,112,122)", "?ROUT:CLOS (@111);CLOS? (@111,113);:SYST:ERR?"}
            << QStringList {"0,0,1,0,0,0,1", R"("Cal","Say ""hi""","Cal 50 Ω")", "1,0;" + none} << "111 124" << "ibwrt(32,2)=4133 ibwrt(32,2)=4234 ibwrt(32,2)=4131";
        QTest::newRow("the SCPI page's example") << "" << QStringList {"page"} << QStringList {"Talvern Software,SELVANE,Bench," SELVANE_VERSION_TEXT, "0,1,1;" + none} << "113 124" << "ibwrt(32,2)=4133 ibwrt(32,2)=4234";
        QTest::newRow("identification and status") << "" << QStringList {"?*IDN?", "*ESE 60", "*SRE 48", "?*ESE?;*SRE?", "ROUT:OPEN (@111)", "?*STB?", "?*ESR?", "*OPC", "?*ESR?;*OPC?;*TST?", "*WAI", "*RST", "?SYST:ERR:COUN?", "*CLS", "?SYST:ERR:COUN?;*STB?;*ESR?", "?SYST:VERS?", "*ESE 0", "*WAI 1", "?*ESE?;SYST:ERR?"}
            << QStringList {"Talvern Software,SELVANE,Bench," SELVANE_VERSION_TEXT, "60;48", "100", "16", "1;1;0", "1", "0;0;0", "1999.0", "0;" + error(-108, "Parameter not allowed")} << "" << "";
        QTest::newRow("a refused list changes nothing") << "" << QStringList {"ROUT:CLOS (@113)", "ROUT:CLOS (@121,111,112)", "ROUT:CLOS (@121,311)", "ROUT:CLOS (@121,114)", "ROUT:CLOS (@121:122)", "ROUT:CLOS (@121,131)", "ROUT:OPEN:ALL", "?SYST:ERR:COUN?;*ESR?", "?SYST:ERR?", "?SYST:ERR?", "?SYST:ERR?", "?SYST:ERR?", "?SYST:ERR?", "?SYST:ERR?", "?SYST:ERR?"}
            << QStringList {"6;16", error(-221, "Settings conflict;A1 and A2 of unit 1 are one section"), error(-222, "Data out of range;unit 3 is not shown"), error(-222, "Data out of range;unit 1 has no button A4: its label is empty"), error(-221, "Settings conflict;B1 and B2 of unit 1 are one section"),
                            error(-222, "Data out of range;no channel 131 here: its digits are a unit (1-3), a section (1 for A, 2 for B) and a position (1-4)"), error(-221, "Settings conflict;a section is always at one of its positions: close another one to move it"), none} << "113" << "ibwrt(32,2)=4133";
        QTest::newRow("a bus failure stops the list") << "" << QStringList {"?ROUT:CLOS (@111,211,123);*OPC?", "?SYST:ERR?;*ESR?"}
            << QStringList {"1", error(-240, "Hardware error;unit 2 did not take A1: the driver answered ENOL") + ";16"} << "111" << "ibwrt(32,2)=4131";
        QTest::newRow("errors in their order, and the overflow") << "" << overflow + QStringList {"?SYST:ERR:COUN?;*ESR?"} + QStringList(11, "?SYST:ERROR:NEXT?")
            << QStringList {"10;40"} + unread + QStringList {error(-350, "Queue overflow"), none} << "" << "";
        QTest::newRow("a command error drops the rest of its line, others do not") << "" << QStringList {"FOO;*OPC?", "ROUT:CLOS? (@411)", "ROUT:CLOS @111;*OPC?", "*IDN? 1;*OPC?", "ROUT:CLOS", "*ESE 256", "?ROUT:CLOS (@111,112);*OPC?\r", "?SYST:ERR?;SYST:ERR?;SYST:ERR?", "?SYST:ERR?;SYST:ERR?;SYST:ERR?", "?SYST:ERR?", "?*ESR?"}
            << QStringList {"1", error(-113, "Undefined header;FOO") + ';' + error(-222, "Data out of range;no channel 411 here: its digits are a unit (1-3), a section (1 for A, 2 for B) and a position (1-4)") + ';' + error(-102, "Syntax error;a channel list is written as (@111,121:124)"),
                            error(-108, "Parameter not allowed") + ';' + error(-109, "Missing parameter;a channel list, as (@111)") + ';' + error(-222, "Data out of range;*ESE takes a number from 0 to 255"), error(-221, "Settings conflict;A1 and A2 of unit 1 are one section"), "48"} << "" << "";
        QTest::newRow("a line longer than 4096 bytes, and what cannot be shown") << "" << QStringList {"*OPC?;" + QString(5000, ' ') + "*OPC?", "ROUT:CLOS? (@1\x01é)", "?SYST:ERR?;SYST:ERR?;SYST:ERR?"}
            << QStringList {error(-223, "Too much data;the line is longer than 4096 bytes") + ';' + error(-102, "Syntax error;1??? is not a channel number") + ';' + none} << "" << "";
        QTest::newRow("a unit in edit mode") << "edit 1" << QStringList {"ROUT:CLOS (@211,111)", "?SYST:ERR?", "?ROUT:CLOS? (@111)"}
            << QStringList {error(-200, "Execution error;unit 1 is being edited"), "0"} << "" << "";
        QTest::newRow("a modal window") << "configuring" << QStringList {"ROUT:CLOS (@111)", "ROUT:CHAN:LAB? (@111)", "?SYST:ERR?;SYST:ERR?;*OPC?"}
            << QStringList {error(-200, "Execution error;the configuration dialog is open") + ';' + error(-200, "Execution error;the configuration dialog is open") + ";1"} << "" << "ibwrt(32,2)=5858"; // the dialog's reopening
        // clang-format on
    }

    void anInstrumentOnTheBench()
    {
        QFETCH(QString, holder);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, answers);
        QFETCH(QString, green);
        QFETCH(QString, writes);
        const HeldPort held;
        Bench bench;
        const StandardError heard;
        start(bench, QString::number(held.port));
        QCOMPARE(QString::fromStdString(heard.text.str()), QString());
        if (holder == "edit 1")
            QTest::mouseClick(bench.window.panel(0).Edit, Qt::LeftButton);
        QStringList heardBack;
        bench.modals.queue([&](QWidget *modal) { // the client runs while the dialog is open
            heardBack = pyvisa(held.port, lines);
            modal->close();
        });
        if (holder == "configuring")
            QTest::mouseClick(bench.window.panel(0).Config, Qt::LeftButton);
        else
            heardBack = pyvisa(held.port, lines);
        QCOMPARE(heardBack, answers);
        QCOMPARE(::green(bench), green);
        QCOMPARE(bench.trace().filter(QStringLiteral("ibwrt")).join(' '), writes);
    }

    void theOperatorHasATurnBetweenTwoLines()
    {
        const HeldPort held;
        Bench bench;
        start(bench, QString::number(held.port));
        socklen_t size = 0;
        const sockaddr_storage address = loopback(false, held.port, &size);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const auto closed = qScopeGuard([fd] { ::close(fd); });
        const QByteArray lines = QByteArray("ROUT:CLOS (@111);*OPC?\n").repeated(30);
        QVERIFY(::connect(fd, reinterpret_cast<const sockaddr *>(&address), size) == 0
                && ::send(fd, lines.data(), std::size_t(lines.size()), 0) == lines.size());
        qsizetype answered = 0, most = 0; // answers between two of the operator's turns
        const EachTurn operatorsTurn([&] {
            char bytes[1024];
            const ssize_t got = ::recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
            const qsizetype now = got > 0 ? QByteArrayView(bytes, got).count('\n') : 0;
            most = std::max(most, now);
            answered += now;
        });
        QVERIFY(QTest::qWaitFor([&] { return answered == 30; }, 300'000));
        QCOMPARE(most, 1);
    }

    void whoGetsAnAnswer_data()
    {
        QTest::addColumn<QString>("chosen"); // SELVANE_SCPI_PORT; "{port}": a free one
        QTest::addColumn<QString>("stored"); // "SCPIPort"
        QTest::addColumn<QString>("client"); // "me", "nobody", with " ::1"; "busy": the test
                                             // listens there first; "gone": see identify()
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("answer");
        const QString none, identity = "Talvern Software,SELVANE,Bench," SELVANE_VERSION_TEXT;
        const QString off = "selvane: %1 is not a port number from 0 to 65535; SCPI is off\n";
        // clang-format off
        QTest::newRow("this user, at the environment's port") << "{port}" << none << "me" << "" << identity;
        QTest::newRow("this user on ::1, at the setting's port") << none << "{port}" << "me ::1" << "" << identity;
        QTest::newRow("0 in the environment, over the setting") << "0" << "{port}" << "me" << "" << "";
        QTest::newRow("not a port number in the environment") << "50x" << "{port}" << "me" << off.arg("SELVANE_SCPI_PORT") << "";
        QTest::newRow("not a port number in the setting") << none << "65536" << "" << off.arg("the setting SCPIPort") << "";
        QTest::newRow("a port in use") << "{port}" << none << "busy" << "selvane: SCPI is off: cannot listen at 127.0.0.1:{port}: Address already in use\n" << "";
        QTest::newRow("another user") << "{port}" << none << "nobody" << "" << "";
        QTest::newRow("another user on ::1") << "{port}" << none << "nobody ::1" << "" << "";
        QTest::newRow("root's client, gone before root's panel took the connection") << "{port}" << none << "me gone" << "" << "";
        QTest::newRow("::1 in use") << "{port}" << none << "busy ::1 me" << "selvane: SCPI is off: cannot listen at [::1]:{port}: Address already in use\n" << "";
        // clang-format on
    }

    void whoGetsAnAnswer()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, stored);
        QFETCH(QString, client);
        QFETCH(QString, said);
        QFETCH(QString, answer);
        if ((client.startsWith("nobody") || client.endsWith("gone")) && ::getuid() != 0)
            QSKIP("only root can connect as another user, or has a closed client's uid");
        const HeldPort held;
        if (client.contains("::1") && held.fds[1] < 0)
            QSKIP("this machine has no ::1");
        const QString port = QString::number(held.port);
        QVERIFY(!client.startsWith("busy")
                || ::listen(held.fds[client.contains("::1") ? 1 : 0], 1) == 0);
        Bench bench;
        const StandardError heard;
        start(bench, QString(chosen).replace("{port}", port),
              stored.isNull() ? -1 : QString(stored).replace("{port}", port).toInt());
        QCOMPARE(QString::fromStdString(heard.text.str()), said.replace("{port}", port));
        if (client.contains("me") || client.startsWith("nobody"))
            QCOMPARE(identify(held.port, client.endsWith("::1"), client.startsWith("nobody"),
                              client.endsWith("gone")),
                     answer);
        QCOMPARE(bench.trace().filter(QStringLiteral("ibwrt")).join(' '), QString());
        // In the name, what would split the answer's fields or lines is a blank.
        QCOMPARE(ScpiInstrument(bench.window, "a,b;c\td\n").execute("*IDN?"),
                 "Talvern Software,SELVANE,a b c d ," SELVANE_VERSION_TEXT "\n");
    }
};

QTEST_MAIN(tst_Scpi)
#include "tst_Scpi.moc"
