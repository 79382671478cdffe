#include "platform/quorix/quorix.h"
#include "prefs/preference_store.h"
#include "prefs/preference_values.h"
#include "record/exit_codes.h"
#include "record/record_options.h"
#include "record/recorder.h"
#include "record/stop_signals.h"
#include "record/stored_run_preferences.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    record::ignoreBrokenPipes();
    record::installStopSignals();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnolt-record"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNOLT_VERSION));

    const record::CommandLine commandLine = record::parseCommandLine(application.arguments());
    switch (commandLine.action) {
    case record::CommandLine::Action::ShowHelp:
        std::fputs(record::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case record::CommandLine::Action::ShowVersion:
        std::fputs(record::versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case record::CommandLine::Action::BadOption:
        std::fprintf(stderr, "varnolt-record: %s\nTry 'varnolt-record --help'.\n",
                     commandLine.message.toLocal8Bit().constData());
        return record::ExitBadOption;
    case record::CommandLine::Action::Record:
        break;
    }

    const record::RecordOptions& options = commandLine.options;
    // The window program's own preferences, whatever this program's file is called.
    const prefs::PreferenceStore store(
        options.settingsFile.isEmpty()
            ? prefs::PreferenceStore::filePathFor(QStringLiteral("Varnolt"))
            : options.settingsFile);
    prefs::PreferenceValues values = prefs::PreferenceValues::load(store);
    for (const auto& [key, text] : options.overrides) {
        values.set(key, text);
    }
    const record::StoredRunPreferences preferences(std::move(values));

    quorix::Quorix quorix;
    record::Recorder::Output output;
    output.terminal = ::isatty(STDOUT_FILENO) == 1;
    output.mode = options.output;
    record::Recorder recorder(quorix, preferences, output);
    recorder.setStopSignal(record::pendingStopSignal);
    return recorder.run(options.resource);
}
