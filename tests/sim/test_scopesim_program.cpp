// The scopesim program itself (its path comes in the SCOPESIM environment variable).
#include "sim/scope_server.h"
#include "tests/sim/scpi_test_client.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace std::chrono_literals;
using scopesim_test::ScpiClient;
using scopesim_test::waitUntil;

class ScopeSimProgramTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root_;
    std::unique_ptr<QProcess> process_;

    static QString program() { return qEnvironmentVariable("SCOPESIM"); }

    // Starts the program and reads the ports it announces; empty when it did not come up.
    std::vector<std::uint16_t> launch(QStringList arguments, int instruments = 1) {
        process_ = std::make_unique<QProcess>();
        process_->setProgram(program());
        process_->setArguments(QStringList{"--root", root_->path()} + arguments);
        process_->start();
        std::vector<std::uint16_t> ports;
        static const QRegularExpression line(R"(^scopesim: listening on 127\.0\.0\.1:(\d+)$)");
        QByteArray pending;
        QElapsedTimer timer;
        timer.start();
        while (static_cast<int>(ports.size()) < instruments && timer.elapsed() < 10000) {
            if (!process_->canReadLine() && !process_->waitForReadyRead(200)) {
                if (process_->state() == QProcess::NotRunning) {
                    break;
                }
                continue;
            }
            while (process_->canReadLine()) {
                const QString text = QString::fromUtf8(process_->readLine()).trimmed();
                const auto match = line.match(text);
                if (match.hasMatch()) {
                    ports.push_back(static_cast<std::uint16_t>(match.captured(1).toUInt()));
                }
            }
        }
        return ports;
    }

    void signal(int number) { ::kill(static_cast<pid_t>(process_->processId()), number); }

private slots:
    void initTestCase() {
        QVERIFY2(!program().isEmpty(), "SCOPESIM names the scopesim program");
        QVERIFY(QFileInfo(program()).isExecutable());
    }

    void init() {
        root_ = std::make_unique<QTemporaryDir>();
        QVERIFY(root_->isValid());
    }

    void cleanup() {
        if (process_ && process_->state() != QProcess::NotRunning) {
            process_->kill();
            process_->waitForFinished(5000);
        }
        process_.reset();
        root_.reset();
    }

    void servesAndEndsOnSigterm() {
        const QString log = root_->filePath("traffic.log");
        const auto ports = launch({"--port", "0", "--log", log});
        QCOMPARE(ports.size(), std::size_t(1));
        QVERIFY(ports[0] != 0);
        QVERIFY(QFileInfo(root_->filePath("D")).isDir());
        ScpiClient client(ports[0]);
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));

        process_->terminate();
        QVERIFY(process_->waitForFinished(10000));
        QCOMPARE(process_->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process_->exitCode(), 0);
        QVERIFY(client.waitForClose());
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(scopesim_test::withoutTimes(file.readAll().toStdString()),
                 "raw:1 * connected\nraw:1 > *IDN?\nraw:1 < " + std::string(sim::DefaultIdn) +
                     "\n");
    }

    void optionsShapeTheInstruments() {
        const QString secondLog = root_->filePath("second.log");
        const auto ports = launch({"--port=0", "--idn", "ORVANE,NQX8034,FIRST,FV:1", "--instrument",
                                   "0|ORVANE,NQX8022,SECOND,FV:2|" + secondLog, "--trigger-never",
                                   "--points", "64", "--split-replies", "5"},
                                  2);
        QCOMPARE(ports.size(), std::size_t(2));
        ScpiClient first(ports[0]);
        ScpiClient second(ports[1]);
        QCOMPARE(first.query("*IDN?"), std::optional<std::string>("ORVANE,NQX8034,FIRST,FV:1"));
        QCOMPARE(second.query("*IDN?"), std::optional<std::string>("ORVANE,NQX8022,SECOND,FV:2"));
        QCOMPARE(first.query("HEAD OFF;:ACQ:STOPA SEQ;STATE 1;:BUSY?"),
                 std::optional<std::string>("1"));
        QCOMPARE(first.query("SAV:WAVE:FILEF SPREADS;:SAV:WAVE CH1,\"D:/w.csv\";:ALLEV?"),
                 std::optional<std::string>("0,\"No events to report - queue empty\""));
        QFile csv(root_->filePath("D/w.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll().count('\n'), 65);
        QVERIFY(QFileInfo(secondLog).exists());
    }

    void signalsToggleMutingAndRefusing() {
        const auto ports = launch({"--port", "0"});
        QCOMPARE(ports.size(), std::size_t(1));
        const auto port = ports[0];
        auto answers = [port] {
            ScpiClient probe(port);
            return probe.query("*IDN?", 300ms).has_value();
        };
        auto refused = [port] {
            ScpiClient probe;
            return probe.connectTo(port) == ECONNREFUSED;
        };
        QVERIFY(answers());
        signal(SIGUSR1);
        QVERIFY(waitUntil([&] { return !answers(); }));
        signal(SIGUSR1);
        QVERIFY(waitUntil(answers));
        signal(SIGUSR2);
        QVERIFY(waitUntil(refused));
        signal(SIGUSR2);
        QVERIFY(waitUntil(answers));
        signal(SIGINT);
        QVERIFY(process_->waitForFinished(10000));
        QCOMPARE(process_->exitCode(), 0);
    }

    void usageErrorsExitWithTwo_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << "--frobnicate";
        QTest::newRow("bad number") << QStringList{"--points", "many"} << "--points";
        QTest::newRow("no value") << QStringList{"--port"} << "--port";
        QTest::newRow("port range") << QStringList{"--port", "70000"} << "--port";
        QTest::newRow("instrument") << QStringList{"--instrument", "5000"} << "--instrument";
        QTest::newRow("flag value") << QStringList{"--mute=yes"} << "--mute";
    }

    void usageErrorsExitWithTwo() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, mentions);
        QProcess process;
        process.start(program(), QStringList{"--root", root_->path()} + arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardError().contains(mentions.toUtf8()));
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }

    void helpListsEveryOption() {
        QProcess process;
        process.start(program(), {"--help"});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        const QByteArray help = process.readAllStandardOutput();
        for (const char* option :
             {"--port", "--root", "--log", "--idn", "--instrument", "--trigger-period-ms",
              "--trigger-never", "--save-ms", "--points", "--reply-delay-ms", "--close-after",
              "--mute", "--refuse", "--malformed-reply", "--split-replies"}) {
            QVERIFY2(help.contains(option), option);
        }
    }
};

QTEST_GUILESS_MAIN(ScopeSimProgramTest)
#include "test_scopesim_program.moc"
