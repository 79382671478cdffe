#pragma once

#include "platform/windowing/message_boxes.h"

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace prefs {

class CheckBox;
class RuleLineEdit;

// The preferences window. Its controls are the live preference set: the acquisition reads
// them directly, the store loads them at start-up and saves them at close. The window is
// created hidden, shown modeless in turn with the main window and the screen-capture options
// window, and never destroyed while the program runs.
class frmPrefs final : public QDialog {
    Q_OBJECT
public:
    explicit frmPrefs(windowing::MessageBoxes& messageBoxes, QWidget* parent = nullptr);

    // Set once by the main window after creating the windows.
    void setMainWindow(QWidget* mainWindow) { mainWindow_ = mainWindow; }
    void setScreenOptions(QWidget* screenOptions) { screenOptions_ = screenOptions; }
    void setShowHelp(std::function<void()> showHelp) { showHelp_ = std::move(showHelp); }
    // Called when Defaults is answered with OK: loads the preference set with the reset flag.
    void setResetToDefaults(std::function<void()> resetToDefaults) {
        resetToDefaults_ = std::move(resetToDefaults);
    }

    // Recomputes the three public path-and-prefix strings from the path and prefix fields.
    void update_publics();

    // Path followed directly by prefix, as of the last update_publics.
    const QString& WFMfspec() const { return WFMfspec_; }
    const QString& ASCIIfspec() const { return ASCIIfspec_; }
    const QString& ScreenFspec() const { return ScreenFspec_; }

    // The fifteen preference controls.
    QCheckBox* chkUseTimestamps() const;
    QScrollBar* hsDelay() const { return hsDelay_; }
    QCheckBox* chkAsk() const;
    QCheckBox* chkStopAfter() const;
    QLineEdit* txtAcqLimit() const;
    QCheckBox* chkWFM() const;
    QLineEdit* txtWFMpath() const;
    QLineEdit* txtWFMprefix() const;
    QCheckBox* chkASCII() const;
    QLineEdit* txtASCIIpath() const;
    QLineEdit* txtASCIIprefix() const;
    QCheckBox* chkScreen() const;
    QLineEdit* txtScreenPath() const;
    QLineEdit* txtScreenPrefix() const;
    QCheckBox* chkRestoreRun() const;

    // Escape and the window frame's close request both act as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void cbDefault_Click();
    void cbHelp_Click();
    void cbOK_Click();
    void cbScreenOptions_Click();
    void chkASCII_Click();
    void chkScreen_Click();
    void chkStopAfter_Click();
    void chkWFM_Click();
    void cbCancel_Click();
    void Form_Activate();
    QString fixPath(const QString& path) const;
    void hsDelay_Change();
    void txtAcqLimit_KeyPress(int& KeyAscii);
    void txtAcqLimit_LostFocus();
    void txtASCIIpath_KeyPress(int& KeyAscii);
    void txtASCIIpath_LostFocus();
    void txtASCIIprefix_KeyPress(int& KeyAscii);
    void txtScreenPath_KeyPress(int& KeyAscii);
    void txtScreenPath_LostFocus();
    void txtScreenPrefix_KeyPress(int& KeyAscii);
    void txtWFMpath_KeyPress(int& KeyAscii);
    void txtWFMpath_LostFocus();
    void txtWFMprefix_KeyPress(int& KeyAscii);
    void Form_MouseUp(int Button);

    void buildControls();
    void takeSnapshot();
    void restoreSnapshot();

    windowing::MessageBoxes& messageBoxes_;
    QWidget* mainWindow_ = nullptr;
    QWidget* screenOptions_ = nullptr;
    std::function<void()> showHelp_;
    std::function<void()> resetToDefaults_;

    QString WFMfspec_;
    QString ASCIIfspec_;
    QString ScreenFspec_;

    // Mouse buttons pressed over the bare window and not yet released.
    Qt::MouseButtons barePresses_;
    bool snapshotTaken_ = false;

    CheckBox* chkUseTimestamps_ = nullptr;
    QGroupBox* Frame3_ = nullptr;
    QScrollBar* hsDelay_ = nullptr;
    QLineEdit* txtDelay_ = nullptr;
    CheckBox* chkAsk_ = nullptr;
    CheckBox* chkStopAfter_ = nullptr;
    RuleLineEdit* txtAcqLimit_ = nullptr;
    QGroupBox* Frame1_ = nullptr;
    CheckBox* chkWFM_ = nullptr;
    RuleLineEdit* txtWFMpath_ = nullptr;
    RuleLineEdit* txtWFMprefix_ = nullptr;
    QGroupBox* Frame4_ = nullptr;
    CheckBox* chkASCII_ = nullptr;
    RuleLineEdit* txtASCIIpath_ = nullptr;
    RuleLineEdit* txtASCIIprefix_ = nullptr;
    QGroupBox* Frame2_ = nullptr;
    CheckBox* chkScreen_ = nullptr;
    RuleLineEdit* txtScreenPath_ = nullptr;
    RuleLineEdit* txtScreenPrefix_ = nullptr;
    QPushButton* cbScreenOptions_ = nullptr;
    CheckBox* chkRestoreRun_ = nullptr;
    QPushButton* cbDefault_ = nullptr;
    QPushButton* cbOK_ = nullptr;
    QPushButton* cbCancel_ = nullptr;
    QPushButton* cbHelp_ = nullptr;
};

} // namespace prefs
