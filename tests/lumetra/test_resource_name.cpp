#include "platform/lumetra/resource_name.h"
#include "platform/lumetra/status.h"

#include <QtTest>

using lumetra::ResourceName;

namespace {

std::string str(const QString& s) {
    return s.toStdString();
}

QString qstr(const std::string& s) {
    return QString::fromStdString(s);
}

const char* const AnySyntax =
    "expected one of TCPIP[board]::host address::port::SOCKET, "
    "TCPIP[board]::host address[::LAN device name]::INSTR, "
    "USB[board]::manufacturer ID::model code::serial number[::USB interface number]::INSTR, "
    "ASRL<port number or device path>::INSTR (";
const char* const SocketSyntax = "expected TCPIP[board]::host address::port::SOCKET (";
const char* const InstrSyntax = "expected TCPIP[board]::host address[::LAN device name]::INSTR (";
const char* const TcpipSyntax = "expected TCPIP[board]::host address::port::SOCKET or "
                                "TCPIP[board]::host address[::LAN device name]::INSTR (";
const char* const UsbSyntax = "expected USB[board]::manufacturer ID::model code::serial "
                              "number[::USB interface number]::INSTR (";
const char* const AsrlSyntax = "expected ASRL<port number or device path>::INSTR (";

} // namespace

class TestResourceName : public QObject {
    Q_OBJECT

private slots:
    void parsesGoodNames_data();
    void parsesGoodNames();
    void rejectsBadNames_data();
    void rejectsBadNames();
    void comparesSpellings_data();
    void comparesSpellings();
    void fillsAddressFields();
    void tryParseWithoutErrorText();
};

