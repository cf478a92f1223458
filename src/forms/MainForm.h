// SPDX-License-Identifier: MIT
#pragma once

#include "TwipsScale.h"
#include "UnitPanel.h"

#include <QString>

#include <array>

class QWidget;

/** Builds the main window's three unit panels from their definition. */
class MainForm
{
public:
    /**
     * Creates the frames and their controls as children of `window`, sizes its client area,
     * and sets the definition's tab order. Returns the panels, item i at index i.
     */
    static std::array<UnitPanel, forms::kUnitPanels> build(QWidget *window,
                                                           const TwipsScale &scale);

    /** Readies a shown unit's panel once its values are read: the label boxes take the
        buttons' captions, and the titles and labels take at most 9 and 10 typed letters. */
    static void prepare(UnitPanel &panel);

    /** The frame's caption "Unit n  [board.pad.sad]" of unit `index` (from 0), and its
        colour: dark green when `linked`, else red. */
    static void showAddress(UnitPanel &panel, int index, int board, int pad, int sad);
    static void showLink(UnitPanel &panel, bool linked);
    /** The frame's tooltip: its own text, and below it the time of day and `said`, the last
        operation on the unit's link and its outcome. */
    static void tellOperation(UnitPanel &panel, int index, const QString &said);

    /** The tab order once the unit count is known: the 24 position buttons first, panel by
        panel, then every other control of `window` in the order of the definition. The
        position buttons of the panels from `shown` on are disabled. */
    static void orderTabs(QWidget *window, const std::array<UnitPanel, forms::kUnitPanels> &panels,
                          int shown);
};
