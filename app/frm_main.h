#pragma once

#include "acquisition/acquisition_cycle.h"
#include "acquisition/file_stamps.h"
#include "acquisition/monotonic_clock.h"
#include "instrument/command_procedures.h"
#include "platform/launching/help_viewer.h"
#include "platform/quorix/quorix_control.h"
#include "platform/windowing/message_boxes.h"
#include "prefs/preference_store.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>

class QCloseEvent;
class QIcon;
class QLineEdit;
class QPushButton;

namespace app {
class SingleInstanceLock;
class WindowPreferences;
} // namespace app

namespace prefs {
class frmPrefs;
class frmScreenOptions;
} // namespace prefs

// The main window: four buttons, the status line Text1 and the instrument I/O control Quorix1.
// Construction does no I/O; Form_Load runs the start-up before the window is first shown.
class frmMain : public QWidget, private acquisition::RunHost {
    Q_OBJECT

public:
    enum class LoadResult {
        Ready,     // show the window and run the program
        EndProgram // a start-up message was shown; the program ends
    };

    frmMain(quorix::QuorixControl& quorix, windowing::MessageBoxes& messageBoxes,
            QWidget* parent = nullptr);
    ~frmMain() override;

    LoadResult Form_Load();

    // Seams, all set before Form_Load. The lock file that keeps a second instance out
    // (default: app::SingleInstanceLock::defaultPath()).
    void setInstanceLockPath(const QString& path);
    // The settings file (default: prefs::PreferenceStore::defaultFilePath()).
    void setSettingsFilePath(const QString& path);
    // The time source of waitSeconds (default: the steady clock).
    void setClock(std::shared_ptr<const acquisition::MonotonicClock> clock);
    // The local date and time of the file stamps (default: the system clock).
    void setLocalClock(acquisition::FileStamps::LocalClock clock);
    void setProgramIcon(const QIcon& icon);
    // The programs that may show the help file, in order of preference (default:
    // launching::HelpViewer::defaultCandidates()), and the help file (default: readme.mht
    // beside the program).
    void setHelpViewerCommands(QList<launching::ViewerCommand> commands);
    void setHelpFilePath(const QString& path);

    // Opens the help file in a viewer, closing the viewer of the previous call first.
    void show_help();

    // The two option windows; they exist from start-up step 3 on.
    prefs::frmPrefs* prefsWindow() const { return frmPrefs_.get(); }
    prefs::frmScreenOptions* screenOptionsWindow() const { return frmScreenOptions_.get(); }

public slots:
    // Reads the preference set into the option windows; reset: from the defaults.
    void loadPrefs(bool reset);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class frmMainProbe; // lets the tests reach the private procedures

    void cbStart_Click();
    void addProgressDot() override;
    void cbStop_Click();
    void cbClose_Click();
    QString nextFileStamp();
    bool savePrefs();

    // What the acquisition run needs of the window.
    bool isIdle() const override;
    void setRunningButtons() override;
    void setIdleButtons() override;
    QString statusText() const override { return statusText_; }
    void setStatusText(const QString& text) override;
    void yield() override;
    void waitSeconds(double seconds) override;
    void clearLink() override;
    void sendCommand(const QString& command) override;
    bool sendCommandBounded(const QString& command, int attempts) override;
    QString queryInstrument(const QString& query) override;
    Answer askSaveAcquisition() override;
    void warnNothingSelected() override;
    void cbPrefs_Click() override;
    void reportSaveFailure(const QString& fileName, const QString& instrumentMessage) override;

    enum class StatusPaint { AtOnce, AtFrameRate };
    void showStatus(StatusPaint when);

    void startPreferenceSubsystem();
    void makeTopMost();
    void endProgram();
    void showMessage(const QString& text);
    void keepAWindowShown();

    quorix::QuorixControl& Quorix1;
    windowing::MessageBoxes& messageBoxes_;
    instrument::CommandProcedures procedures_;
    std::shared_ptr<const acquisition::MonotonicClock> clock_;
    QString instanceLockPath_;
    std::unique_ptr<app::SingleInstanceLock> instanceLock_;
    QString settingsFilePath_;
    std::unique_ptr<prefs::PreferenceStore> store_;
    std::unique_ptr<prefs::frmPrefs> frmPrefs_;
    std::unique_ptr<prefs::frmScreenOptions> frmScreenOptions_;
    std::unique_ptr<app::WindowPreferences> preferences_;
    acquisition::FileStamps fileStamps_;
    QList<launching::ViewerCommand> helpViewerCommands_ =
        launching::HelpViewer::defaultCandidates();
    QString helpFilePath_;
    std::unique_ptr<launching::HelpViewer> helpViewer_;
    std::unique_ptr<acquisition::AcquisitionCycle> cycle_;
    // The status line's text; Text1 shows it, a progress dot at most one frame later.
    QString statusText_ = QStringLiteral("Text1");
    QElapsedTimer statusPaintClock_;
    QTimer statusPaintTimer_;
    bool everShown_ = false;
    bool ending_ = false;

    QPushButton* cbPrefs;
    QPushButton* cbStart;
    QPushButton* cbStop;
    QPushButton* cbClose;
    QLineEdit* Text1;
};