void TestResourceName::parsesGoodNames_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<QString>("link");

    const QString socket = "TCPIP::SOCKET";
    const QString tcpipInstr = "TCPIP::INSTR";
    const QString usb = "USB::INSTR";
    const QString asrl = "ASRL::INSTR";

    QTest::newRow("socket, canonical") << "TCPIP0::127.0.0.1::5025::SOCKET"
                                       << "TCPIP0::127.0.0.1::5025::SOCKET" << socket;
    QTest::newRow("socket, board omitted") << "TCPIP::127.0.0.1::5025::SOCKET"
                                           << "TCPIP0::127.0.0.1::5025::SOCKET" << socket;
    QTest::newRow("socket, lower-case keywords") << "tcpip::192.168.1.10::5025::socket"
                                                 << "TCPIP0::192.168.1.10::5025::SOCKET" << socket;
    QTest::newRow("socket, mixed-case keywords") << "TcpIp2::10.0.0.1::5025::SoCkEt"
                                                 << "TCPIP2::10.0.0.1::5025::SOCKET" << socket;
    QTest::newRow("socket, board with leading zeros") << "TCPIP007::10.0.0.1::5025::SOCKET"
                                                      << "TCPIP7::10.0.0.1::5025::SOCKET" << socket;
    QTest::newRow("socket, lowest port") << "TCPIP::10.0.0.1::1::SOCKET"
                                         << "TCPIP0::10.0.0.1::1::SOCKET" << socket;
    QTest::newRow("socket, highest port") << "TCPIP::10.0.0.1::65535::SOCKET"
                                          << "TCPIP0::10.0.0.1::65535::SOCKET" << socket;
    QTest::newRow("socket, port with leading zero") << "TCPIP::10.0.0.1::05025::SOCKET"
                                                    << "TCPIP0::10.0.0.1::5025::SOCKET" << socket;
    QTest::newRow("socket, host name lower-cased")
        << "TCPIP::Scope-1.Lab.Example::5025::SOCKET"
        << "TCPIP0::scope-1.lab.example::5025::SOCKET" << socket;
    QTest::newRow("socket, single-label host") << "TCPIP::localhost::5025::SOCKET"
                                               << "TCPIP0::localhost::5025::SOCKET" << socket;
    QTest::newRow("socket, host starting with a digit")
        << "TCPIP::3d-printer::5025::SOCKET"
        << "TCPIP0::3d-printer::5025::SOCKET" << socket;
    QTest::newRow("socket, bracketed IPv6 loopback") << "TCPIP::[::1]::5025::SOCKET"
                                                     << "TCPIP0::[::1]::5025::SOCKET" << socket;
    QTest::newRow("socket, IPv6 written out in full")
        << "TCPIP::[FE80:0:0:0:0:0:0:1]::5025::SOCKET"
        << "TCPIP0::[fe80::1]::5025::SOCKET" << socket;
    QTest::newRow("socket, IPv6 with embedded IPv4")
        << "TCPIP::[::ffff:10.0.0.1]::5025::SOCKET"
        << "TCPIP0::[::ffff:10.0.0.1]::5025::SOCKET" << socket;
    // Configuration files may carry stray blanks around a name; they are trimmed.
    QTest::newRow("socket, surrounding blanks trimmed")
        << "  TCPIP::10.0.0.1::5025::SOCKET \t"
        << "TCPIP0::10.0.0.1::5025::SOCKET" << socket;
    QTest::newRow("socket, surrounding line break trimmed")
        << "\tTCPIP::10.0.0.1::5025::SOCKET\r\n"
        << "TCPIP0::10.0.0.1::5025::SOCKET" << socket;

    QTest::newRow("instr, device name omitted") << "TCPIP::10.0.0.5::INSTR"
                                                << "TCPIP0::10.0.0.5::inst0::INSTR" << tcpipInstr;
    QTest::newRow("instr, canonical") << "TCPIP0::10.0.0.5::inst0::INSTR"
                                      << "TCPIP0::10.0.0.5::inst0::INSTR" << tcpipInstr;
    QTest::newRow("instr, gateway device name") << "TCPIP1::10.0.0.5::gpib0,7::INSTR"
                                                << "TCPIP1::10.0.0.5::gpib0,7::INSTR" << tcpipInstr;
    QTest::newRow("instr, lower-case class") << "tcpip::Bench-Meter::hislip0::instr"
                                             << "TCPIP0::bench-meter::hislip0::INSTR" << tcpipInstr;
    QTest::newRow("instr, device name kept as written")
        << "TCPIP::10.0.0.5::INST0::INSTR"
        << "TCPIP0::10.0.0.5::INST0::INSTR" << tcpipInstr;
    QTest::newRow("instr, device name with bracketed fields")
        << "TCPIP::10.0.0.5::usb0[0x1234::0x5678::SN1::0]::INSTR"
        << "TCPIP0::10.0.0.5::usb0[0x1234::0x5678::SN1::0]::INSTR" << tcpipInstr;
    QTest::newRow("instr, IPv6") << "TCPIP::[::1]::INSTR"
                                 << "TCPIP0::[::1]::inst0::INSTR" << tcpipInstr;

    QTest::newRow("usb, canonical") << "USB0::0x0699::0x0368::C012345::0::INSTR"
                                    << "USB0::0x0699::0x0368::C012345::0::INSTR" << usb;
    QTest::newRow("usb, short hex ids, interface omitted")
        << "USB::0x699::0x368::C012345::INSTR"
        << "USB0::0x0699::0x0368::C012345::0::INSTR" << usb;
    QTest::newRow("usb, decimal ids, lower case")
        << "usb1::1689::872::C012345::instr"
        << "USB1::0x0699::0x0368::C012345::0::INSTR" << usb;
    QTest::newRow("usb, lower-case hex, upper-case prefix")
        << "USB::0xabcd::0XFFFF::sn-1::3::INSTR"
        << "USB0::0xABCD::0xFFFF::sn-1::3::INSTR" << usb;
    QTest::newRow("usb, zero ids") << "USB::0::0x0::X::INSTR"
                                   << "USB0::0x0000::0x0000::X::0::INSTR" << usb;
    QTest::newRow("usb, highest interface number")
        << "USB::1::2::Serial.No_7::255::INSTR"
        << "USB0::0x0001::0x0002::Serial.No_7::255::INSTR" << usb;

    QTest::newRow("asrl, number") << "ASRL1::INSTR"
                                  << "ASRL1::INSTR" << asrl;
    QTest::newRow("asrl, number with leading zero, lower case") << "asrl01::instr"
                                                                << "ASRL1::INSTR" << asrl;
    QTest::newRow("asrl, device path") << "ASRL/dev/ttyUSB0::INSTR"
                                       << "ASRL/dev/ttyUSB0::INSTR" << asrl;
    QTest::newRow("asrl, device path with colons")
        << "ASRL/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0::instr"
        << "ASRL/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0::INSTR" << asrl;
}

