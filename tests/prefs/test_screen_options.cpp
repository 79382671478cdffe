#include "prefs_fixture.h"

#include <QGroupBox>
#include <QKeySequence>
#include <QPointer>

using namespace prefs_testing;

namespace {

struct Choices {
    int index;
    bool inksaverOn;
    bool inksaverOff;
    bool landscape;
    bool portrait;
    bool operator==(const Choices&) const = default;
};

Choices choicesOf(prefs::frmScreenOptions& window) {
    return {window.cboFileType()->currentIndex(), window.optInksaverOn()->isChecked(),
            window.optInksaverOff()->isChecked(), window.optLandscape()->isChecked(),
            window.optPortrait()->isChecked()};
}

// Options... from a shown preferences window, with the screen group checked.
void openOptions(Windows& w) {
    w.openPrefs();
    w.p<QCheckBox>("chkScreen")->setCheckState(Qt::Checked);
    QTest::mouseClick(w.p<QPushButton>("cbScreenOptions"), Qt::LeftButton);
}

} // namespace

namespace QTest {
template <> char* toString(const Choices& c) {
    return qstrdup(QByteArray("index ") + QByteArray::number(c.index) + " on " +
                   QByteArray::number(c.inksaverOn) + " off " + QByteArray::number(c.inksaverOff) +
                   " landscape " + QByteArray::number(c.landscape) + " portrait " +
                   QByteArray::number(c.portrait));
}
} // namespace QTest

class TestScreenOptions : public QObject {
    Q_OBJECT
private slots:
    void windowCaptionSizeAndKind();
    void controls_data();
    void controls();
    void accessKeys();
    void fileTypeList();
    void stateAtCreation();
    void focusOrder();
    void defaultsAfterLoading();
    void chooseTiffOffPortraitThenOk();
    void changesThenCancelRestore();
    void escapeRestores();
    void frameCloseActsAsCancel();
    void helpThenCancelRestoresPreHelpState();
    void enterActsAsOkUnlessOnAnotherButton();
    void noEntrySelected();
    void neitherOptionSelected();
    void optionButtonsFormExclusivePairs();
    void clickingTheSelectedOptionKeepsIt();
    void keyboardSelectsOptions();
    void arrowKeysMoveTheSelectionWithinAPair_data();
    void arrowKeysMoveTheSelectionWithinAPair();
    void confirmedChoicesSurvivePrefsCancel();
    void stringsChangeOnlyThroughUpdatePublics();
};

