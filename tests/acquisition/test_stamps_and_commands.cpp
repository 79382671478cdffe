#include "acquisition/file_stamps.h"
#include "acquisition/save_commands.h"

#include <QtTest>

using acquisition::FileStamps;

namespace {

QDateTime local(int y, int mo, int d, int h, int mi, int s, int ms) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

} // namespace

class TestStampsAndCommands : public QObject {
    Q_OBJECT
private slots:
    void counterStartsAtOneAndOnlyGrows() {
        FileStamps stamps([] { return QDateTime(); });
        QCOMPARE(stamps.fileCounter(), 0);
        QCOMPARE(stamps.nextFileStamp(false), QString("1"));
        QCOMPARE(stamps.nextFileStamp(false), QString("2"));
        for (int k = 3; k <= 10; ++k) {
            stamps.nextFileStamp(false);
        }
        QCOMPARE(stamps.fileCounter(), 10);
        QCOMPARE(stamps.nextFileStamp(false), QString("11"));
    }

    void dateTimeStampFields_data() {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("month three") << local(2026, 3, 7, 9, 5, 4, 321) << "20260307090504321";
        QTest::newRow("fraction 0.0052 s")
            << local(2026, 12, 31, 23, 59, 59, 5) << "20261231235959005";
        QTest::newRow("last millisecond of a second")
            << local(2026, 1, 1, 0, 0, 0, 999) << "20260101000000999";
    }
    void dateTimeStampFields() {
        QFETCH(QDateTime, time);
        QFETCH(QString, stamp);
        FileStamps stamps([&] { return time; });
        const QString made = stamps.nextFileStamp(true);
        QCOMPARE(made, stamp);
        QCOMPARE(made.size(), 17);
    }

    void fractionIsTruncatedNeverRoundedUp() {
        // 0.9996 s past the second: rounding would give "1000" and an 18-character stamp.
        const QDateTime time = QDateTime(QDate(2026, 6, 1), QTime(12, 0, 0)).addMSecs(999);
        FileStamps stamps([&] { return time; });
        QCOMPARE(stamps.nextFileStamp(true), QString("20260601120000999"));
    }

    void stampNeverRepeatsOrGoesBack() {
        QList<QDateTime> readings{local(2026, 10, 25, 2, 59, 59, 999),
                                  local(2026, 10, 25, 2, 59, 59, 999), // same millisecond
                                  local(2026, 10, 25, 2, 0, 0, 0),     // clock stepped back
                                  local(2026, 10, 25, 3, 0, 0, 500)};
        int next = 0;
        FileStamps stamps([&] { return readings[next++]; });
        QStringList made;
        for (int k = 0; k < readings.size(); ++k) {
            made << stamps.nextFileStamp(true);
        }
        QCOMPARE(made, (QStringList{"20261025025959999", "20261025030000000", "20261025030000001",
                                    "20261025030000500"}));
    }

    void counterAndStampsAreIndependent() {
        FileStamps stamps([] { return local(2026, 1, 2, 3, 4, 5, 6); });
        QCOMPARE(stamps.nextFileStamp(false), QString("1"));
        QCOMPARE(stamps.nextFileStamp(true), QString("20260102030405006"));
        QCOMPARE(stamps.nextFileStamp(false), QString("2"));
    }

    void saveCommands_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("waveform");
        QTest::addColumn<QString>("image");
        QTest::newRow("plain name is sent as it stands") << "D:\\my_ISFs_1"
                                                         << "SAV:WAVE ALL, \"D:\\my_ISFs_1\""
                                                         << "SAV:IMAG \"D:\\my_ISFs_1\"";
        QTest::newRow("double quote is doubled") << "D:\\a\"b"
                                                 << "SAV:WAVE ALL, \"D:\\a\"\"b\""
                                                 << "SAV:IMAG \"D:\\a\"\"b\"";
        QTest::newRow("line feed and carriage return never go out")
            << "D:\\x\r\n*RST;x"
            << "SAV:WAVE ALL, \"D:\\x*RST;x\""
            << "SAV:IMAG \"D:\\x*RST;x\"";
        QTest::newRow("other control characters too")
            << QString("D:\\t\tb\x01\x7f") << "SAV:WAVE ALL, \"D:\\tb\""
            << "SAV:IMAG \"D:\\tb\"";
        QTest::newRow("empty name") << ""
                                    << "SAV:WAVE ALL, \"\""
                                    << "SAV:IMAG \"\"";
    }
    void saveCommands() {
        QFETCH(QString, name);
        QFETCH(QString, waveform);
        QFETCH(QString, image);
        QCOMPARE(acquisition::waveformSaveCommand(name), waveform);
        QCOMPARE(acquisition::imageSaveCommand(name), image);
    }
};

QTEST_GUILESS_MAIN(TestStampsAndCommands)
#include "test_stamps_and_commands.moc"