void TestResourceName::parsesGoodNames() {
    QFETCH(QString, input);
    QFETCH(QString, canonical);
    QFETCH(QString, link);

    const ResourceName name = ResourceName::parse(str(input));
    QCOMPARE(qstr(name.canonical()), canonical);
    QCOMPARE(qstr(name.interfaceAndClass()), link);

    std::string error = "untouched";
    const auto tried = ResourceName::tryParse(str(input), &error);
    QVERIFY(tried.has_value());
    QVERIFY(*tried == name);
    QCOMPARE(error, std::string("untouched"));

    // The canonical form names the same resource and is its own canonical form.
    const ResourceName again = ResourceName::parse(str(canonical));
    QVERIFY(again == name);
    QCOMPARE(qstr(again.canonical()), canonical);
    QCOMPARE(qstr(again.interfaceAndClass()), link);
}

void TestResourceName::rejectsBadNames_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("shown"); // the input as the message quotes it
    QTest::addColumn<QString>("expected");

    const auto bad = [](const char* row, const QString& input, const QString& expected) {
        QTest::newRow(row) << input << input << expected;
    };

    bad("empty", "", QString(AnySyntax) + "the name is empty)");
    bad("unsupported interface", "GPIB0::1::INSTR",
        QString(AnySyntax) + "interface GPIB is not supported)");
    bad("unsupported interface, lower case", "vxi0::1::INSTR", "interface VXI is not supported");
    bad("unknown interface", "FOO0::1::INSTR", "unknown interface \"FOO\"");
    bad("interface missing", "10.0.0.1::5025::SOCKET", "the interface is missing");
    bad("leading separator", "::TCPIP::10.0.0.1::5025::SOCKET", "the interface is missing");

    bad("socket, port missing", "TCPIP::1.2.3.4::SOCKET",
        QString(SocketSyntax) + "the port is missing)");
    bad("socket, port zero", "TCPIP::1.2.3.4::0::SOCKET",
        QString(SocketSyntax) + "port \"0\" is not a number from 1 to 65535)");
    bad("socket, port over range", "TCPIP::1.2.3.4::65536::SOCKET",
        "port \"65536\" is not a number from 1 to 65535");
    bad("socket, port overflowing", "TCPIP::1.2.3.4::99999999999999999999999999::SOCKET",
        "is not a number from 1 to 65535");
    bad("socket, port not a number", "TCPIP::1.2.3.4::50x::SOCKET", "port \"50x\" is not a number");
    bad("socket, port negative", "TCPIP::1.2.3.4::-1::SOCKET", "port \"-1\" is not a number");
    bad("socket, port in hex", "TCPIP::1.2.3.4::0x13A1::SOCKET", "port \"0x13A1\"");
    bad("socket, port empty", "TCPIP::1.2.3.4::::SOCKET", "port \"\" is not a number");
    bad("socket, host empty", "TCPIP::::5025::SOCKET",
        QString(SocketSyntax) + "the host address is empty)");
    bad("socket, underscore in host", "TCPIP::bench_scope::5025::SOCKET",
        "host address \"bench_scope\" is not a host name");
    bad("socket, blank in host", "TCPIP::bench scope::5025::SOCKET",
        "host address \"bench scope\"");
    bad("socket, blank around a field", "TCPIP:: 10.0.0.1::5025::SOCKET",
        "host address \" 10.0.0.1\"");
    bad("socket, hash in host", "TCPIP::scope#1::5025::SOCKET", "host address \"scope#1\"");
    bad("socket, host label starting with a hyphen", "TCPIP::-scope::5025::SOCKET",
        "host address \"-scope\"");
    bad("socket, empty host label", "TCPIP::lab..example::5025::SOCKET",
        "host address \"lab..example\"");
    bad("socket, IPv4 octet over range", "TCPIP::256.1.1.1::5025::SOCKET",
        "host address \"256.1.1.1\" is not an IPv4 address");
    bad("socket, IPv4 with three parts", "TCPIP::10.0.1::5025::SOCKET", "is not an IPv4 address");
    bad("socket, IPv4 octet with leading zero", "TCPIP::10.0.0.010::5025::SOCKET",
        "is not an IPv4 address");
    bad("socket, bad IPv6", "TCPIP::[::g]::5025::SOCKET",
        "host address \"[::g]\" is not an IPv6 address");
    bad("socket, empty brackets", "TCPIP::[]::5025::SOCKET", "is not an IPv6 address");
    bad("socket, bracket not closed", "TCPIP::[::1::5025::SOCKET",
        QString(TcpipSyntax) + "its brackets do not match)");
    bad("socket, bare IPv6", "TCPIP::fe80::1::5025::SOCKET", "too many fields");
    bad("socket, board not a number", "TCPIPx::1.2.3.4::5025::SOCKET",
        QString(SocketSyntax) + "board number \"x\" is not a number");
    bad("socket, negative board", "TCPIP-1::1.2.3.4::5025::SOCKET",
        "board number \"-1\" is not a number");
    bad("socket, too many fields", "TCPIP::1.2.3.4::5025::5026::SOCKET",
        QString(SocketSyntax) + "too many fields)");
    bad("socket, trailing separator",
        "TCPIP::1.2.3.4::5025::SOCKET::", QString(TcpipSyntax) + "it ends with \"::\")");
    bad("unknown class", "TCPIP::1.2.3.4::5025::RAW",
        QString(TcpipSyntax) + "unknown resource class \"RAW\")");
    bad("class missing", "TCPIP::1.2.3.4::5025", "unknown resource class \"5025\"");
    bad("host only", "TCPIP::1.2.3.4", QString(TcpipSyntax) + "too few fields)");
    bad("interface keyword only", "TCPIP", "too few fields");

    bad("instr, too many fields", "TCPIP::1.2.3.4::inst0::extra::INSTR",
        QString(InstrSyntax) + "too many fields)");
    bad("instr, empty device name", "TCPIP::1.2.3.4::::INSTR",
        QString(InstrSyntax) + "LAN device name \"\" is not valid)");
    bad("instr, blank in device name", "TCPIP::1.2.3.4::inst 0::INSTR",
        "LAN device name \"inst 0\" is not valid");
    bad("instr, hash in device name", "TCPIP::1.2.3.4::inst#0::INSTR",
        "LAN device name \"inst#0\" is not valid");
    bad("instr, empty host", "TCPIP::::INSTR", QString(InstrSyntax) + "the host address is empty)");

    bad("usb, manufacturer ID over 0xFFFF", "USB::0x10000::0x0368::C0::INSTR",
        QString(UsbSyntax) + "manufacturer ID \"0x10000\" is not a number from 0 to 0xFFFF)");
    bad("usb, decimal manufacturer ID over range", "USB::65536::0x0368::C0::INSTR",
        "manufacturer ID \"65536\"");
    bad("usb, manufacturer ID not a number", "USB::acme::0x0368::C0::INSTR",
        "manufacturer ID \"acme\"");
    bad("usb, bare hex prefix", "USB::0x::0x0368::C0::INSTR", "manufacturer ID \"0x\"");
    bad("usb, model code not a number", "USB::0x0699::0x03G8::C0::INSTR",
        "model code \"0x03G8\" is not a number from 0 to 0xFFFF");
    bad("usb, empty serial number", "USB::0x0699::0x0368::::INSTR",
        QString(UsbSyntax) + "the serial number is empty)");
    bad("usb, blank in serial number", "USB::0x0699::0x0368::C0 1::INSTR",
        "serial number \"C0 1\" is not valid");
    // '#' would start a comment in a configuration file.
    bad("usb, hash in serial number", "USB::1::2::C#1::INSTR",
        "serial number \"C#1\" is not valid");
    bad("usb, quote in serial number", "USB::1::2::C\"1::INSTR", "serial number \"C\"1\"");
    bad("usb, interface number over range", "USB::0x0699::0x0368::C0::256::INSTR",
        "USB interface number \"256\" is not a number from 0 to 255");
    bad("usb, too few fields", "USB::0x0699::0x0368::INSTR",
        QString(UsbSyntax) + "too few fields)");
    bad("usb, too many fields", "USB::0x0699::0x0368::C0::0::1::INSTR", "too many fields");
    bad("usb, unknown class", "USB::0x0699::0x0368::C0::0::RAW",
        QString(UsbSyntax) + "unknown resource class \"RAW\")");
    bad("usb, board not a number", "USBx::0x0699::0x0368::C0::INSTR",
        "board number \"x\" is not a number");
    bad("usb, trailing separator", "USB::0x0699::0x0368::C0::INSTR::", "it ends with \"::\"");

    bad("asrl, port missing", "ASRL::INSTR", QString(AsrlSyntax) + "the port is missing)");
    bad("asrl, port neither number nor path", "ASRLcom1::INSTR",
        "port \"com1\" is neither a number nor a device path");
    bad("asrl, bare slash", "ASRL/::INSTR", "device path \"/\" is not valid");
    bad("asrl, blank in path", "ASRL/dev/tty S0::INSTR", "device path \"/dev/tty S0\"");
    bad("asrl, hash in path", "ASRL/dev/tty#0::INSTR", "device path \"/dev/tty#0\" is not valid");
    bad("asrl, class missing", "ASRL1", QString(AsrlSyntax) + "too few fields)");
    bad("asrl, too many fields", "ASRL1::0::INSTR", "too many fields");
    bad("asrl, unknown class", "ASRL1::SOCKET", "unknown resource class \"SOCKET\"");
    bad("asrl, trailing separator", "ASRL1::INSTR::", "it ends with \"::\"");

    QTest::newRow("blanks only") << "  \t "
                                 << "  \\x09 " << QString(AnySyntax) + "the name is empty)";
    QTest::newRow("control character shown escaped")
        << QString("TCPIP::10.0.0.1\x01::INSTR") << "TCPIP::10.0.0.1\\x01::INSTR"
        << "host address \"10.0.0.1\\x01\"";
}

