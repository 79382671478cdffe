#include "tests/support/running_sim.h"
#include "tools/rm_command.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sstream>
#include <vector>

namespace rm = lumetra::rm;

namespace {

struct Outcome {
    int exitCode;
    QString out;
    QString err;
};

class Workspace {
public:
    Workspace() : userFile_(dir_.filePath("user/lumetra/resources.conf")) {}
    rm::Environment environment(const QString& systemFile = {}) const {
        rm::Environment environment{{userFile_.toStdString()}, userFile_.toStdString()};
        if (!systemFile.isEmpty()) {
            environment.configFiles.push_back(systemFile.toStdString());
        }
        return environment;
    }
    Outcome run(const QStringList& args, const QString& systemFile = {}) const {
        std::vector<std::string> arguments;
        for (const QString& arg : args) {
            arguments.push_back(arg.toStdString());
        }
        std::ostringstream out, err;
        int code = rm::run(arguments, out, err, environment(systemFile));
        return {code, QString::fromStdString(out.str()), QString::fromStdString(err.str())};
    }
    QString userFileText() const {
        QFile file(userFile_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString dirPath() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QString userFile_;
};

} // namespace

class TestLumetraRm : public QObject {
    Q_OBJECT
private slots:
    void nothingKnown() {
        Workspace workspace;
        auto outcome = workspace.run({"list"});
        QCOMPARE(outcome.exitCode, int(rm::ExitNothingConfigured));
        QVERIFY(outcome.out.isEmpty());
        QVERIFY(outcome.err.contains("lumetra-rm add"));
        QCOMPARE(workspace.run({"probe"}).exitCode, int(rm::ExitNothingConfigured));
    }

    void addListRemove() {
        Workspace workspace;
        testing::ResourcesFile system({"TCPIP0::127.0.0.1::6000::SOCKET"});
        auto added = workspace.run({"add", "tcpip::127.0.0.1::5025::socket"}, system.path());
        QCOMPARE(added.exitCode, int(rm::ExitOk));
        QVERIFY(added.out.contains("added TCPIP0::127.0.0.1::5025::SOCKET"));
        QVERIFY(workspace.userFileText().startsWith("#"));

        auto again = workspace.run({"add", "TCPIP0::127.0.0.1::5025::SOCKET"});
        QCOMPARE(again.exitCode, int(rm::ExitOk));
        QVERIFY(again.out.contains("already"));

        auto list = workspace.run({"list"}, system.path());
        QCOMPARE(list.exitCode, int(rm::ExitOk));
        QCOMPARE(list.out, QString("TCPIP0::127.0.0.1::5025::SOCKET\n"
                                   "TCPIP0::127.0.0.1::6000::SOCKET\n"));

        const QString before = workspace.userFileText();
        QCOMPARE(workspace.run({"remove", "TCPIP0::127.0.0.1::5025::SOCKET"}).exitCode,
                 int(rm::ExitOk));
        QVERIFY(!workspace.userFileText().contains("5025"));
        QVERIFY(before.startsWith(workspace.userFileText())); // the comment stays
        QCOMPARE(workspace.run({"remove", "TCPIP0::127.0.0.1::5025::SOCKET"}).exitCode,
                 int(rm::ExitFailed));
    }

    void usageErrors() {
        Workspace workspace;
        QCOMPARE(workspace.run({}).exitCode, int(rm::ExitUsage));
        QCOMPARE(workspace.run({"frobnicate"}).exitCode, int(rm::ExitUsage));
        QCOMPARE(workspace.run({"add"}).exitCode, int(rm::ExitUsage));
        QCOMPARE(workspace.run({"probe", "--timeout"}).exitCode, int(rm::ExitUsage));
        QCOMPARE(workspace.run({"probe", "--timeout", "soon"}).exitCode, int(rm::ExitUsage));
        auto malformed = workspace.run({"add", "TCPIP0::127.0.0.1::SOCKET"});
        QCOMPARE(malformed.exitCode, int(rm::ExitUsage));
        QVERIFY2(malformed.err.contains("port::SOCKET"), qPrintable(malformed.err));
        QVERIFY(workspace.userFileText().isEmpty());
        QCOMPARE(workspace.run({"help"}).exitCode, int(rm::ExitOk));
    }

