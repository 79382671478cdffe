#include "app/application.h"
#include "app/frm_main.h"
#include "platform/quorix/quorix.h"
#include "platform/windowing/message_boxes.h"
#include "resources/program_icon.h"

#include <QApplication>
#include <csignal>

int main(int argc, char** argv) {
    // A link reset by the instrument must end in an error of that operation, not the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication application(argc, argv);
    app::configureApplication(application);
    application.setWindowIcon(resources::programIcon());

    windowing::QtMessageBoxes messageBoxes;
    quorix::Quorix quorix;
    frmMain window(quorix, messageBoxes);
    if (window.Form_Load() == frmMain::LoadResult::EndProgram) {
        return 1;
    }
    window.show();
    return application.exec();
}
