#include "prefs/controls.h"
#include "prefs_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <csignal>
#include <sys/resource.h>

using namespace prefs_testing;
using windowing::Answer;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

bool writeStore(const QString& path, const QByteArray& prefsSection) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    const QByteArray bytes = "[Prefs]\n" + prefsSection;
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The twenty preferences as the controls hold them, as key=text lines in the store's order.
QStringList controlTexts(Windows& w) {
    QStringList lines;
    for (const auto& [key, text] : prefs::preferenceTexts(w.prefsWindow, w.screenOptions)) {
        lines << key + u'=' + text;
    }
    return lines;
}

const QStringList kDefaultTexts = {"chkUseTimestamps=1",
                                   "hsDelay=0",
                                   "chkAsk=0",
                                   "chkStopAfter=1",
                                   "txtAcqLimit=10",
                                   "chkWFM=1",
                                   "txtWFMpath=D:\\",
                                   "txtWFMprefix=my_ISFs_",
                                   "chkASCII=0",
                                   "txtASCIIpath=D:\\",
                                   "txtASCIIprefix=my_CSVs_",
                                   "chkScreen=0",
                                   "txtScreenPath=D:\\",
                                   "txtScreenPrefix=my_Images_",
                                   "chkRestoreRun=1",
                                   "cboFileType=1",
                                   "optInksaverOn=True",
                                   "optInksaverOff=False",
                                   "optLandscape=True",
                                   "optPortrait=False"};

// Every preference away from its default, and the texts that the store then holds.
void changeEverything(Windows& w) {
    prefs::setCheckValue(*w.prefsWindow.chkUseTimestamps(), 0);
    w.prefsWindow.hsDelay()->setValue(42);
    prefs::setCheckValue(*w.prefsWindow.chkAsk(), 1);
    prefs::setCheckValue(*w.prefsWindow.chkStopAfter(), 0);
    w.prefsWindow.txtAcqLimit()->setText(" 250");
    prefs::setCheckValue(*w.prefsWindow.chkWFM(), 0);
    w.prefsWindow.txtWFMpath()->setText("E:\\isf\\");
    w.prefsWindow.txtWFMprefix()->setText("a,b;c=d");
    prefs::setCheckValue(*w.prefsWindow.chkASCII(), 1);
    w.prefsWindow.txtASCIIpath()->setText("");
    w.prefsWindow.txtASCIIprefix()->setText("@csv ");
    prefs::setCheckValue(*w.prefsWindow.chkScreen(), 1);
    w.prefsWindow.txtScreenPath()->setText(" F:\\\"img\"\\");
    w.prefsWindow.txtScreenPrefix()->setText("shot_\u00e9_");
    prefs::setCheckValue(*w.prefsWindow.chkRestoreRun(), 0);
    w.screenOptions.cboFileType()->setCurrentIndex(2);
    w.screenOptions.optInksaverOff()->setChecked(true);
    w.screenOptions.optPortrait()->setChecked(true);
}

const QStringList kChangedTexts = {"chkUseTimestamps=0",
                                   "hsDelay=42",
                                   "chkAsk=1",
                                   "chkStopAfter=0",
                                   "txtAcqLimit= 250",
                                   "chkWFM=0",
                                   "txtWFMpath=E:\\isf\\",
                                   "txtWFMprefix=a,b;c=d",
                                   "chkASCII=1",
                                   "txtASCIIpath=",
                                   "txtASCIIprefix=@csv ",
                                   "chkScreen=1",
                                   "txtScreenPath= F:\\\"img\"\\",
                                   "txtScreenPrefix=shot_\u00e9_",
                                   "chkRestoreRun=0",
                                   "cboFileType=2",
                                   "optInksaverOn=False",
                                   "optInksaverOff=True",
                                   "optLandscape=False",
                                   "optPortrait=True"};

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

} // namespace

class TestLoadSave : public QObject {
    Q_OBJECT
private slots:
    void emptyStoreGivesDefaults();
    void saveWritesAllKeysInOrder();
    void saveThenLoadRoundTrips();
    void savedFileReadsBackThroughQSettings();
    void optionKeysAsNumbers();
    void bothOptionsTrueLaterWins();
    void bothOptionsFalseSelectsNeither();
    void brokenValuesFallBackPerKey_data();
    void brokenValuesFallBackPerKey();
    void textsBreakingInputRulesShownAsStored();
    void unsendableStoredCharactersAreDropped_data();
    void unsendableStoredCharactersAreDropped();
    void greyedStoredValues();
    void fileTypeIndexMinusOne();
    void loadRunsChangeRulesOnlyOnChange();
    void keysOfAnotherSectionAreIgnored();
    void defaultsAnsweredOkResetsBothWindows();
    void defaultsWithNothingStored();
    void defaultsAnsweredCancelChangesNothing();
    void cancelAfterDefaultsRestoresSnapshot();
    void unwritableStoreIsReported();
    void failedSaveLeavesTheOldFileWhole();
};