void TestScreenOptions::windowCaptionSizeAndKind() {
    Windows w;
    QCOMPARE(w.screenOptions.objectName(), QStringLiteral("frmScreenOptions"));
    QCOMPARE(w.screenOptions.windowTitle(),
             QStringLiteral("Varnolt v1.1 - Screen Capture Options"));
    QCOMPARE(w.screenOptions.size(), QSize(335, 152));
    QCOMPARE(w.screenOptions.minimumSize(), w.screenOptions.maximumSize());
    QVERIFY(!(w.screenOptions.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(w.screenOptions.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!w.screenOptions.isModal());
    QVERIFY(!w.screenOptions.isVisible());
}

void TestScreenOptions::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QRect>("rect");
    QTest::newRow("Frame1") << "Frame1"
                            << "frmScreenOptions"
                            << "File Type"
                            << "Select file type" << QRect(16, 16, 113, 81);
    QTest::newRow("cboFileType") << "cboFileType"
                                 << "Frame1"
                                 << ""
                                 << "Select file type" << QRect(16, 32, 81, 21);
    QTest::newRow("Frame2") << "Frame2"
                            << "frmScreenOptions"
                            << "Inksaver"
                            << "Select color scheme" << QRect(240, 16, 65, 81);
    QTest::newRow("optInksaverOn") << "optInksaverOn"
                                   << "Frame2"
                                   << "&On"
                                   << "White background" << QRect(16, 24, 41, 17);
    QTest::newRow("optInksaverOff") << "optInksaverOff"
                                    << "Frame2"
                                    << "O&ff"
                                    << "Colors as shown on screen" << QRect(16, 48, 41, 17);
    QTest::newRow("Frame3") << "Frame3"
                            << "frmScreenOptions"
                            << "Layout"
                            << "Select screen layout" << QRect(136, 16, 97, 81);
    QTest::newRow("optLandscape") << "optLandscape"
                                  << "Frame3"
                                  << "&Landscape"
                                  << "Print horizontally" << QRect(8, 24, 81, 17);
    QTest::newRow("optPortrait") << "optPortrait"
                                 << "Frame3"
                                 << "&Portrait"
                                 << "Print vertically" << QRect(8, 48, 57, 17);
    QTest::newRow("cbOK") << "cbOK"
                          << "frmScreenOptions"
                          << "OK"
                          << "Save changes and return" << QRect(16, 112, 81, 25);
    QTest::newRow("cbHelp") << "cbHelp"
                            << "frmScreenOptions"
                            << "Help"
                            << "View readme.mht file" << QRect(224, 112, 81, 25);
    QTest::newRow("cbCancel") << "cbCancel"
                              << "frmScreenOptions"
                              << "Cancel"
                              << "Undo changes and return" << QRect(120, 112, 81, 25);
}

void TestScreenOptions::controls() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QString, caption);
    QFETCH(QString, toolTip);
    QFETCH(QRect, rect);
    Windows w;
    QWidget* widget = control<QWidget>(w.screenOptions, qPrintable(name));
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->toolTip(), toolTip);
    QCOMPARE(widget->geometry(), rect);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        QCOMPARE(button->text(), caption);
    } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        QCOMPARE(frame->title(), caption);
        QCOMPARE(frame->focusPolicy(), Qt::NoFocus);
    }
}

void TestScreenOptions::accessKeys() {
    Windows w;
    QCOMPARE(QKeySequence::mnemonic(w.screenOptions.optInksaverOn()->text()),
             QKeySequence(Qt::ALT | Qt::Key_O));
    QCOMPARE(QKeySequence::mnemonic(w.screenOptions.optInksaverOff()->text()),
             QKeySequence(Qt::ALT | Qt::Key_F));
    QCOMPARE(QKeySequence::mnemonic(w.screenOptions.optLandscape()->text()),
             QKeySequence(Qt::ALT | Qt::Key_L));
    QCOMPARE(QKeySequence::mnemonic(w.screenOptions.optPortrait()->text()),
             QKeySequence(Qt::ALT | Qt::Key_P));
}

void TestScreenOptions::fileTypeList() {
    Windows w;
    auto* list = w.s<QComboBox>("cboFileType");
    QVERIFY(!list->isEditable());
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->itemText(0), QStringLiteral("BMP"));
    QCOMPARE(list->itemText(1), QStringLiteral("PNG"));
    QCOMPARE(list->itemText(2), QStringLiteral("TIFF"));
}

void TestScreenOptions::stateAtCreation() {
    prefs::frmScreenOptions fresh;
    QCOMPARE(choicesOf(fresh), (Choices{-1, true, false, true, false}));
    QCOMPARE(fresh.FileType(), QString());
    QCOMPARE(fresh.Layout(), QString());
    QCOMPARE(fresh.InkSaver(), QString());
    auto* radio = control<QRadioButton>(fresh, "optInksaverOn");
    QVERIFY(!radio->autoExclusive());
}

void TestScreenOptions::focusOrder() {
    Windows w;
    openOptions(w);
    QVERIFY(activate(w.screenOptions));
    // Each pair of option buttons is one stop: its selected member.
    const QStringList expected = {"cbOK",          "cbHelp",       "cboFileType",
                                  "optInksaverOn", "optLandscape", "cbCancel"};
    QVERIFY(focus(*w.s<QWidget>("cbOK")));
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited.mid(0, expected.size()), expected);
    QCOMPARE(visited.last(), QStringLiteral("cbOK"));
}

void TestScreenOptions::defaultsAfterLoading() {
    Windows w;
    QCOMPARE(choicesOf(w.screenOptions), (Choices{1, true, false, true, false}));
    QCOMPARE(w.screenOptions.cboFileType()->currentText(), QStringLiteral("PNG"));
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF PNG"));
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY LAN"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS ON"));
}

