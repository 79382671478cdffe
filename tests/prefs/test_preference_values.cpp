#include "prefs/preference_values.h"
#include "tests/prefs/prefs_fixture.h"

#include <QSettings>
#include <QtTest>

using Stored = QList<std::pair<QString, QString>>;

// The preference set held without windows must be what loading leaves in the windows.
class TestPreferenceValues : public QObject {
    Q_OBJECT
private slots:
    void sameAsTheWindowsAfterLoading_data() {
        QTest::addColumn<Stored>("stored");
        QTest::newRow("empty store") << Stored{};
        QTest::newRow("both ink saver buttons true")
            << Stored{{"optInksaverOn", "True"}, {"optInksaverOff", "true"}};
        QTest::newRow("both layout buttons false")
            << Stored{{"optLandscape", "0"}, {"optPortrait", "False"}};
        QTest::newRow("portrait and ink saver off by number")
            << Stored{{"optPortrait", "1"}, {"optInksaverOn", "0"}, {"optInksaverOff", "2"}};
        QTest::newRow("landscape false alone") << Stored{{"optLandscape", "False"}};
        QTest::newRow("no file type, TIFF, bad type")
            << Stored{{"cboFileType", "-1"}, {"chkScreen", "1"}};
        QTest::newRow("BMP") << Stored{{"cboFileType", "0"}};
        QTest::newRow("TIFF") << Stored{{"cboFileType", "2"}};
        QTest::newRow("values that break the rules") << Stored{{"cboFileType", "3"},
                                                               {"chkWFM", "5"},
                                                               {"hsDelay", "61"},
                                                               {"optPortrait", "maybe"},
                                                               {"chkAsk", "x"}};
        QTest::newRow("texts and numbers") << Stored{
            {"txtWFMpath", "E:\\a b\\"}, {"txtWFMprefix", "p_"},  {"hsDelay", " 7 "},
            {"txtAcqLimit", " 12abc"},   {"chkASCII", "2"},       {"txtScreenPath", ""},
            {"txtScreenPrefix", "s"},    {"txtASCIIpath", "C:/"}, {"chkUseTimestamps", "0"},
            {"chkRestoreRun", "0"}};
    }
    void sameAsTheWindowsAfterLoading() {
        QFETCH(Stored, stored);
        prefs_testing::Windows windows(false);
        {
            QSettings settings(windows.store.filePath(), QSettings::IniFormat);
            settings.beginGroup("Prefs");
            for (const auto& [key, value] : stored) {
                settings.setValue(key, value);
            }
        }
        windows.load();
        const auto values = prefs::PreferenceValues::load(windows.store);

        for (const auto& [key, text] :
             prefs::preferenceTexts(windows.prefsWindow, windows.screenOptions)) {
            QCOMPARE(prefs::storedText(values.value(key)), text);
        }
        QCOMPARE(values.WFMfspec(), windows.prefsWindow.WFMfspec());
        QCOMPARE(values.ASCIIfspec(), windows.prefsWindow.ASCIIfspec());
        QCOMPARE(values.ScreenFspec(), windows.prefsWindow.ScreenFspec());
        QCOMPARE(values.FileType(), windows.screenOptions.FileType());
        QCOMPARE(values.Layout(), windows.screenOptions.Layout());
        QCOMPARE(values.InkSaver(), windows.screenOptions.InkSaver());
        QCOMPARE(values.fileTypeText(), windows.screenOptions.cboFileType()->currentText());
    }

    void settingOneValue_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("limit");
        QTest::newRow("portrait") << "optPortrait"
                                  << "True" << true << "SAV:IMAG:LAY PORTR"
                                  << "10";
        QTest::newRow("portrait false leaves landscape") << "optPortrait"
                                                         << "False" << true << "SAV:IMAG:LAY LAN"
                                                         << "10";
        QTest::newRow("landscape false") << "optLandscape"
                                         << "0" << true << "SAV:IMAG:LAY PORTR"
                                         << "10";
        QTest::newRow("limit text as given") << "txtAcqLimit"
                                             << " 3" << true << "SAV:IMAG:LAY LAN"
                                             << " 3";
        QTest::newRow("check state out of range") << "chkWFM"
                                                  << "3" << false << "SAV:IMAG:LAY LAN"
                                                  << "10";
        QTest::newRow("unknown key") << "chkNothing"
                                     << "1" << false << "SAV:IMAG:LAY LAN"
                                     << "10";
    }
    void settingOneValue() {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(bool, taken);
        QFETCH(QString, layout);
        QFETCH(QString, limit);
        prefs::PreferenceValues values;
        QCOMPARE(values.set(key, text), taken);
        QCOMPARE(values.Layout(), layout);
        QCOMPARE(values.text("txtAcqLimit"), limit);
        QCOMPARE(values.integer("chkWFM"), 1);
    }
};

QTEST_MAIN(TestPreferenceValues)
#include "test_preference_values.moc"
