// SPDX-License-Identifier: MIT
// The real program as the operator starts it: copies ended together by any quit signal save
// like a close and lose nothing (Qt never sees their command lines), and a kill at any moment
// of the shutdown writes leaves every value in its old or its new form.

#include "PlatformRegistry.h"
#include "settings/SqliteRegistry.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <fstream>
#include <random>

namespace {

/** Value name -> its bytes as seeded, and as the program writes them back. */
using Expected = std::map<std::string, std::pair<Bytes, Bytes>>;

/**
 * Seeds a context with three units (at addresses 1, 2 and 3) whose every value but "Units" is
 * stored in a form the program reads fine but writes back differently: numbers in two bytes,
 * texts without their NUL. So each value in the file is either exactly its old or its new form.
 */
Expected seedContext(const std::string &file, const std::string &context)
{
    SqliteRegistry registry(file);
    Expected values;
    const auto put = [&](const std::string &name, std::uint32_t type, const std::string &before) {
        storeRaw(registry, context, name, type, before);
        Bytes after(before.begin(), before.end());
        type == 1 ? after.push_back(0) : after.resize(4); // a text's NUL, a number's four bytes
        values[name] = {Bytes(before.begin(), before.end()), after};
    };
    put("Units", 4, std::string("\3\0\0\0", 4));
    for (char unit = '1'; unit <= '3'; ++unit) { // the unit with number n at address n
        for (const char *name : {".Board", ".PAd", ".SAd"})
            put(unit + std::string(name), 4, {name[1] == 'P' ? char(unit - '0') : '\0', '\0'});
        for (const char *name : {".A.title", ".B.title", ".A1.label", ".A2.label", ".A3.label",
                                 ".A4.label", ".B1.label", ".B2.label", ".B3.label", ".B4.label"})
            put(unit + std::string(name), 1, "u" + (unit + std::string(name)));
    }
    put("X", 4, "\x2C\x01"); // 300 twips: a whole pixel at 96 DPI
    put("Y", 4, "\x2C\x01");
    return values;
}

/** How many values hold their new form; -1 when one holds neither form. */
int newValues(const RegistryDump &dump, const std::string &context, const Expected &expected)
{
    const auto it = dump.find(kContextPath + context);
    if (it == dump.end() || it->second.size() != expected.size())
        return -1;
    int changed = 0;
    for (const auto &[name, forms] : expected) {
        const auto value = it->second.find(name);
        if (value == it->second.end())
            return -1;
        const Bytes &bytes = std::get<1>(value->second);
        if (bytes != forms.first && bytes != forms.second)
            return -1;
        changed += bytes == forms.second && forms.second != forms.first;
    }
    return changed;
}

bool integrityOk(const std::string &file)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *check = nullptr;
    const bool ok =
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == 0
        && sqlite3_step(check) == SQLITE_ROW
        && QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(check, 0))) == "ok";
    sqlite3_finalize(check);
    sqlite3_close(db);
    return ok;
}

/** The program, with the instrument of unit 1 on the bus and a trace of every driver call. */
struct Program
{
    /** With `gate`, every write to the settings file waits at the gate of that folder. */
    Program(const std::string &registryFile, const std::string &trace, const QStringList &arguments,
            const std::string &gate = {}, const QString &driver = SELVANE_SIM_LIBRARY)
        : traceFile(QString::fromStdString(trace))
    {
        QFile::remove(traceFile);
        QProcessEnvironment environment = Program::environment(registryFile, gate);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("SELVANE_GPIB_LIBRARY", driver);
        environment.insert("SELVANE_SIM_DEVICES", "0:1:0");
        environment.insert("SELVANE_SIM_TRACE", traceFile);
        process.setProcessEnvironment(environment);
        process.start(SELVANE_PROGRAM, arguments);
    }
    /** On the settings file; with `gate`, every write to it waits at the gate of that folder. */
    static QProcessEnvironment environment(const std::string &registryFile, const std::string &gate)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!gate.empty()) {
            environment.insert("LD_PRELOAD", SELVANE_WRITE_GATE);
            environment.insert("SELVANE_TEST_WRITE_GATE", QString::fromStdString(gate));
            // The gate comes before the sanitizers' runtime in the list of libraries.
            environment.insert("ASAN_OPTIONS",
                               environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        }
        environment.insert("SELVANE_REGISTRY", QString::fromStdString(registryFile));
        return environment;
    }
    QString said() { return QString::fromUtf8(process.readAllStandardError()); }
    bool ended() const { return process.state() == QProcess::NotRunning; }
    int offlineCalls() const
    {
        QFile file(traceFile);
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count("\"call\":\"ibonl\"")) : 0;
    }
    /** Start-up has tried all three units (units 2 and 3 fail and go offline at once); the
        quit signals were handled before it began. */
    bool startedUp()
    {
        return process.waitForStarted()
               && QTest::qWaitFor([this] { return offlineCalls() >= 2; }, 10000);
    }
    bool signal(int number) const { return ::kill(pid_t(process.processId()), number) == 0; }
    /** Its main thread waits in the event loop's poll(): a box waits for the operator. */
    bool waiting() const
    {
        QFile state(QStringLiteral("/proc/%1/syscall").arg(process.processId()));
        return state.open(QIODevice::ReadOnly) && state.readAll().startsWith("7 ");
    }

    QString traceFile;
    QProcess process;
};

