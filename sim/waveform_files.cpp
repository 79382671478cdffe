#include "sim/waveform_files.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace sim {

namespace {

constexpr double RecordSeconds = 4.0e-3;
// Full scale of the 16-bit codes is +-5.12 V.
constexpr double VoltsPerCode = 1.5625e-4;

double square(double phase) {
    return std::sin(phase) >= 0.0 ? 1.0 : -1.0;
}

std::int16_t toCode(double volts) {
    const double code = std::round(volts / VoltsPerCode);
    return static_cast<std::int16_t>(std::clamp(code, -32768.0, 32767.0));
}

// Plain decimal without exponent and without trailing zeros ("-0.002", "1.5").
std::string plainDecimal(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') {
            text.pop_back();
        }
        if (text.back() == '.') {
            text.push_back('0');
        }
    }
    if (text == "-0.0") {
        text = "0.0";
    }
    return text;
}

std::string sourcesText(const WaveformSelection& selection) {
    std::string text;
    for (int channel : selection.channels) {
        if (!text.empty()) {
            text += ',';
        }
        text += "CH" + std::to_string(channel + 1);
    }
    return text;
}

} // namespace

WaveformSet synthesizeWaveforms(long acquisition, int points) {
    WaveformSet set;
    set.acquisition = acquisition;
    set.points = points;
    set.xIncrement = RecordSeconds / points;
    set.xZero = -RecordSeconds / 2.0;
    set.yMult = VoltsPerCode;
    const double phase = 0.25 * static_cast<double>(acquisition % 100000);
    constexpr double tau = 2.0 * std::numbers::pi;
    for (auto& channel : set.samples) {
        channel.resize(static_cast<std::size_t>(points));
    }
    for (int i = 0; i < points; ++i) {
        const double t = set.time(i);
        set.samples[0][i] = toCode(2.0 * std::sin(tau * 1000.0 * t + phase));
        set.samples[1][i] = toCode(1.5 * square(tau * 500.0 * t + phase));
        set.samples[2][i] = toCode(1.0 * std::sin(tau * 2500.0 * t + 2.0 * phase) +
                                   0.3 * std::sin(tau * 7500.0 * t));
        set.samples[3][i] = toCode(1.25 + 1.25 * square(tau * 3000.0 * t - phase));
    }
    return set;
}

std::string nr3(double value) {
    if (value == 0.0) {
        return "0.0";
    }
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string text(buffer, result.ptr);
    const std::size_t e = text.find('e');
    std::string mantissa = text.substr(0, e);
    if (mantissa.find('.') == std::string::npos) {
        mantissa += ".0";
    }
    return mantissa + "E" + std::to_string(std::stoi(text.substr(e + 1)));
}

// The internal waveform file ("ISF") is a text preamble followed by a binary block:
//
//   :WFMPRE:ENCDG BIN;BN_FMT RI;BYT_OR LSB;BYT_NR 2;NR_PT <points per channel>;
//   NR_CH <channels>;SOURCES "<CH1,...>";XINCR <s>;XZERO <s>;XUNIT "s";YMULT <V>;YZERO 0.0;
//   YUNIT "V";ACQNUM <acquisition>;:CURVE #<n><length><data>\n
//
// (one line, without breaks). <data> holds signed 16-bit little-endian codes, all points of the
// first listed channel, then all of the next, and so on; volts = code * YMULT + YZERO and the
// time of point i is XZERO + i * XINCR. <length> is the byte count of <data> in decimal and <n>
// is the number of its digits, as in an IEEE 488.2 definite-length block.
std::string isfFileContents(const WaveformSet& set, const WaveformSelection& selection) {
    const std::size_t dataBytes =
        selection.channels.size() * static_cast<std::size_t>(selection.count) * 2;
    const std::string length = std::to_string(dataBytes);
    std::string out = ":WFMPRE:ENCDG BIN;BN_FMT RI;BYT_OR LSB;BYT_NR 2;NR_PT " +
                      std::to_string(selection.count) + ";NR_CH " +
                      std::to_string(selection.channels.size()) + ";SOURCES \"" +
                      sourcesText(selection) + "\";XINCR " + nr3(set.xIncrement) + ";XZERO " +
                      nr3(set.time(selection.first)) + ";XUNIT \"s\";YMULT " + nr3(set.yMult) +
                      ";YZERO 0.0;YUNIT \"V\";ACQNUM " + std::to_string(set.acquisition) +
                      ";:CURVE #" + std::to_string(length.size()) + length;
    out.reserve(out.size() + dataBytes + 1);
    for (int channel : selection.channels) {
        const auto& samples = set.samples[channel];
        for (int i = selection.first; i < selection.first + selection.count; ++i) {
            const auto code = static_cast<std::uint16_t>(samples[i]);
            out.push_back(static_cast<char>(code & 0xff));
            out.push_back(static_cast<char>(code >> 8));
        }
    }
    out.push_back('\n');
    return out;
}

std::string csvFileContents(const WaveformSet& set, const WaveformSelection& selection) {
    std::string out = "TIME";
    for (int channel : selection.channels) {
        out += ",CH" + std::to_string(channel + 1);
    }
    out += '\n';
    const int timeDecimals =
        std::max(9, static_cast<int>(std::ceil(-std::log10(set.xIncrement))) + 3);
    for (int i = selection.first; i < selection.first + selection.count; ++i) {
        out += plainDecimal(set.time(i), timeDecimals);
        for (int channel : selection.channels) {
            out += ',';
            out += plainDecimal(set.volts(channel, i), 8);
        }
        out += '\n';
    }
    return out;
}

} // namespace sim
