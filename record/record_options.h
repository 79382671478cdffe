#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

namespace record {

enum class OutputMode {
    Lines, // one line per cycle; on a terminal also the status line with its progress dots
    Quiet, // nothing but failures
    Json,  // one JSON object per cycle and line
};

struct RecordOptions {
    QString settingsFile; // empty: the window program's own Varnolt.ini
    std::optional<QString> resource;
    // Preferences set on the command line, as key and stored text, in the order given.
    QList<std::pair<QString, QString>> overrides;
    OutputMode output = OutputMode::Lines;
};

struct CommandLine {
    enum class Action { Record, ShowHelp, ShowVersion, BadOption };
    Action action = Action::Record;
    RecordOptions options;
    QString message; // BadOption: what is wrong, naming the option
};

// Reads the arguments (the program's name first). Needs no application object.
CommandLine parseCommandLine(const QStringList& arguments);

// The --help text. Needs the application object for the program's name.
QString helpText();
QString versionText();

} // namespace record
