#include "platform/lumetra/resource_attributes.h"
#include "platform/lumetra/resource_manager.h"

#include <QTemporaryDir>
#include <QtTest>
#include <sstream>

using lumetra::ResourceAttributes;
using lumetra::ResourceName;

namespace {

std::optional<ResourceAttributes> attributes(const char* resource, const char* text,
                                             std::string* error = nullptr) {
    return lumetra::parseResourceAttributes(ResourceName::parse(resource), text, error);
}

} // namespace

class TestResourceAttributes : public QObject {
    Q_OBJECT
private slots:
    void vxi11PortIsTakenByVxi11ResourcesOnly() {
        auto parsed = attributes("TCPIP::host::INSTR", " vxi11-port=09024 ");
        QVERIFY(parsed);
        QCOMPARE(lumetra::vxi11Port(*parsed), std::optional<std::uint16_t>(9024));
        QCOMPARE(lumetra::formatResourceAttributes(*parsed), std::string("vxi11-port=9024"));
        QVERIFY(!attributes("TCPIP::host::5025::SOCKET", "vxi11-port=9024"));
        QVERIFY(!attributes("ASRL1::INSTR", "vxi11-port=9024"));
        QVERIFY(!attributes("TCPIP::host::INSTR", "vxi11-port=0"));
        QVERIFY(!attributes("TCPIP::host::INSTR", "vxi11-port=65536"));
        QVERIFY(!attributes("TCPIP::host::INSTR", "vxi11-port=x"));
        QCOMPARE(lumetra::vxi11Port({}), std::nullopt);
    }

    void serialSettingsHaveDefaultsAndCanonicalSpellings() {
        auto none = attributes("ASRL/dev/ttyUSB0::INSTR", "");
        QVERIFY(none);
        QVERIFY(none->empty());
        QCOMPARE(lumetra::serialSettings(*none), lumetra::SerialSettings{});
        QCOMPARE(lumetra::serialSettings(*none).baud, 9600u);
        QCOMPARE(lumetra::serialSettings(*none).termination, std::string("\n"));

        auto all =
            attributes("ASRL/dev/ttyUSB0::INSTR", "BAUD=115200 data-bits=7 parity=Even stop-bits=2 "
                                                  "flow-control=rts-cts termination=CRLF");
        QVERIFY(all);
        const auto settings = lumetra::serialSettings(*all);
        QCOMPARE(settings.baud, 115200u);
        QCOMPARE(settings.dataBits, 7);
        QCOMPARE(settings.parity, 'E');
        QCOMPARE(settings.stopBits, 2);
        QVERIFY(settings.rtsCts);
        QCOMPARE(settings.termination, std::string("\r\n"));
        QCOMPARE(lumetra::formatResourceAttributes(*all),
                 std::string("baud=115200 data-bits=7 flow-control=rts-cts parity=even "
                             "stop-bits=2 termination=crlf"));
    }

    void badSettingsAreRefusedWithAReason() {
        std::string error;
        QVERIFY(!attributes("ASRL1::INSTR", "baud=12345", &error));
        QVERIFY2(QString::fromStdString(error).contains("baud"), error.c_str());
        QVERIFY(!attributes("ASRL1::INSTR", "data-bits=9", &error));
        QVERIFY(!attributes("ASRL1::INSTR", "stop-bits=3", &error));
        QVERIFY(!attributes("ASRL1::INSTR", "parity=mark", &error));
        QVERIFY(!attributes("ASRL1::INSTR", "termination=nul", &error));
        QVERIFY(!attributes("ASRL1::INSTR", "baud", &error));
        QVERIFY2(QString::fromStdString(error).contains("key=value"), error.c_str());
        QVERIFY(!attributes("ASRL1::INSTR", "=9600", &error));
        QVERIFY(!attributes("ASRL1::INSTR", "baud=", &error));
        QVERIFY(!attributes("ASRL1::INSTR", "baud=9600 baud=19200", &error));
        QVERIFY2(QString::fromStdString(error).contains("twice"), error.c_str());
        QVERIFY(!attributes("USB::0x1::0x2::SN::INSTR", "baud=9600", &error));
        QVERIFY2(QString::fromStdString(error).contains("take none"), error.c_str());
    }

    void configLinesCarrySettingsAfterTheResource() {
        std::ostringstream diagnostics;
        const auto entries = lumetra::parseResourceEntries(
            "TCPIP0::127.0.0.1::inst0::INSTR  vxi11-port=9024   # the bench scope\n"
            "asrl/dev/ttyUSB0::instr baud=115200 parity=none\n"
            "ASRL2::INSTR baud=7\n"
            "TCPIP0::192.0.2.1::5025::SOCKET\n",
            "test.conf", &diagnostics);
        QCOMPARE(entries.size(), std::size_t(3));
        QCOMPARE(entries[0].name, std::string("TCPIP0::127.0.0.1::inst0::INSTR"));
        QCOMPARE(entries[0].attributes, (ResourceAttributes{{"vxi11-port", "9024"}}));
        QCOMPARE(entries[1].name, std::string("ASRL/dev/ttyUSB0::INSTR"));
        QCOMPARE(entries[1].attributes,
                 (ResourceAttributes{{"baud", "115200"}, {"parity", "none"}}));
        QCOMPARE(entries[2].name, std::string("TCPIP0::192.0.2.1::5025::SOCKET"));
        QVERIFY(entries[2].attributes.empty());
        QVERIFY2(QString::fromStdString(diagnostics.str()).startsWith("test.conf:3: "),
                 diagnostics.str().c_str());
    }

    void managerLooksSettingsUpByAnySpellingOfTheName() {
        QTemporaryDir dir;
        const QString path = dir.filePath("resources.conf");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("TCPIP::127.0.0.1::INSTR vxi11-port=9024\n"
                   "TCPIP0::127.0.0.1::inst0::INSTR vxi11-port=1111\n");
        file.close();
        lumetra::ResourceManager manager({path.toStdString()});
        std::ostringstream quiet;
        manager.setDiagnostics(&quiet);
        QCOMPARE(manager.listResources(),
                 std::vector<std::string>{"TCPIP0::127.0.0.1::inst0::INSTR"});
        // The first line for a resource counts.
        QCOMPARE(manager.attributesOf("tcpip0::127.0.0.1::INSTR"),
                 (ResourceAttributes{{"vxi11-port", "9024"}}));
        QVERIFY(manager.attributesOf("TCPIP0::127.0.0.2::INSTR").empty());
        QVERIFY(manager.attributesOf("not a name").empty());
    }

    void addingAResourceWritesItsSettings() {
        std::string text = "# mine\n";
        QVERIFY(lumetra::addResourceToConfig(text, "TCPIP0::127.0.0.1::inst0::INSTR",
                                             {{"vxi11-port", "9024"}}));
        QCOMPARE(text, std::string("# mine\nTCPIP0::127.0.0.1::inst0::INSTR vxi11-port=9024\n"));
        QVERIFY(!lumetra::addResourceToConfig(text, "TCPIP::127.0.0.1::INSTR"));
        QVERIFY(lumetra::removeResourceFromConfig(text, "TCPIP0::127.0.0.1::inst0::INSTR"));
        QCOMPARE(text, std::string("# mine\n"));
    }
};

QTEST_GUILESS_MAIN(TestResourceAttributes)
#include "test_resource_attributes.moc"
