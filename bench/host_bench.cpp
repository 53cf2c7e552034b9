// Plug-in libraries as a host plays them, against each other in one process: each library is loaded
// through its exported VST 2.x entry point and a fresh instance runs 48 kHz stereo in 512-frame
// blocks, first on pink noise with sibilant bursts at -18 dBFS, then on digital silence. Beside them,
// in the same runs, the plain per-sample reading of the chain is called directly as a baseline that
// needs no library.
//
//   lumisere_host_bench [--runs N] [--seconds S] [--baseline NAME] [--only pink|silence] [--clock cpu]
//                       NAME=LIBRARY...
//
// The runs are interleaved: in each run every measurement (library by material) is taken once, in an
// order that rotates from run to run, so a slow spell of a shared machine falls on all of them alike.
// The report gives nanoseconds per stereo frame as the median over the runs with the range, and the
// ratio of each median to the baseline's (the plain reading unless --baseline names a library).
// Time is wall-clock time unless --clock cpu asks for the thread's CPU time (Linux), which leaves out
// the spells when other loads of a crowded machine had the core.
//
// On Windows (and under Wine), --editor S instead opens each library's editor in a window of this
// program and leaves it open, idle, for S seconds while the program pumps its messages as a host's UI
// thread does: the report is the process's CPU time over those seconds as a share of one core.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "plugin_library.h"
#include "reference_chain.h"
#include "test_signals.h"

namespace {

using namespace lumisere;

constexpr double kRate = 48000.0;
constexpr int kBlockFrames = 512;
constexpr double kMaterialSeconds = 10.0;
constexpr double kWarmUpSeconds = 1.0;  // processed untimed by each fresh instance before its timing
constexpr const char* kPlainReading = "plain reading";

enum Material : int { kPink, kSilence, kNumMaterials };

// The thread's CPU clock, where it counts finely: Linux. (Under Wine it moves in steps of
// milliseconds, too coarse for these runs.)
#if defined(__linux__) && defined(CLOCK_THREAD_CPUTIME_ID)
#define LUMISERE_THREAD_CPU_CLOCK 1
#endif

bool gCpuClock = false;  // --clock cpu

// Nanoseconds on the chosen clock.
double nowNs() {
#if defined(LUMISERE_THREAD_CPU_CLOCK)
    if (gCpuClock) {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
    }
#endif
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

VstIntPtr VSTCALLBACK benchHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    switch (opcode) {
        case audioMasterVersion: return 2400;
        case audioMasterGetSampleRate: return static_cast<VstIntPtr>(kRate);
        case audioMasterGetBlockSize: return kBlockFrames;
        default: return 0;
    }
}

// One contender: a library loaded through its entry point, or (library null) the plain reading.
struct Entry {
    std::string name;
    std::unique_ptr<host::PluginLibrary> library;
    std::vector<double> nsPerFrame[kNumMaterials];  // one per run
};

// Feeds `frames` frames of `in` (wrapping around) through process in 512-frame blocks; returns the
// nanoseconds the timed part took per frame.
template <typename Process>
double timeBlocks(const signals::StereoSignal& in, long frames, Process process) {
    const std::size_t length = in.left.size() / kBlockFrames * kBlockFrames;
    std::vector<float> outL(kBlockFrames), outR(kBlockFrames);
    float* out[] = {outL.data(), outR.data()};
    std::size_t at = 0;
    const auto run = [&](long count) {
        for (long done = 0; done < count; done += kBlockFrames) {
            float* block[] = {const_cast<float*>(in.left.data()) + at, const_cast<float*>(in.right.data()) + at};
            process(block, out);
            at = at + kBlockFrames < length ? at + kBlockFrames : 0;
        }
    };
    run(static_cast<long>(kWarmUpSeconds * kRate));
    const double start = nowNs();
    run(frames);
    const double stop = nowNs();
    const long timedFrames = (frames + kBlockFrames - 1) / kBlockFrames * kBlockFrames;
    return (stop - start) / static_cast<double>(timedFrames);
}

double measure(Entry& entry, const signals::StereoSignal& in, long frames) {
    if (!entry.library) {
        test::ReferenceChain chain;
        chain.setSampleRate(kRate);
        return timeBlocks(in, frames, [&](float* const* block, float* const* out) {
            chain.process(block, out, kBlockFrames);
        });
    }
    AEffect* effect = host::startEffect(entry.library->entry(), kRate, kBlockFrames, benchHost);
    const double ns = timeBlocks(in, frames, [effect](float* const* block, float* const* out) {
        effect->processReplacing(effect, const_cast<float**>(block), const_cast<float**>(out), kBlockFrames);
    });
    host::stopEffect(effect);
    return ns;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0.0 : n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five;
    if (!(file >> one >> five)) return "unknown";
    return one + " / " + five;
}

#if defined(_WIN32)
double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

// Pumps this thread's messages for `seconds`, sleeping in between as a host's message loop does. The
// clock is read after every message: paints slower than the tick keep the queue from ever emptying.
void pumpFor(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        MSG message;
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
}

// The share of a core the process spends with the library's editor open and idle for `seconds`.
double idleEditorShare(const host::PluginLibrary& library, double seconds) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "LumisereBenchHost";
    RegisterClassA(&windowClass);
    const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                        900, 600, nullptr, nullptr, windowClass.hInstance, nullptr);
    AEffect* effect = library.entry()(benchHost);
    host::dispatch(effect, effOpen);
    host::dispatch(effect, effEditOpen, 0, 0, window);
    pumpFor(1.0);  // shown, painted, fonts loaded
    const double cpu = processCpuSeconds();
    pumpFor(seconds);
    const double share = (processCpuSeconds() - cpu) / seconds;
    host::dispatch(effect, effEditClose);
    host::dispatch(effect, effClose);
    DestroyWindow(window);
    return share;
}
#endif

