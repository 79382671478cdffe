#include "sim/image_writer.h"

#include "sim/atomic_file.h"

#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QTransform>

namespace sim {

namespace {

constexpr int DivisionsX = 10;
constexpr int DivisionsY = 8;
constexpr double VoltsPerDivision = 1.0;

void drawGraticule(QPainter& painter, const QColor& colour) {
    painter.setPen(QPen(colour, 1));
    for (int i = 0; i <= DivisionsX; ++i) {
        const int x = std::min(i * ScreenWidth / DivisionsX, ScreenWidth - 1);
        painter.drawLine(x, 0, x, ScreenHeight - 1);
    }
    for (int j = 0; j <= DivisionsY; ++j) {
        const int y = std::min(j * ScreenHeight / DivisionsY, ScreenHeight - 1);
        painter.drawLine(0, y, ScreenWidth - 1, y);
    }
    const int cx = ScreenWidth / 2;
    const int cy = ScreenHeight / 2;
    const int minorX = ScreenWidth / DivisionsX / 5;
    const int minorY = ScreenHeight / DivisionsY / 5;
    for (int x = 0; x < ScreenWidth; x += minorX) {
        painter.drawLine(x, cy - 3, x, cy + 3);
    }
    for (int y = 0; y < ScreenHeight; y += minorY) {
        painter.drawLine(cx - 3, y, cx + 3, y);
    }
}

} // namespace

QImage renderScreen(const WaveformSet& set, const ScreenOptions& options) {
    QImage image(ScreenWidth, ScreenHeight, QImage::Format_RGB32);
    image.fill(options.inkSaver ? QColor(Qt::white) : QColor(Qt::black));

    static const QColor onDark[ChannelCount] = {QColor(255, 220, 0), QColor(0, 200, 255),
                                                QColor(255, 60, 200), QColor(40, 220, 80)};
    static const QColor onLight[ChannelCount] = {QColor(190, 120, 0), QColor(0, 80, 220),
                                                 QColor(190, 0, 130), QColor(0, 130, 40)};
    {
        QPainter painter(&image);
        drawGraticule(painter, options.inkSaver ? QColor(64, 64, 64) : QColor(110, 110, 110));
        painter.setRenderHint(QPainter::Antialiasing, true);
        const double pixelsPerVolt = ScreenHeight / (DivisionsY * VoltsPerDivision);
        for (int channel = 0; channel < ChannelCount && set.points > 0; ++channel) {
            QPainterPath path;
            for (int i = 0; i < set.points; ++i) {
                const double x =
                    set.points > 1 ? i * (ScreenWidth - 1.0) / (set.points - 1) : ScreenWidth / 2.0;
                const double y = ScreenHeight / 2.0 - set.volts(channel, i) * pixelsPerVolt;
                if (i == 0) {
                    path.moveTo(x, y);
                } else {
                    path.lineTo(x, y);
                }
            }
            painter.setPen(QPen(options.inkSaver ? onLight[channel] : onDark[channel], 1.5));
            painter.drawPath(path);
        }
    }
    if (options.portrait) {
        return image.transformed(QTransform().rotate(90));
    }
    return image;
}

bool saveScreenImage(const QImage& image, const std::filesystem::path& target, const char* format) {
    return replaceFileAtomically(target, [&](const std::filesystem::path& temp) {
        return image.save(QString::fromStdString(temp.string()), format);
    });
}

} // namespace sim
