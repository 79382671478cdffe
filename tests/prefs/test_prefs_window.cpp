#include "prefs/controls.h"
#include "prefs/input_rules.h"
#include "prefs_fixture.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>

using namespace prefs_testing;
using windowing::Answer;

namespace {

const char* const kPrefixFields[] = {"txtWFMprefix", "txtASCIIprefix", "txtScreenPrefix"};
const char* const kPathFields[] = {"txtWFMpath", "txtASCIIpath", "txtScreenPath"};

// Every save group checked, so that all fields take the focus.
void checkAllGroups(Windows& w) {
    w.p<QCheckBox>("chkASCII")->setCheckState(Qt::Checked);
    w.p<QCheckBox>("chkScreen")->setCheckState(Qt::Checked);
}

} // namespace

class TestPrefsWindow : public QObject {
    Q_OBJECT
private slots:
    void windowCaptionSizeAndKind();
    void controlsWithCaptionsAndTooltips_data();
    void controlsWithCaptionsAndTooltips();
    void geometryInPixels_data();
    void geometryInPixels();
    void framesAndLabels();
    void delayControls();
    void defaultAndCancelButtons();
    void focusOrder();

    void groupRuleDisablesAndKeepsTexts();
    void screenGroupRuleCoversOptionsButton();
    void disabledFieldsStillEnterThePublicStrings();
    void stopAfterRule();
    void greyedValues();
    void greyedBoxTurnsCheckedOnClick();
    void delayText();
    void changeRulesRunOnlyOnChange();

    void okHandsBackToMain();
    void cancelRestoresSnapshot();
    void escapeActsAsCancel();
    void frameCloseActsAsCancel();
    void cancelLeavesTimestampsAndRestoreRun();
    void comingBackIsNoShowing();
    void helpCallsTheViewerAndChangesNothing();
    void optionsAndBackKeepsEarlierChanges();
    void exactlyOneWindowVisible();

    void limitTyping_data();
    void limitTyping();
    void limitLeftAgainUnchanged();
    void limitDiscardsOtherCharacters();
    void limitEditingKeysWork();
    void clipboardShortcutsFollowTheRules_data();
    void clipboardShortcutsFollowTheRules();
    void inputMethodTextIsFiltered();
    void pathTyping_data();
    void pathTyping();
    void pathShowsBackslashAtOnce();
    void pathDiscardsQuoteAndControls();
    void prefixRefusesTwelveCharacters();
    void prefixTakesAllowedText();
    void focusLossOnlyWithinTheWindow();
    void enterInPathRunsOkWithoutFocusLoss();

    void defaultsAskedAndCancelled();
    void mouseReleaseOnBareWindow();
    void mouseReleaseOnControlsShowsNothing();
};

void TestPrefsWindow::windowCaptionSizeAndKind() {
    Windows w;
    QCOMPARE(w.prefsWindow.objectName(), QStringLiteral("frmPrefs"));
    QCOMPARE(w.prefsWindow.windowTitle(), QStringLiteral("Varnolt v1.1 - Prefs"));
    QCOMPARE(w.prefsWindow.size(), QSize(401, 471));
    QCOMPARE(w.prefsWindow.minimumSize(), QSize(401, 471));
    QCOMPARE(w.prefsWindow.maximumSize(), QSize(401, 471));
    QVERIFY(!w.prefsWindow.isModal());
    QVERIFY(!w.prefsWindow.isVisible());
    QVERIFY(!(w.prefsWindow.windowFlags() & Qt::WindowStaysOnTopHint));
}

void TestPrefsWindow::controlsWithCaptionsAndTooltips_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("chkUseTimestamps")
        << "chkUseTimestamps"
        << "frmPrefs"
        << "Prefix Filenames with Date and Time (versus simple counter)"
        << "";
    QTest::newRow("chkAsk") << "chkAsk"
                            << "Frame3"
                            << "Ask before saving"
                            << "Ask \"Yes, No, Cancel\" before saving";
    QTest::newRow("chkStopAfter") << "chkStopAfter"
                                  << "Frame3"
                                  << "Stop after saving"
                                  << "Automatically stop saving";
    QTest::newRow("chkWFM") << "chkWFM"
                            << "Frame1"
                            << "Save Waveforms (as ISF files)"
                            << "Save native binary WFM files";
    QTest::newRow("chkASCII") << "chkASCII"
                              << "Frame4"
                              << "Save Waveforms (as CSV  files)"
                              << "Export waveforms to ASCII data";
    QTest::newRow("chkScreen") << "chkScreen"
                               << "Frame2"
                               << "Save Screen Capture"
                               << "Save screen image to graphics file";
    QTest::newRow("chkRestoreRun") << "chkRestoreRun"
                                   << "frmPrefs"
                                   << "After Stopping, Run Continuous"
                                   << "";
    QTest::newRow("cbScreenOptions") << "cbScreenOptions"
                                     << "Frame2"
                                     << "Options..."
                                     << "more options for saving image files";
    QTest::newRow("cbOK") << "cbOK"
                          << "frmPrefs"
                          << "OK"
                          << "Save changes and return";
    QTest::newRow("cbCancel") << "cbCancel"
                              << "frmPrefs"
                              << "Cancel"
                              << "Undo changes and return";
    QTest::newRow("cbDefault") << "cbDefault"
                               << "frmPrefs"
                               << "Defaults"
                               << "Restore Default Prefs";
    QTest::newRow("cbHelp") << "cbHelp"
                            << "frmPrefs"
                            << "Help"
                            << "View readme.mht file";
    QTest::newRow("txtAcqLimit") << "txtAcqLimit"
                                 << "Frame3"
                                 << ""
                                 << "max number of triggers to save";
    QTest::newRow("txtWFMpath") << "txtWFMpath"
                                << "Frame1"
                                << ""
                                << "Scope's destination path";
    QTest::newRow("txtWFMprefix") << "txtWFMprefix"
                                  << "Frame1"
                                  << ""
                                  << "filename prefix";
    QTest::newRow("txtASCIIpath") << "txtASCIIpath"
                                  << "Frame4"
                                  << ""
                                  << "Scope's destination path";
    QTest::newRow("txtASCIIprefix") << "txtASCIIprefix"
                                    << "Frame4"
                                    << ""
                                    << "filename prefix";
    QTest::newRow("txtScreenPath") << "txtScreenPath"
                                   << "Frame2"
                                   << ""
                                   << "Scope's destination path";
    QTest::newRow("txtScreenPrefix") << "txtScreenPrefix"
                                     << "Frame2"
                                     << ""
                                     << "filename prefix";
    QTest::newRow("hsDelay") << "hsDelay"
                             << "Frame3"
                             << ""
                             << "";
    QTest::newRow("txtDelay") << "txtDelay"
                              << "Frame3"
                              << ""
                              << "After Trigger, before saving";
}

