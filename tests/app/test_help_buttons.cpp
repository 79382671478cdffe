#include "app/frm_main.h"
#include "prefs/frm_prefs.h"
#include "prefs/frm_screen_options.h"
#include "tests/app/fake_program.h"
#include "tests/app/frm_main_probe.h"
#include "tests/instrument/fake_quorix.h"
#include "tests/support/preset_message_boxes.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using testing::FakeQuorix;

namespace {

struct Program : testing::FakeProgram {
    Program() { window.setHelpFilePath(helpFile()); }
    QString helpFile() const { return dir.filePath("help folder/readme.mht"); }
    QString viewerLog() const { return dir.filePath("viewer.log"); }
    void useFakeViewer() {
        window.setHelpViewerCommands({launching::ViewerCommand{
            QStringLiteral(FAKE_VIEWER), {QStringLiteral("--log=") + viewerLog()}, false}});
    }
    QStringList viewerLines() const {
        QFile file(viewerLog());
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QPushButton* helpOf(QWidget* window) const {
        return window->findChild<QPushButton*>(QStringLiteral("cbHelp"));
    }
};

} // namespace

class TestHelpButtons : public QObject {
    Q_OBJECT
private slots:
    void bothHelpButtonsShowTheHelpFileAndReplaceTheViewer() {
        Program p;
        QDir().mkpath(QFileInfo(p.helpFile()).path());
        QFile help(p.helpFile());
        QVERIFY(help.open(QIODevice::WriteOnly));
        help.write("MIME-Version: 1.0\r\n");
        help.close();
        p.useFakeViewer();
        QVERIFY(p.window.Form_Load() == frmMain::LoadResult::Ready);

        p.probe.button("cbPrefs")->click();
        auto* prefsWindow = p.window.prefsWindow();
        QVERIFY(prefsWindow->isVisible());
        p.helpOf(prefsWindow)->click();
        QTRY_VERIFY(p.viewerLines().contains("ready"));
        QVERIFY(p.viewerLines().contains("arg " + p.helpFile()));
        QVERIFY(prefsWindow->isVisible()); // the window stays as it was

        prefsWindow->findChild<QPushButton*>("cbScreenOptions")->setEnabled(true);
        prefsWindow->findChild<QPushButton*>("cbScreenOptions")->click();
        auto* screenOptions = p.window.screenOptionsWindow();
        QVERIFY(screenOptions->isVisible());
        p.helpOf(screenOptions)->click();
        // The first viewer was ended before the second one started.
        QTRY_COMPARE(p.viewerLines().filter(QRegularExpression("^start ")).size(), 2);
        const QStringList lines = p.viewerLines();
        // indexOf with a pattern wants the whole line to match.
        const int secondStart = lines.lastIndexOf(QRegularExpression("start \\d+"));
        const int firstEnd = lines.indexOf(QRegularExpression("end \\d+"));
        QVERIFY2(firstEnd > 0 && firstEnd < secondStart, qPrintable(lines.join(" / ")));
        QVERIFY(p.boxes.shown().isEmpty());
    }

    void noViewerKeepsTheProgramAndNamesTheHelpFile() {
        Program p;
        QDir().mkpath(QFileInfo(p.helpFile()).path());
        QFile help(p.helpFile());
        QVERIFY(help.open(QIODevice::WriteOnly));
        help.close();
        p.window.setHelpViewerCommands(
            {launching::ViewerCommand{QStringLiteral("no-such-viewer-program"), {}, false}});
        QVERIFY(p.window.Form_Load() == frmMain::LoadResult::Ready);
        p.probe.button("cbPrefs")->click();
        p.boxes.answer(windowing::Answer::Ok);
        p.helpOf(p.window.prefsWindow())->click();
        QCOMPARE(p.boxes.shown().size(), 1);
        QCOMPARE(p.boxes.shown().first().title, QString("Varnolt"));
        QVERIFY2(p.boxes.texts().first().contains(p.helpFile()),
                 qPrintable(p.boxes.texts().first()));
        QVERIFY(p.window.prefsWindow()->isVisible());
    }
};

QTEST_MAIN(TestHelpButtons)
#include "test_help_buttons.moc"
