// lv2_ttl: writes the Turtle of the LV2 bundle, manifest.ttl, lumisere.ttl and presets.ttl, from the
// parameter table, the named presets and the port layout, so no name, range, default, unit or preset
// value is typed a second time. The build
// runs it for every build of the bundle:
//
//   lv2_ttl BUNDLE_DIR PLUGIN_BINARY [--ui-binary UI_BINARY]
//
// PLUGIN_BINARY is the module's file name inside the bundle ("Lumisere.so"); --ui-binary declares
// the X11 editor in its module ("Lumisere_ui.so"), as the build does.
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "core/parameters.h"
#include "core/presets.h"
#include "dsp/de_esser.h"
#include "formats/lv2/lv2_ports.h"
#include "formats/module/identity.h"
#include "formats/module/version.h"

namespace {

using namespace lumisere;
using namespace lumisere::lv2;

// A number as the shortest decimal that names its float, in plain notation and always with a
// fraction ("-54.8", "6800.0"), so Turtle reads it as the decimal a float port expects, not as an
// integer: the port carries that float, and lv2::portValueToNormalised reads it back through the same
// decimal. A zero is written without a sign.
std::string number(double value) {
    const float f = static_cast<float>(value);
    if (f == 0.0f) return "0.0";
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, f, std::chars_format::fixed);
    std::string decimal(text, written.ptr);
    return decimal.find('.') == std::string::npos ? decimal + ".0" : decimal;
}

// Whether text is a valid port symbol: a C identifier, as LV2 requires.
bool validSymbol(const char* text) {
    if (text == nullptr || *text == '\0' || std::isdigit(static_cast<unsigned char>(*text)) != 0) return false;
    for (const char* c = text; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c)) == 0 && *c != '_') return false;
    }
    return true;
}

// The LV2 unit of a parameter label; null for a label the units extension has no word for.
const char* unitOf(const char* label) {
    if (std::strcmp(label, "dB") == 0) return "units:db";
    if (std::strcmp(label, "Hz") == 0) return "units:hz";
    if (std::strcmp(label, "%") == 0) return "units:pc";
    return nullptr;
}

// LV2 has no major version (the URI is it), and a minor version of 0 marks a development build that
// hosts may hide. So from the project's 1.0 on, its minor is published two higher: 1.0.0 is 2.0.
constexpr int kLv2MinorVersion = kVersionMinor + (kVersionMajor > 0 ? 2 : 0);
constexpr int kLv2MicroVersion = kVersionPatch;

// The reduction outputs' symbols: their port descriptions and the editor's notifications name them.
const char* const kDeEssReductionSymbol = "de_ess_reduction";
const char* const kGateReductionSymbol = "gate_reduction";

const char* const kPrefixes =
    "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pg:    <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "\n"
    "# Written by the build (tools/lv2_ttl) from the parameter table: change the table, not this file.\n"
    "\n";

std::string projectUri() { return std::string(kPluginUri) + "#project"; }

// A named preset's URI: the plug-in's, with "#preset-" and the preset's symbol ("#preset-podcast_voice").
std::string presetUri(const FactoryPreset& preset) {
    return std::string(kPluginUri) + "#preset-" + preset.symbol;
}

// Where to reach the maker, as the LV2 lint tool looks for it, and the licence the package's
// copyright file states.
const char* const kMaintainerMail = "mailto:support@ostrel-audio.example";
const char* const kHomepage = "https://ostrel-audio.example/lumisere";
const char* const kLicence = "https://ostrel-audio.example/lumisere/licence";

// The stereo input and output pairs: a port group each, left and right designated.
struct StereoGroup {
    const char* symbol;
    const char* label;
    const char* kind;  // pg:InputGroup or pg:OutputGroup
};
constexpr StereoGroup kInputGroup{"in", "Input", "pg:InputGroup"};
constexpr StereoGroup kOutputGroup{"out", "Output", "pg:OutputGroup"};

std::string groupUri(const StereoGroup& group) { return std::string(kPluginUri) + "#" + group.symbol; }

std::string manifest(const std::string& pluginBinary, const std::string& uiBinary) {
    std::ostringstream out;
    out << kPrefixes << "<" << kPluginUri << ">\n"
        << "\ta lv2:Plugin ;\n"
        << "\tlv2:binary <" << pluginBinary << "> ;\n"
        << "\trdfs:seeAlso <lumisere.ttl> .\n";
    if (!uiBinary.empty()) {
        out << "\n<" << kUiUri << ">\n"
            << "\ta ui:X11UI ;\n"
            << "\tlv2:binary <" << uiBinary << "> ;\n"
            << "\trdfs:seeAlso <lumisere.ttl> .\n";
    }
    // Hosts list the presets from the manifest and read their values from presets.ttl.
    for (const FactoryPreset& preset : kFactoryPresets) {
        out << "\n<" << presetUri(preset) << ">\n"
            << "\ta pset:Preset ;\n"
            << "\tlv2:appliesTo <" << kPluginUri << "> ;\n"
            << "\trdfs:seeAlso <presets.ttl> .\n";
    }
    return out.str();
}