void TestPrefsWindow::controlsWithCaptionsAndTooltips() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QString, caption);
    QFETCH(QString, toolTip);
    Windows w;
    QWidget* widget = control<QWidget>(w.prefsWindow, qPrintable(name));
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->toolTip(), toolTip);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        QCOMPARE(button->text(), caption);
    }
}

void TestPrefsWindow::geometryInPixels_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::newRow("chkUseTimestamps") << "chkUseTimestamps" << QRect(24, 16, 361, 17);
    QTest::newRow("Frame3") << "Frame3" << QRect(16, 48, 369, 71);
    QTest::newRow("hsDelay") << "hsDelay" << QRect(56, 16, 233, 17);
    QTest::newRow("txtDelay") << "txtDelay" << QRect(296, 15, 56, 19);
    QTest::newRow("chkAsk") << "chkAsk" << QRect(24, 40, 117, 17);
    QTest::newRow("chkStopAfter") << "chkStopAfter" << QRect(160, 40, 101, 17);
    QTest::newRow("txtAcqLimit") << "txtAcqLimit" << QRect(264, 40, 49, 19);
    QTest::newRow("Frame1") << "Frame1" << QRect(16, 128, 369, 84);
    QTest::newRow("chkWFM") << "chkWFM" << QRect(8, 0, 177, 17);
    QTest::newRow("txtWFMpath") << "txtWFMpath" << QRect(64, 24, 289, 19);
    QTest::newRow("txtWFMprefix") << "txtWFMprefix" << QRect(64, 48, 289, 19);
    QTest::newRow("Frame4") << "Frame4" << QRect(16, 224, 369, 78);
    QTest::newRow("chkASCII") << "chkASCII" << QRect(8, 0, 183, 17);
    QTest::newRow("txtASCIIpath") << "txtASCIIpath" << QRect(64, 24, 217, 19);
    QTest::newRow("txtASCIIprefix") << "txtASCIIprefix" << QRect(64, 48, 217, 19);
    QTest::newRow("Frame2") << "Frame2" << QRect(16, 312, 369, 78);
    QTest::newRow("chkScreen") << "chkScreen" << QRect(8, -1, 130, 17);
    QTest::newRow("txtScreenPath") << "txtScreenPath" << QRect(64, 24, 217, 19);
    QTest::newRow("txtScreenPrefix") << "txtScreenPrefix" << QRect(64, 48, 217, 19);
    QTest::newRow("cbScreenOptions") << "cbScreenOptions" << QRect(296, 24, 57, 41);
    QTest::newRow("chkRestoreRun") << "chkRestoreRun" << QRect(24, 408, 233, 17);
    QTest::newRow("cbDefault") << "cbDefault" << QRect(16, 440, 73, 25);
    QTest::newRow("cbOK") << "cbOK" << QRect(115, 440, 73, 25);
    QTest::newRow("cbCancel") << "cbCancel" << QRect(213, 440, 73, 25);
    QTest::newRow("cbHelp") << "cbHelp" << QRect(312, 440, 73, 25);
}

void TestPrefsWindow::geometryInPixels() {
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    Windows w;
    QWidget* widget = control<QWidget>(w.prefsWindow, qPrintable(name));
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), rect);
}

void TestPrefsWindow::framesAndLabels() {
    Windows w;
    const struct {
        const char* name;
        const char* title;
        const char* toolTip;
    } frames[] = {
        {"Frame3", "After Trigger", "After Trigger, before saving"},
        {"Frame1", "", "Save native binary WFM files"},
        {"Frame4", "", "Export waveforms to ASCII data"},
        {"Frame2", "", "Save screen image to graphics file"},
    };
    for (const auto& frame : frames) {
        auto* box = w.p<QGroupBox>(frame.name);
        QVERIFY2(box, frame.name);
        QCOMPARE(box->title(), QLatin1String(frame.title));
        QCOMPARE(box->toolTip(), QLatin1String(frame.toolTip));
        QCOMPARE(box->focusPolicy(), Qt::NoFocus);
    }
    // The heading check boxes sit on the top edge of their captionless frames.
    for (const char* name : {"chkWFM", "chkASCII", "chkScreen"}) {
        auto* box = w.p<QCheckBox>(name);
        QVERIFY(box->y() <= 0);
        QVERIFY(box->autoFillBackground());
    }
    const struct {
        const char* frame;
        const char* text;
        QPoint pos;
        const char* toolTip;
    } labels[] = {
        {"Frame3", "Delay", {24, 16}, "After Trigger, before saving"},
        {"Frame3", "triggers", {320, 40}, ""},
        {"Frame1", "Path", {24, 24}, "Scope's destination path"},
        {"Frame1", "Prefix", {24, 48}, "WFM filename prefix"},
        {"Frame4", "Path", {24, 24}, "Scope's destination path"},
        {"Frame4", "Prefix", {24, 53}, "filename prefix"},
        {"Frame2", "Path", {24, 24}, "Scope's destination path"},
        {"Frame2", "Prefix", {24, 48}, "filename prefix"},
    };
    for (const auto& expected : labels) {
        const auto found = w.p<QGroupBox>(expected.frame)->findChildren<QLabel*>();
        const QLabel* label = nullptr;
        for (const QLabel* candidate : found) {
            if (candidate->text() == QLatin1String(expected.text)) {
                label = candidate;
            }
        }
        QVERIFY2(label, expected.text);
        QCOMPARE(label->pos(), expected.pos);
        QCOMPARE(label->size(), label->sizeHint());
        QCOMPARE(label->toolTip(), QLatin1String(expected.toolTip));
        QVERIFY(label->objectName().startsWith("Label"));
    }
}

