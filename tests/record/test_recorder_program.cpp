#include "tests/run/recording_control.h"
#include "tests/support/running_sim.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace std::chrono_literals;

namespace {

const QStringList RestoreSequence{"TRIG", "ACQ:STATE 0", "ACQ:STOPA RUNST", "TRIG:A:MOD AUTO",
                                  "ACQ:STATE 1"};

// varnolt-record with a configuration folder of its own: the resources Lumetra knows and
// Varnolt's preferences (ISF only, counter names, restore on, limit 10).
struct Recorder {
    QTemporaryDir config;
    QProcess process;

    explicit Recorder(const QStringList& resources) {
        QDir(config.path()).mkpath("lumetra");
        QFile file(QDir(config.path()).filePath("lumetra/resources.conf"));
        file.open(QIODevice::WriteOnly);
        file.write(resources.join('\n').toLatin1() + '\n');
        file.close();
        QSettings settings(QDir(config.path()).filePath("Varnolt/Varnolt.ini"),
                           QSettings::IniFormat);
        settings.beginGroup("Prefs");
        settings.setValue("chkUseTimestamps", "0");
        settings.sync();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config.path());
        process.setProcessEnvironment(environment);
    }
    void start(const QStringList& arguments) { process.start(VARNOLT_RECORD, arguments); }
    bool finish() { return process.waitForFinished(20000); }
    QStringList out() { return lines(process.readAllStandardOutput()); }
    QStringList err() { return lines(process.readAllStandardError()); }
    static QStringList lines(const QByteArray& text) {
        return QString::fromLocal8Bit(text).split('\n', Qt::SkipEmptyParts);
    }
};

sim::SimConfig instrument(bool triggerNever) {
    sim::SimConfig config;
    config.triggerPeriod = 20ms;
    config.saveDuration = 20ms;
    config.points = 200;
    config.triggerNever = triggerNever;
    return config;
}

} // namespace

