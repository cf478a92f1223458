// SPDX-License-Identifier: MIT
#pragma once

#include "UnitState.h"
#include "forms/UnitPanel.h"
#include "remote/PanelControl.h"

/** What a script is told of a shown unit: its record, and its panel as the operator sees it. */
PanelControl::ShownUnit describeUnit(const UnitState &state, const UnitPanel &controls);