void TestPrefsWindow::delayControls() {
    Windows w;
    auto* delay = w.p<QScrollBar>("hsDelay");
    QVERIFY(delay);
    QCOMPARE(delay->orientation(), Qt::Horizontal);
    QCOMPARE(delay->minimum(), 0);
    QCOMPARE(delay->maximum(), 60);
    QCOMPARE(delay->singleStep(), 1);
    QCOMPARE(delay->pageStep(), 30);
    auto* display = w.p<QLineEdit>("txtDelay");
    QVERIFY(display->isReadOnly());
    QCOMPARE(display->alignment(), Qt::AlignCenter);
    QCOMPARE(display->focusPolicy(), Qt::NoFocus);
    // A fresh window shows its design text before any refresh.
    prefs::frmPrefs fresh(w.boxes);
    QCOMPARE(control<QLineEdit>(fresh, "txtDelay")->text(), QStringLiteral("0 Sec."));
}

void TestPrefsWindow::defaultAndCancelButtons() {
    Windows w;
    QVERIFY(w.p<QPushButton>("cbOK")->isDefault());
    for (const char* name : {"cbCancel", "cbDefault", "cbHelp", "cbScreenOptions"}) {
        QVERIFY2(!w.p<QPushButton>(name)->isDefault(), name);
    }
    // Escape is tested with the window shown (escapeActsAsCancel).
}

void TestPrefsWindow::focusOrder() {
    Windows w;
    checkAllGroups(w);
    const QStringList expected = {
        "hsDelay",         "chkAsk",        "chkStopAfter",     "chkWFM",
        "txtWFMpath",      "txtWFMprefix",  "chkASCII",         "txtASCIIpath",
        "txtASCIIprefix",  "chkScreen",     "txtScreenPath",    "txtScreenPrefix",
        "cbScreenOptions", "cbOK",          "cbHelp",           "txtAcqLimit",
        "cbCancel",        "chkRestoreRun", "chkUseTimestamps", "cbDefault"};
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    QVERIFY(focus(*w.p<QWidget>("hsDelay")));
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size() + 1; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited.mid(0, expected.size()), expected);
    QCOMPARE(visited.last(), QStringLiteral("hsDelay"));
}

void TestPrefsWindow::groupRuleDisablesAndKeepsTexts() {
    Windows w;
    w.openPrefs();
    auto* box = w.p<QCheckBox>("chkWFM");
    QVERIFY(w.p<QLineEdit>("txtWFMpath")->isEnabled());
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(box->checkState(), Qt::Unchecked);
    QVERIFY(!w.p<QLineEdit>("txtWFMpath")->isEnabled());
    QVERIFY(!w.p<QLineEdit>("txtWFMprefix")->isEnabled());
    QCOMPARE(w.p<QLineEdit>("txtWFMpath")->text(), QStringLiteral("D:\\"));
    QCOMPARE(w.p<QLineEdit>("txtWFMprefix")->text(), QStringLiteral("my_ISFs_"));
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(w.p<QLineEdit>("txtWFMpath")->isEnabled());
    QVERIFY(w.p<QLineEdit>("txtWFMprefix")->isEnabled());

    auto* ascii = w.p<QCheckBox>("chkASCII");
    QVERIFY(!w.p<QLineEdit>("txtASCIIpath")->isEnabled());
    QTest::mouseClick(ascii, Qt::LeftButton);
    QVERIFY(w.p<QLineEdit>("txtASCIIpath")->isEnabled());
    QVERIFY(w.p<QLineEdit>("txtASCIIprefix")->isEnabled());
}

void TestPrefsWindow::screenGroupRuleCoversOptionsButton() {
    Windows w;
    w.openPrefs();
    QVERIFY(!w.p<QPushButton>("cbScreenOptions")->isEnabled());
    QVERIFY(!w.p<QLineEdit>("txtScreenPath")->isEnabled());
    QVERIFY(!w.p<QLineEdit>("txtScreenPrefix")->isEnabled());
    QTest::mouseClick(w.p<QCheckBox>("chkScreen"), Qt::LeftButton);
    QVERIFY(w.p<QPushButton>("cbScreenOptions")->isEnabled());
    QVERIFY(w.p<QLineEdit>("txtScreenPath")->isEnabled());
    QVERIFY(w.p<QLineEdit>("txtScreenPrefix")->isEnabled());
}

void TestPrefsWindow::disabledFieldsStillEnterThePublicStrings() {
    Windows w;
    w.openPrefs();
    w.p<QCheckBox>("chkWFM")->setCheckState(Qt::Unchecked);
    w.p<QLineEdit>("txtWFMpath")->setText("E:\\w\\");
    w.p<QLineEdit>("txtASCIIpath")->setText("");
    w.p<QLineEdit>("txtScreenPrefix")->setText("");
    QTest::mouseClick(w.p<QPushButton>("cbOK"), Qt::LeftButton);
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("E:\\w\\my_ISFs_"));
    QCOMPARE(w.prefsWindow.ASCIIfspec(), QStringLiteral("my_CSVs_"));
    QCOMPARE(w.prefsWindow.ScreenFspec(), QStringLiteral("D:\\"));
}

void TestPrefsWindow::stopAfterRule() {
    Windows w;
    w.openPrefs();
    auto* limit = w.p<QLineEdit>("txtAcqLimit");
    limit->setText(" 25");
    QVERIFY(limit->isEnabled());
    QTest::mouseClick(w.p<QCheckBox>("chkStopAfter"), Qt::LeftButton);
    QVERIFY(!limit->isEnabled());
    QCOMPARE(limit->text(), QStringLiteral(" 25"));
    QTest::mouseClick(w.p<QCheckBox>("chkStopAfter"), Qt::LeftButton);
    QVERIFY(limit->isEnabled());
}