void TestLoadSave::emptyStoreGivesDefaults() {
    Windows w;
    QVERIFY(!QFileInfo::exists(w.store.filePath()));
    QCOMPARE(controlTexts(w), kDefaultTexts);
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("D:\\my_ISFs_"));
    QCOMPARE(w.prefsWindow.ASCIIfspec(), QStringLiteral("D:\\my_CSVs_"));
    QCOMPARE(w.prefsWindow.ScreenFspec(), QStringLiteral("D:\\my_Images_"));
    QCOMPARE(w.screenOptions.cboFileType()->currentText(), QStringLiteral("PNG"));
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF PNG"));
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY LAN"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS ON"));
    QCOMPARE(w.prefsWindow.chkUseTimestamps()->checkState(), Qt::Checked);
    QCOMPARE(w.prefsWindow.chkAsk()->checkState(), Qt::Unchecked);
    QCOMPARE(w.p<QLineEdit>("txtDelay")->text(), QStringLiteral("0 Sec."));
    QVERIFY(!QFileInfo::exists(w.store.filePath()));
}

void TestLoadSave::saveWritesAllKeysInOrder() {
    Windows w;
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    QCOMPARE(QString::fromUtf8(readFile(w.store.filePath())),
             "[Prefs]\n" + kDefaultTexts.join(u'\n').replace("\\", "\\\\") + u'\n');
    QVERIFY(w.boxes.shown().isEmpty());
}

void TestLoadSave::saveThenLoadRoundTrips() {
    Windows w;
    changeEverything(w);
    QCOMPARE(controlTexts(w), kChangedTexts);
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    const QString file = QString::fromUtf8(readFile(w.store.filePath()));
    for (const char* line : {"\nchkUseTimestamps=0\n", "\nhsDelay=42\n", "\ncboFileType=2\n",
                             "\noptInksaverOn=False\n", "\noptInksaverOff=True\n",
                             "\noptLandscape=False\n", "\noptPortrait=True\n"}) {
        QVERIFY2(file.contains(QLatin1String(line)), line);
    }

    // A second set of windows, as at the next start, loads the same values.
    Windows next(false);
    next.store = w.store;
    next.load();
    QCOMPARE(controlTexts(next), kChangedTexts);
    QCOMPARE(next.prefsWindow.WFMfspec(), QStringLiteral("E:\\isf\\a,b;c=d"));
    QCOMPARE(next.prefsWindow.ASCIIfspec(), QStringLiteral("@csv "));
    QCOMPARE(next.prefsWindow.ScreenFspec(), QStringLiteral(" F:\\\"img\"\\shot_\u00e9_"));
    QCOMPARE(next.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF TIFF"));
    QCOMPARE(next.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY PORTR"));
    QCOMPARE(next.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS OFF"));
    QCOMPARE(next.p<QLineEdit>("txtDelay")->text(), QStringLiteral("42 Sec."));
    QVERIFY(!next.prefsWindow.txtWFMpath()->isEnabled());
    QVERIFY(next.prefsWindow.txtASCIIpath()->isEnabled());
    QVERIFY(!next.prefsWindow.txtAcqLimit()->isEnabled());
}

void TestLoadSave::savedFileReadsBackThroughQSettings() {
    Windows w;
    changeEverything(w);
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    QSettings settings(w.store.filePath(), QSettings::IniFormat);
    QCOMPARE(settings.status(), QSettings::NoError);
    QCOMPARE(settings.childGroups(), QStringList{"Prefs"});
    settings.beginGroup("Prefs");
    QCOMPARE(settings.childKeys().size(), 20);
    for (const QString& line : kChangedTexts) {
        const qsizetype equals = line.indexOf(u'=');
        QCOMPARE(settings.value(line.left(equals)).toString(), line.mid(equals + 1));
    }
}

void TestLoadSave::optionKeysAsNumbers() {
    Windows w(false);
    QVERIFY(writeStore(w.store.filePath(), "optInksaverOn=0\noptInksaverOff=1\n"
                                           "optLandscape=0\noptPortrait=-1\n"));
    w.load();
    QVERIFY(!w.screenOptions.optInksaverOn()->isChecked());
    QVERIFY(w.screenOptions.optInksaverOff()->isChecked());
    QVERIFY(!w.screenOptions.optLandscape()->isChecked());
    QVERIFY(w.screenOptions.optPortrait()->isChecked());
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS OFF"));

    Windows words(false);
    QVERIFY(writeStore(words.store.filePath(), "optInksaverOn=TRUE\noptInksaverOff=false\n"
                                               "optLandscape=1\noptPortrait=0\n"));
    words.load();
    QCOMPARE(controlTexts(words).mid(16), kDefaultTexts.mid(16));
}

void TestLoadSave::bothOptionsTrueLaterWins() {
    Windows w(false);
    QVERIFY(writeStore(w.store.filePath(), "optInksaverOn=True\noptInksaverOff=True\n"
                                           "optLandscape=True\noptPortrait=True\n"));
    w.load();
    QVERIFY(!w.screenOptions.optInksaverOn()->isChecked());
    QVERIFY(w.screenOptions.optInksaverOff()->isChecked());
    QVERIFY(!w.screenOptions.optLandscape()->isChecked());
    QVERIFY(w.screenOptions.optPortrait()->isChecked());
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY PORTR"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS OFF"));
}

void TestLoadSave::bothOptionsFalseSelectsNeither() {
    Windows w(false);
    QVERIFY(writeStore(w.store.filePath(), "optInksaverOn=False\noptInksaverOff=False\n"
                                           "optLandscape=False\noptPortrait=False\n"));
    w.load();
    for (QRadioButton* option : {w.screenOptions.optInksaverOn(), w.screenOptions.optInksaverOff(),
                                 w.screenOptions.optLandscape(), w.screenOptions.optPortrait()}) {
        QVERIFY2(!option->isChecked(), qPrintable(option->objectName()));
    }
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY PORTR"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS OFF"));
    // Saved again they stay as they were.
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    QVERIFY(readFile(w.store.filePath())
                .endsWith("optInksaverOn=False\noptInksaverOff=False\n"
                          "optLandscape=False\noptPortrait=False\n"));
}

