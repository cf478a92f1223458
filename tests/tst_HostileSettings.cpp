// SPDX-License-Identifier: MIT
// Every stored value replaced in turn by data the panel never writes itself: the panel
// starts every time, shows what the settings store makes of such data, and saves cleanly.

#include "Bench.h"

#include <QPushButton>

namespace {

/** Every value of a context: its name, whether it is a number, and its unit (0: none). */
struct Setting
{
    std::string name;
    bool number;
    int unit;
};

std::vector<Setting> settings()
{
    std::vector<Setting> all {{"Units", true, 0}, {"X", true, 0}, {"Y", true, 0}};
    for (int unit = 1; unit <= 3; ++unit) {
        const std::string n = std::to_string(unit);
        for (const char *name : {".Board", ".PAd", ".SAd"})
            all.push_back({n + name, true, unit});
        for (const char *name : {".A.title", ".B.title", ".A1.label", ".A2.label", ".A3.label",
                                 ".A4.label", ".B1.label", ".B2.label", ".B3.label", ".B4.label"})
            all.push_back({n + name, false, unit});
    }
    return all;
}

/** What the panel shows of a setting: a number or a text. */
QString shown(MainWindow &window, const Setting &setting)
{
    const UnitState &state = window.unit(std::max(setting.unit - 1, 0));
    const UnitPanel &panel = window.panel(std::max(setting.unit - 1, 0));
    const std::string field = setting.name.substr(std::min<std::size_t>(setting.name.size(), 2));
    if (setting.name == "Units")
        return QString::number(window.UnitCount());
    if (field == "Board" || field == "PAd" || field == "SAd")
        return QString::number(field == "Board" ? state.Board
                               : field == "PAd" ? state.PAd
                                                : state.SAd);
    if (field == "A.title" || field == "B.title")
        return (field[0] == 'A' ? panel.ATxt : panel.BTxt)->text();
    const int position = (field[0] - 'A') * 4 + field[1] - '1';
    return panel.Position[position]->text();
}

/** What the panel shows when nothing usable is stored. */
QString fallback(const Setting &setting)
{
    const std::string field = setting.name.substr(2);
    if (setting.number)
        return QStringLiteral("%1").arg(field == "PAd" ? 7 : 0);
    if (field == "A.title" || field == "B.title")
        return field[0] == 'A' ? QStringLiteral("Device 1") : QStringLiteral("Device 2");
    return QString::fromStdString(field.substr(0, 2));
}

} // namespace

class tst_HostileSettings : public QObject
{
    Q_OBJECT
private slots:
    void panelStartsShowsAndSavesCleanly_data();
    void panelStartsShowsAndSavesCleanly();
};

void tst_HostileSettings::panelStartsShowsAndSavesCleanly_data()
{
    QTest::addColumn<int>("setting");
    QTest::addColumn<uint>("type"); // 0: the setting's own type
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("number"); // what the panel shows; empty: the default
    QTest::addColumn<QString>("text");
    const auto all = settings();
    for (int s = 0; s < int(all.size()); ++s) {
        const char *name = all[s].name.c_str();
        if (all[s].number)
            QTest::addRow("%s, a text", name) << s << 1u << QByteArray("9\0", 2) << "57"
                                              << "";
        else
            QTest::addRow("%s, a number", name)
                << s << 4u << QByteArray("Ok\0\0", 4) << "" << QString::fromUtf8("Ok\0", 3);
        QTest::addRow("%s, zero bytes", name) << s << 0u << QByteArray() << "0"
                                              << "";
        QTest::addRow("%s, 5000 bytes", name) << s << 0u << QByteArray(5000, 'x') << ""
                                              << "";
        QTest::addRow("%s, invalid UTF-8", name)
            << s << 1u << QByteArray("\xC3\x28\0", 3) << "10435" << QString(QChar(0xFFFD)) + '(';
        QTest::addRow("%s, embedded NULs", name)
            << s << 0u << QByteArray("a\0b\0", 4) << "6422625" << QString::fromUtf8("a\0b", 3);
    }
}

void tst_HostileSettings::panelStartsShowsAndSavesCleanly()
{
    QFETCH(int, setting);
    QFETCH(uint, type);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, number);
    QFETCH(QString, text);
    const Setting target = settings()[std::size_t(setting)];
    Bench bench("");
    bench.store.WriteValue(kBench, "Units", 3.0);
    QCOMPARE(storeRaw(bench.registry, kBench, target.name,
                      type            ? type
                      : target.number ? 4
                                      : 1,
                      bytes.toStdString()),
             0L);
    bench.window.Load("Bench");
    QVERIFY(!bench.window.hasClosed());
    const QString expected = target.number ? number : text;
    if (target.name == "Units") // nothing of this is a count of 1 to 3: it is asked for
        QCOMPARE(bench.modals.seen.size(), 1);
    else if (target.name != "X" && target.name != "Y")
        QCOMPARE(shown(bench.window, target),
                 expected.isEmpty() || expected.toInt() > 32767 ? fallback(target) : expected);
    QVERIFY(bench.modals.seen.size() <= 1); // no message: only the count may be asked for
    const QRect screen = QRect(QPoint(), TwipsScale::screenSizeTwips() - QSize(84, 84));
    QVERIFY(
        screen.contains(TwipsScale::primaryScreen().toTwips(bench.window.frameGeometry().left()),
                        TwipsScale::primaryScreen().toTwips(bench.window.frameGeometry().top())));

    bench.window.close(); // saved cleanly: every value of the shown units in its own type
    const auto values = contextValues(bench.file, kBench);
    for (const Setting &other : settings()) {
        if (other.unit > bench.window.UnitCount())
            continue;
        const auto &[savedType, saved] = values.at(other.name);
        QCOMPARE(savedType, other.number ? 4L : 1L);
        QVERIFY(other.number ? saved.size() == 4 : !saved.empty() && saved.back() == 0);
    }
}

QTEST_MAIN(tst_HostileSettings)
#include "tst_HostileSettings.moc"
