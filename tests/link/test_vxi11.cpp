#include "platform/lumetra/session.h"
#include "platform/lumetra/vxi11_transport.h"
#include "platform/quorix/quorix.h"
#include "tests/link/link_test_helpers.h"
#include "tests/sim/vxi11_test_client.h"
#include "tests/support/running_sim.h"

#include <QElapsedTimer>
#include <QtTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using lumetra::ResourceName;
using lumetra::Session;
namespace status = lumetra::status;

using testing::closedPort;
using testing::failureOf;

namespace {

sim::SimConfig withVxi11(sim::SimConfig config = {}) {
    config.vxi11Port = 0;
    return config;
}

lumetra::ResourceAttributes portOf(const testing::RunningSim& sim) {
    return {{"vxi11-port", std::to_string(sim.vxi11Port())}};
}

std::unique_ptr<Session> vxi11Session(const testing::RunningSim& sim,
                                      std::chrono::milliseconds timeout, int instrument = 0) {
    return std::make_unique<Session>(
        ResourceName::parse(sim.vxi11Resource(instrument).toStdString()), timeout,
        lumetra::makeTransport, portOf(sim));
}

} // namespace

class TestVxi11 : public QObject {
    Q_OBJECT
private slots:
    void queryReturnsReplyWithoutTerminator() {
        testing::RunningSim sim(withVxi11());
        QVERIFY(sim.vxi11Port() != 0);
        auto session = vxi11Session(sim, 2000ms);
        QVERIFY(!session->isOpen());
        session->write("HEAD 0");
        QVERIFY(session->isOpen());
        QCOMPARE(QString::fromStdString(session->query("*IDN?")), QString(sim::DefaultIdn));
        QCOMPARE(session->query("BUSY?"), std::string("0"));
        QCOMPARE(sim.traffic(), (QStringList{"HEAD 0", "*IDN?", "BUSY?"}));
    }

    void sameTrafficAsOverTheRawSocket() {
        testing::RunningSim sim(withVxi11());
        const std::vector<std::string> messages = {"HEAD 0",      "*IDN?", "ACQ:STOPA SEQ",
                                                   "ACQ:STATE 1", "BUSY?", "*OPC?"};
        std::vector<std::string> viaSocket;
        {
            Session socket(ResourceName::parse(sim.resource().toStdString()), 2000ms);
            for (const auto& message : messages) {
                if (message.back() == '?') {
                    viaSocket.push_back(socket.query(message));
                } else {
                    socket.write(message);
                }
            }
        }
        const QStringList socketTraffic = sim.traffic();
        sim.stop();
        QFile::remove(sim.logPath());
        sim.restart();
        std::vector<std::string> viaVxi11;
        auto session = vxi11Session(sim, 2000ms);
        for (const auto& message : messages) {
            if (message.back() == '?') {
                viaVxi11.push_back(session->query(message));
            } else {
                session->write(message);
            }
        }
        QCOMPARE(viaVxi11, viaSocket);
        QCOMPARE(sim.traffic(), socketTraffic);
    }

    void replyLargerThanOneDeviceReadIsReadWhole() {
        sim::SimConfig config = withVxi11();
        config.instruments.front().idn = std::string(100000, 'x') + ",END";
        testing::RunningSim sim(config);
        // The transport asks for 1000 bytes at a time.
        lumetra::Vxi11Transport link("127.0.0.1", "inst0", sim.vxi11Port(), 1000);
        const auto deadline = lumetra::Clock::now() + 5s;
        link.open(deadline);
        link.write("HEAD 0;*IDN?\n", deadline);
        QCOMPARE(link.read(deadline), config.instruments.front().idn);
        link.write("BUSY?\n", deadline);
        QCOMPARE(link.read(deadline), std::string("0"));
    }

    void replyTheInstrumentSendsInPiecesIsReadWhole() {
        sim::SimConfig config = withVxi11();
        config.faults.splitReplyChunk = 3;
        testing::RunningSim sim(config);
        auto session = vxi11Session(sim, 2000ms);
        QCOMPARE(QString::fromStdString(session->query("HEAD 0;*IDN?")), QString(sim::DefaultIdn));
    }

    void messageLargerThanTheInstrumentTakesAtOnceArrivesWhole() {
        testing::RunningSim sim(withVxi11());
        auto session = vxi11Session(sim, 2000ms);
        const std::string longCommand = "*CLS;" + std::string(40000, ' ') + "HEAD 0";
        session->write(longCommand);
        QCOMPARE(session->query("*OPC?"), std::string("1"));
        QCOMPARE(sim.traffic().value(0), QString::fromStdString(longCommand));
    }

