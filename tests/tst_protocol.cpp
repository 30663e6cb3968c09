// SPDX-License-Identifier: MIT
// Frames, listings and text rules of the byte vocabulary.

#include "exchange/Protocol.h"

#include <QTest>

#include <limits>

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    void frames()
    {
        QCOMPARE(FrameScpi("*idn?"), QByteArray("*idn?\n"));
        QCOMPARE(FrameSelect("SP1 100"), QByteArray("\x02= SP1 100\x03"));
        QCOMPARE(FramePoll("C1"), QByteArray("\x02? C1\x03"));
        QCOMPARE(FramePoll("C1").size(), 6);
        QCOMPARE(FrameXonCmd("SP1 100"), QByteArray("= SP1 100\r"));
        QCOMPARE(FrameXonQuery("C1"), QByteArray("? C1\r"));
        QCOMPARE(FrameDisconnect(), QByteArray("\x10\x05", 2));
        // Empty text and control characters pass unchanged.
        QCOMPARE(FrameSelect(""), QByteArray("\x02= \x03"));
        QCOMPARE(FramePoll(""), QByteArray("\x02? \x03"));
        QCOMPARE(FrameXonCmd(QByteArray("a\rb\0c", 5)), QByteArray("= a\rb\0c\r", 8));
        QCOMPARE(FrameScpi(QByteArray("\xff\x11\x13", 3)), QByteArray("\xff\x11\x13\n", 4));
    }

    void codeListings()
    {
        QCOMPARE(ListCodes("\x06", 1), QByteArray(" 6 "));
        QCOMPARE(ListCodes("\x15\x06", 2), QByteArray(" 21  6 "));
        QCOMPARE(ListCodes("\r1\x06", 3), QByteArray(" 13  49  6 "));
        QCOMPARE(ListCodes("x\x06zz", 2), QByteArray(" 120  6 "));
        QCOMPARE(ListCodes(QByteArray("\0\xff", 2), 2), QByteArray(" 0  255 "));
        // Counts beyond either end are clamped.
        QCOMPARE(ListCodes("ab", 10), QByteArray(" 97  98 "));
        QCOMPARE(ListCodes("ab", -1), QByteArray());
        QCOMPARE(ListCodesPlain("\r"), QByteArray("13 "));
        QCOMPARE(ListCodesPlain("1\r\n"), QByteArray("49 13 10 "));
    }

    void nameListing()
    {
        QCOMPARE(ListNames("\x13\x11"), QByteArray("<Xoff><Xon>"));
        QCOMPARE(ListNames("100\r"), QByteArray("100<cr>"));
        QCOMPARE(ListNames("100\r\x13\n"), QByteArray("100<cr><Xoff>\n"));
        QCOMPARE(ListNames(""), QByteArray());
    }

    void numericValue_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("zero") << QByteArray("0") << 0.0;
        QTest::newRow("plain") << QByteArray("32") << 32.0;
        QTest::newRow("blank inside") << QByteArray("1 5") << 15.0;
        QTest::newRow("leading blank") << QByteArray(" 5") << 5.0;
        QTest::newRow("tab and line feed") << QByteArray("\t1\n2") << 12.0;
        QTest::newRow("cr ends the number") << QByteArray("32\r\n") << 32.0;
        QTest::newRow("negative") << QByteArray("-1") << -1.0;
        QTest::newRow("plus") << QByteArray("+7") << 7.0;
        QTest::newRow("fraction") << QByteArray("2.5x") << 2.5;
        QTest::newRow("leading point") << QByteArray(".5") << 0.5;
        QTest::newRow("exponent") << QByteArray("1e2") << 100.0;
        QTest::newRow("exponent without digits") << QByteArray("3e") << 3.0;
        QTest::newRow("letters") << QByteArray("abc") << 0.0;
        QTest::newRow("empty") << QByteArray("") << 0.0;
        QTest::newRow("sign alone") << QByteArray("-") << 0.0;
        QTest::newRow("double zero") << QByteArray("00") << 0.0;
        QTest::newRow("trailing text") << QByteArray("12abc") << 12.0;
        // Out of a double's range is not zero (an event status of 1e999 is an error).
        QTest::newRow("huge exponent") << QByteArray("1e999") << std::numeric_limits<double>::infinity();
        QTest::newRow("tiny, negative") << QByteArray("-1e-999") << -std::numeric_limits<double>::denorm_min();
        QTest::newRow("zero, huge exponent") << QByteArray("0e999") << 0.0;
    }
    void numericValue()
    {
        QFETCH(QByteArray, text);
        QFETCH(double, value);
        QCOMPARE(NumericValue(text), value);
    }

    void signedNumberText()
    {
        QCOMPARE(SignedNumberText(6), QByteArray(" 6"));
        QCOMPARE(SignedNumberText(0), QByteArray(" 0"));
        QCOMPARE(SignedNumberText(100), QByteArray(" 100"));
        QCOMPARE(SignedNumberText(-3), QByteArray("-3"));
        QCOMPARE(SignedNumberText(5'000'000'000LL), QByteArray(" 5000000000"));
    }

    void search()
    {
        QCOMPARE(PositionOf("ab\x06", Ctl::ACK), 3);
        QCOMPARE(PositionOf("ab", Ctl::ACK), 0);
        QVERIFY(ContainsAny("xx>", {QByteArray(">")}));
        QVERIFY(!ContainsAny("xx", {QByteArray(">"), QByteArray("\n")}));
        QVERIFY(!ContainsAny("xx", {QByteArray()}));
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
