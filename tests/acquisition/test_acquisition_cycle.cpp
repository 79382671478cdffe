#include "acquisition/acquisition_cycle.h"
#include "acquisition/progress_dots.h"

#include <QMap>
#include <QQueue>
#include <QtTest>
#include <functional>

using acquisition::AcquisitionCycle;
using acquisition::RunHost;

namespace {

struct Preferences final : acquisition::RunPreferences {
    int useTimestamps = 0, ask = 0, stopAfter = 1, wfm = 1, ascii = 0, screen = 0, restore = 0,
        delay = 0;
    QString limit = QStringLiteral("1");

    int chkUseTimestamps() const override { return useTimestamps; }
    int chkAsk() const override { return ask; }
    int chkStopAfter() const override { return stopAfter; }
    int chkWFM() const override { return wfm; }
    int chkASCII() const override { return ascii; }
    int chkScreen() const override { return screen; }
    int chkRestoreRun() const override { return restore; }
    int hsDelay() const override { return delay; }
    QString txtAcqLimit() const override { return limit; }
    QString WFMfspec() const override { return QStringLiteral("D:\\w_"); }
    QString ASCIIfspec() const override { return QStringLiteral("D:\\c_"); }
    QString ScreenFspec() const override { return QStringLiteral("D:\\i_"); }
    QString FileType() const override { return QStringLiteral("SAV:IMAG:FILEF PNG"); }
    QString Layout() const override { return QStringLiteral("SAV:IMAG:LAY LAN"); }
    QString InkSaver() const override { return QStringLiteral("SAV:IMAG:INKS ON"); }
    QString fileTypeText() const override { return QStringLiteral("PNG"); }
};

// The window's side of a run, written down as one log: commands and queries as sent, "Clear",
// "." for a dot, [text] for a new status text, "wait N", "ask", "yield".
struct Host final : RunHost {
    QStringList log;
    QString status;
    bool idle = true;
    QMap<QString, QQueue<QString>> replies; // per query; "0" once a queue is used up
    QQueue<Answer> answers;
    QStringList failures;
    std::function<void(const QString&)> onSend; // sees each command and query after it went

    bool isIdle() const override { return idle; }
    void setRunningButtons() override { idle = false; }
    void setIdleButtons() override { idle = true; }
    QString statusText() const override { return status; }
    void setStatusText(const QString& text) override {
        status = text;
        log << '[' + text + ']';
    }
    void addProgressDot() override {
        status = acquisition::withProgressDot(status);
        log << QStringLiteral(".");
    }
    void yield() override { log << QStringLiteral("yield"); }
    void waitSeconds(double seconds) override { log << QStringLiteral("wait %1").arg(seconds); }
    void clearLink() override { log << QStringLiteral("Clear"); }
    void sendCommand(const QString& command) override { sent(command); }
    bool sendCommandBounded(const QString& command, int) override {
        sent(command);
        return true;
    }
    QString queryInstrument(const QString& query) override {
        QQueue<QString>& queue = replies[query];
        const QString reply = queue.isEmpty() ? QStringLiteral("0") : queue.dequeue();
        sent(query);
        return reply;
    }
    Answer askSaveAcquisition() override {
        log << QStringLiteral("ask");
        return answers.isEmpty() ? Answer::Yes : answers.dequeue();
    }
    void warnNothingSelected() override { log << QStringLiteral("warn"); }
    void cbPrefs_Click() override { log << QStringLiteral("prefs"); }
    void reportSaveFailure(const QString& fileName, const QString& message) override {
        failures << fileName << message;
    }

    void sent(const QString& entry) {
        log << entry;
        if (onSend) {
            onSend(entry);
        }
    }
    void reply(const QString& query, const QStringList& texts) {
        for (const QString& text : texts) {
            replies[query].enqueue(text);
        }
    }
};

struct Run {
    Preferences prefs;
    Host host;
    acquisition::FileStamps stamps{[] { return QDateTime(QDate(2026, 7, 4), QTime(15, 4, 5)); }};
    AcquisitionCycle cycle{host, prefs, stamps};

