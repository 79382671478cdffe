#include "app/frm_main.h"
#include "platform/quorix/quorix.h"
#include "prefs/preference_store.h"
#include "prefs/preference_values.h"
#include "record/exit_codes.h"
#include "record/record_options.h"
#include "record/recorder.h"
#include "record/stored_run_preferences.h"
#include "tests/run/recording_control.h"
#include "tests/support/preset_message_boxes.h"
#include "tests/support/running_sim.h"

#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

using namespace std::chrono_literals;

namespace {

using Prefs = QList<std::pair<QString, QString>>;

sim::SimConfig quickInstrument() {
    sim::SimConfig config;
    config.triggerPeriod = 20ms;
    config.saveDuration = 20ms;
    config.points = 200;
    return config;
}

const QDateTime Noon(QDate(2026, 3, 4), QTime(12, 0, 5, 7));

void writeSettings(const QString& path, const Prefs& stored) {
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup("Prefs");
    for (const auto& [key, value] : stored) {
        settings.setValue(key, value);
    }
    settings.sync();
}

QStringList filesOn(const testing::RunningSim& sim) {
    return QDir(QDir(sim.root()).filePath("D")).entryList(QDir::Files, QDir::Name);
}

// A run of the window program: start-up, Start, until the run has ended.
struct WindowRun {
    QTemporaryDir dir;
    testing::RunningSim sim{quickInstrument()};
    testing::ResourcesFile resources{{sim.resource()}};
    quorix::Quorix quorix{lumetra::ResourceManager(resources.files())};
    testing::RecordingControl control{quorix};
    testing::PresetMessageBoxes boxes;
    frmMain window{control, boxes};

    bool run(const Prefs& stored) {
        writeSettings(dir.filePath("Varnolt.ini"), stored);
        window.setInstanceLockPath(dir.filePath("Varnolt.lock"));
        window.setSettingsFilePath(dir.filePath("Varnolt.ini"));
        window.setLocalClock([] { return Noon; });
        // The recorder has no one to ask and saves every acquisition: Yes each time.
        if (stored.contains({"chkAsk", "1"})) {
            for (int k = 0; k < 5; ++k) {
                boxes.answer(windowing::Answer::Yes);
            }
        }
        if (window.Form_Load() != frmMain::LoadResult::Ready) {
            return false;
        }
        window.show();
        window.findChild<QPushButton*>("cbStart")->click();
        return true;
    }
};

// The same run through varnolt-record, its cycle lines caught in a file.
struct RecorderRun {
    QTemporaryDir dir;
    testing::RunningSim sim{quickInstrument()};
    testing::ResourcesFile resources{{sim.resource()}};
    quorix::Quorix quorix{lumetra::ResourceManager(resources.files())};
    testing::RecordingControl control{quorix};
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();

    ~RecorderRun() {
        std::fclose(out);
        std::fclose(err);
    }
    int run(const Prefs& stored, record::OutputMode mode = record::OutputMode::Lines,
            const QStringList& arguments = {}, bool terminal = false) {
        writeSettings(dir.filePath("Varnolt.ini"), stored);
        const auto commandLine =
            record::parseCommandLine(QStringList{"varnolt-record"} + arguments);
        auto values =
            prefs::PreferenceValues::load(prefs::PreferenceStore(dir.filePath("Varnolt.ini")));
        for (const auto& [key, text] : commandLine.options.overrides) {
            values.set(key, text);
        }
        const record::StoredRunPreferences preferences(values);
        record::Recorder recorder(control, preferences, {out, err, terminal, mode});
        recorder.setLocalClock([] { return Noon; });
        return recorder.run(std::nullopt);
    }
    static QStringList lines(std::FILE* file) {
        std::rewind(file);
        QByteArray text;
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, file)) {
            text.append(buffer, qsizetype(n));
        }
        return QString::fromLocal8Bit(text).split('\n', Qt::SkipEmptyParts);
    }
};

