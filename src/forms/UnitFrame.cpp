// SPDX-License-Identifier: MIT
#include "UnitFrame.h"

#include "Colours.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <qdrawutil.h>

UnitFrame::UnitFrame(const QString &caption, const QFont &captionFont, QWidget *parent)
    : QGroupBox(caption, parent)
    , m_captionFont(captionFont)
    , m_captionColour(palette().color(QPalette::WindowText))
{ }

void UnitFrame::setCaptionColour(std::uint32_t colour)
{
    const QColor caption = forms::toQColor(colour);
    if (caption == m_captionColour)
        return;
    m_captionColour = caption;
    update();
}

void UnitFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    // The style places the frame and the caption by these metrics. The etched frame is drawn
    // here, as the platform's frame control draws it: the styles draw theirs from a stretched
    // pixmap, which the raster engine paints on pooled threads that outlive the window.
    option.fontMetrics = QFontMetrics(m_captionFont);
    const QRect frame =
        style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, this);
    const QRect caption =
        style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
    qDrawShadeRect(&painter, frame, palette(), true, 1, 0);
    painter.fillRect(caption, palette().window());
    painter.setFont(m_captionFont);
    painter.setPen(m_captionColour);
    painter.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextHideMnemonic, title());
}
