// Build tool: draws the program's three windows, as the program itself builds them, into PNG
// pictures for the help file and the README, so that the pictures never fall behind the
// windows. Runs without a display.
// Usage: render_windows OUTPUT_FOLDER
// Writes main-window.png, preferences-window.png and screen-options-window.png.
#include "app/application.h"
#include "app/frm_main.h"
#include "platform/quorix/quorix_control.h"
#include "platform/windowing/message_boxes.h"
#include "prefs/frm_prefs.h"
#include "prefs/frm_screen_options.h"
#include "resources/program_icon.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

namespace {

const QString Resource = QStringLiteral("TCPIP0::192.0.2.10::4000::SOCKET");
const QString Identity = QStringLiteral("ORVANE,NQX8034,C012345,CF:91.1CT FV:v1.0.4");

// An instrument that is always there, answers who it is and is never busy.
class PictureInstrument final : public quorix::QuorixControl {
public:
    void setReportErrors(bool on) override { reportErrors_ = on; }
    bool ReportErrors() const override { return reportErrors_; }
    void setSetting(int, int) override {}
    std::optional<QStringList> ResourceList() override { return QStringList{Resource}; }
    QString ResourceName() const override { return resourceName_; }
    void setResourceName(const QString& name) override { resourceName_ = name; }
    void Clear() override {}
    void Write(const QString&) override {}
    QString Query(const QString& query) override {
        return query == QLatin1String("*IDN?") ? Identity : QStringLiteral("0");
    }
    std::int32_t LastStatus() const override { return 0; }

private:
    bool reportErrors_ = false;
    QString resourceName_;
};

// No one is there to answer a message box: any box at all means the pictures would be wrong.
class NoMessageBoxes final : public windowing::MessageBoxes {
public:
    bool anyShown = false;
    windowing::Answer show(QWidget*, const QString&, const QString& text, windowing::Icon,
                           windowing::Buttons) override {
        std::fprintf(stderr, "render_windows: message box: %s\n", qPrintable(text));
        anyShown = true;
        return windowing::Answer::Ok;
    }
    windowing::Answer show(QWidget* parent, const QString& title, const QString& text,
                           windowing::Icon icon, windowing::Buttons buttons,
                           windowing::Answer) override {
        return show(parent, title, text, icon, buttons);
    }
};

// The window's client area under a plain title bar with its icon and caption, so that the
// picture shows which window it is.
QImage framed(QWidget& window) {
    window.show();
    QCoreApplication::processEvents();
    const QPixmap client = window.grab();

    constexpr int Border = 1;
    constexpr int TitleHeight = 28;
    QImage image(client.width() + 2 * Border, client.height() + TitleHeight + Border,
                 QImage::Format_RGB32);
    image.fill(QColor(0x9e, 0xa4, 0xab));
    QPainter painter(&image);
    painter.fillRect(QRect(Border, Border, client.width(), TitleHeight - Border),
                     QColor(0xe3, 0xe6, 0xea));
    const QPixmap icon = window.windowIcon().pixmap(18, 18);
    painter.drawPixmap(Border + 6, Border + (TitleHeight - Border - 18) / 2, icon);
    QFont font = window.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x20, 0x24, 0x28));
    const QRect titleText(Border + 30, Border, client.width() - 60, TitleHeight - Border);
    painter.drawText(titleText, Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
    painter.drawText(QRect(Border + client.width() - 26, Border, 20, TitleHeight - Border),
                     Qt::AlignCenter, QStringLiteral("\u2715"));
    painter.drawPixmap(Border, TitleHeight, client);
    painter.end();

    window.hide();
    QCoreApplication::processEvents();
    return image;
}

bool save(const QImage& image, const QDir& folder, const QString& name) {
    const QString path = folder.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "render_windows: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "render_windows: no temporary folder\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Builds often run without a desktop session; a private runtime folder keeps Qt quiet.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", scratch.path().toLocal8Bit());
    }
    QApplication application(argc, argv);
    app::configureApplication(application);
    if (application.arguments().size() != 2) {
        std::fprintf(stderr, "usage: render_windows OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir folder(application.arguments().at(1));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "render_windows: cannot make %s\n", qPrintable(folder.path()));
        return 1;
    }

    const QIcon icon = resources::programIcon();
    QApplication::setWindowIcon(icon);

    PictureInstrument instrument;
    NoMessageBoxes messageBoxes;
    frmMain window(instrument, messageBoxes);
    window.setInstanceLockPath(scratch.filePath(QStringLiteral("Varnolt.lock")));
    window.setSettingsFilePath(scratch.filePath(QStringLiteral("Varnolt.ini")));
    window.setProgramIcon(icon);
    if (window.Form_Load() != frmMain::LoadResult::Ready || messageBoxes.anyShown) {
        std::fprintf(stderr, "render_windows: the main window did not start\n");
        return 1;
    }

    const bool written =
        save(framed(window), folder, QStringLiteral("main-window.png")) &&
        save(framed(*window.prefsWindow()), folder, QStringLiteral("preferences-window.png")) &&
        save(framed(*window.screenOptionsWindow()), folder,
             QStringLiteral("screen-options-window.png"));
    return written && !messageBoxes.anyShown ? 0 : 1;
}
