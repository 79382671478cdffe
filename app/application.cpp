#include "app/application.h"

#include <QApplication>

namespace app {

void configureApplication(QApplication& application) {
    application.setQuitOnLastWindowClosed(false);
}

} // namespace app