void TestLoadSave::brokenValuesFallBackPerKey_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("broken");
    QTest::newRow("check not a number") << "chkUseTimestamps"
                                        << "yes";
    QTest::newRow("check out of 16 bits") << "chkStopAfter"
                                          << "65537";
    QTest::newRow("check 3") << "chkWFM"
                             << "3";
    QTest::newRow("check -1") << "chkRestoreRun"
                              << "-1";
    QTest::newRow("check fraction") << "chkAsk"
                                    << "0.5";
    QTest::newRow("check empty") << "chkASCII"
                                 << "";
    QTest::newRow("delay 61") << "hsDelay"
                              << "61";
    QTest::newRow("delay -1") << "hsDelay"
                              << "-1";
    QTest::newRow("delay huge") << "hsDelay"
                                << "99999999999";
    QTest::newRow("delay word") << "hsDelay"
                                << "ten";
    QTest::newRow("index 3") << "cboFileType"
                             << "3";
    QTest::newRow("index -2") << "cboFileType"
                              << "-2";
    QTest::newRow("index word") << "cboFileType"
                                << "PNG";
    QTest::newRow("option word") << "optInksaverOn"
                                 << "maybe";
    QTest::newRow("option empty") << "optLandscape"
                                  << "";
    QTest::newRow("option typed value") << "optPortrait"
                                        << "@Invalid()";
    QTest::newRow("check typed value") << "chkScreen"
                                       << "@Rect(1 2 3 4)";
}