class TestRecorderProgram : public QObject {
    Q_OBJECT
private slots:
    void aSignalStopsTheRunAsStopDoes_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("inTriggerWait");
        QTest::newRow("SIGTERM between saves") << int(SIGTERM) << false;
        QTest::newRow("SIGINT between saves") << int(SIGINT) << false;
        QTest::newRow("SIGTERM in the trigger wait") << int(SIGTERM) << true;
        QTest::newRow("SIGINT in the trigger wait") << int(SIGINT) << true;
    }
    void aSignalStopsTheRunAsStopDoes() {
        QFETCH(int, signal);
        QFETCH(bool, inTriggerWait);
        testing::RunningSim sim(instrument(inTriggerWait));
        Recorder recorder({sim.resource()});
        recorder.start({"--no-limit"});
        QVERIFY(recorder.process.waitForStarted());
        if (inTriggerWait) {
            QTRY_VERIFY_WITH_TIMEOUT(sim.traffic().count("BUSY?") >= 3, 10000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(sim.traffic().count("FILES:DIR?") >= 2, 10000);
        }
        ::kill(pid_t(recorder.process.processId()), signal);
        QVERIFY(recorder.finish());
        QCOMPARE(recorder.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(recorder.process.exitCode(), 128 + signal);

        const QStringList lines = recorder.out();
        QVERIFY(!lines.isEmpty());
        const QRegularExpression cycleLine(
            R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d (\d+) (saved|stopped)( D:\\my_ISFs_\d+)?$)");
        for (const QString& line : lines) {
            QVERIFY2(cycleLine.match(line).hasMatch(), qPrintable(line));
        }
        const auto last = cycleLine.match(lines.last());
        QCOMPARE(last.captured(2), QString("stopped"));
        QCOMPARE(last.captured(1).toInt(), lines.size());
        if (inTriggerWait) {
            QCOMPARE(lines.size(), 1);
            QCOMPARE(last.captured(3), QString());
        }

        // The stop procedure's restore sequence reached the instrument (the simulator may log it
        // a little after the recorder has ended), and no new cycle followed it. A stop during
        // a save step still lets that step send its save command and poll once, as Stop does.
        const auto restoreAt = [&sim] {
            const QStringList traffic = testing::collapsedPolls(sim.traffic());
            const qsizetype at = traffic.lastIndexOf("TRIG");
            return at >= 0 && traffic.mid(at, RestoreSequence.size()) == RestoreSequence ? at : -1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(restoreAt() >= 0, 5000);
        QTest::qWait(200);
        const QStringList traffic = testing::collapsedPolls(sim.traffic());
        const QStringList after = traffic.mid(restoreAt() + RestoreSequence.size());
        QVERIFY2(!after.contains("ACQ:STATE 1"), qPrintable(after.join(", ")));
        if (inTriggerWait) {
            QCOMPARE(after, QStringList{});
            QCOMPARE(traffic.mid(restoreAt() - 2, 2), (QStringList{"ACQ:STATE 1", "BUSY?*"}));
        }
    }

    void exitCodesAndTheirLines_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        QTest::newRow("limit reached")
            << QStringList{"--count", "2", "--quiet"} << true << 0 << QString();
        QTest::newRow("save failed")
            << QStringList{"--isf-path", "D:/missing", "--quiet"} << true << 1
            << "varnolt-record: the instrument did not save D:\\missing\\my_ISFs_1: "
               "256,\"File name not found\"; check the path and prefix against the folders on "
               "the instrument's drive";
        QTest::newRow("bad value")
            << QStringList{"--count", "0"} << true << 2
            << "varnolt-record: --count takes a whole number from 1 to 1000000000, not 0";
        QTest::newRow("unknown option")
            << QStringList{"--bogus"} << true << 2 << "varnolt-record: Unknown option 'bogus'.";
        QTest::newRow("nothing selected")
            << QStringList{"--no-isf"} << true << 2
            << "varnolt-record: nothing is selected to save; choose --isf, --csv or --screen";
        QTest::newRow("no resource known")
            << QStringList{} << false << 3
            << "varnolt-record: Lumetra knows no instrument resource; add one with: lumetra-rm "
               "add RESOURCE";
        QTest::newRow("resource that does not answer")
            << QStringList{"--resource", "TCPIP0::127.0.0.1::1::SOCKET"} << true << 3
            << "varnolt-record: TCPIP0::127.0.0.1::1::SOCKET did not answer *IDN?; check it "
               "with: lumetra-rm probe TCPIP0::127.0.0.1::1::SOCKET";
    }
    void exitCodesAndTheirLines() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, listed);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        testing::RunningSim sim(instrument(false));
        Recorder recorder(listed ? QStringList{sim.resource()} : QStringList{});
        recorder.start(arguments);
        QVERIFY(recorder.finish());
        QCOMPARE(recorder.process.exitCode(), exitCode);
        const QStringList errors = recorder.err();
        if (error.isEmpty()) {
            QCOMPARE(errors, QStringList{});
        } else {
            QVERIFY2(errors.contains(error), qPrintable(errors.join('\n')));
        }
        if (exitCode == 0) {
            QCOMPARE(recorder.out(), QStringList{});
            QTRY_COMPARE(QDir(QDir(sim.root()).filePath("D")).entryList(QDir::Files),
                         (QStringList{"my_ISFs_1", "my_ISFs_2"}));
        }
    }

    void aNamedResourceNeedsNoListing() {
        testing::RunningSim sim(instrument(false));
        Recorder recorder({});
        recorder.start({"--resource", sim.resource(), "--count", "1", "--json"});
        QVERIFY(recorder.finish());
        QCOMPARE(recorder.process.exitCode(), 0);
        const QStringList lines = recorder.out();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(R"({"cycle":1,"files":["D:\\my_ISFs_1"],"outcome":"done",)"),
                 qPrintable(lines[0]));
    }

    // The completion offers exactly the options the help lists.
    void completionOffersEveryOptionOfTheHelp() {
        Recorder recorder({});
        recorder.start({"--help"});
        QVERIFY(recorder.finish());
        QStringList helped;
        const QRegularExpression option(R"((?:^|[ ,])(--[a-z][a-z-]*))");
        for (auto it = option.globalMatch(
                 QString::fromLocal8Bit(recorder.process.readAllStandardOutput()));
             it.hasNext();) {
            helped << it.next().captured(1);
        }
        helped.removeDuplicates();
        helped.sort();

        QProcess bash;
        bash.start("bash",
                   {"-c",
                    "source \"$1\"; COMP_WORDS=(varnolt-record --); COMP_CWORD=1; "
                    "_varnolt_record; printf '%s\\n' \"${COMPREPLY[@]}\"",
                    "bash", VARNOLT_SOURCE_DIR "/resources/bash-completion/varnolt-record"});
        QVERIFY(bash.waitForFinished(10000));
        QStringList completed = Recorder::lines(bash.readAllStandardOutput());
        completed.sort();
        QCOMPARE(completed, helped);
    }

    void helpAndVersion() {
        Recorder recorder({});
        recorder.start({"--version"});
        QVERIFY(recorder.finish());
        QCOMPARE(recorder.process.exitCode(), 0);
        QCOMPARE(recorder.out(), QStringList{"varnolt-record " VARNOLT_VERSION});
        recorder.start({"--help"});
        QVERIFY(recorder.finish());
        QCOMPARE(recorder.process.exitCode(), 0);
        const QString help = recorder.out().join('\n');
        for (const char* option :
             {"--settings <file>", "--resource <resource>", "--no-isf", "--csv-path <path>",
              "--screen-prefix <prefix>", "--delay <seconds>", "--count <n>", "--no-limit",
              "--timestamps", "--counter", "--no-restore", "--quiet", "--json",
              "143 stopped by SIGTERM"}) {
            QVERIFY2(help.contains(option), option);
        }
    }
};

QTEST_GUILESS_MAIN(TestRecorderProgram)
#include "test_recorder_program.moc"
