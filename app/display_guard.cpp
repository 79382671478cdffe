#include "app/display_guard.h"

#include <QStringList>
#include <cstdio>
#include <cstdlib>

namespace app {

namespace {

struct HeldMessage {
    QtMsgType type;
    QString text; // the context's texts belong to the caller and are not kept
};

QList<HeldMessage>* heldMessages = nullptr;

void holdOrEnd(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", NoDisplayLine);
        std::fflush(stderr);
        std::_Exit(ExitNoDisplay);
    }
    heldMessages->append({type, text});
}

} // namespace

std::unique_ptr<QApplication> makeApplication(int& argc, char** argv) {
    QList<HeldMessage> held;
    heldMessages = &held;
    const QtMessageHandler previous = qInstallMessageHandler(holdOrEnd);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    heldMessages = nullptr;
    const QMessageLogContext noContext;
    for (const HeldMessage& message : held) {
        if (previous) {
            previous(message.type, noContext, message.text);
        } else {
            std::fprintf(stderr, "%s\n", qPrintable(message.text));
        }
    }
    return application;
}

} // namespace app
