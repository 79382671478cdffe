// Discovery of VXI-11 instruments. Only the end-to-end case sends anything, and only inside a
// network namespace of its own, where loopback is the one interface.

#include "platform/lumetra/discovery.h"
#include "tests/support/running_sim.h"
#include "tools/rm_command.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <net/if.h>
#include <sstream>
#include <tuple>

namespace discovery = lumetra::discovery;
namespace rm = lumetra::rm;

namespace {

constexpr const char* OuterNamespaceVariable = "VARNOLT_DISCOVERY_OUTER_NETNS";

std::string bytes(std::initializer_list<std::uint32_t> words) {
    std::string out;
    for (std::uint32_t word : words) {
        out += static_cast<char>(word >> 24);
        out += static_cast<char>(word >> 16);
        out += static_cast<char>(word >> 8);
        out += static_cast<char>(word);
    }
    return out;
}

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

QString networkNamespace() {
    return QFile::symLinkTarget("/proc/self/ns/net");
}

QStringList interfaceNames() {
    QStringList names;
    if (auto* list = ::if_nameindex()) {
        for (auto* it = list; it->if_index != 0; ++it) {
            names << QString::fromUtf8(it->if_name);
        }
        ::if_freenameindex(list);
    }
    return names;
}

struct Outcome {
    int exitCode;
    QString out;
    QString err;
};

// lumetra-rm run in-process with a stand-in for discovery, so that nothing is sent.
class Workspace {
public:
    Workspace() : userFile_(dir_.filePath("lumetra/resources.conf")) {}

    discovery::Result result;
    std::vector<discovery::Options> calls;

