// SPDX-License-Identifier: MIT
#include "WindowPlacement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QRegion>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace WindowPlacement {
namespace {

constexpr int kEdgeMargin = 100; // twips kept free at the screen's right and bottom

} // namespace

void centre(QWidget &window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect area(QPoint(), window.size());
        area.moveCenter(screen->availableGeometry().center());
        window.move(area.topLeft());
    }
}

QPoint placed(QPoint stored, int currentTop, QSize frame, const TwipsScale &scale)
{
    const QSize screen = TwipsScale::screenSizeTwips();
    if (stored.x() > screen.width() - kEdgeMargin || stored.x() < 0)
        stored.setX(kDefaultX);
    if (stored.y() > screen.height() - kEdgeMargin || stored.y() < 0)
        stored.setY(currentTop);
    // A position stored at another scale or on another screen can leave the window out of
    // reach even within the range rule.
    return onScreens(QRect(QPoint(scale.toPixels(stored.x()), scale.toPixels(stored.y())), frame));
}

QPoint onScreens(const QRect &frame)
{
    QRegion available;
    const QScreen *most = QGuiApplication::primaryScreen();
    qint64 mostArea = 0;
    for (const QScreen *screen : QGuiApplication::screens()) {
        available += screen->availableGeometry();
        const QRect shared = screen->availableGeometry().intersected(frame);
        if (qint64(shared.width()) * shared.height() > mostArea) {
            mostArea = qint64(shared.width()) * shared.height();
            most = screen;
        }
    }
    if (!most || QRegion(frame).subtracted(available).isEmpty())
        return frame.topLeft();
    const QRect area = most->availableGeometry();
    return {std::clamp(frame.left(), area.left(),
                       std::max(area.left(), area.right() + 1 - frame.width())),
            std::clamp(frame.top(), area.top(),
                       std::max(area.top(), area.bottom() + 1 - frame.height()))};
}

void toFront(QWidget &window)
{
    QWidget *front = QApplication::activeModalWidget();
    if (!front) {
        front = &window;
        if (window.isMinimized())
            window.showNormal();
    }
    front->raise();
    front->activateWindow();
}

} // namespace WindowPlacement
