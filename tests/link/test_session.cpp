#include "platform/lumetra/session.h"
#include "tests/link/link_test_helpers.h"
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

ResourceName socketResource(std::uint16_t port) {
    return ResourceName::parse("TCPIP0::127.0.0.1::" + std::to_string(port) + "::SOCKET");
}

} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void queryReturnsReplyWithoutTerminator() {
        testing::RunningSim sim;
        Session session(socketResource(sim.port()), 2000ms);
        QVERIFY(!session.isOpen()); // creating a session does no I/O
        session.write("HEAD 0");
        QVERIFY(session.isOpen());
        QCOMPARE(QString::fromStdString(session.query("*IDN?")), QString(sim::DefaultIdn));
        QCOMPARE(session.query("BUSY?"), std::string("0"));
        QCOMPARE(sim.traffic(), (QStringList{"HEAD 0", "*IDN?", "BUSY?"}));
    }

    void stalledInstrumentTimesOutWithinTheTimeout() {
        testing::RunningSim sim;
        Session session(socketResource(sim.port()), 300ms);
        QCOMPARE(session.query("HEAD 0;*OPC?"), std::string("1"));
        sim.server().setMuted(true);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failureOf([&] { session.query("BUSY?"); }), status::ErrorTimeout);
        QVERIFY2(clock.elapsed() >= 290, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        sim.server().setMuted(false);
        QCOMPARE(session.query("BUSY?"), std::string("0"));
    }

    void refusedConnectionGivesNegativeStatus() {
        Session session(socketResource(closedPort()), 1000ms);
        const auto code = failureOf([&] { session.write("*CLS"); });
        QVERIFY(code < 0);
        QCOMPARE(code, status::ErrorMachineNotAvailable);
        QVERIFY(!session.isOpen());
    }

    void refusingSimulatorGivesNegativeStatusThenAccepts() {
        testing::RunningSim sim;
        Session session(socketResource(sim.port()), 1000ms);
        sim.server().setRefusing(true);
        QCOMPARE(failureOf([&] { session.query("HEAD 0;*IDN?"); }),
                 status::ErrorMachineNotAvailable);
        sim.server().setRefusing(false);
        QCOMPARE(QString::fromStdString(session.query("HEAD 0;*IDN?")), QString(sim::DefaultIdn));
    }

    void reconnectsAfterTheInstrumentRestarts() {
        testing::RunningSim sim;
        Session session(socketResource(sim.port()), 1000ms);
        QCOMPARE(session.query("HEAD 0;*OPC?"), std::string("1"));
        sim.stop();
        QVERIFY(failureOf([&] { session.query("HEAD 0;*OPC?"); }) < 0);
        sim.restart();
        QCOMPARE(session.query("HEAD 0;*OPC?"), std::string("1"));
    }

    void firstOperationAfterARestartAlreadyWorks() {
        testing::RunningSim sim;
        Session session(socketResource(sim.port()), 1000ms);
        QCOMPARE(session.query("HEAD 0;*OPC?"), std::string("1"));
        sim.restart();
        QTest::qWait(50);
        QCOMPARE(session.query("HEAD 0;*OPC?"), std::string("1"));
    }

    void connectionClosedByInstrumentIsReopened() {
        sim::SimConfig config;
        config.faults.closeAfterMessages = 1;
        testing::RunningSim sim(config);
        Session session(socketResource(sim.port()), 1000ms);
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(session.query("HEAD 0;*OPC?"), std::string("1"));
            QTest::qWait(20);
        }
    }

    void splitReplyIsReadWhole() {
        sim::SimConfig config;
        config.faults.splitReplyChunk = 3;
        testing::RunningSim sim(config);
        Session session(socketResource(sim.port()), 2000ms);
        QCOMPARE(QString::fromStdString(session.query("HEAD 0;*IDN?")), QString(sim::DefaultIdn));
    }

    void malformedReplyTimesOutAndNeverReturnsPartOfIt() {
        sim::SimConfig config;
        config.faults.malformedReply = 1;
        testing::RunningSim sim(config);
        Session session(socketResource(sim.port()), 300ms);
        QCOMPARE(failureOf([&] { session.query("HEAD 0;*IDN?"); }), status::ErrorTimeout);
        QCOMPARE(QString::fromStdString(session.query("HEAD 0;*IDN?")), QString(sim::DefaultIdn));
    }

    void lateReplyIsNeverTakenForTheNextAnswer() {
        testing::RunningSim sim;
        Session session(socketResource(sim.port()), 200ms);
        session.write("HEAD 0");
        sim.server().setReplyDelay(500ms);
        QCOMPARE(failureOf([&] { session.query("HEAD 0;*IDN?"); }), status::ErrorTimeout);
        sim.server().setReplyDelay(0ms);
        QTest::qWait(600); // the late reply has been sent by now
        QCOMPARE(session.query("BUSY?"), std::string("0"));
    }

    void clearDropsPendingReply() {
        testing::RunningSim sim;
        Session session(socketResource(sim.port()), 1000ms);
        session.write("HEAD 0;*IDN?");
        QTest::qWait(100);
        session.clear();
        QCOMPARE(session.query("BUSY?"), std::string("0"));
    }

    void clearWithoutLinkDoesNoIo() {
        Session session(socketResource(closedPort()), 200ms);
        session.clear();
        QVERIFY(!session.isOpen());
    }

    void timeoutCanChange() {
        testing::RunningSim sim;
        Session session(socketResource(sim.port()), 2000ms);
        session.setTimeout(150ms);
        QCOMPARE(session.timeout(), 150ms);
        QCOMPARE(failureOf([&] { session.setTimeout(-1ms); }),
                 status::ErrorAttributeStateNotSupported);
        sim.server().setMuted(true);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failureOf([&] { session.query("HEAD 0;*IDN?"); }), status::ErrorTimeout);
        QVERIFY(clock.elapsed() < 2000);
    }

    void errorTextNamesTheResource() {
        const auto resource = socketResource(closedPort());
        Session session(resource, 500ms);
        try {
            session.query("HEAD 0;*IDN?");
            QFAIL("query of a closed port succeeded");
        } catch (const lumetra::Error& error) {
            QVERIFY2(QString(error.what()).startsWith(QString::fromStdString(resource.canonical())),
                     error.what());
        }
    }

    void everyResourceClassHasALinkAndMakingOneDoesNoIo() {
        for (const char* name : {"TCPIP0::127.0.0.1::inst0::INSTR",
                                 "USB0::0x1234::0x5678::SN1::INSTR", "ASRL/dev/ttyS0::INSTR"}) {
            Session session(ResourceName::parse(name));
            QVERIFY(!session.isOpen());
        }
        QCOMPARE(lumetra::supportedLinks(),
                 (std::vector<std::string>{"TCPIP::SOCKET", "TCPIP::INSTR", "USB::INSTR",
                                           "ASRL::INSTR"}));
    }

    void unknownHostFailsWithinTheTimeout() {
        Session session(ResourceName::parse("TCPIP0::no-such-instrument.invalid::5025::SOCKET"),
                        1000ms);
        QElapsedTimer clock;
        clock.start();
        const auto code = failureOf([&] { session.query("HEAD 0;*IDN?"); });
        QVERIFY(code == status::ErrorResourceNotFound || code == status::ErrorTimeout);
        QVERIFY(clock.elapsed() < 5000);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
