#pragma once

#include "sim/drive_paths.h"
#include "sim/listing_index.h"
#include "sim/scope_server.h"
#include "sim/scpi_parser.h"
#include "sim/waveform_files.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using SimClock = std::chrono::steady_clock;

struct InstrumentSetup {
    std::string idn = DefaultIdn;
    std::filesystem::path root;
    std::chrono::milliseconds triggerPeriod{100};
    std::chrono::milliseconds saveDuration{50};
    int points = 1000;
};

struct InstrumentEvent {
    int code = 0;
    std::string text;
};

// The state and command set of one simulated instrument. It does no I/O but its file saves and
// takes the time from the caller, so its timing can be driven by a test clock.
class Instrument {
public:
    Instrument(InstrumentSetup setup, SimClock::time_point now);

    // Executes one message (without its terminator). Returns the reply line, without its
    // terminator, when the message held at least one query that answered.
    std::optional<std::string> execute(std::string_view message, SimClock::time_point now);

    void setTriggerNever(bool never) { triggerNever_ = never; }

    const std::deque<InstrumentEvent>& events() const { return events_; }

    struct Call;
    using Handler = void (Instrument::*)(Call&);
    struct Entry;

private:
    static const std::vector<Entry>& commandTable();

    enum class StopAfter { RunStop, Sequence };
    enum class WaveFormat { Internal, Spreadsheet };
    enum class Gating { None, Cursors, Screen };
    enum class ImageFormat { Bmp, Png, Tiff };

    void reset(SimClock::time_point now);
    void advance(SimClock::time_point now);
    void completeAcquisition();
    bool armed() const { return running_ && stopAfter_ == StopAfter::Sequence; }
    bool busy(SimClock::time_point now) const { return armed() || now < busyUntil_; }
    void queueEvent(int code);
    std::optional<InstrumentEvent> takeEvent();
    std::string headerFor(const std::vector<std::string_view>& pattern) const;
    std::optional<DrivePath> resolveTarget(const scpi::Argument& arg, PathUse use);
    WaveformSelection selection(int source) const;

    bool expectArgs(const Call& call, std::size_t count);
    void executeCommon(const scpi::ProgramUnit& unit, Call& call);

    // Handlers: each one sets or queries, as the call says.
    void onHeader(Call& call);
    void onVerbose(Call& call);
    void onDese(Call& call);
    void onAllEvents(Call& call);
    void onEvent(Call& call);
    void onEventMessage(Call& call);
    void onEventCount(Call& call);
    void onStopAfter(Call& call);
    void onAcquireState(Call& call);
    void onAcquisitionCount(Call& call);
    void onBusy(Call& call);
    void onForceTrigger(Call& call);
    void onTriggerMode(Call& call);
    void onTriggerState(Call& call);
    void onSaveWaveform(Call& call);
    void onWaveformFileFormat(Call& call);
    void onWaveformGating(Call& call);
    void onSaveImage(Call& call);
    void onImageFileFormat(Call& call);
    void onImageLayout(Call& call);
    void onInkSaver(Call& call);
    void onDirectory(Call& call);
    void onWorkingDirectory(Call& call);
    void onMakeDirectory(Call& call);
    void onDelete(Call& call);

    InstrumentSetup setup_;
    bool triggerNever_ = false;

    bool header_ = true;
    bool verbose_ = true;
    int ese_ = 0;
    int sre_ = 0;
    int esr_ = 0;
    int dese_ = 255;
    bool opcPending_ = false;
    std::deque<InstrumentEvent> events_;

    StopAfter stopAfter_ = StopAfter::RunStop;
    bool running_ = true;
    SimClock::time_point armedAt_{};
    SimClock::time_point lastTick_{};
    long acquisitionsSinceStart_ = 0;
    long acquisition_ = 0; // number of the acquisition on screen; drives the waveforms
    bool normalTrigger_ = false;

    WaveFormat waveFormat_ = WaveFormat::Internal;
    Gating gating_ = Gating::None;
    ImageFormat imageFormat_ = ImageFormat::Png;
    bool portrait_ = false;
    bool inkSaver_ = false;
    SimClock::time_point busyUntil_{};
    std::string cwd_ = "D:/";
    ListingIndex listing_;
};

} // namespace sim
