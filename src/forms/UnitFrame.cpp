// SPDX-License-Identifier: MIT
#include "UnitFrame.h"

#include "Colours.h"

#include <QStyleOptionGroupBox>
#include <QStylePainter>

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
    QStylePainter painter(this);
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    // The style places the frame and the caption by these metrics; the frame is the style's,
    // the caption is drawn here, as the style would not take the caption's own font.
    option.fontMetrics = QFontMetrics(m_captionFont);
    option.subControls = QStyle::SC_GroupBoxFrame;
    painter.drawComplexControl(QStyle::CC_GroupBox, option);
    const QRect caption =
        style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
    painter.setFont(m_captionFont);
    painter.setPen(m_captionColour);
    painter.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextHideMnemonic, title());
}
