#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

namespace app {

// The window program's command line: it takes no arguments of its own but --help and
// --version, besides the options the window system's toolkit reads itself.
struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion };
    Action action = Action::Run;
};

void addProgramOptions(QCommandLineParser& parser);

// Looks for --help and --version before the toolkit starts, so that they work without a
// display. Anything else is left for checkRemainingArguments.
CommandLine parseEarly(const QStringList& arguments);

// After the toolkit has taken its own options: the text of what is left over, or empty when
// nothing is.
QString checkRemainingArguments(const QStringList& arguments);

// The --help and --version texts. They need the application object for the program's name.
QString helpText();
QString versionText();

} // namespace app
