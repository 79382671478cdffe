#include "app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace app {

void addProgramOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Turns a digital storage oscilloscope into an unattended recorder: after every\n"
        "trigger the instrument saves the acquisition to its own drive, as waveform files\n"
        "(ISF, CSV) and a screen image. The main window's Prefs button chooses what is\n"
        "saved, Start and Stop run and end the recording, Close ends the program.\n"
        "\n"
        "At start the program asks the instrument resources that Lumetra knows (see\n"
        "lumetra-rm) for *IDN? and takes the first of a supported model family. The\n"
        "preferences are kept in ~/.config/Varnolt/Varnolt.ini. The program needs a\n"
        "display; varnolt-record does the same recording without one.\n"
        "\n"
        "Exit status: 0 after Close, 1 when start-up failed or no display was found."));
    parser.addHelpOption();
    parser.addVersionOption();
}

CommandLine parseEarly(const QStringList& arguments) {
    QCommandLineParser parser;
    addProgramOptions(parser);
    // Unknown options may be the toolkit's own (-platform, -display ...): not judged here.
    parser.parse(arguments);
    CommandLine result;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        result.action = CommandLine::Action::ShowHelp;
    } else if (parser.isSet(QStringLiteral("version"))) {
        result.action = CommandLine::Action::ShowVersion;
    }
    return result;
}

QString checkRemainingArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    addProgramOptions(parser);
    if (!parser.parse(arguments)) {
        return parser.errorText();
    }
    if (!parser.positionalArguments().isEmpty()) {
        return QStringLiteral("Unexpected argument '%1'.")
            .arg(parser.positionalArguments().constFirst());
    }
    return {};
}

QString helpText() {
    QCommandLineParser parser;
    addProgramOptions(parser);
    return parser.helpText();
}

QString versionText() {
    return QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() +
           u'\n';
}

} // namespace app
