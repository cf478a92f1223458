// SPDX-License-Identifier: MIT
#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

/**
 * Where a dialog goes relative to the main window, all in twips: 20 below the main window,
 * or 20 above it when the dialog would end past the bottom of the screen (an exact fit stays
 * below), and 100 right of the main window's left edge. No other edge is tested.
 */
QPoint PositionUnder(const QRect &mainTwips, int dialogHeightTwips, int screenHeightTwips);

/** Places `dialog` by that rule under `main`, on the primary screen (outer edges). */
void PositionUnder(QWidget *dialog, const QWidget *main);
