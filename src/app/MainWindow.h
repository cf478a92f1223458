// SPDX-License-Identifier: MIT
#pragma once

#include "UnitState.h"
#include "forms/TwipsScale.h"
#include "forms/UnitPanel.h"
#include "gpib/UnitDeviceLink.h"
#include "remote/PanelControl.h"
#include "remote/RequestEngine.h"

#include <QMessageBox>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class Conf;
class GpibBinding;
class Instance;
class OrderlyEnd;
class SettingsStore;

/**
 * The main window `Main`: one panel per unit, the units' records, the unit count and the
 * settings context of this running copy. It is the only long-lived object; the program ends
 * when it closes. Its engine serves the scripts' requests, as the operator's own presses.
 */
class MainWindow : public QWidget, public PanelControl
{
    Q_OBJECT
    Q_PROPERTY(qint16 UnitCount READ UnitCount WRITE setUnitCount)
public:
    /** `store` and `gpib` must outlive the window. */
    MainWindow(SettingsStore &store, GpibBinding &gpib, QWidget *parent = nullptr);
    ~MainWindow() override;

    /** Whether the panel takes scripts' requests, from the moment it holds its instance
        (before its start-up's dialogs). Off until set. */
    void setListening(bool listening) { m_listening = listening; }

    /**
     * Start-up, before the window is first shown: takes the usage, clean or normal path of
     * the command text. The usage and clean paths, a quit request, and a start of an
     * instance whose panel runs already (which asks that panel to the front) close the
     * window; `hasClosed()` then tells the caller not to enter the event loop.
     */
    void Load(const std::string &commandText);
    bool hasClosed() const { return m_closed; }

    std::int16_t UnitCount() const { return m_unitCount; }
    void setUnitCount(std::int16_t count) { m_unitCount = count; }
    const std::string &ContextName() const { return m_contextName; }
    const std::string &ContextSuffix() const { return m_contextSuffix; }
    bool QuitRequested() const { return m_quitRequested; }
    /** The program's exit status: 2 when a driver failure ended start-up, 1 when a panel of
        the instance runs already and could not be asked to the front or be cleaned, else 0. */
    int exitCode() const { return m_exitCode; }

    UnitState &unit(int index) { return m_units.at(static_cast<std::size_t>(index)); }
    UnitPanel &panel(int index) { return m_panels.at(static_cast<std::size_t>(index)); }

    /** Frame caption "Unit n  [board.pad.sad]". */
    void ShowUnitAddress(std::int16_t index);
    /** The configuration dialog, once a Config press has created it (else null). */
    Conf *configurationDialog() const { return m_conf; }

    /** Frame caption colour: dark green when linked, red otherwise. */
    void ShowLinkState(std::int16_t index, bool linked);

    /** Ends the window in order when a signal or the session's end asks for it. */
    OrderlyEnd &orderlyEnd() { return *m_end; }

    /** What serves the scripts' requests on this window. */
    RemotePanel &engine() { return m_engine; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // What the engine sees and does of the panel.
    Holder holder() const override;
    std::vector<ShownUnit> shownUnits() const override;
    void press(int index, int position, const Heard &heard) override
    {
        PositionPress(index, position, heard);
    }
    void bringToFront() override;

    void cleanStart(const std::string &instanceName);
    void normalStart(const std::string &instanceName);
    /** Ends start-up when a signal closed its dialog or box: no further window, no write. */
    bool endedBySignal();
    void sizeAndPlace();
    void openShownUnits();
    bool OpenUnit(std::int16_t index);
    /** `heard`, when given, learns the outcome before any message box is shown. */
    void PositionPress(int index, int position, const Heard &heard = {});
    void EditPress(int index);
    void ConfigPress(int index);
    void CloseUnit(std::int16_t index);
    /** The operation's outcome in the unit's tooltip, where the operator looks for why. */
    void tellOperation(int index, const UnitDeviceLink::Result &result, std::string_view command);
    /** A box titled "SELVANE" with an OK button. */
    void showBox(QMessageBox::Icon icon, const std::string &text);

    SettingsStore &m_store;
    GpibBinding &m_gpib;
    TwipsScale m_scale;
    std::array<UnitPanel, 3> m_panels;
    UnitStates m_units;
    std::int16_t m_unitCount = 0;
    std::string m_contextName;
    std::string m_contextSuffix;
    bool m_quitRequested = false;
    int m_exitCode = 0;
    bool m_closed = false;
    bool m_saveOnClose = false;
    bool m_starting = false;
    bool m_listening = false;
    OrderlyEnd *m_end; ///< a child of the window
    Conf *m_conf = nullptr; ///< created on the first Config press, kept for the run
    RequestEngine m_engine {*this}; ///< decides the scripts' requests
    std::unique_ptr<Instance> m_instance; ///< its lock and socket, from a normal start on
};
