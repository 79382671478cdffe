#include "app/frm_main.h"
#include "platform/quorix/quorix.h"
#include "prefs/controls.h"
#include "prefs/frm_prefs.h"
#include "tests/app/frm_main_probe.h"
#include "tests/run/recording_control.h"
#include "tests/support/preset_message_boxes.h"
#include "tests/support/running_sim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace std::chrono_literals;
using windowing::Answer;

namespace {

using Prefs = QList<std::pair<QString, QString>>;

// ISF only, no question, no delay, counter names, no limit, restore on.
Prefs isfOnly(const Prefs& more = {}) {
    Prefs prefs{{"chkUseTimestamps", "0"}, {"chkWFM", "1"},        {"chkASCII", "0"},
                {"chkScreen", "0"},        {"chkAsk", "0"},        {"hsDelay", "0"},
                {"chkStopAfter", "0"},     {"chkRestoreRun", "1"}, {"txtAcqLimit", "10"}};
    prefs += more;
    return prefs;
}

sim::SimConfig quickInstrument() {
    sim::SimConfig config;
    config.triggerPeriod = 20ms;
    config.saveDuration = 20ms;
    config.points = 200;
    return config;
}

const QStringList RestoreSequence{"TRIG", "ACQ:STATE 0", "ACQ:STOPA RUNST", "TRIG:A:MOD AUTO",
                                  "ACQ:STATE 1"};

sim::SimConfig overVxi11(sim::SimConfig config) {
    config.vxi11Port = 0;
    return config;
}

enum class Link { Socket, Vxi11 };

// The program against a simulated instrument on loopback, with its own lock and settings.
struct Program {
    QTemporaryDir dir;
    testing::RunningSim sim;
    testing::ResourcesFile resources;
    quorix::Quorix quorix;
    testing::RecordingControl control{quorix};
    testing::PresetMessageBoxes boxes;
    frmMain window{control, boxes};
    frmMainProbe probe{window};
    qsizetype runStart = 0;

    explicit Program(const Prefs& stored, const sim::SimConfig& config = quickInstrument(),
                     Link link = Link::Socket)
        : sim(link == Link::Vxi11 ? overVxi11(config) : config),
          resources({link == Link::Vxi11 ? sim.vxi11Resource() + ' ' + sim.vxi11Attributes()
                                         : sim.resource()}),
          quorix(lumetra::ResourceManager(resources.files())) {
        window.setInstanceLockPath(dir.filePath("Varnolt.lock"));
        window.setSettingsFilePath(dir.filePath("Varnolt.ini"));
        QSettings settings(dir.filePath("Varnolt.ini"), QSettings::IniFormat);
        settings.beginGroup("Prefs");
        for (const auto& [key, value] : stored) {
            settings.setValue(key, value);
        }
        settings.sync();
    }
    bool load() {
        if (window.Form_Load() != frmMain::LoadResult::Ready) {
            return false;
        }
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
    QPushButton* button(const char* name) const { return probe.button(name); }
    void start() {
        runStart = control.traffic.size();
        button("cbStart")->click();
    }
    QStringList runTraffic() const {
        return testing::collapsedPolls(control.traffic.mid(runStart));
    }
    QString status() const { return probe.status(); }
    bool idle() const { return button("cbStart")->isEnabled() && !button("cbStop")->isEnabled(); }
    QString drive() const { return QDir(sim.root()).filePath("D"); }
    QStringList driveFiles() const { return QDir(drive()).entryList(QDir::Files, QDir::Name); }
    // Presses Stop from the event loop, as a user would while the run's handler is busy.
    void pressStopSoon(int afterMs = 0) {
        QTimer::singleShot(afterMs, button("cbStop"),
                           [this] { QTest::mouseClick(button("cbStop"), Qt::LeftButton); });
    }
};

// The run's set-up: the link's Clear, the run commands, then the two that have the
// instrument record the errors of the saves from a clean slate.
const QStringList RunSetUp{"Clear", "HEAD 0;VERB 0", "ACQ:STOPA SEQ;STATE 0", "DESE 56", "*CLS"};

QStringList isfCycle(int number) {
    return {"ACQ:STATE 1",
            "BUSY?*",
            "SAV:WAVE:FILEF INTERNAL",
            QStringLiteral("SAV:WAVE ALL, \"D:\\my_ISFs_%1\"").arg(number),
            "BUSY?*",
            "*ESR?",
            "FILES:DIR?"};
}

} // namespace

class TestAcquisitionRun : public QObject {
    Q_OBJECT
private slots:
    void wholeRunOfTwoIsfCycles() {
        Program p(isfOnly({{"chkStopAfter", "1"}, {"txtAcqLimit", "2"}}));
        QVERIFY(p.load());
        const qsizetype before = p.sim.traffic().size();
        p.start();

        QStringList expected = RunSetUp;
        expected += isfCycle(1);
        expected += isfCycle(2);
        expected += "Clear";
        expected += RestoreSequence;
        QCOMPARE(p.runTraffic(), expected);
        QCOMPARE(p.status(), QString("2: Done"));
        QVERIFY(p.idle());

        // The instrument received exactly that, less the link's own Clear.
        expected.removeAll("Clear");
        QTRY_COMPARE_WITH_TIMEOUT(testing::collapsedPolls(p.sim.traffic().mid(before)), expected,
                                  5000);
        QCOMPARE(p.driveFiles(), (QStringList{"my_ISFs_1", "my_ISFs_2"}));
    }

