// SPDX-License-Identifier: MIT
#include "PositionPress.h"

#include "forms/FormDefinitions.h"
#include "forms/GraphicalButton.h"
#include "forms/UnitPanel.h"

#include <QPushButton>

namespace {

constexpr int kSectionSize = 4;

/** The colour shows the selection; the description tells it to a screen reader. */
void showSelected(GraphicalButton *button, bool selected)
{
    button->setBackColour(selected ? forms::kSelectedGreen : forms::kButtonFace);
    button->setAccessibleDescription(selected ? QStringLiteral("Selected position")
                                              : QStringLiteral("Not selected"));
}

void resetSection(UnitPanel &panel, int first)
{
    for (int p = first; p < first + kSectionSize; ++p)
        showSelected(panel.Position[p], false);
}

} // namespace

void ResetSectionA(UnitPanel &panel)
{
    resetSection(panel, 0);
}

void ResetSectionB(UnitPanel &panel)
{
    resetSection(panel, kSectionSize);
}

UnitDeviceLink::Result PressPosition(UnitPanel &panel, UnitLink &link, GpibBinding &gpib,
                                     int position)
{
    if (position < kSectionSize)
        ResetSectionA(panel);
    else
        ResetSectionB(panel);
    UnitDeviceLink::Result result =
        UnitDeviceLink::SendToUnit(link, gpib, forms::kPositions[position]);
    if (result.ok)
        showSelected(panel.Position[position], true);
    return result;
}