const Prefs IsfOnly{{"chkUseTimestamps", "0"}, {"chkWFM", "1"},        {"chkASCII", "0"},
                    {"chkScreen", "0"},        {"chkAsk", "0"},        {"hsDelay", "0"},
                    {"chkStopAfter", "1"},     {"chkRestoreRun", "1"}, {"txtAcqLimit", "3"}};

} // namespace

class TestRecorder : public QObject {
    Q_OBJECT
private slots:
    void sameTrafficAndFilesAsTheWindow_data() {
        QTest::addColumn<Prefs>("stored");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("ISF, counter, limit 3")
            << IsfOnly << QStringList{"my_ISFs_1", "my_ISFs_2", "my_ISFs_3"};
        QTest::newRow("all kinds, TIFF, portrait, ink saver off, no restore")
            << (IsfOnly + Prefs{{"chkASCII", "1"},
                                {"chkScreen", "1"},
                                {"cboFileType", "2"},
                                {"optPortrait", "True"},
                                {"optInksaverOff", "True"},
                                {"txtAcqLimit", "2"},
                                {"chkRestoreRun", "0"},
                                {"txtASCIIprefix", "c_"}})
            << QStringList{
                   "c_1", "c_2", "my_ISFs_1", "my_ISFs_2", "my_Images_1.TIFF", "my_Images_2.TIFF"};
        QTest::newRow("the question, answered Yes in the window")
            << (IsfOnly + Prefs{{"chkAsk", "1"}, {"txtAcqLimit", "2"}})
            << QStringList{"my_ISFs_1", "my_ISFs_2"};
        QTest::newRow("date and time stamps, both ink saver buttons true")
            << (IsfOnly + Prefs{{"chkUseTimestamps", "1"},
                                {"txtAcqLimit", "2"},
                                {"chkScreen", "1"},
                                {"optInksaverOn", "1"},
                                {"optInksaverOff", "1"}})
            << QStringList{"my_ISFs_20260304120005007", "my_ISFs_20260304120005008",
                           "my_Images_20260304120005007.PNG", "my_Images_20260304120005008.PNG"};
    }
    void sameTrafficAndFilesAsTheWindow() {
        QFETCH(Prefs, stored);
        QFETCH(QStringList, files);
        WindowRun window;
        QVERIFY(window.run(stored));
        RecorderRun recorder;
        QCOMPARE(recorder.run(stored), int(record::ExitLimitReached));

        const QStringList traffic = testing::collapsedPolls(recorder.control.traffic);
        QCOMPARE(traffic, testing::collapsedPolls(window.control.traffic));
        QVERIFY(traffic.contains("*IDN?"));
        QVERIFY(traffic.contains("ACQ:STOPA SEQ;STATE 0"));
        QTRY_COMPARE(filesOn(recorder.sim), filesOn(window.sim));
        QCOMPARE(filesOn(recorder.sim), files);
    }

    // A save the instrument refused ends the run as in the window, with the same traffic; the
    // cycle's line says which files were saved before it, and the exit code says it failed.
    void aRefusedSaveEndsTheRunWithItsOwnExitCode_data() {
        QTest::addColumn<QString>("pathKey");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("file");
        QTest::newRow("ISF") << "txtWFMpath"
                             << "2026-03-04T12:00:05 1 failed"
                             << "D:\\missing\\my_ISFs_1";
        QTest::newRow("screen") << "txtScreenPath"
                                << "2026-03-04T12:00:05 1 failed D:\\my_ISFs_1 D:\\my_CSVs_1"
                                << "D:\\missing\\my_Images_1.PNG";
    }
    void aRefusedSaveEndsTheRunWithItsOwnExitCode() {
        QFETCH(QString, pathKey);
        QFETCH(QString, line);
        QFETCH(QString, file);
        const Prefs stored =
            IsfOnly + Prefs{{"chkASCII", "1"}, {"chkScreen", "1"}, {pathKey, "D:\\missing\\"}};
        WindowRun window;
        window.boxes.answer(windowing::Answer::Ok);
        QVERIFY(window.run(stored));
        RecorderRun recorder;
        QCOMPARE(recorder.run(stored), int(record::ExitSaveFailed));
        QCOMPARE(testing::collapsedPolls(recorder.control.traffic),
                 testing::collapsedPolls(window.control.traffic));
        QCOMPARE(RecorderRun::lines(recorder.out), QStringList{line});
        QCOMPARE(RecorderRun::lines(recorder.err).last(),
                 "varnolt-record: the instrument did not save " + file +
                     ": 256,\"File name not found\"; check the path and prefix against the "
                     "folders on the instrument's drive");
    }