void TestPrefsWindow::greyedValues() {
    Windows w;
    prefs::setCheckValue(*w.p<QCheckBox>("chkStopAfter"), 0);
    QVERIFY(!w.p<QLineEdit>("txtAcqLimit")->isEnabled());
    prefs::setCheckValue(*w.p<QCheckBox>("chkStopAfter"), 2);
    QCOMPARE(w.p<QCheckBox>("chkStopAfter")->checkState(), Qt::PartiallyChecked);
    QVERIFY(w.p<QLineEdit>("txtAcqLimit")->isEnabled());
    prefs::setCheckValue(*w.p<QCheckBox>("chkWFM"), 2);
    QVERIFY(!w.p<QLineEdit>("txtWFMpath")->isEnabled());
    QVERIFY(!w.p<QLineEdit>("txtWFMprefix")->isEnabled());
    // Activation applies the group rules again with the same outcome.
    w.openPrefs();
    QVERIFY(!w.p<QLineEdit>("txtWFMpath")->isEnabled());
    QVERIFY(w.p<QLineEdit>("txtAcqLimit")->isEnabled());
}

void TestPrefsWindow::greyedBoxTurnsCheckedOnClick() {
    Windows w;
    w.openPrefs();
    auto* box = w.p<QCheckBox>("chkAsk");
    prefs::setCheckValue(*box, 2);
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(prefs::checkValue(*box), 1);
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(prefs::checkValue(*box), 0);
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(prefs::checkValue(*box), 1);
}

void TestPrefsWindow::delayText() {
    Windows w;
    w.openPrefs();
    auto* delay = w.p<QScrollBar>("hsDelay");
    auto* display = w.p<QLineEdit>("txtDelay");
    QCOMPARE(display->text(), QStringLiteral("0 Sec."));
    delay->setValue(60);
    QCOMPARE(display->text(), QStringLiteral("60 Sec."));
    delay->setValue(15);
    QCOMPARE(display->text(), QStringLiteral("15 Sec."));
    QVERIFY(activate(w.prefsWindow));
    QVERIFY(focus(*delay));
    QTest::keyClick(delay, Qt::Key_Right);
    QCOMPARE(display->text(), QStringLiteral("16 Sec."));
    QTest::keyClick(delay, Qt::Key_Left);
    QTest::keyClick(delay, Qt::Key_Up);
    QCOMPARE(delay->value(), 14);
    QTest::keyClick(delay, Qt::Key_Down);
    QCOMPARE(delay->value(), 15);
    QTest::keyClick(delay, Qt::Key_PageDown);
    QCOMPARE(delay->value(), 45);
    QTest::keyClick(delay, Qt::Key_PageDown);
    QCOMPARE(display->text(), QStringLiteral("60 Sec."));
    QTest::keyClick(delay, Qt::Key_PageUp);
    QCOMPARE(delay->value(), 30);
    QTest::keyClick(delay, Qt::Key_Home);
    QCOMPARE(display->text(), QStringLiteral("0 Sec."));
    QTest::keyClick(delay, Qt::Key_End);
    QCOMPARE(delay->value(), 60);
}

void TestPrefsWindow::changeRulesRunOnlyOnChange() {
    Windows w;
    auto* display = w.p<QLineEdit>("txtDelay");
    display->setText("untouched");
    QSignalSpy boxChanges(w.p<QCheckBox>("chkWFM"), &QCheckBox::stateChanged);
    w.load();
    QCOMPARE(display->text(), QStringLiteral("untouched"));
    QCOMPARE(boxChanges.count(), 0);
    w.p<QScrollBar>("hsDelay")->setValue(15);
    QCOMPARE(display->text(), QStringLiteral("15 Sec."));
}

void TestPrefsWindow::okHandsBackToMain() {
    Windows w;
    w.openPrefs();
    QCOMPARE(w.visibleWindows(), 1);
    w.p<QLineEdit>("txtWFMprefix")->setText("new_");
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("D:\\my_ISFs_"));
    QTest::mouseClick(w.p<QPushButton>("cbOK"), Qt::LeftButton);
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("D:\\new_"));
    QVERIFY(!w.prefsWindow.isVisible());
    QVERIFY(w.main.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
    QVERIFY(!QFileInfo::exists(w.store.filePath()));
}

void TestPrefsWindow::cancelRestoresSnapshot() {
    Windows w;
    w.openPrefs();
    prefs::setCheckValue(*w.p<QCheckBox>("chkASCII"), 1);
    prefs::setCheckValue(*w.p<QCheckBox>("chkAsk"), 1);
    prefs::setCheckValue(*w.p<QCheckBox>("chkScreen"), 1);
    prefs::setCheckValue(*w.p<QCheckBox>("chkStopAfter"), 0);
    prefs::setCheckValue(*w.p<QCheckBox>("chkWFM"), 0);
    w.p<QScrollBar>("hsDelay")->setValue(42);
    const char* fields[] = {"txtAcqLimit",     "txtASCIIpath", "txtASCIIprefix", "txtScreenPath",
                            "txtScreenPrefix", "txtWFMpath",   "txtWFMprefix"};
    QStringList before;
    for (const char* name : fields) {
        before << w.p<QLineEdit>(name)->text();
        w.p<QLineEdit>(name)->setText(QStringLiteral("changed"));
    }
    QTest::mouseClick(w.p<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(prefs::checkValue(*w.p<QCheckBox>("chkASCII")), 0);
    QCOMPARE(prefs::checkValue(*w.p<QCheckBox>("chkAsk")), 0);
    QCOMPARE(prefs::checkValue(*w.p<QCheckBox>("chkScreen")), 0);
    QCOMPARE(prefs::checkValue(*w.p<QCheckBox>("chkStopAfter")), 1);
    QCOMPARE(prefs::checkValue(*w.p<QCheckBox>("chkWFM")), 1);
    QCOMPARE(w.p<QScrollBar>("hsDelay")->value(), 0);
    QCOMPARE(w.p<QLineEdit>("txtDelay")->text(), QStringLiteral("0 Sec."));
    QVERIFY(w.p<QLineEdit>("txtWFMpath")->isEnabled());
    QVERIFY(!w.p<QLineEdit>("txtASCIIpath")->isEnabled());
    QVERIFY(w.p<QLineEdit>("txtAcqLimit")->isEnabled());
    QStringList after;
    for (const char* name : fields) {
        after << w.p<QLineEdit>(name)->text();
    }
    QCOMPARE(after, before);
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("D:\\my_ISFs_"));
    QVERIFY(!w.prefsWindow.isVisible());
    QVERIFY(w.main.isVisible());
}