    // A query sends its device_read right behind its device_write. When the write is refused,
    // the link goes at once rather than wait out that read, and the next query opens a fresh
    // link.
    void queryWhoseWriteIsRefusedFailsWithoutWaitingOutItsRead() {
        testing::RunningSim sim(withVxi11());
        scopesim_test::Vxi11Client holder(sim.vxi11Port());
        const long held = holder.createLink().lid;
        QCOMPARE(holder.lock(held), 0L);
        auto session = vxi11Session(sim, 400ms);
        session->open();
        QElapsedTimer clock;
        clock.start();
        QString text;
        try {
            session->query("*IDN?");
        } catch (const lumetra::Error& error) {
            QCOMPARE(error.code(), status::ErrorResourceLocked);
            text = QString::fromStdString(error.what());
        }
        QVERIFY2(clock.elapsed() < 550, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(text.contains(": device_write on inst0 at 127.0.0.1:") &&
                     text.endsWith(" failed with VXI-11 error 11 (locked by another link)"),
                 qPrintable(text));
        QVERIFY(!session->isOpen());
        QCOMPARE(holder.unlock(held), 0L);
        QCOMPARE(session->query("BUSY?"), std::string(":BUSY 0"));
        QCOMPARE(sim.traffic(), QStringList{"BUSY?"});
    }

    void deviceClearDropsAPendingReply() {
        testing::RunningSim sim(withVxi11());
        auto session = vxi11Session(sim, 1000ms);
        // Without a clear, the pending reply is what the next read gets.
        session->write("HEAD 0;*IDN?");
        QCOMPARE(QString::fromStdString(session->read()), QString(sim::DefaultIdn));
        session->write("HEAD 0;*IDN?");
        session->clear();
        QCOMPARE(session->query("BUSY?"), std::string("0"));
    }

    void clearOpensTheLinkWhenNeeded() {
        testing::RunningSim sim(withVxi11());
        auto session = vxi11Session(sim, 1000ms);
        session->clear();
        QVERIFY(session->isOpen());
        QCOMPARE(session->query("HEAD 0;BUSY?"), std::string("0"));
    }

    void stalledInstrumentTimesOutWithinTheTimeout() {
        testing::RunningSim sim(withVxi11());
        auto session = vxi11Session(sim, 300ms);
        QCOMPARE(session->query("HEAD 0;*OPC?"), std::string("1"));
        sim.server().setMuted(true);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failureOf([&] { session->query("BUSY?"); }), status::ErrorTimeout);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        sim.server().setMuted(false);
        QCOMPARE(session->query("BUSY?"), std::string("0"));
    }

    void lateReplyIsNeverTakenForTheNextAnswer() {
        testing::RunningSim sim(withVxi11());
        auto session = vxi11Session(sim, 200ms);
        session->write("HEAD 0");
        sim.server().setReplyDelay(500ms);
        QCOMPARE(failureOf([&] { session->query("HEAD 0;*IDN?"); }), status::ErrorTimeout);
        sim.server().setReplyDelay(0ms);
        QTest::qWait(600);
        QCOMPARE(session->query("BUSY?"), std::string("0"));
    }

    void linkIsCreatedAgainAfterTheSimulatorRestarts() {
        testing::RunningSim sim(withVxi11());
        auto session = vxi11Session(sim, 1000ms);
        QCOMPARE(session->query("HEAD 0;*OPC?"), std::string("1"));
        sim.stop();
        QVERIFY(failureOf([&] { session->query("HEAD 0;*OPC?"); }) < 0);
        sim.restart();
        QCOMPARE(session->query("HEAD 0;*OPC?"), std::string("1"));
        // A restart between two operations is noticed before the next one.
        sim.restart();
        QTest::qWait(50);
        QCOMPARE(session->query("HEAD 0;*OPC?"), std::string("1"));
    }

    void secondInstrumentIsItsOwnLanDeviceName() {
        sim::SimConfig config = withVxi11();
        config.instruments.push_back({0, "SECOND,1,2,3", ""});
        testing::RunningSim sim(config);
        auto second = vxi11Session(sim, 1000ms, 1);
        QCOMPARE(second->query("HEAD 0;*IDN?"), std::string("SECOND,1,2,3"));
        auto missing = vxi11Session(sim, 1000ms, 7);
        QCOMPARE(failureOf([&] { missing->query("*IDN?"); }), status::ErrorResourceNotFound);
    }

    void refusedPortGivesNegativeStatus() {
        Session session(ResourceName::parse("TCPIP0::127.0.0.1::inst0::INSTR"), 1000ms,
                        lumetra::makeTransport, {{"vxi11-port", std::to_string(closedPort())}});
        QCOMPARE(failureOf([&] { session.write("*CLS"); }), status::ErrorMachineNotAvailable);
        QVERIFY(!session.isOpen());
    }

    void quorixUsesThePortConfiguredForTheResource() {
        testing::RunningSim sim(withVxi11());
        testing::ResourcesFile resources(
            {"# VXI-11 with the port given", sim.vxi11Resource() + "  " + sim.vxi11Attributes()});
        quorix::Quorix control{lumetra::ResourceManager(resources.files())};
        const auto names = control.ResourceList();
        QVERIFY(names);
        QCOMPARE(*names, QStringList{"TCPIP0::127.0.0.1::inst0::INSTR"});
        control.setSetting(14, 1000);
        control.setResourceName(names->first());
        control.Write("HEAD 0");
        QCOMPARE(control.Query("*IDN?"), QString(sim::DefaultIdn));
        control.Write("HEAD 0;*IDN?");
        control.Clear();
        QCOMPARE(control.Query("BUSY?"), QString("0"));
    }
};

QTEST_GUILESS_MAIN(TestVxi11)
#include "test_vxi11.moc"
