#pragma once

#include <QApplication>
#include <memory>

namespace app {

// The line shown, and the exit status, when the program finds no display.
inline constexpr const char* NoDisplayLine =
    "Varnolt: no display was found; varnolt-record does the recording without one "
    "(varnolt-record --help).";
inline constexpr int ExitNoDisplay = 1;

// Makes the application object. Where the toolkit finds no display it would abort the
// program with its own words; instead this prints NoDisplayLine alone and ends the program
// with ExitNoDisplay. What the toolkit says while it starts is shown only once it started.
std::unique_ptr<QApplication> makeApplication(int& argc, char** argv);

} // namespace app