    // A folder missing on the instrument's drive: the save that goes there is reported, the
    // run stops at once, and the saves before it are on the drive.
    void saveIntoAMissingFolderStopsTheRun_data() {
        QTest::addColumn<QString>("pathKey");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("saved");
        QTest::newRow("ISF") << "txtWFMpath"
                             << "D:\\missing\\my_ISFs_1" << QStringList{};
        QTest::newRow("CSV") << "txtASCIIpath"
                             << "D:\\missing\\my_CSVs_1" << QStringList{"my_ISFs_1"};
        QTest::newRow("screen") << "txtScreenPath"
                                << "D:\\missing\\my_Images_1.PNG"
                                << QStringList{"my_CSVs_1", "my_ISFs_1"};
    }
    void saveIntoAMissingFolderStopsTheRun() {
        QFETCH(QString, pathKey);
        QFETCH(QString, file);
        QFETCH(QStringList, saved);
        Program p(isfOnly({{"chkASCII", "1"}, {"chkScreen", "1"}, {pathKey, "D:\\missing\\"}}));
        QVERIFY(p.load());
        p.boxes.answer(Answer::Ok);
        p.start();
        QVERIFY(p.idle());
        QCOMPARE(p.status(), QString("1: Save failed"));
        QCOMPARE(p.boxes.texts(),
                 QStringList{"The instrument did not save \"" + file +
                             "\".\n\nIt reported: 256,\"File name not found\"\n\nCheck the path "
                             "and prefix in Prefs against the folders on the instrument's drive."});
        QCOMPARE(p.boxes.shown().first().title, QString("Varnolt"));
        QStringList tail = p.runTraffic();
        tail = tail.mid(tail.lastIndexOf("*ESR?"));
        QCOMPARE(tail, (QStringList{"*ESR?", "ALLEV?", "Clear"} + RestoreSequence));
        QCOMPARE(p.driveFiles(), saved);
    }

    // Start-up's mask hides every event; after a run the instrument still records its errors
    // only for as long as a run has them enabled, and a new run starts from a clean slate.
    void anErrorBeforeTheRunIsNotTakenForAFailedSave() {
        Program p(isfOnly({{"chkStopAfter", "1"}, {"txtAcqLimit", "1"}}));
        QVERIFY(p.load());
        p.start();
        QCOMPARE(p.status(), QString("1: Done"));
        p.probe.sendCommand("NO:SUCH:COMMAND"); // recorded, as the run left the mask on
        p.start();
        QCOMPARE(p.status(), QString("1: Done"));
        QVERIFY(p.boxes.shown().isEmpty());
    }