void TestScreenOptions::chooseTiffOffPortraitThenOk() {
    Windows w;
    openOptions(w);
    QVERIFY(w.screenOptions.isVisible());
    w.screenOptions.cboFileType()->setCurrentIndex(2);
    QTest::mouseClick(w.screenOptions.optInksaverOff(), Qt::LeftButton);
    QTest::mouseClick(w.screenOptions.optPortrait(), Qt::LeftButton);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{2, false, true, false, true}));
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF PNG"));
    QTest::mouseClick(w.s<QPushButton>("cbOK"), Qt::LeftButton);
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF TIFF"));
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY PORTR"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS OFF"));
    QVERIFY(!w.screenOptions.isVisible());
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
    QVERIFY(!QFileInfo::exists(w.store.filePath()));
}

void TestScreenOptions::changesThenCancelRestore() {
    Windows w;
    openOptions(w);
    w.screenOptions.cboFileType()->setCurrentIndex(0);
    QTest::mouseClick(w.screenOptions.optInksaverOff(), Qt::LeftButton);
    QTest::mouseClick(w.screenOptions.optPortrait(), Qt::LeftButton);
    QTest::mouseClick(w.s<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{1, true, false, true, false}));
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF PNG"));
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY LAN"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS ON"));
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(w.visibleWindows(), 1);

    // The snapshot is that of the last showing: confirmed choices stay through a later Cancel.
    QTest::mouseClick(w.p<QPushButton>("cbScreenOptions"), Qt::LeftButton);
    w.screenOptions.cboFileType()->setCurrentIndex(2);
    QTest::mouseClick(w.screenOptions.optPortrait(), Qt::LeftButton);
    QTest::mouseClick(w.s<QPushButton>("cbOK"), Qt::LeftButton);
    QTest::mouseClick(w.p<QPushButton>("cbScreenOptions"), Qt::LeftButton);
    w.screenOptions.cboFileType()->setCurrentIndex(0);
    QTest::mouseClick(w.screenOptions.optLandscape(), Qt::LeftButton);
    QTest::mouseClick(w.screenOptions.optInksaverOff(), Qt::LeftButton);
    QTest::mouseClick(w.s<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{2, true, false, false, true}));
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF TIFF"));
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY PORTR"));
}

void TestScreenOptions::escapeRestores() {
    Windows w;
    openOptions(w);
    QVERIFY(activate(w.screenOptions));
    w.screenOptions.cboFileType()->setCurrentIndex(2);
    QTest::mouseClick(w.screenOptions.optInksaverOff(), Qt::LeftButton);
    QVERIFY(focus(*w.screenOptions.cboFileType()));
    QTest::keyClick(w.screenOptions.cboFileType(), Qt::Key_Escape);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{1, true, false, true, false}));
    QVERIFY(!w.screenOptions.isVisible());
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
}

void TestScreenOptions::frameCloseActsAsCancel() {
    Windows w;
    QPointer<prefs::frmScreenOptions> guard(&w.screenOptions);
    openOptions(w);
    QTest::mouseClick(w.screenOptions.optPortrait(), Qt::LeftButton);
    QVERIFY(!w.screenOptions.close());
    QCoreApplication::processEvents();
    QVERIFY(guard);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{1, true, false, true, false}));
    QVERIFY(!w.screenOptions.isVisible());
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
    QTest::mouseClick(w.p<QPushButton>("cbScreenOptions"), Qt::LeftButton);
    QVERIFY(w.screenOptions.isVisible());
}

