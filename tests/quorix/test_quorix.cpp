#include "platform/quorix/quorix.h"
#include "tests/link/link_test_helpers.h"
#include "tests/link/loopback_peers.h"
#include "tests/support/running_sim.h"

#include <QElapsedTimer>
#include <QtTest>
#include <sstream>

using quorix::Quorix;
namespace status = lumetra::status;

namespace {

Quorix controlWith(const testing::ResourcesFile& resources, std::ostream* trace = nullptr) {
    return Quorix(lumetra::ResourceManager(resources.files()), lumetra::makeTransport, trace);
}

const QString DeadResource = QStringLiteral("TCPIP0::127.0.0.1::1::SOCKET");

} // namespace

class TestQuorix : public QObject {
    Q_OBJECT
private slots:
    void resourceListIsNoListWhenNothingIsKnown() {
        testing::ResourcesFile resources({"# nothing here yet", ""});
        Quorix control = controlWith(resources);
        QVERIFY(!control.ResourceList().has_value());
    }

    void resourceListKeepsOrder() {
        testing::ResourcesFile resources(
            {"TCPIP::127.0.0.1::5001::SOCKET", "tcpip0::127.0.0.1::5000::socket"});
        Quorix control = controlWith(resources);
        const auto list = control.ResourceList();
        QVERIFY(list.has_value());
        QCOMPARE(*list, (QStringList{"TCPIP0::127.0.0.1::5001::SOCKET",
                                     "TCPIP0::127.0.0.1::5000::SOCKET"}));
    }

    void writeAndQueryReachTheInstrument() {
        testing::RunningSim sim;
        testing::ResourcesFile resources({sim.resource()});
        Quorix control = controlWith(resources);
        control.setSetting(14, 300);
        control.setSetting(1, 0);
        control.setResourceName(control.ResourceList()->first());
        QCOMPARE(control.ResourceName(), sim.resource());
        control.Clear();
        control.Write("HEAD 0");
        QCOMPARE(control.LastStatus(), 0);
        QCOMPARE(control.Query("*IDN?"), QString(sim::DefaultIdn));
        QCOMPARE(control.LastStatus(), 0);
        QCOMPARE(control.Query("BUSY?"), QString("0"));
        QCOMPARE(sim.traffic(), (QStringList{"HEAD 0", "*IDN?", "BUSY?"}));
    }

    void failureRaisesWhileReportErrorsIsOn() {
        testing::ResourcesFile resources;
        Quorix control = controlWith(resources);
        control.setSetting(14, 300);
        control.setResourceName(DeadResource);
        QVERIFY(control.ReportErrors());
        try {
            control.Write("*CLS");
            QFAIL("a write to a dead resource did not raise");
        } catch (const quorix::Error& error) {
            QVERIFY(error.status() < 0);
            QVERIFY(error.text().contains(DeadResource));
        }
        QVERIFY(control.LastStatus() < 0);
        QVERIFY_THROWS_EXCEPTION(quorix::Error, control.Query("*IDN?"));
    }

    void failureOnlyShowsInLastStatusWhileReportErrorsIsOff() {
        testing::RunningSim sim;
        testing::ResourcesFile resources;
        Quorix control = controlWith(resources);
        control.setSetting(14, 300);
        control.setReportErrors(false);
        control.setResourceName(DeadResource);
        control.Write("*CLS");
        QCOMPARE(control.LastStatus(), status::ErrorMachineNotAvailable);
        QCOMPARE(control.Query("*IDN?"), QString());
        QVERIFY(control.LastStatus() < 0);
        control.setResourceName(sim.resource());
        control.Write("HEAD 0");
        QCOMPARE(control.LastStatus(), 0);
    }