/** The folder where the preloaded gate holds the program's writes to its settings file. */
struct Gate
{
    std::string folder;

    QString waiting(const QString &what) const
    {
        return QString::fromStdString(folder) + "/waiting-" + what;
    }
    /** Whether the program waits at `what` (a write's number, or "exit"). */
    bool reached(const QString &what) const
    {
        return QTest::qWaitFor([&] { return QFile::exists(waiting(what)); }, 10000);
    }
    /** Lets the program through its first `writes` writes, at once. */
    bool open(int writes) const
    {
        for (int write = 1; write <= writes; ++write) {
            if (!std::ofstream(folder + "/go-" + std::to_string(write)))
                return false;
        }
        return true;
    }
    /** How many writes the program waited at. */
    int writesSeen() const
    {
        return int(QDir(QString::fromStdString(folder)).entryList({"waiting-[0-9]*"}).size());
    }
};

} // namespace

class tst_Program : public QObject
{
    Q_OBJECT
private slots:
    void copiesEndedTogetherSaveEverything()
    {
        const struct
        {
            QStringList arguments;
            std::string context;
            int signal;
        } copies[] = {
            {{"Bench"}, "SELVANE - Bench", SIGTERM},
            {{"Bench", "2"}, "SELVANE - Bench 2", SIGINT},
            {{}, "SELVANE", SIGHUP},
            {{"-platform", "foo"}, "SELVANE - -platform foo", SIGTERM},
            {{"-reverse", "-style", "x"}, "SELVANE - -reverse -style x", SIGTERM},
        };
        TemporaryFolder folder;
        const std::string file = folder.file("registry.sqlite3");
        const int rounds = qEnvironmentVariableIntValue("SELVANE_CONCURRENCY_ROUNDS");
        for (int round = 0; round < (rounds > 0 ? rounds : 50); ++round) {
            std::map<std::string, Expected> expected;
            for (const auto &copy : copies)
                expected[copy.context] = seedContext(file, copy.context);
            std::vector<std::unique_ptr<Program>> programs;
            for (const auto &copy : copies)
                programs.push_back(std::make_unique<Program>(
                    file, folder.file(std::to_string(programs.size()) + ".jsonl"), copy.arguments));
            for (const auto &program : programs)
                QVERIFY(program->startedUp());
            for (std::size_t i = 0; i < programs.size(); ++i)
                QVERIFY(programs[i]->signal(copies[i].signal));
            for (const auto &program : programs) {
                QVERIFY(program->process.waitForFinished(10000));
                QCOMPARE(program->process.exitStatus(), QProcess::NormalExit);
                QCOMPARE(program->process.exitCode(), 0);
                QCOMPARE(program->offlineCalls(), 3); // unit 1's open link too
            }
            const RegistryDump dump = dumpRegistry(file);
            for (const auto &[context, values] : expected)
                QCOMPARE(newValues(dump, context, values), int(values.size()) - 1);
        }
        QVERIFY(integrityOk(file));
        QCOMPARE(QDir(QString::fromStdString(folder.path().string())).entryList({"*.lock"}),
                 QStringList {"registry.sqlite3.lock"}); // one for all the file's instances
    }

