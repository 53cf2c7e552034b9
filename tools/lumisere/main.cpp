// lumisere: the plug-in's processing on audio files from the command line.
//
//   lumisere process IN... (-o OUT | --out-dir DIR) [parameter options] [--preset FILE] ...
//   lumisere params [--json]
//   lumisere snapshot OUT.png [parameter options] [--meters DEESS_DB GATE_DB]
//   lumisere suggest IN... [--json] [--plot PNG] [--write-preset FILE] [--apply (-o OUT | --out-dir DIR)]
//
// Exit status: 0 when everything went through, 1 when some file failed, 2 for a usage mistake,
// 130 when interrupted. No exception leaves main: anything unforeseen is a message and status 1.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"
#include "core/parameters.h"
#include "formats/module/identity.h"
#include "formats/module/version.h"
#include "output_file.h"
#include "param_args.h"
#include "snapshot.h"
#include "suggest_command.h"

namespace {

using namespace lumisere;
using namespace lumisere::cli;

constexpr int kExitFileFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// The snapshot's meter readings: more than any reduction the plug-in makes (the de-esser stops at
// 26 dB, the gate at 40 dB), and a readout that still fits beside the meter.
constexpr double kLargestMeterDb = 100.0;

std::atomic<bool> gStop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");

extern "C" void onStopSignal(int) { gStop.store(true); }

// Every signal that ends a run from a terminal or its session: Ctrl-C, Ctrl-\, the terminal
// closing, and kill. Each stops the run between blocks, so temporary files are removed.
void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) sigaction(signal, &action, nullptr);
}

// The parameter options of a subcommand, each kept as the text the user wrote.
struct ParamOptions {
    std::array<std::string, kNumParams> texts;
    std::array<CLI::Option*, kNumParams> options{};
    std::string preset;
};

void addParamOptions(CLI::App& app, ParamOptions& p) {
    for (int i = 0; i < kNumParams; ++i) {
        const ParamSpec& param = kParams[i];
        std::string names = "--" + optionName(i);
        const std::string fullName = slugify(param.hostName);
        if (fullName != optionName(i)) names += ",--" + fullName;
        const std::string defaultText = unitsText(i, defaultUnits(i));
        if (param.kind == ParamKind::toggle) {
            p.options[i] = app.add_flag(names + "{on}", p.texts[i],
                                        std::string(param.hostName) + " (or =off; default " + defaultText + ")");
        } else {
            p.options[i] = app.add_option(names, p.texts[i],
                                          std::string(param.hostName) + ", " + rangeText(i) + " (default " +
                                              defaultText + ")")
                               ->type_name(param.label == std::string("Hz") ? "HZ|kHz" : param.label);
        }
        p.options[i]->group("Parameters");
    }
    app.add_option("--preset", p.preset,
                   "a named preset (lumisere params lists them) or a file of `name = value` lines")
        ->group("Parameters");
}

// Defaults, then the preset, then the options.
ParamSettings collectSettings(const ParamOptions& p) {
    ParamSettings settings;
    if (!p.preset.empty()) applyPreset(p.preset, settings);
    for (int i = 0; i < kNumParams; ++i) {
        if (p.options[i]->count() > 0) settings.set(i, p.texts[i], "--" + optionName(i));
    }
    return settings;
}

struct ProcessArgs {
    std::vector<std::string> inputs;
    std::string output;
    std::string outDir;
    std::string format;
    std::string bits;
    int block = 512;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool force = false;
    bool json = false;
    ParamOptions params;
};

int renderFiles(const ProcessArgs& args, const RenderOptions& options, nlohmann::json* jsonFiles = nullptr);

int runProcess(const ProcessArgs& args) {
    RenderOptions options;
    options.params = collectSettings(args.params).values;
    options.blockSize = args.block;
    options.format = {args.format, args.bits};
    options.replace = args.force;
    return renderFiles(args, options);
}

