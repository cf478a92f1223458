// SPDX-License-Identifier: MIT
#pragma once

#include "UnitState.h"
#include "forms/FormDefinitions.h"

#include <QPoint>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

class SettingsStore;
struct UnitPanel;

/**
 * What a running copy keeps in its settings context: the instance's count and window
 * position, and for each shown unit 13 values named after the unit's number ("1.Board" ..
 * "3.B4.label"). Start-up reads and shutdown writes exactly these, in this order.
 */
namespace UnitSettings {

/** Where a unit's value lives in the window. */
enum class Field { Board, PAd, SAd, ATitle, BTitle, Label };

struct Value
{
    std::string_view suffix; ///< the name after the unit's number
    Field field;
    int position = 0; ///< of a label: 0 to 7, A1 to B4
    std::int16_t number = 0; ///< a number's default; a number fills a 16-bit field
    std::string_view text = {}; ///< a text's default

    bool isText() const { return field >= Field::ATitle; }
    /** The value's name for the unit with this index: 0 gives "1.Board". */
    std::string name(int index) const
    {
        return std::string(1, static_cast<char>('1' + index)).append(suffix);
    }
};

inline constexpr std::array<Value, 13> kUnit {{
    {".Board", Field::Board, 0, 0},
    {".PAd", Field::PAd, 0, 7},
    {".SAd", Field::SAd, 0, 0},
    {".A.title", Field::ATitle, 0, 0, "Device 1"},
    {".B.title", Field::BTitle, 0, 0, "Device 2"},
    {".A1.label", Field::Label, 0, 0, "A1"},
    {".A2.label", Field::Label, 1, 0, "A2"},
    {".A3.label", Field::Label, 2, 0, "A3"},
    {".A4.label", Field::Label, 3, 0, "A4"},
    {".B1.label", Field::Label, 4, 0, "B1"},
    {".B2.label", Field::Label, 5, 0, "B2"},
    {".B3.label", Field::Label, 6, 0, "B3"},
    {".B4.label", Field::Label, 7, 0, "B4"},
}};

/** The instance's own numbers, 32-bit: the unit count, and the window's left and top in
    twips. "Units" is written first and "X", "Y" last. */
inline constexpr const char *kUnits = "Units";
inline constexpr const char *kScpiPort = "SCPIPort";
inline constexpr const char *kX = "X";
inline constexpr const char *kY = "Y";

/** How many values a context holds once `units` units have been saved. */
constexpr std::size_t storedCount(int units)
{
    return 3 + static_cast<std::size_t>(units) * kUnit.size();
}

/** Text as the store, the command line and the environment hold it: the platform's 8-bit
    encoding, the ANSI code page on Windows and UTF-8 elsewhere. */
QString fromBytes(const std::string &text);
std::string toBytes(const QString &text);

/** Reads the unit's values into its record and panel; a number that does not fit its 16-bit
    field counts as unreadable and takes its default. */
void read(const SettingsStore &store, const std::string &context, int index, UnitState &state,
          UnitPanel &panel);
/** Which of a unit's values a write takes: all of them, its address (board, primary and
    secondary), or its titles and labels. */
enum class Values { All, Address, Texts };

/** Writes the unit's values, the labels from its buttons, in the order of kUnit; a write
    that fails is skipped. True when every one was stored. */
bool write(const SettingsStore &store, const std::string &context, int index,
           const UnitState &state, const UnitPanel &panel, Values which = Values::All);

/** The stored unit count: 1, 2 or 3, else 0 for not chosen yet. */
std::int16_t readCount(const SettingsStore &store, const std::string &context);
bool writeCount(const SettingsStore &store, const std::string &context, std::int16_t count);

/** The loopback port for SCPI: SELVANE_SCPI_PORT where set, else the instance's "SCPIPort";
    nothing when off (0 or neither), or when the value is no port number, which is said on
    `err`. Never written by the panel. */
std::optional<std::uint16_t> readScpiPort(const SettingsStore &store, const std::string &context,
                                          std::ostream &err);

/** The window's stored left and top in twips; `fallback` for a value not stored. */
QPoint readPlace(const SettingsStore &store, const std::string &context, QPoint fallback);

/** Everything at once, in the order of the store: the count, each of the `count` units'
    values, and the window's left and top `place` in twips. */
void writeAll(const SettingsStore &store, const std::string &context, std::int16_t count,
              const UnitStates &units, const std::array<UnitPanel, forms::kUnitPanels> &panels,
              QPoint place);

} // namespace UnitSettings
