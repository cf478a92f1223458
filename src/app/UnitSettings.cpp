// SPDX-License-Identifier: MIT
#include "UnitSettings.h"

#include "forms/GraphicalButton.h"
#include "forms/UnitPanel.h"
#include "settings/SettingsStore.h"

#include <QLineEdit>

#include <charconv>
#include <cstdlib>
#include <limits>

namespace UnitSettings {
namespace {

template<typename State>
auto &number(State &state, const Value &value)
{
    return value.field == Field::Board ? state.Board
           : value.field == Field::PAd ? state.PAd
                                       : state.SAd;
}

QString text(const UnitPanel &panel, const Value &value)
{
    return value.field == Field::ATitle   ? panel.ATxt->text()
           : value.field == Field::BTitle ? panel.BTxt->text()
                                          : panel.Position[value.position]->text();
}

void setText(UnitPanel &panel, const Value &value, const QString &text)
{
    if (value.field == Field::Label)
        panel.Position[value.position]->setText(text);
    else
        (value.field == Field::ATitle ? panel.ATxt : panel.BTxt)->setText(text);
}

std::int16_t field16(std::int32_t stored, std::int16_t fallback)
{
    if (stored < std::numeric_limits<std::int16_t>::min()
        || stored > std::numeric_limits<std::int16_t>::max())
        return fallback;
    return static_cast<std::int16_t>(stored);
}

} // namespace

QString fromBytes(const std::string &text)
{
    // Qt's 8-bit local encoding is the ANSI code page on Windows and UTF-8 elsewhere.
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toBytes(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit(); // a letter outside the code page becomes '?'
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

void read(const SettingsStore &store, const std::string &context, int index, UnitState &state,
          UnitPanel &panel)
{
    for (const Value &value : kUnit) {
        const std::string name = value.name(index);
        if (value.isText())
            setText(panel, value, fromBytes(store.ReadValue(context, name, value.text)));
        else
            number(state, value) =
                field16(store.ReadValue(context, name, std::int32_t(value.number)), value.number);
    }
}

bool write(const SettingsStore &store, const std::string &context, int index,
           const UnitState &state, const UnitPanel &panel, Values which)
{
    bool stored = true;
    for (const Value &value : kUnit) {
        if (which != Values::All && value.isText() != (which == Values::Texts))
            continue;
        stored &= value.isText()
                      ? store.WriteValue(context, value.name(index), toBytes(text(panel, value)))
                      : store.WriteValue(context, value.name(index), double(number(state, value)));
    }
    return stored;
}

std::int16_t readCount(const SettingsStore &store, const std::string &context)
{
    const std::int32_t stored = store.ReadValue(context, kUnits, std::int32_t(0));
    return stored >= 1 && stored <= 3 ? static_cast<std::int16_t>(stored) : 0;
}

bool writeCount(const SettingsStore &store, const std::string &context, std::int16_t count)
{
    return store.WriteValue(context, kUnits, double(count));
}

std::optional<std::uint16_t> readScpiPort(const SettingsStore &store, const std::string &context,
                                          std::ostream &err)
{
    const char *chosen = std::getenv("SELVANE_SCPI_PORT");
    std::int64_t port = 0;
    if (chosen && *chosen) {
        const std::string_view text(chosen);
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
        if (error != std::errc() || end != text.data() + text.size())
            port = -1;
    } else {
        port = store.ReadValue(context, kScpiPort, std::int32_t(-1));
        if (port == -1 && store.ReadValue(context, kScpiPort, std::int32_t(-2)) == -2)
            return std::nullopt; // none stored: off
    }
    if (port < 0 || port > 65535) {
        err << "selvane: " << (chosen && *chosen ? "SELVANE_SCPI_PORT" : "the setting SCPIPort")
            << " is not a port number from 0 to 65535; SCPI is off\n";
        return std::nullopt;
    }
    return port == 0 ? std::nullopt : std::optional<std::uint16_t>(std::uint16_t(port));
}

QPoint readPlace(const SettingsStore &store, const std::string &context, QPoint fallback)
{
    const std::int32_t x = store.ReadValue(context, kX, std::int32_t(fallback.x()));
    return {x, store.ReadValue(context, kY, std::int32_t(fallback.y()))};
}

void writeAll(const SettingsStore &store, const std::string &context, std::int16_t count,
              const UnitStates &units, const std::array<UnitPanel, forms::kUnitPanels> &panels,
              QPoint place)
{
    writeCount(store, context, count);
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i);
        write(store, context, i, units.at(at), panels.at(at));
    }
    store.WriteValue(context, kX, double(place.x()));
    store.WriteValue(context, kY, double(place.y()));
}

} // namespace UnitSettings