// Renders the inputs with the options and prints the reports; the exit status. With --json and
// `jsonFiles`, the reports go there instead, for a document of the caller's.
int renderFiles(const ProcessArgs& args, const RenderOptions& options, nlohmann::json* jsonFiles) {
    if (args.output.empty() == args.outDir.empty()) {
        throw UsageError("give -o OUT for one input or --out-dir DIR for any number of inputs");
    }
    if (!args.output.empty() && args.inputs.size() > 1) {
        throw UsageError("-o names one output but " + std::to_string(args.inputs.size()) +
                         " inputs are given; use --out-dir DIR");
    }

    if (!args.outDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(args.outDir, ec);
        std::error_code statusError;
        if (ec || !std::filesystem::is_directory(args.outDir, statusError)) {
            if (!ec) ec = statusError;
            throw UsageError("cannot make the output folder " + args.outDir + ": " +
                             (ec ? systemReason(ec.value()) : std::string("a file is in the way")));
        }
    }

    std::vector<BatchJob> batch = planBatch(args.inputs, args.output, args.outDir, options);
    const bool showProgress = isatty(STDERR_FILENO) && isatty(STDOUT_FILENO);
    installStopHandlers();
    runBatch(batch, options, args.jobs, showProgress, gStop);

    bool failed = false;
    nlohmann::json files = nlohmann::json::array();
    for (const BatchJob& job : batch) {
        if (!job.report) {
            failed = true;
            std::fprintf(stderr, "lumisere: %s: %s\n", job.input.c_str(), job.error.c_str());
            files.push_back(textEntry({{"input", job.input}, {"output", job.output}, {"error", job.error}}));
            continue;
        }
        const std::string truncation = truncationText(*job.report);
        if (!truncation.empty()) std::fprintf(stderr, "lumisere: %s: warning: %s\n", job.input.c_str(), truncation.c_str());
        if (args.json) {
            files.push_back(reportJson(*job.report));
        } else {
            std::fputs(reportText(*job.report).c_str(), stdout);
        }
    }
    // Every text went through textEntry(); replacing is only the last guard against a throw.
    if (args.json && jsonFiles != nullptr) {
        *jsonFiles = files;
    } else if (args.json) {
        std::cout << nlohmann::json{{"files", files}}.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                  << "\n";
    }
    if (gStop) {
        std::fprintf(stderr, "lumisere: interrupted\n");
        return kExitInterrupted;
    }
    return failed ? kExitFileFailed : 0;
}

int runParams(bool json) {
    if (json) {
        nlohmann::json rows = nlohmann::json::array();
        for (int i = 0; i < kNumParams; ++i) {
            const ParamSpec& param = kParams[i];
            nlohmann::json row = {{"option", "--" + optionName(i)},
                                  {"hostName", param.hostName},
                                  {"unit", param.label},
                                  {"default", defaultUnits(i)}};
            if (param.kind == ParamKind::continuous) {
                // + 0.0 turns Noise Reduce's -0 into 0.
                row["min"] = std::min(paramUnits(i, 0.0), paramUnits(i, 1.0)) + 0.0;
                row["max"] = std::max(paramUnits(i, 0.0), paramUnits(i, 1.0)) + 0.0;
            }
            rows.push_back(row);
        }
        std::cout << rows.dump(2) << "\n";
        return 0;
    }
    std::printf("%-21s %-17s %-18s %s\n", "option", "host name", "range", "default");
    for (int i = 0; i < kNumParams; ++i) {
        const ParamSpec& param = kParams[i];
        std::printf("--%-19s %-17s %-18s %s\n", optionName(i).c_str(), param.hostName, rangeText(i).c_str(),
                    unitsText(i, defaultUnits(i)).c_str());
    }
    std::printf("\nValues as the display shows them, the unit optional: -30 or -30dB; 7200, 7200Hz, 7.2k or\n"
                "7.2kHz; 40 or 40%%; switches on (the bare option) or off (--bypass=off). A preset file takes\n"
                "the same names without the dashes, one `name = value` a line: focus-freq = 7.2k\n");
    std::printf("\nNamed presets (--preset NAME; the parameters not listed keep their defaults):\n");
    for (const FactoryPreset& preset : kFactoryPresets) {
        std::string values;
        for (int v = 0; v < preset.valueCount; ++v) {
            const PresetValue& value = preset.values[v];
            values += (v == 0 ? "" : ", ") + optionName(value.param) + " " + unitsText(value.param, value.units);
        }
        std::printf("  %-15s %s\n  %-15s %s\n", preset.name, preset.summary, "", values.c_str());
    }
    return 0;
}

int runSnapshot(const std::string& outPng, bool force, const ParamOptions& params, const std::vector<double>& meters) {
    const ParamSettings settings = collectSettings(params);
    float deEss = 0.0f, gate = 0.0f;
    if (!meters.empty()) {
        for (double m : meters) {
            if (!(m >= 0.0 && m <= kLargestMeterDb)) {
                throw UsageError("--meters takes two reductions from 0 to " + std::to_string(static_cast<int>(kLargestMeterDb)) +
                                 " dB");
            }
        }
        deEss = static_cast<float>(meters[0]);
        gate = static_cast<float>(meters[1]);
    }
    installStopHandlers();
    std::string error;
    const int result = writeEditorSnapshot(outPng, force, settings.values.data(), deEss, gate, gStop, error);
    if (gStop) {
        std::fprintf(stderr, "lumisere: interrupted\n");
        return kExitInterrupted;
    }
    if (result != 0) {
        std::fprintf(stderr, "lumisere: %s\n", error.c_str());
        return kExitFileFailed;
    }
    return 0;
}

// CLI11's message, plus the valid parameter names when an unknown option was given, or the commands
// when the first word is none of them.
std::string parseErrorText(const CLI::App& app, const CLI::ParseError& e, int argc, char** argv) {
    if (argc > 1 && argv[1][0] != '-' && app.get_subcommands().empty()) {
        std::string commands;
        for (const CLI::App* sub : app.get_subcommands({})) commands += (commands.empty() ? "" : ", ") + sub->get_name();
        return "unknown command \"" + std::string(argv[1]) + "\"; the commands are " + commands;
    }
    std::string text = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr && text.find("--") != std::string::npos) {
        text += "; parameter options are " + validNamesList("--");
    }
    return text;
}

