// SPDX-License-Identifier: MIT
#include "MainForm.h"

#include "Colours.h"
#include "FormBuilder.h"
#include "GraphicalButton.h"
#include "TypingLimit.h"
#include "UnitFrame.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTime>

#include <algorithm>
#include <vector>

using forms::ControlKind;

namespace {

constexpr int kTitleLimit = 9;
constexpr int kLabelLimit = 10;

int positionIndex(std::string_view name)
{
    const auto it = std::find(forms::kPositions.begin(), forms::kPositions.end(), name);
    return it == forms::kPositions.end() ? -1 : static_cast<int>(it - forms::kPositions.begin());
}

void place(UnitPanel &panel, std::string_view name, QWidget *control)
{
    if (const int position = positionIndex(name); position >= 0) {
        panel.Position[position] = static_cast<GraphicalButton *>(control);
        return;
    }
    if (name.size() == 5 && name.substr(2) == "Lbl") {
        panel.PositionLbl[positionIndex(name.substr(0, 2))] = static_cast<QLineEdit *>(control);
        return;
    }
    if (name == "ATxt")
        panel.ATxt = static_cast<QLineEdit *>(control);
    else if (name == "BTxt")
        panel.BTxt = static_cast<QLineEdit *>(control);
    else if (name == "Config")
        panel.Config = static_cast<QPushButton *>(control);
    else if (name == "Edit")
        panel.Edit = static_cast<GraphicalButton *>(control);
}

void applySettings(const forms::PanelControlDef &def, int item, QWidget *control)
{
    control->setToolTip(QString::fromUtf8(def.tooltip.data(), qsizetype(def.tooltip.size())));
    control->setEnabled(def.enabled);
    if (!def.tabStop)
        control->setFocusPolicy(Qt::ClickFocus);
    if (def.boldFont)
        control->setFont(FormBuilder::boldFont());
    if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        QPalette palette = edit->palette();
        if (def.backColour != forms::kNoColour)
            palette.setColor(QPalette::Base, forms::toQColor(def.backColour));
        if (def.foreColour[item] != forms::kNoColour)
            palette.setColor(QPalette::Text, forms::toQColor(def.foreColour[item]));
        edit->setPalette(palette);
    }
    if (def.kind == ControlKind::GraphicalButton || def.kind == ControlKind::GraphicalCheckBox) {
        const auto back = def.backColour == forms::kNoColour ? forms::kButtonFace : def.backColour;
        static_cast<GraphicalButton *>(control)->setBackColour(back);
    }
    if (def.kind == ControlKind::GraphicalButton) // a position: none is selected at first
        control->setAccessibleDescription(QStringLiteral("Not selected"));
    if (def.maxLength[item] > 0)
        TypingLimit::install(static_cast<QLineEdit *>(control), def.maxLength[item]);
}

} // namespace

std::array<UnitPanel, forms::kUnitPanels> MainForm::build(QWidget *window, const TwipsScale &scale)
{
    const FormBuilder builder(scale);
    builder.sizeWindow(window, forms::kMainWindow);

    std::array<UnitPanel, forms::kUnitPanels> panels;
    for (int item = 0; item < forms::kUnitPanels; ++item) {
        const forms::FrameDef &frameDef = forms::kFrames[item];
        auto *frame = new UnitFrame(
            QString::fromUtf8(frameDef.caption.data(), qsizetype(frameDef.caption.size())),
            FormBuilder::boldFont(), window);
        builder.place(frame, "Frame", item, frameDef.rect, frameDef.tabIndex);
        frame->setToolTip(
            QString::fromUtf8(frameDef.tooltip.data(), qsizetype(frameDef.tooltip.size())));
        frame->setCaptionColour(frameDef.foreColour);
        panels[item].Frame = frame;

        for (const forms::PanelControlDef &def : forms::kPanelControls) {
            forms::TwipsRect rect = def.rect;
            if (item == 2)
                rect.top = def.item2Top;
            QWidget *control = builder.create(def.kind, frame, def.name, item, def.caption, rect,
                                              def.tabIndex[item]);
            applySettings(def, item, control);
            place(panels[item], def.name, control);
        }
    }
    FormBuilder::applyTabOrder(FormBuilder::tabOrder(window));
    return panels;
}

void MainForm::showAddress(UnitPanel &panel, int index, int board, int pad, int sad)
{
    panel.Frame->setTitle(
        QStringLiteral("Unit %1  [%2.%3.%4]").arg(index + 1).arg(board).arg(pad).arg(sad));
}

void MainForm::showLink(UnitPanel &panel, bool linked)
{
    panel.Frame->setCaptionColour(linked ? forms::kLinkedGreen : forms::kFailedRed);
}

void MainForm::tellOperation(UnitPanel &panel, int index, const QString &said)
{
    const std::string_view own = forms::kFrames[static_cast<std::size_t>(index)].tooltip;
    panel.Frame->setToolTip(QString::fromUtf8(own.data(), qsizetype(own.size())) + '\n'
                            + QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + ' '
                            + said);
}

void MainForm::prepare(UnitPanel &panel)
{
    TypingLimit::install(panel.ATxt, kTitleLimit);
    TypingLimit::install(panel.BTxt, kTitleLimit);
    for (int p = 0; p < UnitPanel::kPositions; ++p) {
        panel.PositionLbl[p]->setText(panel.Position[p]->text());
        panel.PositionLbl[p]->setCursorPosition(0);
        TypingLimit::install(panel.PositionLbl[p], kLabelLimit);
    }
}

void MainForm::orderTabs(QWidget *window, const std::array<UnitPanel, forms::kUnitPanels> &panels,
                         int shown)
{
    std::vector<QWidget *> order;
    for (const UnitPanel &controls : panels)
        order.insert(order.end(), controls.Position.begin(), controls.Position.end());
    for (QWidget *control : FormBuilder::tabOrder(window)) {
        if (std::find(order.begin(), order.begin() + 24, control) == order.begin() + 24)
            order.push_back(control);
    }
    FormBuilder::applyTabOrder(order);

    for (int index = std::max(shown, 0); index < forms::kUnitPanels; ++index) {
        for (QPushButton *button : panels.at(static_cast<std::size_t>(index)).Position)
            button->setEnabled(false);
    }
}