    // Stop pressed when the given entry goes out for the n-th time.
    void stopAt(const QString& entry, int n) {
        host.onSend = [this, entry, n, seen = 0](const QString& sent) mutable {
            if (sent == entry && ++seen == n) {
                cycle.cbStop_Click();
            }
        };
    }
    QStringList start() {
        cycle.cbStart_Click();
        return host.log;
    }
};

const QStringList SetUp{"Clear", "HEAD 0;VERB 0", "ACQ:STOPA SEQ;STATE 0", "DESE 56", "*CLS"};

QStringList isfStep(int count, const QString& stamp, const QStringList& wait = {"BUSY?", "."}) {
    return QStringList{"SAV:WAVE:FILEF INTERNAL", QStringLiteral("[%1: Save ISF]").arg(count),
                       "yield", "SAV:WAVE ALL, \"D:\\w_" + stamp + '"'} +
           wait + QStringList{"*ESR?", "FILES:DIR?"};
}

QStringList csvStep(int count, const QString& stamp) {
    return {"SAV:WAVE:FILEF SPREADS",
            "SAV:WAVE:GATI NON",
            QStringLiteral("[%1: Save CSV]").arg(count),
            "yield",
            "SAV:WAVE ALL, \"D:\\c_" + stamp + '"',
            "BUSY?",
            ".",
            "*ESR?"};
}

QStringList screenStep(int count, const QString& stamp) {
    return {QStringLiteral("[%1: Save Screen]").arg(count),
            "yield",
            "SAV:IMAG:FILEF PNG",
            "SAV:IMAG:LAY LAN",
            "SAV:IMAG:INKS ON",
            "SAV:IMAG \"D:\\i_" + stamp + ".PNG\"",
            "BUSY?",
            ".",
            "*ESR?"};
}

QStringList armed(int count, const QStringList& wait = {"BUSY?"}) {
    return QStringList{QStringLiteral("[%1: Waiting for Acquisition]").arg(count), "ACQ:STATE 1"} +
           wait;
}

// The limit's stop, with the count read back from the last save text.
const QStringList Done1{"[1: Stopped]", "Clear", "[1: Stopped]", "[1: Done]"};

} // namespace

class TestAcquisitionCycle : public QObject {
    Q_OBJECT
private slots:
    // The exact log of a run: phase texts, where dots go, the checks after every save.
    void wholeRun_data() {
        QTest::addColumn<int>("kinds"); // 1 ISF, 2 CSV, 4 screen
        QTest::addColumn<QStringList>("busy");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("ISF, every poll answers 0")
            << 1 << QStringList{} << SetUp + armed(1) + isfStep(1, "1") + Done1;
        // The trigger wait adds a dot after each busy reply only; the save wait after every
        // poll, the one that answers "0" included.
        QTest::newRow("ISF, busy twice in the trigger wait, once in the save wait")
            << 1 << QStringList{"1", "1", "0", "1", "0"}
            << SetUp + armed(1, {"BUSY?", ".", "BUSY?", ".", "BUSY?"}) +
                   isfStep(1, "1", {"BUSY?", ".", "BUSY?", "."}) + Done1;
        QTest::newRow("CSV") << 2 << QStringList{} << SetUp + armed(1) + csvStep(1, "1") + Done1;
        QTest::newRow("screen") << 4 << QStringList{}
                                << SetUp + armed(1) + screenStep(1, "1") + Done1;
        QTest::newRow("all three in order")
            << 7 << QStringList{}
            << SetUp + armed(1) + isfStep(1, "1") + csvStep(1, "1") + screenStep(1, "1") + Done1;
    }
    void wholeRun() {
        QFETCH(int, kinds);
        QFETCH(QStringList, busy);
        QFETCH(QStringList, expected);
        Run run;
        run.prefs.wfm = kinds & 1;
        run.prefs.ascii = (kinds >> 1) & 1;
        run.prefs.screen = (kinds >> 2) & 1;
        run.host.reply("BUSY?", busy);
        QCOMPARE(run.start(), expected);
        QCOMPARE(run.host.status, QString("1: Done"));
        QVERIFY(run.host.idle);
        QVERIFY(run.host.failures.isEmpty());
    }

