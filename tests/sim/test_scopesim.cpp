// The simulator over loopback sockets, as a client sees it.
#include "sim/scope_server.h"
#include "tests/sim/scpi_test_client.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <fcntl.h>
#include <memory>

using namespace std::chrono_literals;
using scopesim_test::ScpiClient;
using scopesim_test::waitUntil;
using scopesim_test::withoutTimes;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QStringList filesUnder(const QString& root) {
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << QDir(root).relativeFilePath(it.next());
    }
    files.sort();
    return files;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

struct IsfFile {
    std::string preamble; // up to and without ":CURVE"
    std::size_t declaredLength = 0;
    std::string data;
    bool wellFormed = false;
};

IsfFile parseIsf(const QByteArray& bytes) {
    IsfFile isf;
    const std::string text = bytes.toStdString();
    const std::size_t curve = text.find(":CURVE #");
    if (curve == std::string::npos) {
        return isf;
    }
    isf.preamble = text.substr(0, curve);
    const std::size_t digitsAt = curve + 8;
    if (digitsAt >= text.size() || text[digitsAt] < '1' || text[digitsAt] > '9') {
        return isf;
    }
    const std::size_t digits = static_cast<std::size_t>(text[digitsAt] - '0');
    isf.declaredLength = std::stoul(text.substr(digitsAt + 1, digits));
    const std::size_t dataAt = digitsAt + 1 + digits;
    isf.data = text.substr(dataAt, isf.declaredLength);
    isf.wellFormed = text.size() == dataAt + isf.declaredLength + 1 && text.back() == '\n' &&
                     isf.data.size() == isf.declaredLength;
    return isf;
}

std::string preambleField(const std::string& preamble, const std::string& name) {
    for (const std::string& field : split(preamble, ';')) {
        const std::string bare = field.starts_with(":WFMPRE:") ? field.substr(8) : field;
        if (bare.starts_with(name + " ")) {
            return bare.substr(name.size() + 1);
        }
    }
    return {};
}

} // namespace

class ScopeSimTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> root_;
    std::unique_ptr<sim::ScopeServer> server_;

    sim::SimConfig config() const {
        sim::SimConfig c;
        c.root = root_->path().toStdString();
        return c;
    }

    std::uint16_t start(sim::SimConfig c) {
        server_ = std::make_unique<sim::ScopeServer>(std::move(c));
        server_->start();
        return server_->ports().at(0);
    }

    std::uint16_t start() { return start(config()); }

    // A connection with bare replies, as the program sets it up.
    ScpiClient bareClient(std::uint16_t port) {
        ScpiClient client(port);
        client.send("HEADER OFF;VERBOSE OFF");
        return client;
    }

    QString drivePath(const QString& relative) const { return root_->filePath("D/" + relative); }