int usage() {
    std::fprintf(stderr,
                 "usage: lumisere_host_bench [--runs N] [--seconds S] [--baseline NAME] [--only pink|silence] "
                 "[--clock cpu] [--editor S (Windows)] NAME=LIBRARY...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 9;
    double seconds = 8.0;
    std::string baseline = kPlainReading;
    std::string only;  // one material alone, e.g. for counting instructions under a simulator
    [[maybe_unused]] double editorSeconds = 0.0;  // --editor: the idle editor's cost instead of the audio's
    std::vector<Entry> entries;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--clock" && i + 1 < argc) {
            gCpuClock = std::string(argv[++i]) == "cpu";
#if !defined(LUMISERE_THREAD_CPU_CLOCK)
            if (gCpuClock) std::fprintf(stderr, "lumisere_host_bench: no CPU clock here, timing wall-clock time\n");
            gCpuClock = false;
#endif
        } else if (arg == "--editor" && i + 1 < argc) {
            editorSeconds = std::atof(argv[++i]);
        } else if ((arg == "--runs" || arg == "--seconds" || arg == "--baseline" || arg == "--only") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--runs") runs = std::atoi(value);
            if (arg == "--seconds") seconds = std::atof(value);
            if (arg == "--baseline") baseline = value;
            if (arg == "--only") only = value;
        } else if (arg.find('=') != std::string::npos && arg.rfind("--", 0) != 0) {
            Entry entry;
            entry.name = arg.substr(0, arg.find('='));
            const std::string path = arg.substr(arg.find('=') + 1);
            entry.library = std::make_unique<host::PluginLibrary>(path);
            if (!entry.library->loaded() || entry.library->entry() == nullptr) {
                std::fprintf(stderr, "lumisere_host_bench: %s: %s\n", path.c_str(),
                             entry.library->loaded() ? "no VSTPluginMain" : entry.library->error().c_str());
                return 1;
            }
            AEffect* probe = entry.library->entry()(benchHost);
            if (probe == nullptr || probe->magic != kEffectMagic || probe->processReplacing == nullptr ||
                probe->numInputs != 2 || probe->numOutputs != 2) {
                std::fprintf(stderr, "lumisere_host_bench: %s is not a stereo VST 2.x effect\n", path.c_str());
                return 1;
            }
            host::dispatch(probe, effClose);
            entries.push_back(std::move(entry));
        } else {
            return usage();
        }
    }
    if (runs < 1 || !(seconds > 0.0) || !(only.empty() || only == "pink" || only == "silence")) return usage();
