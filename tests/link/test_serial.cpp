#include "platform/lumetra/serial_transport.h"
#include "platform/lumetra/session.h"
#include "tests/link/link_test_helpers.h"
#include "tests/support/running_sim.h"

#include <QElapsedTimer>
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using lumetra::ResourceName;
using lumetra::Session;
namespace status = lumetra::status;

using testing::closedPort;
using testing::errorOf;
using testing::failureOf;

namespace {

// A pseudo-terminal whose controlling side the test plays as the instrument.
class PtyPeer {
public:
    PtyPeer() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
            ::ptsname_r(master_, name, sizeof name) == 0) {
            path_ = name;
        }
    }
    ~PtyPeer() { hangUp(); }
    const std::string& path() const { return path_; }
    ResourceName resource() const { return ResourceName::parse("ASRL" + path_ + "::INSTR"); }
    void send(const std::string& bytes) {
        QCOMPARE(::write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // What the instrument received within `wait`.
    std::string received(std::chrono::milliseconds wait = 1000ms) {
        std::string bytes;
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, static_cast<int>(wait.count())) > 0 && (p.revents & POLLIN)) {
            char buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(n));
            wait = 50ms;
        }
        return bytes;
    }
    void hangUp() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

private:
    int master_ = -1;
    std::string path_;
};

ResourceName serialResource(testing::RunningSim& sim) {
    return ResourceName::parse("ASRL" + sim.server().serialPath() + "::INSTR");
}

sim::SimConfig withSerial() {
    sim::SimConfig config;
    config.serialPty = true;
    return config;
}

} // namespace

class TestSerial : public QObject {
    Q_OBJECT
private slots:
    void queryOverTheSimulatorsPseudoTerminal() {
        testing::RunningSim sim(withSerial());
        QVERIFY(QFile::exists(QString::fromStdString(sim.server().serialPath())));
        Session session(serialResource(sim), 2000ms);
        session.write("HEAD 0");
        QCOMPARE(QString::fromStdString(session.query("*IDN?")), QString(sim::DefaultIdn));
        QCOMPARE(session.query("BUSY?"), std::string("0"));
        QCOMPARE(sim.traffic(), (QStringList{"HEAD 0", "*IDN?", "BUSY?"}));
        // Closing and opening again finds the same line.
        session.close();
        QCOMPARE(session.query("*OPC?"), std::string("1"));
    }

    void clearDropsAReplyWaitingOnTheLine() {
        testing::RunningSim sim(withSerial());
        Session session(serialResource(sim), 1000ms);
        session.write("HEAD 0;*IDN?");
        QCOMPARE(QString::fromStdString(session.read()), QString(sim::DefaultIdn));
        session.write("HEAD 0;*IDN?");
        QTest::qWait(100); // the reply has reached our side of the line
        session.clear();
        QCOMPARE(session.query("BUSY?"), std::string("0"));
    }

