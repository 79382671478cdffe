#include "record/record_options.h"

#include "prefs/input_rules.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

namespace record {

namespace {

struct SaveKind {
    const char* name;  // option name: --isf, --no-isf, --isf-path, --isf-prefix
    const char* what;  // for the help text
    const char* check; // preference keys
    const char* path;
    const char* prefix;
};

constexpr SaveKind SaveKinds[] = {
    {"isf", "the waveforms as ISF files", "chkWFM", "txtWFMpath", "txtWFMprefix"},
    {"csv", "the waveforms as CSV files", "chkASCII", "txtASCIIpath", "txtASCIIprefix"},
    {"screen", "an image of the screen", "chkScreen", "txtScreenPath", "txtScreenPrefix"},
};

constexpr int MaxCount = 1000000000;

QString name(const char* text) {
    return QString::fromLatin1(text);
}

void addOptions(QCommandLineParser& parser) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Records from the instrument without a desktop: after every trigger the instrument\n"
        "saves the acquisition to its own drive, as the window program Varnolt does after\n"
        "Start, with the same commands. The preferences come from Varnolt's own settings\n"
        "file; the options below override single ones for this run. Each cycle prints one\n"
        "line: time, cycle number, outcome (saved, done, stopped, failed or skipped) and the\n"
        "instrument-side names of the files saved. SIGINT or SIGTERM stops the run as the\n"
        "Stop button does, restoring the instrument when so chosen, and then ends the\n"
        "program. There is no one to ask \"Save this Aquisition?\": every acquisition is\n"
        "saved. Where options contradict each other, the last one counts.\n"
        "\n"
        "Exit status: 0 the limit was reached, 1 the instrument did not save a file,\n"
        "2 bad option or nothing selected to save, 3 no instrument found, 130 stopped by\n"
        "SIGINT, 143 stopped by SIGTERM."));
    parser.addOption({QStringLiteral("settings"),
                      QStringLiteral("Read the preferences from <file> instead of "
                                     "~/.config/Varnolt/Varnolt.ini."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("resource"),
                      QStringLiteral("Record from <resource> instead of the first instrument "
                                     "of a supported model family that Lumetra lists; any "
                                     "reply to *IDN? accepts it."),
                      QStringLiteral("resource")});
    for (const SaveKind& kind : SaveKinds) {
        const QString option = name(kind.name);
        parser.addOption({option, QStringLiteral("Save %1.").arg(name(kind.what))});
        parser.addOption({QStringLiteral("no-") + option,
                          QStringLiteral("Do not save %1.").arg(name(kind.what))});
        parser.addOption({option + QStringLiteral("-path"),
                          QStringLiteral("Instrument-side folder of %1, e.g. D:\\runs\\ "
                                         "(\"/\" becomes \"\\\", a final \"\\\" is added).")
                              .arg(name(kind.what)),
                          QStringLiteral("path")});
        parser.addOption(
            {option + QStringLiteral("-prefix"),
             QStringLiteral("File-name prefix of %1: letters, digits and @#$!%^&()_-+={}';,.`~.")
                 .arg(name(kind.what)),
             QStringLiteral("prefix")});
    }
    parser.addOption({QStringLiteral("delay"),
                      QStringLiteral("Wait <seconds> (0 to 60) after each trigger before saving."),
                      QStringLiteral("seconds")});
    parser.addOption({QStringLiteral("count"),
                      QStringLiteral("Stop after <n> acquisitions (1 or more)."),
                      QStringLiteral("n")});
    parser.addOption(
        {QStringLiteral("no-limit"), QStringLiteral("Record until stopped by SIGINT or SIGTERM.")});
    parser.addOption({QStringLiteral("timestamps"),
                      QStringLiteral("Name the files by date and time (yyyyMMddHHmmsszzz).")});
    parser.addOption(
        {QStringLiteral("counter"), QStringLiteral("Name the files by a running number, from 1.")});
    parser.addOption({QStringLiteral("restore"),
                      QStringLiteral("Put the instrument back into continuous acquisition "
                                     "when the run ends.")});
    parser.addOption({QStringLiteral("no-restore"),
                      QStringLiteral("Leave the instrument as the last cycle left it.")});
    parser.addOption({QStringLiteral("quiet"), QStringLiteral("Print nothing but failures.")});
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("Print one JSON object per cycle and line: time, cycle, "
                                     "outcome, files.")});
    parser.addHelpOption();
    parser.addVersionOption();
}

