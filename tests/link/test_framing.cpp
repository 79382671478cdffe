#include "platform/lumetra/reply_scanner.h"

#include <QRandomGenerator>
#include <QtTest>

using lumetra::ReplyScanner;
using lumetra::scpiMessageLength;

namespace {

// The replies that a stream of bytes makes when it arrives in the given pieces.
QList<QByteArray> repliesOf(const QList<QByteArray>& pieces) {
    ReplyScanner scanner;
    std::string pending;
    std::string reply;
    QList<QByteArray> replies;
    for (const QByteArray& piece : pieces) {
        pending.append(piece.constData(), static_cast<std::size_t>(piece.size()));
        while (scanner.take(pending, reply)) {
            replies << QByteArray(reply.data(), static_cast<qsizetype>(reply.size()));
        }
    }
    return replies;
}

QList<QByteArray> splitAt(const QByteArray& bytes, QList<qsizetype> cuts) {
    std::sort(cuts.begin(), cuts.end());
    QList<QByteArray> pieces;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        pieces << bytes.mid(from, cut - from);
        from = cut;
    }
    pieces << bytes.mid(from);
    return pieces;
}

} // namespace

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
        QTest::newRow("block after a comma") << QByteArray("1,#12\n\n\n") << 8 << 7;
        QTest::newRow("block of length zero") << QByteArray("#10\n") << 4 << 3;
        QTest::newRow("identity ending in #12") << QByteArray("ACME,NQX8000,SN #12\n") << 20 << 0;
        QTest::newRow("identity ending in #2") << QByteArray("ACME,NQX8000,SN #2\n") << 19 << 0;
        QTest::newRow("line feed before the length digits") << QByteArray("#2\n") << 3 << 0;
        QTest::newRow("line feed among the length digits")
            << QByteArray("#93\n456789012\n") << 4 << 0;
        QTest::newRow("letter among the length digits") << QByteArray("#2a\n") << 4 << 0;
        QTest::newRow("apostrophe inside a word") << QByteArray("O'NEIL,X\n") << 9 << 0;
        QTest::newRow("quote inside a word") << QByteArray("5\"\n") << 3 << 0;
        QTest::newRow("quoted listing with a line feed in a name")
            << QByteArray("\"a\nb.isf\",\"c.isf\"\n") << 18 << 0;
        QTest::newRow("listing with doubled quotes, apostrophes and a stray letter")
            << QByteArray("\"a\",\"b\"\"\nc\",'d\n',\"\",\"e\"x,\"f\"\n") << 29 << 0;
        QTest::newRow("doubled quote stays in the string")
            << QByteArray("\"a\"\"\nb\"\n") << 8 << 0;
        QTest::newRow("quote after a blank following a comma")
            << QByteArray("1, \"a\nb\"\n") << 9 << 0;
        QTest::newRow("second blank of a unit starts no element")
            << QByteArray("A B #12\n") << 8 << 0;
        QTest::newRow("block after a header with a block after a semicolon")
            << QByteArray("A 1;B #11\n\n") << 11 << 10;
    }
    void messageLength() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QFETCH(int, afterLastBlock);
        std::size_t after = 99;
        QCOMPARE(int(scpiMessageLength(std::string_view(bytes.constData(), bytes.size()), &after)),
                 length);
        QCOMPARE(int(after), afterLastBlock);
    }

    void takeStripsTheTerminator_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("left");

        QTest::newRow("line feed") << QByteArray("0\nX") << QByteArray("0") << QByteArray("X");
        QTest::newRow("carriage return and line feed")
            << QByteArray("0\r\n") << QByteArray("0") << QByteArray();
        QTest::newRow("carriage return ending a block stays")
            << QByteArray("#12a\r\n") << QByteArray("#12a\r") << QByteArray();
        QTest::newRow("carriage return after a block goes")
            << QByteArray("#12ab\r\n") << QByteArray("#12ab") << QByteArray();
        QTest::newRow("incomplete: nothing taken")
            << QByteArray("#13ab\n") << QByteArray() << QByteArray("#13ab\n");
    }
    void takeStripsTheTerminator() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, left);
        ReplyScanner scanner;
        std::string pending = bytes.toStdString();
        std::string taken = "unchanged";
        const bool complete = scanner.take(pending, taken);
        QCOMPARE(complete, !reply.isEmpty());
        QCOMPARE(QByteArray::fromStdString(complete ? taken : std::string()), reply);
        QCOMPARE(QByteArray::fromStdString(pending), left);
    }

    // Every split of the same bytes into reads gives the same replies.
    void repliesDoNotDependOnHowTheBytesArrive_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("identity, busy, listing")
            << QByteArray("ACME,NQX8000,SN #12\n0\n\"a.isf\",\"b\nc.isf\"\n1\n");
        QTest::newRow("blocks among text") << QByteArray(":CURVE #213\n\n\n\n\n\n\n\n\n\n\n\n\n\n"
                                                         "#9\nX\n#0ab\"c\n#2a\n;#10\n");
        QTest::newRow("listing of strings")
            << QByteArray("\"a\",\"b\"\"\nc\",'d\n',\"\",\"e\"x,\"f\"\n\"g\",\n");
        QTest::newRow("quotes and apostrophes")
            << QByteArray("O'NEIL\n'x\ny'\n\"a\"\"b\nc\"\r\n5\"\n");
    }
    void repliesDoNotDependOnHowTheBytesArrive() {
        QFETCH(QByteArray, bytes);
        const QList<QByteArray> whole = repliesOf({bytes});
        QVERIFY(!whole.isEmpty());
        for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
            QCOMPARE(repliesOf(splitAt(bytes, {cut})), whole);
        }
        QList<QByteArray> single;
        for (char c : bytes) {
            single << QByteArray(1, c);
        }
        QCOMPARE(repliesOf(single), whole);
        QRandomGenerator random(7);
        for (int round = 0; round < 200; ++round) {
            QList<qsizetype> cuts;
            for (int k = random.bounded(1, 8); k > 0; --k) {
                cuts << random.bounded(bytes.size() + 1);
            }
            QCOMPARE(repliesOf(splitAt(bytes, cuts)), whole);
        }
    }

    // Listings that arrive at once are skipped in whole blocks where only quotes and commas lie
    // outside the strings; fed a byte at a time they never are. Both must give the same replies,
    // whatever breaks the pattern and wherever a block ends.
    void listingsGiveTheSameRepliesInBlocksAndByteWise_data() {
        QTest::addColumn<QByteArray>("inNames");
        QTest::addColumn<QByteArray>("separators");
        QTest::newRow("plain listing") << QByteArray("ab") << QByteArray(",");
        QTest::newRow("doubled quotes and line feeds in names")
            << QByteArray("ab\"\n,'") << QByteArray(",");
        QTest::newRow("empty elements, blanks, semicolons, line feeds")
            << QByteArray("ab") << QByteArray(",,,,,, ;\n");
        QTest::newRow("text and blocks between strings")
            << QByteArray("ab#") << QByteArray(",,,,,x#12\n");
    }
    void listingsGiveTheSameRepliesInBlocksAndByteWise() {
        QFETCH(QByteArray, inNames);
        QFETCH(QByteArray, separators);
        QRandomGenerator random(11);
        int replies = 0;
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes;
            for (int names = random.bounded(1, 40); names > 0; --names) {
                const char quote = random.bounded(8) == 0 ? '\'' : '"';
                bytes += quote;
                for (int k = random.bounded(12); k > 0; --k) {
                    const char c = inNames[random.bounded(inNames.size())];
                    bytes += c;
                    if (c == quote) {
                        bytes += c;
                    }
                }
                bytes += quote;
                bytes += separators[random.bounded(separators.size())];
            }
            bytes += '\n';
            QList<QByteArray> single;
            for (char c : bytes) {
                single << QByteArray(1, c);
            }
            const QList<QByteArray> whole = repliesOf({bytes});
            QCOMPARE(whole, repliesOf(single));
            replies += int(whole.size());
        }
        QVERIFY(replies >= 300);
    }
};

QTEST_GUILESS_MAIN(TestFraming)
#include "test_framing.moc"
