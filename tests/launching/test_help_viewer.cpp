#include "platform/launching/help_viewer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <csignal>
#include <unistd.h>

using launching::HelpViewer;
using launching::ViewerCommand;

namespace {

constexpr int LogWaitMs = 60000;

// The fake writes its whole start record at once, ending in "ready".
#define WAIT_FOR_READY(viewers) QTRY_COMPARE_WITH_TIMEOUT(count("ready"), viewers, LogWaitMs)

// One started viewer as its log tells it.
struct Start {
    qint64 pid = 0;
    QStringList arguments;
};

bool processGone(qint64 pid) {
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

class TestHelpViewer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString log_;
    QString help_;

    ViewerCommand fake(const QStringList& mode = {}) const {
        return ViewerCommand{QStringLiteral(FAKE_VIEWER),
                             QStringList{QStringLiteral("--log=") + log_} + mode, false};
    }

    QStringList logLines() const {
        QFile file(log_);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    int count(const QString& word) const {
        int n = 0;
        for (const QString& line : logLines()) {
            n += line == word || line.startsWith(word + QLatin1Char(' ')) ? 1 : 0;
        }
        return n;
    }

    QList<Start> starts() const {
        QList<Start> result;
        bool inStart = false;
        for (const QString& line : logLines()) {
            if (line.startsWith(QLatin1String("start "))) {
                result.append(Start{line.mid(6).toLongLong(), {}});
                inStart = true;
            } else if (inStart && line.startsWith(QLatin1String("arg "))) {
                result.last().arguments << line.mid(4);
            } else {
                inStart = false;
            }
        }
        return result;
    }

private slots:
    void init() {
        QVERIFY(dir_.isValid());
        log_ = dir_.filePath(QStringLiteral("viewer-%1.log").arg(QTest::currentTestFunction()));
        help_ = dir_.filePath(QStringLiteral("readme.mht"));
        QFile help(help_);
        QVERIFY(help.open(QIODevice::WriteOnly));
        help.write("MIME-Version: 1.0\r\n");
    }

    void firstShowStartsOneViewerWithTheHelpFile() {
        HelpViewer viewer({fake()});
        const HelpViewer::Result result = viewer.show(help_);
        QVERIFY(result.shown);
        QVERIFY(result.failure.isEmpty());
        WAIT_FOR_READY(1);

        const QList<Start> started = starts();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.first().arguments, QStringList{help_});
        QCOMPARE(started.first().pid, viewer.viewerProcessId());
        QVERIFY(viewer.viewerRunning());
        QCOMPARE(count("end"), 0);
    }

    void secondShowEndsTheFirstViewerAndStartsANewOne() {
        HelpViewer viewer({fake()});
        QVERIFY(viewer.show(help_).shown);
        WAIT_FOR_READY(1);
        const qint64 first = viewer.viewerProcessId();

        QVERIFY(viewer.show(help_).shown);
        WAIT_FOR_READY(2);

        const QStringList lines = logLines();
        const int endLine = lines.indexOf(QStringLiteral("end %1").arg(first));
        QVERIFY2(endLine >= 0, qPrintable(lines.join(QLatin1Char('|'))));
        const QList<Start> started = starts();
        QCOMPARE(started.size(), 2);
        QVERIFY(started.at(1).pid != first);
        QVERIFY(endLine < lines.indexOf(QStringLiteral("start %1").arg(started.at(1).pid)));
        QCOMPARE(started.at(1).arguments, QStringList{help_});
        QVERIFY(processGone(first));
        QCOMPARE(viewer.viewerProcessId(), started.at(1).pid);
    }

    void showAfterTheViewerEndedByItselfJustStartsANewOne() {
        HelpViewer viewer({fake({QStringLiteral("--exit-at-once")})});
        QVERIFY(viewer.show(help_).shown);
        QTRY_COMPARE_WITH_TIMEOUT(count("exit"), 1, LogWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!viewer.viewerRunning(), LogWaitMs);

        const HelpViewer::Result result = viewer.show(help_);
        QVERIFY(result.shown);
        QTRY_COMPARE_WITH_TIMEOUT(count("exit"), 2, LogWaitMs);
        QCOMPARE(starts().size(), 2);
        QCOMPARE(count("end"), 0);
        QCOMPARE(count("term"), 0);
    }

    void showRightAfterTheViewerEndedStillStartsANewOne() {
        // The viewer has gone but the program has not yet heard of it.
        HelpViewer viewer({fake({QStringLiteral("--exit-at-once")})});
        QVERIFY(viewer.show(help_).shown);
        QTRY_COMPARE_WITH_TIMEOUT(count("exit"), 1, LogWaitMs);
        QVERIFY(viewer.show(help_).shown);
        QTRY_COMPARE_WITH_TIMEOUT(count("exit"), 2, LogWaitMs);
        QCOMPARE(starts().size(), 2);
    }

    void noViewerFoundFailsNamingTheHelpFile() {
        HelpViewer viewer(
            {ViewerCommand{dir_.filePath(QStringLiteral("no-such-viewer")), {}, false},
             ViewerCommand{QStringLiteral("varnolt-test-no-such-browser"), {}, true}});
        const HelpViewer::Result result = viewer.show(help_);
        QVERIFY(!result.shown);
        QVERIFY2(result.failure.contains(help_), qPrintable(result.failure));
        QVERIFY(result.failure.contains(QLatin1String("No web browser")));
        QVERIFY(!viewer.viewerRunning());
        QCOMPARE(viewer.viewerProcessId(), 0);
        QVERIFY(!QFileInfo::exists(log_));
    }

    void aFileThatIsNoProgramIsPassedOver() {
        const QString notAProgram = dir_.filePath(QStringLiteral("not-a-program"));
        QFile file(notAProgram);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        HelpViewer viewer({ViewerCommand{notAProgram, {}, false}, fake()});
        QVERIFY(viewer.show(help_).shown);
        WAIT_FOR_READY(1);
        QCOMPARE(starts().size(), 1);
    }

    void theFirstCandidateFoundIsStarted() {
        ViewerCommand second = fake({QStringLiteral("second")});
        HelpViewer viewer({ViewerCommand{QStringLiteral("varnolt-test-no-such-browser"), {}, false},
                           fake({QStringLiteral("first")}), second});
        QVERIFY(viewer.show(help_).shown);
        WAIT_FOR_READY(1);
        QCOMPARE(starts().first().arguments, (QStringList{QStringLiteral("first"), help_}));
    }

    void aMissingHelpFileStartsNothing() {
        HelpViewer viewer({fake()});
        const QString missing = dir_.filePath(QStringLiteral("gone.mht"));
        const HelpViewer::Result result = viewer.show(missing);
        QVERIFY(!result.shown);
        QVERIFY2(result.failure.contains(missing), qPrintable(result.failure));
        QVERIFY(!QFileInfo::exists(log_));
    }

    void aHelpPathWithBlanksArrivesAsOneArgument() {
        QVERIFY(QDir(dir_.path()).mkpath(QStringLiteral("Program Files/Var nolt")));
        const QString blanks = dir_.filePath(QStringLiteral("Program Files/Var nolt/read me.mht"));
        QVERIFY(QFile::copy(help_, blanks));
        HelpViewer viewer({fake()});
        QVERIFY(viewer.show(blanks).shown);
        WAIT_FOR_READY(1);
        QCOMPARE(starts().first().arguments, QStringList{blanks});
    }

    void aRelativeHelpPathArrivesAsAnAbsolutePath() {
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir_.path()));
        HelpViewer viewer({fake()});
        const bool shown = viewer.show(QStringLiteral("readme.mht")).shown;
        QDir::setCurrent(before);
        QVERIFY(shown);
        WAIT_FOR_READY(1);
        QCOMPARE(starts().first().arguments, QStringList{QFileInfo(help_).absoluteFilePath()});
    }

    void aViewerThatIgnoresTheRequestToEndIsKilled() {
        HelpViewer viewer({fake({QStringLiteral("--ignore-term")})});
        viewer.setGracePeriodMs(300);
        QVERIFY(viewer.show(help_).shown);
        WAIT_FOR_READY(1);
        const qint64 first = viewer.viewerProcessId();

        QVERIFY(viewer.show(help_).shown);
        WAIT_FOR_READY(2);
        QCOMPARE(count("term"), 1);
        QCOMPARE(count("end"), 0);
        QVERIFY(processGone(first));
        QCOMPARE(starts().size(), 2);
        QVERIFY(viewer.viewerRunning());
    }

    void theLauncherEndsItsViewerWhenItGoes() {
        qint64 pid = 0;
        {
            HelpViewer viewer({fake()});
            QVERIFY(viewer.show(help_).shown);
            WAIT_FOR_READY(1);
            pid = viewer.viewerProcessId();
        }
        QCOMPARE(logLines().last(), QStringLiteral("end %1").arg(pid));
        QVERIFY(processGone(pid));
    }

    void aBrowserGetsAFreshProfileFolderForEveryStart() {
        ViewerCommand browser = fake();
        browser.privateProfile = true;
        QString firstProfile;
        QString secondProfile;
        {
            HelpViewer viewer({browser});
            QVERIFY(viewer.show(help_).shown);
            WAIT_FOR_READY(1);
            const QStringList firstArguments = starts().at(0).arguments;
            QCOMPARE(firstArguments.size(), 2);
            QVERIFY(firstArguments.at(0).startsWith(QLatin1String("--user-data-dir=")));
            QCOMPARE(firstArguments.at(1), help_);
            firstProfile = firstArguments.at(0).mid(16);
            QVERIFY(QFileInfo(firstProfile).isDir());

            QVERIFY(viewer.show(help_).shown);
            WAIT_FOR_READY(2);
            secondProfile = starts().at(1).arguments.at(0).mid(16);
            QVERIFY(secondProfile != firstProfile);
            QVERIFY(QFileInfo(secondProfile).isDir());
            QVERIFY(!QFileInfo::exists(firstProfile));
        }
        QVERIFY(!QFileInfo::exists(secondProfile));
    }

    void theDefaultViewersAreChromiumFamilyBrowsersOfTheirOwn() {
        const QList<ViewerCommand> candidates = HelpViewer::defaultCandidates();
        QVERIFY(candidates.size() >= 4);
        QCOMPARE(candidates.at(0).program, QStringLiteral("chromium"));
        QCOMPARE(candidates.at(1).program, QStringLiteral("chromium-browser"));
        QCOMPARE(candidates.at(2).program, QStringLiteral("google-chrome-stable"));
        QCOMPARE(candidates.at(3).program, QStringLiteral("google-chrome"));
        for (const ViewerCommand& command : candidates) {
            QVERIFY(command.privateProfile);
            QVERIFY(command.arguments.contains(QStringLiteral("--new-window")));
            QVERIFY(command.arguments.contains(QStringLiteral("--start-maximized")));
            QVERIFY(command.arguments.contains(QStringLiteral("--no-first-run")));
            QCOMPARE(command.arguments.contains(QStringLiteral("--no-sandbox")), ::geteuid() == 0);
        }
    }

    void theProgramsHelpFileLiesBesideIt() {
        QCOMPARE(HelpViewer::programHelpFilePath(),
                 QDir(QCoreApplication::applicationDirPath()).filePath("readme.mht"));
    }
};

QTEST_GUILESS_MAIN(TestHelpViewer)
#include "test_help_viewer.moc"
