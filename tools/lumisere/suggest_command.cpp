#include "suggest_command.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "output_file.h"
#include "param_args.h"
#include "plot.h"
#include "report.h"
#include "suggest.h"

namespace lumisere::cli {

CLI::App* addSuggestCommand(CLI::App& app, SuggestArgs& args) {
    CLI::App* cmd = app.add_subcommand("suggest", "measure recordings and propose the settings, with the reasons");
    cmd->add_option("inputs", args.inputs, "WAV, FLAC, AIFF or Ogg files, measured together for one proposal")
        ->required();
    cmd->add_flag("--json", args.json, "print the measurements and the proposal as JSON");
    cmd->add_option("--plot", args.plot, "draw the level distribution and the sibilant spectrum into a PNG");
    cmd->add_option("--write-preset", args.presetOut, "write the proposal as a preset file (for --preset)");
    cmd->add_flag("--apply", args.apply, "render the inputs with the proposal (with -o OUT or --out-dir DIR)");
    CLI::Option* output = cmd->add_option("-o,--output", args.output, "with --apply: output file (one input)");
    CLI::Option* outDir = cmd->add_option("--out-dir", args.outDir, "with --apply: output folder");
    output->excludes(outDir);
    cmd->add_flag("--force", args.force, "replace existing outputs, the PNG and the preset (never an input)");
    return cmd;
}

namespace {

void writeText(const std::string& path, const std::string& text, bool replace) {
    PendingFile file(path);
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(file.fd(), data, left);
        if (written < 0) throw FileError("cannot write: " + systemReason(errno));
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    file.commit(replace);
}

}  // namespace

int runSuggest(const SuggestArgs& args, const std::atomic<bool>& stop, const RenderWith& render) {
    if (args.apply && args.output.empty() == args.outDir.empty()) {
        throw UsageError("--apply needs -o OUT for one input or --out-dir DIR");
    }
    if (!args.apply && !(args.output.empty() && args.outDir.empty())) {
        throw UsageError("-o and --out-dir go with --apply");
    }
    std::vector<MeasureFailure> failures;
    const Measurements m = measureFiles(args.inputs, failures, stop);
    if (stop) {
        std::fprintf(stderr, "lumisere: interrupted\n");
        return 130;
    }
    for (const MeasureFailure& f : failures) std::fprintf(stderr, "lumisere: %s: %s\n", f.input.c_str(), f.error.c_str());
    const Proposal p = propose(m);

    nlohmann::json doc;
    if (args.json) {
        doc = proposalJson(m, p);
        nlohmann::json failed = nlohmann::json::array();
        for (const MeasureFailure& f : failures) failed.push_back(textEntry({{"input", f.input}, {"error", f.error}}));
        doc["failed"] = failed;
    } else if (m.files > 0) {
        std::fputs(proposalText(m, p).c_str(), stdout);
        std::fflush(stdout);
    }

    int status = failures.empty() && !p.empty() ? 0 : 1;
    const auto attempt = [&](const std::string& path, const auto& write) {
        try {
            write();
        } catch (const FileError& e) {
            std::fprintf(stderr, "lumisere: %s: %s\n", path.c_str(), e.what());
            status = 1;
        }
    };
    if (!args.plot.empty() && m.files > 0) {
        attempt(args.plot, [&] { writeSuggestPlot(args.plot, args.force, m, p); });
    }
    if (!args.presetOut.empty() && !p.empty()) {
        attempt(args.presetOut, [&] { writeText(args.presetOut, proposalPresetText(p), args.force); });
    }
    if (args.apply && !p.empty()) {
        const int rendered = render(p.params(), args.json ? &doc["rendered"] : nullptr);
        if (rendered != 0) status = rendered;
    }
    // One document, the renders' reports in it.
    if (args.json) std::cout << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return status;
}

}  // namespace lumisere::cli
