#pragma once

class QApplication;

namespace app {

inline constexpr const char* ProgramTitle = "Varnolt";

// Application-wide settings that the program and its tests share.
//
// Closing the last visible window does not end the program by itself: the main window is
// hidden while a preferences window is shown, and the program ends only where the main window
// says so.
void configureApplication(QApplication& application);

} // namespace app