void TestResourceName::rejectsBadNames() {
    QFETCH(QString, input);
    QFETCH(QString, shown);
    QFETCH(QString, expected);

    QString message;
    try {
        ResourceName::parse(str(input));
        QFAIL("parse() accepted the name");
    } catch (const lumetra::Error& error) {
        QCOMPARE(error.code(), lumetra::status::ErrorInvalidResourceName);
        message = QString::fromStdString(error.what());
    }
    QVERIFY2(message.startsWith("invalid resource name \"" + shown + "\": expected "),
             qPrintable(message));
    QVERIFY2(message.contains(expected), qPrintable(message));

    std::string error;
    QVERIFY(!ResourceName::tryParse(str(input), &error).has_value());
    QCOMPARE(qstr(error), message);
}

void TestResourceName::comparesSpellings_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("same");

    QTest::newRow("socket, case and board") << "TCPIP::Scope::5025::SOCKET"
                                            << "tcpip0::scope::05025::socket" << true;
    QTest::newRow("socket, IPv6 spellings") << "TCPIP::[0:0::1]::5025::SOCKET"
                                            << "TCPIP0::[::1]::5025::SOCKET" << true;
    QTest::newRow("instr, default device name") << "TCPIP::10.0.0.5::INSTR"
                                                << "TCPIP0::10.0.0.5::inst0::INSTR" << true;
    QTest::newRow("usb, hex and decimal ids") << "USB::0x699::872::S1::INSTR"
                                              << "USB0::0x0699::0x0368::S1::0::INSTR" << true;
    QTest::newRow("asrl, leading zero") << "ASRL01::INSTR"
                                        << "ASRL1::INSTR" << true;

    QTest::newRow("socket, other port") << "TCPIP::10.0.0.1::5025::SOCKET"
                                        << "TCPIP::10.0.0.1::5026::SOCKET" << false;
    QTest::newRow("socket, other board") << "TCPIP0::10.0.0.1::5025::SOCKET"
                                         << "TCPIP1::10.0.0.1::5025::SOCKET" << false;
    QTest::newRow("socket and instr on one host") << "TCPIP::10.0.0.1::5025::SOCKET"
                                                  << "TCPIP::10.0.0.1::INSTR" << false;
    QTest::newRow("instr, other device name") << "TCPIP::10.0.0.1::INSTR"
                                              << "TCPIP::10.0.0.1::hislip0::INSTR" << false;
    QTest::newRow("usb, serial number case") << "USB::1::2::abc::INSTR"
                                             << "USB::1::2::ABC::INSTR" << false;
    QTest::newRow("usb, other interface") << "USB::1::2::abc::INSTR"
                                          << "USB::1::2::abc::1::INSTR" << false;
    QTest::newRow("asrl, number and path") << "ASRL1::INSTR"
                                           << "ASRL/dev/ttyS1::INSTR" << false;
}

