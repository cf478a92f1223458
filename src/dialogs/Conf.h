// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QMessageBox>

#include <array>
#include <cstdint>
#include <optional>

class GpibBinding;
class QLabel;
class QLineEdit;
class QPushButton;

/**
 * The configuration dialog: board index, primary and secondary address of one unit, with a
 * Test of the typed addressing on the bus. One object serves the whole run. Setting `Brd`,
 * `pad` or `sad` loads the window when it is not loaded (placed under the owner, the boxes
 * filled from `Accepted`) and writes the value into its box; reading them gives `Accepted`,
 * which only OK changes.
 */
class Conf : public QDialog
{
    Q_OBJECT
public:
    /** `owner` is the main window; `gpib` must outlive the dialog. */
    Conf(QWidget *owner, GpibBinding &gpib);

    std::int16_t Idx = 0; ///< the unit being configured; the dialog never reads it

    void setBrd(std::int16_t value) { setBox(0, value); }
    void setPad(std::int16_t value) { setBox(1, value); }
    void setSad(std::int16_t value) { setBox(2, value); }
    std::int16_t Brd() const { return m_accepted[0]; }
    std::int16_t pad() const { return m_accepted[1]; }
    std::int16_t sad() const { return m_accepted[2]; }

    std::array<QLineEdit *, 3> vVal {};
    std::array<QLabel *, 3> Lbl {};
    QPushButton *OK = nullptr;
    QPushButton *Test = nullptr;

    void done(int result) override;

private:
    void load();
    void setBox(int item, std::int16_t value);
    /** The three boxes as 16-bit numbers; a box out of range is refused with a message. */
    std::optional<std::array<std::int16_t, 3>> readBoxes();
    void OKPress();
    void TestPress();
    void showBox(QMessageBox::Icon icon, const QString &title, const QString &text,
                 const QString &informative = {});

    GpibBinding &m_gpib;
    QWidget *m_owner;
    std::array<std::int16_t, 3> m_accepted {0, 0, 0};
    bool m_loaded = false;
};