    // After a delay, the question's answer and the check boxes: exactly 1 means yes, and every
    // check box but the timestamp one reads 2 as no.
    void afterTheAcquisition_data() {
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("ask");
        QTest::addColumn<int>("answer");          // RunHost::Answer
        QTest::addColumn<QStringList>("between"); // from the trigger wait's end to the save
        QTest::newRow("no delay") << 0 << 0 << 0 << QStringList{};
        QTest::newRow("1 s") << 1 << 0 << 0 << QStringList{"[Delay after trigger]", "wait 1"};
        QTest::newRow("2 s") << 2 << 0 << 0 << QStringList{"[Delay after trigger]", "wait 2"};
        QTest::newRow("ask, Yes, 3 s") << 3 << 1 << int(RunHost::Answer::Yes)
                                       << QStringList{"ask", "[Delay after trigger]", "wait 3"};
        QTest::newRow("ask stored as 2 asks nothing") << 0 << 2 << 0 << QStringList{};
    }
    void afterTheAcquisition() {
        QFETCH(int, delay);
        QFETCH(int, ask);
        QFETCH(int, answer);
        QFETCH(QStringList, between);
        Run run;
        run.prefs.delay = delay;
        run.prefs.ask = ask;
        run.host.answers.enqueue(RunHost::Answer(answer));
        const QStringList log = run.start();
        const qsizetype from = log.indexOf("BUSY?") + 1;
        QCOMPARE(log.mid(from, log.indexOf("SAV:WAVE:FILEF INTERNAL") - from), between);
    }

    void nothingSelectedWarnsAndOpensThePreferences() {
        Run run;
        run.prefs.wfm = 0;
        QCOMPARE(run.start(), (QStringList{"warn", "prefs"}));
        QVERIFY(run.host.idle);
    }

    void answerNoSkipsDelayAndSaveButCounts() {
        Run run;
        run.prefs.ask = 1;
        run.prefs.delay = 5;
        run.prefs.limit = QStringLiteral("2");
        run.host.answers << RunHost::Answer::No << RunHost::Answer::No;
        const QStringList expected =
            SetUp + armed(1) + QStringList{"ask"} + armed(2) +
            QStringList{"ask", "[2: Stopped]", "Clear", "[2: Stopped]", "[2: Done]"};
        QCOMPARE(run.start(), expected);
        QCOMPARE(run.stamps.fileCounter(), 2);
    }

    void answerCancelStopsBeforeAnySave() {
        Run run;
        run.prefs.ask = 1;
        run.prefs.restore = 1;
        run.host.answers << RunHost::Answer::Cancel;
        const QStringList expected =
            SetUp + armed(1) +
            QStringList{"ask",         "[1: Stopped]",    "Clear",           "TRIG",
                        "ACQ:STATE 0", "ACQ:STOPA RUNST", "TRIG:A:MOD AUTO", "ACQ:STATE 1",
                        "[1: Stopped]"};
        QCOMPARE(run.start(), expected);
    }

