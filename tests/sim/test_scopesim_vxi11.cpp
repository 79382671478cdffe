// The simulator's VXI-11 core and abort channels as an independent RPC client sees them, and the
// fault switches on that link.
#include "sim/scope_server.h"
#include "tests/sim/scpi_test_client.h"
#include "tests/sim/vxi11_test_client.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <future>
#include <memory>

using namespace std::chrono_literals;
using scopesim_test::ScpiClient;
using scopesim_test::Vxi11Client;
using scopesim_test::waitUntil;
namespace vxi11 = lumetra::vxi11;

namespace {

std::string readLog(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

} // namespace

class ScopeSimVxi11Test : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root_;
    std::unique_ptr<sim::ScopeServer> server_;

    void start(sim::SimConfig c = {}) {
        c.root = root_->path().toStdString();
        c.vxi11Port = 0;
        server_ = std::make_unique<sim::ScopeServer>(std::move(c));
        server_->start();
    }
    std::uint16_t port() const { return server_->vxi11Port(); }

private slots:
    void init() {
        root_ = std::make_unique<QTemporaryDir>();
        QVERIFY(root_->isValid());
    }

    void cleanup() {
        server_.reset();
        root_.reset();
    }

    // The status byte over VXI-11 is the one *STB? gives on the raw socket, with the
    // message-available bit for a reply not read yet.
    void readStbFollowsTheStatusModel_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("replyLeftUnread");
        QTest::addColumn<int>("expected");
        QTest::newRow("quiet") << "*CLS" << false << 0;
        QTest::newRow("reply waiting") << "*CLS;*IDN?" << true << 0x10;
        QTest::newRow("reply waiting, enabled") << "*CLS;*SRE 16;*IDN?" << true << 0x50;
        QTest::newRow("event queued") << "*CLS;BOGUS" << false << 0x04;
        QTest::newRow("event enabled") << "*CLS;*SRE 4;BOGUS" << false << 0x44;
        QTest::newRow("standard event") << "*CLS;*ESE 32;BOGUS" << false << 0x24;
        QTest::newRow("other bit enabled") << "*CLS;*SRE 32;*IDN?" << true << 0x10;
    }

    void readStbFollowsTheStatusModel() {
        QFETCH(QString, setup);
        QFETCH(bool, replyLeftUnread);
        QFETCH(int, expected);
        start();
        Vxi11Client client(port());
        const long link = client.createLink().lid;
        QCOMPARE(client.write(link, "HEAD 0;" + setup.toStdString()), 0L);
        QCOMPARE(client.readStb(link), expected);
        if (replyLeftUnread) {
            QCOMPARE(client.read(link).data, std::string(sim::DefaultIdn) + "\n");
        }
        // Once read, the same state over the raw socket.
        ScpiClient raw(server_->ports().at(0));
        const auto viaRaw = raw.query("*STB?");
        QVERIFY(viaRaw.has_value());
        QCOMPARE(client.readStb(link), std::stoi(*viaRaw));
    }

    void triggerIsStarTrg() {
        sim::SimConfig c;
        c.triggerPeriod = 60s;
        start(c);
        Vxi11Client client(port());
        const long link = client.createLink().lid;
        QCOMPARE(client.write(link, "HEAD 0;ACQ:STOPA SEQ;STATE 1"), 0L);
        QCOMPARE(client.query(link, "BUSY?;ACQ:NUMACQ?"), std::optional<std::string>("1;0"));
        QCOMPARE(client.trigger(link), 0L);
        QCOMPARE(client.query(link, "BUSY?;ACQ:NUMACQ?"), std::optional<std::string>("0;1"));
        // The same through the raw socket's *TRG.
        ScpiClient raw(server_->ports().at(0));
        QVERIFY(raw.send("HEAD 0;ACQ:STATE 1;*TRG"));
        QCOMPARE(raw.query("BUSY?;ACQ:NUMACQ?;:ALLEV?"),
                 std::optional<std::string>("0;1;0,\"No events to report - queue empty\""));
        QCOMPARE(raw.query("*TRG 1;:ALLEV?"),
                 std::optional<std::string>("108,\"Parameter not allowed\""));
    }

    void lockKeepsOtherLinksOut() {
        start();
        Vxi11Client first(port());
        Vxi11Client second(port());
        const long a = first.createLink().lid;
        const long b = second.createLink().lid;
        QCOMPARE(second.unlock(b), vxi11::ErrorNoLockHeld);
        QCOMPARE(first.lock(a), 0L);
        QCOMPARE(first.lock(a), 0L);
        // Without the wait-lock flag every call of another link fails at once.
        QCOMPARE(second.lock(b), vxi11::ErrorDeviceLocked);
        QCOMPARE(second.write(b, "*CLS"), vxi11::ErrorDeviceLocked);
        QCOMPARE(second.read(b).error, vxi11::ErrorDeviceLocked);
        QCOMPARE(second.readStb(b), -static_cast<int>(vxi11::ErrorDeviceLocked));
        QCOMPARE(second.trigger(b), vxi11::ErrorDeviceLocked);
        QCOMPARE(second.clear(b), vxi11::ErrorDeviceLocked);
        QCOMPARE(second.unlock(b), vxi11::ErrorNoLockHeld);
        QCOMPARE(second.createLink("inst0", true, 0).error, vxi11::ErrorDeviceLocked);
        // Only the connection that made a link may destroy it.
        QCOMPARE(second.destroyLink(a), vxi11::ErrorInvalidLink);
        // With it, they wait for the lock as long as they said, then fail.
        QCOMPARE(second.write(b, "*CLS", vxi11::FlagWaitLock | vxi11::FlagEnd, 100),
                 vxi11::ErrorDeviceLocked);
        QCOMPARE(second.lock(b, vxi11::FlagWaitLock, 100), vxi11::ErrorDeviceLocked);
        // The holder goes on as before.
        QCOMPARE(first.query(a, "HEAD 0;BUSY?"), std::optional<std::string>("0"));
        QCOMPARE(first.unlock(a), 0L);
        QCOMPARE(first.unlock(a), vxi11::ErrorNoLockHeld);
        QCOMPARE(second.query(b, "BUSY?"), std::optional<std::string>("0"));
    }

    void waitingLinkGetsTheLockWhenItIsGivenUp_data() {
        QTest::addColumn<QString>("release");
        QTest::newRow("unlock") << "unlock";
        QTest::newRow("destroy link") << "destroy";
        QTest::newRow("connection lost") << "disconnect";
    }

    void waitingLinkGetsTheLockWhenItIsGivenUp() {
        QFETCH(QString, release);
        start();
        auto first = std::make_unique<Vxi11Client>(port());
        Vxi11Client second(port());
        const long a = first->createLink("inst0", true, 0).lid;
        const long b = second.createLink().lid;
        auto waiting = std::async(std::launch::async,
                                  [&] { return second.lock(b, vxi11::FlagWaitLock, 60000); });
        QCOMPARE(waiting.wait_for(200ms), std::future_status::timeout);
        if (release == "unlock") {
            QCOMPARE(first->unlock(a), 0L);
        } else if (release == "destroy") {
            QCOMPARE(first->destroyLink(a), 0L);
        } else {
            first.reset();
        }
        QCOMPARE(waiting.wait_for(10s), std::future_status::ready);
        QCOMPARE(waiting.get(), 0L);
        QCOMPARE(second.query(b, "HEAD 0;BUSY?"), std::optional<std::string>("0"));
        // A link that was destroyed or lost is gone for every connection.
        QCOMPARE(second.lock(a),
                 release == "unlock" ? vxi11::ErrorDeviceLocked : vxi11::ErrorInvalidLink);
    }

    void abortEndsAReadInProgress() {
        start();
        Vxi11Client client(port());
        const Create_LinkResp created = client.createLink();
        QCOMPARE(created.error, 0L);
        QVERIFY(created.abortPort != 0);
        QCOMPARE(scopesim_test::abortLink(created.abortPort, created.lid + 100),
                 vxi11::ErrorInvalidLink);
        // Nothing in progress: nothing to end, and no harm done.
        QCOMPARE(scopesim_test::abortLink(created.abortPort, created.lid), 0L);
        auto reading =
            std::async(std::launch::async, [&] { return client.read(created.lid, 60000); });
        QCOMPARE(reading.wait_for(200ms), std::future_status::timeout);
        QCOMPARE(scopesim_test::abortLink(created.abortPort, created.lid), 0L);
        QCOMPARE(reading.wait_for(10s), std::future_status::ready);
        QCOMPARE(reading.get().error, vxi11::ErrorAbort);
        // The link works on after it.
        QCOMPARE(client.query(created.lid, "HEAD 0;BUSY?"), std::optional<std::string>("0"));
    }

    void abortEndsAWaitForTheLock() {
        start();
        Vxi11Client first(port());
        Vxi11Client second(port());
        const long a = first.createLink("inst0", true, 0).lid;
        const Create_LinkResp b = second.createLink();
        auto waiting = std::async(std::launch::async, [&] {
            return second.write(b.lid, "*CLS", vxi11::FlagWaitLock | vxi11::FlagEnd, 60000);
        });
        QCOMPARE(waiting.wait_for(200ms), std::future_status::timeout);
        QCOMPARE(scopesim_test::abortLink(b.abortPort, b.lid), 0L);
        QCOMPARE(waiting.wait_for(10s), std::future_status::ready);
        QCOMPARE(waiting.get(), vxi11::ErrorAbort);
        QCOMPARE(first.query(a, "HEAD 0;BUSY?"), std::optional<std::string>("0"));
    }

    void refusingCoversTheVxi11Channels() {
        start();
        const Create_LinkResp created = Vxi11Client(port()).createLink();
        QVERIFY(created.abortPort != 0);
        server_->setRefusing(true);
        ScpiClient probe;
        QCOMPARE(probe.connectTo(port()), ECONNREFUSED);
        QCOMPARE(probe.connectTo(created.abortPort), ECONNREFUSED);
        QCOMPARE(probe.connectTo(server_->ports().at(0)), ECONNREFUSED);
        server_->setRefusing(false);
        Vxi11Client client(port());
        const long link = client.createLink().lid;
        QCOMPARE(client.query(link, "HEAD 0;BUSY?"), std::optional<std::string>("0"));
        QCOMPARE(probe.connectTo(created.abortPort), 0);
    }

    void refusingFromTheStartCoversVxi11() {
        sim::SimConfig c;
        c.faults.refusing = true;
        start(c);
        ScpiClient probe;
        QCOMPARE(probe.connectTo(port()), ECONNREFUSED);
        server_->setRefusing(false);
        QCOMPARE(probe.connectTo(port()), 0);
    }

    void connectionClosesAfterItsMessages() {
        sim::SimConfig c;
        c.faults.closeAfterMessages = 3;
        start(c);
        Vxi11Client client(port());
        const long link = client.createLink().lid;
        QCOMPARE(client.write(link, "HEAD 0\n*CLS\n"), 0L);
        // The third message is answered, the fourth in the same write is not run.
        QCOMPARE(client.write(link, "*IDN?\nACQ:STATE 0\n"), 0L);
        QCOMPARE(client.read(link).data, std::string(sim::DefaultIdn) + "\n");
        QCOMPARE(client.readStb(link), -1);
        QVERIFY(client.last() != RPC_SUCCESS);

        // Lowered to what a connection already sent, the switch closes it at once.
        server_->setCloseAfterMessages(0);
        Vxi11Client twice(port());
        const long used = twice.createLink().lid;
        QCOMPARE(twice.write(used, "*CLS\n*CLS\n"), 0L);
        server_->setCloseAfterMessages(2);
        QCOMPARE(twice.readStb(used), -1);
        server_->setCloseAfterMessages(0);
        Vxi11Client again(port());
        const long other = again.createLink().lid;
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(again.query(other, "ACQ:STATE?"), std::optional<std::string>("1"));
        }
    }

    void mutedLinkDropsMessagesAndTheTrigger() {
        sim::SimConfig c;
        c.triggerPeriod = 60s;
        start(c);
        Vxi11Client client(port());
        const long link = client.createLink().lid;
        QCOMPARE(client.write(link, "HEAD 0;ACQ:STOPA SEQ;STATE 1"), 0L);
        server_->setMuted(true);
        QCOMPARE(client.trigger(link), 0L);
        QCOMPARE(client.write(link, "*IDN?"), 0L);
        QCOMPARE(client.read(link, 300).error, vxi11::ErrorIoTimeout);
        server_->setMuted(false);
        QCOMPARE(client.query(link, "BUSY?"), std::optional<std::string>("1"));
    }

    void replyFaultsApplyToDeviceRead() {
        sim::SimConfig c;
        c.faults.malformedReply = 1;
        c.faults.splitReplyChunk = 7;
        start(c);
        Vxi11Client client(port());
        const long link = client.createLink().lid;
        QCOMPARE(client.write(link, "HEAD 0;*IDN?"), 0L);
        const scopesim_test::ReadResult first = client.read(link);
        QCOMPARE(first.data, std::string("#900000"));
        QCOMPARE(first.reason, 0L);
        QCOMPARE(client.clear(link), 0L);
        server_->setSplitReplyChunk(0);
        QCOMPARE(client.query(link, "*IDN?"), std::optional<std::string>(sim::DefaultIdn));
    }

    void trafficLogNamesLinksAndEvents() {
        const QString log = root_->filePath("traffic.log");
        sim::SimConfig c;
        c.instruments.front().logFile = log.toStdString();
        start(c);
        {
            Vxi11Client client(port());
            const long link = client.createLink().lid;
            // A carriage return before the line feed is no part of the message.
            QCOMPARE(client.query(link, "HEAD 0;*OPC?\r\n"), std::optional<std::string>("1"));
            QCOMPARE(client.write(link, "*IDN?\n*IDN?\n"), 0L);
            QCOMPARE(client.readStb(link), 0x10);
            QCOMPARE(client.clear(link), 0L);
            QCOMPARE(client.lock(link), 0L);
            QCOMPARE(client.trigger(link), 0L);
            QCOMPARE(client.unlock(link), 0L);
            server_->setMuted(true);
            QCOMPARE(client.write(link, "*CLS"), 0L);
            QCOMPARE(client.read(link, 10).error, vxi11::ErrorIoTimeout);
            server_->setMuted(false);
            const long second = client.createLink().lid;
            QCOMPARE(client.destroyLink(second), 0L);
        }
        QVERIFY(waitUntil([&] {
            return QFile(log).size() > 0 && readLog(log).ends_with("with its connection\n");
        }));
        QCOMPARE(scopesim_test::withoutTimes(readLog(log)),
                 std::string("vxi11:1 * link created to inst0\n"
                             "vxi11:1 > HEAD 0;*OPC?\n"
                             "vxi11:1 < 1\n"
                             "vxi11:1 > *IDN?\n"
                             "vxi11:1 < ") +
                     sim::DefaultIdn +
                     "\n"
                     "vxi11:1 > *IDN?\n"
                     "vxi11:1 < " +
                     sim::DefaultIdn +
                     "\n"
                     "vxi11:1 * device_readstb: 16\n"
                     "vxi11:1 * device_clear dropped 2 unread replies\n"
                     "vxi11:1 * device_lock: locked\n"
                     "vxi11:1 * device_trigger\n"
                     "vxi11:1 > *TRG\n"
                     "vxi11:1 * device_unlock: unlocked\n"
                     "vxi11:1 x *CLS\n"
                     "vxi11:1 * device_read timed out\n"
                     "vxi11:2 * link created to inst0\n"
                     "vxi11:2 * link destroyed\n"
                     "vxi11:1 * link lost with its connection\n");
    }

    void unsupportedCallsSayOperationNotSupported() {
        start();
        Vxi11Client client(port());
        const long link = client.createLink().lid;
        Device_GenericParms parameters{};
        parameters.lid = link;
        scopesim_test::RpcChannel channel(port(), DEVICE_CORE, DEVICE_CORE_VERSION);
        Device_Error result{-1};
        QCOMPARE(channel.call(16, reinterpret_cast<xdrproc_t>(xdr_Device_GenericParms), parameters,
                              reinterpret_cast<xdrproc_t>(xdr_Device_Error), result),
                 RPC_SUCCESS);
        QCOMPARE(result.error, vxi11::ErrorNotSupported);
    }
};

QTEST_GUILESS_MAIN(ScopeSimVxi11Test)
#include "test_scopesim_vxi11.moc"
