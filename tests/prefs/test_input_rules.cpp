#include "prefs/input_rules.h"

#include <QTest>
#include <cfloat>

using namespace prefs;

class TestInputRules : public QObject {
    Q_OBJECT
private slots:
    void digitFilter_data();
    void digitFilter();
    void slashConversion_data();
    void slashConversion();
    void prefixSetHoldsThe83Characters();
    void prefixFilterTakesTheSetAndBackspace();
    void prefixFilter_data();
    void prefixFilter();
    void fixPath_data();
    void fixPath();
    void leadingNumberValue_data();
    void leadingNumberValue();
    void leadingNumberValueSaturates();
    void generalNumberForm_data();
    void generalNumberForm();
    void normaliseLimit_data();
    void normaliseLimit();
};

void TestInputRules::digitFilter_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("result");
    for (char c = '0'; c <= '9'; ++c) {
        QTest::addRow("digit %c", c) << int(c) << int(c);
    }
    QTest::newRow("backspace") << 8 << 8;
    QTest::newRow("letter") << int('a') << 0;
    QTest::newRow("capital") << int('Z') << 0;
    QTest::newRow("blank") << int(' ') << 0;
    QTest::newRow("minus") << int('-') << 0;
    QTest::newRow("point") << int('.') << 0;
    QTest::newRow("plus") << int('+') << 0;
    QTest::newRow("ctrl+v") << 22 << 0;
    QTest::newRow("ctrl+c") << 3 << 0;
    QTest::newRow("ctrl+x") << 24 << 0;
    QTest::newRow("nul") << 0 << 0;
    QTest::newRow("del") << 127 << 0;
    QTest::newRow("superscript two") << 0xb2 << 0;
    QTest::newRow("arabic-indic digit") << 0x663 << 0;
}

void TestInputRules::digitFilter() {
    QFETCH(int, code);
    QFETCH(int, result);
    QCOMPARE(prefs::digitFilter(code), result);
}

void TestInputRules::slashConversion_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("result");
    QTest::newRow("slash") << int('/') << int('\\');
    QTest::newRow("backslash") << int('\\') << int('\\');
    QTest::newRow("colon") << int(':') << int(':');
    QTest::newRow("letter") << int('D') << int('D');
    QTest::newRow("blank") << int(' ') << int(' ');
    QTest::newRow("asterisk") << int('*') << int('*');
    QTest::newRow("non-ASCII") << 0xe9 << 0xe9;
    QTest::newRow("last Latin-1") << 0xff << 0xff;
    QTest::newRow("first beyond Latin-1") << 0x100 << 0;
    QTest::newRow("beyond the basic plane") << 0x1f600 << 0;
    QTest::newRow("backspace") << 8 << 8;
    QTest::newRow("double quote") << int('"') << 0;
    QTest::newRow("ctrl+v") << 22 << 0;
    QTest::newRow("ctrl+c") << 3 << 0;
    QTest::newRow("ctrl+x") << 24 << 0;
    QTest::newRow("ctrl+a") << 1 << 0;
    QTest::newRow("tab") << 9 << 0;
    QTest::newRow("line feed") << 10 << 0;
    QTest::newRow("del") << 127 << 0;
    QTest::newRow("C1 control") << 0x85 << 0;
}

void TestInputRules::slashConversion() {
    QFETCH(int, code);
    QFETCH(int, result);
    QCOMPARE(prefs::slashConversion(code), result);
}

void TestInputRules::prefixSetHoldsThe83Characters() {
    const QString set = QString::fromUtf16(kPrefixSet);
    QCOMPARE(set.size(), 83);
    QString refused;
    for (int c = 32; c < 127; ++c) {
        if (!set.contains(QChar(c))) {
            refused.append(QChar(c));
        }
    }
    QCOMPARE(refused, QStringLiteral(" \"*/:<>?[\\]|"));
}

void TestInputRules::prefixFilterTakesTheSetAndBackspace() {
    for (const char16_t c : QString::fromUtf16(kPrefixSet).toStdU16String()) {
        QCOMPARE(prefs::prefixFilter(c), int(c));
    }
    QCOMPARE(prefs::prefixFilter(8), 8);
}

void TestInputRules::prefixFilter_data() {
    QTest::addColumn<int>("code");
    const QString twelve = QStringLiteral(" \"*/:<>?[\\]|");
    for (const QChar c : twelve) {
        QTest::addRow("refused '%c'", c.toLatin1()) << int(c.unicode());
    }
    QTest::newRow("ctrl+v") << 22;
    QTest::newRow("ctrl+c") << 3;
    QTest::newRow("tab") << 9;
    QTest::newRow("del") << 127;
    QTest::newRow("nul") << 0;
    QTest::newRow("e acute") << 0xe9;
    QTest::newRow("euro") << 0x20ac;
}

void TestInputRules::prefixFilter() {
    QFETCH(int, code);
    QCOMPARE(prefs::prefixFilter(code), 0);
}

void TestInputRules::fixPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("fixed");
    QTest::newRow("drive") << "D:"
                           << "D:\\";
    QTest::newRow("forward slashes") << "D:/data"
                                     << "D:\\data\\";
    QTest::newRow("already fixed") << "D:\\data\\"
                                   << "D:\\data\\";
    QTest::newRow("lone slash") << "/"
                                << "\\";
    QTest::newRow("relative") << "data"
                              << "data\\";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("trailing slash") << "D:/data/"
                                    << "D:\\data\\";
    QTest::newRow("blanks kept") << " D: x "
                                 << " D: x \\";
    QTest::newRow("doubled backslashes kept") << "D:\\\\x"
                                              << "D:\\\\x\\";
    QTest::newRow("lone blank") << " "
                                << " \\";
}

