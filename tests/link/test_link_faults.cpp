// What a link does when its peer misbehaves: unasked lines, replies that trickle in, resets at
// any moment, and lengths announced to exhaust memory.
#include "platform/lumetra/rpc_stream.h"
#include "platform/lumetra/session.h"
#include "platform/lumetra/vxi11/vxi11_protocol.h"
#include "platform/lumetra/xdr_words.h"
#include "tests/link/link_test_helpers.h"
#include "tests/link/loopback_peers.h"
#include "tests/support/running_sim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>
#include <atomic>

using namespace std::chrono_literals;
using lumetra::ResourceName;
using lumetra::Session;
namespace status = lumetra::status;
namespace xdr = lumetra::xdr;
using testing::errorOf;
using testing::failureOf;

namespace {

ResourceName socketResource(std::uint16_t port) {
    return ResourceName::parse("TCPIP0::127.0.0.1::" + std::to_string(port) + "::SOCKET");
}

std::unique_ptr<Session> sessionThrough(const QString& link, std::uint16_t port,
                                        std::chrono::milliseconds timeout) {
    if (link == "socket") {
        return std::make_unique<Session>(socketResource(port), timeout);
    }
    return std::make_unique<Session>(
        ResourceName::parse("TCPIP0::127.0.0.1::inst0::INSTR"), timeout, lumetra::makeTransport,
        lumetra::ResourceAttributes{{"vxi11-port", std::to_string(port)}});
}

long long vmPeakKb() {
    QFile file("/proc/self/status");
    file.open(QIODevice::ReadOnly);
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmPeak:")) {
            return line.mid(7).trimmed().split(' ').front().toLongLong();
        }
    }
    return -1;
}

// One ONC RPC record off a stream: its payload, empty at the end of the stream.
std::string readRecord(int fd) {
    std::string mark(4, '\0');
    if (::recv(fd, mark.data(), 4, MSG_WAITALL) != 4) {
        return {};
    }
    std::size_t offset = 0;
    std::uint32_t word = 0;
    xdr::getWord(mark, offset, word);
    std::string payload(word & 0x7fffffffu, '\0');
    ::recv(fd, payload.data(), payload.size(), MSG_WAITALL);
    return payload;
}

// An accepted, successful reply to `call` carrying `results`, framed with `announced` as its
// record length (the true length when 0).
std::string replyTo(const std::string& call, std::initializer_list<std::uint32_t> results,
                    std::uint32_t announced = 0) {
    std::size_t offset = 0;
    std::uint32_t xid = 0;
    xdr::getWord(call, offset, xid);
    std::string body;
    for (std::uint32_t word : {xid, 1u, 0u, 0u, 0u, 0u}) {
        xdr::putWord(body, word);
    }
    for (std::uint32_t word : results) {
        xdr::putWord(body, word);
    }
    std::string record;
    xdr::putWord(record, 0x80000000u | (announced ? announced : std::uint32_t(body.size())));
    return record + body;
}

// `reply` with opaque `data` appended to its results, its record mark set anew.
std::string withData(std::string reply, const std::string& data) {
    xdr::putWord(reply, std::uint32_t(data.size()));
    reply += data + std::string((4 - data.size() % 4) % 4, '\0');
    std::string mark;
    xdr::putWord(mark, 0x80000000u | std::uint32_t(reply.size() - 4));
    return reply.replace(0, 4, mark);
}

} // namespace

class TestLinkFaults : public QObject {
    Q_OBJECT
private slots:
    void unaskedLinesAreDroppedBeforeTheNextQuery() {
        testing::ScriptedPeer peer([](int fd) {
            testing::readLine(fd);
            testing::sendAll(fd, "1\nUNASKED\n"); // in the same read as the answer
            testing::readLine(fd);
            testing::sendAll(fd, "2\n");
            std::this_thread::sleep_for(10ms);
            testing::sendAll(fd, "LATE\n"); // after the answer was read
            testing::readLine(fd);
            testing::sendAll(fd, "3\n");
            testing::readLine(fd);
        });
        Session session(socketResource(peer.port()), 1000ms);
        QStringList trace;
        session.setTrace([&](const std::string& line) { trace << QString::fromStdString(line); });
        QCOMPARE(session.query("A?"), std::string("1"));
        QCOMPARE(session.query("B?"), std::string("2"));
        QTest::qWait(50);
        QCOMPARE(session.query("C?"), std::string("3"));
        const QString resource = QString::fromStdString(socketResource(peer.port()).canonical());
        QCOMPARE(trace,
                 (QStringList{"dropped 8 unread bytes before the query (" + resource + ")",
                              "dropped 5 unread bytes before the query (" + resource + ")"}));
    }

