#pragma once

#include <QIcon>
#include <QString>

namespace resources {

// Where the program icon lives among the program's compiled-in resources.
inline constexpr const char* ProgramIconPath = ":/varnolt/varnolt.svg";

// The icon of all of the program's windows, drawn from a scalable picture, so it is sharp at
// every size the desktop asks for. Needs Qt's SVG icon engine at run time.
QIcon programIcon();

} // namespace resources