    void counterGoesOnAcrossRunsAndSkippedCyclesUseTheirNumber() {
        Program p(isfOnly({{"chkStopAfter", "1"}, {"txtAcqLimit", "1"}}));
        QVERIFY(p.load());
        p.start();
        QCOMPARE(p.status(), QString("1: Done"));
        p.start(); // a new run goes on counting
        QCOMPARE(p.driveFiles(), (QStringList{"my_ISFs_1", "my_ISFs_2"}));

        auto* ask = p.window.prefsWindow()->chkAsk();
        prefs::setCheckValue(*ask, 1);
        p.window.prefsWindow()->txtAcqLimit()->setText("3");
        p.boxes.answer(Answer::No);  // number 3 is used up
        p.boxes.answer(Answer::Yes); // saved as 4
        p.boxes.answer(Answer::No);  // number 5 is used up
        p.start();
        QCOMPARE(p.status(), QString("3: Done"));
        QCOMPARE(p.driveFiles(), (QStringList{"my_ISFs_1", "my_ISFs_2", "my_ISFs_4"}));
        const auto& question = p.boxes.shown().first();
        QCOMPARE(question.text, QString("Save this Aquisition?"));
        QCOMPARE(question.title, QString("Varnolt"));
        QCOMPARE(question.buttons, windowing::Buttons::YesNoCancel);
        QCOMPARE(question.defaultAnswer, Answer::Yes);
        QCOMPARE(question.icon, windowing::Icon::None);

        p.boxes.answer(Answer::Cancel); // number 6 is used up, nothing saved
        p.start();
        QCOMPARE(p.status(), QString("1: Stopped"));
        QVERIFY(!p.runTraffic().join('\n').contains("SAV:"));
        QVERIFY(p.idle());
        p.boxes.answer(Answer::Yes);
        p.window.prefsWindow()->txtAcqLimit()->setText("1");
        p.start();
        QCOMPARE(p.driveFiles().last(), QString("my_ISFs_7"));
    }

    void allThreeKindsInOrderAndTheImagesDecode() {
        for (const auto& [index, extension] :
             QList<std::pair<QString, QString>>{{"0", "BMP"}, {"1", "PNG"}, {"2", "TIFF"}}) {
            Program p(isfOnly({{"chkASCII", "1"},
                               {"chkScreen", "1"},
                               {"cboFileType", index},
                               {"chkStopAfter", "1"},
                               {"txtAcqLimit", "1"},
                               {"chkRestoreRun", "0"}}));
            QVERIFY(p.load());
            p.start();
            const QStringList expected =
                RunSetUp + QStringList{"ACQ:STATE 1",
                                       "BUSY?*",
                                       "SAV:WAVE:FILEF INTERNAL",
                                       "SAV:WAVE ALL, \"D:\\my_ISFs_1\"",
                                       "BUSY?*",
                                       "*ESR?",
                                       "FILES:DIR?",
                                       "SAV:WAVE:FILEF SPREADS",
                                       "SAV:WAVE:GATI NON",
                                       "SAV:WAVE ALL, \"D:\\my_CSVs_1\"",
                                       "BUSY?*",
                                       "*ESR?",
                                       "SAV:IMAG:FILEF " + extension,
                                       "SAV:IMAG:LAY LAN",
                                       "SAV:IMAG:INKS ON",
                                       "SAV:IMAG \"D:\\my_Images_1." + extension + "\"",
                                       "BUSY?*",
                                       "*ESR?",
                                       "Clear"};
            QCOMPARE(p.runTraffic(), expected);
            QCOMPARE(p.driveFiles(),
                     (QStringList{"my_CSVs_1", "my_ISFs_1", "my_Images_1." + extension}));
            QImage image(QDir(p.drive()).filePath("my_Images_1." + extension));
            QVERIFY2(!image.isNull(), qPrintable(extension));
            QCOMPARE(image.size(), QSize(640, 480));
        }
    }

    void dateAndTimeStampIsSharedByTheFilesOfACycle() {
        Program p(isfOnly({{"chkUseTimestamps", "1"},
                           {"chkASCII", "1"},
                           {"chkScreen", "1"},
                           {"chkStopAfter", "1"},
                           {"txtAcqLimit", "2"}}));
        QVERIFY(p.load());
        p.start();
        const QStringList files = p.driveFiles();
        QCOMPARE(files.size(), 6);
        QSet<QString> stamps;
        const QRegularExpression name("^my_(ISFs|CSVs|Images)_(\\d{17})(\\.PNG)?$");
        for (const QString& file : files) {
            const auto match = name.match(file);
            QVERIFY2(match.hasMatch(), qPrintable(file));
            stamps << match.captured(2);
        }
        QCOMPARE(stamps.size(), 2); // one stamp per cycle
    }