    void aFileNameWithALineFeedKeepsTheRepliesInStep() {
        testing::RunningSim sim;
        QVERIFY(QDir(sim.root()).mkpath("D"));
        QFile file(sim.root() + "/D/two\nlines.isf");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        Session session(socketResource(sim.port()), 1000ms);
        session.write("HEAD 0");
        const std::string listing = session.query("FILES:DIR?");
        QVERIFY2(listing.find("\"two\nlines.isf\"") != std::string::npos, listing.c_str());
        QCOMPARE(session.query("BUSY?"), std::string("0"));
        QCOMPARE(session.query("*OPC?"), std::string("1"));
    }

    // 600 names trickle out of the simulator at 4 bytes a millisecond, about 3 s in all: ten
    // times the program's 300 ms timeout, which bounds only the silence between bytes.
    void aListingOf600FilesOnASlowLinkArrivesWhole_data() {
        QTest::addColumn<QString>("link");
        QTest::newRow("socket") << "socket";
        QTest::newRow("serial") << "serial";
    }
    void aListingOf600FilesOnASlowLinkArrivesWhole() {
        QFETCH(QString, link);
        sim::SimConfig config;
        config.serialPty = link == "serial";
        testing::RunningSim sim(config);
        QVERIFY(QDir(sim.root()).mkpath("D"));
        for (int k = 0; k < 600; ++k) {
            QFile file(QStringLiteral("%1/D/WFM%2.ISF").arg(sim.root()).arg(100000 + k));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const ResourceName resource =
            link == "socket" ? socketResource(sim.port())
                             : ResourceName::parse("ASRL" + sim.server().serialPath() + "::INSTR");
        Session session(resource, 300ms);
        session.write("HEAD 0");
        sim.server().setSplitReplyChunk(4);
        const std::string listing = session.query("FILES:DIR?");
        QCOMPARE(QString::fromStdString(listing).count(".ISF\""), 600);
        QVERIFY(listing.find("\"WFM100599.ISF\"") != std::string::npos);
        sim.server().setSplitReplyChunk(0);
        QCOMPARE(session.query("BUSY?"), std::string("0"));
    }

    void aLongReplyOnASlowLinkFinishesAndASilentOneFailsFast_data() {
        QTest::addColumn<QString>("link");
        QTest::newRow("socket") << "socket";
        QTest::newRow("vxi11") << "vxi11";
    }
    void aLongReplyOnASlowLinkFinishesAndASilentOneFailsFast() {
        QFETCH(QString, link);
        const std::string listing(1200, 'x');
        // The peer answers the first query slowly, the second not at all after a start.
        auto trickle = [](int fd, const std::string& bytes) {
            for (std::size_t at = 0; at < bytes.size(); at += 40) {
                testing::sendAll(fd, bytes.substr(at, 40));
                std::this_thread::sleep_for(25ms); // 750 ms in all, far past the timeout
            }
        };
        testing::ScriptedPeer peer([&](int fd) {
            if (link == "socket") {
                testing::readLine(fd);
                trickle(fd, listing + "\n");
                testing::readLine(fd);
                testing::sendAll(fd, "partial");
                testing::readLine(fd);
                return;
            }
            testing::sendAll(fd, replyTo(readRecord(fd), {0, 1, 0, 1024})); // create_link
            for (int query = 0; query < 2; ++query) {
                testing::sendAll(fd, replyTo(readRecord(fd), {0, 11})); // device_write
                const std::string reply =
                    withData(replyTo(readRecord(fd), {0, 4}), listing + "\n"); // device_read
                if (query == 0) {
                    trickle(fd, reply);
                } else {
                    testing::sendAll(fd, reply.substr(0, 40));
                }
            }
            readRecord(fd);
        });
        auto session = sessionThrough(link, peer.port(), 200ms);
        QCOMPARE(session->query("FILES:DIR?"), listing);
        QElapsedTimer clock;
        clock.start();
        const lumetra::Error failure = errorOf([&] { session->query("FILES:DIR?"); });
        QVERIFY2(clock.elapsed() >= 190 && clock.elapsed() < 600,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(failure.code(), status::ErrorTimeout);
        QVERIFY2(std::string(failure.what())
                         .find(link == "socket"
                                   ? "timeout while waiting for a reply from"
                                   : "the reply to device_read from inst0") != std::string::npos,
                 failure.what());
    }

    // The write of a query goes out with the read of its reply. When the write is not answered,
    // or the instrument takes only part of the message, the query fails within the timeout,
    // naming the call, and the link goes: the rest of the message must not reach the next one.
    void aQueryWhoseWriteFailsNamesIt_data() {
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("write never answered")
            << false << int(status::ErrorTimeout)
            << "timeout while waiting for the reply to device_write from inst0 at 127.0.0.1:";
        QTest::newRow("message taken in part")
            << true << int(status::ErrorIo) << "device_write on inst0 at 127.0.0.1:";
    }
    void aQueryWhoseWriteFailsNamesIt() {
        QFETCH(bool, answered);
        QFETCH(int, code);
        QFETCH(QString, text);
        testing::ScriptedPeer peer([&](int fd) {
            testing::sendAll(fd, replyTo(readRecord(fd), {0, 1, 0, 1024})); // create_link
            const std::string write = readRecord(fd);
            if (answered) {
                testing::sendAll(fd, replyTo(write, {0, 3})); // 3 of the 6 bytes taken
            }
            while (!readRecord(fd).empty()) {
            }
        });
        auto session = sessionThrough("vxi11", peer.port(), 200ms);
        session->open();
        QElapsedTimer clock;
        clock.start();
        const lumetra::Error failure = errorOf([&] { session->query("*IDN?"); });
        QVERIFY2(clock.elapsed() < 600, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(int(failure.code()), code);
        const std::string what = failure.what();
        QVERIFY2(what.find(text.toStdString()) != std::string::npos, what.c_str());
        if (answered) {
            QVERIFY2(QString::fromStdString(what).endsWith(" took 3 of 6 bytes"), what.c_str());
        }
        QVERIFY(!session->isOpen());
    }

    // A peer that stops taking what is sent: once the socket buffers are full the write waits,
    // and must fail within the timeout, naming the link, and drop it, so that the rest of the
    // message never goes out ahead of the next one.
    void aWriteThePeerStopsTakingFailsWithinTheTimeout_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("text");
        QTest::newRow("socket") << "socket"
                                << "timeout while sending to 127.0.0.1:";
        QTest::newRow("vxi11") << "vxi11"
                               << "timeout while sending device_write to inst0 at 127.0.0.1:";
    }
    void aWriteThePeerStopsTakingFailsWithinTheTimeout() {
        QFETCH(QString, link);
        QFETCH(QString, text);
        std::atomic<bool> finished{false};
        testing::ScriptedPeer peer([&](int fd) {
            if (link == "vxi11") {
                testing::sendAll(fd, replyTo(readRecord(fd), {0, 1, 0, 1u << 24})); // create_link
            }
            while (!finished) {
                std::this_thread::sleep_for(10ms);
            }
        });
        auto session = sessionThrough(link, peer.port(), 200ms);
        session->open();
        // More than loopback's send and receive buffers hold, and one device_write.
        const std::string command(15 << 20, 'x');
        QElapsedTimer clock;
        clock.start();
        const lumetra::Error failure = errorOf([&] { session->write(command); });
        const qint64 took = clock.elapsed();
        finished = true;
        QVERIFY2(took >= 190 && took < 1500, qPrintable(QString::number(took)));
        QCOMPARE(failure.code(), status::ErrorTimeout);
        QVERIFY2(QString::fromStdString(failure.what()).contains(text), failure.what());
        QVERIFY(!session->isOpen());
    }

    void resetsNeverEndTheProgram_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("when");
        for (const char* link : {"socket", "vxi11"}) {
            for (const char* when : {"idle", "call", "closed during a call", "close"}) {
                QTest::addRow("%s, %s", link, when) << link << when;
            }
        }
    }
    void resetsNeverEndTheProgram() {
        QFETCH(QString, link);
        QFETCH(QString, when);
        sim::SimConfig config;
        config.vxi11Port = 0;
        testing::RunningSim sim(config);
        testing::ResettingProxy proxy(link == "socket" ? sim.port() : sim.vxi11Port());
        auto session = sessionThrough(link, proxy.port(), 1000ms);
        QCOMPARE(session->query("*OPC?"), std::string("1"));
        if (when == "call") {
            proxy.resetOnNextMessage();
            QCOMPARE(failureOf([&] { session->query("*OPC?"); }), status::ErrorConnectionLost);
        } else if (when == "closed during a call") {
            proxy.closeOnNextMessage();
            QCOMPARE(failureOf([&] { session->query("*OPC?"); }), status::ErrorConnectionLost);
        } else {
            proxy.resetNow();
            QTest::qWait(20);
            if (when == "close") {
                QElapsedTimer clock;
                clock.start();
                session->close();
                QVERIFY(clock.elapsed() < 100);
            }
        }
        // A link that answered ago and was reset since is noticed before the next operation.
        QCOMPARE(session->query("*OPC?"), std::string("1"));
        session->write("*CLS");
        QCOMPARE(session->query("*OPC?"), std::string("1"));
    }

    void rpcRepliesThatCarryNoResults_data() {
        QTest::addColumn<QList<quint32>>("words");
        QTest::addColumn<qint64>("code");
        QTest::addColumn<QString>("text");
        const qint64 lost = status::ErrorConnectionLost;
        QTest::newRow("not a reply")
            << QList<quint32>{7, 0} << lost << "the reply to device_read from X is no RPC reply";
        QTest::newRow("another call's reply")
            << QList<quint32>{8, 1, 0, 0, 0, 0} << qint64(0) << QString();
        QTest::newRow("refused") << QList<quint32>{7, 1, 1, 0, 0} << qint64(status::ErrorIo)
                                 << "device_read to X was refused by the RPC server";
        QTest::newRow("cut short") << QList<quint32>{7, 1, 0, 0, 0} << lost
                                   << "the reply to device_read from X is cut short";
        for (quint32 accept : {1u, 2u, 3u}) {
            QTest::addRow("not offered (%u)", accept)
                << QList<quint32>{7, 1, 0, 0, 0, accept} << qint64(status::ErrorResourceNotFound)
                << "device_read to X failed: the server does not offer it";
        }
        QTest::newRow("arguments refused")
            << QList<quint32>{7, 1, 0, 0, 0, 4} << qint64(status::ErrorIo)
            << "device_read to X failed: arguments refused";
        QTest::newRow("results cut short") << QList<quint32>{7, 1, 0, 0, 0, 0, 0} << lost
                                           << "the reply to device_read from X cannot be decoded";
    }
    void rpcRepliesThatCarryNoResults() {
        QFETCH(QList<quint32>, words);
        QFETCH(qint64, code);
        QFETCH(QString, text);
        std::string record;
        for (quint32 word : words) {
            xdr::putWord(record, word);
        }
        Device_ReadResp results{};
        try {
            const bool taken =
                lumetra::takeReply(record, 7, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp),
                                   &results, "device_read", "X");
            QCOMPARE(taken, false);
            QCOMPARE(code, qint64(0));
        } catch (const lumetra::Error& error) {
            QCOMPARE(qint64(error.code()), code);
            QCOMPARE(QString(error.what()), text);
        }
    }

