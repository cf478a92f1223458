// SPDX-License-Identifier: MIT
#include "GraphicalButton.h"

#include "Colours.h"
#include "FormDefinitions.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

namespace {
constexpr int kBevel = 2; // pixels of the raised or sunken frame
}

GraphicalButton::GraphicalButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent)
    , m_backColour(forms::kButtonFace)
{ }

void GraphicalButton::setBackColour(std::uint32_t colour)
{
    if (colour == m_backColour)
        return;
    m_backColour = colour;
    update();
}

void GraphicalButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QBrush face(forms::toQColor(m_backColour));
    qDrawWinButton(&painter, rect(), palette(), isDown() || isChecked(), &face);

    QStyleOptionButton option;
    initStyleOption(&option);
    option.rect = rect().adjusted(kBevel, kBevel, -kBevel, -kBevel);
    if (isDown() || isChecked())
        option.rect.translate(1, 1);
    style()->drawControl(QStyle::CE_PushButtonLabel, &option, &painter, this);

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(kBevel + 1, kBevel + 1, -kBevel - 1, -kBevel - 1);
        focus.backgroundColor = face.color();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}
