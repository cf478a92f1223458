// SPDX-License-Identifier: MIT
// The widgets built from the window definitions: twips become pixels, and graphical buttons
// paint their back colour exactly.

#include "Bench.h"
#include "forms/Colours.h"
#include "forms/MainForm.h"

#include <QStyle>
#include <QStyleFactory>

class tst_MainForm : public QObject
{
    Q_OBJECT
private slots:
    void twipsBecomePixelsAtTheLogicalDpi_data()
    {
        QTest::addColumn<double>("dpi");
        QTest::addColumn<int>("twips");
        QTest::addColumn<int>("pixels");
        // clang-format off
        QTest::newRow("96 dpi: 15 twips a pixel") << 96.0 << 2295 << 153;
        QTest::newRow("96 dpi: rounds to nearest") << 96.0 << 1880 << 125;
        QTest::newRow("96 dpi: negative") << 96.0 << -300 << -20;
        QTest::newRow("120 dpi: 12 twips a pixel") << 120.0 << 2400 << 200;
        QTest::newRow("192 dpi") << 192.0 << 975 << 130;
        // clang-format on
    }

    void twipsBecomePixelsAtTheLogicalDpi()
    {
        QFETCH(double, dpi);
        QFETCH(int, twips);
        QFETCH(int, pixels);
        const TwipsScale scale(dpi);
        QCOMPARE(scale.toPixels(twips), pixels);
        QVERIFY(qAbs(scale.toTwips(pixels) - twips) <= 1440 / dpi);
    }

    void buttonsPaintTheirBackColourExactly_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<uint>("colour");
        QTest::addColumn<QColor>("expected"); // 0x00BBGGRR as red, green, blue
        for (const QString &style : {QStringLiteral("Fusion"), QStringLiteral("Windows")}) {
            const QColor face = QApplication::palette().color(QPalette::Button); // the system's
            // clang-format off
            QTest::addRow("%s button face", qPrintable(style)) << style << 0x8000000Fu << face;
            QTest::addRow("%s selected", qPrintable(style)) << style << 0x00FF00u << QColor(0, 255, 0);
            QTest::addRow("%s edit grey", qPrintable(style)) << style << 0xC0C0C0u << QColor(192, 192, 192);
            QTest::addRow("%s yellow", qPrintable(style)) << style << 0x00FFFFu << QColor(255, 255, 0);
            // clang-format on
        }
    }

    void buttonsPaintTheirBackColourExactly()
    {
        QFETCH(QString, style);
        QFETCH(uint, colour);
        QFETCH(QColor, expected);
        const QString previous = QApplication::style()->name();
        QApplication::setStyle(QStyleFactory::create(style));
        QWidget window;
        const auto panels = MainForm::build(&window, TwipsScale(96));
        GraphicalButton *button = panels[1].Edit;
        button->setBackColour(colour);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(faceColour(button), expected);
        QImage image = painted(button); // most of the face is that colour, not a gradient near it
        QVERIFY(pixelsOf(image, expected) > image.width() * image.height() / 2);
        // Pressed, the caption moves a pixel down and right.
        const auto caption = [](const QImage &face) {
            QRect box;
            for (int y = 3; y < face.height() - 3; ++y) {
                for (int x = 3; x < face.width() - 3; ++x)
                    box |= qGray(face.pixel(x, y)) < 60 ? QRect(x, y, 1, 1) : QRect();
            }
            return box;
        };
        button->setChecked(true);
        QVERIFY(caption(painted(button)).left() > caption(image).left());
        QApplication::setStyle(previous);
    }
};

QTEST_MAIN(tst_MainForm)
#include "tst_MainForm.moc"
