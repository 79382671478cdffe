#include "app/frm_main.h"
#include "prefs/frm_prefs.h"
#include "tests/app/fake_program.h"
#include "tests/app/frm_main_probe.h"
#include "tests/instrument/fake_quorix.h"
#include "tests/support/preset_message_boxes.h"

#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using testing::FakeQuorix;
using windowing::Answer;

namespace {

struct Program : testing::FakeProgram {
    void store(const QList<std::pair<QString, QString>>& values) {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.beginGroup("Prefs");
        for (const auto& [key, value] : values) {
            settings.setValue(key, value);
        }
    }
    QMap<QString, QString> stored() const {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.beginGroup("Prefs");
        QMap<QString, QString> values;
        for (const QString& key : settings.childKeys()) {
            values[key] = settings.value(key).toString();
        }
        return values;
    }
    bool load() {
        if (window.Form_Load() != frmMain::LoadResult::Ready) {
            return false;
        }
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
    QPushButton* button(const char* name) const { return probe.button(name); }
    // Runs `action` inside the program's event loop; true when the program ended by itself.
    bool endsWhile(const std::function<void()>& action) {
        bool guardFired = false;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            guardFired = true;
            // Not quit(): it first asks every window to close, and a shown main window
            // refuses, so the loop would go on. exit() leaves it unasked.
            QCoreApplication::exit(1);
        });
        guard.start(20000);
        QTimer::singleShot(0, &window, action);
        QCoreApplication::exec();
        return !guardFired;
    }
};

const QMap<QString, QString> Defaults{{"chkUseTimestamps", "1"},
                                      {"hsDelay", "0"},
                                      {"chkAsk", "0"},
                                      {"chkStopAfter", "1"},
                                      {"txtAcqLimit", "10"},
                                      {"chkWFM", "1"},
                                      {"txtWFMpath", "D:\\"},
                                      {"txtWFMprefix", "my_ISFs_"},
                                      {"chkASCII", "0"},
                                      {"txtASCIIpath", "D:\\"},
                                      {"txtASCIIprefix", "my_CSVs_"},
                                      {"chkScreen", "0"},
                                      {"txtScreenPath", "D:\\"},
                                      {"txtScreenPrefix", "my_Images_"},
                                      {"chkRestoreRun", "1"},
                                      {"cboFileType", "1"},
                                      {"optInksaverOn", "True"},
                                      {"optInksaverOff", "False"},
                                      {"optLandscape", "True"},
                                      {"optPortrait", "False"}};

} // namespace

class TestClosing : public QObject {
    Q_OBJECT
private slots:
    void closeAnsweredNoHasStoppedAndKeepsRunning() {
        Program p;
        QVERIFY(p.load());
        const qsizetype before = p.quorix.calls.size();
        p.boxes.answer(Answer::No);
        p.button("cbClose")->click();

        QStringList traffic;
        for (const auto& call : p.quorix.calls.mid(before)) {
            if (call.member == "Clear" || call.member == "Write" || call.member == "Query") {
                traffic << (call.member == "Clear" ? call.member : call.argument);
            }
        }
        QCOMPARE(traffic, (QStringList{"Clear", "TRIG", "ACQ:STATE 0", "ACQ:STOPA RUNST",
                                       "TRIG:A:MOD AUTO", "ACQ:STATE 1"}));
        QCOMPARE(p.probe.status(), QString("0: Stopped"));
        QCOMPARE(p.boxes.texts(), QStringList{"Close program?"});
        const auto& question = p.boxes.shown().first();
        QCOMPARE(question.title, QString("Varnolt"));
        QCOMPARE(question.buttons, windowing::Buttons::YesNo);
        QCOMPARE(question.icon, windowing::Icon::None);
        QVERIFY(p.window.isVisible());
        QVERIFY(p.button("cbStart")->isEnabled());
        QVERIFY(!QFile::exists(p.settingsPath()));
    }

