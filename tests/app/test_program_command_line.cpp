#include "app/display_guard.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The program with the toolkit's choice of display taken from `environment` alone.
struct Program {
    QTemporaryDir runtime;
    QProcess process;
    explicit Program(const QStringList& set = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
            environment.remove(name);
        }
        for (const QString& pair : set) {
            environment.insert(pair.section('=', 0, 0), pair.section('=', 1));
        }
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        process.setProcessEnvironment(environment);
    }
    bool run(const QStringList& arguments) {
        process.start(VARNOLT_PROGRAM, arguments);
        return process.waitForFinished(20000);
    }
};

} // namespace

class TestProgramCommandLine : public QObject {
    Q_OBJECT
private slots:
    // Help and version need no display.
    void helpAndVersionWithoutADisplay_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("expected");
        QTest::newRow("--version") << "--version"
                                   << "Varnolt " VARNOLT_VERSION "\n";
        QTest::newRow("-v") << "-v"
                            << "Varnolt " VARNOLT_VERSION "\n";
        QTest::newRow("--help") << "--help"
                                << "Usage: ";
        QTest::newRow("-h") << "-h"
                            << "Usage: ";
    }
    void helpAndVersionWithoutADisplay() {
        QFETCH(QString, option);
        QFETCH(QString, expected);
        Program program;
        QVERIFY(program.run({option}));
        QCOMPARE(program.process.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(program.process.readAllStandardOutput());
        QVERIFY2(out.startsWith(expected), qPrintable(out));
        if (option.startsWith("-h") || option == "--help") {
            QVERIFY(out.contains("--version"));
            QVERIFY(out.contains("varnolt-record"));
        }
        QCOMPARE(program.process.readAllStandardError(), QByteArray());
    }

    void withoutADisplayOneLineNamesTheRecorder_data() {
        QTest::addColumn<QStringList>("environment");
        QTest::newRow("no display set") << QStringList{};
        QTest::newRow("a display that is not there") << QStringList{"DISPLAY=:97"};
        QTest::newRow("a platform that does not exist") << QStringList{"QT_QPA_PLATFORM=nowhere"};
    }
    void withoutADisplayOneLineNamesTheRecorder() {
        QFETCH(QStringList, environment);
        Program program(environment);
        QVERIFY(program.run({}));
        QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process.exitCode(), app::ExitNoDisplay);
        QCOMPARE(QString::fromLocal8Bit(program.process.readAllStandardError()),
                 QString::fromLatin1(app::NoDisplayLine) + '\n');
        QCOMPARE(program.process.readAllStandardOutput(), QByteArray());
    }

    void anArgumentOfItsOwnIsRefused() {
        Program program({"QT_QPA_PLATFORM=offscreen"});
        QVERIFY(program.run({"--bogus"}));
        QCOMPARE(program.process.exitCode(), 2);
        QCOMPARE(QString::fromLocal8Bit(program.process.readAllStandardError()),
                 QString("Varnolt: Unknown option 'bogus'.\nTry 'Varnolt --help'.\n"));
    }
};

QTEST_GUILESS_MAIN(TestProgramCommandLine)
#include "test_program_command_line.moc"
