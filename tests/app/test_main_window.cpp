#include "app/application.h"
#include "app/frm_main.h"
#include "prefs/frm_prefs.h"
#include "tests/app/frm_main_probe.h"
#include "tests/instrument/fake_quorix.h"
#include "tests/support/preset_message_boxes.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using std::chrono::nanoseconds;
using testing::FakeQuorix;

namespace {

// Every read moves the clock on by one step, so waits pass in a few passes.
class SteppingClock final : public acquisition::MonotonicClock {
public:
    explicit SteppingClock(nanoseconds step) : step_(step) {}
    nanoseconds now() const override {
        const nanoseconds t = now_;
        now_ += step_;
        reads.push_back(t);
        return t;
    }
    mutable std::vector<nanoseconds> reads;

private:
    nanoseconds step_;
    mutable nanoseconds now_{1h};
};

struct Shell {
    QTemporaryDir dir;
    FakeQuorix quorix;
    testing::PresetMessageBoxes boxes;
    std::shared_ptr<SteppingClock> clock;
    frmMain window{quorix, boxes};
    frmMainProbe probe{window};

    explicit Shell(nanoseconds step = 60ms) : clock(std::make_shared<SteppingClock>(step)) {
        window.setClock(clock);
        window.setInstanceLockPath(dir.filePath("Varnolt.lock"));
        window.setSettingsFilePath(dir.filePath("Varnolt.ini"));
        probe.makeStopOnlyEndTheRun();
    }
    // Start-up against one instrument of a supported family.
    frmMain::LoadResult load() {
        quorix.resources = QStringList{"TCPIP0::127.0.0.1::5025::SOCKET"};
        quorix.idnOf = {{"TCPIP0::127.0.0.1::5025::SOCKET", "ORVANE,NQX8034,C010442,FV:1"}};
        return window.Form_Load();
    }
    QPushButton* cbStart() const { return probe.button("cbStart"); }
    QPushButton* cbStop() const { return probe.button("cbStop"); }
    QPushButton* cbPrefs() const { return probe.button("cbPrefs"); }
    QPushButton* cbClose() const { return probe.button("cbClose"); }
};

// Logs posted User events, and Paint and EnabledChange events of the widgets it watches.
class EventLog : public QObject {
public:
    QStringList entries;
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            entries << "posted";
            return true;
        }
        return QObject::event(event);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            entries << "paint " + watched->objectName();
        } else if (event->type() == QEvent::EnabledChange) {
            const auto* widget = static_cast<QWidget*>(watched);
            entries << watched->objectName() + (widget->isEnabled() ? " on" : " off");
        }
        return false;
    }
    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
};

const QString Waiting = QStringLiteral("3: Waiting for Acquisition");

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    // A retry loop in a handler, as the acquisition cycle will run one: the run starts, the
    // status line shows the phase, and "BUSY?" is asked until it is answered or Stop is pressed.
    struct RetryRun {
        explicit RetryRun(Shell& s) : shell(s) {}
        Shell& shell;
        QString reply;
        bool returned = false;
        void operator()() {
            shell.probe.setRunningButtons();
            shell.probe.setStatus(Waiting);
            reply = shell.probe.queryInstrument("BUSY?");
            returned = true;
        }
    };

    static void failBusyForever(Shell& shell, int postStopAtFailure) {
        shell.quorix.failingCommands = {"BUSY?"};
        shell.quorix.failedReply = [](int n) { return QStringLiteral("broken %1").arg(n); };
        shell.quorix.onFailure = [&shell, postStopAtFailure](int n) {
            if (n == postStopAtFailure) {
                QTimer::singleShot(0, shell.cbStop(), &QAbstractButton::click);
            }
            if (n == 30) {
                // Stop never came through: end the loop so that the test fails instead of hanging.
                shell.probe.setIdleButtons();
            }
        };
    }

