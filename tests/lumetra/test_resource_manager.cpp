#include "platform/lumetra/resource_manager.h"
#include "platform/lumetra/resource_name.h"
#include "platform/lumetra/status.h"

#include <QtTest>
#include <iostream>
#include <sstream>

using lumetra::ResourceManager;

namespace {

std::string str(const QString& s) {
    return s.toStdString();
}

QString qstr(const std::string& s) {
    return QString::fromStdString(s);
}

QStringList qlist(const std::vector<std::string>& names) {
    QStringList list;
    for (const std::string& name : names) {
        list << qstr(name);
    }
    return list;
}

void writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(contents), contents.size());
}

// Puts an environment variable back as it was when the guard was made.
class EnvironmentGuard {
public:
    explicit EnvironmentGuard(const char* name)
        : name_(name), wasSet_(qEnvironmentVariableIsSet(name)), value_(qgetenv(name)) {}
    ~EnvironmentGuard() {
        if (wasSet_) {
            qputenv(name_, value_);
        } else {
            qunsetenv(name_);
        }
    }

private:
    const char* name_;
    bool wasSet_;
    QByteArray value_;
};

// Sends std::cerr into a string for the guard's lifetime.
class CerrCapture {
public:
    CerrCapture() : saved_(std::cerr.rdbuf(captured_.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(saved_); }
    std::string text() const { return captured_.str(); }

private:
    std::ostringstream captured_;
    std::streambuf* saved_;
};

} // namespace

class TestResourceManager : public QObject {
    Q_OBJECT

private slots:
    void parsesConfigText_data();
    void parsesConfigText();
    void parsesWithoutDiagnostics();
    void listsResourcesFromFiles();
    void reportsOnStandardErrorByDefault();
    void listsNothingWithoutFiles();
    void findsUserConfigFile_data();
    void findsUserConfigFile();
    void addsResource_data();
    void addsResource();
    void refusesToAddAnInvalidName();
    void removesResource_data();
    void removesResource();
};

void TestResourceManager::parsesConfigText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("diagnostics");

    QTest::newRow("empty") << "" << QStringList() << "";
    QTest::newRow("comments and blank lines")
        << "# lab instruments\n\n   \n\t\nTCPIP::10.0.0.1::5025::SOCKET\n# end\n"
        << QStringList{"TCPIP0::10.0.0.1::5025::SOCKET"} << "";
    QTest::newRow("commented-out resource") << "#TCPIP::10.0.0.1::5025::SOCKET\n#\n"
                                            << QStringList() << "";
    QTest::newRow("trailing comment") << "TCPIP::10.0.0.1::5025::SOCKET   # bench scope\n"
                                      << QStringList{"TCPIP0::10.0.0.1::5025::SOCKET"} << "";
    QTest::newRow("comment right after the name")
        << "ASRL1::INSTR#serial console" << QStringList{"ASRL1::INSTR"} << "";
    QTest::newRow("CRLF line breaks")
        << "USB::0x699::0x368::C0::INSTR\r\n# usb\r\n\r\nASRL1::INSTR # serial\r\n"
        << QStringList{"USB0::0x0699::0x0368::C0::0::INSTR", "ASRL1::INSTR"} << "";
    QTest::newRow("no final line break")
        << "ASRL1::INSTR\nASRL2::INSTR" << QStringList{"ASRL1::INSTR", "ASRL2::INSTR"} << "";
    QTest::newRow("blanks around names")
        << "  ASRL1::INSTR \t\n\tTCPIP::Scope::INSTR  \n"
        << QStringList{"ASRL1::INSTR", "TCPIP0::scope::inst0::INSTR"} << "";
    QTest::newRow("order and repeats kept")
        << "ASRL2::INSTR\nASRL1::INSTR\nasrl02::instr\n"
        << QStringList{"ASRL2::INSTR", "ASRL1::INSTR", "ASRL2::INSTR"} << "";
    QTest::newRow("malformed line skipped")
        << "ASRL1::INSTR\nTCPIP::10.0.0.1::SOCKET\nASRL2::INSTR\n"
        << QStringList{"ASRL1::INSTR", "ASRL2::INSTR"}
        << "bench.conf:2: invalid resource name \"TCPIP::10.0.0.1::SOCKET\": expected "
           "TCPIP[board]::host address::port::SOCKET (the port is missing)\n";
    QTest::newRow("malformed lines numbered among comments and CRLF")
        << "# header\r\nUSB::1::2::INSTR\r\n\r\nASRL::INSTR # no port\r\nASRL3::INSTR\r\n"
        << QStringList{"ASRL3::INSTR"}
        << "bench.conf:2: invalid resource name \"USB::1::2::INSTR\": expected "
           "USB[board]::manufacturer ID::model code::serial number[::USB interface "
           "number]::INSTR (too few fields)\n"
           "bench.conf:4: invalid resource name \"ASRL::INSTR\": expected "
           "ASRL<port number or device path>::INSTR (the port is missing)\n";
}

