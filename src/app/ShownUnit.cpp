// SPDX-License-Identifier: MIT
#include "ShownUnit.h"

#include "forms/Colours.h"
#include "forms/FormDefinitions.h"
#include "forms/GraphicalButton.h"
#include "forms/UnitFrame.h"

#include <QLineEdit>

PanelControl::ShownUnit describeUnit(const UnitState &state, const UnitPanel &controls)
{
    PanelControl::ShownUnit unit;
    unit.Board = state.Board;
    unit.PAd = state.PAd;
    unit.SAd = state.SAd;
    unit.linked = controls.Frame->captionColour() == forms::toQColor(forms::kLinkedGreen);
    unit.Editing = state.Editing;
    unit.titles = {controls.ATxt->text(), controls.BTxt->text()};
    for (int p = 0; p < PanelControl::kPositions; ++p) {
        unit.labels[p] = controls.Position[p]->text();
        unit.selected[p] = controls.Position[p]->backColour() == forms::kSelectedGreen;
    }
    return unit;
}
