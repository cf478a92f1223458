// SPDX-License-Identifier: MIT
#pragma once

#include "GraphicalButton.h"
#include "UnitFrame.h"

#include <QLineEdit>
#include <QPushButton>

#include <array>

/**
 * The controls of one unit's panel on the main window (item i of every per-unit control
 * array). The main window owns the widgets; this only points at them.
 * Positions are indexed in the order A1, A2, A3, A4, B1, B2, B3, B4.
 */
struct UnitPanel
{
    static constexpr int kPositions = 8;

    UnitFrame *Frame = nullptr;
    std::array<GraphicalButton *, kPositions> Position {};
    std::array<QLineEdit *, kPositions> PositionLbl {};
    QLineEdit *ATxt = nullptr;
    QLineEdit *BTxt = nullptr;
    QPushButton *Config = nullptr;
    GraphicalButton *Edit = nullptr; ///< checkable: stays pressed in edit mode
};
