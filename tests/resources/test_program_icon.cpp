#include "resources/program_icon.h"

#include <QFile>
#include <QImageReader>
#include <QSettings>
#include <QSvgRenderer>
#include <QtTest>

class TestProgramIcon : public QObject {
    Q_OBJECT

private slots:
    void theIconIsAScalablePictureAmongTheResources() {
        resources::programIcon();
        QFile file(QString::fromLatin1(resources::ProgramIconPath));
        QVERIFY(file.exists());
        QSvgRenderer renderer(QString::fromLatin1(resources::ProgramIconPath));
        QVERIFY(renderer.isValid());
        QCOMPARE(renderer.defaultSize(), QSize(256, 256));
    }

    void qtCanDrawItAtEverySize() {
        // Without the SVG image and icon plugins the icon would be empty.
        QVERIFY(QImageReader::supportedImageFormats().contains("svg"));
        const QIcon icon = resources::programIcon();
        QVERIFY(!icon.isNull());
        for (const int size : {16, 32, 48, 128, 256}) {
            const QImage image = icon.pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            // Transparent at the corner, drawn in the middle.
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
        }
    }

    void theDesktopEntryStartsTheProgramWithItsIcon() {
        QSettings entry(QStringLiteral(DESKTOP_ENTRY), QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        QCOMPARE(entry.value("Type").toString(), QStringLiteral("Application"));
        QCOMPARE(entry.value("Name").toString(), QStringLiteral("Varnolt"));
        QCOMPARE(entry.value("Exec").toString(), QStringLiteral("Varnolt"));
        QCOMPARE(entry.value("Icon").toString(), QStringLiteral("varnolt"));
        QCOMPARE(entry.value("Terminal").toString(), QStringLiteral("false"));
    }
};

QTEST_MAIN(TestProgramIcon)
#include "test_program_icon.moc"
