// SPDX-License-Identifier: MIT
#pragma once

#include "TwipsScale.h"

#include <QPoint>
#include <QRect>

class QWidget;

/** Where the main window stands on the screens. */
namespace WindowPlacement {

/** The left, in twips, of a window with no place of its own. */
inline constexpr int kDefaultX = 100;

/** Stands `window` in the middle of the primary screen's available area. */
void centre(QWidget &window);

/**
 * Where a window of outer size `frame` (pixels) goes, in pixels, for the left and top
 * `stored` in twips: each kept when from 0 to the primary screen's size less 100 twips, else
 * the left is 100 and the top `currentTop` (twips); then brought whole onto the screens.
 */
QPoint placed(QPoint stored, int currentTop, QSize frame, const TwipsScale &scale);

/** Where `frame` lies whole on the screens' available area: where it is when it does, else
    moved the least onto the screen that holds most of it (the primary when none does). */
QPoint onScreens(const QRect &frame);

/** Brings `window` to the front and activates it, or its open modal dialog or box, which
    would otherwise stand behind it. */
void toFront(QWidget &window);

} // namespace WindowPlacement
