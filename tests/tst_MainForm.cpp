// SPDX-License-Identifier: MIT
// The window definitions and the widgets built from them.

#include "PaintedPixels.h"
#include "forms/Colours.h"
#include "forms/FormBuilder.h"
#include "forms/FormDefinitions.h"
#include "forms/GraphicalButton.h"
#include "forms/MainForm.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <set>

class tst_MainForm : public QObject
{
    Q_OBJECT
private slots:
    void mainTabPositionsAreEachUsedOnce();
    void dialogTabPositionsAreEachUsedOnce();
    void twipsBecomePixelsAtTheLogicalDpi_data();
    void twipsBecomePixelsAtTheLogicalDpi();
    void everyControlIsBuiltWithItsName();
    void itemsDifferOnlyWhereDefined();
    void framesAreBoldAndTheirChildrenAreNot();
    void buttonsPaintTheirBackColourExactly_data();
    void buttonsPaintTheirBackColourExactly();
};

void tst_MainForm::mainTabPositionsAreEachUsedOnce()
{
    std::multiset<int> positions;
    for (const auto &frame : forms::kFrames)
        positions.insert(frame.tabIndex);
    for (const auto &control : forms::kPanelControls)
        positions.insert(control.tabIndex.begin(), control.tabIndex.end());
    QCOMPARE(positions.size(), std::size_t(63));
    int expected = 0;
    for (const int position : positions)
        QCOMPARE(position, expected++);
}

void tst_MainForm::dialogTabPositionsAreEachUsedOnce()
{
    std::set<int> conf;
    for (const auto &control : forms::kConfControls)
        conf.insert(control.tabIndex);
    QCOMPARE(conf, (std::set<int> {0, 1, 2, 3, 4, 5, 6, 7, 8}));
    std::set<int> units;
    for (const auto &control : forms::kUnitsControls)
        units.insert(control.tabIndex);
    QCOMPARE(units, (std::set<int> {0, 1, 2, 3}));
}

void tst_MainForm::twipsBecomePixelsAtTheLogicalDpi_data()
{
    QTest::addColumn<double>("dpi");
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("96 dpi: 15 twips a pixel") << 96.0 << 2295 << 153;
    QTest::newRow("96 dpi: rounds to nearest") << 96.0 << 1880 << 125;
    QTest::newRow("96 dpi: negative") << 96.0 << -300 << -20;
    QTest::newRow("120 dpi: 12 twips a pixel") << 120.0 << 2400 << 200;
    QTest::newRow("192 dpi") << 192.0 << 975 << 130;
}

void tst_MainForm::twipsBecomePixelsAtTheLogicalDpi()
{
    QFETCH(double, dpi);
    QFETCH(int, twips);
    QFETCH(int, pixels);
    const TwipsScale scale(dpi);
    QCOMPARE(scale.toPixels(twips), pixels);
    QVERIFY(qAbs(scale.toTwips(pixels) - twips) <= 1440 / dpi);
}

void tst_MainForm::everyControlIsBuiltWithItsName()
{
    QWidget window;
    const auto panels = MainForm::build(&window, TwipsScale(96));
    QCOMPARE(window.size(), QSize(474, 125)); // 7110 x 1875 twips
    const QList<QGroupBox *> frames = window.findChildren<QGroupBox *>(QStringLiteral("Frame"));
    QCOMPARE(frames.size(), 3);
    for (int item = 0; item < 3; ++item) {
        UnitFrame *frame = panels[item].Frame;
        QCOMPARE(frame->property("item").toInt(), item);
        QCOMPARE(frame->title(), QStringLiteral("Unit %1").arg(item + 1));
        QCOMPARE(frame->toolTip(), QStringLiteral("Unit %1 control").arg(item + 1));
        QCOMPARE(frame->geometry(), QRect(160 * item, 0, 153, 125));
        QCOMPARE(frame->children().size(), 20);
        for (const auto &def : forms::kPanelControls) {
            const QString name = QString::fromLatin1(def.name.data(), qsizetype(def.name.size()));
            auto *control = frame->findChild<QWidget *>(name);
            QVERIFY2(control, qPrintable(name));
            QCOMPARE(control->property("item").toInt(), item);
            QCOMPARE(control->toolTip(),
                     QString::fromLatin1(def.tooltip.data(), qsizetype(def.tooltip.size())));
        }
        QCOMPARE(panels[item].Position[0]->text(), QStringLiteral("A1"));
        QCOMPARE(panels[item].PositionLbl[7]->text(), QStringLiteral("B4"));
        QCOMPARE(panels[item].Config->text(), QStringLiteral("&Config"));
        QCOMPARE(panels[item].Edit->text(), QStringLiteral("&Edit"));
        QVERIFY(panels[item].Edit->isCheckable());
        QVERIFY(!panels[item].Edit->isChecked());
        QCOMPARE(panels[item].Config->focusPolicy(), Qt::ClickFocus);
        QVERIFY(!panels[item].ATxt->isEnabled());
        QCOMPARE(panels[item].ATxt->text(), QStringLiteral("Device 1"));
        QCOMPARE(panels[item].BTxt->text(), QStringLiteral("Device 2"));
    }
}