void TestScreenOptions::helpThenCancelRestoresPreHelpState() {
    Windows w;
    // The viewer takes the activation away and gives it back: no new showing.
    QWidget viewer;
    w.screenOptions.setShowHelp([&] {
        ++w.screenHelpCalls;
        viewer.show();
        activate(viewer);
        viewer.hide();
        activate(w.screenOptions);
    });
    openOptions(w);
    QVERIFY(activate(w.screenOptions));
    w.screenOptions.cboFileType()->setCurrentIndex(0);
    QTest::mouseClick(w.screenOptions.optPortrait(), Qt::LeftButton);
    QTest::mouseClick(w.s<QPushButton>("cbHelp"), Qt::LeftButton);
    QCOMPARE(w.screenHelpCalls, 1);
    QVERIFY(w.screenOptions.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{0, true, false, false, true}));
    QTest::mouseClick(w.s<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{1, true, false, true, false}));
}

void TestScreenOptions::enterActsAsOkUnlessOnAnotherButton() {
    Windows w;
    openOptions(w);
    QVERIFY(activate(w.screenOptions));
    w.screenOptions.cboFileType()->setCurrentIndex(0);
    QVERIFY(focus(*w.screenOptions.cboFileType()));
    QTest::keyClick(w.screenOptions.cboFileType(), Qt::Key_Return);
    QVERIFY(!w.screenOptions.isVisible());
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF BMP"));

    QTest::mouseClick(w.p<QPushButton>("cbScreenOptions"), Qt::LeftButton);
    QVERIFY(activate(w.screenOptions));
    QVERIFY(focus(*w.screenOptions.optPortrait()));
    QTest::keyClick(w.screenOptions.optPortrait(), Qt::Key_Enter);
    QVERIFY(!w.screenOptions.isVisible());

    QTest::mouseClick(w.p<QPushButton>("cbScreenOptions"), Qt::LeftButton);
    QVERIFY(activate(w.screenOptions));
    w.screenOptions.cboFileType()->setCurrentIndex(2);
    QVERIFY(focus(*w.s<QWidget>("cbCancel")));
    QTest::keyClick(w.s<QWidget>("cbCancel"), Qt::Key_Return);
    QVERIFY(!w.screenOptions.isVisible());
    QCOMPARE(w.screenOptions.cboFileType()->currentIndex(), 0);

    QTest::mouseClick(w.p<QPushButton>("cbScreenOptions"), Qt::LeftButton);
    QVERIFY(activate(w.screenOptions));
    QVERIFY(focus(*w.s<QWidget>("cbHelp")));
    QTest::keyClick(w.s<QWidget>("cbHelp"), Qt::Key_Return);
    QVERIFY(w.screenOptions.isVisible());
    QCOMPARE(w.screenHelpCalls, 1);
}

void TestScreenOptions::noEntrySelected() {
    Windows w;
    w.screenOptions.cboFileType()->setCurrentIndex(-1);
    w.screenOptions.update_publics();
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF "));
    // Cancel brings back a showing's -1 as well.
    openOptions(w);
    w.screenOptions.cboFileType()->setCurrentIndex(1);
    QTest::mouseClick(w.s<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(w.screenOptions.cboFileType()->currentIndex(), -1);
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF "));
}

void TestScreenOptions::neitherOptionSelected() {
    Windows w;
    w.screenOptions.optInksaverOn()->setChecked(false);
    w.screenOptions.optLandscape()->setChecked(false);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{1, false, false, false, false}));
    w.screenOptions.update_publics();
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY PORTR"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS OFF"));
    // Cancel restores "neither" too.
    openOptions(w);
    QTest::mouseClick(w.screenOptions.optLandscape(), Qt::LeftButton);
    QTest::mouseClick(w.screenOptions.optInksaverOff(), Qt::LeftButton);
    QTest::mouseClick(w.s<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{1, false, false, false, false}));
}

void TestScreenOptions::optionButtonsFormExclusivePairs() {
    Windows w;
    auto* on = w.screenOptions.optInksaverOn();
    auto* off = w.screenOptions.optInksaverOff();
    auto* landscape = w.screenOptions.optLandscape();
    off->setChecked(true);
    QVERIFY(!on->isChecked());
    QVERIFY(landscape->isChecked());
    QVERIFY(off->isChecked());
    off->setChecked(false);
    QVERIFY(!on->isChecked());
    on->setChecked(true);
    QVERIFY(!off->isChecked());
    off->setChecked(true);
    QVERIFY(!on->isChecked());
    on->setChecked(true);
    QVERIFY(!off->isChecked());
    w.screenOptions.optPortrait()->setChecked(true);
    QVERIFY(!landscape->isChecked());
    QVERIFY(on->isChecked());
}

