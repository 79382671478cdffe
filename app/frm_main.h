#pragma once

#include "acquisition/monotonic_clock.h"
#include "instrument/command_procedures.h"
#include "platform/quorix/quorix_control.h"
#include "platform/windowing/message_boxes.h"

#include <QElapsedTimer>
#include <QPointer>
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
}

// The main window: four buttons, the status line Text1 and the instrument I/O control Quorix1.
// Construction does no I/O; Form_Load runs the start-up before the window is first shown.
class frmMain : public QWidget {
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

    // Seams. The lock file that keeps a second instance out (default:
    // app::SingleInstanceLock::defaultPath()); set before Form_Load.
    void setInstanceLockPath(const QString& path);
    // The time source of waitSeconds (default: the steady clock).
    void setClock(std::shared_ptr<const acquisition::MonotonicClock> clock);
    // The window that Prefs hands over to; none: Prefs does nothing.
    void setPrefsWindow(QWidget* window);
    void setProgramIcon(const QIcon& icon);

public slots:
    // Reads the preference set into the option windows; reset: from the defaults.
    void loadPrefs(bool reset);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class frmMainProbe; // lets the tests reach the private procedures

    void setIdleButtons();
    void setRunningButtons();
    void waitSeconds(double seconds);
    void cbPrefs_Click();
    void sendCommand(const QString& command);
    QString queryInstrument(const QString& query);
    void cbStart_Click();
    void addProgressDot();
    void cbStop_Click();
    void cbClose_Click();

    // The status line's text; Text1 shows it, a dot at most one frame later.
    const QString& statusText() const { return statusText_; }
    void setStatusText(const QString& text);
    enum class StatusPaint { AtOnce, AtFrameRate };
    void showStatus(StatusPaint when);

    void startPreferenceSubsystem();
    void makeTopMost();
    bool isIdle() const;
    void endProgram();
    void showMessage(const QString& text);
    void keepAWindowShown();

    quorix::QuorixControl& Quorix1;
    windowing::MessageBoxes& messageBoxes_;
    instrument::CommandProcedures procedures_;
    std::shared_ptr<const acquisition::MonotonicClock> clock_;
    QString instanceLockPath_;
    std::unique_ptr<app::SingleInstanceLock> instanceLock_;
    QPointer<QWidget> prefsWindow_;
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
