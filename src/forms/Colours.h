// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>

#include <cstdint>

class QAbstractButton;
class UnitFrame;

namespace forms {

/**
 * The QColor of a 0x00BBGGRR value; 0x80000000 + n is system colour n, taken from the
 * application palette (15: button face).
 */
QColor toQColor(std::uint32_t colour);

/**
 * The back colour of a graphical button (0x00BBGGRR or a system colour); other buttons
 * have none (kNoColour) and are left alone.
 */
void setBackColour(QAbstractButton *button, std::uint32_t colour);
std::uint32_t backColour(const QAbstractButton *button);

/** Sets the fore colour of a unit frame's caption. */
void setCaptionColour(UnitFrame *frame, std::uint32_t colour);

} // namespace forms