void TestScreenOptions::clickingTheSelectedOptionKeepsIt() {
    Windows w;
    openOptions(w);
    QTest::mouseClick(w.screenOptions.optInksaverOn(), Qt::LeftButton);
    QTest::mouseClick(w.screenOptions.optLandscape(), Qt::LeftButton);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{1, true, false, true, false}));
}

void TestScreenOptions::keyboardSelectsOptions() {
    Windows w;
    openOptions(w);
    QVERIFY(activate(w.screenOptions));
    auto* portrait = w.screenOptions.optPortrait();
    QVERIFY(focus(*portrait));
    QTest::keyClick(portrait, Qt::Key_Space);
    QVERIFY(portrait->isChecked());
    QVERIFY(!w.screenOptions.optLandscape()->isChecked());
    QTest::keyClick(portrait, Qt::Key_Space);
    QVERIFY(portrait->isChecked());
}

// Each pair is one group for the keyboard: an arrow selects the partner and moves the focus
// with it, and Tab then stops at the newly selected member only.
void TestScreenOptions::arrowKeysMoveTheSelectionWithinAPair_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("to");
    QTest::newRow("On, Down") << "optInksaverOn" << int(Qt::Key_Down) << "optInksaverOff";
    QTest::newRow("On, Right") << "optInksaverOn" << int(Qt::Key_Right) << "optInksaverOff";
    QTest::newRow("On, Up wraps") << "optInksaverOn" << int(Qt::Key_Up) << "optInksaverOff";
    QTest::newRow("Landscape, Left wraps") << "optLandscape" << int(Qt::Key_Left) << "optPortrait";
}

void TestScreenOptions::arrowKeysMoveTheSelectionWithinAPair() {
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(QString, to);
    Windows w;
    openOptions(w);
    QVERIFY(activate(w.screenOptions));
    auto* first = w.s<QRadioButton>(qPrintable(from));
    auto* second = w.s<QRadioButton>(qPrintable(to));
    QVERIFY(focus(*first));
    QTest::keyClick(first, Qt::Key(key));
    QVERIFY(second->isChecked());
    QVERIFY(!first->isChecked());
    QCOMPARE(QApplication::focusWidget(), second);
    QTest::keyClick(second, Qt::Key(key));
    QVERIFY(first->isChecked());
    QVERIFY(!second->isChecked());
    QTest::keyClick(first, Qt::Key(key));

    QVERIFY(focus(*w.s<QWidget>("cbOK")));
    QStringList visited;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QVERIFY2(visited.contains(to) && !visited.contains(from), qPrintable(visited.join(' ')));
}

void TestScreenOptions::confirmedChoicesSurvivePrefsCancel() {
    Windows w;
    openOptions(w);
    w.screenOptions.cboFileType()->setCurrentIndex(0);
    QTest::mouseClick(w.screenOptions.optInksaverOff(), Qt::LeftButton);
    QTest::mouseClick(w.s<QPushButton>("cbOK"), Qt::LeftButton);
    QTest::mouseClick(w.p<QPushButton>("cbCancel"), Qt::LeftButton);
    QVERIFY(w.main.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
    QCOMPARE(choicesOf(w.screenOptions), (Choices{0, false, true, true, false}));
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF BMP"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS OFF"));
}

void TestScreenOptions::stringsChangeOnlyThroughUpdatePublics() {
    Windows w;
    w.screenOptions.cboFileType()->setCurrentIndex(0);
    w.screenOptions.optPortrait()->setChecked(true);
    w.screenOptions.optInksaverOff()->setChecked(true);
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF PNG"));
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY LAN"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS ON"));
    w.screenOptions.update_publics();
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF BMP"));
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY PORTR"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS OFF"));
}

QTEST_MAIN(TestScreenOptions)
#include "test_screen_options.moc"