    void commandLineOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Prefs>("overrides");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << QStringList{} << Prefs{} << QString();
        QTest::newRow("save kinds")
            << QStringList{"--isf", "--no-csv", "--screen", "--no-isf"}
            << Prefs{{"chkWFM", "1"}, {"chkASCII", "0"}, {"chkScreen", "1"}, {"chkWFM", "0"}}
            << QString();
        QTest::newRow("paths and prefixes")
            << QStringList{"--isf-path",    "D:/runs", "--csv-path",      "E:\\x\\",
                           "--screen-path", "",        "--isf-prefix",    "a_",
                           "--csv-prefix",  "b-1",     "--screen-prefix", "{c}"}
            << Prefs{{"txtWFMpath", "D:\\runs\\"}, {"txtASCIIpath", "E:\\x\\"},
                     {"txtScreenPath", ""},        {"txtWFMprefix", "a_"},
                     {"txtASCIIprefix", "b-1"},    {"txtScreenPrefix", "{c}"}}
            << QString();
        QTest::newRow("delay, stamps, restore")
            << QStringList{"--delay",      "0",         "--delay",   "60",
                           "--timestamps", "--counter", "--restore", "--no-restore"}
            << Prefs{{"hsDelay", "0"},          {"hsDelay", "60"},      {"chkUseTimestamps", "1"},
                     {"chkUseTimestamps", "0"}, {"chkRestoreRun", "1"}, {"chkRestoreRun", "0"}}
            << QString();
        QTest::newRow("the last of count and no-limit counts")
            << QStringList{"--no-limit", "--count", "1", "--count", "1000000000", "--no-limit"}
            << Prefs{{"chkStopAfter", "0"}, {"chkStopAfter", "1"},         {"txtAcqLimit", "1"},
                     {"chkStopAfter", "1"}, {"txtAcqLimit", "1000000000"}, {"chkStopAfter", "0"}}
            << QString();
        QTest::newRow("delay above 60") << QStringList{"--delay", "61"} << Prefs{}
                                        << "--delay takes whole seconds from 0 to 60, not 61";
        QTest::newRow("delay below 0") << QStringList{"--delay", "-1"} << Prefs{}
                                       << "--delay takes whole seconds from 0 to 60, not -1";
        QTest::newRow("delay with a sign") << QStringList{"--delay", "+5"} << Prefs{}
                                           << "--delay takes whole seconds from 0 to 60, not +5";
        QTest::newRow("count 0") << QStringList{"--count", "0"} << Prefs{}
                                 << "--count takes a whole number from 1 to 1000000000, not 0";
        QTest::newRow("count too large")
            << QStringList{"--count", "1000000001"} << Prefs{}
            << "--count takes a whole number from 1 to 1000000000, not 1000000001";
        QTest::newRow("prefix with a blank")
            << QStringList{"--csv-prefix", "a b"} << Prefs{}
            << "--csv-prefix takes only letters, digits and @#$!%^&()_-+={}';,.`~, not a b";
        QTest::newRow("path with a double quote")
            << QStringList{"--screen-path", "D:\\\"x"} << Prefs{}
            << "--screen-path takes no double quote or control character";
        QTest::newRow("an argument") << QStringList{"now"} << Prefs{} << "unexpected argument: now";
    }
    void commandLineOptions() {
        QFETCH(QStringList, arguments);
        QFETCH(Prefs, overrides);
        QFETCH(QString, message);
        const auto commandLine =
            record::parseCommandLine(QStringList{"varnolt-record"} + arguments);
        QCOMPARE(commandLine.message, message);
        QCOMPARE(commandLine.action, message.isEmpty() ? record::CommandLine::Action::Record
                                                       : record::CommandLine::Action::BadOption);
        if (message.isEmpty()) {
            QCOMPARE(commandLine.options.overrides, overrides);
        }
    }

    void commandLineChoices() {
        using Action = record::CommandLine::Action;
        const auto parse = [](const QStringList& arguments) {
            return record::parseCommandLine(QStringList{"varnolt-record"} + arguments);
        };
        QCOMPARE(parse({"--json", "--quiet"}).options.output, record::OutputMode::Quiet);
        QCOMPARE(parse({"--quiet", "--json"}).options.output, record::OutputMode::Json);
        QCOMPARE(parse({}).options.output, record::OutputMode::Lines);
        QCOMPARE(parse({"--resource", "ASRL1::INSTR"}).options.resource,
                 std::optional<QString>("ASRL1::INSTR"));
        QCOMPARE(parse({}).options.resource, std::nullopt);
        QCOMPARE(parse({"--settings", "/a/b.ini"}).options.settingsFile, QString("/a/b.ini"));
        QCOMPARE(parse({"--help"}).action, Action::ShowHelp);
        QCOMPARE(parse({"-h"}).action, Action::ShowHelp);
        QCOMPARE(parse({"--version"}).action, Action::ShowVersion);
        QCOMPARE(parse({"--bogus"}).action, Action::BadOption);
    }

    // On a terminal the status line shows, with its dots, and each cycle's line replaces it.
    void theStatusLineOnlyOnATerminal() {
        RecorderRun recorder;
        QCOMPARE(recorder.run(IsfOnly, record::OutputMode::Lines, {}, true),
                 int(record::ExitLimitReached));
        const QString shown = RecorderRun::lines(recorder.out).join('\n');
        QVERIFY2(shown.contains("\r\033[K1: Waiting for Acquisition"), qPrintable(shown));
        QVERIFY2(shown.contains("\r\033[K3: Save ISF"), qPrintable(shown));
        QVERIFY2(shown.contains("\r\033[K2026-03-04T12:00:05 3 done D:\\my_ISFs_3"),
                 qPrintable(shown));
        QVERIFY(shown.endsWith("D:\\my_ISFs_3"));
    }

    void oneLinePerCycle_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("lines") << int(record::OutputMode::Lines)
                               << QStringList{"2026-03-04T12:00:05 1 saved D:\\my_ISFs_1",
                                              "2026-03-04T12:00:05 2 saved D:\\my_ISFs_2",
                                              "2026-03-04T12:00:05 3 done D:\\my_ISFs_3"};
        QTest::newRow("json")
            << int(record::OutputMode::Json)
            << QStringList{
                   R"({"cycle":1,"files":["D:\\my_ISFs_1"],"outcome":"saved","time":"2026-03-04T12:00:05.007"})",
                   R"({"cycle":2,"files":["D:\\my_ISFs_2"],"outcome":"saved","time":"2026-03-04T12:00:05.007"})",
                   R"({"cycle":3,"files":["D:\\my_ISFs_3"],"outcome":"done","time":"2026-03-04T12:00:05.007"})"};
        QTest::newRow("quiet") << int(record::OutputMode::Quiet) << QStringList{};
    }
    void oneLinePerCycle() {
        QFETCH(int, mode);
        QFETCH(QStringList, lines);
        RecorderRun recorder;
        QCOMPARE(recorder.run(IsfOnly, record::OutputMode(mode)), int(record::ExitLimitReached));
        QCOMPARE(RecorderRun::lines(recorder.out), lines);
        const QStringList errors = RecorderRun::lines(recorder.err);
        if (mode == int(record::OutputMode::Quiet)) {
            QCOMPARE(errors, QStringList{});
        } else {
            QCOMPARE(errors.size(), 1);
            QVERIFY2(errors[0].startsWith("varnolt-record: recording from " +
                                          recorder.sim.resource() + ": ") &&
                         errors[0].contains("NQX8"),
                     qPrintable(errors[0]));
        }
    }
};

QTEST_MAIN(TestRecorder)
#include "test_recorder.moc"
