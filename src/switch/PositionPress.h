// SPDX-License-Identifier: MIT
#pragma once

#include "gpib/UnitDeviceLink.h"

class GpibBinding;
struct UnitLink;
struct UnitPanel;

/** Button face to all four buttons of a section, in the order 1 to 4. */
void ResetSectionA(UnitPanel &panel);
void ResetSectionB(UnitPanel &panel);

/**
 * A press of position `position` (0..7 for A1..B4) on a unit's panel: clears the highlight of
 * its section, sends the position's command through the unit's link (opening it first when
 * needed) and highlights the button when the command went through. The caller shows the
 * link state and any binding failure from the result.
 */
UnitDeviceLink::Result PressPosition(UnitPanel &panel, UnitLink &link, GpibBinding &gpib,
                                     int position);
