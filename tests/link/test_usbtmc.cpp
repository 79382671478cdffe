#include "platform/lumetra/resource_manager.h"
#include "platform/lumetra/session.h"
#include "tests/link/fake_usbtmc.h"
#include "tests/link/link_test_helpers.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace std::chrono_literals;
using lumetra::ResourceName;
using lumetra::Session;
namespace status = lumetra::status;

using testing::closedPort;
using testing::failureOf;

namespace {

const char* const Resource = "USB0::0x1234::0x5678::SN42::INSTR";

struct Bench {
    explicit Bench(std::string idn = sim::DefaultIdn, std::size_t readSize = 64 * 1024)
        : fake(std::make_shared<testing::FakeUsbtmc>(tree.devicePath(), std::move(idn))),
          readSize(readSize) {}
    std::unique_ptr<Session> session(std::chrono::milliseconds timeout,
                                     const char* name = Resource) {
        return std::make_unique<Session>(
            ResourceName::parse(name), timeout,
            [this](const ResourceName& resource, const lumetra::ResourceAttributes&) {
                return std::make_unique<lumetra::UsbtmcTransport>(
                    std::get<lumetra::UsbInstrAddress>(resource.address()), fake, tree.roots(),
                    readSize);
            });
    }
    testing::FakeUsbTree tree;
    std::shared_ptr<testing::FakeUsbtmc> fake;
    std::size_t readSize;
};

} // namespace

class TestUsbtmc : public QObject {
    Q_OBJECT
private slots:
    void presentDevicesAreFoundBySysfs() {
        testing::FakeUsbTree tree("abcd", "0001", "XY-9", "02");
        const auto devices = lumetra::findUsbtmcDevices(tree.roots());
        QCOMPARE(devices.size(), std::size_t(1));
        QCOMPARE(devices[0].path, tree.devicePath());
        QCOMPARE(devices[0].address.vendorId, std::uint16_t(0xABCD));
        QCOMPARE(devices[0].address.productId, std::uint16_t(0x0001));
        QCOMPARE(devices[0].address.serialNumber, std::string("XY-9"));
        QCOMPARE(devices[0].address.interfaceNumber, 2u);
        QVERIFY(lumetra::findUsbtmcDevices({"/nonexistent/sys", "/nonexistent/dev"}).empty());
    }

    void resourceManagerListsPresentDevicesWithoutConfiguration() {
        testing::FakeUsbTree tree;
        QTemporaryDir dir;
        const QString conf = dir.filePath("resources.conf");
        QFile file(conf);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("TCPIP0::127.0.0.1::5025::SOCKET\n");
        file.close();
        lumetra::ResourceManager manager({conf.toStdString()});
        manager.setUsbtmcRoots(tree.roots());
        QCOMPARE(manager.listResources(),
                 (std::vector<std::string>{"TCPIP0::127.0.0.1::5025::SOCKET",
                                           "USB0::0x1234::0x5678::SN42::0::INSTR"}));
        manager.setUsbtmcRoots(std::nullopt);
        QCOMPARE(manager.listResources().size(), std::size_t(1));
    }

    void queryIsOneWriteAndAReadToTheEndOfTheMessage() {
        Bench bench;
        auto session = bench.session(1000ms);
        session->write("HEAD 0");
        QCOMPARE(QString::fromStdString(session->query("*IDN?")), QString(sim::DefaultIdn));
        QCOMPARE(session->query("BUSY?"), std::string("0"));
        QCOMPARE(bench.fake->messages,
                 (std::vector<std::string>{"HEAD 0\n", "*IDN?\n", "BUSY?\n"}));
        QCOMPARE(bench.fake->opens, 1);
    }

    void replyLongerThanOneReadIsReadWhole() {
        const std::string idn = std::string(1000, 'y') + ",END";
        Bench bench(idn, 64);
        auto session = bench.session(1000ms);
        QCOMPARE(session->query("HEAD 0;*IDN?"), idn);
        // A reply that fills the last read exactly: "0123...\n" of 128 bytes.
        Bench exact(std::string(127 - 0, 'z'), 64);
        auto second = exact.session(1000ms);
        QCOMPARE(second->query("HEAD 0;*IDN?"), std::string(127, 'z'));
    }

    void clearIsTheDriversClearAndDropsAPendingReply() {
        Bench bench;
        auto session = bench.session(1000ms);
        session->write("HEAD 0;*IDN?");
        session->clear();
        QCOMPARE(bench.fake->clears, 1);
        QCOMPARE(session->query("BUSY?"), std::string("0"));
    }

    void stalledDeviceTimesOutWithinTheTimeoutAndTheDriverFloor() {
        Bench bench;
        auto session = bench.session(300ms);
        QCOMPARE(session->query("HEAD 0;*OPC?"), std::string("1"));
        bench.fake->stalled = true;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failureOf([&] { session->query("BUSY?"); }), status::ErrorTimeout);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        for (auto ms : bench.fake->timeoutsSet) {
            QVERIFY(ms >= 100 && ms <= 300);
        }
        bench.fake->stalled = false;
        QCOMPARE(session->query("BUSY?"), std::string("0"));
        QCOMPARE(bench.fake->opens, 2); // the link was dropped after the timeout
    }

    void shortTimeoutsUseTheDriversFloor() {
        Bench bench;
        auto session = bench.session(20ms);
        bench.fake->stalled = true;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(failureOf([&] { session->query("BUSY?"); }), status::ErrorTimeout);
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(!bench.fake->timeoutsSet.empty());
        QCOMPARE(bench.fake->timeoutsSet.front(), 100u);
    }

    void otherSerialNumberIsNotFound() {
        Bench bench;
        auto session = bench.session(500ms, "USB0::0x1234::0x5678::OTHER::INSTR");
        QCOMPARE(failureOf([&] { session->open(); }), status::ErrorResourceNotFound);
        auto otherInterface = bench.session(500ms, "USB0::0x1234::0x5678::SN42::1::INSTR");
        QCOMPARE(failureOf([&] { otherInterface->open(); }), status::ErrorResourceNotFound);
        QCOMPARE(bench.fake->opens, 0);
    }
};

QTEST_GUILESS_MAIN(TestUsbtmc)
#include "test_usbtmc.moc"
