#include "app/application.h"
#include "app/frm_main.h"
#include "app/single_instance.h"
#include "platform/quorix/quorix.h"
#include "prefs/frm_prefs.h"
#include "tests/app/frm_main_probe.h"
#include "tests/instrument/fake_quorix.h"
#include "tests/support/preset_message_boxes.h"
#include "tests/support/running_sim.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <unistd.h>

using testing::FakeQuorix;
using windowing::Answer;

namespace {

const QString AlreadyRunning = QStringLiteral("Varnolt is already running.");
const QString ScopeNotFound = QStringLiteral("Scope not found.  Please check Lumetra.");
QString errorWritingTo(const QString& resource) {
    return "Error writing to " + resource + ".  Please check Lumetra Resource Manager.";
}

const QString First = QStringLiteral("TCPIP0::192.0.2.10::4000::SOCKET");
const QString Second = QStringLiteral("TCPIP0::192.0.2.11::4000::SOCKET");
const QString UntaggedIdn = QStringLiteral("ORVANE,XQ1000,C020117,CF:91.1CT FV:v1.0.4");
const QString TaggedIdn = QStringLiteral("ORVANE,LVZ8012,C030551,CF:91.1CT FV:v2.3.1");
const QString DeadResource = QStringLiteral("TCPIP0::127.0.0.1::1::SOCKET");

// A main window on any control, with its own lock file and message boxes.
template <typename Control> struct Program {
    QTemporaryDir lockDir;
    Control& quorix;
    testing::PresetMessageBoxes boxes;
    frmMain window;
    frmMainProbe probe{window};

    explicit Program(Control& control, const QString& lockPath = {})
        : quorix(control), window(control, boxes) {
        window.setInstanceLockPath(lockPath.isEmpty() ? lockDir.filePath("Varnolt.lock")
                                                      : lockPath);
        window.setSettingsFilePath(lockDir.filePath("Varnolt.ini"));
    }
    // Form_Load with `expected` as the only message box it may show.
    frmMain::LoadResult load(const QString& expected = {}) {
        if (!expected.isEmpty()) {
            boxes.answer(Answer::Ok);
        }
        return window.Form_Load();
    }
    void verifyOnlyMessage(const QString& text) const {
        QCOMPARE(boxes.texts(), QStringList{text});
        const auto& box = boxes.shown().first();
        QCOMPARE(box.title, QString("Varnolt"));
        QCOMPARE(box.icon, windowing::Icon::None);
        QCOMPARE(box.buttons, windowing::Buttons::Ok);
        QCOMPARE(boxes.unexpectedCount(), 0);
    }
    void verifyIdle() const {
        QVERIFY(probe.button("cbStart")->isEnabled());
        QVERIFY(probe.button("cbPrefs")->isEnabled());
        QVERIFY(probe.button("cbClose")->isEnabled());
        QVERIFY(!probe.button("cbStop")->isEnabled());
    }
};

struct FakeProgram : Program<FakeQuorix> {
    FakeQuorix fake;
    explicit FakeProgram(const QString& lockPath = {}) : Program(fake, lockPath) {}
};

// The real control reading a resources file of its own.
struct RealControl {
    testing::ResourcesFile resources;
    quorix::Quorix quorix;
    explicit RealControl(const QStringList& lines)
        : resources(lines), quorix(lumetra::ResourceManager(resources.files())) {}
};

// A process that holds the lock at `path` until it is told to let go or is killed.
class LockHolder {
public:
    explicit LockHolder(const QString& path) {
        process_.start(QStringLiteral(LOCK_HOLDER), {path});
    }
    ~LockHolder() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    bool waitUntilHeld() {
        QByteArray out;
        while (!out.contains('\n') && process_.waitForReadyRead(30000)) {
            out += process_.readAllStandardOutput();
        }
        return out.trimmed() == "held";
    }
    void release() {
        process_.closeWriteChannel();
        process_.waitForFinished();
    }
    void kill() {
        process_.kill();
        process_.waitForFinished();
    }

private:
    QProcess process_;
};

} // namespace

