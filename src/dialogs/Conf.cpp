// SPDX-License-Identifier: MIT
#include "Conf.h"

#include "NumberReading.h"
#include "PositionUnder.h"
#include "forms/BusyCursor.h"
#include "forms/FormBuilder.h"
#include "gpib/GpibBinding.h"
#include "gpib/GpibStatus.h"
#include "gpib/UnitDeviceLink.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

const QString kTestTitle = QStringLiteral("GPIB Test");
constexpr std::string_view kLinkProof = "XX";

} // namespace

Conf::Conf(QWidget *owner, GpibBinding &gpib)
    : QDialog(owner)
    , m_gpib(gpib)
    , m_owner(owner)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("Configuration"));
    setWindowIcon(QIcon()); // none of its own, and not its owner's either
    const FormBuilder builder(TwipsScale::primaryScreen());
    builder.sizeWindow(this, forms::kConfWindow);
    setFixedSize(size());

    QWidget *frame = nullptr;
    for (const forms::DialogControlDef &def : forms::kConfControls) {
        QWidget *parent = def.inFrame ? frame : this;
        QWidget *control = builder.create(def.kind, parent, def.name, def.item, def.caption,
                                          def.rect, def.tabIndex);
        if (def.kind == forms::ControlKind::Frame)
            frame = control;
        else if (def.name == "Lbl")
            Lbl[def.item] = static_cast<QLabel *>(control);
        else if (def.name == "vVal")
            vVal[def.item] = static_cast<QLineEdit *>(control);
        else if (def.name == "OK")
            OK = static_cast<QPushButton *>(control);
        else if (def.name == "Test")
            Test = static_cast<QPushButton *>(control);
    }
    for (int k = 0; k < 3; ++k)
        Lbl[k]->setBuddy(vVal[k]);
    FormBuilder::applyTabOrder(FormBuilder::tabOrder(this));
    OK->setDefault(true);
    connect(OK, &QPushButton::clicked, this, &Conf::OKPress);
    connect(Test, &QPushButton::clicked, this, &Conf::TestPress);
}

void Conf::load()
{
    PositionUnder(this, m_owner);
    for (int k = 0; k < 3; ++k)
        vVal[k]->setText(QString::number(m_accepted[k]));
    m_loaded = true;
}

void Conf::setBox(int item, std::int16_t value)
{
    if (!m_loaded)
        load();
    vVal[item]->setText(QString::number(value));
}

void Conf::done(int result)
{
    m_loaded = false; // the next use loads the window again
    QDialog::done(result);
}

std::optional<std::array<std::int16_t, 3>> Conf::readBoxes()
{
    std::array<std::int16_t, 3> values {};
    for (int k = 0; k < 3; ++k) {
        const std::optional<std::int16_t> value = ReadInteger16(vVal[k]->text().toStdString());
        if (!value) {
            const QString field = Lbl[k]->text().chopped(1); // "Board:" names the field
            showBox(QMessageBox::Critical, QStringLiteral("SELVANE"),
                    QStringLiteral("%1 must be a number from -32768 to 32767.").arg(field));
            vVal[k]->setFocus();
            vVal[k]->selectAll();
            return std::nullopt;
        }
        values[k] = *value;
    }
    return values;
}

void Conf::OKPress()
{
    const auto values = readBoxes();
    if (!values)
        return;
    m_accepted = *values;
    accept();
}

void Conf::TestPress()
{
    const auto values = readBoxes();
    if (!values)
        return;
    const auto [board, pad, sad] = *values;
    const UnitLink tried {0, board, pad, sad, false};
    bool ok = false;
    std::optional<std::pair<int, long>> refusal; // the driver's answer to the failed step
    try {
        const BusyCursor waiting;
        const std::int16_t device = m_gpib.GpibOpenDevice(board, pad, sad, gpib::kTimeout3s, 1, 0);
        if (GpibStatus.refused())
            refusal = {GpibStatus.iberr, GpibStatus.ibcntl};
        if (!GpibStatus.failed() && device > 0) {
            m_gpib.GpibWrite(device, kLinkProof, static_cast<std::int32_t>(kLinkProof.size()));
            ok = !GpibStatus.failed();
            if (GpibStatus.refused())
                refusal = {GpibStatus.iberr, GpibStatus.ibcntl};
            // Offline whatever the write did, so that no test keeps a descriptor; a library
            // without ibonl keeps it, which alone says nothing about the device.
            try {
                m_gpib.GpibSetOnline(device, 0);
            } catch (const BindingFailure &) { }
        }
    } catch (const BindingFailure &failure) {
        // In the system's 8-bit encoding, as every other message: the ANSI code page on Windows.
        showBox(QMessageBox::Critical, kTestTitle,
                QString::fromLocal8Bit(UnitDeviceLink::failureMessage(failure).c_str()));
        return;
    }
    if (ok) {
        showBox(QMessageBox::Information, kTestTitle, QStringLiteral("Test is OK"));
        return;
    }
    // Below the box's own text: where it looked, and what the driver answered there.
    const std::string answer = refusal ? UnitDeviceLink::refusalInWords(*refusal, tried, false)
                                       : "the driver gave no descriptor";
    showBox(
        QMessageBox::Critical, kTestTitle, QStringLiteral("Unable to open device"),
        QString::fromLocal8Bit("Tried " + UnitDeviceLink::address(tried) + ": " + answer + '.'));
}

void Conf::showBox(QMessageBox::Icon icon, const QString &title, const QString &text,
                   const QString &informative)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(informative);
    box.exec();
}