void TestPrefsWindow::escapeActsAsCancel() {
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* prefix = w.p<QLineEdit>("txtWFMprefix");
    QVERIFY(focus(*prefix));
    prefix->end(false);
    QTest::keyClicks(prefix, "xyz");
    QCOMPARE(prefix->text(), QStringLiteral("my_ISFs_xyz"));
    QTest::keyClick(prefix, Qt::Key_Escape);
    QCOMPARE(prefix->text(), QStringLiteral("my_ISFs_"));
    QVERIFY(!w.prefsWindow.isVisible());
    QVERIFY(w.main.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
}

void TestPrefsWindow::frameCloseActsAsCancel() {
    Windows w;
    QPointer<prefs::frmPrefs> guard(&w.prefsWindow);
    w.prefsWindow.setAttribute(Qt::WA_DeleteOnClose, false);
    w.openPrefs();
    w.p<QScrollBar>("hsDelay")->setValue(30);
    QVERIFY(!w.prefsWindow.close());
    QCoreApplication::processEvents();
    QVERIFY(guard);
    QCOMPARE(w.p<QScrollBar>("hsDelay")->value(), 0);
    QVERIFY(!w.prefsWindow.isVisible());
    QVERIFY(w.main.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
    // It can be shown and used again.
    w.openPrefs();
    QVERIFY(w.prefsWindow.isVisible());
}

void TestPrefsWindow::cancelLeavesTimestampsAndRestoreRun() {
    Windows w;
    w.openPrefs();
    QTest::mouseClick(w.p<QCheckBox>("chkUseTimestamps"), Qt::LeftButton);
    QTest::mouseClick(w.p<QCheckBox>("chkRestoreRun"), Qt::LeftButton);
    QTest::mouseClick(w.p<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(prefs::checkValue(*w.p<QCheckBox>("chkUseTimestamps")), 0);
    QCOMPARE(prefs::checkValue(*w.p<QCheckBox>("chkRestoreRun")), 0);
}

void TestPrefsWindow::comingBackIsNoShowing() {
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    w.p<QLineEdit>("txtASCIIprefix")->setText("edited_");
    // Another window becomes active and the preferences window comes back: no new snapshot.
    QWidget other;
    other.show();
    QVERIFY(activate(other));
    other.hide();
    QVERIFY(activate(w.prefsWindow));
    // A message box in between is no showing either.
    w.boxes.answer(Answer::Cancel);
    QTest::mouseClick(w.p<QPushButton>("cbDefault"), Qt::LeftButton);
    QTest::mouseClick(w.p<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(w.p<QLineEdit>("txtASCIIprefix")->text(), QStringLiteral("my_CSVs_"));
}

void TestPrefsWindow::helpCallsTheViewerAndChangesNothing() {
    Windows w;
    w.openPrefs();
    w.p<QLineEdit>("txtWFMprefix")->setText("before_help_");
    QTest::mouseClick(w.p<QPushButton>("cbHelp"), Qt::LeftButton);
    QCOMPARE(w.prefsHelpCalls, 1);
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
    QCOMPARE(w.p<QLineEdit>("txtWFMprefix")->text(), QStringLiteral("before_help_"));
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("D:\\my_ISFs_"));
    QTest::mouseClick(w.p<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(w.p<QLineEdit>("txtWFMprefix")->text(), QStringLiteral("my_ISFs_"));
    // Without a viewer the button does nothing.
    prefs::frmPrefs bare(w.boxes);
    bare.show();
    QTest::mouseClick(control<QPushButton>(bare, "cbHelp"), Qt::LeftButton);
    QVERIFY(bare.isVisible());
    QVERIFY(w.boxes.shown().isEmpty());
}

void TestPrefsWindow::optionsAndBackKeepsEarlierChanges() {
    Windows w;
    w.openPrefs();
    QTest::mouseClick(w.p<QCheckBox>("chkScreen"), Qt::LeftButton);
    w.p<QLineEdit>("txtScreenPrefix")->setText("shot_");
    w.p<QScrollBar>("hsDelay")->setValue(5);
    QTest::mouseClick(w.p<QPushButton>("cbScreenOptions"), Qt::LeftButton);
    QVERIFY(!w.prefsWindow.isVisible());
    QVERIFY(w.screenOptions.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
    QTest::mouseClick(w.s<QPushButton>("cbOK"), Qt::LeftButton);
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
    w.p<QLineEdit>("txtScreenPrefix")->setText("later_");
    QTest::mouseClick(w.p<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(prefs::checkValue(*w.p<QCheckBox>("chkScreen")), 1);
    QCOMPARE(w.p<QLineEdit>("txtScreenPrefix")->text(), QStringLiteral("shot_"));
    QCOMPARE(w.p<QScrollBar>("hsDelay")->value(), 5);
    QCOMPARE(w.prefsWindow.ScreenFspec(), QStringLiteral("D:\\shot_"));
}

void TestPrefsWindow::exactlyOneWindowVisible() {
    Windows w;
    w.main.show();
    QCOMPARE(w.visibleWindows(), 1);
    // Record every window that is visible while another one becomes visible.
    struct Watch : QObject {
        Windows* w;
        int most = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Show) {
                most = std::max(most, w->visibleWindows());
            }
            return false;
        }
    } watch;
    watch.w = &w;
    for (QWidget* window : {static_cast<QWidget*>(&w.main), static_cast<QWidget*>(&w.prefsWindow),
                            static_cast<QWidget*>(&w.screenOptions)}) {
        window->installEventFilter(&watch);
    }
    const auto step = [&w](QWidget& window, const char* button) {
        QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
        return w.visibleWindows();
    };
    w.openPrefs();
    QCOMPARE(w.visibleWindows(), 1);
    QCOMPARE(step(w.prefsWindow, "cbOK"), 1);
    QVERIFY(w.main.isVisible());
    w.openPrefs();
    QCOMPARE(step(w.prefsWindow, "cbCancel"), 1);
    QVERIFY(w.main.isVisible());
    w.openPrefs();
    w.p<QCheckBox>("chkScreen")->setCheckState(Qt::Checked);
    QCOMPARE(step(w.prefsWindow, "cbScreenOptions"), 1);
    QVERIFY(w.screenOptions.isVisible());
    QCOMPARE(step(w.screenOptions, "cbOK"), 1);
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(step(w.prefsWindow, "cbScreenOptions"), 1);
    QCOMPARE(step(w.screenOptions, "cbCancel"), 1);
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(step(w.prefsWindow, "cbHelp"), 1);
    QCOMPARE(step(w.prefsWindow, "cbOK"), 1);
    QVERIFY(w.main.isVisible());
    QCOMPARE(watch.most, 1);
}

void TestPrefsWindow::limitTyping_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("left");
    QTest::newRow("zero") << "0"
                          << "1";
    QTest::newRow("cleared") << ""
                             << "1";
    QTest::newRow("leading zeros") << "007"
                                   << " 7";
    QTest::newRow("twenty-five") << "25"
                                 << " 25";
    QTest::newRow("zeros") << "000"
                           << "1";
}

void TestPrefsWindow::limitTyping() {
    QFETCH(QString, typed);
    QFETCH(QString, left);
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* limit = w.p<QLineEdit>("txtAcqLimit");
    QVERIFY(focus(*limit));
    limit->selectAll();
    QTest::keyClick(limit, Qt::Key_Delete);
    QCOMPARE(limit->text(), QString());
    QTest::keyClicks(limit, typed);
    QCOMPARE(limit->text(), typed);
    QVERIFY(focus(*w.p<QWidget>("cbCancel")));
    QCOMPARE(limit->text(), left);
}

void TestPrefsWindow::limitLeftAgainUnchanged() {
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* limit = w.p<QLineEdit>("txtAcqLimit");
    QVERIFY(focus(*limit));
    QCOMPARE(limit->text(), QStringLiteral("10"));
    QTest::keyClick(limit, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("cbCancel"));
    QCOMPARE(limit->text(), QStringLiteral(" 10"));
    QVERIFY(focus(*limit));
    QVERIFY(focus(*w.p<QWidget>("cbHelp")));
    QCOMPARE(limit->text(), QStringLiteral(" 10"));
    // A field that never had the focus is never normalised.
    QCOMPARE(w.p<QLineEdit>("txtWFMpath")->text(), QStringLiteral("D:\\"));
    w.p<QLineEdit>("txtWFMpath")->setText("D:");
    QVERIFY(focus(*w.p<QWidget>("chkAsk")));
    QCOMPARE(w.p<QLineEdit>("txtWFMpath")->text(), QStringLiteral("D:"));
}

void TestPrefsWindow::limitDiscardsOtherCharacters() {
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* limit = w.p<QLineEdit>("txtAcqLimit");
    QVERIFY(focus(*limit));
    limit->setText("");
    QTest::keyClicks(limit, "1a B-2.x3 /,+e");
    QCOMPARE(limit->text(), QStringLiteral("123"));
}

void TestPrefsWindow::limitEditingKeysWork() {
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* limit = w.p<QLineEdit>("txtAcqLimit");
    QVERIFY(focus(*limit));
    limit->setText("1234");
    limit->setCursorPosition(4);
    QTest::keyClick(limit, Qt::Key_Backspace);
    QCOMPARE(limit->text(), QStringLiteral("123"));
    QTest::keyClick(limit, Qt::Key_Home);
    QTest::keyClick(limit, Qt::Key_Delete);
    QCOMPARE(limit->text(), QStringLiteral("23"));
    QTest::keyClick(limit, Qt::Key_Right);
    QTest::keyClick(limit, Qt::Key_9);
    QCOMPARE(limit->text(), QStringLiteral("293"));
    QTest::keyClick(limit, Qt::Key_End);
    QTest::keyClick(limit, Qt::Key_Left);
    QTest::keyClick(limit, Qt::Key_Backspace);
    QCOMPARE(limit->text(), QStringLiteral("23"));
    auto* prefix = w.p<QLineEdit>("txtWFMprefix");
    QVERIFY(focus(*prefix));
    prefix->setCursorPosition(prefix->text().size());
    QTest::keyClick(prefix, Qt::Key_Backspace);
    QCOMPARE(prefix->text(), QStringLiteral("my_ISFs"));
}

// The editing shortcuts work in every field with rules, and pasted text meets the same rule
// as typed text: by shortcut and by the context menu alike.
void TestPrefsWindow::clipboardShortcutsFollowTheRules_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("after");
    QTest::newRow("limit") << "txtAcqLimit"
                           << "10"
                           << "2x-3.\n4"
                           << "10234";
    QTest::newRow("ISF path") << "txtWFMpath"
                              << "D:\\"
                              << "a/b\"c\u20ac\t"
                              << "D:\\a\\bc";
    QTest::newRow("CSV path, Latin-1 kept") << "txtASCIIpath"
                                            << "D:\\"
                                            << "\u00e9/\u00ff\u0100"
                                            << "D:\\\u00e9\\\u00ff";
    QTest::newRow("screen path") << "txtScreenPath"
                                 << "D:\\"
                                 << "\u6f22x"
                                 << "D:\\x";
    QTest::newRow("ISF prefix") << "txtWFMprefix"
                                << "my_"
                                << "a b*\u00e9:"
                                << "my_ab";
    QTest::newRow("CSV prefix") << "txtASCIIprefix"
                                << "my_"
                                << "run-1.(a)"
                                << "my_run-1.(a)";
    QTest::newRow("screen prefix") << "txtScreenPrefix"
                                   << "my_"
                                   << "\u20ac\u6f22_"
                                   << "my__";
}

void TestPrefsWindow::clipboardShortcutsFollowTheRules() {
    QFETCH(QString, name);
    QFETCH(QString, before);
    QFETCH(QString, pasted);
    QFETCH(QString, after);
    Windows w;
    checkAllGroups(w);
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* field = w.p<QLineEdit>(qPrintable(name));
    QVERIFY(focus(*field));
    QClipboard* clipboard = QApplication::clipboard();

    field->setText(before);
    clipboard->setText(pasted);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text(), after);

    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(field->selectedText(), after);
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), after);
    // Pasting only refused characters leaves the selection as it is.
    clipboard->setText(QStringLiteral("\u20ac"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text(), after);
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(field->text(), QString());
    QCOMPARE(clipboard->text(), after);
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(field->text(), after);

    // The context menu's Paste, on an emptied field.
    field->clear();
    clipboard->setText(pasted);
    QTimer::singleShot(0, field, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction* action : menu->actions()) {
            if (action->text().startsWith(QLineEdit::tr("&Paste"))) {
                action->trigger();
            }
        }
        menu->close();
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, QPoint(2, 2),
                                field->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(field, &menuEvent);
    QCOMPARE(field->text(), after.mid(before.size()));
    // Nothing can be dropped past the rule.
    QVERIFY(!field->acceptDrops());
}

