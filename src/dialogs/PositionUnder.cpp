// SPDX-License-Identifier: MIT
#include "PositionUnder.h"

#include "forms/TwipsScale.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

QPoint PositionUnder(const QRect &mainTwips, int dialogHeightTwips, int screenHeightTwips)
{
    constexpr int kGap = 20;
    constexpr int kIndent = 100;
    int top = mainTwips.top() + mainTwips.height() + kGap;
    if (top + dialogHeightTwips > screenHeightTwips)
        top = mainTwips.top() - dialogHeightTwips - kGap;
    return {mainTwips.left() + kIndent, top};
}

namespace {

/**
 * The frame the platform puts around a top-level window, before the window is shown: the
 * dialog's own from an earlier showing, else that of a window already shown (one window
 * manager frames them all), else what the platform tells of the created window (under X11
 * its border, not yet a title bar).
 */
QMargins expectedFrame(QWidget *dialog)
{
    if (dialog->windowHandle() && !dialog->windowHandle()->frameMargins().isNull())
        return dialog->windowHandle()->frameMargins();
    for (const QWidget *shown : QApplication::topLevelWidgets()) {
        if (shown->isVisible() && shown->windowHandle())
            return shown->windowHandle()->frameMargins();
    }
    dialog->winId();
    return dialog->windowHandle() ? dialog->windowHandle()->frameMargins() : QMargins();
}

void place(QWidget *dialog, const QWidget *main, const QMargins &frame)
{
    const TwipsScale scale = TwipsScale::primaryScreen();
    const QWindow *framedMain = main->windowHandle();
    const QRect outer =
        main->geometry().marginsAdded(framedMain ? framedMain->frameMargins() : frame);
    const QRect mainTwips(scale.toTwips(outer.left()), scale.toTwips(outer.top()),
                          scale.toTwips(outer.width()), scale.toTwips(outer.height()));
    const int dialogHeight = dialog->height() + frame.top() + frame.bottom();
    const QPoint place = PositionUnder(mainTwips, scale.toTwips(dialogHeight),
                                       TwipsScale::screenSizeTwips().height());
    dialog->move(scale.toPixels(place.x()), scale.toPixels(place.y()));
}

/**
 * Places the dialog once more when it is first exposed, framed by then, if the window manager
 * framed it otherwise than expected (a dialog may lack the main window's resize grip).
 */
class PlaceWhenFramed : public QObject
{
public:
    PlaceWhenFramed(QWidget *dialog, const QWidget *main, const QMargins &expected)
        : QObject(dialog)
        , m_dialog(dialog)
        , m_main(main)
        , m_expected(expected)
    {
        dialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_dialog && event->type() == QEvent::Show) {
            m_dialog->removeEventFilter(this);
            m_dialog->windowHandle()->installEventFilter(this);
        } else if (watched != m_dialog && event->type() == QEvent::Expose) {
            const QMargins frame = m_dialog->windowHandle()->frameMargins();
            if (m_main && !frame.isNull() && frame != m_expected)
                place(m_dialog, m_main, frame);
            deleteLater();
        }
        return false;
    }

private:
    QWidget *m_dialog;
    QPointer<const QWidget> m_main;
    QMargins m_expected;
};

} // namespace

void PositionUnder(QWidget *dialog, const QWidget *main)
{
    const QMargins frame = expectedFrame(dialog);
    place(dialog, main, frame);
    if (!dialog->isVisible())
        new PlaceWhenFramed(dialog, main, frame);
}