    void simulatorRefusesAHugeDeviceNameWithoutReservingIt() {
        sim::SimConfig config;
        config.vxi11Port = 0;
        testing::RunningSim sim(config);
        const long long before = vmPeakKb();
        const int fd = testing::connectToLoopback(sim.vxi11Port());
        std::string call;
        for (std::uint32_t word :
             {7u, 0u, 2u, std::uint32_t(DEVICE_CORE), std::uint32_t(DEVICE_CORE_VERSION),
              std::uint32_t(lumetra::vxi11::ProcCreateLink), 0u, 0u, 0u, 0u, 1u, 0u, 1000u,
              0xfffffff0u}) {
            xdr::putWord(call, word);
        }
        std::string record;
        xdr::putWord(record, 0x80000000u | std::uint32_t(call.size()));
        QVERIFY(testing::sendAll(fd, record + call));
        readRecord(fd); // a refusal, or the end of the connection
        ::close(fd);
        QVERIFY2(vmPeakKb() - before < 64 * 1024, qPrintable(QString::number(vmPeakKb() - before)));
        auto session = sessionThrough("vxi11", sim.vxi11Port(), 1000ms);
        QCOMPARE(session->query("*OPC?"), std::string("1"));
    }

    // Peak memory only grows: the checks above run before this one can raise it.