    void stopDuringTheTriggerWaitOfCycleThree() {
        Program p(isfOnly());
        QVERIFY(p.load());
        int armed = 0;
        p.control.observer = [&](const QString& entry) {
            if (entry == QLatin1String("ACQ:STATE 1") && ++armed == 3) {
                p.sim.server().setTriggerNever(true);
                p.pressStopSoon(100);
            }
        };
        p.start();
        QCOMPARE(p.status(), QString("3: Stopped"));
        QVERIFY(p.idle());
        QStringList tail = p.runTraffic();
        tail = tail.mid(tail.lastIndexOf("ACQ:STATE 1", tail.size() - 2));
        QCOMPARE(tail, (QStringList{"ACQ:STATE 1", "BUSY?*", "Clear"} + RestoreSequence));
        QCOMPARE(p.driveFiles().size(), 2);
    }

    void stopDuringALongDelayStillSavesTheFirstKind() {
        Program p(isfOnly({{"hsDelay", "2"}}));
        QVERIFY(p.load());
        QTimer::singleShot(0, &p.window, [&] {
            // Pressed once the delay is running.
            QTimer::singleShot(500, p.button("cbStop"), [&] {
                QVERIFY(p.status().startsWith("Delay after trigger"));
                QTest::mouseClick(p.button("cbStop"), Qt::LeftButton);
            });
        });
        QElapsedTimer clock;
        clock.start();
        p.start();
        QVERIFY(clock.elapsed() >= 1900); // the delay ran out
        QCOMPARE(p.status(), QString("1: Save ISF."));
        // Raw, not collapsed: exactly one poll follows the save command.
        const QStringList traffic = p.control.traffic.mid(p.runStart);
        const QStringList tail = traffic.mid(traffic.indexOf("Clear", 1));
        QCOMPARE(tail, (QStringList{"Clear"} + RestoreSequence +
                        QStringList{"SAV:WAVE:FILEF INTERNAL", "SAV:WAVE ALL, \"D:\\my_ISFs_1\"",
                                    "BUSY?"}));
    }

    void limitsThatEndTheRunAfterOneCycle_data() {
        QTest::addColumn<QString>("limit");
        QTest::newRow("1") << "1";
        QTest::newRow("0") << "0";
        QTest::newRow("not a number") << "abc";
        QTest::newRow("leading blank counts by its number") << " 1";
    }
    void limitsThatEndTheRunAfterOneCycle() {
        QFETCH(QString, limit);
        Program p(isfOnly({{"chkStopAfter", "1"}, {"txtAcqLimit", limit}}));
        QVERIFY(p.load());
        p.start();
        QCOMPARE(p.status(), QString("1: Done"));
        QCOMPARE(p.runTraffic().count("ACQ:STATE 1"), 2); // one arming, one restore
    }

    void saveKindStoredAsTwoCountsAtStartButNeverSaves() {
        Program p(isfOnly({{"chkWFM", "2"}, {"chkStopAfter", "1"}, {"txtAcqLimit", "2"}}));
        QVERIFY(p.load());
        p.start();
        QCOMPARE(p.status(), QString("2: Done"));
        QVERIFY(!p.runTraffic().join('\n').contains("SAV:"));
        QVERIFY(p.driveFiles().isEmpty());
        QCOMPARE(p.boxes.shown().size(), 0);
    }

    void nothingSelectedWarnsAndOpensThePreferences() {
        Program p(isfOnly({{"chkWFM", "0"}}));
        QVERIFY(p.load());
        p.boxes.answer(Answer::Ok);
        p.start();
        QCOMPARE(p.boxes.texts(), QStringList{"Nothing to selected to Save. Check Prefs"});
        QCOMPARE(p.boxes.shown().first().icon, windowing::Icon::Exclamation);
        QVERIFY(p.runTraffic().isEmpty());
        QVERIFY(!p.window.isVisible());
        QVERIFY(p.window.prefsWindow()->isVisible());
        QVERIFY(p.idle());
    }