    Outcome run(const QStringList& args, const QString& input = {}, bool terminal = false) {
        std::vector<std::string> arguments;
        for (const QString& arg : args) {
            arguments.push_back(arg.toStdString());
        }
        rm::Environment environment{{userFile_.toStdString()}, userFile_.toStdString()};
        environment.discover = [this](const discovery::Options& options) {
            calls.push_back(options);
            return result;
        };
        std::istringstream in(input.toStdString());
        environment.input = &in;
        environment.inputIsTerminal = terminal;
        std::ostringstream out, err;
        const int code = rm::run(arguments, out, err, environment);
        return {code, QString::fromStdString(out.str()), QString::fromStdString(err.str())};
    }
    QString userFileText() const {
        QFile file(userFile_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    void writeUserFile(const QByteArray& text) const {
        QDir().mkpath(QFileInfo(userFile_).path());
        QFile file(userFile_);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

private:
    QTemporaryDir dir_;
    QString userFile_;
};

discovery::Result twoFound() {
    discovery::Result result;
    result.searched = {"eth0 (192.0.2.5)"};
    result.found = {{"192.0.2.20", 1024, "eth0", "MAKER,MODEL,1,1.0", ""},
                    {"192.0.2.21", 9024, "eth0", "", "timeout: no reply"}};
    return result;
}

} // namespace

class TestDiscovery : public QObject {
    Q_OBJECT
private slots:
    void getPortCallIsEncodedWordByWord() {
        const std::string call = discovery::encodeGetPortCall(0x01020304);
        QCOMPARE(call.size(), std::size_t(56));
        QVERIFY(call == bytes({0x01020304, 0, 2, 100000, 2, 3, 0, 0, 0, 0, 0x0607AF, 1, 6, 0}));
    }

    void replyGivesThePortOfItsOwnCallOnly() {
        const std::uint32_t xid = 77;
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid, 1, 0, 0, 0, 0, 1024}), xid),
                 std::optional<std::uint32_t>(1024));
        // A verifier with a body of 5 bytes, padded to 8.
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid, 1, 0, 1, 5, 0, 0, 0, 4321}), xid),
                 std::optional<std::uint32_t>(4321));
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid, 1, 0, 0, 0, 0, 0}), xid),
                 std::optional<std::uint32_t>(0));

        const std::optional<std::uint32_t> none;
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid + 1, 1, 0, 0, 0, 0, 1024}), xid), none);
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid, 0, 0, 0, 0, 0, 1024}), xid), none);
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid, 1, 1, 0, 2, 2}), xid), none);
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid, 1, 0, 0, 0, 1}), xid), none);
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid, 1, 0, 0, 0, 0}), xid), none);
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid, 1, 0, 0, 500, 0, 1024}), xid), none);
        QCOMPARE(discovery::decodeGetPortReply(bytes({xid, 1, 0, 0, 8, 0}), xid), none);
        QCOMPARE(discovery::decodeGetPortReply(std::string(), xid), none);
        QCOMPARE(
            discovery::decodeGetPortReply(bytes({xid, 1, 0, 0, 0, 0, 1024}).substr(0, 27), xid),
            none);
    }

    void interfacesAreChosenByRule() {
        const std::vector<discovery::InterfaceAddress> interfaces = {
            {"lo", ip(127, 0, 0, 1), std::nullopt, true, true},
            {"eth0", ip(192, 0, 2, 5), ip(192, 0, 2, 255), true, false},
            {"eth0", ip(198, 51, 100, 7), ip(198, 51, 100, 255), true, false},
            {"eth1", ip(203, 0, 113, 9), ip(203, 0, 113, 255), false, false},
            {"tun0", ip(10, 8, 0, 2), std::nullopt, true, false},
        };
        using Targets = std::vector<discovery::Target>;

        auto byDefault = discovery::chooseTargets(interfaces, {});
        QVERIFY(byDefault.targets ==
                Targets({{"eth0", ip(192, 0, 2, 5), ip(192, 0, 2, 255)},
                         {"eth0", ip(198, 51, 100, 7), ip(198, 51, 100, 255)}}));
        QVERIFY(byDefault.problems.empty());
        QVERIFY(byDefault.unknown.empty());

        auto loopback = discovery::chooseTargets(interfaces, {"lo"});
        QVERIFY(loopback.targets == Targets({{"lo", ip(127, 0, 0, 1), ip(127, 0, 0, 1)}}));

        auto named = discovery::chooseTargets(interfaces, {"eth1", "tun0", "wlan7", "eth0", "lo"});
        QCOMPARE(named.targets.size(), std::size_t(3));
        QCOMPARE(named.targets[0].interfaceName, std::string("eth0"));
        QCOMPARE(named.targets[2].destination, ip(127, 0, 0, 1));
        QCOMPARE(named.problems.size(), std::size_t(2));
        QVERIFY(named.problems[0].find("eth1") != std::string::npos);
        QVERIFY(named.problems[0].find("down") != std::string::npos);
        QVERIFY(named.problems[1].find("cannot broadcast") != std::string::npos);
        QVERIFY(named.unknown == std::vector<std::string>{"wlan7"});

        QCOMPARE(discovery::ipv4Text(ip(192, 0, 2, 255)), std::string("192.0.2.255"));
    }

    void commandLineMistakesAreUsageErrors() {
        Workspace workspace;
        for (const QStringList& args :
             {QStringList{"discover", "--timeout"}, QStringList{"discover", "--timeout", "soon"},
              QStringList{"discover", "--timeout", "0"}, QStringList{"discover", "--interface"},
              QStringList{"discover", "--everywhere"}, QStringList{"discover", "eth0"}}) {
            QCOMPARE(workspace.run(args).exitCode, int(rm::ExitUsage));
        }
        QVERIFY(workspace.calls.empty());

        workspace.result.unknownInterfaces = {"wlan7"};
        auto unknown = workspace.run({"discover", "--interface", "wlan7"});
        QCOMPARE(unknown.exitCode, int(rm::ExitUsage));
        QVERIFY2(unknown.err.contains("wlan7"), qPrintable(unknown.err));
    }

    void withoutDiscoveryNothingIsSent() {
        QTemporaryDir dir;
        const std::string file = dir.filePath("resources.conf").toStdString();
        std::ostringstream out, err;
        QCOMPARE(
            rm::run({"discover", "--interface", "lo"}, out, err, rm::Environment{{file}, file}),
            int(rm::ExitFailed));
        QVERIFY(!err.str().empty());
    }

    void optionsReachDiscovery() {
        Workspace workspace;
        workspace.run({"discover"});
        QCOMPARE(workspace.calls.size(), std::size_t(1));
        QVERIFY(workspace.calls[0].interfaces.empty());
        QCOMPARE(workspace.calls[0].timeout, std::chrono::milliseconds(1000));
        QVERIFY(workspace.calls[0].identify);
        workspace.run({"discover", "--interface", "eth0", "--timeout", "250", "--interface", "lo"});
        QVERIFY(workspace.calls[1].interfaces == std::vector<std::string>({"eth0", "lo"}));
        QCOMPARE(workspace.calls[1].timeout, std::chrono::milliseconds(250));
    }

    void nothingFoundIsExitCodeOne() {
        Workspace workspace;
        auto nowhere = workspace.run({"discover"});
        QCOMPARE(nowhere.exitCode, int(rm::ExitFailed));
        QVERIFY2(nowhere.err.contains("--interface"), qPrintable(nowhere.err));

        workspace.result.searched = {"eth0 (192.0.2.5)"};
        auto silent = workspace.run({"discover", "--yes"});
        QCOMPARE(silent.exitCode, int(rm::ExitFailed));
        QVERIFY(silent.out.isEmpty());
        QVERIFY2(silent.err.contains("eth0 (192.0.2.5)"), qPrintable(silent.err));
        QVERIFY(workspace.userFileText().isEmpty());
    }

    void foundInstrumentsArePrintedAsResources() {
        Workspace workspace;
        workspace.result = twoFound();
        workspace.result.problems = {"tun0 (10.8.0.2) cannot broadcast"};
        auto found = workspace.run({"discover"});
        QCOMPARE(found.exitCode, int(rm::ExitOk));
        QCOMPARE(found.out, QString("TCPIP0::192.0.2.20::inst0::INSTR  vxi11-port=1024  "
                                    "MAKER,MODEL,1,1.0\n"
                                    "TCPIP0::192.0.2.21::inst0::INSTR  vxi11-port=9024  "
                                    "(no *IDN? reply: timeout: no reply)\n"));
        QVERIFY2(found.err.contains("tun0"), qPrintable(found.err));
        QVERIFY(workspace.userFileText().isEmpty());
    }

    void yesAddsEveryOneKeepingComments() {
        Workspace workspace;
        workspace.result = twoFound();
        workspace.writeUserFile("# mine\nTCPIP0::192.0.2.20::inst0::INSTR vxi11-port=1024\n");
        auto added = workspace.run({"discover", "--yes"});
        QCOMPARE(added.exitCode, int(rm::ExitOk));
        QVERIFY2(added.out.contains("already"), qPrintable(added.out));
        QVERIFY2(added.out.contains("added TCPIP0::192.0.2.21::inst0::INSTR"),
                 qPrintable(added.out));
        QCOMPARE(workspace.userFileText(),
                 QString("# mine\nTCPIP0::192.0.2.20::inst0::INSTR vxi11-port=1024\n"
                         "TCPIP0::192.0.2.21::inst0::INSTR\n"));

        // Asked to, it writes the port it found.
        Workspace pinning;
        pinning.result = twoFound();
        QCOMPARE(pinning.run({"discover", "--yes", "--pin-port"}).exitCode, int(rm::ExitOk));
        QCOMPARE(pinning.userFileText(),
                 QString("# Instrument resources for Lumetra, one per line, in search order.\n"
                         "TCPIP0::192.0.2.20::inst0::INSTR vxi11-port=1024\n"
                         "TCPIP0::192.0.2.21::inst0::INSTR vxi11-port=9024\n"));
    }

    // A line pinned to a port the instrument no longer serves on is updated in place; one whose
    // pinned port still answers is kept.
    void aPinnedPortIsUpdatedOnlyWhenItNoLongerAnswers_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("pinnedAnswers");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("said");
        QTest::newRow("stale, unpinned again")
            << QStringList{"--yes"} << false << "TCPIP0::127.0.0.1::inst0::INSTR"
            << ": vxi11-port=1 no longer answers; the portmapper is asked at each connection\n";
        QTest::newRow("stale, pinned anew")
            << QStringList{"--yes", "--pin-port"} << false
            << "TCPIP0::127.0.0.1::inst0::INSTR vxi11-port=%1"
            << ": vxi11-port=1 no longer answers; now vxi11-port=%1\n";
        QTest::newRow("asked on a terminal")
            << QStringList{"--add"} << false << "TCPIP0::127.0.0.1::inst0::INSTR"
            << ": vxi11-port=1 no longer answers; the portmapper is asked at each connection\n";
        QTest::newRow("pinned port still answers")
            << QStringList{"--yes"} << true << "TCPIP0::127.0.0.1::inst0::INSTR vxi11-port=%1"
            << " is already in ";
    }
    void aPinnedPortIsUpdatedOnlyWhenItNoLongerAnswers() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, pinnedAnswers);
        QFETCH(QString, line);
        QFETCH(QString, said);
        sim::SimConfig config;
        config.vxi11Port = 0;
        testing::RunningSim sim(config);
        const QString live = QString::number(sim.vxi11Port());
        // Port 1 on loopback refuses at once: an instrument that moved to another port.
        const QString pinned = pinnedAnswers ? live : QString("1");
        Workspace workspace;
        workspace.result.searched = {"lo (127.0.0.1)"};
        workspace.result.found = {
            {"127.0.0.1", std::uint16_t(pinnedAnswers ? 2 : sim.vxi11Port()), "lo", "ID", ""}};
        const QString before = "# mine\nTCPIP0::127.0.0.1::inst0::INSTR vxi11-port=" + pinned +
                               "\nTCPIP0::127.0.0.1::5025::SOCKET\n";
        workspace.writeUserFile(before.toLatin1());
        const bool asked = arguments.contains("--add");
        auto outcome = workspace.run(QStringList{"discover"} + arguments, "y\n", asked);
        QCOMPARE(outcome.exitCode, int(rm::ExitOk));
        QCOMPARE(workspace.userFileText(),
                 "# mine\n" + line.arg(live) + "\nTCPIP0::127.0.0.1::5025::SOCKET\n");
        QVERIFY2(outcome.out.contains(said.arg(live)), qPrintable(outcome.out));
        if (asked) {
            QVERIFY2(outcome.out.contains("update TCPIP0::127.0.0.1::inst0::INSTR in "),
                     qPrintable(outcome.out));
        }
        if (!pinnedAnswers) {
            QVERIFY2(outcome.out.contains("updated TCPIP0::127.0.0.1::inst0::INSTR in "),
                     qPrintable(outcome.out));
        }
        // A second discover finds the line as it should be.
        const QString after = workspace.userFileText();
        QVERIFY(workspace.run(QStringList{"discover"} + arguments, "y\n", asked)
                    .out.contains(" is already in "));
        QCOMPARE(workspace.userFileText(), after);
    }

    void addAsksOnATerminalOnly() {
        Workspace workspace;
        workspace.result = twoFound();
        auto piped = workspace.run({"discover", "--add"}, "y\ny\n", false);
        QCOMPARE(piped.exitCode, int(rm::ExitOk));
        QVERIFY2(piped.err.contains("--yes"), qPrintable(piped.err));
        QVERIFY(workspace.userFileText().isEmpty());

        auto asked = workspace.run({"discover", "--add"}, "n\n Yes \n", true);
        QCOMPARE(asked.exitCode, int(rm::ExitOk));
        QCOMPARE(asked.out.count("? [y/N] "), 2);
        QVERIFY2(asked.out.startsWith(
                     "TCPIP0::192.0.2.20::inst0::INSTR  vxi11-port=1024  MAKER,MODEL,1,1.0\n"),
                 qPrintable(asked.out));
        QVERIFY2(
            asked.out.contains(QRegularExpression(
                R"(\nadd TCPIP0::192\.0\.2\.20::inst0::INSTR to \S+/resources\.conf\? \[y/N\] )")),
            qPrintable(asked.out));
        QVERIFY(!workspace.userFileText().contains("192.0.2.20"));
        QVERIFY(workspace.userFileText().endsWith("TCPIP0::192.0.2.21::inst0::INSTR\n"));

        // The end of the input answers no to the rest.
        Workspace other;
        other.result = twoFound();
        QCOMPARE(other.run({"discover", "--add"}, "", true).exitCode, int(rm::ExitOk));
        QVERIFY(other.userFileText().isEmpty());
    }

    void helpTellsOfDiscover() {
        Workspace workspace;
        auto help = workspace.run({"help"});
        QVERIFY(help.out.contains(
            "discover [--interface NAME]... [--timeout MS] [--add | --yes] [--pin-port]"));
        QVERIFY(help.out.contains("discover found nothing"));
        QVERIFY(workspace.calls.empty());
    }

    // Runs inNamespace() below in a network namespace of its own.
    void endToEndInOwnNetworkNamespace() {
        if (qEnvironmentVariable("LUMETRA_RM").isEmpty() ||
            qEnvironmentVariable("SCOPESIM").isEmpty()) {
            QSKIP("LUMETRA_RM and SCOPESIM are not set (ctest sets them)");
        }
        const QString unshare = QStandardPaths::findExecutable("unshare");
        if (unshare.isEmpty()) {
            QSKIP("unshare (util-linux) is not installed");
        }
        if (QStandardPaths::findExecutable("ip").isEmpty() &&
            QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin"}).isEmpty()) {
            QSKIP("ip (iproute2) is not installed");
        }
        if (QProcess::execute(unshare, {"-rn", "true"}) != 0) {
            QSKIP("unshare -rn does not work here (no unprivileged user namespaces)");
        }
        const QString outer = networkNamespace();
        QVERIFY2(!outer.isEmpty(), "/proc/self/ns/net is readable");
        QProcess inner;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(OuterNamespaceVariable, outer);
        inner.setProcessEnvironment(environment);
        inner.setProcessChannelMode(QProcess::MergedChannels);
        inner.start(unshare, {"-rn", QCoreApplication::applicationFilePath(), "inNamespace"});
        QVERIFY(inner.waitForFinished(110000));
        const QString log = QString::fromUtf8(inner.readAll());
        QVERIFY2(inner.exitStatus() == QProcess::NormalExit && inner.exitCode() == 0,
                 qPrintable(log));
        QVERIFY2(log.contains("PASS   : TestDiscovery::inNamespace()"), qPrintable(log));
    }

    void inNamespace() {
        const QString outer = qEnvironmentVariable(OuterNamespaceVariable);
        if (outer.isEmpty()) {
            QSKIP(
                "runs only inside the network namespace that endToEndInOwnNetworkNamespace makes");
        }
        // Never send anything unless this is a fresh namespace that has loopback only.
        QVERIFY2(networkNamespace() != outer, "not in a network namespace of our own");
        QCOMPARE(interfaceNames(), QStringList{"lo"});
        QString ip = QStandardPaths::findExecutable("ip");
        if (ip.isEmpty()) {
            ip = QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin"});
        }
        QCOMPARE(QProcess::execute(ip, {"link", "set", "lo", "up"}), 0);

        const QString lumetraRm = qEnvironmentVariable("LUMETRA_RM");
        const QString scopesim = qEnvironmentVariable("SCOPESIM");
        QVERIFY2(!lumetraRm.isEmpty() && !scopesim.isEmpty(), "LUMETRA_RM and SCOPESIM are set");
        QTemporaryDir home;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        auto runRm = [&](const QStringList& args) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(lumetraRm, args);
            process.closeWriteChannel();
            const bool finished = process.waitForFinished(30000);
            return std::make_tuple(finished ? process.exitCode() : -1,
                                   QString::fromUtf8(process.readAllStandardOutput()),
                                   QString::fromUtf8(process.readAllStandardError()));
        };

        // Nothing answers: no portmapper yet.
        QElapsedTimer elapsed;
        elapsed.start();
        auto [silentCode, silentOut, silentErr] =
            runRm({"discover", "--interface", "lo", "--timeout", "300"});
        QCOMPARE(silentCode, 1);
        QVERIFY2(elapsed.elapsed() < 20000, "discovery ends soon after its timeout");
        QVERIFY(silentOut.isEmpty());
        QVERIFY2(silentErr.contains("lo (127.0.0.1)"), qPrintable(silentErr));
        auto [defaultCode, defaultOut, defaultErr] = runRm({"discover"});
        QCOMPARE(defaultCode, 1);
        QVERIFY2(defaultErr.contains("--interface"), qPrintable(defaultErr));
        QCOMPARE(std::get<0>(runRm({"discover", "--interface", "eth0"})), 2);

        QProcess sim;
        sim.start(scopesim, {"--port", "0", "--vxi11-port", "0", "--portmapper", "--root",
                             home.filePath("root")});
        auto stopSim = qScopeGuard([&] {
            sim.terminate();
            if (!sim.waitForFinished(10000)) {
                sim.kill();
                sim.waitForFinished(10000);
            }
        });
        QString simOut;
        const QRegularExpression vxiLine("VXI-11 on 127\\.0\\.0\\.1:(\\d+)");
        QRegularExpressionMatch match;
        for (int k = 0; k < 100 && !(match = vxiLine.match(simOut)).hasMatch(); ++k) {
            QVERIFY2(sim.state() != QProcess::NotRunning,
                     qPrintable(QString::fromUtf8(sim.readAllStandardError())));
            sim.waitForReadyRead(200);
            simOut += QString::fromUtf8(sim.readAllStandardOutput());
        }
        QVERIFY2(match.hasMatch(), qPrintable(simOut));
        const auto vxiPort = static_cast<std::uint16_t>(match.captured(1).toUInt());

        discovery::Options options;
        options.interfaces = {"lo"};
        options.timeout = std::chrono::milliseconds(2000);
        const auto result = discovery::discover(options);
        QVERIFY(result.problems.empty());
        QCOMPARE(result.found.size(), std::size_t(1));
        QCOMPARE(result.found[0].address, std::string("127.0.0.1"));
        QCOMPARE(result.found[0].port, vxiPort);
        QCOMPARE(result.found[0].interfaceName, std::string("lo"));
        QVERIFY2(result.found[0].error.empty(), result.found[0].error.c_str());
        QVERIFY2(QString::fromStdString(result.found[0].identity).contains("NQX8"),
                 result.found[0].identity.c_str());

        const QString expected =
            QString("TCPIP0::127.0.0.1::inst0::INSTR  vxi11-port=%1  ").arg(vxiPort);
        const QString configFile = home.filePath("config/lumetra/resources.conf");
        auto [askCode, askOut, askErr] = runRm({"discover", "--interface", "lo", "--add"});
        QCOMPARE(askCode, 0);
        QVERIFY2(askOut.startsWith(expected), qPrintable(askOut));
        QVERIFY2(askErr.contains("nothing was added"), qPrintable(askErr));
        QVERIFY(!QFile::exists(configFile));

        auto [yesCode, yesOut, yesErr] = runRm({"discover", "--interface", "lo", "--yes"});
        QCOMPARE(yesCode, 0);
        QVERIFY2(yesOut.startsWith(expected), qPrintable(yesOut + yesErr));
        QVERIFY2(yesOut.contains("NQX8"), qPrintable(yesOut));
        QFile file(configFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString written = QString::fromUtf8(file.readAll());
        QVERIFY2(written.contains("\nTCPIP0::127.0.0.1::inst0::INSTR\n"), qPrintable(written));

        // What was added works as typed: the portmapper tells the port at each connection.
        auto [probeCode, probeOut, probeErr] = runRm({"probe"});
        QCOMPARE(probeCode, 0);
        QVERIFY2(probeOut.contains("NQX8"), qPrintable(probeOut + probeErr));
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "test_discovery.moc"
