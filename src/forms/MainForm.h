// SPDX-License-Identifier: MIT
#pragma once

#include "TwipsScale.h"
#include "UnitPanel.h"

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
};
