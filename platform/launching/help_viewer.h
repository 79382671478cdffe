#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QProcess;
class QTemporaryDir;

namespace launching {

// One way to show the help file: a program, by name (looked up on PATH) or by path, and the
// arguments that go in front of the help file's path.
struct ViewerCommand {
    QString program;
    QStringList arguments;
    // A Chromium-family browser: it gets a profile folder of its own for every start, so that
    // it runs as a new process of ours instead of handing the file to a browser that is
    // already open and exiting at once.
    bool privateProfile = false;
};

// Shows the help file in a viewer that the program starts and owns, and replaces that viewer
// on every later call, so that repeated presses of Help do not pile up browser windows.
class HelpViewer final : public QObject {
    Q_OBJECT
public:
    struct Result {
        bool shown = false;
        QString failure; // one or two sentences for the user; empty when shown
    };

    // The browsers that render MHTML, in the order of preference, each with the arguments for
    // a fresh, maximized window of its own (plus --no-sandbox when the program runs as root, since
    // Chromium refuses to start as root without it).
    static QList<ViewerCommand> defaultCandidates();

    explicit HelpViewer(QList<ViewerCommand> candidates = defaultCandidates(),
                        QObject* parent = nullptr);
    // Ends the viewer that is still open.
    ~HelpViewer() override;

    HelpViewer(const HelpViewer&) = delete;
    HelpViewer& operator=(const HelpViewer&) = delete;

    // Ends the viewer of the previous call if it is still open, then starts the first
    // candidate found with helpFilePath as its last argument. Returns once the viewer has
    // started; does not wait for it.
    Result show(const QString& helpFilePath);

    // How long an open viewer may take to end after being asked before it is killed.
    void setGracePeriodMs(int milliseconds) { gracePeriodMs_ = milliseconds; }

    // The viewer of the last successful call, while it runs.
    bool viewerRunning() const;
    qint64 viewerProcessId() const;

    // The help file that the program shows: readme.mht beside its executable.
    static QString programHelpFilePath();

private:
    void endViewer(bool keepResponsive);
    QString resolve(const ViewerCommand& command) const;

    QList<ViewerCommand> candidates_;
    int gracePeriodMs_ = 2000;
    std::unique_ptr<QProcess> viewer_;
    std::unique_ptr<QTemporaryDir> profiles_;
    QString viewerProfile_;
    int profileCount_ = 0;
};

} // namespace launching
