// SPDX-License-Identifier: MIT
#include "EditMode.h"

#include "forms/UnitPanel.h"

#include <QLineEdit>
#include <QPushButton>

namespace {
// A1, B1, A2, B2, A3, B3, A4, B4: the order in which the panel's rows change.
constexpr int kInterleaved[UnitPanel::kPositions] = {0, 4, 1, 5, 2, 6, 3, 7};
} // namespace

void SetEditMode(UnitPanel &panel, bool editing)
{
    if (editing) {
        panel.Edit->setText(QStringLiteral("&Lock"));
        for (const int p : kInterleaved)
            panel.Position[p]->hide();
        for (const int p : kInterleaved)
            panel.PositionLbl[p]->show();
        panel.ATxt->setEnabled(true);
        panel.BTxt->setEnabled(true);
        return;
    }
    panel.Edit->setText(QStringLiteral("&Edit"));
    for (const int p : kInterleaved)
        panel.Position[p]->show();
    for (const int p : kInterleaved)
        panel.Position[p]->setText(panel.PositionLbl[p]->text());
    for (const int p : kInterleaved)
        panel.PositionLbl[p]->hide();
    for (QPushButton *button : panel.Position)
        button->setVisible(!button->text().isEmpty());
    panel.ATxt->setEnabled(false);
    panel.BTxt->setEnabled(false);
}
