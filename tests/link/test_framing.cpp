#include "platform/lumetra/socket_transport.h"

#include <QtTest>

using lumetra::scpiMessageLength;

class TestFraming : public QObject {
    Q_OBJECT
private slots:
    void messageLength_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("afterLastBlock");

        QTest::newRow("plain reply") << QByteArray("0\n") << 2 << 0;
        QTest::newRow("no terminator yet") << QByteArray("ORVANE,NQX8") << 0 << 0;
        QTest::newRow("second message stays") << QByteArray("1\n0\n") << 2 << 0;
        QTest::newRow("empty reply") << QByteArray("\n") << 1 << 0;
        QTest::newRow("block with line feed inside") << QByteArray("#15ab\ncd\n") << 9 << 8;
        QTest::newRow("block after a header")
            << QByteArray(":CURVE #213\n\n\n\n\n\n\n\n\n\n\n\n\n\n") << 25 << 24;
        QTest::newRow("block not complete") << QByteArray("#15ab\n") << 0 << 0;
        QTest::newRow("block length digits not complete") << QByteArray("#4001") << 0 << 0;
        QTest::newRow("hash at the end") << QByteArray("abc#") << 0 << 0;
        QTest::newRow("hash inside quotes is text") << QByteArray("\"D:/#15x\"\n") << 10 << 0;
        QTest::newRow("indefinite block ends at line feed") << QByteArray("#0abc\n") << 6 << 0;
        QTest::newRow("hash followed by letters is text") << QByteArray("#Ab\n") << 4 << 0;
        QTest::newRow("two blocks") << QByteArray("#12\n\n;#13\n\n\n\n") << 13 << 12;
    }
    void messageLength() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QFETCH(int, afterLastBlock);
        std::size_t after = 99;
        QCOMPARE(int(scpiMessageLength(std::string_view(bytes.constData(), bytes.size()), &after)),
                 length);
        if (length > 0) {
            QCOMPARE(int(after), afterLastBlock);
        }
    }
};

QTEST_GUILESS_MAIN(TestFraming)
#include "test_framing.moc"
