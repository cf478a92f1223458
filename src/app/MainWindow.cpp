// SPDX-License-Identifier: MIT
#include "MainWindow.h"

#include "CommandLine.h"
#include "Instance.h"
#include "OrderlyEnd.h"
#include "ShownUnit.h"
#include "UnitSettings.h"
#include "dialogs/Conf.h"
#include "dialogs/Units.h"
#include "forms/BusyCursor.h"
#include "forms/FormDefinitions.h"
#include "forms/MainForm.h"
#include "forms/WindowPlacement.h"
#include "gpib/UnitDeviceLink.h"
#include "settings/InstanceLock.h"
#include "settings/SettingsStore.h"
#include "settings/SystemRegistry.h"
#include "switch/EditMode.h"
#include "switch/PositionPress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>

#include <algorithm>
#include <iostream>

namespace {

#include "resources/selvane.xpm" // the application icon, 32 x 32 in 7 of the 16 colours

} // namespace

MainWindow::MainWindow(SettingsStore &store, GpibBinding &gpib, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_gpib(gpib)
    , m_scale(TwipsScale::primaryScreen())
    , m_end(new OrderlyEnd(*this))
{
    // Built from pixels in the program: reading an image file would first scan every image
    // format plugin, 5% of building the window.
    setWindowIcon(QIcon(QPixmap::fromImage(QImage(kSelvaneIcon))));
    m_panels = MainForm::build(this, m_scale);
    for (int i = 0; i < static_cast<int>(m_panels.size()); ++i) {
        connect(m_panels[i].Edit, &QPushButton::clicked, this, [this, i] { EditPress(i); });
        connect(m_panels[i].Config, &QPushButton::clicked, this, [this, i] { ConfigPress(i); });
        for (int p = 0; p < UnitPanel::kPositions; ++p) {
            connect(m_panels[i].Position[p], &QPushButton::clicked, this,
                    [this, i, p] { PositionPress(i, p); });
        }
    }

    // Before start-up places it, a new window stands in the middle of the primary screen.
    WindowPlacement::centre(*this);
}

MainWindow::~MainWindow() = default;

void MainWindow::Load(const std::string &commandText)
{
    const OrderlyEnd::Busy busy(*m_end);
    const CommandLine::Choice choice = CommandLine::parse(commandText);
    switch (choice.path) {
    case CommandLine::Path::Usage:
        showBox(QMessageBox::NoIcon, CommandLine::usageMessage());
        close();
        return;
    case CommandLine::Path::Help: // printed before any window: nothing to show
    case CommandLine::Path::Version:
        close();
        return;
    case CommandLine::Path::Clean:
        cleanStart(choice.InstanceName);
        return;
    case CommandLine::Path::Normal:
        m_starting = true;
        normalStart(choice.InstanceName);
        m_starting = false;
        return;
    }
}

void MainWindow::cleanStart(const std::string &instanceName)
{
    m_contextSuffix = CommandLine::contextSuffix(instanceName);
    m_contextName = std::string(CommandLine::kProject) + m_contextSuffix;
    // Held until the context is gone: a running panel would write it all back at its end.
    const InstanceLock lock(m_store.registry().location(), m_contextName);
    if (lock.state() != InstanceLock::State::Held) {
        showBox(QMessageBox::Critical,
                CommandLine::cleanRefusal(
                    m_contextName,
                    lock.state() == InstanceLock::State::Running ? std::string() : lock.reason()));
        m_exitCode = 1;
    } else {
        showBox(QMessageBox::NoIcon, CommandLine::cleanMessage(instanceName));
        if (!endedBySignal())
            m_store.DeleteContext(m_contextName);
    }
    close();
}

void MainWindow::normalStart(const std::string &instanceName)
{
    m_contextSuffix = CommandLine::contextSuffix(instanceName);
    m_contextName = std::string(CommandLine::kProject) + m_contextSuffix;
    // Before anything is read, and until the window is gone: one panel per instance, and no
    // import into it that this panel would undo at its end.
    m_instance = std::make_unique<Instance>(m_store.registry().location(), m_contextName);
    if (const Instance::Claim claim = m_instance->claim(instanceName, std::cerr);
        claim != Instance::Claim::Ours) {
        m_exitCode = claim == Instance::Claim::Raised ? 0 : 1;
        close();
        return;
    }
    m_saveOnClose = true;
    if (m_listening) { // a second start during a slow start-up finds the panel already
        m_instance->listen(m_engine, std::cerr);
        if (const auto port = UnitSettings::readScpiPort(m_store, m_contextName, std::cerr))
            m_instance->offerScpi(*this, instanceName, *port, std::cerr);
    }
    setWindowTitle(UnitSettings::fromBytes(CommandLine::caption(m_contextSuffix))
                   // nobody takes the demo for the bench
                   + (demoStore() ? QStringLiteral(" (simulated bus)") : QString()));

    m_unitCount = UnitSettings::readCount(m_store, m_contextName);
    if (m_unitCount == 0) {
        Units dialog(this);
        dialog.exec();
        if (endedBySignal())
            return;
        m_store.inTransaction(
            [this] { return UnitSettings::writeCount(m_store, m_contextName, m_unitCount); });
    }

    for (int i = 0; i < m_unitCount; ++i) {
        UnitSettings::read(m_store, m_contextName, i, unit(i), panel(i));
        MainForm::prepare(panel(i));
        SetEditMode(panel(i), false);
    }
    sizeAndPlace();
    MainForm::orderTabs(this, m_panels, m_unitCount);
    openShownUnits();
}

bool MainWindow::endedBySignal()
{
    if (!m_end->pending())
        return false;
    m_saveOnClose = false;
    close();
    return true;
}

void MainWindow::sizeAndPlace()
{
    if (m_unitCount >= 1) {
        // The client ends with the last shown frame; the 60 twips each side that the outer
        // width adds to it are the window's border, which the platform draws.
        resize(panel(m_unitCount - 1).Frame->geometry().right() + 1, height());
    }

    const int currentTop = m_scale.toTwips(frameGeometry().top());
    const QPoint stored =
        UnitSettings::readPlace(m_store, m_contextName, {WindowPlacement::kDefaultX, currentTop});
    // The unit-count dialog made the native window, whose frame is not known before it is
    // shown: move() would then place the client. Made again at show, the frame is placed.
    if (testAttribute(Qt::WA_WState_Created) && !isVisible())
        destroy();
    move(WindowPlacement::placed(stored, currentTop, frameGeometry().size(), m_scale));
}

void MainWindow::openShownUnits()
{
    for (std::int16_t i = 0; i < m_unitCount; ++i) {
        ShowUnitAddress(i);
        const bool linked = OpenUnit(i);
        ShowLinkState(i, linked);
        if (m_quitRequested)
            m_exitCode = 2; // as selvane-scan ends for the same failure
        if (endedBySignal() || (m_quitRequested && close()))
            return;
    }
}

bool MainWindow::OpenUnit(std::int16_t index)
{
    UnitDeviceLink::Result result;
    {
        const BusyCursor waiting;
        result = UnitDeviceLink::OpenUnit(unit(index), m_gpib);
    }
    if (const std::string why = UnitDeviceLink::boardRefusal(result, unit(index).Board);
        !why.empty())
        std::cerr << "selvane: unit " << index + 1 << ": " << why << '\n';
    tellOperation(index, result, {});
    if (result.failure) {
        std::string message = UnitDeviceLink::failureMessage(*result.failure);
        showBox(QMessageBox::Critical, message);
        std::replace(message.begin(), message.end(), '\r', '\n');
        std::cerr << "selvane: " << message << '\n';
        m_quitRequested = true;
    }
    return result.ok;
}

void MainWindow::ShowUnitAddress(std::int16_t index)
{
    const UnitState &state = unit(index);
    MainForm::showAddress(panel(index), index, state.Board, state.PAd, state.SAd);
}

void MainWindow::ShowLinkState(std::int16_t index, bool linked)
{
    MainForm::showLink(panel(index), linked);
}

void MainWindow::tellOperation(int index, const UnitDeviceLink::Result &result,
                               std::string_view command)
{
    MainForm::tellOperation(
        panel(index), index,
        UnitSettings::fromBytes(UnitDeviceLink::outcome(result, unit(index), command)));
}

void MainWindow::PositionPress(int index, int position, const Heard &heard)
{
    const OrderlyEnd::Busy busy(*m_end);
    UnitDeviceLink::Result result;
    {
        const BusyCursor waiting;
        result = PressPosition(panel(index), unit(index), m_gpib, position);
    }
    tellOperation(index, result, forms::kPositions[static_cast<std::size_t>(position)]);
    if (heard)
        heard(result);
    if (result.failure) {
        showBox(QMessageBox::Critical, UnitDeviceLink::failureMessage(*result.failure));
        // Only an opening raises the quit request; nothing reads it after start-up.
        if (result.duringOpen)
            m_quitRequested = true;
    }
    ShowLinkState(static_cast<std::int16_t>(index), result.ok);
}

PanelControl::Holder MainWindow::holder() const
{
    if (m_closed)
        return Holder::Closing;
    if (m_starting)
        return Holder::Starting;
    if (const QWidget *modal = QApplication::activeModalWidget())
        return modal == m_conf ? Holder::ConfigurationDialog : Holder::MessageBox;
    return Holder::Nobody;
}

std::vector<PanelControl::ShownUnit> MainWindow::shownUnits() const
{
    std::vector<ShownUnit> shown;
    for (std::size_t i = 0; i < static_cast<std::size_t>(std::max<int>(m_unitCount, 0)); ++i)
        shown.push_back(describeUnit(m_units.at(i), m_panels.at(i)));
    return shown;
}

void MainWindow::bringToFront()
{
    WindowPlacement::toFront(*this);
}

void MainWindow::EditPress(int index)
{
    const OrderlyEnd::Busy busy(*m_end);
    UnitState &state = unit(index);
    state.Editing = !state.Editing;
    SetEditMode(panel(index), state.Editing);
    if (!state.Editing && index < m_unitCount) { // locked: its labels are in force now
        m_store.inTransaction([&] {
            return UnitSettings::write(m_store, m_contextName, index, state, panel(index),
                                       UnitSettings::Values::Texts);
        });
    }
}

void MainWindow::ConfigPress(int index)
{
    const OrderlyEnd::Busy busy(*m_end);
    const auto unitIndex = static_cast<std::int16_t>(index);
    CloseUnit(unitIndex);
    if (!m_conf)
        m_conf = new Conf(this, m_gpib);
    UnitState &state = unit(index);
    m_conf->Idx = unitIndex;
    m_conf->setBrd(state.Board);
    m_conf->setPad(state.PAd);
    m_conf->setSad(state.SAd);
    // Closed without OK, the unit keeps its own addressing (not the last one accepted).
    if (m_conf->exec() == QDialog::Accepted) {
        const std::array before {state.Board, state.PAd, state.SAd};
        state.Board = m_conf->Brd();
        state.PAd = m_conf->pad();
        state.SAd = m_conf->sad();
        ShowUnitAddress(unitIndex);
        if (before != std::array {state.Board, state.PAd, state.SAd} && index < m_unitCount) {
            m_store.inTransaction([&] {
                return UnitSettings::write(m_store, m_contextName, index, state, panel(index),
                                           UnitSettings::Values::Address);
            });
        }
    }
    // The reopen's result at once: a unit just moved to an address where nothing answers
    // must not keep the colour of its old link.
    ShowLinkState(unitIndex, OpenUnit(unitIndex));
}

void MainWindow::CloseUnit(std::int16_t index)
{
    const BusyCursor waiting;
    UnitDeviceLink::CloseUnit(unit(index), m_gpib);
}

void MainWindow::showBox(QMessageBox::Icon icon, const std::string &text)
{
    QMessageBox box(icon, UnitSettings::fromBytes(std::string(CommandLine::kProject)),
                    UnitSettings::fromBytes(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_closed)
        return;
    m_closed = true;
    // The usage and clean paths leave the store exactly as they found it.
    if (m_saveOnClose) { // every setting is written before any link is closed
        const QRect outer = frameGeometry();
        UnitSettings::writeAll(m_store, m_contextName, m_unitCount, m_units, m_panels,
                               {m_scale.toTwips(outer.left()), m_scale.toTwips(outer.top())});
    }
    // Every open link, whatever the count: a hidden panel's link may have been opened
    // through its Config button.
    for (std::int16_t index = 0; index < static_cast<std::int16_t>(m_units.size()); ++index)
        CloseUnit(index);
}
