#include "tests/resources/mhtml_reader.h"

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

class TestHelpFile : public QObject {
    Q_OBJECT

private:
    mhtml::Document document_;
    QString html_;

private slots:
    void initTestCase() {
        QFile file(QStringLiteral(HELP_FILE));
        QVERIFY2(file.open(QIODevice::ReadOnly), HELP_FILE);
        document_ = mhtml::read(file.readAll());
        QVERIFY2(document_.error.isEmpty(), qPrintable(document_.error));
        QVERIFY(!document_.parts.isEmpty());
        html_ = QString::fromUtf8(document_.parts.first().body);
    }

    void isAMultipartRelatedDocumentWithAnHtmlRoot() {
        QCOMPARE(document_.headers.value("mime-version"), QByteArray("1.0"));
        QCOMPARE(mhtml::parameter(document_.headers.value("content-type"), "type"),
                 QByteArray("text/html"));
        const mhtml::Part& root = document_.parts.first();
        QVERIFY(root.error.isEmpty());
        QCOMPARE(mhtml::mediaType(root.headers.value("content-type")), QByteArray("text/html"));
        QVERIFY(!root.headers.value("content-location").isEmpty());
        QVERIFY(html_.startsWith(QLatin1String("<!DOCTYPE html>")));
        QVERIFY(html_.trimmed().endsWith(QLatin1String("</html>")));
    }

    void everyPictureOfThePageIsInsideAndLoads() {
        QHash<QByteArray, const mhtml::Part*> byLocation;
        for (qsizetype index = 1; index < document_.parts.size(); ++index) {
            const mhtml::Part& part = document_.parts.at(index);
            const QByteArray location = part.headers.value("content-location");
            QVERIFY(!location.isEmpty());
            QVERIFY2(!byLocation.contains(location), location.constData());
            byLocation.insert(location, &part);
        }

        static const QRegularExpression Source(QStringLiteral("<img[^>]*\\ssrc=\"([^\"]+)\""));
        QSet<QByteArray> referenced;
        for (const QRegularExpressionMatch& match : Source.globalMatch(html_)) {
            referenced.insert(match.captured(1).toUtf8());
        }
        QCOMPARE(referenced.size(), 3);
        QCOMPARE(byLocation.size(), 3);

        for (const QByteArray& location : referenced) {
            QVERIFY2(byLocation.contains(location), location.constData());
            const mhtml::Part& part = *byLocation.value(location);
            QCOMPARE(part.headers.value("content-type"), QByteArray("image/png"));
            QCOMPARE(part.headers.value("content-transfer-encoding").toLower(),
                     QByteArray("base64"));
            QVERIFY2(part.error.isEmpty(), qPrintable(part.error));
            QImage image;
            QVERIFY2(image.loadFromData(part.body, "PNG"), location.constData());
            QVERIFY2(image.width() >= 120 && image.width() <= 2000, location.constData());
            QVERIFY2(image.height() >= 40 && image.height() <= 2000, location.constData());
            // A drawn window, not an empty canvas.
            QSet<QRgb> colours;
            for (int y = 0; y < image.height(); y += 3) {
                for (int x = 0; x < image.width(); x += 3) {
                    colours.insert(image.pixel(x, y));
                }
            }
            QVERIFY2(colours.size() > 8, location.constData());
        }
        for (const char* name :
             {"main-window.png", "preferences-window.png", "screen-options-window.png"}) {
            bool found = false;
            for (const QByteArray& location : referenced) {
                found = found || location.endsWith(QByteArray("/") + name);
            }
            QVERIFY2(found, name);
        }
    }

    void tellsHowToConnectAnInstrument() {
        for (const char* text : {"resources.conf", "lumetra-rm list", "lumetra-rm probe",
                                 "lumetra-rm add", "NQX8", "LVZ8"}) {
            QVERIFY2(html_.contains(QLatin1String(text)), text);
        }
    }

    void namesEveryStatusText() {
        for (const char* text : {": Waiting for Acquisition", "Delay after trigger", ": Save ISF",
                                 ": Save CSV", ": Save Screen", ": Done", ": Stopped"}) {
            QVERIFY2(html_.contains(QLatin1String(text)), text);
        }
    }

    void describesEveryPreference() {
        for (const char* text :
             {"Prefix Filenames with Date and Time", "Delay", "Ask before saving",
              "Stop after saving", "Save Waveforms (as ISF files)", "Save Waveforms (as CSV files)",
              "Save Screen Capture", "Path", "Prefix", "After Stopping, Run Continuous",
              "File Type", "Landscape", "Portrait", "Inksaver", "Defaults", "Cancel"}) {
            QVERIFY2(html_.contains(QLatin1String(text)), text);
        }
    }

    void tellsWhereTheFilesLand() {
        for (const char* text : {"D:\\my_ISFs_1", "D:\\my_CSVs_1", "D:\\my_Images_1.PNG", ".BMP",
                                 ".TIFF", "17 digits"}) {
            QVERIFY2(html_.contains(QLatin1String(text)), text);
        }
        static const QRegularExpression Stamp(QStringLiteral("my_ISFs_\\d{17}<"));
        QVERIFY(Stamp.match(html_).hasMatch());
    }

    void tellsHowToTryTheSimulatedInstrument() {
        QVERIFY(html_.contains(QLatin1String("bash scripts/demo.sh")));
        QVERIFY(html_.contains(QLatin1String("scopesim --help")));
    }
};

QTEST_GUILESS_MAIN(TestHelpFile)
#include "test_help_file.moc"