    void hugeAnnouncedLengthsFailCleanly_data() {
        QTest::addColumn<bool>("inRecordMark");
        QTest::newRow("record mark") << true;
        QTest::newRow("data length") << false;
    }
    void hugeAnnouncedLengthsFailCleanly() {
        QFETCH(bool, inRecordMark);
        testing::ScriptedPeer peer([&](int fd) {
            const std::string createLink = readRecord(fd);
            if (inRecordMark) {
                testing::sendAll(fd, replyTo(createLink, {0, 1, 0, 1024}, 0x7ffffff0u));
                return;
            }
            testing::sendAll(fd, replyTo(createLink, {0, 1, 0, 1024}));
            const std::string write = readRecord(fd);
            testing::sendAll(fd, replyTo(write, {0, 6}));
            const std::string read = readRecord(fd);
            testing::sendAll(fd, replyTo(read, {0, 4, 0xfffffff0u})); // error, reason, length
            readRecord(fd);
        });
        const long long before = vmPeakKb();
        auto session = sessionThrough("vxi11", peer.port(), 1000ms);
        try {
            session->query("*IDN?");
            QFAIL("a reply of hostile length was taken");
        } catch (const lumetra::Error& error) {
            QCOMPARE(error.code(), inRecordMark ? status::ErrorIo : status::ErrorConnectionLost);
            QVERIFY2(QString(error.what())
                         .contains(inRecordMark ? "announces more than 1049088 bytes"
                                                : "cannot be decoded"),
                     error.what());
        }
        QVERIFY2(vmPeakKb() - before < 64 * 1024, qPrintable(QString::number(vmPeakKb() - before)));
    }
};

QTEST_GUILESS_MAIN(TestLinkFaults)
#include "test_link_faults.moc"