void tst_MainForm::itemsDifferOnlyWhereDefined()
{
    QWidget window;
    const auto panels = MainForm::build(&window, TwipsScale(96));
    // The A buttons of the third frame sit 5 twips higher: 495 against 500 twips.
    QCOMPARE(panels[0].Position[0]->geometry(), QRect(8, 33, 65, 17));
    QCOMPARE(panels[2].Position[0]->y(), 33);
    QCOMPARE(panels[2].Position[1]->y(), 49); // 735 twips
    QCOMPARE(panels[0].Position[1]->y(), 49); // 740 twips
    QCOMPARE(panels[0].ATxt->palette().color(QPalette::Text), QColor(0, 0, 0));
    QCOMPARE(panels[1].ATxt->palette().color(QPalette::Text), QColor(0x40, 0x40, 0x40));
    QCOMPARE(panels[0].ATxt->palette().color(QPalette::Base), QColor(255, 255, 255));
    QCOMPARE(forms::toQColor(0x0040C0), QColor(192, 64, 0));
    QCOMPARE(panels[2].Frame->captionColour(), QColor(192, 64, 0));
    QCOMPARE(panels[0].Frame->captionColour(), QColor(255, 0, 0));
}

void tst_MainForm::framesAreBoldAndTheirChildrenAreNot()
{
    QWidget window;
    const auto panels = MainForm::build(&window, TwipsScale(96));
    QCOMPARE(panels[0].Frame->captionFont().weight(), QFont::Bold);
    QCOMPARE(panels[0].ATxt->font().weight(), QFont::Bold);
    QCOMPARE(panels[0].Position[0]->font().weight(), QFont::Normal);
    QCOMPARE(panels[0].Position[0]->font().pointSizeF(), forms::kBoldFontPointSize);
    QCOMPARE(panels[0].Position[0]->font().family(), FormBuilder::windowFont().family());
    // The caption colour stays with the frame.
    QCOMPARE(panels[0].Position[0]->palette().color(QPalette::WindowText),
             QApplication::palette().color(QPalette::WindowText));
    panels[0].Frame->setCaptionColour(forms::kLinkedGreen);
    QCOMPARE(panels[0].Config->palette().color(QPalette::ButtonText),
             QApplication::palette().color(QPalette::ButtonText));
    QCOMPARE(panels[0].PositionLbl[0]->palette().color(QPalette::WindowText),
             QApplication::palette().color(QPalette::WindowText));
}

void tst_MainForm::buttonsPaintTheirBackColourExactly_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<uint>("colour");
    for (const QString &style : {QStringLiteral("Fusion"), QStringLiteral("Windows")}) {
        QTest::addRow("%s button face", qPrintable(style)) << style << uint(forms::kButtonFace);
        QTest::addRow("%s selected", qPrintable(style)) << style << uint(forms::kSelectedGreen);
        QTest::addRow("%s edit grey", qPrintable(style)) << style << 0xC0C0C0u;
    }
}

void tst_MainForm::buttonsPaintTheirBackColourExactly()
{
    QFETCH(QString, style);
    QFETCH(uint, colour);
    const QString previous = QApplication::style()->name();
    QApplication::setStyle(QStyleFactory::create(style));
    QWidget window;
    const auto panels = MainForm::build(&window, TwipsScale(96));
    GraphicalButton *button = panels[1].Position[5];
    button->setBackColour(colour);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QColor expected = forms::toQColor(colour);
    QCOMPARE(faceColour(button), expected);
    QCOMPARE(button->property("backColour").toUInt(), colour);
    // Most of the button's face is that colour, not a gradient near it.
    const QImage image = painted(button);
    QVERIFY(pixelsOf(image, expected) > image.width() * image.height() / 2);
    QApplication::setStyle(previous);
}

QTEST_MAIN(tst_MainForm)
#include "tst_MainForm.moc"