void TestPrefsWindow::inputMethodTextIsFiltered() {
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* limit = w.p<QLineEdit>("txtAcqLimit");
    QVERIFY(focus(*limit));
    limit->setText("");
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("1\u00e92x3"));
    QCoreApplication::sendEvent(limit, &commit);
    QCOMPARE(limit->text(), QStringLiteral("123"));
    auto* path = w.p<QLineEdit>("txtWFMpath");
    QVERIFY(focus(*path));
    path->setText("");
    QInputMethodEvent pathCommit;
    pathCommit.setCommitString(QStringLiteral("\u00e9/\"x"));
    QCoreApplication::sendEvent(path, &pathCommit);
    QCOMPARE(path->text(), QStringLiteral("\u00e9\\x"));
}

void TestPrefsWindow::pathTyping_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("left");
    QTest::newRow("drive") << "D:"
                           << "D:\\";
    QTest::newRow("forward slashes") << "D:/data"
                                     << "D:\\data\\";
    QTest::newRow("already fixed") << "D:\\data\\"
                                   << "D:\\data\\";
    QTest::newRow("lone slash") << "/"
                                << "\\";
    QTest::newRow("relative") << "data"
                              << "data\\";
    QTest::newRow("empty") << ""
                           << "";
}

void TestPrefsWindow::pathTyping() {
    QFETCH(QString, typed);
    QFETCH(QString, left);
    Windows w;
    checkAllGroups(w);
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    for (const char* name : kPathFields) {
        auto* path = w.p<QLineEdit>(name);
        QVERIFY(focus(*path));
        path->clear();
        QTest::keyClicks(path, typed);
        QTest::keyClick(path, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != path);
        QCOMPARE(path->text(), left);
    }
    // Pasted or loaded text only meets the focus-loss rule.
    auto* path = w.p<QLineEdit>("txtWFMpath");
    path->setText("E:/x");
    QCOMPARE(path->text(), QStringLiteral("E:/x"));
    QVERIFY(focus(*path));
    QVERIFY(focus(*w.p<QWidget>("chkWFM")));
    QCOMPARE(path->text(), QStringLiteral("E:\\x\\"));
}