    void probeReportsReplyOrError() {
        testing::RunningSim sim;
        Workspace workspace;
        QCOMPARE(workspace.run({"add", sim.resource()}).exitCode, int(rm::ExitOk));
        auto good = workspace.run({"probe"});
        QCOMPARE(good.exitCode, int(rm::ExitOk));
        QVERIFY2(good.out.contains(sim.resource() + ": "), qPrintable(good.out));
        QVERIFY2(good.out.contains("NQX8"), qPrintable(good.out));

        QCOMPARE(workspace.run({"add", "TCPIP0::127.0.0.1::1::SOCKET"}).exitCode, int(rm::ExitOk));
        auto mixed = workspace.run({"probe", "--timeout", "500"});
        QCOMPARE(mixed.exitCode, int(rm::ExitFailed));
        QVERIFY2(mixed.out.contains("TCPIP0::127.0.0.1::1::SOCKET: error VI_ERROR_MACHINE_NAVAIL"),
                 qPrintable(mixed.out));
    }

    void version() {
        Workspace workspace;
        auto version = workspace.run({"--version"});
        QCOMPARE(version.exitCode, int(rm::ExitOk));
        QCOMPARE(version.out, QString("lumetra-rm " VARNOLT_VERSION "\n"));
        QCOMPARE(workspace.run({"--version", "list"}).exitCode, int(rm::ExitUsage));
    }

    void linksNamesTheRawSocket() {
        Workspace workspace;
        auto links = workspace.run({"links"});
        QCOMPARE(links.exitCode, int(rm::ExitOk));
        QVERIFY(links.out.contains("::SOCKET "));
        QVERIFY(links.out.contains("raw SCPI socket"));
    }

    void programUsesXdgConfigHome() {
        const QString program = qEnvironmentVariable("LUMETRA_RM");
        if (program.isEmpty()) {
            QSKIP("LUMETRA_RM is not set");
        }
        QTemporaryDir config;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config.path());
        process.setProcessEnvironment(environment);
        process.start(program, {"add", "TCPIP0::127.0.0.1::5025::SOCKET"});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(QFile::exists(config.filePath("lumetra/resources.conf")));
        process.start(program, {"list"});
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(process.readAllStandardOutput().startsWith("TCPIP0::127.0.0.1::5025::SOCKET\n"));
    }