void TestResourceManager::parsesConfigText() {
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    QFETCH(QString, diagnostics);

    std::ostringstream out;
    QCOMPARE(qlist(lumetra::parseResourceConfig(str(text), "bench.conf", &out)), names);
    QCOMPARE(qstr(out.str()), diagnostics);
}

void TestResourceManager::parsesWithoutDiagnostics() {
    const auto names = lumetra::parseResourceConfig("nonsense\nASRL1::INSTR\n", "x", nullptr);
    QCOMPARE(qlist(names), QStringList{"ASRL1::INSTR"});
}

void TestResourceManager::listsResourcesFromFiles() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString first = dir.filePath("first.conf");
    const QString second = dir.filePath("second.conf");
    writeFile(first, "# first\n"
                     "TCPIP::10.0.0.1::5025::SOCKET\n"
                     "ASRL1::INSTR\n"
                     "tcpip0::10.0.0.1::5025::socket # repeated in one file\n");
    writeFile(second, "USB::0x699::0x368::C0::INSTR\r\n"
                      "ASRL01::INSTR\r\n"
                      "TCPIP::10.0.0.1::0::SOCKET\r\n"
                      "TCPIP::10.0.0.2::INSTR\r\n");
    QVERIFY(QDir(dir.path()).mkdir("directory.conf"));

    ResourceManager manager({str(first), str(dir.filePath("missing.conf")),
                             str(dir.filePath("directory.conf")), str(second)});
    std::ostringstream diagnostics;
    manager.setDiagnostics(&diagnostics);

    QCOMPARE(qlist(manager.listResources()),
             (QStringList{"TCPIP0::10.0.0.1::5025::SOCKET", "ASRL1::INSTR",
                          "USB0::0x0699::0x0368::C0::0::INSTR", "TCPIP0::10.0.0.2::inst0::INSTR"}));
    // Only the malformed line is reported: missing and unreadable files are silent.
    QCOMPARE(qstr(diagnostics.str()),
             second + ":3: invalid resource name \"TCPIP::10.0.0.1::0::SOCKET\": expected "
                      "TCPIP[board]::host address::port::SOCKET (port \"0\" is not a number "
                      "from 1 to 65535)\n");

    // The order of the files decides which spelling's position wins.
    ResourceManager reversed({str(second), str(first)});
    reversed.setDiagnostics(nullptr);
    QCOMPARE(qlist(reversed.listResources()),
             (QStringList{"USB0::0x0699::0x0368::C0::0::INSTR", "ASRL1::INSTR",
                          "TCPIP0::10.0.0.2::inst0::INSTR", "TCPIP0::10.0.0.1::5025::SOCKET"}));
}

void TestResourceManager::reportsOnStandardErrorByDefault() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath("resources.conf");
    writeFile(file, "TCPIP::::5025::SOCKET\nASRL1::INSTR\n");

    std::vector<std::string> names;
    std::string reported;
    {
        CerrCapture capture;
        names = ResourceManager({str(file)}).listResources();
        reported = capture.text();
    }
    QCOMPARE(qlist(names), QStringList{"ASRL1::INSTR"});
    QVERIFY2(qstr(reported).startsWith(file + ":1: invalid resource name"), reported.c_str());
}

void TestResourceManager::listsNothingWithoutFiles() {
    QVERIFY(ResourceManager(std::vector<std::string>{}).listResources().empty());
    QVERIFY(ResourceManager({"/nonexistent/lumetra/resources.conf"}).listResources().empty());
}

