// A batch of files: where each output goes, which files cannot be written at all, and the parallel
// run with its progress bar.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "render.h"

namespace lumisere::cli {

struct BatchJob {
    std::string input;
    std::string output;
    FormatRequest format;          // this file's output format
    std::string error;             // set when the file must not be processed at all
    std::optional<FileReport> report;  // set by a successful render
};

// The outputs of a batch: `outputFile` for a single input, or each input's name in `outDir` (with the
// extension of --format when one is given). A file whose output would be one of the inputs, the
// output of an earlier input, or anything replaceProblem() refuses gets an error and is left out of
// the run. With `outputFile`, the container follows its extension unless --format says.
std::vector<BatchJob> planBatch(const std::vector<std::string>& inputs, const std::string& outputFile,
                                const std::string& outDir, const RenderOptions& options);

// Renders every job without an error on up to `jobs` threads; a failure is stored in the job's error.
// With `showProgress`, a bar on stderr follows the frames done.
void runBatch(std::vector<BatchJob>& batch, const RenderOptions& options, int jobs, bool showProgress,
              const std::atomic<bool>& stop);

}  // namespace lumisere::cli