void TestPrefsWindow::pathShowsBackslashAtOnce() {
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* path = w.p<QLineEdit>("txtWFMpath");
    QVERIFY(focus(*path));
    path->clear();
    QTest::keyClicks(path, "D:/x");
    QCOMPARE(path->text(), QStringLiteral("D:\\x"));
    path->setCursorPosition(2);
    QTest::keyClick(path, Qt::Key_Slash);
    QCOMPARE(path->text(), QStringLiteral("D:\\\\x"));
}

void TestPrefsWindow::pathDiscardsQuoteAndControls() {
    Windows w;
    checkAllGroups(w);
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    for (const char* name : kPathFields) {
        auto* path = w.p<QLineEdit>(name);
        QVERIFY(focus(*path));
        path->clear();
        QTest::keyClicks(path, "a\"b");
        QCOMPARE(path->text(), QStringLiteral("ab"));
        QTest::keyClick(path, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(path, Qt::Key_Backspace, Qt::ControlModifier);
        QTest::keyClick(path, Qt::Key_K, Qt::ControlModifier);
        QTest::keyClick(path, Qt::Key_Home);
        QTest::keyClick(path, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(path->text(), QStringLiteral("ab"));
        // Keys that carry a control character as their text are discarded too.
        QKeyEvent bell(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\a"));
        QCoreApplication::sendEvent(path, &bell);
        QCOMPARE(path->text(), QStringLiteral("ab"));
        QTest::keyClicks(path, "x y");
        QCOMPARE(path->text(), QStringLiteral("x yab"));
    }
    // Stored text holding such characters is shown as stored.
    w.p<QLineEdit>("txtWFMpath")->setText("D:\\\"q\"\\");
    QCOMPARE(w.p<QLineEdit>("txtWFMpath")->text(), QStringLiteral("D:\\\"q\"\\"));
}

void TestPrefsWindow::prefixRefusesTwelveCharacters() {
    Windows w;
    checkAllGroups(w);
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    const QString refused = QStringLiteral(" \\/:*?\"<>|[]");
    QCOMPARE(refused.size(), 12);
    for (const char* name : kPrefixFields) {
        auto* prefix = w.p<QLineEdit>(name);
        QVERIFY(focus(*prefix));
        prefix->clear();
        for (const QChar c : refused) {
            QTest::keyClicks(prefix, QString(c));
            QVERIFY2(prefix->text().isEmpty(),
                     qPrintable(QStringLiteral("%1 took '%2'").arg(QLatin1String(name), c)));
        }
        for (const auto& [key, text] :
             {std::pair{int(Qt::Key_Eacute), QStringLiteral("\u00e9")},
              std::pair{int(Qt::Key_unknown), QStringLiteral("\u20ac")}}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
            QCoreApplication::sendEvent(prefix, &press);
        }
        QCOMPARE(prefix->text(), QString());
    }
}

void TestPrefsWindow::prefixTakesAllowedText() {
    Windows w;
    checkAllGroups(w);
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    const QString allowed = QString::fromUtf16(prefs::kPrefixSet);
    for (const char* name : kPrefixFields) {
        auto* prefix = w.p<QLineEdit>(name);
        QVERIFY(focus(*prefix));
        for (const QString& text :
             {QStringLiteral("my_ISFs_"), QStringLiteral("run-1.(a)"), allowed}) {
            prefix->clear();
            QTest::keyClicks(prefix, text);
            QCOMPARE(prefix->text(), text);
        }
        // The prefix fields have no focus-loss rule.
        prefix->setText(" odd/");
        QVERIFY(focus(*w.p<QWidget>("cbOK")));
        QCOMPARE(prefix->text(), QStringLiteral(" odd/"));
    }
}

void TestPrefsWindow::focusLossOnlyWithinTheWindow() {
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* path = w.p<QLineEdit>("txtWFMpath");
    QVERIFY(focus(*path));
    path->setText("D:");
    // The focus goes to a field of another window: no focus loss within this one.
    QWidget other;
    auto* otherField = new QLineEdit(&other);
    other.show();
    QVERIFY(activate(other));
    QVERIFY(focus(*otherField));
    QCOMPARE(path->text(), QStringLiteral("D:"));
    other.hide();
    QVERIFY(activate(w.prefsWindow));
    QCOMPARE(QApplication::focusWidget(), path);
    QVERIFY(focus(*w.p<QWidget>("txtWFMprefix")));
    QCOMPARE(path->text(), QStringLiteral("D:\\"));
}

void TestPrefsWindow::enterInPathRunsOkWithoutFocusLoss() {
    Windows w;
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    auto* path = w.p<QLineEdit>("txtWFMpath");
    QVERIFY(focus(*path));
    path->clear();
    QTest::keyClicks(path, "D:/x");
    QTest::keyClick(path, Qt::Key_Return);
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("D:\\xmy_ISFs_"));
    QCOMPARE(path->text(), QStringLiteral("D:\\x"));
    QVERIFY(!w.prefsWindow.isVisible());
    QVERIFY(w.main.isVisible());
    // Enter on a check box runs OK as well; on another button it presses that button.
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    QVERIFY(focus(*w.p<QWidget>("chkAsk")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    QVERIFY(w.main.isVisible());
    w.openPrefs();
    QVERIFY(activate(w.prefsWindow));
    QVERIFY(focus(*w.p<QWidget>("cbHelp")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(w.prefsHelpCalls, 1);
}

void TestPrefsWindow::defaultsAskedAndCancelled() {
    Windows w;
    w.openPrefs();
    w.p<QLineEdit>("txtWFMprefix")->setText("mine_");
    w.screenOptions.optPortrait()->setChecked(true);
    w.boxes.answer(Answer::Cancel);
    QTest::mouseClick(w.p<QPushButton>("cbDefault"), Qt::LeftButton);
    QCOMPARE(w.boxes.shown().size(), 1);
    const auto& box = w.boxes.shown().front();
    QCOMPARE(box.title, QStringLiteral("Varnolt"));
    QCOMPARE(box.text, QStringLiteral("Default all prefs?"));
    QCOMPARE(box.icon, windowing::Icon::None);
    QCOMPARE(box.buttons, windowing::Buttons::OkCancel);
    QCOMPARE(w.p<QLineEdit>("txtWFMprefix")->text(), QStringLiteral("mine_"));
    QVERIFY(w.screenOptions.optPortrait()->isChecked());
    QVERIFY(w.prefsWindow.isVisible());
}

void TestPrefsWindow::mouseReleaseOnBareWindow() {
    Windows w;
    w.openPrefs();
    const QPoint bare(5, 5);
    QVERIFY(!w.prefsWindow.childAt(bare));
    QTest::mouseClick(&w.prefsWindow, Qt::LeftButton, {}, bare);
    QTest::mouseClick(&w.prefsWindow, Qt::RightButton, {}, QPoint(395, 300));
    QTest::mouseClick(&w.prefsWindow, Qt::MiddleButton, {}, QPoint(200, 434));
    QCOMPARE(w.boxes.texts(), (QStringList{"1", "2", "4"}));
    for (const auto& box : w.boxes.shown()) {
        QCOMPARE(box.title, QStringLiteral("Varnolt"));
        QCOMPARE(box.icon, windowing::Icon::None);
        QCOMPARE(box.buttons, windowing::Buttons::Ok);
    }
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
}

void TestPrefsWindow::mouseReleaseOnControlsShowsNothing() {
    Windows w;
    w.openPrefs();
    const char* names[] = {"Frame1",        "Frame3",   "LabelDelay",
                           "LabelTriggers", "txtDelay", "chkUseTimestamps"};
    for (const char* name : names) {
        QWidget* widget = w.p<QWidget>(name);
        QVERIFY2(widget, name);
        for (const auto button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
            QTest::mouseClick(widget, button, {}, QPoint(2, 2));
        }
    }
    // A disabled field passes its clicks on to its frame, which is no bare window either.
    QVERIFY(!w.p<QWidget>("txtASCIIpath")->isEnabled());
    QTest::mouseClick(w.p<QWidget>("txtASCIIpath"), Qt::RightButton);
    // Delivered to the window itself, a click over a control is no click on the bare window.
    const QPoint overFrame = w.p<QWidget>("Frame1")->geometry().center();
    QTest::mouseClick(&w.prefsWindow, Qt::LeftButton, {}, overFrame);
    QCOMPARE(w.boxes.texts(), QStringList());
}

QTEST_MAIN(TestPrefsWindow)
#include "test_prefs_window.moc"
