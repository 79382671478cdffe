#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QComboBox;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace prefs {

class OptionButton;

// The screen-capture options window: image file type, ink saver and layout, and the three
// instrument commands derived from them. Reached only through Options... of the preferences
// window, to which both OK and Cancel return. Created hidden and never destroyed while the
// program runs.
class frmScreenOptions final : public QDialog {
    Q_OBJECT
public:
    explicit frmScreenOptions(QWidget* parent = nullptr);

    // Set once by the main window after creating the windows.
    void setPrefsWindow(QWidget* prefsWindow) { prefsWindow_ = prefsWindow; }
    void setShowHelp(std::function<void()> showHelp) { showHelp_ = std::move(showHelp); }

    // Recomputes FileType, Layout and InkSaver from the controls.
    void update_publics();

    // Complete instrument commands, as of the last update_publics.
    const QString& FileType() const { return FileType_; }
    const QString& Layout() const { return Layout_; }
    const QString& InkSaver() const { return InkSaver_; }

    // The five preference controls.
    QComboBox* cboFileType() const { return cboFileType_; }
    QRadioButton* optInksaverOn() const;
    QRadioButton* optInksaverOff() const;
    QRadioButton* optLandscape() const;
    QRadioButton* optPortrait() const;

    // Escape and the window frame's close request both act as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void cbCancel_Click();
    void cbHelp_Click();
    void cbOK_Click();
    void Form_Activate();
    void Form_Load();

    void buildControls();

    QWidget* prefsWindow_ = nullptr;
    std::function<void()> showHelp_;
    bool snapshotTaken_ = false;

    QString FileType_;
    QString Layout_;
    QString InkSaver_;

    QGroupBox* Frame1_ = nullptr;
    QComboBox* cboFileType_ = nullptr;
    QGroupBox* Frame2_ = nullptr;
    OptionButton* optInksaverOn_ = nullptr;
    OptionButton* optInksaverOff_ = nullptr;
    QGroupBox* Frame3_ = nullptr;
    OptionButton* optLandscape_ = nullptr;
    OptionButton* optPortrait_ = nullptr;
    QPushButton* cbOK_ = nullptr;
    QPushButton* cbHelp_ = nullptr;
    QPushButton* cbCancel_ = nullptr;
};

} // namespace prefs
