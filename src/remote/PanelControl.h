// SPDX-License-Identifier: MIT
#pragma once

#include "gpib/UnitDeviceLink.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

/**
 * What the request engine may see of the panel and do with it, and no more: the main window
 * offers it. All calls come in the GUI thread. Units are indexed from 0, positions from 0 to
 * 7 in the order A1, A2, A3, A4, B1, B2, B3, B4.
 */
class PanelControl
{
public:
    static constexpr int kPositions = 8;
    static constexpr int kSectionPositions = 4;

    /** Who has the panel now, so that a script must wait; the first that holds, in order. */
    enum class Holder {
        Nobody,
        Closing, ///< the window is closing or closed
        Starting, ///< start-up runs, with its dialogs and boxes
        ConfigurationDialog, ///< a unit's configuration dialog is open
        MessageBox, ///< any other modal window: after start-up, only boxes are
    };

    /** One shown unit as the operator sees it. */
    struct ShownUnit
    {
        std::int16_t Board = 0;
        std::int16_t PAd = 0;
        std::int16_t SAd = 0;
        bool linked = false; ///< its caption shows a good link
        bool Editing = false; ///< in edit mode, else lock mode
        std::array<QString, 2> titles; ///< of sections A and B
        std::array<QString, kPositions> labels; ///< the buttons' captions; empty: no button
        std::array<bool, kPositions> selected {}; ///< the buttons shown as selected
    };

    using Heard = std::function<void(const UnitDeviceLink::Result &)>;

    virtual ~PanelControl() = default;

    virtual Holder holder() const = 0;
    /** The units shown, in order: as many as the unit count. */
    virtual std::vector<ShownUnit> shownUnits() const = 0;
    /** Presses `position` of the shown unit `index` as the operator would; `heard` learns
        how it went before any message box is shown. */
    virtual void press(int index, int position, const Heard &heard) = 0;
    /** Brings the panel to the front: its modal window while one is open, else the window,
        restored when minimized. */
    virtual void bringToFront() = 0;
};
