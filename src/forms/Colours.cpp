// SPDX-License-Identifier: MIT
#include "Colours.h"

#include <QApplication>
#include <QPalette>

namespace forms {

QColor toQColor(std::uint32_t colour)
{
    if (colour & 0x80000000u) {
        const QPalette palette = QApplication::palette();
        switch (colour & 0xFFu) {
        case 5: // window background
            return palette.color(QPalette::Base);
        case 8: // window text
            return palette.color(QPalette::Text);
        case 18: // button text
            return palette.color(QPalette::ButtonText);
        default: // 15, button face, and anything we do not map
            return palette.color(QPalette::Button);
        }
    }
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

} // namespace forms
