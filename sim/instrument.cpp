#include "sim/instrument.h"

#include "sim/atomic_file.h"
#include "sim/image_writer.h"
#include "sim/scpi_events.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace sim {

struct Instrument::Call {
    const std::vector<scpi::Argument>& args;
    bool query = false;
    SimClock::time_point now;
    std::optional<std::string> reply; // the value; the header is added by the dispatcher
};

struct Instrument::Entry {
    std::vector<std::string_view> pattern; // long forms; the capitals are the short form
    bool settable = false;
    bool queryable = false;
    Handler handler = nullptr;
};

namespace {

constexpr std::size_t MaxEvents = 32;
// Keeps a waveform file's block length within the nine digits a block header can give it.
constexpr int MaxPoints = 10'000'000;

std::optional<double> parseNumber(const scpi::Argument& arg) {
    if (arg.quoted || arg.text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(arg.text.c_str(), &end);
    if (end != arg.text.c_str() + arg.text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> parseBoolean(const scpi::Argument& arg) {
    if (arg.quoted) {
        return std::nullopt;
    }
    if (scpi::matchesForm(arg.text, "ON")) {
        return true;
    }
    if (scpi::matchesForm(arg.text, "OFF")) {
        return false;
    }
    if (const auto number = parseNumber(arg)) {
        return *number != 0.0;
    }
    return std::nullopt;
}

std::optional<int> parseChoice(const scpi::Argument& arg,
                               std::initializer_list<std::string_view> longForms) {
    if (arg.quoted) {
        return std::nullopt;
    }
    int index = 0;
    for (std::string_view form : longForms) {
        if (scpi::matchesForm(arg.text, form)) {
            return index;
        }
        ++index;
    }
    return std::nullopt;
}

std::string flag(bool on) {
    return on ? "1" : "0";
}

int statusBitFor(int code) {
    if (code >= 100 && code < 200) {
        return 0x20;
    }
    if (code >= 200 && code < 300) {
        return 0x10;
    }
    if (code >= 300 && code < 400) {
        return 0x08;
    }
    if (code >= 400 && code < 500) {
        return 0x04;
    }
    return 0;
}

std::string eventEntry(int code) {
    return std::to_string(code) + "," + scpi::quoted(eventText(code));
}

} // namespace

const std::vector<Instrument::Entry>& Instrument::commandTable() {
    static const std::vector<Entry> table = {
        {{"HEADer"}, true, true, &Instrument::onHeader},
        {{"VERBose"}, true, true, &Instrument::onVerbose},
        {{"DESE"}, true, true, &Instrument::onDese},
        {{"ALLEv"}, false, true, &Instrument::onAllEvents},
        {{"EVENT"}, false, true, &Instrument::onEvent},
        {{"EVMsg"}, false, true, &Instrument::onEventMessage},
        {{"EVQty"}, false, true, &Instrument::onEventCount},
        {{"ACQuire", "STOPAfter"}, true, true, &Instrument::onStopAfter},
        {{"ACQuire", "STATE"}, true, true, &Instrument::onAcquireState},
        {{"ACQuire", "NUMACq"}, false, true, &Instrument::onAcquisitionCount},
        {{"BUSY"}, false, true, &Instrument::onBusy},
        {{"TRIGger"}, true, false, &Instrument::onForceTrigger},
        {{"TRIGger", "A", "MODe"}, true, true, &Instrument::onTriggerMode},
        {{"TRIGger", "STATE"}, false, true, &Instrument::onTriggerState},
        {{"SAVe", "WAVEform"}, true, false, &Instrument::onSaveWaveform},
        {{"SAVe", "WAVEform", "FILEFormat"}, true, true, &Instrument::onWaveformFileFormat},
        {{"SAVe", "WAVEform", "GATIng"}, true, true, &Instrument::onWaveformGating},
        {{"SAVe", "IMAGe"}, true, false, &Instrument::onSaveImage},
        {{"SAVe", "IMAGe", "FILEFormat"}, true, true, &Instrument::onImageFileFormat},
        {{"SAVe", "IMAGe", "LAYout"}, true, true, &Instrument::onImageLayout},
        {{"SAVe", "IMAGe", "INKSaver"}, true, true, &Instrument::onInkSaver},
        {{"FILESystem", "DIR"}, false, true, &Instrument::onDirectory},
        {{"FILESystem", "CWD"}, true, true, &Instrument::onWorkingDirectory},
        {{"FILESystem", "MKDir"}, true, false, &Instrument::onMakeDirectory},
        {{"FILESystem", "DELEte"}, true, false, &Instrument::onDelete},
    };
    return table;
}

Instrument::Instrument(InstrumentSetup setup, SimClock::time_point now) : setup_(std::move(setup)) {
    setup_.points = std::clamp(setup_.points, 1, MaxPoints);
    reset(now);
}

void Instrument::reset(SimClock::time_point now) {
    stopAfter_ = StopAfter::RunStop;
    running_ = true;
    armedAt_ = now;
    lastTick_ = now;
    acquisitionsSinceStart_ = 0;
    normalTrigger_ = false;
    waveFormat_ = WaveFormat::Internal;
    gating_ = Gating::None;
    imageFormat_ = ImageFormat::Png;
    portrait_ = false;
    inkSaver_ = false;
    cwd_ = "D:/";
}

void Instrument::completeAcquisition() {
    ++acquisition_;
    ++acquisitionsSinceStart_;
    if (stopAfter_ == StopAfter::Sequence) {
        running_ = false;
    }
}

void Instrument::advance(SimClock::time_point now) {
    if (running_) {
        if (stopAfter_ == StopAfter::Sequence) {
            if (!triggerNever_ && now >= armedAt_ + setup_.triggerPeriod) {
                completeAcquisition();
            }
        } else if (triggerNever_) {
            lastTick_ = now;
        } else {
            const auto period =
                std::max<SimClock::duration>(setup_.triggerPeriod, std::chrono::milliseconds(1));
            const auto ticks = (now - lastTick_) / period;
            if (ticks > 0) {
                acquisition_ += static_cast<long>(ticks);
                acquisitionsSinceStart_ += static_cast<long>(ticks);
                lastTick_ += ticks * period;
            }
        }
    }
    if (opcPending_ && !busy(now)) {
        esr_ |= dese_ & 0x01; // the device event mask gates every bit of the register
        opcPending_ = false;
    }
}

void Instrument::queueEvent(int code) {
    const int bit = statusBitFor(code);
    if (bit != 0 && (dese_ & bit) == 0) {
        return;
    }
    esr_ |= bit;
    if (events_.size() >= MaxEvents) {
        events_.back() = {EventCode::QueueOverflow, eventText(EventCode::QueueOverflow)};
        return;
    }
    events_.push_back({code, eventText(code)});
}

std::optional<InstrumentEvent> Instrument::takeEvent() {
    if (events_.empty()) {
        return std::nullopt;
    }
    InstrumentEvent event = std::move(events_.front());
    events_.pop_front();
    return event;
}

std::string Instrument::headerFor(const std::vector<std::string_view>& pattern) const {
    std::string text;
    for (std::string_view node : pattern) {
        text += ':';
        text += verbose_ ? scpi::toUpper(node) : scpi::shortForm(node);
    }
    return text;
}

std::optional<std::string> Instrument::execute(std::string_view message, SimClock::time_point now) {
    advance(now);
    std::vector<std::string> path;
    std::string reply;
    bool answered = false;
    for (std::string_view text : scpi::splitUnits(message)) {
        const scpi::ProgramUnit unit = scpi::parseUnit(text);
        if (unit.errorCode != 0) {
            queueEvent(unit.errorCode);
            continue;
        }
        if (unit.nodes.empty()) {
            continue;
        }
        Call call{unit.args, unit.query, now, std::nullopt};
        if (unit.common) {
            executeCommon(unit, call);
        } else {
            std::vector<std::string> full = unit.rooted ? std::vector<std::string>{} : path;
            full.insert(full.end(), unit.nodes.begin(), unit.nodes.end());
            path.assign(full.begin(), full.end() - 1);

            const Entry* found = nullptr;
            for (const Entry& entry : commandTable()) {
                if (entry.pattern.size() == full.size() &&
                    std::equal(full.begin(), full.end(), entry.pattern.begin(),
                               [](const std::string& input, std::string_view form) {
                                   return scpi::matchesForm(input, form);
                               })) {
                    found = &entry;
                    break;
                }
            }
            if (found == nullptr || !(unit.query ? found->queryable : found->settable)) {
                queueEvent(EventCode::UndefinedHeader);
            } else if (unit.query && !unit.args.empty()) {
                queueEvent(EventCode::ParameterNotAllowed);
            } else {
                (this->*found->handler)(call);
                if (call.reply && header_) {
                    call.reply = headerFor(found->pattern) + " " + *call.reply;
                }
            }
        }
        if (call.reply) {
            if (answered) {
                reply += ';';
            }
            reply += *call.reply;
            answered = true;
        }
        advance(now);
    }
    if (!answered) {
        return std::nullopt;
    }
    return reply;
}

void Instrument::executeCommon(const scpi::ProgramUnit& unit, Call& call) {
    const std::string name = unit.nodes.size() == 1 ? scpi::toUpper(unit.nodes[0]) : std::string();
    const bool query = unit.query;
    const std::size_t argc = unit.args.size();
    auto numberIn = [&](int low, int high) -> std::optional<int> {
        if (argc == 0) {
            queueEvent(EventCode::MissingParameter);
            return std::nullopt;
        }
        if (argc > 1) {
            queueEvent(EventCode::ParameterNotAllowed);
            return std::nullopt;
        }
        const auto value = parseNumber(unit.args[0]);
        if (!value) {
            queueEvent(EventCode::DataTypeError);
            return std::nullopt;
        }
        const double rounded = std::round(*value);
        if (rounded < low || rounded > high) {
            queueEvent(EventCode::DataOutOfRange);
            return std::nullopt;
        }
        return static_cast<int>(rounded);
    };

    const bool takesValue = name == "*ESE" || name == "*SRE";
    if (argc > 0 && (query || !takesValue)) {
        const bool known = name == "*IDN" || name == "*RST" || name == "*CLS" || takesValue ||
                           name == "*ESR" || name == "*OPC" || name == "*STB" || name == "*WAI" ||
                           name == "*TRG";
        queueEvent(known ? EventCode::ParameterNotAllowed : EventCode::UndefinedHeader);
        return;
    }
    if (name == "*IDN" && query) {
        call.reply = setup_.idn;
    } else if (name == "*RST" && !query) {
        reset(call.now);
    } else if (name == "*CLS" && !query) {
        events_.clear();
        esr_ = 0;
        opcPending_ = false;
    } else if (name == "*ESE" || name == "*SRE") {
        int& reg = name == "*ESE" ? ese_ : sre_;
        if (query) {
            call.reply = std::to_string(reg);
        } else if (const auto value = numberIn(0, 255)) {
            reg = *value;
        }
    } else if (name == "*ESR" && query) {
        call.reply = std::to_string(esr_);
        esr_ = 0;
    } else if (name == "*OPC") {
        if (query) {
            call.reply = "1";
        } else {
            opcPending_ = true;
        }
    } else if (name == "*STB" && query) {
        int stb = 0;
        if (!events_.empty()) {
            stb |= 0x04;
        }
        if ((esr_ & ese_) != 0) {
            stb |= 0x20;
        }
        if ((stb & sre_) != 0) {
            stb |= 0x40;
        }
        call.reply = std::to_string(stb);
    } else if (name == "*WAI" && !query) {
    } else if (name == "*TRG" && !query) {
        onForceTrigger(call);
    } else {
        queueEvent(EventCode::UndefinedHeader);
    }
}

bool Instrument::expectArgs(const Call& call, std::size_t count) {
    if (call.args.size() < count) {
        queueEvent(EventCode::MissingParameter);
        return false;
    }
    if (call.args.size() > count) {
        queueEvent(EventCode::ParameterNotAllowed);
        return false;
    }
    return true;
}

void Instrument::onHeader(Call& call) {
    if (call.query) {
        call.reply = flag(header_);
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto on = parseBoolean(call.args[0])) {
        header_ = *on;
    } else {
        queueEvent(EventCode::IllegalParameterValue);
    }
}

void Instrument::onVerbose(Call& call) {
    if (call.query) {
        call.reply = flag(verbose_);
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto on = parseBoolean(call.args[0])) {
        verbose_ = *on;
    } else {
        queueEvent(EventCode::IllegalParameterValue);
    }
}

void Instrument::onDese(Call& call) {
    if (call.query) {
        call.reply = std::to_string(dese_);
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    const auto value = parseNumber(call.args[0]);
    if (!value) {
        queueEvent(EventCode::DataTypeError);
    } else if (std::round(*value) < 0 || std::round(*value) > 255) {
        queueEvent(EventCode::DataOutOfRange);
    } else {
        dese_ = static_cast<int>(std::round(*value));
    }
}

void Instrument::onAllEvents(Call& call) {
    if (events_.empty()) {
        call.reply = eventEntry(EventCode::NoEvents);
        return;
    }
    std::string text;
    while (const auto event = takeEvent()) {
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(event->code) + "," + scpi::quoted(event->text);
    }
    call.reply = text;
}

void Instrument::onEvent(Call& call) {
    const auto event = takeEvent();
    call.reply = std::to_string(event ? event->code : EventCode::NoEvents);
}

void Instrument::onEventMessage(Call& call) {
    const auto event = takeEvent();
    call.reply = event ? std::to_string(event->code) + "," + scpi::quoted(event->text)
                       : eventEntry(EventCode::NoEvents);
}

void Instrument::onEventCount(Call& call) {
    call.reply = std::to_string(events_.size());
}

void Instrument::onStopAfter(Call& call) {
    if (call.query) {
        call.reply = stopAfter_ == StopAfter::Sequence ? "SEQ" : "RUNST";
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    const auto choice = parseChoice(call.args[0], {"RUNSTop", "SEQuence"});
    if (!choice) {
        queueEvent(EventCode::IllegalParameterValue);
        return;
    }
    const StopAfter wanted = *choice == 1 ? StopAfter::Sequence : StopAfter::RunStop;
    if (wanted != stopAfter_) {
        stopAfter_ = wanted;
        armedAt_ = call.now;
        lastTick_ = call.now;
    }
}

void Instrument::onAcquireState(Call& call) {
    if (call.query) {
        call.reply = flag(running_);
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    std::optional<bool> run;
    if (const auto choice = parseChoice(call.args[0], {"RUN", "STOP"})) {
        run = *choice == 0;
    } else {
        run = parseBoolean(call.args[0]);
    }
    if (!run) {
        queueEvent(EventCode::IllegalParameterValue);
        return;
    }
    if (*run) {
        running_ = true;
        armedAt_ = call.now;
        lastTick_ = call.now;
        acquisitionsSinceStart_ = 0;
    } else {
        running_ = false;
    }
}

void Instrument::onAcquisitionCount(Call& call) {
    call.reply = std::to_string(acquisitionsSinceStart_);
}

void Instrument::onBusy(Call& call) {
    call.reply = flag(busy(call.now));
}

void Instrument::onForceTrigger(Call& call) {
    if (!expectArgs(call, 0)) {
        return;
    }
    if (running_) {
        completeAcquisition();
        lastTick_ = call.now;
    }
}

void Instrument::onTriggerMode(Call& call) {
    if (call.query) {
        call.reply = normalTrigger_ ? "NORM" : "AUTO";
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto choice = parseChoice(call.args[0], {"AUTO", "NORMal"})) {
        normalTrigger_ = *choice == 1;
    } else {
        queueEvent(EventCode::IllegalParameterValue);
    }
}

void Instrument::onTriggerState(Call& call) {
    if (armed()) {
        call.reply = "READY";
    } else if (running_) {
        call.reply = normalTrigger_ ? "TRIGGER" : "AUTO";
    } else {
        call.reply = "SAVE";
    }
}

std::optional<DrivePath> Instrument::resolveTarget(const scpi::Argument& arg, PathUse use) {
    if (!arg.quoted) {
        queueEvent(EventCode::DataTypeError);
        return std::nullopt;
    }
    PathResolution resolution = resolveDrivePath(arg.text, cwd_);
    if (resolution.errorCode == 0) {
        resolution.errorCode = checkDrivePath(resolution.path, setup_.root, use);
    }
    if (resolution.errorCode != 0) {
        queueEvent(resolution.errorCode);
        return std::nullopt;
    }
    return resolution.path;
}

WaveformSelection Instrument::selection(int source) const {
    WaveformSelection result;
    if (source == 0) {
        for (int channel = 0; channel < ChannelCount; ++channel) {
            result.channels.push_back(channel);
        }
    } else {
        result.channels.push_back(source - 1);
    }
    const int points = setup_.points;
    result.first = 0;
    result.count = points;
    if (gating_ == Gating::Cursors) {
        // The cursors stand at divisions 3 and 7 of the ten across the record.
        result.first = std::min(points * 3 / 10, points - 1);
        result.count = std::max(points * 7 / 10 - result.first, 1);
    }
    return result;
}

void Instrument::onSaveWaveform(Call& call) {
    if (!expectArgs(call, 2)) {
        return;
    }
    const auto source = parseChoice(call.args[0], {"ALL", "CH1", "CH2", "CH3", "CH4"});
    if (!source) {
        queueEvent(EventCode::IllegalParameterValue);
        return;
    }
    const auto target = resolveTarget(call.args[1], PathUse::NewFile);
    if (!target) {
        return;
    }
    const WaveformSet set = synthesizeWaveforms(acquisition_, setup_.points);
    const WaveformSelection chosen = selection(*source);
    const std::string contents = waveFormat_ == WaveFormat::Internal ? isfFileContents(set, chosen)
                                                                     : csvFileContents(set, chosen);
    if (!writeFileAtomically(target->host(setup_.root), contents)) {
        queueEvent(EventCode::MassStorageError);
        return;
    }
    busyUntil_ = std::max(busyUntil_, call.now + setup_.saveDuration);
}

void Instrument::onWaveformFileFormat(Call& call) {
    if (call.query) {
        call.reply = waveFormat_ == WaveFormat::Internal ? "INTERN" : "SPREADS";
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto choice = parseChoice(call.args[0], {"INTERNal", "SPREADSheet"})) {
        waveFormat_ = *choice == 0 ? WaveFormat::Internal : WaveFormat::Spreadsheet;
    } else {
        queueEvent(EventCode::IllegalParameterValue);
    }
}

void Instrument::onWaveformGating(Call& call) {
    static constexpr const char* names[] = {"NON", "CURS", "SCRE"};
    if (call.query) {
        call.reply = names[static_cast<int>(gating_)];
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto choice = parseChoice(call.args[0], {"NONe", "CURSors", "SCREen"})) {
        gating_ = static_cast<Gating>(*choice);
    } else {
        queueEvent(EventCode::IllegalParameterValue);
    }
}

void Instrument::onSaveImage(Call& call) {
    if (!expectArgs(call, 1)) {
        return;
    }
    const auto target = resolveTarget(call.args[0], PathUse::NewFile);
    if (!target) {
        return;
    }
    static constexpr const char* formats[] = {"BMP", "PNG", "TIFF"};
    const QImage image = renderScreen(synthesizeWaveforms(acquisition_, setup_.points),
                                      ScreenOptions{inkSaver_, portrait_});
    if (!saveScreenImage(image, target->host(setup_.root),
                         formats[static_cast<int>(imageFormat_)])) {
        queueEvent(EventCode::MassStorageError);
        return;
    }
    busyUntil_ = std::max(busyUntil_, call.now + setup_.saveDuration);
}

void Instrument::onImageFileFormat(Call& call) {
    static constexpr const char* names[] = {"BMP", "PNG", "TIF"};
    if (call.query) {
        call.reply = names[static_cast<int>(imageFormat_)];
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto choice = parseChoice(call.args[0], {"BMP", "PNG", "TIFf"})) {
        imageFormat_ = static_cast<ImageFormat>(*choice);
    } else {
        queueEvent(EventCode::IllegalParameterValue);
    }
}

void Instrument::onImageLayout(Call& call) {
    if (call.query) {
        call.reply = portrait_ ? "PORTR" : "LAN";
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto choice = parseChoice(call.args[0], {"LANdscape", "PORTRait"})) {
        portrait_ = *choice == 1;
    } else {
        queueEvent(EventCode::IllegalParameterValue);
    }
}

void Instrument::onInkSaver(Call& call) {
    if (call.query) {
        call.reply = flag(inkSaver_);
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto on = parseBoolean(call.args[0])) {
        inkSaver_ = *on;
    } else {
        queueEvent(EventCode::IllegalParameterValue);
    }
}

void Instrument::onDirectory(Call& call) {
    const PathResolution here = resolveDrivePath(cwd_, cwd_);
    const std::vector<std::string>* names =
        here.errorCode == 0 ? listing_.names(here.path.host(setup_.root)) : nullptr;
    if (names == nullptr) {
        queueEvent(EventCode::FileNameNotFound);
    }
    call.reply = names != nullptr ? listingReply(*names) : std::string();
}

void Instrument::onWorkingDirectory(Call& call) {
    if (call.query) {
        call.reply = scpi::quoted(cwd_);
        return;
    }
    if (!expectArgs(call, 1)) {
        return;
    }
    if (auto target = resolveTarget(call.args[0], PathUse::ExistingFolder)) {
        target->endsWithSeparator = true;
        cwd_ = target->display();
    }
}

void Instrument::onMakeDirectory(Call& call) {
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto target = resolveTarget(call.args[0], PathUse::NewFolder)) {
        std::error_code ec;
        if (!std::filesystem::create_directory(target->host(setup_.root), ec) || ec) {
            queueEvent(EventCode::MassStorageError);
        }
    }
}

void Instrument::onDelete(Call& call) {
    if (!expectArgs(call, 1)) {
        return;
    }
    if (const auto target = resolveTarget(call.args[0], PathUse::ExistingEntry)) {
        std::error_code ec;
        if (!std::filesystem::remove(target->host(setup_.root), ec) || ec) {
            queueEvent(EventCode::MassStorageError);
        }
    }
}

} // namespace sim
