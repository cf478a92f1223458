// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QGroupBox>

#include <cstdint>

/**
 * A unit's frame: its caption is drawn in the bold font and in a colour of its own, while the
 * frame keeps the window's font and palette, so the controls inside it take the window's
 * font and colours without each being given its own.
 */
class UnitFrame : public QGroupBox
{
    Q_OBJECT
public:
    UnitFrame(const QString &caption, const QFont &captionFont, QWidget *parent = nullptr);

    const QFont &captionFont() const { return m_captionFont; }
    QColor captionColour() const { return m_captionColour; }
    /** The caption's colour: 0x00BBGGRR, or a system colour. */
    void setCaptionColour(std::uint32_t colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QFont m_captionFont;
    QColor m_captionColour;
};
