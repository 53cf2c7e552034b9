// The plug-in's parameters as the command line and preset files name them: option names from the
// table's symbols, values in the units the display texts show (dB, Hz or kHz, %, on/off), each mapped
// back to the host's normalised value through the parameter table. Ranges and defaults come only from
// that table.
#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/parameters.h"
#include "core/presets.h"

namespace lumisere::cli {

// A mistake in what the user asked for; the message is meant to be printed as it is.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "De-Ess Thresh" -> "de-ess-thresh", "Dry/Wet" -> "dry-wet": lower case, every run of other
// characters one dash.
std::string slugify(const std::string& text);

// The option name of a parameter: its symbol with dashes for the underscores ("air_silk" ->
// "air-silk"). The slug of its host name ("172-air-silk") is accepted too.
std::string optionName(int index);

// The parameter a name stands for: an option name, the full slug or the host name, any case, with or
// without the leading dashes. -1 when none.
int findParam(const std::string& name);

// Every option name, comma-separated, each after `prefix`: "--de-ess-thresh, --focus-freq, ...".
std::string validNamesList(const std::string& prefix);

// The range of a continuous parameter in its units, low to high: "-40 to 0 dB".
std::string rangeText(int index);

// A value in its unit without trailing zeros: "7200 Hz", "-54.8 dB", "40 %", "on".
std::string unitsText(int index, double units);

// Parses one value as a user writes it and returns the normalised value. dB parameters take a number
// with an optional "dB"; Focus Freq takes Hz with an optional "Hz", or kHz with "k" or "kHz"; percent
// parameters take a number with an optional "%"; switches take on/off, true/false, yes/no or 1/0.
// Throws UsageError for text that is not such a value and for a value outside the range.
float parseParamValue(int index, const std::string& text);

// The nine normalised values a run applies: the defaults, then a preset file, then the options.
struct ParamSettings {
    ParamSettings();

    // Sets one parameter from user text; the message of a failure names the parameter (prefixed with
    // `where`, e.g. "--focus-freq" or "voice.preset:3: focus-freq").
    void set(int index, const std::string& text, const std::string& where);

    std::array<float, kNumParams> values;
};

// The most a preset file may hold: a preset is a few lines, and a device such as /dev/zero never ends.
constexpr std::size_t kLargestPresetBytes = 64 * 1024;

// Applies a preset file: one `name = value` per line in the option names and units, `#` starts a
// comment, blank lines are skipped. A line without "=", an unknown name, a name given twice or a bad
// value is an error naming the file and line; so is a file of more than kLargestPresetBytes.
void loadPreset(const std::string& path, ParamSettings& settings);

// The named preset a text stands for, by its name in any case with spaces or dashes ("Podcast voice",
// "podcast-voice"); -1 when none.
int findFactoryPreset(const std::string& name);

// --preset: a named preset when the text names one, otherwise a preset file (see loadPreset).
void applyPreset(const std::string& nameOrPath, ParamSettings& settings);

// The first of the command-line arguments that gives a switch an empty value ("--bypass="), which
// CLI11 would take as the bare switch; "" when none does.
std::string emptySwitchValue(const std::vector<std::string>& args);

}  // namespace lumisere::cli