void TestInputRules::fixPath() {
    QFETCH(QString, path);
    QFETCH(QString, fixed);
    QCOMPARE(prefs::fixPath(path), fixed);
}

void TestInputRules::leadingNumberValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("number then letters") << "12abc" << 12.0;
    QTest::newRow("leading zeros") << "007" << 7.0;
    QTest::newRow("leading blank") << " 10" << 10.0;
    QTest::newRow("blanks inside") << " 1 2 " << 12.0;
    QTest::newRow("tabs and line feeds") << "\t1\n2\t" << 12.0;
    QTest::newRow("carriage return ends") << "3\r4" << 3.0;
    QTest::newRow("negative") << "-3" << -3.0;
    QTest::newRow("blank after minus") << "- 3" << -3.0;
    QTest::newRow("fraction") << "1.5x" << 1.5;
    QTest::newRow("fraction only") << ".5" << 0.5;
    QTest::newRow("point ends it") << "2." << 2.0;
    QTest::newRow("second point ends it") << "1.2.3" << 1.2;
    QTest::newRow("lone minus") << "-" << 0.0;
    QTest::newRow("lone point") << "." << 0.0;
    QTest::newRow("plus is no number") << "+5" << 0.0;
    QTest::newRow("minus after digits ends it") << "5-3" << 5.0;
    QTest::newRow("double minus") << "--5" << 0.0;
    QTest::newRow("no exponent") << "1e5" << 1.0;
    QTest::newRow("status line") << "12: Waiting for Acquisition..." << 12.0;
    QTest::newRow("status line with blank") << " 7: Stopped" << 7.0;
    QTest::newRow("negative zero") << "-0" << 0.0;
}

void TestInputRules::leadingNumberValue() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(prefs::leadingNumberValue(text), value);
}

void TestInputRules::leadingNumberValueSaturates() {
    QCOMPARE(prefs::leadingNumberValue(QString(400, u'9')), DBL_MAX);
    QCOMPARE(prefs::leadingNumberValue(u'-' + QString(400, u'9')), -DBL_MAX);
    QCOMPARE(prefs::leadingNumberValue(QStringLiteral("0.") + QString(400, u'0') + u'1'), 0.0);
    QCOMPARE(prefs::leadingNumberValue(QStringLiteral("12345678901234567890")),
             12345678901234567890.0);
}

void TestInputRules::generalNumberForm_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("form");
    QTest::newRow("seven") << 7.0 << " 7";
    QTest::newRow("ten") << 10.0 << " 10";
    QTest::newRow("zero") << 0.0 << " 0";
    QTest::newRow("negative zero") << -0.0 << " 0";
    QTest::newRow("negative") << -5.0 << "-5";
    QTest::newRow("negative fraction") << -2.25 << "-2.25";
    QTest::newRow("half") << 0.5 << " 0.5";
    QTest::newRow("sum with rounding noise") << 0.1 + 0.2 << " 0.3";
    QTest::newRow("small") << 0.00001 << " 0.00001";
    QTest::newRow("big integer") << 1e20 << " 100000000000000000000";
    QTest::newRow("beyond 15 digits") << 123456789012345678.0 << " 123456789012346000";
    QTest::newRow("15 digits") << 999999999999999.0 << " 999999999999999";
}

void TestInputRules::generalNumberForm() {
    QFETCH(double, value);
    QFETCH(QString, form);
    QCOMPARE(prefs::generalNumberForm(value), form);
}

void TestInputRules::normaliseLimit_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("normalised");
    QTest::newRow("zero") << "0"
                          << "1";
    QTest::newRow("empty") << ""
                           << "1";
    QTest::newRow("leading zeros") << "007"
                                   << " 7";
    QTest::newRow("twenty-five") << "25"
                                 << " 25";
    QTest::newRow("already normalised") << " 25"
                                        << " 25";
    QTest::newRow("one") << "1"
                         << " 1";
    QTest::newRow("normalised one stays") << " 1"
                                          << " 1";
    QTest::newRow("letters") << "abc"
                             << "1";
    QTest::newRow("number then letters") << "12abc"
                                         << " 12";
    QTest::newRow("negative") << "-5"
                              << "-5";
    QTest::newRow("negative zero") << "-0"
                                   << "1";
    QTest::newRow("fraction") << "0.4"
                              << " 0.4";
    QTest::newRow("tiny fraction") << "0.0000000000000001"
                                   << " 0.0000000000000001";
    QTest::newRow("ten") << "10"
                         << " 10";
}

void TestInputRules::normaliseLimit() {
    QFETCH(QString, text);
    QFETCH(QString, normalised);
    QCOMPARE(prefs::normaliseLimit(text), normalised);
    // Leaving the field again changes nothing, except that a "1" made from zero then gets
    // its leading blank like any other typed limit.
    QCOMPARE(prefs::normaliseLimit(normalised), normalised == "1" ? " 1" : normalised);
}

QTEST_APPLESS_MAIN(TestInputRules)
#include "test_input_rules.moc"
