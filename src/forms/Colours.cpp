// SPDX-License-Identifier: MIT
#include "Colours.h"

#include <QAbstractButton>
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

void setBackColour(QAbstractButton *button, std::uint32_t colour)
{
    const QString back = toQColor(colour).name();
    // The pressed and checked looks keep the back colour and only sink the border.
    button->setStyleSheet(QStringLiteral("QPushButton { background-color: %1;"
                                         " border: 1px solid #808080; padding: 0px; }"
                                         "QPushButton:focus { border: 1px solid #000000; }"
                                         "QPushButton:pressed, QPushButton:checked {"
                                         " border: 2px inset #808080; }")
                              .arg(back));
    button->setProperty("backColour", QVariant::fromValue<uint>(colour));
}

std::uint32_t backColour(const QAbstractButton *button)
{
    return button->property("backColour").toUInt();
}

void setCaptionColour(QWidget *frame, std::uint32_t colour)
{
    QPalette palette = frame->palette();
    palette.setColor(QPalette::WindowText, toQColor(colour));
    frame->setPalette(palette);
}

} // namespace forms