void TestResourceName::comparesSpellings() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, same);

    const ResourceName a = ResourceName::parse(str(first));
    const ResourceName b = ResourceName::parse(str(second));
    QCOMPARE(a == b, same);
    QCOMPARE(a.canonical() == b.canonical(), same);
}

void TestResourceName::fillsAddressFields() {
    const auto socket = std::get<lumetra::TcpipSocketAddress>(
        ResourceName::parse("TCPIP3::Bench.Lab::5025::SOCKET").address());
    QCOMPARE(socket.board, 3u);
    QCOMPARE(socket.host, std::string("bench.lab"));
    QCOMPARE(socket.port, std::uint16_t(5025));

    // Hosts are handed to name lookup as they are: no brackets around IPv6.
    const auto ipv6 = std::get<lumetra::TcpipSocketAddress>(
        ResourceName::parse("TCPIP::[::1]::5025::SOCKET").address());
    QCOMPARE(ipv6.host, std::string("::1"));

    const auto instr = std::get<lumetra::TcpipInstrAddress>(
        ResourceName::parse("TCPIP::10.0.0.5::INSTR").address());
    QCOMPARE(instr.board, 0u);
    QCOMPARE(instr.host, std::string("10.0.0.5"));
    QCOMPARE(instr.lanDeviceName, std::string("inst0"));

    const auto usb = std::get<lumetra::UsbInstrAddress>(
        ResourceName::parse("USB2::0x0699::872::C012345::1::INSTR").address());
    QCOMPARE(usb.board, 2u);
    QCOMPARE(usb.vendorId, std::uint16_t(0x0699));
    QCOMPARE(usb.productId, std::uint16_t(0x0368));
    QCOMPARE(usb.serialNumber, std::string("C012345"));
    QCOMPARE(usb.interfaceNumber, 1u);

    QCOMPARE(
        std::get<lumetra::AsrlInstrAddress>(ResourceName::parse("ASRL4::INSTR").address()).port,
        std::string("4"));
    QCOMPARE(std::get<lumetra::AsrlInstrAddress>(
                 ResourceName::parse("ASRL/dev/ttyACM0::INSTR").address())
                 .port,
             std::string("/dev/ttyACM0"));
}

void TestResourceName::tryParseWithoutErrorText() {
    QVERIFY(!ResourceName::tryParse("TCPIP::").has_value());
    QVERIFY(ResourceName::tryParse("ASRL1::INSTR").has_value());
}

QTEST_APPLESS_MAIN(TestResourceName)
#include "test_resource_name.moc"
