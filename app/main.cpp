#include "app/application.h"
#include "app/command_line.h"
#include "app/display_guard.h"
#include "app/frm_main.h"
#include "platform/quorix/quorix.h"
#include "platform/windowing/message_boxes.h"
#include "resources/program_icon.h"

#include <QApplication>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // A link reset by the instrument must end in an error of that operation, not the program.
    std::signal(SIGPIPE, SIG_IGN);
    // --help and --version need no display, so they are answered before the toolkit starts.
    QStringList arguments;
    for (int k = 0; k < argc; ++k) {
        arguments << QString::fromLocal8Bit(argv[k]);
    }
    const app::CommandLine early = app::parseEarly(arguments);
    if (early.action != app::CommandLine::Action::Run) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationVersion(QStringLiteral(VARNOLT_VERSION));
        const QString text = early.action == app::CommandLine::Action::ShowHelp
                                 ? app::helpText()
                                 : app::versionText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    const auto application = app::makeApplication(argc, argv);
    if (const QString problem = app::checkRemainingArguments(application->arguments());
        !problem.isEmpty()) {
        std::fprintf(stderr, "Varnolt: %s\nTry 'Varnolt --help'.\n", qPrintable(problem));
        return 2;
    }
    app::configureApplication(*application);
    application->setWindowIcon(resources::programIcon());

    windowing::QtMessageBoxes messageBoxes;
    quorix::Quorix quorix;
    frmMain window(quorix, messageBoxes);
    if (window.Form_Load() == frmMain::LoadResult::EndProgram) {
        return 1;
    }
    window.show();
    return application->exec();
}
