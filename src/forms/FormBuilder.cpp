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
    case ControlKind::Frame: {
        auto *frame = new QGroupBox(text(caption), parent);
        frame->setFont(boldFont());
        widget = frame;
        break;
    }
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
    widget->setObjectName(text(name));
    if (item >= 0)
        widget->setProperty("item", item);
    widget->setProperty("tabIndex", tabIndex);
    widget->setGeometry(m_scale.toPixels(rect));
    if (qobject_cast<QGroupBox *>(parent))
        detachLook(widget);
    return widget;
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

void FormBuilder::detachLook(QWidget *control)
{
    // A fully resolved font and palette: nothing of the frame's own settings is inherited.
    control->setFont(windowFont());
    QPalette palette = QApplication::palette();
    palette.setResolveMask(~QPalette::ResolveMask(0));
    control->setPalette(palette);
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
    std::vector<QWidget *> controls;
    for (QWidget *child : window->findChildren<QWidget *>()) {
        if (child->property("tabIndex").isValid())
            controls.push_back(child);
    }
    std::stable_sort(controls.begin(), controls.end(), [](const QWidget *a, const QWidget *b) {
        return a->property("tabIndex").toInt() < b->property("tabIndex").toInt();
    });
    return controls;
}
