// SPDX-License-Identifier: MIT
#include "MainWindow.h"

#include "CommandLine.h"
#include "Version.h"
#include "dialogs/Conf.h"
#include "dialogs/Units.h"
#include "forms/BusyCursor.h"
#include "forms/FormBuilder.h"
#include "forms/GraphicalButton.h"
#include "forms/MainForm.h"
#include "forms/TypingLimit.h"
#include "forms/UnitFrame.h"
#include "gpib/UnitDeviceLink.h"
#include "settings/SettingsStore.h"
#include "switch/EditMode.h"
#include "switch/PositionPress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <limits>

namespace {

constexpr int kTitleLimit = 9;
constexpr int kLabelLimit = 10;
constexpr int kWindowBorder = 60; // twips each side of the last shown frame
constexpr int kEdgeMargin = 100; // twips kept free at the screen's right and bottom
constexpr int kDefaultX = 100;

constexpr std::string_view kTitleDefaults[2] = {"Device 1", "Device 2"};

QString fromBytes(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toBytes(const QString &text)
{
    return text.toStdString();
}

/** Value name of a unit setting: the unit number, then the rest (unit 1's board: "1.Board"). */
std::string unitValue(int index, std::string_view rest)
{
    std::string name(1, static_cast<char>('1' + index));
    name.append(rest);
    return name;
}

/** Value name of a position label: "1.A1.label" .. "3.B4.label". */
std::string labelValue(int index, std::string_view position)
{
    std::string name = unitValue(index, ".");
    name.append(position).append(".label");
    return name;
}

/** A stored number that does not fit its 16-bit field counts as unreadable. */
std::int16_t field16(std::int32_t stored, std::int16_t fallback)
{
    if (stored < std::numeric_limits<std::int16_t>::min()
        || stored > std::numeric_limits<std::int16_t>::max())
        return fallback;
    return static_cast<std::int16_t>(stored);
}

} // namespace

class MainWindow::Busy
{
public:
    explicit Busy(MainWindow &window)
        : m_window(window)
    {
        ++m_window.m_busy;
    }
    ~Busy()
    {
        if (--m_window.m_busy == 0)
            m_window.closeWhenIdle();
    }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

private:
    MainWindow &m_window;
};

MainWindow::MainWindow(SettingsStore &store, GpibBinding &gpib, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_gpib(gpib)
    , m_scale(TwipsScale::primaryScreen())
{
    setWindowIcon(QIcon(QStringLiteral(":/selvane/selvane.png")));
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
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect area(QPoint(), size());
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::Load(const std::string &commandText)
{
    Busy busy(*this);
    const CommandLine::Choice choice = CommandLine::parse(commandText);
    switch (choice.path) {
    case CommandLine::Path::Usage:
        showMessage(CommandLine::usageMessage());
        close();
        return;
    case CommandLine::Path::Clean:
        m_contextSuffix = CommandLine::contextSuffix(choice.InstanceName);
        m_contextName = std::string(CommandLine::kProject) + m_contextSuffix;
        showMessage(CommandLine::cleanMessage(choice.InstanceName));
        m_store.DeleteContext(m_contextName);
        close();
        return;
    case CommandLine::Path::Normal:
        normalStart(choice.InstanceName);
        return;
    }
}

void MainWindow::normalStart(const std::string &instanceName)
{
    m_saveOnClose = true;
    m_contextSuffix = CommandLine::contextSuffix(instanceName);
    m_contextName = std::string(CommandLine::kProject) + m_contextSuffix;
    setWindowTitle(QStringLiteral("%1 V%2.%3.%4%5")
                       .arg(fromBytes(std::string(CommandLine::kProject)))
                       .arg(SELVANE_VERSION_MAJOR)
                       .arg(SELVANE_VERSION_MINOR)
                       .arg(SELVANE_VERSION_PATCH)
                       .arg(fromBytes(m_contextSuffix)));

    // Any stored count but 1, 2 or 3 counts as not chosen yet.
    const std::int32_t stored = m_store.ReadValue(m_contextName, "Units", std::int32_t(0));
    m_unitCount = stored >= 1 && stored <= 3 ? static_cast<std::int16_t>(stored) : 0;
    if (m_unitCount == 0) {
        Units dialog(this);
        dialog.exec();
    }

    for (int i = 0; i < m_unitCount; ++i) {
        readUnit(i);
        preparePanel(i);
    }
    sizeAndPlace();
    orderTabsAndDisableHidden();
    openShownUnits();
}

void MainWindow::readUnit(int index)
{
    UnitState &state = unit(index);
    const UnitLink defaults {0, 0, 7, 0, false};
    state.Board = field16(
        m_store.ReadValue(m_contextName, unitValue(index, ".Board"), std::int32_t(defaults.Board)),
        defaults.Board);
    state.PAd = field16(
        m_store.ReadValue(m_contextName, unitValue(index, ".PAd"), std::int32_t(defaults.PAd)),
        defaults.PAd);
    state.SAd = field16(
        m_store.ReadValue(m_contextName, unitValue(index, ".SAd"), std::int32_t(defaults.SAd)),
        defaults.SAd);

    UnitPanel &controls = panel(index);
    controls.ATxt->setText(fromBytes(
        m_store.ReadValue(m_contextName, unitValue(index, ".A.title"), kTitleDefaults[0])));
    controls.BTxt->setText(fromBytes(
        m_store.ReadValue(m_contextName, unitValue(index, ".B.title"), kTitleDefaults[1])));
    for (int p = 0; p < UnitPanel::kPositions; ++p) {
        const std::string_view position = forms::kPositions[p];
        controls.Position[p]->setText(
            fromBytes(m_store.ReadValue(m_contextName, labelValue(index, position), position)));
    }
}

void MainWindow::preparePanel(int index)
{
    UnitPanel &controls = panel(index);
    TypingLimit::install(controls.ATxt, kTitleLimit);
    TypingLimit::install(controls.BTxt, kTitleLimit);
    for (int p = 0; p < UnitPanel::kPositions; ++p) {
        controls.PositionLbl[p]->setText(controls.Position[p]->text());
        controls.PositionLbl[p]->setCursorPosition(0);
        TypingLimit::install(controls.PositionLbl[p], kLabelLimit);
    }
    SetEditMode(controls, false);
}

void MainWindow::sizeAndPlace()
{
    if (m_unitCount >= 1) {
        const forms::FrameDef &last = forms::kFrames[m_unitCount - 1];
        const int widthTwips = last.rect.left + kWindowBorder + last.rect.width + kWindowBorder;
        const int decoration = frameGeometry().width() - width();
        resize(m_scale.toPixels(widthTwips) - decoration, height());
    }

    const int currentTop = m_scale.toTwips(frameGeometry().top());
    std::int32_t x = m_store.ReadValue(m_contextName, "X", std::int32_t(kDefaultX));
    std::int32_t y = m_store.ReadValue(m_contextName, "Y", std::int32_t(currentTop));
    const QSize screen = TwipsScale::screenSizeTwips();
    if (x > screen.width() - kEdgeMargin || x < 0)
        x = kDefaultX;
    if (y > screen.height() - kEdgeMargin || y < 0)
        y = currentTop;
    move(m_scale.toPixels(x), m_scale.toPixels(y));
}

void MainWindow::orderTabsAndDisableHidden()
{
    // The 24 position buttons first, panel by panel; every other control after them in the
    // order of the definition.
    std::vector<QWidget *> order;
    for (const UnitPanel &controls : m_panels)
        order.insert(order.end(), controls.Position.begin(), controls.Position.end());
    for (QWidget *control : FormBuilder::tabOrder(this)) {
        if (std::find(order.begin(), order.begin() + 24, control) == order.begin() + 24)
            order.push_back(control);
    }
    FormBuilder::applyTabOrder(order);

    for (int index = std::max<int>(m_unitCount, 0); index < 3; ++index) {
        for (QPushButton *button : panel(index).Position)
            button->setEnabled(false);
    }
}

void MainWindow::openShownUnits()
{
    for (std::int16_t i = 0; i < m_unitCount; ++i) {
        ShowUnitAddress(i);
        const bool linked = OpenUnit(i);
        ShowLinkState(i, linked);
        if (m_quitRequested) {
            close();
            return;
        }
    }
}

bool MainWindow::OpenUnit(std::int16_t index)
{
    UnitDeviceLink::Result result;
    {
        const BusyCursor waiting;
        result = UnitDeviceLink::OpenUnit(unit(index), m_gpib);
    }
    if (result.failure) {
        showFailure(UnitDeviceLink::failureMessage(*result.failure));
        m_quitRequested = true;
    }
    return result.ok;
}

void MainWindow::ShowUnitAddress(std::int16_t index)
{
    const UnitState &state = unit(index);
    panel(index).Frame->setTitle(QStringLiteral("Unit %1  [%2.%3.%4]")
                                     .arg(index + 1)
                                     .arg(state.Board)
                                     .arg(state.PAd)
                                     .arg(state.SAd));
}

void MainWindow::ShowLinkState(std::int16_t index, bool linked)
{
    panel(index).Frame->setCaptionColour(linked ? forms::kLinkedGreen : forms::kFailedRed);
}

void MainWindow::PositionPress(int index, int position)
{
    Busy busy(*this);
    UnitDeviceLink::Result result;
    {
        const BusyCursor waiting;
        result = PressPosition(panel(index), unit(index), m_gpib, position);
    }
    if (result.failure) {
        showFailure(UnitDeviceLink::failureMessage(*result.failure));
        // Only an opening raises the quit request; nothing reads it after start-up.
        if (result.duringOpen)
            m_quitRequested = true;
    }
    ShowLinkState(static_cast<std::int16_t>(index), result.ok);
}

void MainWindow::EditPress(int index)
{
    Busy busy(*this);
    UnitState &state = unit(index);
    state.Editing = !state.Editing;
    SetEditMode(panel(index), state.Editing);
}

void MainWindow::ConfigPress(int index)
{
    Busy busy(*this);
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
        state.Board = m_conf->Brd();
        state.PAd = m_conf->pad();
        state.SAd = m_conf->sad();
        ShowUnitAddress(unitIndex);
    }
    OpenUnit(unitIndex); // the link colour changes at the next press
}

void MainWindow::CloseUnit(std::int16_t index)
{
    const BusyCursor waiting;
    UnitDeviceLink::CloseUnit(unit(index), m_gpib);
}

void MainWindow::showMessage(const std::string &text)
{
    QMessageBox box(QMessageBox::NoIcon, fromBytes(std::string(CommandLine::kProject)),
                    fromBytes(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MainWindow::showFailure(const std::string &message)
{
    QMessageBox box(QMessageBox::Critical, fromBytes(std::string(CommandLine::kProject)),
                    fromBytes(message), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MainWindow::requestQuit()
{
    m_quitPending = true;
    if (QWidget *modal = QApplication::activeModalWidget(); modal && modal != this)
        modal->close();
    closeWhenIdle();
}

void MainWindow::closeWhenIdle()
{
    if (m_quitPending && m_busy == 0 && !m_closed)
        close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_closed)
        return;
    m_closed = true;
    // The usage and clean paths leave the store exactly as they found it.
    if (m_saveOnClose)
        saveSettings();
    // Every open link, whatever the count: a hidden panel's link may have been opened
    // through its Config button.
    for (std::int16_t index = 0; index < static_cast<std::int16_t>(m_units.size()); ++index)
        CloseUnit(index);
}

void MainWindow::saveSettings()
{
    // Every setting is written before any link is closed; a write that fails is skipped.
    m_store.WriteValue(m_contextName, "Units", double(m_unitCount));
    for (int i = 0; i < m_unitCount; ++i) {
        const UnitState &state = unit(i);
        const UnitPanel &controls = panel(i);
        m_store.WriteValue(m_contextName, unitValue(i, ".Board"), double(state.Board));
        m_store.WriteValue(m_contextName, unitValue(i, ".PAd"), double(state.PAd));
        m_store.WriteValue(m_contextName, unitValue(i, ".SAd"), double(state.SAd));
        m_store.WriteValue(m_contextName, unitValue(i, ".A.title"), toBytes(controls.ATxt->text()));
        m_store.WriteValue(m_contextName, unitValue(i, ".B.title"), toBytes(controls.BTxt->text()));
        // Labels from the buttons: a label typed but not locked is not saved.
        for (int p = 0; p < UnitPanel::kPositions; ++p) {
            m_store.WriteValue(m_contextName, labelValue(i, forms::kPositions[p]),
                               toBytes(controls.Position[p]->text()));
        }
    }
    const QRect outer = frameGeometry();
    m_store.WriteValue(m_contextName, "X", double(m_scale.toTwips(outer.left())));
    m_store.WriteValue(m_contextName, "Y", double(m_scale.toTwips(outer.top())));
}
