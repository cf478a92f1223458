// SPDX-License-Identifier: MIT
#pragma once

#include "FormDefinitions.h"

#include <QRect>

class QScreen;

/**
 * The one place where twips become pixels and back: pixels = twips x logical DPI / 1440
 * (15 twips per pixel at 96 DPI).
 */
class TwipsScale
{
public:
    static constexpr int kTwipsPerInch = 1440;

    explicit TwipsScale(double logicalDpi = 96.0);
    /** The scale of the primary screen (96 DPI when there is none). */
    static TwipsScale primaryScreen();

    double dpi() const { return m_dpi; }
    int toPixels(double twips) const;
    int toTwips(int pixels) const;
    QRect toPixels(const forms::TwipsRect &rect) const;

    /** Size of the primary screen in twips (whole screen, not the work area). */
    static QSize screenSizeTwips();

private:
    double m_dpi;
};