private slots:
    void init() {
        root_ = std::make_unique<QTemporaryDir>();
        QVERIFY(root_->isValid());
    }

    void cleanup() {
        server_.reset();
        root_.reset();
    }

    void answersIdentityAndMakesDriveD() {
        const auto port = start();
        QVERIFY(port != 0);
        QVERIFY(QFileInfo(root_->filePath("D")).isDir());
        ScpiClient client(port);
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
    }

    void compoundUnitsFollowThePath() {
        ScpiClient client = bareClient(start());
        QVERIFY(client.send("ACQ:STOPA SEQ;STATE 0"));
        QCOMPARE(client.query("ACQ:STATE?;STOPA?"), std::optional<std::string>("0;SEQ"));
        // A common command in between keeps the path; a rooted unit starts afresh.
        QCOMPARE(client.query("ACQ:STOPA RUNST;*CLS;STATE 1;:ACQ:STATE?;*IDN?;STOPA?"),
                 std::optional<std::string>(std::string("1;") + sim::DefaultIdn + ";RUNST"));
        // "STATE" after "TRIG:A:MOD" resolves to TRIG:A:STATE, which does not exist.
        QCOMPARE(client.query("TRIG:A:MOD NORM;MOD?;:ALLEV?"),
                 std::optional<std::string>("NORM;0,\"No events to report - queue empty\""));
        QCOMPARE(client.query("TRIG:A:MOD?;STATE?;:ALLEV?"),
                 std::optional<std::string>("NORM;113,\"Undefined header\""));
    }

    void headersAcceptShortAndLongFormsInAnyCase() {
        ScpiClient client = bareClient(start());
        QVERIFY(client.send("acquire:stopafter sequence"));
        QCOMPARE(client.query("ACQ:STOPA?"), std::optional<std::string>("SEQ"));
        QVERIFY(client.send("Acq:StopA RunSt"));
        QCOMPARE(client.query("acquire:STOPAFTER?"), std::optional<std::string>("RUNST"));
        QVERIFY(client.send(":SAVE:IMAGE:LAYOUT portrait;:sav:imag:inks on"));
        QCOMPARE(client.query("SAV:IMAG:LAY?;INKS?"), std::optional<std::string>("PORTR;1"));
        // Forms in between the short and the long one are not headers.
        QVERIFY(client.send("ACQU:STOPA SEQ"));
        QVERIFY(client.send("ACQ:STOPAF SEQ"));
        QCOMPARE(client.query("ACQ:STOPA?"), std::optional<std::string>("RUNST"));
        QCOMPARE(client.query("ALLEV?"),
                 std::optional<std::string>("113,\"Undefined header\",113,\"Undefined header\""));
    }

    void headerAndVerboseShapeReplies() {
        ScpiClient client(start());
        QCOMPARE(client.query("ACQ:STATE?;:BUSY?"),
                 std::optional<std::string>(":ACQUIRE:STATE 1;:BUSY 0"));
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        QVERIFY(client.send("VERB OFF"));
        QCOMPARE(client.query("ACQ:STOPA?;:VERB?"),
                 std::optional<std::string>(":ACQ:STOPA RUNST;:VERB 0"));
        QVERIFY(client.send("HEAD OFF"));
        QCOMPARE(client.query("ACQ:STOPA?;:HEAD?"), std::optional<std::string>("RUNST;0"));
        QVERIFY(client.send("HEADER 1;VERBOSE ON"));
        QCOMPARE(client.query("SAV:WAVE:FILEF?"),
                 std::optional<std::string>(":SAVE:WAVEFORM:FILEFORMAT INTERN"));
    }

    void eventQueueCollectsErrors() {
        ScpiClient client = bareClient(start());
        const std::string empty = "0,\"No events to report - queue empty\"";
        QCOMPARE(client.query("ALLEV?"), std::optional<std::string>(empty));
        // A failing unit is skipped; the rest of the message still runs.
        QVERIFY(client.send(
            "BOGUS:CMD 1;:ACQ:STOPA MAYBE;:ACQ:STOPA;:ACQ:STOPA SEQ,RUNST;:ACQ:STOPA SEQ"));
        QCOMPARE(client.query("ACQ:STOPA?"), std::optional<std::string>("SEQ"));
        QCOMPARE(client.query("EVQTY?"), std::optional<std::string>("4"));
        QCOMPARE(client.query("ALLEV?"),
                 std::optional<std::string>("113,\"Undefined header\",224,\"Illegal parameter "
                                            "value\",109,\"Missing parameter\",108,\"Parameter "
                                            "not allowed\""));
        QCOMPARE(client.query("ALLEV?"), std::optional<std::string>(empty));
        QVERIFY(client.send("BUSY;*IDN"));
        QCOMPARE(client.query("EVENT?;EVMSG?;EVQTY?"),
                 std::optional<std::string>("113;113,\"Undefined header\";0"));
        QVERIFY(client.send("*CLS;NOPE"));
        QCOMPARE(client.query("*ESR?"), std::optional<std::string>("32"));
        QVERIFY(client.send("ACQ:STOPA MAYBE"));
        QCOMPARE(client.query("*ESR?;*ESR?"), std::optional<std::string>("16;0"));
        QVERIFY(client.send("*CLS"));
        QCOMPARE(client.query("EVQTY?;*ESR?"), std::optional<std::string>("0;0"));
    }

    void unusableFileNamesWriteNothing() {
        ScpiClient client = bareClient(start());
        QVERIFY(client.send("SAV:WAVE ALL,\"E:/w.isf\""));
        QVERIFY(client.send("SAV:WAVE ALL,\"D:/nowhere/w.isf\""));
        QVERIFY(client.send("SAV:WAVE ALL,\"D:/../w.isf\""));
        QVERIFY(client.send("SAV:WAVE ALL,\"\""));
        QVERIFY(client.send("SAV:WAVE ALL,\"D:/a|b.isf\""));
        QVERIFY(client.send("SAV:WAVE ALL,\"/w.isf\""));
        QVERIFY(client.send("SAV:IMAG \"Q:\\screen.png\""));
        QVERIFY(client.send("SAV:WAVE CH5,\"D:/w.isf\""));
        QCOMPARE(client.query("ALLEV?"),
                 std::optional<std::string>(
                     "250,\"Mass storage error\",256,\"File name not found\",257,\"File name "
                     "error\",257,\"File name error\",257,\"File name error\",257,\"File name "
                     "error\",250,\"Mass storage error\",224,\"Illegal parameter value\""));
        QCOMPARE(client.query("BUSY?"), std::optional<std::string>("0"));
        QCOMPARE(filesUnder(root_->path()), QStringList());
    }

    void forcedTriggerCompletesAnArmedSequence() {
        sim::SimConfig c = config();
        c.triggerPeriod = 60s;
        ScpiClient client = bareClient(start(c));
        QCOMPARE(client.query("BUSY?"), std::optional<std::string>("0"));
        QVERIFY(client.send("ACQ:STOPA SEQ;STATE 1"));
        QCOMPARE(client.query("BUSY?;ACQ:STATE?;NUMACQ?"), std::optional<std::string>("1;1;0"));
        QVERIFY(client.send("TRIG"));
        QCOMPARE(client.query("BUSY?;ACQ:STATE?;NUMACQ?"), std::optional<std::string>("0;0;1"));
        // Stopping an armed sequence aborts it without an acquisition.
        QVERIFY(client.send("ACQ:STATE RUN"));
        QVERIFY(client.send("ACQ:STATE STOP"));
        QCOMPARE(client.query("BUSY?;:ACQ:NUMACQ?"), std::optional<std::string>("0;0"));
    }

    void armedSequenceCompletesAfterTheTriggerPeriod() {
        sim::SimConfig c = config();
        c.triggerPeriod = 50ms;
        ScpiClient client = bareClient(start(c));
        QVERIFY(client.send("ACQ:STOPA SEQ;STATE 1"));
        QVERIFY(waitUntil([&] { return client.query("BUSY?") == "0"; }));
        QCOMPARE(client.query("ACQ:STATE?;NUMACQ?"), std::optional<std::string>("0;1"));
    }

    void triggerNeverLeavesTheSequenceArmed() {
        sim::SimConfig c = config();
        c.triggerPeriod = 0ms;
        c.triggerNever = true;
        ScpiClient client = bareClient(start(c));
        QVERIFY(client.send("ACQ:STOPA SEQ;STATE 1"));
        std::this_thread::sleep_for(200ms);
        QCOMPARE(client.query("BUSY?;ACQ:STATE?"), std::optional<std::string>("1;1"));
        QVERIFY(client.send("TRIGGER"));
        QCOMPARE(client.query("BUSY?;ACQ:STATE?"), std::optional<std::string>("0;0"));

        server_->setTriggerNever(false);
        QVERIFY(client.send("ACQ:STATE 1"));
        QVERIFY(waitUntil([&] { return client.query("BUSY?") == "0"; }));
    }

    void saveIsBusyForItsDuration() {
        sim::SimConfig c = config();
        c.saveDuration = 100ms;
        ScpiClient client = bareClient(start(c));
        QCOMPARE(client.query("SAV:WAVE ALL,\"D:/busy.isf\";:BUSY?"),
                 std::optional<std::string>("1"));
        QVERIFY(QFileInfo::exists(drivePath("busy.isf")));
        QVERIFY(waitUntil([&] { return client.query("BUSY?") == "0"; }));
    }

    void internalFileHoldsAMatchingBlock() {
        sim::SimConfig c = config();
        c.points = 500;
        ScpiClient client = bareClient(start(c));
        QVERIFY(
            client.send("ACQ:STATE 0;:SAV:WAVE ALL,\"D:\\all.isf\";:SAV:WAVE CH3,\"D:/ch3.isf\""));
        QCOMPARE(client.query("ALLEV?"),
                 std::optional<std::string>("0,\"No events to report - queue empty\""));

        const IsfFile all = parseIsf(readAll(drivePath("all.isf")));
        QVERIFY(all.wellFormed);
        QCOMPARE(all.declaredLength, std::size_t(4 * 500 * 2));
        QVERIFY(all.preamble.starts_with(":WFMPRE:ENCDG BIN;BN_FMT RI;BYT_OR LSB;BYT_NR 2;"));
        QCOMPARE(preambleField(all.preamble, "NR_PT"), std::string("500"));
        QCOMPARE(preambleField(all.preamble, "NR_CH"), std::string("4"));
        QCOMPARE(preambleField(all.preamble, "SOURCES"), std::string("\"CH1,CH2,CH3,CH4\""));
        QCOMPARE(preambleField(all.preamble, "XINCR"), std::string("8.0E-6"));

        const IsfFile ch3 = parseIsf(readAll(drivePath("ch3.isf")));
        QVERIFY(ch3.wellFormed);
        QCOMPARE(ch3.declaredLength, std::size_t(500 * 2));
        QCOMPARE(preambleField(ch3.preamble, "SOURCES"), std::string("\"CH3\""));
        // The acquisition is stopped, so both files hold the same one.
        QCOMPARE(ch3.data, all.data.substr(2 * 500 * 2, 500 * 2));
    }

    void spreadsheetFileMatchesTheInternalOne() {
        sim::SimConfig c = config();
        c.points = 200;
        ScpiClient client = bareClient(start(c));
        QVERIFY(
            client.send("ACQ:STATE 0;:SAV:WAVE ALL,\"D:/w.isf\";WAVE:FILEF SPREADSHEET;:SAV:WAVE "
                        "ALL,\"D:/w.csv\""));
        QCOMPARE(client.query("SAV:WAVE:FILEF?"), std::optional<std::string>("SPREADS"));
        const std::vector<std::string> lines =
            split(readAll(drivePath("w.csv")).toStdString(), '\n');
        QCOMPARE(lines.size(), std::size_t(1 + 200 + 1));
        QCOMPARE(lines.front(), std::string("TIME,CH1,CH2,CH3,CH4"));
        QVERIFY(lines.back().empty());

        const IsfFile isf = parseIsf(readAll(drivePath("w.isf")));
        QVERIFY(isf.wellFormed);
        const double ymult = std::stod(preambleField(isf.preamble, "YMULT"));
        double lastTime = -1.0;
        for (std::size_t row = 0; row < 200; ++row) {
            const std::vector<std::string> cells = split(lines[row + 1], ',');
            QCOMPARE(cells.size(), std::size_t(5));
            std::vector<double> numbers;
            for (const std::string& cell : cells) {
                QVERIFY2(cell.find_first_of("eE") == std::string::npos, cell.c_str());
                std::size_t used = 0;
                numbers.push_back(std::stod(cell, &used));
                QCOMPARE(used, cell.size());
            }
            QVERIFY(numbers[0] > lastTime);
            lastTime = numbers[0];
            for (int channel = 0; channel < 4; ++channel) {
                const std::size_t at = (static_cast<std::size_t>(channel) * 200 + row) * 2;
                const auto low = static_cast<unsigned char>(isf.data[at]);
                const auto high = static_cast<unsigned char>(isf.data[at + 1]);
                const auto code = static_cast<std::int16_t>(low | (high << 8));
                QVERIFY(std::abs(numbers[channel + 1] - code * ymult) < 1e-7);
            }
        }
    }

    void cursorGatingSavesPartOfTheRecord() {
        sim::SimConfig c = config();
        c.points = 1000;
        ScpiClient client = bareClient(start(c));
        QVERIFY(client.send("SAV:WAVE:GATI CURS;:SAV:WAVE CH1,\"D:/gated.isf\""));
        QCOMPARE(client.query("SAV:WAVE:GATI?"), std::optional<std::string>("CURS"));
        const IsfFile isf = parseIsf(readAll(drivePath("gated.isf")));
        QVERIFY(isf.wellFormed);
        QCOMPARE(preambleField(isf.preamble, "NR_PT"), std::string("400"));
    }

    void screenImagesDecode_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("inkSaver");
        QTest::addColumn<QByteArray>("decoded");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QColor>("background");
        QTest::newRow("png") << "PNG"
                             << "LANDSCAPE"
                             << "OFF" << QByteArray("png") << QSize(640, 480) << QColor(Qt::black);
        QTest::newRow("bmp") << "BMP"
                             << "LAN"
                             << "ON" << QByteArray("bmp") << QSize(640, 480) << QColor(Qt::white);
        QTest::newRow("tiff") << "TIF"
                              << "PORTRAIT"
                              << "1" << QByteArray("tiff") << QSize(480, 640) << QColor(Qt::white);
        QTest::newRow("png portrait")
            << "png"
            << "portr"
            << "0" << QByteArray("png") << QSize(480, 640) << QColor(Qt::black);
    }

    void screenImagesDecode() {
        QFETCH(QString, format);
        QFETCH(QString, layout);
        QFETCH(QString, inkSaver);
        QFETCH(QByteArray, decoded);
        QFETCH(QSize, size);
        QFETCH(QColor, background);
        ScpiClient client = bareClient(start());
        const QString command = QString("SAV:IMAG:FILEF %1;LAY %2;INKS %3;:SAV:IMAG \"D:/screen\"")
                                    .arg(format, layout, inkSaver);
        QVERIFY(client.send(command.toStdString()));
        QCOMPARE(client.query("ALLEV?"),
                 std::optional<std::string>("0,\"No events to report - queue empty\""));
        QImageReader reader(drivePath("screen"));
        QCOMPARE(reader.format(), decoded);
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), size);
        QCOMPARE(image.pixelColor(5, 5), background);
        QCOMPARE(image.pixelColor(size.width() - 6, size.height() - 6), background);
        // Traces in several distinct colours beside background and graticule.
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2) {
                colours.insert(image.pixel(x, y));
            }
        }
        QVERIFY(colours.size() > 6);
    }

    void fileSystemCommandsUseTheWorkingFolder() {
        ScpiClient client = bareClient(start());
        QCOMPARE(client.query("FILES:CWD?"), std::optional<std::string>("\"D:/\""));
        QVERIFY(client.send("FILESYSTEM:MKDIR \"runs\";:FILES:CWD 'runs'"));
        QCOMPARE(client.query("FILES:CWD?"), std::optional<std::string>("\"D:/runs/\""));
        QVERIFY(client.send("SAV:WAVE:FILEF SPREADS;:SAV:WAVE CH2,\"b.csv\";:SAV:WAVE "
                            "CH1,\"a.csv\";:FILES:MKD \"sub\""));
        QCOMPARE(client.query("FILES:DIR?"),
                 std::optional<std::string>("\"a.csv\",\"b.csv\",\"sub\""));
        QVERIFY(QFileInfo::exists(drivePath("runs/a.csv")));
        QVERIFY(client.send("FILES:DELE \"a.csv\";DELE \"D:\\runs\\sub\""));
        QCOMPARE(client.query("FILES:DIR?"), std::optional<std::string>("\"b.csv\""));
        QVERIFY(client.send("FILES:CWD \"D:/missing\";:FILES:DELE \"gone.csv\""));
        QCOMPARE(client.query("FILES:CWD?;:ALLEV?"),
                 std::optional<std::string>(
                     "\"D:/runs/\";256,\"File name not found\",256,\"File name not found\""));
    }

    void mutedInstrumentStopsAnswering() {
        const auto port = start();
        ScpiClient client = bareClient(port);
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        server_->setMuted(true);
        QVERIFY(server_->faults().muted);
        QCOMPARE(client.query("*IDN?", 500ms), std::nullopt);
        ScpiClient other(port);
        QCOMPARE(other.query("*IDN?", 500ms), std::nullopt);
        server_->setMuted(false);
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        // The muted messages were dropped, not queued.
        QCOMPARE(client.readUntilQuiet(100ms), std::string());
    }

    void refusingServerRefusesConnections() {
        const auto port = start();
        ScpiClient early(port);
        server_->setRefusing(true);
        ScpiClient client;
        QCOMPARE(client.connectTo(port), ECONNREFUSED);
        server_->setRefusing(false);
        QCOMPARE(client.connectTo(port), 0);
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        QCOMPARE(server_->ports().at(0), port);
    }

    void refusingFromTheStart() {
        sim::SimConfig c = config();
        c.faults.refusing = true;
        const auto port = start(c);
        QVERIFY(port != 0);
        ScpiClient client;
        QCOMPARE(client.connectTo(port), ECONNREFUSED);
        server_->setRefusing(false);
        QCOMPARE(client.connectTo(port), 0);
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
    }

    void connectionClosesAfterItsMessages() {
        sim::SimConfig c = config();
        c.faults.closeAfterMessages = 3;
        ScpiClient client(start(c));
        QVERIFY(client.send("HEAD OFF"));
        QCOMPARE(client.query("BUSY?"), std::optional<std::string>("0"));
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        QVERIFY(client.waitForClose());

        server_->setCloseAfterMessages(0);
        ScpiClient again(server_->ports().at(0));
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(again.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        }
        // Lowered to what a connection already sent, the switch closes it at once.
        server_->setCloseAfterMessages(5);
        QVERIFY(again.waitForClose());
    }

    void splitRepliesArriveWhole() {
        sim::SimConfig c = config();
        c.faults.splitReplyChunk = 4;
        ScpiClient client(start(c));
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        QCOMPARE(client.query("HEAD OFF;*IDN?;:BUSY?"),
                 std::optional<std::string>(std::string(sim::DefaultIdn) + ";0"));

        server_->setSplitReplyChunk(1);
        const std::string expected = std::string(sim::DefaultIdn) + ";" + sim::DefaultIdn;
        const auto began = std::chrono::steady_clock::now();
        QCOMPARE(client.query("*IDN?;*IDN?"), std::optional<std::string>(expected));
        // One byte at a time, with a pause of about a millisecond before each next one.
        QVERIFY(std::chrono::steady_clock::now() - began >= (expected.size() / 2) * 1ms);
        QVERIFY(client.receiveCalls() > 2);
    }

    void malformedReplyPromisesMoreThanItSends() {
        sim::SimConfig c = config();
        c.faults.malformedReply = 2;
        ScpiClient client(start(c));
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        QVERIFY(client.send("*IDN?"));
        const std::string raw = client.readUntilQuiet(300ms);
        QVERIFY2(raw.size() > 11 && raw.starts_with("#9"), raw.c_str());
        const std::size_t promised = std::stoul(raw.substr(2, 9));
        QVERIFY(promised > raw.size() - 11);
        // Only that one reply is spoiled.
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));

        server_->setMalformedReply(1);
        QVERIFY(client.send("*IDN?"));
        QVERIFY(client.readUntilQuiet(300ms).starts_with("#9"));
    }

    // The serial line takes the switches that fit a line without connections; close-after does
    // not cut it off.
    void serialLineTakesTheFaultSwitches() {
        sim::SimConfig c = config();
        c.serialPty = true;
        c.faults.closeAfterMessages = 1;
        c.faults.malformedReply = 2;
        start(c);
        const int fd = ::open(server_->serialPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        auto query = [fd](const std::string& message) {
            const std::string line = message + "\n";
            if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
                return std::string("(write failed)");
            }
            std::string reply;
            char byte = 0;
            pollfd p{fd, POLLIN, 0};
            while (::poll(&p, 1, 500) == 1 && ::read(fd, &byte, 1) == 1 && byte != '\n') {
                reply += byte;
            }
            return reply;
        };
        QCOMPARE(query("HEAD 0;*IDN?"), std::string(sim::DefaultIdn));
        const std::string spoiled = query("*IDN?");
        QVERIFY2(spoiled.starts_with("#9000000142"), spoiled.c_str());
        server_->setMuted(true);
        QCOMPARE(query("*IDN?"), std::string());
        server_->setMuted(false);
        server_->setSplitReplyChunk(5);
        QCOMPARE(query("BUSY?"), std::string("0"));
        ::close(fd);
    }

    void replyDelayDoesNotHoldUpOtherConnections() {
        const auto port = start();
        ScpiClient first(port);
        ScpiClient second(port);
        QCOMPARE(first.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        server_->setReplyDelay(700ms);
        const auto began = std::chrono::steady_clock::now();
        QVERIFY(first.send("*IDN?"));
        QVERIFY(second.send("*IDN?"));
        QCOMPARE(first.readLine(), std::optional<std::string>(sim::DefaultIdn));
        QCOMPARE(second.readLine(), std::optional<std::string>(sim::DefaultIdn));
        const auto took = std::chrono::steady_clock::now() - began;
        QVERIFY(took >= 700ms);
        // Delays that held up the loop would add up to 1.4 s.
        QVERIFY(took < 1300ms);
        server_->setReplyDelay(0ms);
    }

    void trafficLogHoldsTheMessagesInOrder() {
        sim::SimConfig c = config();
        const QString log = root_->filePath("traffic.log");
        c.instruments.front().logFile = log.toStdString();
        const auto port = start(c);
        ScpiClient client(port);
        QVERIFY(client.sendRaw("HEAD OFF\r\n"));
        QVERIFY(client.sendRaw("ACQ:STOPA SEQ;STATE 0\nSAV:WAVE ALL,\"D:/x y.isf\"\n"));
        QVERIFY(client.sendRaw("tab\there\n"));
        QVERIFY(client.sendRaw(std::string("ctl\x01\x1b"
                                           "end\r\n")));
        QVERIFY(client.sendRaw("\n"));
        // Whatever is still in flight when muting starts would be dropped too.
        QCOMPARE(client.query("*OPC?"), std::optional<std::string>("1"));
        server_->setMuted(true);
        QCOMPARE(client.query("DROPPED;*IDN?", 500ms), std::nullopt);
        server_->setMuted(false);
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        ScpiClient other(port);
        QCOMPARE(other.query("ACQ:STATE?"), std::optional<std::string>("0"));
        QCOMPARE(other
                     .query("*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;"
                            "*IDN?;*IDN?;*IDN?")
                     .value_or("")
                     .size(),
                 14 * std::strlen(sim::DefaultIdn) + 13);
        other.close();
        QVERIFY(waitUntil([&] { return readAll(log).endsWith("disconnected\n"); }));
        const std::string idn = sim::DefaultIdn;
        const std::string longReply = idn + ";" + idn + ";" + idn + ";" + idn + ";" + idn + ";" +
                                      idn + ";" + idn + ";" + idn + ";" + idn + ";" + idn + ";" +
                                      idn + ";" + idn + ";" + idn + ";" + idn;
        QCOMPARE(
            withoutTimes(readAll(log).toStdString()),
            "raw:1 * connected\n"
            "raw:1 > HEAD OFF\n"
            "raw:1 > ACQ:STOPA SEQ;STATE 0\n"
            "raw:1 > SAV:WAVE ALL,\"D:/x y.isf\"\n"
            "raw:1 > tab\there\n"
            "raw:1 > ctl\\x01\\x1Bend\n"
            "raw:1 > \n"
            "raw:1 > *OPC?\n"
            "raw:1 < 1\n"
            "raw:1 x DROPPED;*IDN?\n"
            "raw:1 > *IDN?\n"
            "raw:1 < " +
                idn +
                "\n"
                "raw:2 * connected\n"
                "raw:2 > ACQ:STATE?\n"
                "raw:2 < 0\n"
                "raw:2 > *IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;*IDN?;"
                "*IDN?;*IDN?\n"
                "raw:2 < " +
                longReply.substr(0, 512) + "... (" + std::to_string(longReply.size()) +
                " bytes)\n"
                "raw:2 * disconnected\n");
    }

    void instrumentsHaveTheirOwnPortsStateAndLogs() {
        sim::SimConfig c = config();
        const QString logA = root_->filePath("a.log");
        const QString logB = root_->filePath("b.log");
        c.instruments = {sim::InstrumentConfig{0, "ORVANE,NQX8034,A1,FV:1", logA.toStdString()},
                         sim::InstrumentConfig{0, "ORVANE,NQX8022,B2,FV:1", logB.toStdString()}};
        start(c);
        const auto ports = server_->ports();
        QCOMPARE(ports.size(), std::size_t(2));
        QVERIFY(ports[0] != ports[1]);
        ScpiClient a = bareClient(ports[0]);
        ScpiClient b = bareClient(ports[1]);
        QCOMPARE(a.query("*IDN?"), std::optional<std::string>("ORVANE,NQX8034,A1,FV:1"));
        QCOMPARE(b.query("*IDN?"), std::optional<std::string>("ORVANE,NQX8022,B2,FV:1"));
        QVERIFY(a.send("ACQ:STATE 0;:BOGUS"));
        QCOMPARE(a.query("ACQ:STATE?;:EVQTY?"), std::optional<std::string>("0;1"));
        QCOMPARE(b.query("ACQ:STATE?;:EVQTY?"), std::optional<std::string>("1;0"));
        QCOMPARE(withoutTimes(readAll(logA).toStdString()),
                 std::string("raw:1 * connected\n"
                             "raw:1 > HEADER OFF;VERBOSE OFF\n"
                             "raw:1 > *IDN?\n"
                             "raw:1 < ORVANE,NQX8034,A1,FV:1\n"
                             "raw:1 > ACQ:STATE 0;:BOGUS\n"
                             "raw:1 > ACQ:STATE?;:EVQTY?\n"
                             "raw:1 < 0;1\n"));
        QCOMPARE(withoutTimes(readAll(logB).toStdString()),
                 std::string("raw:2 * connected\n"
                             "raw:2 > HEADER OFF;VERBOSE OFF\n"
                             "raw:2 > *IDN?\n"
                             "raw:2 < ORVANE,NQX8022,B2,FV:1\n"
                             "raw:2 > ACQ:STATE?;:EVQTY?\n"
                             "raw:2 < 1;0\n"));
    }

    void manyConnectionsAtOnce() {
        const auto port = start();
        std::vector<ScpiClient> clients;
        for (int i = 0; i < 8; ++i) {
            clients.emplace_back(port);
            QVERIFY(clients.back().isConnected());
        }
        for (int round = 0; round < 3; ++round) {
            for (ScpiClient& client : clients) {
                QVERIFY(client.send("*IDN?"));
            }
            for (ScpiClient& client : clients) {
                QCOMPARE(client.readLine(), std::optional<std::string>(sim::DefaultIdn));
            }
        }
        // A client that reconnects while its old connection is still open.
        ScpiClient again(port);
        QCOMPARE(again.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        QCOMPARE(clients.front().query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
    }

    void restartedServerBindsTheSamePortAndGoesOnWithItsLog() {
        sim::SimConfig c = config();
        const QString log = root_->filePath("traffic.log");
        c.instruments.front().logFile = log.toStdString();
        const auto port = start(c);
        {
            ScpiClient client(port);
            QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
            server_.reset();
            QVERIFY(client.waitForClose());
        }
        c.instruments.front().port = port;
        QCOMPARE(start(c), port);
        ScpiClient client(port);
        QCOMPARE(client.query("*OPC?"), std::optional<std::string>("1"));
        const std::string idn = sim::DefaultIdn;
        QCOMPARE(withoutTimes(readAll(log).toStdString()),
                 "raw:1 * connected\nraw:1 > *IDN?\nraw:1 < " + idn +
                     "\nraw:1 * connected\nraw:1 > *OPC?\nraw:1 < 1\n");
    }

    void runServesOnTheCallersThread() {
        sim::ScopeServer server(config());
        std::thread serving([&] { server.run(); });
        QVERIFY(waitUntil([&] { return !server.ports().empty(); }));
        ScpiClient client(server.ports().at(0));
        QCOMPARE(client.query("*IDN?"), std::optional<std::string>(sim::DefaultIdn));
        server.stop();
        serving.join();
        QVERIFY(client.waitForClose());
    }

    void startFailsOnAPortInUse() {
        const auto port = start();
        sim::SimConfig c = config();
        c.instruments.front().port = port;
        sim::ScopeServer second(c);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, second.start());
    }
};

QTEST_GUILESS_MAIN(ScopeSimTest)
#include "test_scopesim.moc"
