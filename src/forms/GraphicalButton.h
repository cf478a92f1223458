// SPDX-License-Identifier: MIT
#pragma once

#include <QPushButton>

#include <cstdint>

/**
 * A push button drawn with its back colour, exactly, under every style: the face is filled
 * with the colour and framed as a classic raised button (sunken while pressed or checked).
 * The colour is a 0x00BBGGRR value or a system colour (0x8000000F: button face), resolved
 * from the palette when painted. Changing it repaints the button and nothing else.
 */
class GraphicalButton : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(uint backColour READ backColour WRITE setBackColour)
public:
    explicit GraphicalButton(const QString &text, QWidget *parent = nullptr);

    std::uint32_t backColour() const { return m_backColour; }
    void setBackColour(std::uint32_t colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::uint32_t m_backColour;
};
