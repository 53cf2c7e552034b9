#include "param_args.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

namespace lumisere::cli {

namespace {

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool isToggle(int index) { return kParams[index].kind == ParamKind::toggle; }

// Six significant digits, the way a person writes a setting; -0 shows as 0.
std::string numberText(double value) {
    if (value == 0.0) value = 0.0;
    char digits[32];
    auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6);
    return std::string(digits, result.ptr);
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// A number followed by an optional unit: "-30", "+1.5dB", "7.2 kHz". The unit comes back lower case.
// Non-finite numbers ("inf", "nan") are not values anyone sets a knob to and are refused.
bool splitNumber(std::string_view text, double& number, std::string& unit) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
    if (result.ec != std::errc() || !std::isfinite(number)) return false;
    unit = lowerCase(trim(std::string_view(result.ptr, static_cast<std::size_t>(text.data() + text.size() - result.ptr))));
    return true;
}

// User text to a value in the parameter's display unit.
double parseUnits(int index, std::string_view text) {
    const std::string unit = kParams[index].label;
    if (isToggle(index)) {
        const std::string word = lowerCase(trim(text));
        if (word == "on" || word == "true" || word == "yes" || word == "1") return 1.0;
        if (word == "off" || word == "false" || word == "no" || word == "0") return 0.0;
        throw UsageError(quoted(text) + " is not on or off");
    }
    double number = 0.0;
    std::string suffix;
    if (unit == "Hz") {
        if (!splitNumber(text, number, suffix) || !(suffix.empty() || suffix == "hz" || suffix == "k" || suffix == "khz")) {
            throw UsageError(quoted(text) + " is not a frequency (write 7200, 7200Hz, 7.2k or 7.2kHz)");
        }
        return suffix.empty() || suffix == "hz" ? number : number * 1000.0;
    }
    if (unit == "%") {
        if (!splitNumber(text, number, suffix) || !(suffix.empty() || suffix == "%")) {
            throw UsageError(quoted(text) + " is not a percentage (write 40 or 40%)");
        }
        return number;
    }
    if (!splitNumber(text, number, suffix) || !(suffix.empty() || suffix == "db")) {
        throw UsageError(quoted(text) + " is not a level in dB (write -30 or -30dB)");
    }
    return number;
}

}  // namespace

std::string slugify(const std::string& text) {
    std::string out;
    bool pendingDash = false;
    for (unsigned char c : text) {
        if (std::isalnum(c)) {
            if (pendingDash && !out.empty()) out += '-';
            pendingDash = false;
            out += static_cast<char>(std::tolower(c));
        } else {
            pendingDash = true;
        }
    }
    return out;
}

std::string optionName(int index) {
    std::string name = kParams[index].symbol;
    for (char& c : name) c = c == '_' ? '-' : c;
    return name;
}

int findParam(const std::string& name) {
    const std::string wanted = slugify(name);
    if (wanted.empty()) return -1;
    for (int i = 0; i < kNumParams; ++i) {
        if (wanted == optionName(i) || wanted == slugify(kParams[i].hostName)) return i;
    }
    return -1;
}

std::string validNamesList(const std::string& prefix) {
    std::string out;
    for (int i = 0; i < kNumParams; ++i) {
        if (i > 0) out += ", ";
        out += prefix + optionName(i);
    }
    return out;
}

std::string rangeText(int index) {
    if (isToggle(index)) return "off or on";
    double low = paramUnits(index, 0.0);
    double high = paramUnits(index, 1.0);
    if (low > high) std::swap(low, high);
    return numberText(low) + " to " + unitsText(index, high);
}

std::string unitsText(int index, double units) {
    if (isToggle(index)) return units > 0.5 ? "on" : "off";
    return numberText(units) + " " + kParams[index].label;
}

float parseParamValue(int index, const std::string& text) {
    const double units = parseUnits(index, text);
    const double normalised = unitsToNormalised(index, units);
    if (!(normalised >= 0.0 && normalised <= 1.0)) {
        throw UsageError(unitsText(index, units) + " is outside the range " + rangeText(index));
    }
    return static_cast<float>(normalised);
}

ParamSettings::ParamSettings() {
    for (int i = 0; i < kNumParams; ++i) values[i] = kParams[i].defaultValue;
}

void ParamSettings::set(int index, const std::string& text, const std::string& where) {
    try {
        values[index] = parseParamValue(index, text);
    } catch (const UsageError& e) {
        throw UsageError(where + ": " + e.what());
    }
}

void loadPreset(const std::string& path, ParamSettings& settings) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError("cannot read preset " + path + ": " + std::strerror(errno));
    std::string text(kLargestPresetBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) throw UsageError("cannot read preset " + path + ": " + std::strerror(errno));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kLargestPresetBytes) {
        throw UsageError("preset " + path + " is larger than " + std::to_string(kLargestPresetBytes / 1024) +
                         " KiB; a preset is a few lines of settings");
    }
    std::istringstream lines(text);
    int firstLine[kNumParams] = {};
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string where = path + ":" + std::to_string(number);
        std::string_view content(line);
        content = trim(content.substr(0, content.find('#')));
        if (content.empty()) continue;
        const std::size_t equals = content.find('=');
        if (equals == std::string_view::npos) {
            throw UsageError(where + ": expected `name = value`, got " + quoted(content));
        }
        const std::string name(trim(content.substr(0, equals)));
        const std::string value(trim(content.substr(equals + 1)));
        const int index = findParam(name);
        if (index < 0) {
            throw UsageError(where + ": unknown parameter " + quoted(name) + "; valid names: " + validNamesList(""));
        }
        if (firstLine[index] != 0) {
            throw UsageError(where + ": " + optionName(index) + " is already set on line " +
                             std::to_string(firstLine[index]));
        }
        firstLine[index] = number;
        settings.set(index, value, where + ": " + optionName(index));
    }
}

int findFactoryPreset(const std::string& name) {
    for (int i = 0; i < kNumFactoryPresets; ++i) {
        if (slugify(kFactoryPresets[i].name) == slugify(name)) return i;
    }
    return -1;
}

void applyPreset(const std::string& nameOrPath, ParamSettings& settings) {
    const int named = findFactoryPreset(nameOrPath);
    if (named < 0) {
        loadPreset(nameOrPath, settings);
        return;
    }
    settings.values = presetParams(kFactoryPresets[named]);
}

std::string emptySwitchValue(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        for (int i = 0; i < kNumParams; ++i) {
            if (!isToggle(i)) continue;
            if (arg == "--" + optionName(i) + "=" || arg == "--" + slugify(kParams[i].hostName) + "=") return arg;
        }
    }
    return "";
}

}  // namespace lumisere::cli