int run(int argc, char** argv) {
    CLI::App app{std::string("lumisere: de-ess and de-hiss audio files with the ") + lumisere::kProductName +
                 " plug-in"};
    app.require_subcommand(1);
    app.set_version_flag("--version",
                         std::string("lumisere ") + lumisere::kVersionText + " (" + lumisere::kProductName + ")");

    ProcessArgs process;
    CLI::App* processCmd = app.add_subcommand("process", "render audio files through the plug-in");
    processCmd->add_option("inputs", process.inputs, "WAV, FLAC, AIFF or Ogg files, mono or stereo")->required();
    CLI::Option* outputOpt = processCmd->add_option("-o,--output", process.output, "output file (one input)");
    CLI::Option* outDirOpt =
        processCmd->add_option("--out-dir", process.outDir, "output folder (any number of inputs), made if missing");
    outputOpt->excludes(outDirOpt);
    processCmd->add_option("--format", process.format, "output container (default: the input's)")
        ->check(CLI::IsMember({"wav", "flac", "aiff", "ogg"}, CLI::ignore_case));
    processCmd->add_option("--bits", process.bits, "output bit depth (default: the input's)")
        ->check(CLI::IsMember({"16", "24", "32", "float"}));
    processCmd->add_option("--block", process.block, "frames per process call")
        ->capture_default_str()->check(CLI::Range(1, 65536));
    processCmd->add_option("-j,--jobs", process.jobs, "files processed at once (default: the cores)")
        ->check(CLI::Range(1, 1024));
    processCmd->add_flag("--force", process.force, "replace existing outputs (never an input)");
    processCmd->add_flag("--json", process.json, "print the reports as JSON");
    addParamOptions(*processCmd, process.params);

    bool paramsJson = false;
    CLI::App* paramsCmd = app.add_subcommand("params", "print the parameters with their ranges and defaults");
    paramsCmd->add_flag("--json", paramsJson, "print the table as JSON");

    std::string snapshotPng;
    bool snapshotForce = false;
    ParamOptions snapshotParams;
    std::vector<double> meters;
    CLI::App* snapshotCmd = app.add_subcommand("snapshot", "draw the editor to a PNG");
    snapshotCmd->add_option("output", snapshotPng, "PNG file to write")->required();
    snapshotCmd->add_option("--meters", meters, "de-esser and gate reductions shown, in dB")->expected(2);
    snapshotCmd->add_flag("--force", snapshotForce, "replace an existing PNG");
    addParamOptions(*snapshotCmd, snapshotParams);

    SuggestArgs suggest;
    CLI::App* suggestCmd = addSuggestCommand(app, suggest);

    try {
        // CLI11 reads `--bypass=` as the bare switch; an empty value is a mistake, not "on".
        const std::string empty = emptySwitchValue(std::vector<std::string>(argv + 1, argv + argc));
        if (!empty.empty()) throw UsageError(empty + " needs a value: on or off");
        app.parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "lumisere: %s\n", e.what());
        return kExitUsage;
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "lumisere: %s\n", parseErrorText(app, e, argc, argv).c_str());
        return kExitUsage;
    }

    try {
        if (processCmd->parsed()) return runProcess(process);
        if (suggestCmd->parsed()) {
            installStopHandlers();
            return runSuggest(suggest, gStop, [&](const std::array<float, kNumParams>& params, nlohmann::json* files) {
                ProcessArgs apply;
                apply.inputs = suggest.inputs;
                apply.output = suggest.output;
                apply.outDir = suggest.outDir;
                apply.force = suggest.force;
                apply.json = suggest.json;
                RenderOptions options;
                options.params = params;
                options.replace = suggest.force;
                return renderFiles(apply, options, files);
            });
        }
        if (paramsCmd->parsed()) return runParams(paramsJson);
        if (snapshotCmd->parsed()) return runSnapshot(snapshotPng, snapshotForce, snapshotParams, meters);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "lumisere: %s\n", e.what());
        return kExitUsage;
    }
    return kExitUsage;
}

// What went to standard output (reports, listings, help) must have arrived: a report lost to a full
// disk is a failure, said on stderr, not an empty file and status 0.
int finishStandardOutput(int status) {
    errno = 0;
    std::cout.flush();
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    const int error = errno;
    std::fprintf(stderr, "lumisere: cannot write to standard output%s\n",
                 error != 0 ? (": " + systemReason(error)).c_str() : "");
    return status == 0 ? kExitFileFailed : status;
}

}  // namespace

int main(int argc, char** argv) {
    int status = kExitFileFailed;
    try {
        status = run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumisere: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "lumisere: unexpected failure\n");
    }
    return finishStandardOutput(status);
}