void TestResourceManager::findsUserConfigFile_data() {
    QTest::addColumn<bool>("xdgSet");
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QString>("expected");

    const QString fromHome = "/home/tester/.config/lumetra/resources.conf";
    QTest::newRow("XDG_CONFIG_HOME set")
        << true << QByteArray("/srv/xdg") << "/srv/xdg/lumetra/resources.conf";
    QTest::newRow("XDG_CONFIG_HOME with trailing slash")
        << true << QByteArray("/srv/xdg/") << "/srv/xdg/lumetra/resources.conf";
    QTest::newRow("XDG_CONFIG_HOME empty") << true << QByteArray("") << fromHome;
    QTest::newRow("XDG_CONFIG_HOME relative") << true << QByteArray("config") << fromHome;
    QTest::newRow("XDG_CONFIG_HOME unset") << false << QByteArray() << fromHome;
}

void TestResourceManager::findsUserConfigFile() {
    QFETCH(bool, xdgSet);
    QFETCH(QByteArray, xdg);
    QFETCH(QString, expected);

    EnvironmentGuard xdgGuard("XDG_CONFIG_HOME");
    EnvironmentGuard homeGuard("HOME");
    QVERIFY(qputenv("HOME", "/home/tester"));
    if (xdgSet) {
        QVERIFY(qputenv("XDG_CONFIG_HOME", xdg));
    } else {
        QVERIFY(qunsetenv("XDG_CONFIG_HOME"));
    }

    QCOMPARE(qstr(ResourceManager::userConfigFile()), expected);
    const QStringList defaults{expected, "/etc/lumetra/resources.conf"};
    QCOMPARE(qlist(ResourceManager::defaultConfigFiles()), defaults);
    QCOMPARE(qlist(ResourceManager().configFiles()), defaults);
}

void TestResourceManager::addsResource_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("added");
    QTest::addColumn<QString>("after");

    QTest::newRow("to empty text")
        << ""
        << "TCPIP::10.0.0.1::5025::SOCKET" << true << "TCPIP0::10.0.0.1::5025::SOCKET\n";
    QTest::newRow("after a final line break")
        << "# bench\nASRL1::INSTR\n"
        << "USB::0x699::0x368::C0::INSTR" << true
        << "# bench\nASRL1::INSTR\nUSB0::0x0699::0x0368::C0::0::INSTR\n";
    QTest::newRow("without a final line break")
        << "ASRL1::INSTR"
        << "ASRL2::INSTR" << true << "ASRL1::INSTR\nASRL2::INSTR\n";
    QTest::newRow("after a last comment")
        << "ASRL1::INSTR\n# last"
        << "ASRL2::INSTR" << true << "ASRL1::INSTR\n# last\nASRL2::INSTR\n";
    QTest::newRow("CRLF file stays CRLF")
        << "ASRL1::INSTR\r\n"
        << "ASRL2::INSTR" << true << "ASRL1::INSTR\r\nASRL2::INSTR\r\n";
    QTest::newRow("malformed lines kept")
        << "oops\n  # note  \n"
        << "ASRL2::INSTR" << true << "oops\n  # note  \nASRL2::INSTR\n";
    QTest::newRow("only present in a comment")
        << "# TCPIP0::scope::5025::SOCKET\n"
        << "TCPIP0::scope::5025::SOCKET" << true
        << "# TCPIP0::scope::5025::SOCKET\nTCPIP0::scope::5025::SOCKET\n";
    QTest::newRow("already present, spelled differently")
        << "# bench\n  tcpip::Scope::05025::socket # scope\n"
        << "TCPIP0::scope::5025::SOCKET" << false
        << "# bench\n  tcpip::Scope::05025::socket # scope\n";
    QTest::newRow("already present, name spelled differently")
        << "USB0::0x0699::0x0368::C0::0::INSTR\n"
        << "usb::1689::872::C0::instr" << false << "USB0::0x0699::0x0368::C0::0::INSTR\n";
    QTest::newRow("other port is another resource")
        << "TCPIP0::scope::5025::SOCKET\n"
        << "TCPIP0::scope::5026::SOCKET" << true
        << "TCPIP0::scope::5025::SOCKET\nTCPIP0::scope::5026::SOCKET\n";
}

