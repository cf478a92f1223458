// SPDX-License-Identifier: MIT
#pragma once

#include "PanelControl.h"
#include "RemotePanel.h"

/**
 * Decides the scripts' requests, whatever protocol carried them: resolves a press against
 * the shown units, refuses while the operator has the panel (a modal window, the unit in
 * edit mode) and while it starts or closes, and answers. A raise is served but while the
 * panel closes. `panel` must outlive the engine.
 */
class RequestEngine : public RemotePanel
{
public:
    explicit RequestEngine(PanelControl &panel)
        : m_panel(panel)
    { }

    void serve(const RemoteRequest &request, const Answer &answer) override;

    /** Who has the panel, in the words of a refusal ("the configuration dialog is open"). */
    static QString heldBy(PanelControl::Holder holder);
    /** "A1" .. "B4" for positions 0 to 7. */
    static QString positionName(int position);
    /** A press the bus refused, in words: "unit 2 did not take B4: the driver answered ENOL";
        `unit` counted from 1. */
    static QString notTaken(int unit, int position, const UnitDeviceLink::Result &result);

private:
    void press(const RemoteRequest &request, const Answer &answer);
    QJsonObject status() const;

    PanelControl &m_panel;
};
