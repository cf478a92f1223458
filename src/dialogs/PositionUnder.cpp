// SPDX-License-Identifier: MIT
#include "PositionUnder.h"

#include "forms/TwipsScale.h"

#include <QWidget>

QPoint PositionUnder(const QRect &mainTwips, int dialogHeightTwips, int screenHeightTwips)
{
    constexpr int kGap = 20;
    constexpr int kIndent = 100;
    int top = mainTwips.top() + mainTwips.height() + kGap;
    if (top + dialogHeightTwips > screenHeightTwips)
        top = mainTwips.top() - dialogHeightTwips - kGap;
    return {mainTwips.left() + kIndent, top};
}

void PositionUnder(QWidget *dialog, const QWidget *main)
{
    const TwipsScale scale = TwipsScale::primaryScreen();
    const QRect outer = main->frameGeometry();
    const QRect mainTwips(scale.toTwips(outer.left()), scale.toTwips(outer.top()),
                          scale.toTwips(outer.width()), scale.toTwips(outer.height()));
    const QPoint place = PositionUnder(mainTwips, scale.toTwips(dialog->frameGeometry().height()),
                                       TwipsScale::screenSizeTwips().height());
    dialog->move(scale.toPixels(place.x()), scale.toPixels(place.y()));
}