void TestLoadSave::brokenValuesFallBackPerKey() {
    QFETCH(QString, key);
    QFETCH(QString, broken);
    // Every key holds a valid value away from its default except the broken one.
    QStringList lines = kChangedTexts;
    for (QString& line : lines) {
        if (line.startsWith(key + u'=')) {
            line = key + u'=' + broken;
        }
    }
    Windows w(false);
    QByteArray section;
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(u'=');
        const bool text = line.startsWith("txt");
        section +=
            (line.left(equals) + u'=' +
             (text ? prefs::iniValueText(line.mid(equals + 1)) : line.mid(equals + 1)) + u'\n')
                .toUtf8();
    }
    QVERIFY(writeStore(w.store.filePath(), section));
    w.load();
    QStringList expected = kChangedTexts;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (expected[i].startsWith(key + u'=')) {
            expected[i] = kDefaultTexts[i];
        }
    }
    // A default option value is set like any other: it clears its partner when true.
    if (key == "optPortrait") {
        expected[18] = "optLandscape=False";
        expected[19] = "optPortrait=False";
    }
    // A default true is cleared again by its stored true partner later in the order.
    if (key == "optLandscape") {
        expected[18] = "optLandscape=False";
    }
    if (key == "optInksaverOn") {
        expected[16] = "optInksaverOn=False";
    }
    QCOMPARE(controlTexts(w), expected);
    QVERIFY(w.boxes.shown().isEmpty());
}

void TestLoadSave::textsBreakingInputRulesShownAsStored() {
    Windows w(false);
    QVERIFY(writeStore(w.store.filePath(),
                       "txtAcqLimit=abc-0\ntxtWFMpath=D:/raw\ntxtWFMprefix=\"a b*:\"\n"
                       "txtScreenPrefix=x/y\n"));
    w.load();
    QCOMPARE(w.prefsWindow.txtAcqLimit()->text(), QStringLiteral("abc-0"));
    QCOMPARE(w.prefsWindow.txtWFMpath()->text(), QStringLiteral("D:/raw"));
    QCOMPARE(w.prefsWindow.txtWFMprefix()->text(), QStringLiteral("a b*:"));
    QCOMPARE(w.prefsWindow.txtScreenPrefix()->text(), QStringLiteral("x/y"));
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("D:/rawa b*:"));
}

// What would reach the instrument as another character is dropped on load; Latin-1 stays.
void TestLoadSave::unsendableStoredCharactersAreDropped_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("loaded");
    QTest::newRow("path") << "txtWFMpath"
                          << "D:\\\u20ac\\x\\"
                          << "D:\\\\x\\";
    QTest::newRow("prefix, Latin-1 kept") << "txtASCIIprefix"
                                          << "\u00e9\u0100\u00ff_"
                                          << "\u00e9\u00ff_";
    QTest::newRow("beyond the basic plane")
        << "txtScreenPrefix" << QString("a") + QString::fromUcs4(U"\U0001F600") + "b"
        << "ab";
    QTest::newRow("screen path") << "txtScreenPath"
                                 << "\u6f22"
                                 << "";
}

void TestLoadSave::unsendableStoredCharactersAreDropped() {
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, loaded);
    Windows w(false);
    QSettings settings(w.store.filePath(), QSettings::IniFormat);
    settings.setValue("Prefs/" + key, stored);
    settings.sync();
    w.load();
    QCOMPARE(w.prefsWindow.findChild<QLineEdit*>(key)->text(), loaded);
}

void TestLoadSave::greyedStoredValues() {
    Windows w(false);
    QVERIFY(writeStore(w.store.filePath(), "chkStopAfter=2\nchkWFM=2\nchkASCII=2\n"));
    w.load();
    QCOMPARE(w.prefsWindow.chkStopAfter()->checkState(), Qt::PartiallyChecked);
    QVERIFY(w.prefsWindow.txtAcqLimit()->isEnabled());
    QVERIFY(!w.prefsWindow.txtWFMpath()->isEnabled());
    QVERIFY(!w.prefsWindow.txtWFMprefix()->isEnabled());
    QVERIFY(!w.prefsWindow.txtASCIIpath()->isEnabled());
    w.openPrefs();
    QVERIFY(w.prefsWindow.txtAcqLimit()->isEnabled());
    QVERIFY(!w.prefsWindow.txtWFMpath()->isEnabled());
    // Cancel puts a greyed value back as it was shown.
    QTest::mouseClick(w.prefsWindow.chkWFM(), Qt::LeftButton);
    QCOMPARE(prefs::checkValue(*w.prefsWindow.chkWFM()), 1);
    QTest::mouseClick(w.p<QPushButton>("cbCancel"), Qt::LeftButton);
    QCOMPARE(prefs::checkValue(*w.prefsWindow.chkWFM()), 2);
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    QVERIFY(readFile(w.store.filePath()).contains("\nchkWFM=2\n"));
}