private slots:
    void initTestCase() { app::configureApplication(*qApp); }

    void windowLayout() {
        Shell s;
        QCOMPARE(s.window.windowTitle(), QString("Varnolt v1.1"));
        QCOMPARE(s.window.size(), QSize(163, 45));
        QCOMPARE(s.window.minimumSize(), QSize(163, 45));
        QCOMPARE(s.window.maximumSize(), QSize(163, 45));
        QVERIFY(s.window.windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
        QVERIFY(!(s.window.windowFlags() & Qt::WindowMaximizeButtonHint));

        struct Expected {
            const char* name;
            const char* caption;
            const char* toolTip;
            QRect geometry;
        };
        const Expected buttons[] = {
            {"cbPrefs", "Prefs", "Select what to save", QRect(0, 0, 41, 25)},
            {"cbStart", "Start", "Start saving", QRect(41, 0, 41, 25)},
            {"cbStop", "Stop", "Stop Saving", QRect(82, 0, 41, 25)},
            {"cbClose", "Close", "Close and exit program", QRect(123, 0, 41, 25)},
        };
        for (const Expected& e : buttons) {
            QPushButton* button = s.probe.button(e.name);
            QVERIFY2(button, e.name);
            QCOMPARE(button->text(), QString(e.caption));
            QCOMPARE(button->toolTip(), QString(e.toolTip));
            QCOMPARE(button->geometry(), e.geometry);
        }
        QLineEdit* text1 = s.probe.text1();
        QVERIFY(text1);
        QCOMPARE(text1->text(), QString("Text1"));
        QCOMPARE(text1->toolTip(), QString("Status"));
        QCOMPARE(text1->geometry(), QRect(0, 24, 161, 19));
        QVERIFY(text1->isReadOnly());
    }

    void tabOrder() {
        Shell s;
        const QList<QWidget*> order{s.cbPrefs(), s.cbStart(), s.cbStop(), s.cbClose(),
                                    s.probe.text1()};
        for (qsizetype k = 0; k + 1 < order.size(); ++k) {
            QCOMPARE(order[k]->nextInFocusChain(), order[k + 1]);
        }
        for (QWidget* widget : order) {
            QVERIFY(widget->focusPolicy() & Qt::TabFocus);
        }
    }

    void constructionDoesNoInstrumentIo() {
        Shell s;
        QVERIFY(s.quorix.calls.isEmpty());
        QVERIFY(s.boxes.shown().isEmpty());
    }

    void programIconIsSetThroughItsHook() {
        Shell s;
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::red);
        const QIcon icon(pixmap);
        s.window.setProgramIcon(icon);
        QCOMPARE(s.window.windowIcon().cacheKey(), icon.cacheKey());
    }

    void buttonStatesAreSetInTheirOrder() {
        Shell s;
        EventLog log;
        s.probe.setIdleButtons();
        for (QPushButton* b : {s.cbStart(), s.cbPrefs(), s.cbClose(), s.cbStop()}) {
            b->installEventFilter(&log);
        }
        s.probe.setRunningButtons();
        QCOMPARE(log.entries,
                 (QStringList{"cbStart off", "cbPrefs off", "cbClose off", "cbStop on"}));
        log.entries.clear();
        s.probe.setIdleButtons();
        QCOMPARE(log.entries,
                 (QStringList{"cbStart on", "cbPrefs on", "cbClose on", "cbStop off"}));
    }

    void progressDotRepaintsAtOnceThenProcessesEvents() {
        Shell s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        s.probe.setStatus(Waiting);
        QCOMPARE(s.probe.shownStatus(), Waiting);
        QTest::qWait(20); // a frame after the last paint
        EventLog log;
        s.probe.text1()->installEventFilter(&log);
        log.post();
        s.probe.addProgressDot();
        QCOMPARE(s.probe.shownStatus(), Waiting + ".");
        QVERIFY(log.entries.size() >= 2);
        QCOMPARE(log.entries.first(), QString("paint Text1"));
        QVERIFY(log.entries.contains("posted"));

        // Dots that follow within the same frame are painted once, at its end.
        log.entries.clear();
        s.probe.addProgressDot();
        s.probe.addProgressDot();
        QCOMPARE(s.probe.status(), Waiting + "...");
        QVERIFY(!log.entries.contains("paint Text1"));
        QTRY_COMPARE_WITH_TIMEOUT(s.probe.shownStatus(), Waiting + "...", 1000);
        QCOMPARE(log.entries.count("paint Text1"), 1);
    }

    // During a run, phases that follow each other within a frame are painted once, at its end,
    // with the last of them; once the run is over, every new text shows at once.
    void statusChangesPaintAtFrameRateOnlyDuringARun() {
        Shell s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        s.probe.setRunningButtons();
        QTest::qWait(20);
        EventLog log;
        s.probe.text1()->installEventFilter(&log);
        s.probe.setStatus("4: Waiting for Acquisition");
        QCOMPARE(s.probe.shownStatus(), QString("4: Waiting for Acquisition"));
        QCOMPARE(log.entries.count("paint Text1"), 1);
        s.probe.setStatus("4: Save ISF");
        s.probe.setStatus("5: Waiting for Acquisition");
        QCOMPARE(s.probe.shownStatus(), QString("4: Waiting for Acquisition"));
        QCOMPARE(s.probe.status(), QString("5: Waiting for Acquisition"));
        QTRY_COMPARE_WITH_TIMEOUT(s.probe.shownStatus(), QString("5: Waiting for Acquisition"),
                                  1000);
        QCOMPARE(log.entries.count("paint Text1"), 2);

        s.probe.setIdleButtons();
        s.probe.setStatus("5: Stopped");
        s.probe.setStatus("5: Done");
        QCOMPARE(s.probe.shownStatus(), QString("5: Done"));
        QCOMPARE(log.entries.count("paint Text1"), 4);
    }

    // Text1 at its real size holds about twenty characters; the count and phase at the start
    // of a longer text must be what shows, after a new text as after a dot.
    void statusLineShowsTheStartOfItsText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("dots");
        QTest::newRow("identification reply")
            << "ORVANE,NQX8034,C010442,CF:91.1CT FV:v1.16 TFP:v1.2" << 0;
        QTest::newRow("trigger wait with dots") << Waiting << 7;
        QTest::newRow("a run of dots started over") << "12: Waiting for Acquisition" << 19;
    }
    void statusLineShowsTheStartOfItsText() {
        QFETCH(QString, text);
        QFETCH(int, dots);
        Shell s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        QLineEdit* line = s.probe.text1();
        s.probe.setStatus(text);
        for (int k = 0; k < dots; ++k) {
            QTest::qWait(20); // each dot painted in a frame of its own
            s.probe.addProgressDot();
        }
        QTRY_COMPARE_WITH_TIMEOUT(line->text(), s.probe.status(), 1000);
        QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) > line->width());
        QCOMPARE(line->cursorPosition(), 0);
        QVERIFY(line->inputMethodQuery(Qt::ImCursorRectangle).toRect().left() < line->width() / 4);
    }

    void progressDotsRunFromOneToNine() {
        Shell s;
        s.probe.setStatus(Waiting);
        for (int n = 1; n <= 9; ++n) {
            s.probe.addProgressDot();
            QCOMPARE(s.probe.status(), Waiting + QString(n, '.'));
        }
        s.probe.addProgressDot();
        QCOMPARE(s.probe.status(), Waiting + ".");
    }

    void zeroOrNegativeWaitProcessesNoEvent() {
        Shell s;
        EventLog log;
        log.post();
        s.probe.waitSeconds(0);
        s.probe.waitSeconds(-1);
        QVERIFY(log.entries.isEmpty());
        QVERIFY(s.clock->reads.empty());
        QCoreApplication::processEvents();
        QCOMPARE(log.entries, QStringList{"posted"});
    }

    void waitsOfOneSecondOrLessShowNoDots() {
        for (const double seconds : {0.1, 1.0}) {
            Shell s(seconds < 0.5 ? 60ms : 150ms); // steps shorter than the wait itself
            s.probe.setStatus(Waiting);
            EventLog log;
            log.post();
            s.probe.waitSeconds(seconds);
            QCOMPARE(s.probe.status(), Waiting);
            QCOMPARE(log.entries, QStringList{"posted"});
            QVERIFY(s.clock->reads.back() - s.clock->reads.front() >
                    std::chrono::duration<double>(seconds));
        }
    }

    void longerWaitRunsTheDotsForItsFullLength() {
        Shell s(150ms);
        s.probe.setStatus(Waiting);
        s.probe.waitSeconds(1.5);
        const auto& reads = s.clock->reads;
        QVERIFY(reads.back() - reads.front() > 1500ms);
        // One dot per pass; a pass starts at each read after the first that is not past the end.
        long passes = 0;
        for (std::size_t k = 1; k < reads.size(); ++k) {
            passes += reads[k] <= reads.front() + 1500ms ? 1 : 0;
        }
        QVERIFY(passes > 9);
        QCOMPARE(s.probe.status(), Waiting + QString(int((passes - 1) % 9 + 1), '.'));
    }

    void successfulFirstAttemptNeitherWaitsNorAddsADot() {
        Shell s;
        s.probe.setRunningButtons();
        s.probe.setStatus(Waiting);
        s.quorix.replyTo["BUSY?"] = "1";
        QCOMPARE(s.probe.queryInstrument("BUSY?"), QString("1"));
        s.probe.sendCommand("ACQ:STATE 1");
        QCOMPARE(s.probe.status(), Waiting);
        QVERIFY(s.clock->reads.empty());
        QVERIFY(s.quorix.ReportErrors());
    }

    void idleFailingLinkSendsOnceAndLeavesTheStatusLine() {
        Shell s;
        s.probe.setIdleButtons();
        s.probe.setStatus("ORVANE,NQX8034,C010442");
        s.quorix.failNext = 100;
        s.probe.sendCommand("*CLS");
        QCOMPARE(s.quorix.trafficOf({"Write", "Query"}), QStringList{"Write *CLS"});
        QCOMPARE(s.probe.status(), QString("ORVANE,NQX8034,C010442"));
        QVERIFY(s.clock->reads.back() - s.clock->reads.front() > 100ms);
        QVERIFY(s.quorix.ReportErrors());
    }

    void tenFailuresInARowWhileRunning() {
        Shell s;
        s.probe.setRunningButtons();
        s.probe.setStatus(Waiting);
        s.quorix.failNext = 10;
        QStringList before; // the status line as each attempt starts
        s.quorix.observer = [&](const FakeQuorix::Call& call) {
            if (call.member == QLatin1String("Query")) {
                before << s.probe.status();
            }
        };
        QCOMPARE(s.probe.queryInstrument("BUSY?"), QString("0"));
        QCOMPARE(before.size(), 11);
        QCOMPARE(before[0], Waiting);
        for (int n = 1; n <= 9; ++n) {
            QCOMPARE(before[n], Waiting + QString(n, '.'));
        }
        QCOMPARE(before[10], Waiting + ".");
        QCOMPARE(s.probe.status(), Waiting + ".");
    }

    void stopDuringARetryLoopStartedByAMouseClick() {
        Shell s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        QWidget starter;
        auto* go = new QPushButton("Go", &starter);
        go->setGeometry(0, 0, 60, 30);
        starter.show();
        QVERIFY(QTest::qWaitForWindowExposed(&starter));
        RetryRun run{s};
        connect(go, &QPushButton::clicked, this, [&run] { run(); });
        failBusyForever(s, 3);

        QTest::mouseClick(starter.windowHandle(), Qt::LeftButton, {}, go->geometry().center());
        QVERIFY(run.returned);
        QCOMPARE(run.reply, QString("broken 3"));
        QCOMPARE(s.quorix.count("Query"), 3);
        QVERIFY(s.cbStart()->isEnabled());
        QVERIFY(!s.cbStop()->isEnabled());
        QCOMPARE(s.probe.status(), Waiting + "..");
        QVERIFY(s.quorix.ReportErrors());
    }

    void stopDuringARetryLoopStartedByAQueuedCall() {
        Shell s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        RetryRun run{s};
        failBusyForever(s, 3);
        QTimer::singleShot(0, &s.window, [&run] { run(); });
        QTRY_VERIFY(run.returned);
        QCOMPARE(run.reply, QString("broken 3"));
        QCOMPARE(s.quorix.count("Query"), 3);
        QVERIFY(s.cbStart()->isEnabled());
    }

    void stopPostedBeforeAQueuedRetryLoopStarts() {
        // Both calls are pending when the first one starts: the loop's yields must deliver the
        // second even though it was posted before the handler now running was entered. The
        // window stays hidden, so that no repaint posts anything that would mask a yield that
        // misses such events.
        Shell s;
        RetryRun run{s};
        failBusyForever(s, -1);
        QMetaObject::invokeMethod(
            &s.window, [&run] { run(); }, Qt::QueuedConnection);
        QTimer::singleShot(0, s.cbStop(), &QAbstractButton::click);
        QTRY_VERIFY(run.returned);
        QCOMPARE(run.reply, QString("broken 1"));
        QCOMPARE(s.quorix.count("Query"), 1);
        QCOMPARE(s.probe.status(), Waiting);
    }

    void stopPostedBeforeAMouseClickRetryLoopStarts() {
        Shell s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        QWidget starter;
        auto* go = new QPushButton("Go", &starter);
        go->setGeometry(0, 0, 60, 30);
        starter.show();
        QVERIFY(QTest::qWaitForWindowExposed(&starter));
        RetryRun run{s};
        connect(go, &QPushButton::clicked, this, [&run] { run(); });
        failBusyForever(s, -1);
        QTimer::singleShot(0, s.cbStop(), &QAbstractButton::click);
        QTest::mouseClick(starter.windowHandle(), Qt::LeftButton, {}, go->geometry().center());
        QVERIFY(run.returned);
        QCOMPARE(run.reply, QString("broken 1"));
        QCOMPARE(s.quorix.count("Query"), 1);
    }

    void titleBarCloseIsRefusedDuringARun() {
        Shell s;
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        s.probe.setRunningButtons();
        QVERIFY(!s.window.close());
        QVERIFY(s.window.isVisible());
    }

    void titleBarCloseWhileIdleEndsTheProgram() {
        Shell s;
        QCOMPARE(s.load(), frmMain::LoadResult::Ready);
        s.boxes.answer(windowing::Answer::Yes); // "Close program?"
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        bool closed = false;
        bool guardFired = false;
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [&] {
            guardFired = true;
            QCoreApplication::exit(1); // quit() would ask the windows, which refuse
        });
        guard.start(20s);
        QTimer::singleShot(0, &s.window, [&] {
            s.window.close();
            closed = true;
        });
        QCoreApplication::exec();
        guard.stop();
        QVERIFY(closed);
        QVERIFY(!guardFired);
        QVERIFY(!s.window.isVisible());
        QCOMPARE(s.boxes.texts(), QStringList{"Close program?"});
    }

    void prefsHandsOverToThePreferencesWindow() {
        Shell s;
        QCOMPARE(s.load(), frmMain::LoadResult::Ready);
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        QWidget& prefs = *s.window.prefsWindow();
        QVERIFY(!prefs.isVisible());
        s.cbPrefs()->click();
        QVERIFY(!s.window.isVisible());
        QVERIFY(prefs.isVisible());
    }

    void programGoesOnWhileOnlyThePrefsWindowIsShown() {
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
        Shell s;
        QCOMPARE(s.load(), frmMain::LoadResult::Ready);
        QWidget& prefs = *s.window.prefsWindow();
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));

        QStringList steps;
        auto shown = [&] {
            return QStringLiteral("main %1, prefs %2")
                .arg(s.window.isVisible() ? "shown" : "hidden",
                     prefs.isVisible() ? "shown" : "hidden");
        };
        QTimer::singleShot(0, &s.window, [&] {
            s.cbPrefs()->click();
            steps << shown();
            // A box of the preferences window comes and goes.
            auto* box = new QDialog(&prefs);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->show();
            box->close();
            QTimer::singleShot(0, &s.window, [&] {
                steps << shown();
                // Closed from its title bar without handing back: the main window returns.
                prefs.close();
                QTimer::singleShot(0, &s.window, [&] {
                    steps << shown();
                    QCoreApplication::quit();
                });
            });
        });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
        guard.start(20s);
        QCoreApplication::exec();
        guard.stop();
        QCOMPARE(steps, (QStringList{"main hidden, prefs shown", "main hidden, prefs shown",
                                     "main shown, prefs hidden"}));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
