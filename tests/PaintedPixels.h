// SPDX-License-Identifier: MIT
#pragma once

// What the operator sees: the colours a widget really paints.

#include <QImage>
#include <QWidget>

#include <functional>

/** The widget as painted, at one device pixel per logical pixel. */
inline QImage painted(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

/** The colour of a button's face: halfway down, clear of its border and its centred caption. */
inline QColor faceColour(QWidget *widget)
{
    const QImage image = painted(widget);
    return image.pixelColor(4, image.height() / 2);
}

/** How many pixels of `rect` (all of the image when empty) have exactly `colour`. */
inline int pixelsOf(const QImage &image, const QColor &colour, QRect rect = {})
{
    if (rect.isNull())
        rect = image.rect();
    rect &= image.rect();
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x)
            count += image.pixelColor(x, y).rgb() == colour.rgb();
    }
    return count;
}