void TestLoadSave::fileTypeIndexMinusOne() {
    Windows w(false);
    QVERIFY(writeStore(w.store.filePath(), "cboFileType=-1\n"));
    w.load();
    QCOMPARE(w.screenOptions.cboFileType()->currentIndex(), -1);
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF "));
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    QVERIFY(readFile(w.store.filePath()).contains("\ncboFileType=-1\n"));
}

void TestLoadSave::loadRunsChangeRulesOnlyOnChange() {
    Windows w;
    QSignalSpy delayChanges(w.prefsWindow.hsDelay(), &QScrollBar::valueChanged);
    QSignalSpy wfmChanges(w.prefsWindow.chkWFM(), &QCheckBox::stateChanged);
    QSignalSpy portraitChanges(w.screenOptions.optPortrait(), &QRadioButton::toggled);
    w.load();
    QCOMPARE(delayChanges.count(), 0);
    QCOMPARE(wfmChanges.count(), 0);
    QCOMPARE(portraitChanges.count(), 0);
    QVERIFY(writeStore(w.store.filePath(), "hsDelay=15\nchkWFM=0\n"));
    w.load();
    QCOMPARE(delayChanges.count(), 1);
    QCOMPARE(wfmChanges.count(), 1);
    QCOMPARE(w.p<QLineEdit>("txtDelay")->text(), QStringLiteral("15 Sec."));
    QVERIFY(!w.prefsWindow.txtWFMprefix()->isEnabled());
}

void TestLoadSave::keysOfAnotherSectionAreIgnored() {
    Windows w(false);
    QDir().mkpath(QFileInfo(w.store.filePath()).absolutePath());
    QFile file(w.store.filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nchkAsk=1\n[Other]\nhsDelay=9\n");
    file.close();
    w.load();
    QCOMPARE(controlTexts(w), kDefaultTexts);
}

void TestLoadSave::defaultsAnsweredOkResetsBothWindows() {
    Windows w;
    changeEverything(w);
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    QVERIFY(QFileInfo::exists(w.store.filePath()));
    w.load();
    w.openPrefs();
    QCOMPARE(controlTexts(w), kChangedTexts);
    w.boxes.answer(Answer::Ok);
    QTest::mouseClick(w.p<QPushButton>("cbDefault"), Qt::LeftButton);
    QCOMPARE(w.boxes.texts(), QStringList{"Default all prefs?"});
    QCOMPARE(w.boxes.shown().front().buttons, windowing::Buttons::OkCancel);
    QCOMPARE(w.boxes.shown().front().icon, windowing::Icon::None);
    QCOMPARE(w.boxes.shown().front().title, QStringLiteral("Varnolt"));
    QCOMPARE(controlTexts(w), kDefaultTexts);
    QVERIFY(!QFileInfo::exists(w.store.filePath()));
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("D:\\my_ISFs_"));
    QCOMPARE(w.prefsWindow.ScreenFspec(), QStringLiteral("D:\\my_Images_"));
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF PNG"));
    QCOMPARE(w.screenOptions.Layout(), QStringLiteral("SAV:IMAG:LAY LAN"));
    QCOMPARE(w.screenOptions.InkSaver(), QStringLiteral("SAV:IMAG:INKS ON"));
    QCOMPARE(w.p<QLineEdit>("txtDelay")->text(), QStringLiteral("0 Sec."));
    QVERIFY(w.prefsWindow.txtWFMpath()->isEnabled());
    QVERIFY(!w.prefsWindow.txtASCIIpath()->isEnabled());
    QVERIFY(!w.p<QPushButton>("cbScreenOptions")->isEnabled());
    QVERIFY(w.prefsWindow.txtAcqLimit()->isEnabled());
    QVERIFY(w.prefsWindow.isVisible());
    QCOMPARE(w.visibleWindows(), 1);
}

void TestLoadSave::defaultsWithNothingStored() {
    Windows w;
    w.openPrefs();
    w.prefsWindow.txtWFMprefix()->setText("x_");
    w.boxes.answer(Answer::Ok);
    QTest::mouseClick(w.p<QPushButton>("cbDefault"), Qt::LeftButton);
    QCOMPARE(controlTexts(w), kDefaultTexts);
    QCOMPARE(w.boxes.shown().size(), 1);
    QVERIFY(!QFileInfo::exists(w.store.filePath()));
}

