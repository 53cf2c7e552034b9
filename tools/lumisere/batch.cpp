#include "batch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace lumisere::cli {

namespace fs = std::filesystem;

namespace {

// The path a file has or would have, for comparing outputs with inputs and with each other.
fs::path identity(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(path, ec);
    return ec ? fs::absolute(path).lexically_normal() : p;
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    return identity(a) == identity(b);
}

std::string outputProblem(const BatchJob& job, const std::vector<std::string>& inputs,
                          const std::vector<BatchJob>& earlier, bool replace) {
    for (const std::string& input : inputs) {
        if (sameFile(job.output, input)) {
            return input == job.input ? "the output " + job.output + " is the input itself"
                                      : "the output " + job.output + " is the input file " + input;
        }
    }
    for (const BatchJob& other : earlier) {
        if (identity(other.output) == identity(job.output)) {
            return "the output " + job.output + " is also the output of " + other.input;
        }
    }
    return replaceProblem(job.output, replace);
}

// Per file: its progress and whether it is over (rendered, failed or skipped).
struct Tracker {
    RenderProgress progress;
    std::atomic<bool> finished{false};
};

void drawProgress(const std::vector<std::unique_ptr<Tracker>>& trackers) {
    double sum = 0.0;
    int finished = 0;
    for (const auto& t : trackers) {
        if (t->finished) {
            sum += 1.0;
            ++finished;
            continue;
        }
        const auto total = t->progress.framesTotal.load();
        if (total > 0) sum += static_cast<double>(t->progress.framesDone.load()) / static_cast<double>(total);
    }
    const double share = trackers.empty() ? 1.0 : sum / static_cast<double>(trackers.size());
    constexpr int kWidth = 30;
    const int filled = std::clamp(static_cast<int>(share * kWidth), 0, kWidth);
    std::fprintf(stderr, "\r[%s%s] %3d%%  %d/%zu files", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), static_cast<int>(share * 100.0),
                 finished, trackers.size());
    std::fflush(stderr);
}

}  // namespace

std::vector<BatchJob> planBatch(const std::vector<std::string>& inputs, const std::string& outputFile,
                                const std::string& outDir, const RenderOptions& options) {
    std::vector<BatchJob> batch;
    for (const std::string& input : inputs) {
        BatchJob job;
        job.input = input;
        job.format = options.format;
        if (!outputFile.empty()) {
            job.output = outputFile;
            if (job.format.format.empty()) job.format.format = formatNameOf(majorFormatFromPath(outputFile));
        } else {
            fs::path name = fs::path(input).filename();
            if (!options.format.format.empty()) {
                name.replace_extension(extensionOf(majorFormatFromName(options.format.format)));
            }
            job.output = (fs::path(outDir) / name).string();
        }
        job.error = outputProblem(job, inputs, batch, options.replace);
        batch.push_back(std::move(job));
    }
    return batch;
}

void runBatch(std::vector<BatchJob>& batch, const RenderOptions& options, int jobs, bool showProgress,
              const std::atomic<bool>& stop) {
    if (batch.empty()) return;
    std::vector<std::unique_ptr<Tracker>> trackers;
    for (std::size_t i = 0; i < batch.size(); ++i) trackers.push_back(std::make_unique<Tracker>());

    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= batch.size()) return;
            BatchJob& job = batch[i];
            if (job.error.empty()) {
                RenderOptions fileOptions = options;
                fileOptions.format = job.format;
                try {
                    job.report = renderFile(job.input, job.output, fileOptions, trackers[i]->progress, stop);
                } catch (const std::exception& e) {
                    job.error = e.what();
                }
            }
            trackers[i]->finished = true;
        }
    };

    std::mutex mutex;
    std::condition_variable done;
    bool allDone = false;
    std::thread painter;
    if (showProgress) {
        painter = std::thread([&] {
            std::unique_lock<std::mutex> lock(mutex);
            while (!done.wait_for(lock, std::chrono::milliseconds(100), [&] { return allDone; })) drawProgress(trackers);
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
        });
    }

    const std::size_t threadCount = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), 1, batch.size());
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threadCount; ++t) workers.emplace_back(work);
    work();
    for (auto& w : workers) w.join();

    if (painter.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            allDone = true;
        }
        done.notify_one();
        painter.join();
    }
}

}  // namespace lumisere::cli
