#include "resources/program_icon.h"

// A static library's resources are registered only when something asks for them, and the
// request has to stand outside any namespace, the unnamed one included.
static void registerProgramResources() {
    Q_INIT_RESOURCE(resources);
}

namespace resources {

QIcon programIcon() {
    static const bool registered = (registerProgramResources(), true);
    Q_UNUSED(registered);
    return QIcon(QString::fromLatin1(ProgramIconPath));
}

} // namespace resources
