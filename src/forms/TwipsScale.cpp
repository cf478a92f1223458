// SPDX-License-Identifier: MIT
#include "TwipsScale.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

TwipsScale::TwipsScale(double logicalDpi)
    : m_dpi(logicalDpi > 0 ? logicalDpi : 96.0)
{ }

TwipsScale TwipsScale::primaryScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return TwipsScale(screen ? screen->logicalDotsPerInch() : 96.0);
}

int TwipsScale::toPixels(double twips) const
{
    return static_cast<int>(std::lround(twips * m_dpi / kTwipsPerInch));
}

int TwipsScale::toTwips(int pixels) const
{
    return static_cast<int>(std::lround(pixels * kTwipsPerInch / m_dpi));
}

QRect TwipsScale::toPixels(const forms::TwipsRect &rect) const
{
    return {toPixels(rect.left), toPixels(rect.top), toPixels(rect.width), toPixels(rect.height)};
}

QSize TwipsScale::screenSizeTwips()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const TwipsScale scale(screen->logicalDotsPerInch());
    const QSize pixels = screen->geometry().size();
    return {scale.toTwips(pixels.width()), scale.toTwips(pixels.height())};
}
