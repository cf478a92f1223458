// SPDX-License-Identifier: MIT
#pragma once

#include "FormDefinitions.h"
#include "TwipsScale.h"

#include <QString>

#include <vector>

class QFont;
class QWidget;

/**
 * Builds controls from the window definitions: object name from the definition, the item
 * number in the property "item", caption, tooltip, geometry converted from twips, and the
 * definition's tab position in the property "tabIndex".
 */
class FormBuilder
{
public:
    explicit FormBuilder(const TwipsScale &scale)
        : m_scale(scale)
    { }

    QWidget *create(forms::ControlKind kind, QWidget *parent, std::string_view name, int item,
                    std::string_view caption, const forms::TwipsRect &rect, int tabIndex) const;

    /** Names, numbers and places a control built elsewhere, as `create` does. */
    void place(QWidget *control, std::string_view name, int item, const forms::TwipsRect &rect,
               int tabIndex) const;

    /** Sets the client size of a window from its definition. */
    void sizeWindow(QWidget *window, const forms::WindowDef &def) const;

    /** The windows' default font: "MS Sans Serif" 8.25 pt, or the closest face installed. */
    static QFont windowFont();
    /** The bold font of the definitions: the window font in bold (weight 700). */
    static QFont boldFont();

    /**
     * Chains the focus order through `controls` in the given order and records each control's
     * place in the property "tabIndex".
     */
    static void applyTabOrder(const std::vector<QWidget *> &controls);

    /** The controls under `window` that carry a tab position, sorted by it. */
    static std::vector<QWidget *> tabOrder(const QWidget *window);

private:
    TwipsScale m_scale;
};
