// SPDX-License-Identifier: MIT
#include "FormBuilder.h"

#include "GraphicalButton.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

using forms::ControlKind;

namespace {
QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}
} // namespace

QWidget *FormBuilder::create(ControlKind kind, QWidget *parent, std::string_view name, int item,
                             std::string_view caption, const forms::TwipsRect &rect,
                             int tabIndex) const
{
    QWidget *widget = nullptr;
    switch (kind) {
    case ControlKind::Frame:
        widget = new QGroupBox(text(caption), parent);
        break;
    case ControlKind::TextBox: {
        auto *edit = new QLineEdit(text(caption), parent);
        edit->setCursorPosition(0);
        widget = edit;
        break;
    }
    case ControlKind::Label:
        widget = new QLabel(text(caption), parent);
        break;
    case ControlKind::PushButton:
        widget = new QPushButton(text(caption), parent);
        break;
    case ControlKind::GraphicalButton:
        widget = new GraphicalButton(text(caption), parent);
        break;
    case ControlKind::GraphicalCheckBox: {
        auto *toggle = new GraphicalButton(text(caption), parent);
        toggle->setCheckable(true);
        widget = toggle;
        break;
    }
    case ControlKind::OptionButton:
        widget = new QRadioButton(text(caption), parent);
        break;
    }
    place(widget, name, item, rect, tabIndex);
    return widget;
}

void FormBuilder::place(QWidget *control, std::string_view name, int item,
                        const forms::TwipsRect &rect, int tabIndex) const
{
    control->setObjectName(text(name));
    if (item >= 0)
        control->setProperty("item", item);
    control->setProperty("tabIndex", tabIndex);
    control->setGeometry(m_scale.toPixels(rect));
}

void FormBuilder::sizeWindow(QWidget *window, const forms::WindowDef &def) const
{
    window->setObjectName(text(def.name));
    window->setFont(windowFont());
    window->resize(m_scale.toPixels(def.clientWidth), m_scale.toPixels(def.clientHeight));
}

QFont FormBuilder::windowFont()
{
    // The controls' sizes were drawn for an 8 pt sans serif; a larger face would cut captions.
    QFont font = QApplication::font();
    font.setFamilies({text(forms::kBoldFontFace), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(forms::kBoldFontPointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setResolveMask(QFont::AllPropertiesResolved);
    return font;
}

QFont FormBuilder::boldFont()
{
    QFont font = windowFont();
    font.setWeight(QFont::Bold);
    return font;
}

void FormBuilder::applyTabOrder(const std::vector<QWidget *> &controls)
{
    QWidget *previous = nullptr;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        QWidget *control = controls[i];
        control->setProperty("tabIndex", static_cast<int>(i));
        // Frames hold a place in the order but never take the focus themselves.
        if (control->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

std::vector<QWidget *> FormBuilder::tabOrder(const QWidget *window)
{
    std::vector<std::pair<int, QWidget *>> positions;
    for (QWidget *child : window->findChildren<QWidget *>()) {
        if (const QVariant position = child->property("tabIndex"); position.isValid())
            positions.emplace_back(position.toInt(), child);
    }
    std::stable_sort(positions.begin(), positions.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<QWidget *> controls;
    controls.reserve(positions.size());
    for (const auto &[position, control] : positions)
        controls.push_back(control);
    return controls;
}