    void runGoesOnWhenTheInstrumentStopsAnsweringForAWhile() {
        Program p(isfOnly());
        QVERIFY(p.load());
        int saves = 0;
        p.control.observer = [&](const QString& entry) {
            if (!entry.startsWith("SAV:WAVE ALL")) {
                return;
            }
            ++saves;
            if (saves == 2) {
                p.sim.server().setMuted(true);
                QTimer::singleShot(1000, &p.window, [&] { p.sim.server().setMuted(false); });
            } else if (saves == 5) {
                p.pressStopSoon();
            }
        };
        p.start();
        QVERIFY(p.idle());
        QVERIFY(p.status().endsWith(": Stopped"));
        // The save sent while muted never arrived; all the others did.
        QVERIFY2(p.driveFiles().size() >= 3, qPrintable(p.driveFiles().join(',')));
        QVERIFY(p.driveFiles().contains("my_ISFs_4"));
    }

    void stopOnALinkThatDiedForGoodEndsWithinSeconds() {
        Program p(isfOnly());
        QVERIFY(p.load());
        QElapsedTimer sinceStop;
        int saves = 0;
        p.control.observer = [&](const QString& entry) {
            if (entry.startsWith("SAV:WAVE ALL") && ++saves == 1) {
                p.sim.stop();
                QTimer::singleShot(300, p.button("cbStop"), [&] {
                    sinceStop.start();
                    QTest::mouseClick(p.button("cbStop"), Qt::LeftButton);
                });
            }
        };
        p.start();
        QVERIFY(p.idle());
        // The save wait adds its dot after the poll that finds the run stopped.
        QVERIFY2(QRegularExpression("^\\d+: Stopped\\.?$").match(p.status()).hasMatch(),
                 qPrintable(p.status()));
        QVERIFY2(sinceStop.elapsed() < 15000, qPrintable(QString::number(sinceStop.elapsed())));
    }

    void failingClearNeverEndsTheProgram() {
        Program p(isfOnly({{"chkStopAfter", "1"}, {"txtAcqLimit", "1"}}));
        QVERIFY(p.load());
        p.control.clearFails = true;
        p.start();
        QCOMPARE(p.status(), QString("1: Done"));
        QCOMPARE(p.driveFiles(), QStringList{"my_ISFs_1"});
    }

    void wholeRunOverVxi11IsTheSameAsOverTheRawSocket() {
        const Prefs prefs = isfOnly(
            {{"chkASCII", "1"}, {"chkScreen", "1"}, {"chkStopAfter", "1"}, {"txtAcqLimit", "2"}});
        QStringList programSide[2], instrumentSide[2], files[2];
        for (const Link link : {Link::Socket, Link::Vxi11}) {
            Program p(prefs, quickInstrument(), link);
            QVERIFY(p.load());
            const qsizetype before = p.sim.traffic().size();
            p.start();
            QCOMPARE(p.status(), QString("2: Done"));
            const int k = link == Link::Socket ? 0 : 1;
            programSide[k] = p.runTraffic();
            QTRY_VERIFY_WITH_TIMEOUT(p.sim.traffic().endsWith("ACQ:STATE 1"), 5000);
            instrumentSide[k] = testing::collapsedPolls(p.sim.traffic().mid(before));
            files[k] = p.driveFiles();
        }
        QCOMPARE(programSide[1], programSide[0]);
        QCOMPARE(instrumentSide[1], instrumentSide[0]);
        QCOMPARE(files[1], files[0]);
        QCOMPARE(files[0].size(), 6);
    }

    void storedQuoteOrLineFeedNeverBreaksTheCommandStream() {
        Program p(isfOnly({{"chkStopAfter", "1"}, {"txtAcqLimit", "1"}}));
        QVERIFY(p.load());
        p.window.prefsWindow()->txtWFMprefix()->setText("my\"x\ny;*RST;");
        p.window.prefsWindow()->update_publics();
        const qsizetype before = p.sim.traffic().size();
        p.boxes.answer(Answer::Ok);
        p.start();
        const QStringList saves = p.sim.traffic().mid(before).filter("SAV:WAVE ALL");
        QCOMPARE(saves, QStringList{"SAV:WAVE ALL, \"D:\\my\"\"xy;*RST;1\""});
        QVERIFY(!p.sim.traffic().mid(before).contains("*RST"));
        // The drive takes no quote in a file name, and says so.
        QCOMPARE(p.status(), QString("1: Save failed"));
        QCOMPARE(p.boxes.shown().size(), 1);
        QVERIFY2(p.boxes.texts().first().contains("It reported: 257,\"File name error\""),
                 qPrintable(p.boxes.texts().first()));
    }
};

QTEST_MAIN(TestAcquisitionRun)
#include "test_acquisition_run.moc"
