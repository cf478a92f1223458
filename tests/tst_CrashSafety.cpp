// SPDX-License-Identifier: MIT
// The settings file survives the program being killed at any moment of its shutdown writes,
// and copies with different instance names closing at the same moment lose nothing.

#include "ProgramRun.h"
#include "TestRegistry.h"
#include "settings/SettingsStore.h"

#include <QTest>

#include <random>

namespace {

struct Expected
{
    Bytes before; ///< as seeded
    Bytes after; ///< as the program writes it back
};

Bytes dword(std::uint32_t value)
{
    return {Bytes::value_type(value), Bytes::value_type(value >> 8), Bytes::value_type(value >> 16),
            Bytes::value_type(value >> 24)};
}

/**
 * Seeds a context with three units whose every value (but "Units") is stored in a form the
 * program reads fine but writes back differently: numbers in two bytes, texts without their
 * NUL. So each value in the file is either exactly its old or exactly its new form.
 */
std::map<std::string, Expected> seedContext(Registry &registry, const std::string &context)
{
    std::map<std::string, Expected> values;
    const auto put = [&](const std::string &name, std::uint32_t type, const Bytes &before,
                         const Bytes &after) {
        storeRaw(registry, context, name, type, std::string(before.begin(), before.end()));
        values[name] = {before, after};
    };
    put("Units", 4, dword(3), dword(3));
    for (int unit = 1; unit <= 3; ++unit) {
        const std::string n = std::to_string(unit);
        put(n + ".Board", 4, {0, 0}, dword(0));
        put(n + ".PAd", 4, {Bytes::value_type(unit), 0}, dword(std::uint32_t(unit)));
        put(n + ".SAd", 4, {0, 0}, dword(0));
        for (const char *name : {".A.title", ".B.title", ".A1.label", ".A2.label", ".A3.label",
                                 ".A4.label", ".B1.label", ".B2.label", ".B3.label", ".B4.label"}) {
            const std::string text = "u" + n + name;
            const Bytes after(text.c_str(), text.c_str() + text.size() + 1); // with its NUL
            put(n + name, 1, Bytes(text.begin(), text.end()), after);
        }
    }
    put("X", 4, {0x2C, 0x01}, dword(300)); // 300 twips: a whole pixel at 96 DPI
    put("Y", 4, {0x2C, 0x01}, dword(300));
    return values;
}

bool integrityOk(const std::string &file)
{
    sqlite3 *db = nullptr;
    bool ok = false;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt *check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK
            && sqlite3_step(check) == SQLITE_ROW)
            ok = std::string(reinterpret_cast<const char *>(sqlite3_column_text(check, 0))) == "ok";
        sqlite3_finalize(check);
    }
    sqlite3_close(db);
    return ok;
}

/** How many values hold their new form; -1 when one holds neither form. */
int newValues(const RegistryDump &dump, const std::string &context,
              const std::map<std::string, Expected> &expected)
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
        if (bytes == forms.after && forms.after != forms.before)
            ++changed;
        else if (bytes != forms.before)
            return -1;
    }
    return changed;
}

/** Start-up has tried all three units once every one of them was closed or taken offline. */
bool startedUp(const ProgramRun &program)
{
    return program.trace().count(QLatin1String("\"call\":\"ibonl\"")) >= 3;
}

} // namespace

class tst_CrashSafety : public QObject
{
    Q_OBJECT
private slots:
    void killDuringShutdownLeavesOldOrNewValues();
    void copiesClosingTogetherLoseNothing();
};

void tst_CrashSafety::killDuringShutdownLeavesOldOrNewValues()
{
    const int rounds = qEnvironmentVariableIntValue("SELVANE_CRASH_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("SELVANE_CRASH_ROUNDS")
                           : 200;
    std::mt19937 random(1206);
    int allOld = 0;
    int allNew = 0;
    int partly = 0;
    for (int round = 0; round < rounds; ++round) {
        TemporaryFolder folder;
        const std::string file = folder.file("registry.sqlite3");
        std::map<std::string, Expected> expected;
        {
            SqliteRegistry registry(file);
            expected = seedContext(registry, "SELVANE - Crash");
        }
        ProgramRun program(file, folder.file("trace.jsonl"));
        program.start({QStringLiteral("Crash")}, QString()); // no instrument: quick failures
        QVERIFY(program.process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(startedUp(program), 10000);
        QVERIFY(program.waitForHandlers());
        // SIGTERM starts the shutdown writes; SIGKILL lands somewhere in or around them.
        const int delayUs = std::uniform_int_distribution<int>(0, 2500)(random);
        QVERIFY(program.signal(SIGTERM));
        ::usleep(static_cast<useconds_t>(delayUs));
        program.signal(SIGKILL);
        QVERIFY(program.process.waitForFinished(10000));

        QVERIFY2(integrityOk(file), qPrintable(QStringLiteral("round %1").arg(round)));
        const int changed = newValues(dumpRegistry(file), "SELVANE - Crash", expected);
        QVERIFY2(changed >= 0,
                 qPrintable(QStringLiteral("round %1: a value is neither old nor new").arg(round)));
        if (changed == 0)
            ++allOld;
        else if (changed == int(expected.size()) - 1)
            ++allNew;
        else
            ++partly;
    }
    qInfo("%d kills: %d before any write, %d after the last, %d between writes", rounds, allOld,
          allNew, partly);
}

void tst_CrashSafety::copiesClosingTogetherLoseNothing()
{
    constexpr int kCopies = 5;
    const int rounds = qEnvironmentVariableIntValue("SELVANE_CONCURRENCY_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("SELVANE_CONCURRENCY_ROUNDS")
                           : 50;
    TemporaryFolder folder;
    const std::string file = folder.file("registry.sqlite3");
    for (int round = 0; round < rounds; ++round) {
        std::map<std::string, std::map<std::string, Expected>> expected;
        {
            SqliteRegistry registry(file);
            for (int copy = 0; copy < kCopies; ++copy) {
                const std::string context = "SELVANE - Bench" + std::to_string(copy);
                expected[context] = seedContext(registry, context);
            }
        }
        std::vector<std::unique_ptr<ProgramRun>> copies;
        for (int copy = 0; copy < kCopies; ++copy) {
            copies.push_back(std::make_unique<ProgramRun>(
                file, folder.file("trace" + std::to_string(copy) + ".jsonl")));
            QFile::remove(
                QString::fromStdString(folder.file("trace" + std::to_string(copy) + ".jsonl")));
            copies.back()->start({QStringLiteral("Bench%1").arg(copy)}, QString());
        }
        for (const auto &copy : copies) {
            QVERIFY(copy->process.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(startedUp(*copy), 10000);
            QVERIFY(copy->waitForHandlers());
        }
        for (const auto &copy : copies)
            QVERIFY(copy->signal(SIGTERM));
        for (const auto &copy : copies) {
            QVERIFY(copy->process.waitForFinished(10000));
            QCOMPARE(copy->process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(copy->process.exitCode(), 0);
        }
        const RegistryDump dump = dumpRegistry(file);
        for (const auto &[context, values] : expected) {
            QCOMPARE(newValues(dump, context, values), int(values.size()) - 1);
        }
    }
    QVERIFY(integrityOk(file));
}

QTEST_GUILESS_MAIN(tst_CrashSafety)
#include "tst_CrashSafety.moc"