    void closeWithoutRestoreOnlyClears() {
        Program p;
        p.store({{"chkRestoreRun", "0"}});
        QVERIFY(p.load());
        const qsizetype before = p.quorix.calls.size();
        p.boxes.answer(Answer::No);
        p.button("cbClose")->click();
        QStringList members;
        for (const auto& call : p.quorix.calls.mid(before)) {
            if (call.member == "Clear" || call.member == "Write" || call.member == "Query") {
                members << call.member;
            }
        }
        QCOMPARE(members, QStringList{"Clear"});
    }

    void closeAnsweredYesSavesAllTwentyKeysThenEnds() {
        Program p;
        QVERIFY(p.load());
        p.window.prefsWindow()->txtWFMprefix()->setText("run_");
        p.boxes.answer(Answer::Yes);
        QVERIFY(p.endsWhile([&] { p.button("cbClose")->click(); }));
        QVERIFY(!p.window.isVisible());
        QVERIFY(!p.window.prefsWindow()->isVisible());
        auto expected = Defaults;
        expected["txtWFMprefix"] = "run_";
        QCOMPARE(p.stored(), expected);
    }

    void closeAfterDefaultsWritesTheStoreInFullAgain() {
        Program p;
        p.store({{"chkAsk", "1"}, {"txtAcqLimit", " 25"}});
        QVERIFY(p.load());
        p.button("cbPrefs")->click();
        p.boxes.answer(Answer::Ok); // "Default all prefs?"
        p.window.prefsWindow()->findChild<QPushButton*>("cbDefault")->click();
        QVERIFY(!QFile::exists(p.settingsPath()));
        QTest::keyClick(p.window.prefsWindow(), Qt::Key_Escape);
        QVERIFY(p.window.isVisible());
        p.boxes.answer(Answer::Yes);
        QVERIFY(p.endsWhile([&] { p.button("cbClose")->click(); }));
        // Cancel put the snapshot back, so the two stored values return with the rest.
        auto expected = Defaults;
        expected["chkAsk"] = "1";
        expected["txtAcqLimit"] = " 25";
        QCOMPARE(p.stored(), expected);
    }

    void stopPressedAgainDuringTheRestoreRunsAgainNested() {
        Program p;
        QVERIFY(p.load());
        p.probe.setRunningButtons();
        p.probe.setStatus("4: Waiting for Acquisition...");
        p.quorix.failingCommands = {"TRIG"};
        p.quorix.onFailure = [&](int n) {
            if (n == 1) {
                QTimer::singleShot(0, p.button("cbStop"), &QAbstractButton::click);
            }
        };
        const qsizetype before = p.quorix.calls.size();
        p.button("cbStop")->click();
        QCOMPARE(p.probe.status(), QString("4: Stopped"));
        QVERIFY(p.button("cbStart")->isEnabled());
        QVERIFY(!p.button("cbStop")->isEnabled());
        QStringList traffic;
        for (const auto& call : p.quorix.calls.mid(before)) {
            if (call.member == "Clear" || call.member == "Write") {
                traffic << (call.member == "Clear" ? call.member : call.argument);
            }
        }
        // The outer stop: Clear, the first failing TRIG; then the whole nested stop; then the
        // outer one's remaining commands, each tried once on the link that is still failing.
        QCOMPARE(traffic.count("Clear"), 2);
        QCOMPARE(traffic.first(), QString("Clear"));
        QCOMPARE(traffic.at(1), QString("TRIG"));
        QCOMPARE(traffic.at(2), QString("Clear"));
        QCOMPARE(traffic.count("ACQ:STATE 1"), 2);
    }

    void titleBarCloseAnsweredNoKeepsTheProgram() {
        Program p;
        QVERIFY(p.load());
        p.boxes.answer(Answer::No);
        p.window.close();
        QVERIFY(p.window.isVisible());
        QCOMPARE(p.boxes.texts(), QStringList{"Close program?"});
        QCOMPARE(p.probe.status(), QString("0: Stopped"));
    }

    void titleBarCloseDuringARunAsksNothing() {
        Program p;
        QVERIFY(p.load());
        p.probe.setRunningButtons();
        QVERIFY(!p.window.close());
        QVERIFY(p.window.isVisible());
        QVERIFY(p.boxes.shown().isEmpty());
        p.probe.setIdleButtons();
    }
};

QTEST_MAIN(TestClosing)
#include "test_closing.moc"
