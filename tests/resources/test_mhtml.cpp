#include "resources/mhtml.h"
#include "tests/resources/mhtml_reader.h"

#include <QBuffer>
#include <QImage>
#include <QtTest>

namespace {

QByteArray png(int width, int height, QColor color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

const QString Page = QStringLiteral("<html><body><h1>Hilfe \u2013 Messger\u00e4t</h1>\n"
                                    "<img src=\"image:one.png\"> and <img src=\"image:two.png\">\n"
                                    "</body></html>\n");

} // namespace

class TestMhtml : public QObject {
    Q_OBJECT

private slots:
    void packsThePageFirstAndEveryPictureAfterIt() {
        const QByteArray one = png(40, 20, Qt::red);
        const QByteArray two = png(10, 30, Qt::blue);
        const helpfile::Packed packed = helpfile::packMhtml(
            Page, {helpfile::Picture{"one.png", one}, helpfile::Picture{"two.png", two}});
        QVERIFY2(packed.error.isEmpty(), qPrintable(packed.error));

        const mhtml::Document document = mhtml::read(packed.mhtml);
        QVERIFY2(document.error.isEmpty(), qPrintable(document.error));
        QCOMPARE(document.headers.value("mime-version"), QByteArray("1.0"));
        QCOMPARE(mhtml::parameter(document.headers.value("content-type"), "type"),
                 QByteArray("text/html"));
        QCOMPARE(document.parts.size(), 3);

        const mhtml::Part& root = document.parts.at(0);
        QVERIFY(root.error.isEmpty());
        QCOMPARE(mhtml::mediaType(root.headers.value("content-type")), QByteArray("text/html"));
        QCOMPARE(mhtml::parameter(root.headers.value("content-type"), "charset"),
                 QByteArray("utf-8"));
        const QString html = QString::fromUtf8(root.body);
        QVERIFY(html.contains(QStringLiteral("Hilfe \u2013 Messger\u00e4t")));
        QVERIFY(!html.contains(QLatin1String("image:")));

        const QList<QByteArray> pictures{one, two};
        for (int index = 1; index <= 2; ++index) {
            const mhtml::Part& part = document.parts.at(index);
            QVERIFY(part.error.isEmpty());
            QCOMPARE(part.headers.value("content-type"), QByteArray("image/png"));
            QCOMPARE(part.headers.value("content-transfer-encoding"), QByteArray("base64"));
            const QByteArray location = part.headers.value("content-location");
            QVERIFY(html.contains(QStringLiteral("src=\"%1\"").arg(QString::fromLatin1(location))));
            QCOMPARE(part.body, pictures.at(index - 1));
        }
        QCOMPARE(document.parts.at(1).headers.value("content-location"),
                 helpfile::pictureLocation("one.png").toLatin1());
    }

    void noLineIsLongerThanMimeAllowsAndTheBoundaryStaysOutOfTheParts() {
        const QString longPage = QStringLiteral("<p>") + QString(500, QLatin1Char('x')) +
                                 QStringLiteral(" = ") + QString(300, QChar(0x00e9)) +
                                 QStringLiteral("</p>\n<img src=\"image:one.png\">");
        const helpfile::Packed packed =
            helpfile::packMhtml(longPage, {helpfile::Picture{"one.png", png(300, 300, Qt::green)}});
        QVERIFY(packed.error.isEmpty());
        const QList<QByteArray> lines = packed.mhtml.split('\n');
        for (const QByteArray& line : lines) {
            QVERIFY2(line.size() <= 77, line.constData()); // 76 and the carriage return
        }
        const mhtml::Document document = mhtml::read(packed.mhtml);
        QVERIFY(document.error.isEmpty());
        QCOMPARE(packed.mhtml.count("--" + document.boundary), 3);
        const qsizetype paragraphEnd = longPage.indexOf(QLatin1String("</p>"));
        QCOMPARE(QString::fromUtf8(document.parts.at(0).body).left(paragraphEnd),
                 longPage.left(paragraphEnd));
    }

    void quotedPrintableKeepsEveryByte() {
        QByteArray all;
        for (int c = 0; c < 256; ++c) {
            if (c != '\n' && c != '\r') {
                all += static_cast<char>(c);
            }
        }
        const QByteArray text = all + "\nline with a trailing blank \nlast\t";
        QByteArray decoded;
        QVERIFY(mhtml::decodeQuotedPrintable(helpfile::encodeQuotedPrintable(text), decoded));
        QCOMPARE(decoded, QByteArray(text).replace("\n", "\r\n"));
        const QByteArray encoded = helpfile::encodeQuotedPrintable("a \nb\t");
        QCOMPARE(encoded, QByteArray("a=20\r\nb=09"));
    }

    void aReferenceWithoutItsPictureIsAnError() {
        const helpfile::Packed packed =
            helpfile::packMhtml(Page, {helpfile::Picture{"one.png", png(4, 4, Qt::red)}});
        QVERIFY(packed.mhtml.isEmpty());
        QVERIFY(packed.error.contains(QLatin1String("two.png")));
    }

    void aPictureWithoutAReferenceIsAnError() {
        const helpfile::Packed packed =
            helpfile::packMhtml(Page, {helpfile::Picture{"one.png", png(4, 4, Qt::red)},
                                       helpfile::Picture{"two.png", png(4, 4, Qt::red)},
                                       helpfile::Picture{"three.png", png(4, 4, Qt::red)}});
        QVERIFY(packed.mhtml.isEmpty());
        QVERIFY(packed.error.contains(QLatin1String("three.png")));
    }
};

QTEST_GUILESS_MAIN(TestMhtml)
#include "test_mhtml.moc"