    void mutedSimulatorTimesOutWithinTheTimeout() {
        testing::RunningSim sim(withSerial());
        Session session(serialResource(sim), 300ms);
        QCOMPARE(session.query("HEAD 0;*OPC?"), std::string("1"));
        sim.server().setMuted(true);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failureOf([&] { session.query("BUSY?"); }), status::ErrorTimeout);
        QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        sim.server().setMuted(false);
        QCOMPARE(session.query("BUSY?"), std::string("0"));
    }

    void stalledPeerTimesOutAndHalfARepliesNeverComesBack() {
        PtyPeer peer;
        QVERIFY(!peer.path().empty());
        Session session(peer.resource(), 300ms);
        session.write("A?");
        QCOMPARE(peer.received(), std::string("A?\n"));
        peer.send("HALF OF A");
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failureOf([&] { session.read(); }), status::ErrorTimeout);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!session.isOpen());
        // The rest of the late reply arrives; the next exchange must not see it.
        peer.send(" REPLY\n");
        session.write("B?");
        QCOMPARE(peer.received(), std::string("B?\n"));
        peer.send("GOOD\r\n");
        QCOMPARE(session.read(), std::string("GOOD"));
    }

    void aWriteTheLineStopsTakingFailsWithinTheTimeout() {
        PtyPeer peer;
        QVERIFY(!peer.path().empty());
        Session session(peer.resource(), 200ms);
        session.open();
        QElapsedTimer clock;
        clock.start();
        const std::string command(1 << 20, 'x'); // far more than the line holds unread
        const lumetra::Error failure = errorOf([&] { session.write(command); });
        QVERIFY2(clock.elapsed() >= 190 && clock.elapsed() < 1500,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(failure.code(), status::ErrorTimeout);
        QVERIFY2(QString(failure.what())
                     .endsWith(": timeout while sending to " + QString::fromStdString(peer.path())),
                 failure.what());
        // The next message goes out whole, after whatever part of the last one the line took.
        peer.received(100ms);
        session.write("B?");
        QCOMPARE(peer.received(), std::string("B?\n"));
    }

    void aLineThatHangsUpDuringAWriteEndsItAtOnce() {
        PtyPeer peer;
        QVERIFY(!peer.path().empty());
        Session session(peer.resource(), 5000ms);
        session.open();
        std::thread hangUp([&] {
            std::this_thread::sleep_for(100ms);
            peer.hangUp();
        });
        QElapsedTimer clock;
        clock.start();
        const lumetra::Error failure = errorOf([&] { session.write(std::string(1 << 20, 'x')); });
        hangUp.join();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(failure.code(), status::ErrorConnectionLost);
        QVERIFY2(QString(failure.what())
                     .endsWith(": the serial line hung up (" + QString::fromStdString(peer.path()) +
                               ")"),
                 failure.what());
        QVERIFY(!session.isOpen());
    }

    void lineSettingsAndTerminationComeFromTheResourceSettings() {
        PtyPeer peer;
        const auto resource = peer.resource();
        const auto attributes = lumetra::parseResourceAttributes(
            resource, "baud=115200 data-bits=7 parity=even stop-bits=2 termination=crlf");
        QVERIFY(attributes);
        Session session(resource, 1000ms, lumetra::makeTransport, *attributes);
        session.write("X?");
        QCOMPARE(peer.received(), std::string("X?\r\n"));
        const int fd = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        termios tty{};
        QCOMPARE(::tcgetattr(fd, &tty), 0);
        ::close(fd);
        // A pseudo-terminal keeps the speed and stop bits but always reports 8N.
        QCOMPARE(::cfgetospeed(&tty), speed_t(B115200));
        QVERIFY(tty.c_cflag & CSTOPB);
        QVERIFY(!(tty.c_lflag & ECHO));
        termios applied{};
        lumetra::applySerialSettings(applied, lumetra::serialSettings(*attributes));
        QCOMPARE(applied.c_cflag & CSIZE, tcflag_t(CS7));
        QVERIFY(applied.c_cflag & PARENB);
        QVERIFY(!(applied.c_cflag & PARODD));
        QVERIFY(applied.c_cflag & CSTOPB);
        QVERIFY(!(applied.c_cflag & CRTSCTS));
        QCOMPARE(::cfgetispeed(&applied), speed_t(B115200));
        lumetra::SerialSettings odd;
        odd.parity = 'O';
        odd.rtsCts = true;
        lumetra::applySerialSettings(applied, odd);
        QVERIFY(applied.c_cflag & PARODD);
        QVERIFY(applied.c_cflag & CRTSCTS);
        QCOMPARE(applied.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(!(applied.c_cflag & CSTOPB));
        peer.send("line one\nstill line one\r\n");
        QCOMPARE(session.read(), std::string("line one\nstill line one"));
    }

    void defaultsAre9600EightNoneOneWithLineFeed() {
        PtyPeer peer;
        Session session(peer.resource(), 1000ms);
        session.write("Y?");
        QCOMPARE(peer.received(), std::string("Y?\n"));
        const int fd = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tty{};
        QCOMPARE(::tcgetattr(fd, &tty), 0);
        ::close(fd);
        QCOMPARE(::cfgetospeed(&tty), speed_t(B9600));
        QCOMPARE(tty.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(!(tty.c_cflag & PARENB));
        QVERIFY(!(tty.c_cflag & CSTOPB));
    }

    void peerThatHangsUpGivesNegativeStatus() {
        PtyPeer peer;
        Session session(peer.resource(), 1000ms);
        session.write("Z?");
        peer.hangUp();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(failureOf([&] { session.query("Z?"); }) < 0);
        QVERIFY(clock.elapsed() < 3000);
    }

    void missingDeviceIsNotFound() {
        Session session(ResourceName::parse("ASRL/dev/no-such-serial-line::INSTR"), 500ms);
        QCOMPARE(failureOf([&] { session.open(); }), status::ErrorResourceNotFound);
    }

    void numberedPortsAreTheSystemsSerialLines() {
        QCOMPARE(lumetra::serialDevicePath("1"), std::string("/dev/ttyS0"));
        QCOMPARE(lumetra::serialDevicePath("4"), std::string("/dev/ttyS3"));
        QCOMPARE(lumetra::serialDevicePath("/dev/ttyUSB0"), std::string("/dev/ttyUSB0"));
    }
};

QTEST_GUILESS_MAIN(TestSerial)
#include "test_serial.moc"
