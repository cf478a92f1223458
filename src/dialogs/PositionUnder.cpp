// SPDX-License-Identifier: MIT
#include "PositionUnder.h"

#include "forms/TwipsScale.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

QPoint PositionUnder(const QRect &mainTwips, int dialogHeightTwips, int screenHeightTwips)
{
    constexpr int kGap = 20;
    constexpr int kIndent = 100;
    int top = mainTwips.top() + mainTwips.height() + kGap;
    if (top + dialogHeightTwips > screenHeightTwips)
        top = mainTwips.top() - dialogHeightTwips - kGap;
    return {mainTwips.left() + kIndent, top};
}

namespace {

/**
 * The frame the platform puts around a top-level window: that of a window already shown,
 * since one window manager frames them all; before any is shown, what the platform tells of
 * the window once it is created (under X11 its border, not yet a title bar).
 */
QMargins platformFrame(QWidget *window)
{
    for (const QWidget *shown : QApplication::topLevelWidgets()) {
        if (shown->isVisible() && shown->windowHandle())
            return shown->windowHandle()->frameMargins();
    }
    window->winId();
    return window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
}

} // namespace

void PositionUnder(QWidget *dialog, const QWidget *main)
{
    const TwipsScale scale = TwipsScale::primaryScreen();
    const QMargins frame = platformFrame(dialog);
    const QRect outer = main->geometry().marginsAdded(frame);
    const QRect mainTwips(scale.toTwips(outer.left()), scale.toTwips(outer.top()),
                          scale.toTwips(outer.width()), scale.toTwips(outer.height()));
    const int dialogHeight = dialog->height() + frame.top() + frame.bottom();
    const QPoint place = PositionUnder(mainTwips, scale.toTwips(dialogHeight),
                                       TwipsScale::screenSizeTwips().height());
    dialog->move(scale.toPixels(place.x()), scale.toPixels(place.y()));
}
