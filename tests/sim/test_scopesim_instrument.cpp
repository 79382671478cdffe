// The simulator's pieces without sockets: the parser, names on the drives, the files and the
// instrument's timing on a test clock.
#include "sim/drive_paths.h"
#include "sim/instrument.h"
#include "sim/scpi_events.h"
#include "sim/scpi_parser.h"
#include "sim/traffic_log.h"
#include "sim/waveform_files.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

class ScopeSimInstrumentTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root_;
    sim::SimClock::time_point t0_ = sim::SimClock::now();

    sim::Instrument make(std::chrono::milliseconds triggerPeriod = 100ms,
                         std::chrono::milliseconds saveDuration = 50ms) {
        sim::InstrumentSetup setup;
        setup.root = root_->path().toStdString();
        setup.triggerPeriod = triggerPeriod;
        setup.saveDuration = saveDuration;
        setup.points = 100;
        QDir(root_->path()).mkpath("D");
        sim::Instrument instrument(setup, t0_);
        instrument.execute("HEAD OFF", t0_);
        return instrument;
    }

    static std::string reply(sim::Instrument& instrument, std::string_view message,
                             sim::SimClock::time_point at) {
        return instrument.execute(message, at).value_or("<none>");
    }

private slots:
    void init() { root_ = std::make_unique<QTemporaryDir>(); }

    void unitsSplitOutsideQuotes() {
        const auto units = sim::scpi::splitUnits(R"(A "x;y";B 'p;''q';C "a"";b")");
        QCOMPARE(units.size(), std::size_t(3));
        QCOMPARE(units[0], std::string_view(R"(A "x;y")"));
        QCOMPARE(units[1], std::string_view(R"(B 'p;''q')"));
        QCOMPARE(units[2], std::string_view(R"(C "a"";b")"));
    }

    void unitArgumentsAreParsed() {
        const auto unit = sim::scpi::parseUnit(R"(  :SAV:WAVE  ch1 , "D:/say ""hi"".isf" )");
        QCOMPARE(unit.errorCode, 0);
        QVERIFY(unit.rooted);
        QVERIFY(!unit.query);
        QCOMPARE(unit.nodes, (std::vector<std::string>{"SAV", "WAVE"}));
        QCOMPARE(unit.args.size(), std::size_t(2));
        QCOMPARE(unit.args[0].text, std::string("ch1"));
        QVERIFY(!unit.args[0].quoted);
        QCOMPARE(unit.args[1].text, std::string(R"(D:/say "hi".isf)"));
        QVERIFY(unit.args[1].quoted);

        QCOMPARE(sim::scpi::parseUnit("*ESR?").common, true);
        QCOMPARE(sim::scpi::parseUnit("A \"open").errorCode, sim::EventCode::SyntaxError);
        QCOMPARE(sim::scpi::parseUnit("A 1,,2").errorCode, sim::EventCode::MissingParameter);
        QCOMPARE(sim::scpi::parseUnit("A::B 1").errorCode, sim::EventCode::UndefinedHeader);
        QCOMPARE(sim::scpi::parseUnit("   ").nodes.size(), std::size_t(0));
    }

    void formsMatchShortOrLongOnly() {
        QCOMPARE(sim::scpi::shortForm("STOPAfter"), std::string("STOPA"));
        QVERIFY(sim::scpi::matchesForm("stopa", "STOPAfter"));
        QVERIFY(sim::scpi::matchesForm("StopAfter", "STOPAfter"));
        QVERIFY(!sim::scpi::matchesForm("STOPAF", "STOPAfter"));
        QVERIFY(!sim::scpi::matchesForm("STOP", "STOPAfter"));
        QCOMPARE(sim::scpi::quoted("a\"b"), std::string("\"a\"\"b\""));
    }

    void drivePathsResolve_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("display");
        QTest::newRow("backslashes") << "D:\\dir\\w.isf"
                                     << "D:/" << 0 << "D:/dir/w.isf";
        QTest::newRow("slashes") << "e:/w.isf"
                                 << "D:/" << 0 << "E:/w.isf";
        QTest::newRow("relative") << "sub/w.isf"
                                  << "D:/dir/" << 0 << "D:/dir/sub/w.isf";
        QTest::newRow("dot") << "./w.isf"
                             << "D:/" << 0 << "D:/w.isf";
        QTest::newRow("dotdot") << "D:/dir/../w.isf"
                                << "D:/" << sim::EventCode::FileNameError << "";
        QTest::newRow("empty") << ""
                               << "D:/" << sim::EventCode::FileNameError << "";
        QTest::newRow("no drive") << "/w.isf"
                                  << "D:/" << sim::EventCode::FileNameError << "";
        QTest::newRow("bad char") << "D:/w?.isf"
                                  << "D:/" << sim::EventCode::FileNameError << "";
        QTest::newRow("colon") << "D:/a:b"
                               << "D:/" << sim::EventCode::FileNameError << "";
        QTest::newRow("control") << "D:/a\tb"
                                 << "D:/" << sim::EventCode::FileNameError << "";
    }

    void drivePathsResolve() {
        QFETCH(QString, name);
        QFETCH(QString, cwd);
        QFETCH(int, error);
        QFETCH(QString, display);
        const auto resolved = sim::resolveDrivePath(name.toStdString(), cwd.toStdString());
        QCOMPARE(resolved.errorCode, error);
        if (error == 0) {
            QCOMPARE(QString::fromStdString(resolved.path.display()), display);
        }
    }

    void drivePathsAreCheckedOnTheHost() {
        const std::filesystem::path root = root_->path().toStdString();
        QDir(root_->path()).mkpath("D/dir");
        auto check = [&](const char* name, sim::PathUse use) {
            const auto resolved = sim::resolveDrivePath(name, "D:/");
            return resolved.errorCode != 0 ? resolved.errorCode
                                           : sim::checkDrivePath(resolved.path, root, use);
        };
        QCOMPARE(check("D:/dir/w.isf", sim::PathUse::NewFile), 0);
        QCOMPARE(check("E:/w.isf", sim::PathUse::NewFile), sim::EventCode::MassStorageError);
        QCOMPARE(check("D:/none/w.isf", sim::PathUse::NewFile), sim::EventCode::FileNameNotFound);
        QCOMPARE(check("D:/dir", sim::PathUse::NewFile), sim::EventCode::FileNameError);
        QCOMPARE(check("D:/dir/", sim::PathUse::NewFile), sim::EventCode::FileNameError);
        QCOMPARE(check("D:/", sim::PathUse::NewFile), sim::EventCode::FileNameError);
        QCOMPARE(check("D:/dir", sim::PathUse::ExistingFolder), 0);
        QCOMPARE(check("D:/dir/w.isf", sim::PathUse::ExistingEntry),
                 sim::EventCode::FileNameNotFound);
        QCOMPARE(check("D:/dir", sim::PathUse::NewFolder), sim::EventCode::MassStorageError);
    }

    void sequenceCompletesAtTheTriggerPeriod() {
        sim::Instrument scope = make(100ms);
        QCOMPARE(reply(scope, "ACQ:STOPA SEQ;STATE 1;:BUSY?", t0_), std::string("1"));
        QCOMPARE(reply(scope, "BUSY?;ACQ:NUMACQ?", t0_ + 99ms), std::string("1;0"));
        QCOMPARE(reply(scope, "BUSY?;ACQ:NUMACQ?;STATE?", t0_ + 100ms), std::string("0;1;0"));
        QCOMPARE(reply(scope, "TRIG:STATE?", t0_ + 100ms), std::string("SAVE"));
        QCOMPARE(reply(scope, "BUSY?;ACQ:NUMACQ?", t0_ + 10s), std::string("0;1"));
    }

    void zeroPeriodCompletesAtOnce() {
        sim::Instrument scope = make(0ms);
        QCOMPARE(reply(scope, "ACQ:STOPA SEQ;STATE 1;:BUSY?", t0_), std::string("0"));
    }

    void triggerNeverWaitsForAForcedTrigger() {
        sim::Instrument scope = make(10ms);
        scope.setTriggerNever(true);
        QCOMPARE(reply(scope, "ACQ:STOPA SEQ;STATE ON;:TRIG:STATE?", t0_), std::string("READY"));
        QCOMPARE(reply(scope, "BUSY?", t0_ + 1h), std::string("1"));
        QCOMPARE(reply(scope, "TRIG;:BUSY?;:ACQ:STATE?;NUMACQ?", t0_ + 1h), std::string("0;0;1"));
    }

    void continuousRunningCounts() {
        sim::Instrument scope = make(100ms);
        QCOMPARE(reply(scope, "ACQ:STATE 1;NUMACQ?;:BUSY?", t0_), std::string("0;0"));
        QCOMPARE(reply(scope, "ACQ:NUMACQ?", t0_ + 350ms), std::string("3"));
        QCOMPARE(reply(scope, "ACQ:STATE 0;NUMACQ?", t0_ + 350ms), std::string("3"));
        QCOMPARE(reply(scope, "ACQ:NUMACQ?", t0_ + 10s), std::string("3"));
    }

    void saveKeepsItBusyForTheSaveDuration() {
        sim::Instrument scope = make(100ms, 300ms);
        QCOMPARE(reply(scope, "SAV:WAVE CH1,\"D:/a.isf\";:BUSY?", t0_), std::string("1"));
        QCOMPARE(reply(scope, "BUSY?", t0_ + 299ms), std::string("1"));
        QCOMPARE(reply(scope, "BUSY?", t0_ + 300ms), std::string("0"));
        QVERIFY(QFileInfo::exists(root_->filePath("D/a.isf")));
    }

    void operationCompleteWaitsForTheSequence() {
        sim::Instrument scope = make(100ms);
        QCOMPARE(reply(scope, "*ESE 1;*ESE?;ACQ:STOPA SEQ;STATE 1;*OPC;*ESR?", t0_),
                 std::string("1;0"));
        QCOMPARE(reply(scope, "*ESR?", t0_ + 50ms), std::string("0"));
        QCOMPARE(reply(scope, "*STB?;*ESR?;*ESR?", t0_ + 100ms), std::string("32;1;0"));
    }

    // A save the drive refuses sets the execution error bit and queues its message, each only
    // where the device event mask lets it through; so does operation complete.
    void saveErrorsFollowTheEventMask_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("esr");
        QTest::addColumn<QString>("events");
        const QString none = "0,\"No events to report - queue empty\"";
        const QString notFound = "256,\"File name not found\"";
        QTest::newRow("all") << "255"
                             << "16" << notFound;
        QTest::newRow("the run's mask") << "56"
                                        << "16" << notFound;
        QTest::newRow("execution errors only") << "16"
                                               << "16" << notFound;
        QTest::newRow("all but execution errors") << "239"
                                                  << "0" << none;
        QTest::newRow("none, as start-up leaves it") << "0"
                                                     << "0" << none;
    }
    void saveErrorsFollowTheEventMask() {
        QFETCH(QString, mask);
        QFETCH(QString, esr);
        QFETCH(QString, events);
        sim::Instrument scope = make();
        scope.execute("DESE " + mask.toStdString() + ";*CLS", t0_);
        for (const char* save :
             {"SAV:WAVE ALL,\"D:/missing/a\"", "SAV:IMAG \"D:/missing/b.PNG\""}) {
            scope.execute(save, t0_);
            QCOMPARE(QString::fromStdString(reply(scope, "*ESR?", t0_)), esr);
            QCOMPARE(QString::fromStdString(reply(scope, "ALLEV?", t0_)), events);
        }
        scope.execute("*OPC", t0_);
        const int masked = mask.toInt() & 1;
        QCOMPARE(QString::fromStdString(reply(scope, "*ESR?", t0_ + 1ms)), QString::number(masked));
    }

    void eventQueueOverflows() {
        sim::Instrument scope = make();
        for (int i = 0; i < 40; ++i) {
            scope.execute("NOPE", t0_);
        }
        QCOMPARE(scope.events().size(), std::size_t(32));
        QCOMPARE(scope.events().back().code, sim::EventCode::QueueOverflow);
        QCOMPARE(reply(scope, "DESE 0;NOPE;:DESE?;EVQTY?", t0_), std::string("0;32"));
    }

    void resetRestoresSettings() {
        sim::Instrument scope = make();
        scope.execute("ACQ:STOPA SEQ;STATE 0;:SAV:IMAG:FILEF BMP;INKS ON;:TRIG:A:MOD NORM", t0_);
        QCOMPARE(
            reply(scope, "*RST;:ACQ:STOPA?;STATE?;:SAV:IMAG:FILEF?;INKS?;:TRIG:A:MOD?;:HEAD?", t0_),
            std::string("RUNST;1;PNG;0;AUTO;0"));
    }

    void waveformsDependOnTheAcquisition() {
        const sim::WaveformSet a = sim::synthesizeWaveforms(7, 1000);
        const sim::WaveformSet b = sim::synthesizeWaveforms(7, 1000);
        const sim::WaveformSet c = sim::synthesizeWaveforms(8, 1000);
        QVERIFY(a.samples == b.samples);
        QVERIFY(a.samples[0] != c.samples[0]);
        for (int ch = 0; ch < sim::ChannelCount; ++ch) {
            QCOMPARE(a.samples[ch].size(), std::size_t(1000));
            for (int other = 0; other < ch; ++other) {
                QVERIFY(a.samples[ch] != a.samples[other]);
            }
        }
        QCOMPARE(sim::nr3(4.0e-6), std::string("4.0E-6"));
        QCOMPARE(sim::nr3(-2.0e-3), std::string("-2.0E-3"));
        QCOMPARE(sim::nr3(1.5625e-4), std::string("1.5625E-4"));
        QCOMPARE(sim::nr3(0.0), std::string("0.0"));
    }

    void isfPreambleHasTheDocumentedFields() {
        const sim::WaveformSet set = sim::synthesizeWaveforms(7, 1000);
        const std::string isf = sim::isfFileContents(set, {{0, 1, 2, 3}, 0, 1000});
        const std::string preamble =
            ":WFMPRE:ENCDG BIN;BN_FMT RI;BYT_OR LSB;BYT_NR 2;NR_PT 1000;NR_CH 4;SOURCES "
            "\"CH1,CH2,CH3,CH4\";XINCR 4.0E-6;XZERO -2.0E-3;XUNIT \"s\";YMULT 1.5625E-4;YZERO "
            "0.0;YUNIT \"V\";ACQNUM 7;:CURVE #48000";
        QCOMPARE(isf.substr(0, preamble.size()), preamble);
        QCOMPARE(isf.size(), preamble.size() + 8000 + 1);
    }

    // FILES:DIR? keeps up with every change to the folder, whoever made it.
    void listingFollowsTheDrive_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("listing");
        QTest::newRow("empty") << QStringList{} << "";
        QTest::newRow("host adds, sorted by byte")
            << QStringList{"list", "touch b", "touch B", "touch a", "mkdir c"}
            << R"("B","a","b","c")";
        QTest::newRow("host removes")
            << QStringList{"touch a", "touch b", "list", "rm a"} << R"("b")";
        QTest::newRow("host renames") << QStringList{"touch a", "list", "mv a z"} << R"("z")";
        QTest::newRow("host renames into another folder")
            << QStringList{"mkdir sub", "touch a", "list", "mv a sub/a"} << R"("sub")";
        QTest::newRow("instrument saves and deletes") << QStringList{"list",
                                                                     "scpi SAV:WAVE CH1,\"D:/w2\"",
                                                                     "scpi SAV:WAVE CH1,\"D:/w1\"",
                                                                     "list",
                                                                     "scpi SAV:WAVE CH1,\"D:/w2\"",
                                                                     "scpi FILES:DELE \"D:/w1\"",
                                                                     "scpi FILES:MKD \"D:/m\""}
                                                      << R"("m","w2")";
        QTest::newRow("quotes doubled") << QStringList{"list", "touch q\"x"} << R"("q""x")";
        QTest::newRow("working folder made anew")
            << QStringList{"mkdir runs",   "scpi FILES:CWD \"D:/runs\"",
                           "touch runs/a", "list",
                           "rmtree runs",  "mkdir runs",
                           "touch runs/b"}
            << R"("b")";
        QTest::newRow("working folder swapped")
            << QStringList{"mkdir runs",   "scpi FILES:CWD \"D:/runs\"",
                           "touch runs/a", "list",
                           "mv runs old",  "mkdir runs",
                           "touch runs/c"}
            << R"("c")";
        QTest::newRow("each folder its own") << QStringList{"mkdir runs",
                                                            "touch runs/r",
                                                            "touch d",
                                                            "list",
                                                            "scpi FILES:CWD \"D:/runs\"",
                                                            "list",
                                                            "touch runs/s",
                                                            "scpi FILES:CWD \"D:/\"",
                                                            "list",
                                                            "touch e",
                                                            "scpi FILES:CWD \"D:/runs\""}
                                             << R"("r","s")";
    }

    void listingFollowsTheDrive() {
        QFETCH(QStringList, steps);
        QFETCH(QString, listing);
        sim::Instrument instrument = make();
        const QDir drive(root_->filePath("D"));
        auto at = [&](const QString& name) { return drive.filePath(name); };
        for (const QString& step : steps) {
            const QString verb = step.section(' ', 0, 0);
            const QString rest = step.section(' ', 1);
            if (verb == "list") {
                instrument.execute("FILES:DIR?", t0_);
            } else if (verb == "touch") {
                QFile file(at(rest));
                QVERIFY(file.open(QIODevice::WriteOnly));
            } else if (verb == "rm") {
                QVERIFY(QFile::remove(at(rest)));
            } else if (verb == "mv") {
                QVERIFY(QFile::rename(at(rest.section(' ', 0, 0)), at(rest.section(' ', 1))));
            } else if (verb == "mkdir") {
                QVERIFY(drive.mkpath(rest));
            } else if (verb == "rmtree") {
                QVERIFY(QDir(at(rest)).removeRecursively());
            } else {
                QCOMPARE(verb, QString("scpi"));
                instrument.execute(rest.toStdString(), t0_);
            }
        }
        QCOMPARE(reply(instrument, "FILES:DIR?;:ALLEV?", t0_),
                 listing.toStdString() + ";0,\"No events to report - queue empty\"");
    }

    void listingOfAFolderThatWentAway() {
        sim::Instrument instrument = make();
        QVERIFY(QDir(root_->path()).mkpath("D/runs"));
        instrument.execute("FILES:CWD \"D:/runs\"", t0_);
        QCOMPARE(reply(instrument, "FILES:DIR?", t0_), std::string());
        QVERIFY(QDir(root_->filePath("D/runs")).removeRecursively());
        QCOMPARE(reply(instrument, "FILES:DIR?;:ALLEV?", t0_),
                 std::string(";256,\"File name not found\""));
    }

    void trafficLogEscapesControlCharacters() {
        QCOMPARE(sim::TrafficLog::escape("a\tb\rc\x7f\x01"), std::string("a\tb\\x0Dc\\x7F\\x01"));
        QCOMPARE(sim::TrafficLog::escape(std::string_view("x\0y", 3)), std::string("x\\x00y"));
    }
};

QTEST_GUILESS_MAIN(ScopeSimInstrumentTest)
#include "test_scopesim_instrument.moc"
