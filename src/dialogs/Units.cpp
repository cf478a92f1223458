// SPDX-License-Identifier: MIT
#include "Units.h"

#include "PositionUnder.h"
#include "forms/FormBuilder.h"

#include <QPushButton>
#include <QRadioButton>

Units::Units(QWidget *owner)
    : QDialog(owner)
    , m_owner(owner)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("Units"));
    setWindowIcon(owner->windowIcon());
    const FormBuilder builder(TwipsScale::primaryScreen());
    builder.sizeWindow(this, forms::kUnitsWindow);
    setFixedSize(size());

    for (const forms::DialogControlDef &def : forms::kUnitsControls) {
        QWidget *control =
            builder.create(def.kind, this, def.name, def.item, def.caption, def.rect, def.tabIndex);
        if (auto *option = qobject_cast<QRadioButton *>(control)) {
            option->setChecked(def.selected);
            Num[def.item] = option;
            const int count = def.item + 1;
            connect(option, &QRadioButton::clicked, this,
                    [this, count] { m_owner->setProperty("UnitCount", count); });
        } else {
            OK = static_cast<QPushButton *>(control);
        }
    }
    FormBuilder::applyTabOrder(FormBuilder::tabOrder(this));
    OK->setDefault(true);
    connect(OK, &QPushButton::clicked, this, &QDialog::accept);
    PositionUnder(this, owner);
}

void Units::done(int)
{
    // No option pressed means the one selected at the start: a single unit.
    if (m_owner->property("UnitCount").toInt() == 0)
        m_owner->setProperty("UnitCount", 1);
    QDialog::done(Accepted);
}