// A path or prefix shaped as the preferences window shapes typed text; a character the window
// would not let through is refused.
std::optional<QString> typedText(const QString& text, int (*keyRule)(int)) {
    QString result;
    for (const QChar c : text) {
        const int code = keyRule(c.unicode());
        if (code == 0 || code == prefs::kBackspace) {
            return std::nullopt;
        }
        result.append(QChar(code));
    }
    return result;
}

bool wholeNumber(const QString& text, int low, int high, int& value) {
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok && !text.startsWith(u'+') && value >= low && value <= high;
}

CommandLine bad(const QString& message) {
    CommandLine result;
    result.action = CommandLine::Action::BadOption;
    result.message = message;
    return result;
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        return bad(parser.errorText());
    }
    CommandLine result;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        result.action = CommandLine::Action::ShowHelp;
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        result.action = CommandLine::Action::ShowVersion;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return bad(QStringLiteral("unexpected argument: %1")
                       .arg(parser.positionalArguments().constFirst()));
    }
    RecordOptions& options = result.options;
    // Options are taken in the order given, so that a later one overrides an earlier one:
    // a service's own options can follow those of its unit file.
    QHash<QString, int> seen;
    for (const QString& option : parser.optionNames()) {
        const QString value = parser.values(option).value(seen[option]++);
        const auto set = [&options](const char* key, const QString& text) {
            options.overrides.append({QString::fromLatin1(key), text});
        };
        if (option == QLatin1String("settings")) {
            options.settingsFile = value;
        } else if (option == QLatin1String("resource")) {
            options.resource = value;
        } else if (option == QLatin1String("quiet")) {
            options.output = OutputMode::Quiet;
        } else if (option == QLatin1String("json")) {
            options.output = OutputMode::Json;
        } else if (option == QLatin1String("delay")) {
            int seconds = 0;
            if (!wholeNumber(value, 0, 60, seconds)) {
                return bad(
                    QStringLiteral("--delay takes whole seconds from 0 to 60, not %1").arg(value));
            }
            set("hsDelay", QString::number(seconds));
        } else if (option == QLatin1String("count")) {
            int count = 0;
            if (!wholeNumber(value, 1, MaxCount, count)) {
                return bad(QStringLiteral("--count takes a whole number from 1 to %1, not %2")
                               .arg(MaxCount)
                               .arg(value));
            }
            set("chkStopAfter", QStringLiteral("1"));
            set("txtAcqLimit", QString::number(count));
        } else if (option == QLatin1String("no-limit")) {
            set("chkStopAfter", QStringLiteral("0"));
        } else if (option == QLatin1String("timestamps") || option == QLatin1String("counter")) {
            set("chkUseTimestamps",
                option == QLatin1String("timestamps") ? QStringLiteral("1") : QStringLiteral("0"));
        } else if (option == QLatin1String("restore") || option == QLatin1String("no-restore")) {
            set("chkRestoreRun",
                option == QLatin1String("restore") ? QStringLiteral("1") : QStringLiteral("0"));
        } else {
            for (const SaveKind& kind : SaveKinds) {
                const QString base = name(kind.name);
                if (option == base || option == QStringLiteral("no-") + base) {
                    set(kind.check, option == base ? QStringLiteral("1") : QStringLiteral("0"));
                } else if (option == base + QStringLiteral("-path")) {
                    const auto path = typedText(value, prefs::slashConversion);
                    if (!path) {
                        return bad(QStringLiteral("--%1 takes no double quote or control "
                                                  "character")
                                       .arg(option));
                    }
                    set(kind.path, prefs::fixPath(*path));
                } else if (option == base + QStringLiteral("-prefix")) {
                    const auto prefix = typedText(value, prefs::prefixFilter);
                    if (!prefix) {
                        return bad(QStringLiteral("--%1 takes only letters, digits and "
                                                  "@#$!%^&()_-+={}';,.`~, not %2")
                                       .arg(option, value));
                    }
                    set(kind.prefix, *prefix);
                }
            }
        }
    }
    return result;
}

QString helpText() {
    QCommandLineParser parser;
    addOptions(parser);
    return parser.helpText();
}

QString versionText() {
    return QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() +
           u'\n';
}

} // namespace record