#if defined(_WIN32)
    if (editorSeconds > 0.0) {
        std::printf("an idle editor open for %g s, process CPU as a share of one core, load average %s\n",
                    editorSeconds, loadAverage().c_str());
        for (const Entry& e : entries) {
            std::printf("%-20s %6.2f %%\n", e.name.c_str(), 100.0 * idleEditorShare(*e.library, editorSeconds));
        }
        return 0;
    }
#endif
    Entry plain;
    plain.name = kPlainReading;
    entries.push_back(std::move(plain));
    const auto base = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == baseline; });
    if (base == entries.end()) {
        std::fprintf(stderr, "lumisere_host_bench: no entry named %s to take as the baseline\n", baseline.c_str());
        return 2;
    }

    signals::StereoSignal materials[kNumMaterials];
    materials[kPink] = signals::pinkNoiseWithSibilance(kRate, kMaterialSeconds, 2024u);
    materials[kSilence].left.assign(materials[kPink].left.size(), 0.0f);
    materials[kSilence].right.assign(materials[kPink].right.size(), 0.0f);
    const long frames = static_cast<long>(seconds * kRate);

    std::printf("%d interleaved runs, %g s of audio per measurement, %g Hz, %d-frame blocks, %s time, load average %s\n",
                runs, seconds, kRate, kBlockFrames, gCpuClock ? "thread CPU" : "wall-clock", loadAverage().c_str());
    const int count = static_cast<int>(entries.size()) * kNumMaterials;
    for (int run = 0; run < runs; ++run) {
        for (int k = 0; k < count; ++k) {
            const int slot = (k + run) % count;
            Entry& entry = entries[static_cast<std::size_t>(slot / kNumMaterials)];
            const int material = slot % kNumMaterials;
            if (!only.empty() && (material == kPink) != (only == "pink")) continue;
            entry.nsPerFrame[material].push_back(measure(entry, materials[material], frames));
        }
        std::fprintf(stderr, "\rrun %d of %d", run + 1, runs);
    }
    std::fprintf(stderr, "\n");

    if (!only.empty()) {
        for (Entry& e : entries) {
            for (std::vector<double>& v : e.nsPerFrame) {
                if (v.empty()) v.push_back(0.0);
            }
        }
    }
    const double baseSpeech = median(base->nsPerFrame[kPink]);
    std::printf("\nns per stereo frame, median of %d runs (fastest..slowest); ratio of medians to %s\n", runs,
                base->name.c_str());
    std::printf("%-20s %26s %26s %16s %10s\n", "", "pink + sibilants, -18 dBFS", "digital silence",
                "silence/speech", "ratio");
    for (const Entry& e : entries) {
        const auto range = [](const std::vector<double>& v) {
            char text[48];
            std::snprintf(text, sizeof text, "%7.1f (%5.1f..%5.1f)", median(v), *std::min_element(v.begin(), v.end()),
                          *std::max_element(v.begin(), v.end()));
            return std::string(text);
        };
        const double speech = median(e.nsPerFrame[kPink]);
        std::printf("%-20s %26s %26s %16.3f %10.3f\n", e.name.c_str(), range(e.nsPerFrame[kPink]).c_str(),
                    range(e.nsPerFrame[kSilence]).c_str(), median(e.nsPerFrame[kSilence]) / speech,
                    speech / baseSpeech);
    }
    return 0;
}
