// SPDX-License-Identifier: MIT
#pragma once

struct UnitPanel;

/**
 * Shows a unit's panel in edit mode (labels and titles editable, position buttons hidden) or
 * in lock mode (edited labels committed to the buttons, buttons with an empty label hidden,
 * titles disabled). Highlight colours, `Config`, the frame and other panels stay as they are.
 */
void SetEditMode(UnitPanel &panel, bool editing);