void TestResourceManager::addsResource() {
    QFETCH(QString, before);
    QFETCH(QString, name);
    QFETCH(bool, added);
    QFETCH(QString, after);

    std::string text = str(before);
    QCOMPARE(lumetra::addResourceToConfig(text, str(name)), added);
    QCOMPARE(qstr(text), after);
    // Whatever was added is now found, and adding again changes nothing.
    QVERIFY(qlist(lumetra::parseResourceConfig(text, "x", nullptr))
                .contains(qstr(lumetra::ResourceName::parse(str(name)).canonical())));
    QVERIFY(!lumetra::addResourceToConfig(text, str(name)));
    QCOMPARE(qstr(text), after);
}

void TestResourceManager::refusesToAddAnInvalidName() {
    std::string text = "ASRL1::INSTR\n";
    try {
        lumetra::addResourceToConfig(text, "TCPIP::10.0.0.1");
        QFAIL("an invalid name was added");
    } catch (const lumetra::Error& error) {
        QCOMPARE(error.code(), lumetra::status::ErrorInvalidResourceName);
    }
    QCOMPARE(qstr(text), QString("ASRL1::INSTR\n"));
}

void TestResourceManager::removesResource_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<QString>("after");

    QTest::newRow("comments and other lines kept")
        << "# lab\nASRL1::INSTR\n\nTCPIP::10.0.0.1::5025::SOCKET # scope\n  # trailing\n"
           "USB::1::2::S::INSTR\n"
        << "TCPIP0::10.0.0.1::5025::SOCKET" << true
        << "# lab\nASRL1::INSTR\n\n  # trailing\nUSB::1::2::S::INSTR\n";
    QTest::newRow("every spelling removed") << "ASRL1::INSTR\nASRL2::INSTR\nasrl01::instr # again\n"
                                            << "ASRL1::INSTR" << true << "ASRL2::INSTR\n";
    QTest::newRow("name spelled differently") << "TCPIP0::scope::inst0::INSTR\nASRL2::INSTR\n"
                                              << "tcpip::SCOPE::instr" << true << "ASRL2::INSTR\n";
    QTest::newRow("CRLF kept") << "ASRL1::INSTR\r\nASRL2::INSTR\r\n# end\r\n"
                               << "ASRL2::INSTR" << true << "ASRL1::INSTR\r\n# end\r\n";
    QTest::newRow("last line without a break") << "ASRL1::INSTR\nASRL2::INSTR"
                                               << "ASRL2::INSTR" << true << "ASRL1::INSTR\n";
    QTest::newRow("blanks on other lines kept byte for byte")
        << "  ASRL1::INSTR  \n\tASRL3::INSTR\t# three \n \n"
        << "ASRL1::INSTR" << true << "\tASRL3::INSTR\t# three \n \n";
    QTest::newRow("malformed lines kept") << "ASRL::INSTR\nASRL2::INSTR\n"
                                          << "ASRL2::INSTR" << true << "ASRL::INSTR\n";
    QTest::newRow("absent") << "ASRL1::INSTR\n"
                            << "ASRL2::INSTR" << false << "ASRL1::INSTR\n";
    QTest::newRow("only in a comment") << "# ASRL2::INSTR\n"
                                       << "ASRL2::INSTR" << false << "# ASRL2::INSTR\n";
    QTest::newRow("invalid name") << "ASRL1::INSTR\n"
                                  << "bogus" << false << "ASRL1::INSTR\n";
}

void TestResourceManager::removesResource() {
    QFETCH(QString, before);
    QFETCH(QString, name);
    QFETCH(bool, removed);
    QFETCH(QString, after);

    std::string text = str(before);
    QCOMPARE(lumetra::removeResourceFromConfig(text, str(name)), removed);
    QCOMPARE(qstr(text), after);
    QVERIFY(!lumetra::removeResourceFromConfig(text, str(name)));
    QCOMPARE(qstr(text), after);
}

QTEST_APPLESS_MAIN(TestResourceManager)
#include "test_resource_manager.moc"