// Every control input's value in each named preset, the parameters it does not name at their defaults.
std::string presets() {
    std::ostringstream out;
    out << kPrefixes;
    for (const FactoryPreset& preset : kFactoryPresets) {
        const std::array<float, kNumParams> params = presetParams(preset);
        out << "<" << presetUri(preset) << ">\n"
            << "\ta pset:Preset ;\n"
            << "\tlv2:appliesTo <" << kPluginUri << "> ;\n"
            << "\trdfs:label \"" << preset.name << "\" ;\n"
            << "\trdfs:comment \"" << preset.summary << "\" ;\n"
            << "\tlv2:port";
        for (int i = 0; i < kNumParams; ++i) {
            out << (i == 0 ? " [\n" : " , [\n") << "\t\tlv2:symbol \"" << kParams[i].symbol << "\" ;\n"
                << "\t\tpset:value " << number(paramUnits(i, params[i])) << "\n\t]";
        }
        out << " .\n\n";
    }
    return out.str();
}

// One port's description; `body` holds its lines after the comment.
void port(std::ostringstream& out, std::uint32_t index, const char* types, const std::string& symbol,
          const std::string& name, const std::string& comment, const std::string& body) {
    out << (index == 0 ? "\tlv2:port [\n" : " , [\n") << "\t\ta " << types << " ;\n"
        << "\t\tlv2:index " << index << " ;\n"
        << "\t\tlv2:symbol \"" << symbol << "\" ;\n"
        << "\t\tlv2:name \"" << name << "\" ;\n"
        << "\t\trdfs:comment \"" << comment << "\"" << body << "\n\t]";
}

// An audio port of a stereo group, its left or right channel.
void audioPort(std::ostringstream& out, std::uint32_t index, const StereoGroup& group, bool left) {
    const bool input = &group == &kInputGroup;
    const std::string side = left ? "l" : "r";
    port(out, index, input ? "lv2:AudioPort , lv2:InputPort" : "lv2:AudioPort , lv2:OutputPort",
         std::string(group.symbol) + "_" + side, std::string(input ? "In " : "Out ") + (left ? "L" : "R"),
         std::string(left ? "Left" : "Right") + (input ? " input" : " output"),
         " ;\n\t\tpg:group <" + groupUri(group) + "> ;\n\t\tlv2:designation " + (left ? "pg:left" : "pg:right"));
}

std::string groupDescription(const StereoGroup& group) {
    return "<" + groupUri(group) + ">\n\ta pg:StereoGroup , " + group.kind + " ;\n\tlv2:symbol \"" + group.symbol +
           "\" ;\n\trdfs:label \"" + group.label + "\" .\n\n";
}

// The X11 editor: it opens inside the host's window (ui:parent, required), tells the host its size
// (ui:resize) and is never resized, sends its edits from the host's idle calls (ui:idleInterface,
// both the host's promise to call and the interface it calls), and wants the reductions for its
// meters; hosts send control inputs to a UI anyway.
std::string editorDescription() {
    std::ostringstream out;
    out << "<" << kUiUri << ">\n"
        << "\ta ui:X11UI ;\n"
        << "\tlv2:requiredFeature ui:parent ;\n"
        << "\tlv2:optionalFeature ui:resize , ui:noUserResize , ui:idleInterface ;\n"
        << "\tlv2:extensionData ui:idleInterface ;\n"
        << "\tui:portNotification";
    const char* separator = " [\n";
    for (const char* symbol : {kDeEssReductionSymbol, kGateReductionSymbol}) {
        out << separator << "\t\tui:plugin <" << kPluginUri << "> ;\n"
            << "\t\tlv2:symbol \"" << symbol << "\" ;\n"
            << "\t\tui:protocol ui:floatProtocol\n\t]";
        separator = " , [\n";
    }
    out << " .\n\n";
    return out.str();
}

