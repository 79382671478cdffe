#pragma once

#include "app/frm_main.h"

#include <QLineEdit>
#include <QPushButton>

// The tests' way to the main window's private procedures and controls.
class frmMainProbe {
public:
    explicit frmMainProbe(frmMain& window) : w(window) {}

    void setIdleButtons() { w.setIdleButtons(); }
    void setRunningButtons() { w.setRunningButtons(); }
    void waitSeconds(double seconds) { w.waitSeconds(seconds); }
    void addProgressDot() { w.addProgressDot(); }
    void sendCommand(const QString& command) { w.sendCommand(command); }
    QString queryInstrument(const QString& query) { return w.queryInstrument(query); }

    QPushButton* button(const char* name) const {
        return w.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    QLineEdit* text1() const { return w.findChild<QLineEdit*>(QStringLiteral("Text1")); }
    // The status line's text as the program keeps it; shownStatus() is what Text1 displays,
    // a progress dot at most one frame later.
    QString status() const { return w.statusText(); }
    QString shownStatus() const { return text1()->text(); }
    void setStatus(const QString& text) { w.setStatusText(text); }
    void cbStart_Click() { w.cbStart_Click(); }
    void cbStop_Click() { w.cbStop_Click(); }
    void cbClose_Click() { w.cbClose_Click(); }
    bool savePrefs() { return w.savePrefs(); }
    QString nextFileStamp() { return w.nextFileStamp(); }

    // Stop without the stop procedure: only the run flag goes back to idle. For tests of how
    // the retry loops and yields let a Stop through, whatever the stop then does.
    void makeStopOnlyEndTheRun() {
        QObject::disconnect(button("cbStop"), nullptr, &w, nullptr);
        QObject::connect(button("cbStop"), &QPushButton::clicked, &w,
                         [this] { w.setIdleButtons(); });
    }

private:
    frmMain& w;
};