    // Every read-modify-write of the file is locked: parallel adds all land, and each says so.
    void parallelAddsKeepEveryEntry() {
        const QString program = qEnvironmentVariable("LUMETRA_RM");
        if (program.isEmpty()) {
            QSKIP("LUMETRA_RM is not set");
        }
        QTemporaryDir config;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config.path());
        constexpr int Runs = 20;
        std::vector<std::unique_ptr<QProcess>> runs;
        QStringList expected;
        for (int k = 0; k < Runs; ++k) {
            const QString name = QStringLiteral("TCPIP0::127.0.0.1::%1::SOCKET").arg(5000 + k);
            expected << name;
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->setProcessEnvironment(environment);
            runs.back()->start(program, {"add", name});
        }
        for (auto& run : runs) {
            QVERIFY(run->waitForFinished(20000));
            QCOMPARE(run->exitCode(), 0);
        }
        QProcess list;
        list.setProcessEnvironment(environment);
        list.start(program, {"list"});
        QVERIFY(list.waitForFinished(10000));
        QStringList listed = QString::fromUtf8(list.readAllStandardOutput()).split('\n');
        listed.removeAll(QString());
        listed.sort();
        QCOMPARE(listed, expected);
        QCOMPARE(QDir(config.filePath("lumetra")).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{".resources.conf.lock", "resources.conf"}));
    }

    // The file keeps its link, its mode, and its being read-only.
    void editKeepsTheFileAsTheUserLeftIt_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("mode 0600") << "mode";
        QTest::newRow("symbolic link") << "link";
        QTest::newRow("read-only") << "read-only";
    }
    void editKeepsTheFileAsTheUserLeftIt() {
        QFETCH(QString, kind);
        Workspace workspace;
        const QString target = workspace.dirPath() + "/elsewhere/resources.conf";
        QVERIFY(QDir().mkpath(workspace.dirPath() + "/elsewhere"));
        QVERIFY(QDir().mkpath(workspace.dirPath() + "/user/lumetra"));
        {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("# mine\n");
        }
        const QString userFile = workspace.dirPath() + "/user/lumetra/resources.conf";
        if (kind == "link") {
            QVERIFY(QFile::link(target, userFile));
        } else {
            QVERIFY(QFile::rename(target, userFile));
        }
        const QString real = kind == "link" ? target : userFile;
        const QFileDevice::Permissions mode =
            kind == "read-only" ? QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther
                                : QFile::ReadOwner | QFile::WriteOwner;
        QVERIFY(QFile::setPermissions(real, mode));

        const auto outcome = workspace.run({"add", "TCPIP0::127.0.0.1::5025::SOCKET"});
        QCOMPARE(QFileInfo(userFile).isSymLink(), kind == "link");
        QCOMPARE(QFile::permissions(real) & QFileDevice::Permissions(0x7077), mode);
        if (kind == "read-only") {
            QCOMPARE(outcome.exitCode, int(rm::ExitFileError));
            QVERIFY2(outcome.err.contains(real) && outcome.err.contains("read-only"),
                     qPrintable(outcome.err));
            QCOMPARE(workspace.userFileText(), QString("# mine\n"));
        } else {
            QCOMPARE(outcome.exitCode, int(rm::ExitOk));
            QCOMPARE(workspace.userFileText(),
                     QString("# mine\nTCPIP0::127.0.0.1::5025::SOCKET\n"));
        }
    }

    void probeWorksTheSameOverEveryLinkTheSimulatorServes() {
        sim::SimConfig config;
        config.vxi11Port = 0;
        config.serialPty = true;
        testing::RunningSim sim(config);
        Workspace workspace;
        QCOMPARE(workspace.run({"add", sim.resource()}).exitCode, int(rm::ExitOk));
        QCOMPARE(workspace.run({"add", sim.vxi11Resource(), sim.vxi11Attributes()}).exitCode,
                 int(rm::ExitOk));
        const QString serial =
            "ASRL" + QString::fromStdString(sim.server().serialPath()) + "::INSTR";
        QCOMPARE(workspace.run({"add", serial, "baud=115200"}).exitCode, int(rm::ExitOk));
        QVERIFY2(workspace.userFileText().contains(sim.vxi11Resource() + " " +
                                                   sim.vxi11Attributes() + "\n"),
                 qPrintable(workspace.userFileText()));
        auto probe = workspace.run({"probe", "--timeout", "2000"});
        QCOMPARE(probe.exitCode, int(rm::ExitOk));
        const QStringList lines = probe.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        for (const QString& line : lines) {
            QVERIFY2(line.endsWith(QString(": :*IDN ") + sim::DefaultIdn) ||
                         line.endsWith(QString(": ") + sim::DefaultIdn),
                     qPrintable(line));
        }
        QVERIFY(lines[1].startsWith("TCPIP0::127.0.0.1::inst0::INSTR: "));
    }

    void addRefusesBadLinkSettings() {
        Workspace workspace;
        auto bad = workspace.run({"add", "ASRL1::INSTR", "baud=12"});
        QCOMPARE(bad.exitCode, int(rm::ExitUsage));
        QVERIFY2(bad.err.contains("baud"), qPrintable(bad.err));
        auto wrongClass = workspace.run({"add", "TCPIP::h::5025::SOCKET", "vxi11-port=1"});
        QCOMPARE(wrongClass.exitCode, int(rm::ExitUsage));
        QVERIFY(workspace.userFileText().isEmpty());
    }

    void linksNamesEveryLinkOfThisBuild() {
        Workspace workspace;
        auto links = workspace.run({"links"});
        const QString table =
            "TCPIP[board]::host::port::SOCKET                         raw SCPI socket\n"
            "TCPIP[board]::host[::LAN device name]::INSTR             VXI-11 (device name inst0)\n"
            "USB[board]::vendor::product::serial[::interface]::INSTR  USBTMC, Linux usbtmc driver\n"
            "ASRL<number or device path>::INSTR                       serial line (ASRL1 = "
            "/dev/ttyS0)\n";
        QCOMPARE(links.out, table);
        // The help shows the same table; the README shows what links prints.
        QVERIFY(workspace.run({"help"}).out.contains(
            "  " + QString(table).replace("\n", "\n  ").chopped(2)));
        QFile readme(QStringLiteral(VARNOLT_SOURCE_DIR "/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(readme.readAll())
                    .contains("    " + QString(table).replace("\n", "\n    ").chopped(4)));
    }

    // The completion offers the commands and the discover options the help lists.
    void completionFollowsTheHelp_data() {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("helpPattern");
        QTest::newRow("commands") << "lumetra-rm ''"
                                  << R"(^  ([a-z]+)\b)";
        QTest::newRow("discover") << "lumetra-rm discover --"
                                  << R"(^  discover .*$)";
    }
    void completionFollowsTheHelp() {
        QFETCH(QString, words);
        QFETCH(QString, helpPattern);
        Workspace workspace;
        const QString help = workspace.run({"help"}).out;
        QStringList helped{"--help", "--version"};
        const QRegularExpression pattern(helpPattern, QRegularExpression::MultilineOption);
        if (words.endsWith("--")) {
            const QString line = pattern.match(help).captured(0);
            const QRegularExpression option("--[a-z-]+");
            helped.clear();
            for (auto it = option.globalMatch(line); it.hasNext();) {
                helped << it.next().captured(0);
            }
        } else {
            for (auto it = pattern.globalMatch(help); it.hasNext();) {
                helped << it.next().captured(1);
            }
        }
        helped.sort();
        QProcess bash;
        bash.start("bash", {"-c",
                            "source \"$1\"; COMP_WORDS=(" + words +
                                "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _lumetra_rm; "
                                "printf '%s\\n' \"${COMPREPLY[@]}\"",
                            "bash", VARNOLT_SOURCE_DIR "/resources/bash-completion/lumetra-rm"});
        QVERIFY(bash.waitForFinished(10000));
        QStringList completed =
            QString::fromLocal8Bit(bash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        completed.sort();
        QCOMPARE(completed, helped);
    }

    // A probe's error line names the resource once, at its start, whatever the failure.
    void anErrorLineNamesTheResourceOnce_data() {
        QTest::addColumn<bool>("muted");
        QTest::addColumn<QString>("status");
        QTest::newRow("refused") << false << "VI_ERROR_MACHINE_NAVAIL";
        QTest::newRow("no reply") << true << "VI_ERROR_TMO";
    }
    void anErrorLineNamesTheResourceOnce() {
        QFETCH(bool, muted);
        QFETCH(QString, status);
        sim::SimConfig config;
        config.faults.muted = muted;
        testing::RunningSim sim(config);
        const QString resource = muted ? sim.resource() : QString("TCPIP0::127.0.0.1::1::SOCKET");
        Workspace workspace;
        auto probe = workspace.run({"probe", "--timeout", "300", resource});
        QCOMPARE(probe.exitCode, int(rm::ExitFailed));
        QVERIFY2(probe.out.startsWith(resource + ": error " + status + " ("),
                 qPrintable(probe.out));
        QCOMPARE(probe.out.count(resource), 1);
        QCOMPARE(probe.out.count('\n'), 1);
    }
};

QTEST_GUILESS_MAIN(TestLumetraRm)
#include "test_lumetra_rm.moc"
