// The `suggest` subcommand's options and run: measure, propose, and on request write the preset and
// the picture and render with the proposal.
#pragma once

#include <CLI/CLI.hpp>
#include <array>
#include <atomic>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/parameters.h"

namespace lumisere::cli {

struct SuggestArgs {
    std::vector<std::string> inputs;
    bool json = false;
    std::string plot;         // PNG of what was measured
    std::string presetOut;    // preset file of the proposal
    bool apply = false;       // render with the proposal
    std::string output;       // with --apply: one output
    std::string outDir;       // or a folder
    bool force = false;
};

// Adds `suggest` and its options to the tool.
CLI::App* addSuggestCommand(CLI::App& app, SuggestArgs& args);

// How --apply renders: the inputs with the given normalised values, as `process` would, the reports
// printed, or with --json put into `files` as `process --json` lists them; returns the exit status.
using RenderWith = std::function<int(const std::array<float, kNumParams>& params, nlohmann::json* files)>;

// Exit status 0 when a proposal was made (and everything asked of it written), 1 when nothing could
// be measured, a file failed or an output could not be written.
int runSuggest(const SuggestArgs& args, const std::atomic<bool>& stop, const RenderWith& render);

}  // namespace lumisere::cli