    // Latin-1 goes out byte for byte; anything beyond it is refused before a byte is sent.
    void charactersBeyondLatin1AreRefused_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("named"); // the character as the error names it; empty: sent
        QTest::newRow("last Latin-1 character") << QString("SAV:IMAG \"D:\\\u00ff\"") << "";
        QTest::newRow("first beyond") << QString("SAV:IMAG \"D:\\\u0100\"") << "U+0100";
        QTest::newRow("euro sign") << QString("SAV:WAVE ALL, \"D:\\\u20ac_1\"") << "U+20AC";
        QTest::newRow("outside the basic plane")
            << QString("SAV:IMAG \"D:\\") + QString::fromUcs4(U"\U0001F600") + "\""
            << "U+1F600";
    }
    void charactersBeyondLatin1AreRefused() {
        QFETCH(QString, text);
        QFETCH(QString, named);
        testing::RunningSim sim;
        testing::ResourcesFile resources({sim.resource()});
        Quorix control = controlWith(resources);
        control.setResourceName(sim.resource());
        control.setReportErrors(false);
        control.Write(text);
        if (named.isEmpty()) {
            QCOMPARE(control.LastStatus(), 0);
            QTRY_COMPARE(sim.traffic(), QStringList{text});
            return;
        }
        QCOMPARE(control.LastStatus(), std::int32_t(0xBFFF003Fu));
        QCOMPARE(control.Query(text), QString());
        QCOMPARE(control.LastStatus(), std::int32_t(0xBFFF003Fu));
        control.setReportErrors(true);
        try {
            control.Write(text);
            QFAIL("an unsendable command did not raise");
        } catch (const quorix::Error& error) {
            QCOMPARE(error.status(), std::int32_t(0xBFFF003Fu));
            QVERIFY2(error.text().contains(named), qPrintable(error.text()));
        }
        control.Write("HEAD 0");
        QCOMPARE(control.LastStatus(), 0);
        QTRY_COMPARE(sim.traffic(), QStringList{"HEAD 0"});
    }

    void timeoutSettingBoundsAFailingQuery() {
        testing::RunningSim sim;
        testing::ResourcesFile resources;
        Quorix control = controlWith(resources);
        control.setSetting(14, 300);
        QCOMPARE(control.timeout(), std::chrono::milliseconds(300));
        control.setReportErrors(false);
        control.setResourceName(sim.resource());
        control.Write("HEAD 0");
        sim.server().setMuted(true);
        QElapsedTimer clock;
        clock.start();
        control.Query("BUSY?");
        QCOMPARE(control.LastStatus(), status::ErrorTimeout);
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    }

    void timeoutSettingAppliesToTheCurrentSession() {
        testing::RunningSim sim;
        testing::ResourcesFile resources;
        Quorix control = controlWith(resources);
        control.setReportErrors(false);
        control.setResourceName(sim.resource());
        control.setSetting(14, 200);
        sim.server().setMuted(true);
        QElapsedTimer clock;
        clock.start();
        control.Query("*IDN?");
        QCOMPARE(control.LastStatus(), status::ErrorTimeout);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    }

    void invalidSettingsAreRefused() {
        testing::ResourcesFile resources;
        Quorix control = controlWith(resources);
        QVERIFY_THROWS_EXCEPTION(quorix::Error, control.setSetting(14, -5));
        QVERIFY_THROWS_EXCEPTION(quorix::Error, control.setSetting(99, 0));
        control.setReportErrors(false);
        control.setSetting(99, 0); // silent while errors are not reported
        QCOMPARE(control.timeout(), std::chrono::milliseconds(2000));
    }

    void invalidResourceNameRaises() {
        testing::ResourcesFile resources;
        Quorix control = controlWith(resources);
        try {
            control.setResourceName("TCPIP0::127.0.0.1::SOCKET");
            QFAIL("an invalid resource name was taken");
        } catch (const quorix::Error& error) {
            QCOMPARE(error.status(), status::ErrorInvalidResourceName);
        }
        QCOMPARE(control.ResourceName(), QString("TCPIP0::127.0.0.1::SOCKET"));
        control.setReportErrors(false);
        control.Write("*CLS");
        QCOMPARE(control.LastStatus(), status::ErrorInvalidObject);
    }

    // Start-up passes over an instrument that cannot be reached, whatever its link: its Clear
    // leaves the link closed, and the identification query that follows fails.
    void clearOfAnUnreachableInstrumentDoesNotRaise_data() {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QString>("line");
        const QString deadPort = QString::number(testing::closedPort());
        QTest::newRow("socket") << DeadResource << QString();
        QTest::newRow("vxi11") << "TCPIP0::127.0.0.1::inst0::INSTR"
                               << "TCPIP0::127.0.0.1::inst0::INSTR vxi11-port=" + deadPort;
        QTest::newRow("serial") << "ASRL/dev/no-such-tty::INSTR" << QString();
        QTest::newRow("usbtmc") << "USB0::0x1234::0x5678::NOSUCH::INSTR" << QString();
    }
    void clearOfAnUnreachableInstrumentDoesNotRaise() {
        QFETCH(QString, resource);
        QFETCH(QString, line);
        testing::ResourcesFile resources(line.isEmpty() ? QStringList{} : QStringList{line});
        Quorix control = controlWith(resources);
        control.setResourceName(resource);
        control.Clear();
        QVERIFY(control.LastStatus() >= 0);
        QVERIFY_THROWS_EXCEPTION(quorix::Error, control.Query("*IDN?"));
        QVERIFY(control.LastStatus() < 0);
    }

    void traceSettingShowsUnaskedLinesDropped() {
        testing::ScriptedPeer peer([](int fd) {
            testing::readLine(fd);
            testing::sendAll(fd, "1\nUNASKED\n");
            testing::readLine(fd);
            testing::sendAll(fd, "2\n");
            testing::readLine(fd);
        });
        testing::ResourcesFile resources;
        std::ostringstream trace;
        Quorix control = controlWith(resources, &trace);
        control.setResourceName(QStringLiteral("TCPIP0::127.0.0.1::%1::SOCKET").arg(peer.port()));
        control.setSetting(1, 1);
        QCOMPARE(control.Query("A?"), QString("1"));
        QCOMPARE(control.Query("B?"), QString("2"));
        const QString text = QString::fromStdString(trace.str());
        QVERIFY2(text.contains("quorix: link: dropped 8 unread bytes before the query"),
                 qPrintable(text));
    }

    void clearWithoutResourceRaises() {
        testing::ResourcesFile resources;
        Quorix control = controlWith(resources);
        QVERIFY_THROWS_EXCEPTION(quorix::Error, control.Clear());
        control.setReportErrors(false);
        control.Clear();
    }

    void traceSettingPrintsTraffic() {
        testing::RunningSim sim;
        testing::ResourcesFile resources;
        std::ostringstream trace;
        Quorix control = controlWith(resources, &trace);
        control.setResourceName(sim.resource());
        control.Write("HEAD 0");
        QVERIFY(trace.str().empty());
        control.setSetting(1, 1);
        control.Query("BUSY?");
        const QString text = QString::fromStdString(trace.str());
        QVERIFY2(text.contains("query: BUSY?") && text.contains("reply: 0"), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestQuorix)
#include "test_quorix.moc"