void TestLoadSave::defaultsAnsweredCancelChangesNothing() {
    Windows w;
    changeEverything(w);
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    const QByteArray stored = readFile(w.store.filePath());
    w.openPrefs();
    w.prefsWindow.txtWFMprefix()->setText("unsaved_");
    const QStringList before = controlTexts(w);
    const QString publicBefore = w.prefsWindow.WFMfspec();
    w.boxes.answer(Answer::Cancel);
    QTest::mouseClick(w.p<QPushButton>("cbDefault"), Qt::LeftButton);
    QCOMPARE(w.boxes.texts(), QStringList{"Default all prefs?"});
    QCOMPARE(controlTexts(w), before);
    QCOMPARE(readFile(w.store.filePath()), stored);
    QCOMPARE(w.prefsWindow.WFMfspec(), publicBefore);
}

void TestLoadSave::cancelAfterDefaultsRestoresSnapshot() {
    Windows w;
    changeEverything(w);
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    w.openPrefs();
    w.boxes.answer(Answer::Ok);
    QTest::mouseClick(w.p<QPushButton>("cbDefault"), Qt::LeftButton);
    QCOMPARE(controlTexts(w), kDefaultTexts);
    QTest::mouseClick(w.p<QPushButton>("cbCancel"), Qt::LeftButton);
    // The thirteen snapshot controls come back; chkUseTimestamps, chkRestoreRun and the
    // screen options keep their defaults, and the store stays empty.
    QStringList expected = kChangedTexts;
    for (const int i : {0, 14, 15, 16, 17, 18, 19}) {
        expected[i] = kDefaultTexts[i];
    }
    QCOMPARE(controlTexts(w), expected);
    QCOMPARE(w.prefsWindow.WFMfspec(), QStringLiteral("E:\\isf\\a,b;c=d"));
    QCOMPARE(w.screenOptions.FileType(), QStringLiteral("SAV:IMAG:FILEF PNG"));
    QCOMPARE(w.p<QLineEdit>("txtDelay")->text(), QStringLiteral("42 Sec."));
    QVERIFY(!w.prefsWindow.txtWFMpath()->isEnabled());
    QVERIFY(!w.prefsWindow.txtAcqLimit()->isEnabled());
    QVERIFY(!QFileInfo::exists(w.store.filePath()));
    QVERIFY(w.main.isVisible());
}

void TestLoadSave::unwritableStoreIsReported() {
    Windows w;
    // The settings file's path is taken by a folder.
    QVERIFY(QDir().mkpath(w.store.filePath()));
    QVERIFY(!prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes, &w.main));
    QCOMPARE(w.boxes.shown().size(), 1);
    const auto& box = w.boxes.shown().front();
    QCOMPARE(box.title, QStringLiteral("Varnolt"));
    QCOMPARE(box.buttons, windowing::Buttons::Ok);
    QVERIFY2(box.text.contains(w.store.filePath()), qPrintable(box.text));
    QVERIFY(QFileInfo(w.store.filePath()).isDir());

    // A folder that cannot be made.
    Windows below;
    QVERIFY(writeStore(below.dir.filePath("file"), "x"));
    prefs::PreferenceStore blocked(below.dir.filePath("file/Varnolt/Varnolt.ini"));
    QVERIFY(!prefs::savePrefs(below.prefsWindow, below.screenOptions, blocked, below.boxes));
    QCOMPARE(below.boxes.shown().size(), 1);
    QVERIFY(below.boxes.shown().front().text.contains(blocked.filePath()));
}

void TestLoadSave::failedSaveLeavesTheOldFileWhole() {
    Windows w;
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    const QByteArray old = readFile(w.store.filePath());
    changeEverything(w);
    w.prefsWindow.txtWFMprefix()->setText(QString(2000, u'p'));
    bool saved = true;
    {
        const FileSizeLimit limit(1024);
        saved = prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes);
    }
    QVERIFY(!saved);
    QCOMPARE(w.boxes.shown().size(), 1);
    QVERIFY(w.boxes.shown().front().text.contains(w.store.filePath()));
    QCOMPARE(readFile(w.store.filePath()), old);
    QCOMPARE(
        QDir(QFileInfo(w.store.filePath()).absolutePath()).entryList(QDir::Files | QDir::Hidden),
        QStringList{"Varnolt.ini"});
    // Everything is still there to be saved once the store can be written again.
    QVERIFY(prefs::savePrefs(w.prefsWindow, w.screenOptions, w.store, w.boxes));
    QVERIFY(readFile(w.store.filePath()).contains(QByteArray(2000, 'p')));
}

QTEST_MAIN(TestLoadSave)
#include "test_load_save.moc"
