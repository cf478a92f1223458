// SPDX-License-Identifier: MIT
// The floor of a start-up: a bare Qt Widgets window with the main window's 63 controls (three
// frames of 20) at their places, and no logic at all. It says "shown" once its window is up
// and then waits to be ended.

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    Q_UNUSED(argc);
    QWidget window;
    window.resize(481, 125);
    for (int frameIndex = 0; frameIndex < 3; ++frameIndex) {
        auto *frame = new QGroupBox(QStringLiteral("Unit %1").arg(frameIndex + 1), &window);
        frame->setGeometry(160 * frameIndex, 0, 153, 125);
        for (int column = 0; column < 2; ++column) {
            const int left = column == 0 ? 8 : 80;
            (new QLineEdit(QStringLiteral("Device %1").arg(column + 1), frame))
                ->setGeometry(left, 15, 65, 19);
            for (int row = 0; row < 4; ++row) {
                (new QPushButton(QStringLiteral("A%1").arg(row + 1), frame))
                    ->setGeometry(left, 33 + 16 * row, 65, 17);
                auto *label = new QLineEdit(QStringLiteral("A%1").arg(row + 1), frame);
                label->setGeometry(left, 32 + 16 * row, 65, 19);
                label->hide();
            }
            (new QPushButton(column == 0 ? QStringLiteral("&Config") : QStringLiteral("&Edit"),
                             frame))
                ->setGeometry(left, 104, 65, 16);
        }
    }
    window.show();
    QTimer::singleShot(0, [] {
        std::puts("shown");
        std::fflush(stdout);
    });
    return QApplication::exec();
}
