// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include <array>

class QPushButton;
class QRadioButton;

/**
 * The unit-count dialog: three options "1 SELVANE unit" .. "3 SELVANE units" and OK. It
 * writes the count straight into the owner's property "UnitCount" (16-bit integer); however
 * it closes (OK, Enter, Escape, the title bar) it leaves that count at 1, 2 or 3.
 */
class Units : public QDialog
{
    Q_OBJECT
public:
    /** `owner` is the main window: it carries "UnitCount" and places the dialog. */
    explicit Units(QWidget *owner);

    std::array<QRadioButton *, 3> Num {};
    QPushButton *OK = nullptr;

    void done(int result) override;

private:
    QWidget *m_owner;
};