    void anImportWaitsUntilThePanelOfItsInstanceHasClosed()
    {
        TemporaryFolder folder;
        const std::string file = folder.file("registry.sqlite3");
        const std::string path = folder.file("in.reg");
        const auto run = [&](const char *program, const QStringList &arguments) {
            QProcess tool;
            tool.setProcessEnvironment(Program::environment(file, {}));
            tool.start(program, arguments);
            // A tool still running after that is a failure, whatever its exit code would say.
            const int code = tool.waitForFinished(20000) ? tool.exitCode() : -1;
            return std::pair(code, QString::fromUtf8(tool.readAllStandardError()));
        };
        const auto import = [&](const char *label, const char *also = "") {
            std::ofstream(path) << "Windows Registry Editor Version 5.00\n\n[" << kContextPath
                                << "SELVANE - Bench]\n\"1.A1.label\"=\"" << label << "\"\n"
                                << also;
            return run(SELVANE_SETTINGS_PROGRAM, {"import", QString::fromStdString(path)});
        };
        // Another instance's panel, and one of this instance by another spelling, on another
        // settings file: neither is in the way.
        TemporaryFolder elsewhere;
        for (const char *context : {"SELVANE - Bench", "SELVANE - Bench 2"})
            seedContext(file, context);
        seedContext(elsewhere.file("registry.sqlite3"), "SELVANE - Bench");
        qputenv("SELVANE_REMOTE", "0"); // this one takes no scripts
        Program other(file, folder.file("other.jsonl"), {"Bench", "2"});
        qunsetenv("SELVANE_REMOTE");
        Program sameNameElsewhere(elsewhere.file("registry.sqlite3"), elsewhere.file("t.jsonl"),
                                  {"Bench"});
        QVERIFY(other.startedUp() && sameNameElsewhere.startedUp());
        QCOMPARE(import("First").first, 0);
        QCOMPARE(
            import("Both", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE - bench 2]\n"),
            std::pair(1, QStringLiteral("selvane-settings: a panel of instance bench 2 is "
                                        "running; close it first; nothing imported\n")));

        Program panel(file, folder.file("trace.jsonl"), {"bench"});
        QVERIFY(panel.startedUp());
        // It listens for scripts once its start-up is done; the one started earlier without.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return run(SELVANE_SWITCH_PROGRAM, {"--instance", "BENCH", "1A1"}).first == 0;
            },
            20000));
        QCOMPARE(run(SELVANE_SWITCH_PROGRAM, {"--instance", "Bench 2", "1A1"}).first, 2);
        QCOMPARE(import("Refused"),
                 std::pair(1, QStringLiteral("selvane-settings: a panel of instance Bench"
                                             " is running; close it first; nothing "
                                             "imported\n")));
        QCOMPARE(run(SELVANE_SETTINGS_PROGRAM, {"unset", "Bench", "Units"}).second,
                 "selvane-settings: a panel of instance Bench is running; close it first; "
                 "nothing removed\n");
        for (Program *program : {&panel, &other, &sameNameElsewhere}) {
            QVERIFY(program->signal(SIGTERM));
            QVERIFY(program->process.waitForFinished(10000));
        }
        QCOMPARE(import("Imported").first, 0);
        QCOMPARE(
            SettingsStore(*openTestRegistry(file)).ReadValue("SELVANE - Bench", "1.A1.label", "?"),
            "Imported");
    }

    void oneInstanceOnePanel()
    {
        TemporaryFolder folder;
        const std::string file = folder.file("registry.sqlite3");
        const QString front =
            "selvane: the panel of instance %1 is already running; brought it to the front\n";
        for (int round = 0; round < 10; ++round) { // two starts at the same instant: one panel
            seedContext(file, "SELVANE - Bench");
            Program a(file, folder.file("a.jsonl"), {"Bench"}),
                b(file, folder.file("b.jsonl"), {"Bench"});
            QVERIFY(QTest::qWaitFor([&] { return a.ended() || b.ended(); }, 20000));
            Program &first = a.ended() ? b : a, &second = a.ended() ? a : b;
            QVERIFY(second.said().endsWith(front.arg("Bench"))); // after what Qt may warn of
            QCOMPARE(second.process.exitCode(), 0);
            QVERIFY(first.startedUp() && first.signal(SIGTERM)
                    && first.process.waitForFinished(10000));
        }
        // In its unit-count dialog, a first start tells scripts that it starts, comes to the
        // front for a second start, and ends on a signal with nothing written.
        Program starting(file, folder.file("c.jsonl"), {"New"});
        QVERIFY(QTest::qWaitFor(
            [&] {
                QProcess client;
                client.setProcessEnvironment(Program::environment(file, {}));
                client.start(SELVANE_SWITCH_PROGRAM, {"--instance", "New", "--status"});
                return client.waitForFinished(20000)
                       && client.readAllStandardOutput().contains("the panel is starting");
            },
            20000));
        Program second(file, folder.file("d.jsonl"), {"New"});
        QVERIFY(second.process.waitForFinished(20000));
        QVERIFY(second.said().endsWith(front.arg("New")));
        QVERIFY(starting.signal(SIGTERM) && starting.process.waitForFinished(10000));
        QCOMPARE(starting.process.exitCode(), 0);
        QCOMPARE(dumpRegistry(file).count(kContextPath + std::string("SELVANE - New")), 0u);
        // An import, from another session's environment, holds the instance until it has
        // written: a start meanwhile opens no panel, and says why.
        QProcess import;
        QProcessEnvironment environment = Program::environment(file, folder.path().string());
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(folder.path().string()));
        environment.insert("HOME", "/nonexistent");
        import.setProcessEnvironment(environment);
        std::ofstream(folder.file("in.reg"))
            << "Windows Registry Editor Version 5.00\n\n[" << kContextPath
            << "SELVANE - Bench]\n\"X\"=dword:0000beef\n";
        import.start(SELVANE_SETTINGS_PROGRAM,
                     {"import", QString::fromStdString(folder.file("in.reg"))});
        QVERIFY(Gate {folder.path().string()}.reached("1"));
        Program refused(file, folder.file("e.jsonl"), {"Bench"});
        QVERIFY(refused.process.waitForFinished(20000) && refused.process.exitCode() == 1);
        QVERIFY(refused.said().contains("selvane: the panel of instance Bench is already running; "
                                        "it could not be asked to come to the front: nothing "
                                        "listens at "));
        QVERIFY(std::ofstream(folder.file("go-all")));
        QVERIFY(import.waitForFinished(20000) && import.exitCode() == 0);
    }

    void aCommandLineAnswersAPerson_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("display"); // empty: none set; "closed": output closed too
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out"); // a pattern for all of standard output
        QTest::addColumn<QString>("err"); // a pattern for all of standard error
        const QString usage = "Usage: selvane \\[NAME\\]\n(.|\n)*See selvane\\(1\\)(.|\n)*";
        const QString none = "selvane: cannot open the display \\(DISPLAY is not set\\): ";
        // clang-format off
        QTest::newRow("help") << QStringList {"--help"} << "" << 0 << usage << "";
        QTest::newRow("version") << QStringList {" --version"} << "" << 0 << "selvane \\d+\\.\\d+\\.\\d+\n" << "";
        QTest::newRow("the usage's box without a display") << QStringList {"-?"} << "" << 0 << usage << "";
        QTest::newRow("help inside a name needs a display") << QStringList {"Bench", "--help"} << "" << 1 << "" << none + ".+\n";
        QTest::newRow("a display nobody serves") << QStringList {"Bench"} << ":97" << 1 << "" << "selvane: cannot open the display :97: .*:97\n";
        QTest::newRow("help to a closed output") << QStringList {"--help"} << "closed" << 1 << "" << "selvane: cannot write standard output: Bad file descriptor\n";
        // clang-format on
    }

    void aCommandLineAnswersAPerson()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, display);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        TemporaryFolder folder;
        const std::string file = folder.file("registry.sqlite3");
        QProcess program;
        QProcessEnvironment environment = Program::environment(file, {});
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        if (display.startsWith(':'))
            environment.insert("DISPLAY", display);
        program.setProcessEnvironment(environment);
        program.start("sh", QStringList {"-c",
                                         display == "closed" ? "exec \"$0\" \"$@\" >&-"
                                                             : "exec \"$0\" \"$@\"",
                                         SELVANE_PROGRAM}
                                + arguments);
        QVERIFY(program.waitForFinished(20000));
        const QString printed = QString::fromUtf8(program.readAllStandardOutput());
        const QString said = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), code);
        QVERIFY2(QRegularExpression("^(" + out + ")$").match(printed).hasMatch(),
                 qPrintable(printed));
        QVERIFY2(QRegularExpression("^(" + err + ")$").match(said).hasMatch(), qPrintable(said));
        QVERIFY(!std::filesystem::exists(file)); // no instance is stored, none made
    }

    void aDriverFailureEndsTheStartWithStatusTwo()
    {
        TemporaryFolder folder;
        const std::string file = folder.file("registry.sqlite3");
        seedContext(file, "SELVANE - Bench");
        Program program(file, folder.file("t.jsonl"), {"Bench"}, {}, "/nonexistent/libgpib.so");
        QVERIFY(QTest::qWaitFor([&] { return program.waiting(); }, 20000)); // its box is open
        QVERIFY(program.signal(SIGTERM) && program.process.waitForFinished(10000));
        QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process.exitCode(), 2);
        QVERIFY(program.said().contains("selvane: File not found: /nonexistent/libgpib.so\n"));
    }

    void killDuringShutdownLeavesOldOrNewValues()
    {
        // The shutdown's writes, counted once with every write let through.
        const auto writes = [] {
            TemporaryFolder folder;
            const std::string file = folder.file("registry.sqlite3");
            seedContext(file, "SELVANE - Crash");
            Program program(file, folder.file("trace.jsonl"), {"Crash"}, folder.path().string());
            Gate gate {folder.path().string()};
            if (!program.startedUp() || !program.signal(SIGTERM))
                return 0;
            return std::ofstream(gate.folder + "/go-all") // counted, not held
                           && program.process.waitForFinished(10000)
                       ? gate.writesSeen()
                       : 0;
        }();
        QVERIFY2(writes > 8, qPrintable(QStringLiteral("%1 writes").arg(writes)));

        std::mt19937 random(1206);
        const int asked = qEnvironmentVariableIntValue("SELVANE_CRASH_ROUNDS");
        const int kills = asked > 0 ? asked : 200;
        for (int round = 0; round < kills; ++round) {
            TemporaryFolder folder;
            const std::string file = folder.file("registry.sqlite3");
            const Expected expected = seedContext(file, "SELVANE - Crash");
            Program program(file, folder.file("trace.jsonl"), {"Crash"}, folder.path().string());
            Gate gate {folder.path().string()};
            QVERIFY(program.startedUp());
            QVERIFY(program.signal(SIGTERM)); // the shutdown writes begin
            // Killed at the first write, at one between the first and last quarter, or at the
            // end after the last: held at the gate meanwhile, so nothing moves on unseen.
            const int place = round % 3;
            const int at = place == 0   ? 1
                           : place == 1 ? std::uniform_int_distribution<int>(writes / 4,
                                                                             writes * 3 / 4)(random)
                                        : writes + 1;
            QVERIFY(gate.open(at - 1));
            QVERIFY(gate.reached(place == 2 ? QStringLiteral("exit") : QString::number(at)));
            QVERIFY(program.signal(SIGKILL));
            QVERIFY(program.process.waitForFinished(10000));
            const QString where = QStringLiteral("round %1, write %2").arg(round).arg(at);
            QVERIFY2(integrityOk(file), qPrintable(where));
            const int changed = newValues(dumpRegistry(file), "SELVANE - Crash", expected);
            const int all = int(expected.size()) - 1;
            QVERIFY2(
                place == 0   ? changed == 0
                : place == 2 ? changed == all
                             : changed > 0 && changed < all,
                qPrintable(where + QStringLiteral(": %1 of %2 values new").arg(changed).arg(all)));
        }
    }
};

QTEST_GUILESS_MAIN(tst_Program)
#include "tst_Program.moc"