class TestStartUp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { app::configureApplication(*qApp); }

    void onlyTheSecondResourceCarriesATag() {
        FakeProgram p;
        p.fake.resources = QStringList{First, Second};
        p.fake.idnOf = {{First, UntaggedIdn}, {Second, TaggedIdn}};
        QStringList statusAtIdn;
        p.fake.observer = [&](const FakeQuorix::Call& call) {
            if (call.argument == QLatin1String("*IDN?")) {
                statusAtIdn << p.probe.status();
            }
        };
        p.probe.setRunningButtons();
        QCOMPARE(p.load(), frmMain::LoadResult::Ready);

        const QStringList expected{"setReportErrors on",
                                   "setSetting 14=300",
                                   "setSetting 1=0",
                                   "ResourceList ",
                                   "setResourceName " + First,
                                   "Clear " + First,
                                   "setReportErrors off",
                                   "Query *IDN?",
                                   "setReportErrors on",
                                   "setResourceName " + Second,
                                   "Clear " + Second,
                                   "setReportErrors off",
                                   "Query *IDN?",
                                   "setReportErrors on",
                                   "Write DESE 0",
                                   "Write *ESE 0",
                                   "Write *SRE 0",
                                   "Write HEAD 0",
                                   "setReportErrors off",
                                   "Write *CLS",
                                   "setReportErrors on",
                                   "setReportErrors off",
                                   "Query ALLEV?",
                                   "setReportErrors on"};
        QCOMPARE(p.fake.trafficOf({"setReportErrors", "setSetting", "ResourceList",
                                   "setResourceName", "Clear", "Write", "Query"}),
                 expected);
        for (const FakeQuorix::Call& call : p.fake.calls) {
            if (call.member == QLatin1String("Write") && call.argument != QLatin1String("*CLS")) {
                QVERIFY2(call.reportErrors, qPrintable(call.argument));
            }
        }
        QCOMPARE(statusAtIdn, (QStringList{First, Second}));
        QCOMPARE(p.probe.status(), TaggedIdn);
        QVERIFY(p.boxes.shown().isEmpty());
        QVERIFY(p.fake.ReportErrors());
        p.verifyIdle();
        QVERIFY(p.window.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!p.window.isVisible());
    }

    void twoSimulatedInstrumentsOnlyTheSecondOfASupportedFamily() {
        sim::SimConfig config;
        config.instruments = {sim::InstrumentConfig{}, sim::InstrumentConfig{}};
        config.instruments[0].idn = UntaggedIdn.toStdString();
        testing::RunningSim sim(config);
        RealControl control({sim.resource(0), sim.resource(1)});
        Program<quorix::Quorix> p(control.quorix);
        QCOMPARE(p.load(), frmMain::LoadResult::Ready);

        QCOMPARE(sim.traffic(0), QStringList{"*IDN?"});
        QCOMPARE(sim.traffic(1),
                 (QStringList{"*IDN?", "DESE 0", "*ESE 0", "*SRE 0", "HEAD 0", "*CLS", "ALLEV?"}));
        QCOMPARE(p.probe.status(), QString(sim::DefaultIdn));
        QCOMPARE(control.quorix.ResourceName(), sim.resource(1));
        QCOMPARE(control.quorix.timeout(), std::chrono::milliseconds(300));
        QVERIFY(!control.quorix.traceEnabled());
        QVERIFY(control.quorix.ReportErrors());
        QVERIFY(p.boxes.shown().isEmpty());
        p.verifyIdle();
    }

    void aResourceThatDoesNotAnswerIsPassedOverQuietly() {
        testing::RunningSim sim;
        RealControl control({DeadResource, sim.resource()});
        Program<quorix::Quorix> p(control.quorix);
        QCOMPARE(p.load(), frmMain::LoadResult::Ready);
        QCOMPARE(p.probe.status(), QString(sim::DefaultIdn));
        QCOMPARE(sim.traffic().first(), QString("*IDN?"));
        QVERIFY(p.boxes.shown().isEmpty());
    }

    void aFailedIdentificationIsTriedOnceWithoutADot() {
        FakeProgram p;
        p.fake.resources = QStringList{First, Second};
        p.fake.idnOf = {{First, TaggedIdn}, {Second, TaggedIdn}};
        p.fake.failNext = 1;
        QCOMPARE(p.load(), frmMain::LoadResult::Ready);
        QCOMPARE(p.fake.trafficOf({"setResourceName", "Query"}),
                 (QStringList{"setResourceName " + First, "Query *IDN?",
                              "setResourceName " + Second, "Query *IDN?", "Query ALLEV?"}));
        QCOMPARE(p.probe.status(), TaggedIdn);
    }

    void aTagInLowerCaseIsNotAccepted() {
        sim::SimConfig config;
        config.instruments[0].idn = "ORVANE,nqx8034,C010442,CF:91.1CT FV:v1.2.0";
        testing::RunningSim sim(config);
        RealControl control({sim.resource()});
        Program<quorix::Quorix> p(control.quorix);
        QCOMPARE(p.load(errorWritingTo(sim.resource())), frmMain::LoadResult::EndProgram);
        p.verifyOnlyMessage(errorWritingTo(sim.resource()));
        QCOMPARE(sim.traffic(), QStringList{"*IDN?"});

        FakeProgram f;
        f.fake.resources = QStringList{First};
        f.fake.idnOf = {{First, "ORVANE,lvz8012,C030551"}};
        QCOMPARE(f.load(errorWritingTo(First)), frmMain::LoadResult::EndProgram);
        f.verifyOnlyMessage(errorWritingTo(First));
    }

    void eitherTagAnywhereInTheReplyIsAccepted() {
        for (const QString& idn : {QString("NQX8"), QString("x,y,LVZ8"), QString("aNQX8b")}) {
            FakeProgram p;
            p.fake.resources = QStringList{First};
            p.fake.idnOf = {{First, idn}};
            QCOMPARE(p.load(), frmMain::LoadResult::Ready);
            QCOMPARE(p.probe.status(), idn);
        }
    }

    void noResourceListMeansNoScope() {
        RealControl control({"# no instruments here"});
        Program<quorix::Quorix> p(control.quorix);
        QCOMPARE(p.load(ScopeNotFound), frmMain::LoadResult::EndProgram);
        p.verifyOnlyMessage(ScopeNotFound);

        FakeProgram f;
        f.fake.resources = std::nullopt;
        QCOMPARE(f.load(ScopeNotFound), frmMain::LoadResult::EndProgram);
        f.verifyOnlyMessage(ScopeNotFound);
        QCOMPARE(f.fake.members(),
                 (QStringList{"setReportErrors", "setSetting", "setSetting", "ResourceList"}));
    }

    void anEmptyListNamesWhateverResourceNameHolds() {
        FakeProgram p;
        p.fake.setResourceName("GPIB0::7::INSTR");
        p.fake.calls.clear();
        p.fake.resources = QStringList{};
        QCOMPARE(p.load(errorWritingTo("GPIB0::7::INSTR")), frmMain::LoadResult::EndProgram);
        p.verifyOnlyMessage(errorWritingTo("GPIB0::7::INSTR"));
        QCOMPARE(p.fake.count("Clear") + p.fake.count("Query") + p.fake.count("Write"), 0);

        FakeProgram blank;
        QCOMPARE(blank.load(errorWritingTo("")), frmMain::LoadResult::EndProgram);
        blank.verifyOnlyMessage("Error writing to .  Please check Lumetra Resource Manager.");
    }

    void anErrorWhileTheCandidatesAreTriedEndsStartUp() {
        {
            FakeProgram p;
            p.fake.resources = QStringList{First, Second};
            p.fake.idnOf = {{Second, TaggedIdn}};
            p.fake.clearRaises = true;
            QCOMPARE(p.load(errorWritingTo(First)), frmMain::LoadResult::EndProgram);
            p.verifyOnlyMessage(errorWritingTo(First));
            QCOMPARE(p.fake.count("Query"), 0);
        }
        {
            FakeProgram p;
            p.fake.resources = QStringList{First, Second};
            p.fake.idnOf = {{Second, TaggedIdn}};
            p.fake.unreachable = {Second};
            QCOMPARE(p.load(errorWritingTo(Second)), frmMain::LoadResult::EndProgram);
            p.verifyOnlyMessage(errorWritingTo(Second));
        }
        {
            FakeProgram p;
            p.fake.resources = QStringList{First};
            p.fake.idnOf = {{First, TaggedIdn}};
            p.fake.failingCommands = {"*SRE 0"};
            QCOMPARE(p.load(errorWritingTo(First)), frmMain::LoadResult::EndProgram);
            p.verifyOnlyMessage(errorWritingTo(First));
            QCOMPARE(p.fake.trafficOf({"Write"}),
                     (QStringList{"Write DESE 0", "Write *ESE 0", "Write *SRE 0"}));
        }
    }

    void startUpFromAShownWindowKeepsItShownAndOnTop() {
        FakeProgram p;
        p.fake.resources = QStringList{First};
        p.fake.idnOf = {{First, TaggedIdn}};
        p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        QCOMPARE(p.load(), frmMain::LoadResult::Ready);
        QVERIFY(p.window.isVisible());
        QVERIFY(p.window.windowFlags() & Qt::WindowStaysOnTopHint);
    }

    void aSecondInstanceRefusesToStart() {
        QTemporaryDir dir;
        const QString lockPath = dir.filePath("Varnolt.lock");
        LockHolder holder(lockPath);
        QVERIFY(holder.waitUntilHeld());
        // However long the first instance has been running, its lock stands.
        QFile lockFile(lockPath);
        QVERIFY(lockFile.open(QIODevice::ReadWrite));
        QVERIFY(lockFile.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                     QFileDevice::FileModificationTime));
        lockFile.close();

        FakeProgram second(lockPath);
        second.fake.resources = QStringList{First};
        second.fake.idnOf = {{First, TaggedIdn}};
        QCOMPARE(second.load(AlreadyRunning), frmMain::LoadResult::EndProgram);
        second.verifyOnlyMessage(AlreadyRunning);
        QVERIFY(second.fake.calls.isEmpty());
        QVERIFY(!second.window.prefsWindow()); // nothing of the preferences was built

        holder.release();
        FakeProgram third(lockPath);
        third.fake.resources = QStringList{First};
        third.fake.idnOf = {{First, TaggedIdn}};
        QCOMPARE(third.load(), frmMain::LoadResult::Ready);
    }

    // Steps 1 to 4 in their order: the instance check before anything else, then top-most,
    // then the option windows with the preferences, then the idle buttons, all before the
    // instrument is touched.
    void startUpStepsRunInOrder() {
        FakeProgram p;
        {
            QFile ini(p.lockDir.filePath("Varnolt.ini"));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[Prefs]\nchkAsk=1\n");
        }
        p.fake.resources = QStringList{First};
        p.fake.idnOf = {{First, TaggedIdn}};
        p.probe.setRunningButtons();
        struct PrefsWatch : QObject {
            frmMain* main = nullptr;
            QPushButton* start = nullptr;
            QStringList seen;
            bool eventFilter(QObject* watched, QEvent* event) override {
                if (seen.isEmpty() && event->type() == QEvent::WindowTitleChange &&
                    watched->objectName() == QLatin1String("frmPrefs")) {
                    seen << QStringLiteral("top-most %1")
                                .arg(bool(main->windowFlags() & Qt::WindowStaysOnTopHint))
                         << QStringLiteral("idle %1").arg(start->isEnabled());
                }
                return false;
            }
        } watch;
        watch.main = &p.window;
        watch.start = p.probe.button("cbStart");
        qApp->installEventFilter(&watch);
        QStringList atFirstCall;
        p.fake.observer = [&](const FakeQuorix::Call&) {
            if (atFirstCall.isEmpty()) {
                auto* prefs = p.window.prefsWindow();
                atFirstCall << QStringLiteral("prefs loaded %1")
                                   .arg(prefs && prefs->chkAsk()->checkState() == Qt::Checked)
                            << QStringLiteral("idle %1").arg(
                                   p.probe.button("cbStart")->isEnabled());
            }
        };
        QCOMPARE(p.load(), frmMain::LoadResult::Ready);
        qApp->removeEventFilter(&watch);
        QCOMPARE(watch.seen, (QStringList{"top-most 1", "idle 0"}));
        QCOMPARE(atFirstCall, (QStringList{"prefs loaded 1", "idle 1"}));
    }

    // Anything but a lock held by a live instance is named with its cause, not taken for one.
    void aLockFileThatCannotBeMadeIsNamed_data() {
        QTest::addColumn<QString>("folder"); // below the temporary folder
        QTest::addColumn<bool>("unwritable");
        QTest::addColumn<QString>("cause");
        QTest::newRow("missing folder") << "gone/deeper" << false << "its folder does not exist";
        QTest::newRow("a file where the folder should be")
            << "plain" << false << "its folder does not exist";
        QTest::newRow("unwritable folder") << "locked" << true << "its folder is not writable";
    }
    void aLockFileThatCannotBeMadeIsNamed() {
        QFETCH(QString, folder);
        QFETCH(bool, unwritable);
        QFETCH(QString, cause);
        if (unwritable && ::geteuid() == 0) {
            QSKIP("every folder is writable to root");
        }
        QTemporaryDir dir;
        const QString lockPath = dir.filePath(folder + "/Varnolt.lock");
        if (folder == QLatin1String("plain")) {
            QFile plain(dir.filePath(folder));
            QVERIFY(plain.open(QIODevice::WriteOnly));
        }
        if (unwritable) {
            QVERIFY(QDir(dir.path()).mkdir(folder));
            QVERIFY(
                QFile::setPermissions(dir.filePath(folder), QFile::ReadOwner | QFile::ExeOwner));
        }
        FakeProgram p(lockPath);
        const QString message = "Varnolt cannot make its lock file " +
                                QDir::toNativeSeparators(lockPath) + ": " + cause;
        QCOMPARE(p.load(message), frmMain::LoadResult::EndProgram);
        p.verifyOnlyMessage(message);
        QVERIFY(p.fake.calls.isEmpty());
        QVERIFY(!p.window.prefsWindow());
        QFile::setPermissions(dir.filePath(folder),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void aSecondWindowInTheSameProcessIsRefusedToo() {
        QTemporaryDir dir;
        const QString lockPath = dir.filePath("Varnolt.lock");
        FakeProgram first(lockPath);
        first.fake.resources = QStringList{First};
        first.fake.idnOf = {{First, TaggedIdn}};
        QCOMPARE(first.load(), frmMain::LoadResult::Ready);
        FakeProgram second(lockPath);
        QCOMPARE(second.load(AlreadyRunning), frmMain::LoadResult::EndProgram);
        QVERIFY(second.fake.calls.isEmpty());
    }

    void theLockOfAProcessThatDiedIsTakenOver() {
        QTemporaryDir dir;
        const QString lockPath = dir.filePath("Varnolt.lock");
        LockHolder holder(lockPath);
        QVERIFY(holder.waitUntilHeld());
        holder.kill();
        QVERIFY(QFile::exists(lockPath));

        FakeProgram p(lockPath);
        p.fake.resources = QStringList{First};
        p.fake.idnOf = {{First, TaggedIdn}};
        QCOMPARE(p.load(), frmMain::LoadResult::Ready);
        QVERIFY(p.boxes.shown().isEmpty());
    }

    void theLockIsHeldForTheProgramsLifetime() {
        QTemporaryDir dir;
        const QString lockPath = dir.filePath("Varnolt.lock");
        {
            FakeProgram p(lockPath);
            p.fake.resources = QStringList{First};
            p.fake.idnOf = {{First, TaggedIdn}};
            QCOMPARE(p.load(), frmMain::LoadResult::Ready);
            app::SingleInstanceLock other(lockPath);
            QVERIFY(!other.tryAcquire());
        }
        app::SingleInstanceLock after(lockPath);
        QVERIFY(after.tryAcquire());
    }

    void theDefaultLockIsPerUserAndNamedAfterTheExecutable() {
        const QString path = app::SingleInstanceLock::defaultPath();
        QCOMPARE(QFileInfo(path).fileName(), QString("test_start_up.lock"));
        QVERIFY(QFileInfo(path).isAbsolute());
    }
};

QTEST_MAIN(TestStartUp)
#include "test_start_up.moc"
