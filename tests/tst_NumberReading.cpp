// SPDX-License-Identifier: MIT
// How the configuration dialog reads the number in a box.

#include "dialogs/NumberReading.h"

#include <QTest>

#include <clocale>

class tst_NumberReading : public QObject
{
    Q_OBJECT
private slots:
    void reads_data();
    void reads();
    void doesNotDependOnTheLocale();
};

void tst_NumberReading::reads_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // INT_MIN: refused, out of the 16-bit range
    // clang-format off
    QTest::newRow("pad 12abc reads 12") << "12abc" << 12;
    QTest::newRow("empty reads 0") << "" << 0;
    QTest::newRow("blank inside is ignored") << "1 2" << 12;
    QTest::newRow("tab inside is ignored") << "1\t2" << 12;
    QTest::newRow("2.5 rounds to even 2") << "2.5" << 2;
    QTest::newRow("3.5 rounds to even 4") << "3.5" << 4;
    QTest::newRow("-2.5 rounds to even -2") << "-2.5" << -2;
    QTest::newRow(".5 rounds to 0") << ".5" << 0;
    QTest::newRow("2.51 rounds up") << "2.51" << 3;
    QTest::newRow("hex") << "&H1F" << 31;
    QTest::newRow("hex lower case") << "&hff" << 255;
    QTest::newRow("octal") << "&O17" << 15;
    QTest::newRow("octal lower case") << "&o17" << 15;
    QTest::newRow("hex stops at a non-digit") << "&H1FG" << 31;
    QTest::newRow("hex without digits") << "&H" << 0;
    QTest::newRow("octal stops at 8") << "&O78" << 7;
    QTest::newRow("negative") << "-5" << -5;
    QTest::newRow("exponent") << "1e2" << 100;
    QTest::newRow("exponent with D") << "1D1" << 10;
    QTest::newRow("exponent with sign") << "15E-1" << 2;
    QTest::newRow("exponent without digits is left out") << "7e" << 7;
    QTest::newRow("exponent sign without digits") << "7e+x" << 7;
    QTest::newRow("blanks and plus") << "  +7 " << 7;
    QTest::newRow("two signs read 0") << "+-1" << 0;
    QTest::newRow("sign alone") << "-" << 0;
    QTest::newRow("point alone") << "." << 0;
    QTest::newRow("16-bit pattern FFFF") << "&HFFFF" << -1;
    QTest::newRow("16-bit pattern 8000") << "&H8000" << -32768;
    QTest::newRow("octal 16-bit pattern") << "&O177777" << -1;
    QTest::newRow("letters read 0") << "abc" << 0;
    QTest::newRow("comma is not a decimal point") << "2,7" << 2;
    QTest::newRow("lowest") << "-32768" << -32768;
    QTest::newRow("lowest half rounds to even") << "-32768.5" << -32768;
    QTest::newRow("highest") << "32767" << 32767;
    QTest::newRow("tiny exponent") << "5e-400" << 0;
    QTest::newRow("non-ASCII after digits") << "12Ω" << 12;
    QTest::newRow("32767.5 rounds to 32768") << "32767.5" << INT_MIN;
    QTest::newRow("99999") << "99999" << INT_MIN;
    QTest::newRow("32-bit pattern 10000") << "&H10000" << INT_MIN;
    QTest::newRow("32-bit pattern FFFFFFFF") << "&HFFFFFFFF" << -1;
    QTest::newRow("-32768.51") << "-32768.51" << INT_MIN;
    QTest::newRow("huge exponent") << "1e400" << INT_MIN;
    QTest::newRow("huge negative") << "-1D999" << INT_MIN;
    QTest::newRow("more than 32 bits of hex") << "&H123456789" << INT_MIN;
    QTest::newRow("octal over 16 bits") << "&O200000" << INT_MIN;
    // clang-format on
}

void tst_NumberReading::reads()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    const std::optional<std::int16_t> read = ReadInteger16(text.toStdString());
    QCOMPARE(read.has_value(), value != INT_MIN);
    if (read)
        QCOMPARE(int(*read), value);
}

void tst_NumberReading::doesNotDependOnTheLocale()
{
    // A locale whose decimal separator is a comma must not change "2.75".
    const char *previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        QSKIP("no locale with a decimal comma is installed");
    const double value = ReadNumber("2.75");
    std::setlocale(LC_NUMERIC, saved.c_str());
    QCOMPARE(value, 2.75);
    QCOMPARE(ReadNumber("&H10000"), 65536.0);
}

QTEST_GUILESS_MAIN(tst_NumberReading)
#include "tst_NumberReading.moc"
