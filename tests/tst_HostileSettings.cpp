// SPDX-License-Identifier: MIT
// Every stored value replaced in turn by data the panel never writes itself: the panel
// starts every time, shows what the settings store makes of such data, and saves cleanly.

#include "ModalAnswerer.h"
#include "SimBench.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const std::string kBench = "SELVANE - Bench";

enum class Kind { Units, Address, Text, Position };

struct Setting
{
    std::string name;
    Kind kind;
    int unit = 0; ///< unit index for per-unit values
    int field = 0; ///< address: 0 board, 1 pad, 2 sad; text: 0 A title, 1 B title, 2.. labels
};

std::vector<Setting> settings()
{
    std::vector<Setting> all {{"Units", Kind::Units}, {"X", Kind::Position}, {"Y", Kind::Position}};
    for (int unit = 0; unit < 3; ++unit) {
        const std::string n = std::to_string(unit + 1);
        all.push_back({n + ".Board", Kind::Address, unit, 0});
        all.push_back({n + ".PAd", Kind::Address, unit, 1});
        all.push_back({n + ".SAd", Kind::Address, unit, 2});
        all.push_back({n + ".A.title", Kind::Text, unit, 0});
        all.push_back({n + ".B.title", Kind::Text, unit, 1});
        int field = 2;
        for (const char *position : {"A1", "A2", "A3", "A4", "B1", "B2", "B3", "B4"})
            all.push_back({n + "." + position + ".label", Kind::Text, unit, field++});
    }
    return all;
}

struct Payload
{
    const char *name;
    std::uint32_t type;
    QByteArray bytes;
    int number; ///< what a number read makes of it; INT_MIN: the default
    QString text; ///< what a text read makes of it; null: the default
};

std::vector<Payload> payloads()
{
    return {
        {"wrong type", 0, {}, 0, {}}, // filled per kind below
        {"zero bytes", 0, QByteArray(), 0, QString()},
        {"5000 bytes", 0, QByteArray(5000, 'x'), INT_MIN, QString()},
        {"invalid UTF-8", 1, QByteArray("\xC3\x28\0", 3), 0x28C3, QString(QChar(0xFFFD)) + '('},
        {"embedded NULs", 1, QByteArray("\x00\x05\0", 3), 0x000500, QString()},
    };
}

int defaultNumber(const Setting &setting)
{
    return setting.kind == Kind::Address && setting.field == 1 ? 7 : 0;
}

QString defaultText(const Setting &setting)
{
    if (setting.field == 0)
        return QStringLiteral("Device 1");
    if (setting.field == 1)
        return QStringLiteral("Device 2");
    return QString::fromStdString(setting.name.substr(2, 2));
}

QString shownText(MainWindow &window, const Setting &setting)
{
    UnitPanel &panel = window.panel(setting.unit);
    if (setting.field == 0)
        return panel.ATxt->text();
    if (setting.field == 1)
        return panel.BTxt->text();
    return panel.Position[setting.field - 2]->text();
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
    QTest::addColumn<int>("payload");
    const auto all = settings();
    const auto kinds = payloads();
    for (std::size_t s = 0; s < all.size(); ++s) {
        for (std::size_t p = 0; p < kinds.size(); ++p) {
            QTest::addRow("%s, %s", all[s].name.c_str(), kinds[p].name) << int(s) << int(p);
        }
    }
}

void tst_HostileSettings::panelStartsShowsAndSavesCleanly()
{
    QFETCH(int, setting);
    QFETCH(int, payload);
    const Setting target = settings()[std::size_t(setting)];
    Payload data = payloads()[std::size_t(payload)];
    const bool numeric = target.kind != Kind::Text;
    if (QByteArray(data.name) == "wrong type") {
        // A number stored as a text, a text stored as a number.
        data = numeric ? Payload {"wrong type", 1, QByteArray("9\0", 2), 0x39, {}}
                       : Payload {"wrong type", 4, QByteArray("Ok\0\0", 4), 0,
                                  QString::fromUtf8("Ok\0", 3)};
    } else if (QByteArray(data.name) == "embedded NULs" && !numeric) {
        data.bytes = QByteArray("a\0b\0", 4);
        data.text = QString::fromUtf8("a\0b", 3);
    }
    if (data.type == 0)
        data.type = numeric ? 4 : 1;

    Bench bench("");
    bench.setUnits(kBench, 3);
    Registry::Key key = 0;
    QCOMPARE(bench.registry.createKey(Registry::kLocalMachine,
                                      "SOFTWARE\\Talvern Software\\" + kBench, &key),
             Registry::kSuccess);
    QCOMPARE(bench.registry.setValue(key, target.name, data.type,
                                     reinterpret_cast<const std::uint8_t *>(data.bytes.data()),
                                     std::uint32_t(data.bytes.size())),
             Registry::kSuccess);
    bench.registry.closeKey(key);

    ModalAnswerer answerer;
    bench.window.Load("Bench");
    QVERIFY(!bench.window.hasClosed());
    const int number = data.number == INT_MIN ? defaultNumber(target) : data.number;
    switch (target.kind) {
    case Kind::Units:
        // Nothing of this is a count of 1 to 3: the count is asked for (and closed: 1).
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(bench.window.UnitCount(), 1);
        break;
    case Kind::Address: {
        const UnitState &state = bench.window.unit(target.unit);
        const int shown = target.field == 0   ? state.Board
                          : target.field == 1 ? state.PAd
                                              : state.SAd;
        QCOMPARE(shown, number > 32767 ? defaultNumber(target) : number);
        break;
    }
    case Kind::Text:
        QCOMPARE(shownText(bench.window, target),
                 data.text.isNull() ? defaultText(target) : data.text);
        break;
    case Kind::Position: {
        const QSize screen = TwipsScale::screenSizeTwips();
        const TwipsScale scale = TwipsScale::primaryScreen();
        const QPoint at = bench.window.frameGeometry().topLeft();
        QVERIFY(scale.toTwips(at.x()) >= 0 && scale.toTwips(at.x()) <= screen.width() - 100 + 15);
        QVERIFY(scale.toTwips(at.y()) >= 0 && scale.toTwips(at.y()) <= screen.height() - 100 + 15);
        break;
    }
    }
    QVERIFY(answerer.seen.size() <= 1); // no message: only the count may be asked for

    bench.window.close();
    // Saved cleanly: every value of the shown units in its own type and form.
    const auto values = dumpRegistry(bench.file).at(kContextPath + kBench);
    for (const Setting &other : settings()) {
        if (other.kind != Kind::Units && other.kind != Kind::Position
            && other.unit >= bench.window.UnitCount())
            continue;
        const auto &[type, bytes] = values.at(other.name);
        if (other.kind == Kind::Text) {
            QCOMPARE(type, 1L);
            QVERIFY(!bytes.empty() && bytes.back() == 0);
        } else {
            QCOMPARE(type, 4L);
            QCOMPARE(bytes.size(), std::size_t(4));
        }
    }
}

QTEST_MAIN(tst_HostileSettings)
#include "tst_HostileSettings.moc"