    void checkBoxesAskForExactlyOne_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("cycles");
        QTest::addColumn<bool>("restored");
        QTest::newRow("limit on") << "chkStopAfter" << 1 << 1 << false;
        QTest::newRow("limit stored as 2 is off") << "chkStopAfter" << 2 << 2 << false;
        QTest::newRow("restore on") << "chkRestoreRun" << 1 << 1 << true;
        QTest::newRow("restore stored as 2 is off") << "chkRestoreRun" << 2 << 1 << false;
    }
    void checkBoxesAskForExactlyOne() {
        QFETCH(QString, box);
        QFETCH(int, value);
        QFETCH(int, cycles);
        QFETCH(bool, restored);
        Run run;
        (box == "chkStopAfter" ? run.prefs.stopAfter : run.prefs.restore) = value;
        run.stopAt("ACQ:STATE 1", 3); // a user's Stop as the third cycle arms, if it gets there
        const QStringList log = run.start();
        QCOMPARE(log.count("SAV:WAVE:FILEF INTERNAL"), cycles);
        QCOMPARE(log.contains("TRIG:A:MOD AUTO"), restored);
    }

    // The timestamp box is the exception: anything but 0 means date and time.
    void timestampBoxMeansDateForAnyValueButZero_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("0") << 0 << "1";
        QTest::newRow("1") << 1 << "20260704150405000";
        QTest::newRow("2") << 2 << "20260704150405000";
    }
    void timestampBoxMeansDateForAnyValueButZero() {
        QFETCH(int, value);
        QFETCH(QString, stamp);
        Run run;
        run.prefs.useTimestamps = value;
        QVERIFY(run.start().contains("SAV:WAVE ALL, \"D:\\w_" + stamp + '"'));
    }

    // The event status register after a save: command, execution and device errors mean the
    // save failed; the other bits do not.
    void saveFailure_data() {
        QTest::addColumn<int>("kinds");
        QTest::addColumn<QString>("failing"); // the save command whose check finds the error
        QTest::addColumn<QString>("esr");
        QTest::addColumn<QString>("file");
        const QString isf = "SAV:WAVE ALL, \"D:\\w_1\"";
        QTest::newRow("ISF, execution error") << 7 << isf << "16"
                                              << "D:\\w_1";
        QTest::newRow("ISF, command error") << 7 << isf << "32"
                                            << "D:\\w_1";
        QTest::newRow("ISF, device error") << 7 << isf << "8"
                                           << "D:\\w_1";
        QTest::newRow("CSV, execution error") << 7 << "SAV:WAVE ALL, \"D:\\c_1\""
                                              << "16"
                                              << "D:\\c_1";
        QTest::newRow("screen, execution error") << 7 << "SAV:IMAG \"D:\\i_1.PNG\""
                                                 << "48"
                                                 << "D:\\i_1.PNG";
        QTest::newRow("ISF, query error only") << 7 << isf << "4"
                                               << "";
        QTest::newRow("ISF, operation complete only") << 7 << isf << "1"
                                                      << "";
        QTest::newRow("ISF, power on and user request") << 7 << isf << "192"
                                                        << "";
        QTest::newRow("ISF, a reply that is no number") << 7 << isf << "x16"
                                                        << "";
    }
    void saveFailure() {
        QFETCH(int, kinds);
        QFETCH(QString, failing);
        QFETCH(QString, esr);
        QFETCH(QString, file);
        Run run;
        run.prefs.wfm = kinds & 1;
        run.prefs.ascii = (kinds >> 1) & 1;
        run.prefs.screen = (kinds >> 2) & 1;
        run.prefs.restore = 1;
        run.host.onSend = [&](const QString& sent) {
            if (sent == failing) {
                run.host.reply("*ESR?", {esr});
                run.host.reply("ALLEV?", {"256,\"File name not found\""});
            }
        };
        const QStringList log = run.start();
        if (file.isEmpty()) {
            QCOMPARE(run.host.status, QString("1: Done"));
            QVERIFY(!log.contains("ALLEV?"));
            QVERIFY(run.host.failures.isEmpty());
            return;
        }
        const QStringList tail = log.mid(log.indexOf(failing));
        QCOMPARE(tail,
                 (QStringList{failing, "BUSY?", ".", "*ESR?", "ALLEV?", "[1: Stopped]", "Clear",
                              "TRIG", "ACQ:STATE 0", "ACQ:STOPA RUNST", "TRIG:A:MOD AUTO",
                              "ACQ:STATE 1", "[1: Stopped]", "[1: Save failed]"}));
        QCOMPARE(run.host.failures, (QStringList{file, "256,\"File name not found\""}));
        QVERIFY(run.host.idle);
    }

    void stopWhileTheStatusIsAskedEndsTheRunQuietly() {
        Run run;
        run.prefs.stopAfter = 0;
        run.stopAt("*ESR?", 1);
        run.host.reply("*ESR?", {"16"});
        const QStringList log = run.start();
        QCOMPARE(log.mid(log.indexOf("*ESR?")),
                 (QStringList{"*ESR?", "[1: Stopped]", "Clear", "[1: Stopped]"}));
        QVERIFY(run.host.failures.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAcquisitionCycle)
#include "test_acquisition_cycle.moc"
