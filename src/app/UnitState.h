// SPDX-License-Identifier: MIT
#pragma once

#include "gpib/UnitLink.h"

#include <array>

/** The main window's record of one unit: its device link and its edit mode. */
struct UnitState : UnitLink
{
    bool Editing = false; ///< labels in edit mode (false: lock mode); never stored
};

/** Four slots, one per unit index; slot 3 belongs to no unit. */
using UnitStates = std::array<UnitState, 4>;