std::string description(const std::string& uiBinary) {
    std::ostringstream out;
    out << kPrefixes << "<" << kPluginUri << ">\n"
        << "\ta lv2:Plugin , lv2:DynamicsPlugin ;\n"
        << "\tdoap:name \"" << kProductName << "\" ;\n"
        << "\tlv2:project <" << projectUri() << "> ;\n"
        << "\tdoap:shortdesc \"De-esser and hiss reducer\" ;\n"
        << "\trdfs:comment \"A stereo de-esser and hiss reducer.\" ;\n"
        << "\tdoap:license <" << kLicence << "> ;\n"
        << "\tpg:mainInput <" << groupUri(kInputGroup) << "> ;\n"
        << "\tpg:mainOutput <" << groupUri(kOutputGroup) << "> ;\n"
        << "\tlv2:minorVersion " << kLv2MinorVersion << " ;\n"
        << "\tlv2:microVersion " << kLv2MicroVersion << " ;\n"
        << "\tlv2:optionalFeature lv2:hardRTCapable ;\n";
    if (!uiBinary.empty()) out << "\tui:ui <" << kUiUri << "> ;\n";

    audioPort(out, kPortInL, kInputGroup, true);
    audioPort(out, kPortInR, kInputGroup, false);
    audioPort(out, kPortOutL, kOutputGroup, true);
    audioPort(out, kPortOutR, kOutputGroup, false);

    for (int i = 0; i < kNumParams; ++i) {
        const ParamSpec& spec = kParams[i];
        std::ostringstream body;
        const double atZero = paramUnits(i, 0.0);
        const double atOne = paramUnits(i, 1.0);
        // The switches are lv2:integer ports, whose values are written as integers.
        const auto value = [&spec](double v) {
            return spec.kind == ParamKind::toggle ? std::to_string(static_cast<int>(v)) : number(v);
        };
        body << " ;\n\t\tlv2:default " << value(defaultUnits(i)) << " ;\n"
             << "\t\tlv2:minimum " << value(std::fmin(atZero, atOne)) << " ;\n"
             << "\t\tlv2:maximum " << value(std::fmax(atZero, atOne));
        if (spec.kind == ParamKind::toggle) {
            body << " ;\n\t\tlv2:portProperty lv2:toggled , lv2:integer";
        } else {
            body << " ;\n\t\tunits:unit " << unitOf(spec.label);
        }
        port(out, paramPort(i), "lv2:ControlPort , lv2:InputPort", spec.symbol, spec.hostName, spec.description,
             body.str());
    }

    // The reductions' ranges are the largest each stage can apply: the de-esser's gain floor, and the
    // deepest Noise Reduce floor.
    const double deEssMaxDb = -20.0 * std::log10(dsp::kDeEsserGainFloor);
    const double gateMaxDb = -std::fmin(paramUnits(kParamNoiseReduce, 0.0), paramUnits(kParamNoiseReduce, 1.0));
    const char* const kMeterOut = "lv2:ControlPort , lv2:OutputPort";
    const auto meterBody = [](double maximumDb) {
        return " ;\n\t\tlv2:minimum " + number(0.0) + " ;\n\t\tlv2:maximum " + number(maximumDb) +
               " ;\n\t\tunits:unit units:db";
    };
    port(out, kPortDeEssReduction, kMeterOut, kDeEssReductionSymbol, "De-Ess Reduction",
         "How far the de-esser lowers the focus band now", meterBody(deEssMaxDb));
    port(out, kPortGateReduction, kMeterOut, kGateReductionSymbol, "Gate Reduction",
         "How far the hiss gate lowers the signal now", meterBody(gateMaxDb));
    out << " .\n\n" << groupDescription(kInputGroup) << groupDescription(kOutputGroup);
    if (!uiBinary.empty()) out << editorDescription();

    // Hosts name the maker from the project's maintainer.
    out << "<" << projectUri() << ">\n"
        << "\ta doap:Project ;\n"
        << "\tdoap:name \"" << kProductName << "\" ;\n"
        << "\tdoap:homepage <" << kHomepage << "> ;\n"
        << "\tdoap:license <" << kLicence << "> ;\n"
        << "\tdoap:maintainer [\n\t\tfoaf:name \"" << kVendorName << "\" ;\n"
        << "\t\tfoaf:mbox <" << kMaintainerMail << "> ;\n"
        << "\t\tfoaf:homepage <" << kHomepage << ">\n\t] .\n";
    return out.str();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) std::fprintf(stderr, "lv2_ttl: cannot write %s\n", path.c_str());
    return static_cast<bool>(file);
}

// Whether the table can be described: every symbol a valid, distinct C identifier (or hosts refuse
// the bundle), and every continuous parameter in a unit LV2 names.
bool tableDescribable() {
    for (int i = 0; i < kNumParams; ++i) {
        bool distinct = validSymbol(kParams[i].symbol);
        for (int j = 0; j < i; ++j) distinct = distinct && std::strcmp(kParams[i].symbol, kParams[j].symbol) != 0;
        if (!distinct) {
            std::fprintf(stderr, "lv2_ttl: \"%s\" is no valid, distinct port symbol\n", kParams[i].symbol);
            return false;
        }
        if (kParams[i].kind == ParamKind::continuous && unitOf(kParams[i].label) == nullptr) {
            std::fprintf(stderr, "lv2_ttl: no LV2 unit for \"%s\" of \"%s\"\n", kParams[i].label, kParams[i].hostName);
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string uiBinary;
    if (argc == 5 && std::strcmp(argv[3], "--ui-binary") == 0) uiBinary = argv[4];
    if (argc != 3 && uiBinary.empty()) {
        std::fprintf(stderr, "usage: lv2_ttl BUNDLE_DIR PLUGIN_BINARY [--ui-binary UI_BINARY]\n");
        return 2;
    }
    if (!tableDescribable()) return 1;
    const std::string dir = argv[1];
    const bool written = writeFile(dir + "/manifest.ttl", manifest(argv[2], uiBinary)) &&
                         writeFile(dir + "/lumisere.ttl", description(uiBinary)) &&
                         writeFile(dir + "/presets.ttl", presets());
    return written ? 0 : 1;
}
