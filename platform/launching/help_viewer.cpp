#include "platform/launching/help_viewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace launching {

namespace {

// Browsers that render MHTML (help files with their pictures inside) as they appear on
// Debian and in the browsers' own packages, most likely first.
const char* const MhtmlBrowsers[] = {
    "chromium",      "chromium-browser",      "google-chrome-stable",
    "google-chrome", "microsoft-edge-stable", "brave-browser",
};

constexpr int StartTimeoutMs = 10000;
constexpr int KillTimeoutMs = 5000;
constexpr int PollMs = 50;

// The viewer runs in a process group of its own, so that ending it also reaches the helper
// processes a browser starts.
void signalViewer(const QProcess& process, int signal) {
    const auto pid = static_cast<pid_t>(process.processId());
    if (pid <= 0) {
        return;
    }
    if (::kill(-pid, signal) != 0) {
        ::kill(pid, signal);
    }
}

QString noViewerText(const QString& helpFilePath) {
    return QStringLiteral("No web browser that can show the help file was found. The help file "
                          "is %1.")
        .arg(QDir::toNativeSeparators(helpFilePath));
}

QString viewerFailedText(const QString& helpFilePath) {
    return QStringLiteral("The web browser to show the help file could not be started. The "
                          "help file is %1.")
        .arg(QDir::toNativeSeparators(helpFilePath));
}

QString missingFileText(const QString& helpFilePath) {
    return QStringLiteral("The help file %1 is missing.")
        .arg(QDir::toNativeSeparators(helpFilePath));
}

} // namespace

QList<ViewerCommand> HelpViewer::defaultCandidates() {
    // Maximized, as the help is opened; a new window of a process just started takes the focus.
    QStringList arguments{QStringLiteral("--new-window"), QStringLiteral("--start-maximized"),
                          QStringLiteral("--no-first-run"),
                          QStringLiteral("--no-default-browser-check")};
    if (::geteuid() == 0) {
        arguments << QStringLiteral("--no-sandbox");
    }
    QList<ViewerCommand> candidates;
    for (const char* browser : MhtmlBrowsers) {
        candidates.append(ViewerCommand{QString::fromLatin1(browser), arguments, true});
    }
    return candidates;
}

HelpViewer::HelpViewer(QList<ViewerCommand> candidates, QObject* parent)
    : QObject(parent), candidates_(std::move(candidates)) {}

HelpViewer::~HelpViewer() {
    endViewer(false);
}

QString HelpViewer::programHelpFilePath() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("readme.mht"));
}

bool HelpViewer::viewerRunning() const {
    return viewer_ && viewer_->state() != QProcess::NotRunning;
}

qint64 HelpViewer::viewerProcessId() const {
    return viewer_ ? viewer_->processId() : 0;
}

QString HelpViewer::resolve(const ViewerCommand& command) const {
    if (command.program.contains(QLatin1Char('/'))) {
        const QFileInfo file(command.program);
        return file.isFile() && file.isExecutable() ? file.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(command.program);
}

void HelpViewer::endViewer(bool keepResponsive) {
    if (!viewer_) {
        return;
    }
    QProcess& process = *viewer_;
    // Picks up a viewer that the user has closed already; such a viewer is simply passed over.
    process.waitForFinished(0);
    if (process.state() != QProcess::NotRunning) {
        signalViewer(process, SIGTERM);
        QElapsedTimer waited;
        waited.start();
        if (keepResponsive) {
            // Called from a button handler: the windows keep painting while the viewer ends,
            // but no click reaches the program until this call is over.
            while (!process.waitForFinished(PollMs) && waited.elapsed() < gracePeriodMs_) {
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            }
        } else {
            process.waitForFinished(gracePeriodMs_);
        }
        if (process.state() != QProcess::NotRunning) {
            signalViewer(process, SIGKILL);
            process.waitForFinished(KillTimeoutMs);
        }
    }
    viewer_.reset();
    if (!viewerProfile_.isEmpty()) {
        QDir(viewerProfile_).removeRecursively();
        viewerProfile_.clear();
    }
}

HelpViewer::Result HelpViewer::show(const QString& helpFilePath) {
    const QString helpFile = QFileInfo(helpFilePath).absoluteFilePath();
    if (!QFileInfo(helpFile).isFile()) {
        return Result{false, missingFileText(helpFile)};
    }

    endViewer(true);

    bool anyFound = false;
    for (const ViewerCommand& command : candidates_) {
        const QString program = resolve(command);
        if (program.isEmpty()) {
            continue;
        }
        anyFound = true;

        QStringList arguments;
        QString profile;
        if (command.privateProfile) {
            if (!profiles_) {
                profiles_ = std::make_unique<QTemporaryDir>(
                    QDir(QDir::tempPath()).filePath(QStringLiteral("varnolt-help-XXXXXX")));
            }
            profile = profiles_->filePath(QStringLiteral("viewer-%1").arg(++profileCount_));
            if (!profiles_->isValid() || !QDir().mkpath(profile)) {
                continue;
            }
            arguments << QStringLiteral("--user-data-dir=") + profile;
        }
        arguments << command.arguments << helpFile;

        auto process = std::make_unique<QProcess>();
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->setChildProcessModifier([] { ::setpgid(0, 0); });
        process->start(program, arguments);
        if (!process->waitForStarted(StartTimeoutMs)) {
            if (!profile.isEmpty()) {
                QDir(profile).removeRecursively();
            }
            continue;
        }
        viewer_ = std::move(process);
        viewerProfile_ = profile;
        return Result{true, {}};
    }
    return Result{false, anyFound ? viewerFailedText(helpFile) : noViewerText(helpFile)};
}

} // namespace launching
