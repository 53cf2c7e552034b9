// The built tool as a user runs it: batches with bad files, output safety, formats, usage mistakes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <csignal>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tool_test_support.h"

namespace lumisere::testing {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

bool hasHiddenFiles(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().front() == '.') return true;
    }
    return false;
}

void writeBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

TEST(Cli, EveryBadInputGetsOneLineAndTheOtherFilesGoThrough) {
    ScratchDir dir;
    writeAudio(dir / "first.wav", sine(440.0, 0.3, 0.2));
    Audio flac = noise(0.1, 0.2, 1, 48000);
    flac.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    writeAudio(dir / "last.flac", flac);

    writeBytes(dir / "text.wav", "these are words, not samples\n");
    writeBytes(dir / "empty.wav", "");
    Audio none;
    writeAudio(dir / "silent-header.wav", none);
    writeAudio(dir / "surround.wav", [] { Audio a = sine(440.0, 0.3, 0.1, 3); return a; }());
    writeAudio(dir / "phone.wav", sine(440.0, 0.3, 0.1, 1, 8000));
    // A WAV whose format tag names an encoding nobody reads.
    std::string odd = readText(dir / "first.wav");
    odd[20] = 0x34;
    odd[21] = 0x12;
    writeBytes(dir / "odd-codec.wav", odd);
    fs::create_directory(dir / "folder.wav");

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"missing.wav", "no such file"},
        {"text.wav", "cannot be read as audio"},
        {"empty.wav", "cannot be read as audio"},
        {"silent-header.wav", "contains no audio (zero length)"},
        {"surround.wav", "has 3 channels; only mono and stereo"},
        {"phone.wav", "does not run at 8000 Hz"},
        {"odd-codec.wav", "cannot be read as audio"},
        {"folder.wav", "is a directory"},
    };
    std::vector<std::string> args = {"process", "first.wav"};
    for (const auto& b : bad) args.push_back(b.first);
    args.insert(args.end(), {"last.flac", "--out-dir", "out", "--jobs", "3"});
    const ToolRun run = runTool(dir, args);

    EXPECT_EQ(run.status, 1);
    const std::vector<std::string> errors = lines(run.err);
    ASSERT_EQ(errors.size(), bad.size()) << run.err;
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_EQ(errors[i].rfind("lumisere: " + bad[i].first + ": ", 0), 0u) << errors[i];
        EXPECT_NE(errors[i].find(bad[i].second), std::string::npos) << errors[i];
    }
    EXPECT_NE(run.out.find("first.wav -> out/first.wav"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("last.flac -> out/last.flac"), std::string::npos) << run.out;
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(dir / "out")) written.push_back(entry.path().filename());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"first.wav", "last.flac"}));

    // A file or a folder the user may not read: said as such, and never an uncaught exception.
    if (!permissionsApply()) GTEST_SKIP() << "running as root without setpriv: permission bits stop nobody";
    fs::create_directory(dir / "locked");
    fs::copy_file(dir / "first.wav", dir / "locked/take.wav");
    fs::permissions(dir / "locked", fs::perms::none);
    fs::permissions(dir / "first.wav", fs::perms::none);
    ToolRun locked = runTool(dir, {"process", "first.wav", "locked/take.wav", "--out-dir", "out", "--force"}, true);
    EXPECT_EQ(locked.status, 1);
    EXPECT_EQ(locked.err,
              "lumisere: first.wav: cannot open: permission denied\n"
              "lumisere: locked/take.wav: cannot open: permission denied\n");
    locked = runTool(dir, {"process", "last.flac", "--out-dir", "locked/out"}, true);
    EXPECT_EQ(locked.status, 2);
    EXPECT_EQ(locked.err, "lumisere: cannot make the output folder locked/out: permission denied\n");
    fs::permissions(dir / "locked", fs::perms::owner_all);
}

TEST(Cli, NeverWritesOverItsInputAndReplacesOutputsOnlyWithForce) {
    ScratchDir dir;
    writeAudio(dir / "take.wav", sine(440.0, 0.3, 0.2));
    writeBytes(dir / "kept.wav", "an earlier render");
    const std::string input = readText(dir / "take.wav");

    ToolRun run = runTool(dir, {"process", "take.wav", "-o", "kept.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lumisere: take.wav: the output kept.wav exists (use --force to replace it)\n");
    EXPECT_EQ(readText(dir / "kept.wav"), "an earlier render");

    // Replaced with --force, the output keeps its permissions; only regular files are replaced.
    fs::permissions(dir / "kept.wav", fs::perms::owner_read | fs::perms::owner_write);
    run = runTool(dir, {"process", "take.wav", "-o", "kept.wav", "--force"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readAudio(dir / "kept.wav").frames(), 8820);
    EXPECT_EQ(fs::status(dir / "kept.wav").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // (A device is tried only without --force: a tool that got this wrong would replace it.)
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
    fs::create_symlink("kept.wav", dir / "link.wav");
    const std::vector<std::vector<std::string>> specials = {{"-o", "fifo.wav", "--force"},
                                                            {"-o", "link.wav", "--force"},
                                                            {"-o", "link.wav"},
                                                            {"-o", "/dev/null"}};
    for (std::vector<std::string> args : specials) {
        args.insert(args.begin(), {"process", "take.wav"});
        run = runTool(dir, args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("the output " + args[3] + " is a"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("not a regular file; only regular files are replaced"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.wav"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.wav"));
    fs::remove(dir / "fifo.wav");
    fs::remove(dir / "link.wav");

    // A name at the file-name limit of 255 bytes leaves room for its temporary file.
    const std::string longest = std::string(251, 'n') + ".wav";
    run = runTool(dir, {"process", "take.wav", "-o", longest});
    EXPECT_EQ(run.status, 0) << run.err;
    fs::remove(dir / longest);

    for (const std::vector<std::string>& args : {std::vector<std::string>{"process", "take.wav", "-o", "./take.wav", "--force"},
                                                 std::vector<std::string>{"process", "take.wav", "--out-dir", ".", "--force"}}) {
        run = runTool(dir, args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("is the input itself"), std::string::npos) << run.err;
    }
    EXPECT_EQ(readText(dir / "take.wav"), input);

    // One input's output would be another input; two inputs of one name would meet in one output.
    fs::create_directory(dir / "sub");
    fs::copy_file(dir / "take.wav", dir / "sub/take.wav");
    run = runTool(dir, {"process", "take.wav", "--out-dir", "sub", "--force", "sub/take.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "lumisere: take.wav: the output sub/take.wav is the input file sub/take.wav\n"
              "lumisere: sub/take.wav: the output sub/take.wav is the input itself\n");
    EXPECT_EQ(readText(dir / "sub/take.wav"), input);
    run = runTool(dir, {"process", "take.wav", "sub/take.wav", "--out-dir", "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lumisere: sub/take.wav: the output out/take.wav is also the output of take.wav\n");
    EXPECT_TRUE(fs::exists(dir / "out/take.wav"));
    EXPECT_FALSE(hasHiddenFiles(dir / "out"));
}

TEST(Cli, FormatsFollowTheInputOrTheRequestAndBypassIsBitExact) {
    ScratchDir dir;
    Audio wav16 = noise(0.9, 0.3, 2, 44100, 3);
    wav16.samples[0] = -1.0f;
    wav16.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    writeAudio(dir / "a.wav", wav16);
    Audio flac24 = noise(0.9, 0.3, 1, 96000, 4);
    flac24.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    writeAudio(dir / "b.flac", flac24);

    ToolRun run = runTool(dir, {"process", "a.wav", "b.flac", "--out-dir", "same", "--bypass"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readInts(dir / "same/a.wav"), readInts(dir / "a.wav"));
    EXPECT_EQ(readInts(dir / "same/b.flac"), readInts(dir / "b.flac"));
    EXPECT_EQ(readAudio(dir / "same/b.flac").format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(readAudio(dir / "same/b.flac").channels, 1);

    // 32-bit words and doubles do not fit a float: bypassed, they are copied at their own precision.
    std::vector<int> words(2000);
    std::mt19937 random(5);
    for (int& w : words) w = static_cast<int>(random());
    writeExact(dir / "c.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2, words);
    std::vector<double> doubles = {1e300, -1e300, 1e-310, 0.1, -DBL_MAX};
    for (int i = 0; i < 1000; ++i) doubles.push_back(std::sin(i * 0.01) / 3.0);
    writeExact(dir / "d.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, doubles);
    run = runTool(dir, {"process", "c.wav", "d.wav", "--out-dir", "wide", "--bypass"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readInts(dir / "wide/c.wav"), words);
    EXPECT_EQ(readDoubles(dir / "wide/d.wav"), doubles);
    // Past the float range, as floats or through the plug-in, the samples stay finite.
    run = runTool(dir, {"process", "d.wav", "-o", "d-floats.wav", "--bits", "float", "--bypass"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = runTool(dir, {"process", "d.wav", "-o", "d-rendered.wav", "--output-trim", "12"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name : {"d-floats.wav", "d-rendered.wav"}) {
        const std::vector<double> out = readDoubles(dir / name);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](double x) { return std::isfinite(x); })) << name;
    }

    run = runTool(dir, {"process", "a.wav", "b.flac", "--out-dir", "as-aiff", "--format", "aiff", "--bits", "float"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readAudio(dir / "as-aiff/a.aiff").format & SF_FORMAT_TYPEMASK, SF_FORMAT_AIFF);
    EXPECT_EQ(readAudio(dir / "as-aiff/b.aiff").format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    EXPECT_EQ(readAudio(dir / "as-aiff/b.aiff").rate, 96000);

    // -o's extension picks the container.
    run = runTool(dir, {"process", "a.wav", "-o", "a.ogg"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readAudio(dir / "a.ogg").format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);

    run = runTool(dir, {"process", "a.wav", "-o", "a.flac", "--bits", "float"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("lumisere: a.wav: cannot write FLAC"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "a.flac"));
}

TEST(Cli, UsageMistakesExitWithTwoAndSayWhatIsValid) {
    ScratchDir dir;
    writeAudio(dir / "in.wav", sine(440.0, 0.3, 0.1));
    std::ofstream(dir / "bad.preset") << "focus-freq = 3k\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"process", "in.wav", "-o", "x.wav", "--de-ess-thresh", "-41"}, "-41 dB is outside the range -40 to 0 dB"},
        {{"process", "in.wav", "-o", "x.wav", "--focus-freq", "12kHz"}, "outside the range 4000 to 11000 Hz"},
        {{"process", "in.wav", "-o", "x.wav", "--air-silk", "lots"}, "is not a percentage"},
        {{"process", "in.wav", "-o", "x.wav", "--bypass=sometimes"}, "is not on or off"},
        {{"process", "in.wav", "-o", "x.wav", "--bypass="}, "--bypass= needs a value: on or off"},
        {{"process", "in.wav", "-o", "x.wav", "--preset", "/dev/zero"}, "preset /dev/zero is larger than 64 KiB"},
        {{"snapshot", "x.png", "--meters", "1e300", "6"}, "--meters takes two reductions from 0 to 100 dB"},
        {{"snapshot", "x.png", "--meters", "12", "3.4e38"}, "--meters takes two reductions from 0 to 100 dB"},
        {{"process", "in.wav", "-o", "x.wav", "--warmth", "3"}, "parameter options are --de-ess-thresh, --focus-freq"},
        {{"process", "in.wav", "-o", "x.wav", "--preset", "bad.preset"}, "bad.preset:1: focus-freq: 3000 Hz"},
        {{"process", "in.wav", "-o", "x.wav", "--preset", "none.preset"}, "cannot read preset none.preset"},
        {{"process", "in.wav", "in.wav", "-o", "x.wav"}, "use --out-dir"},
        {{"process", "in.wav"}, "give -o OUT"},
        {{"process", "in.wav", "-o", "x.wav", "--block", "0"}, "--block"},
        {{"process", "in.wav", "-o", "x.wav", "--format", "mp3"}, "--format"},
        {{"frobnicate"}, "frobnicate"},
    };
    for (const auto& [args, message] : cases) {
        const ToolRun run = runTool(dir, args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
    }
    EXPECT_FALSE(fs::exists(dir / "x.wav"));
    EXPECT_FALSE(fs::exists(dir / "x.png"));

    // Values the display would show are accepted, from a preset or the options, the options last.
    std::ofstream(dir / "good.preset") << "de-ess-thresh = -30\nfocus-freq = 7.2k\n";
    const ToolRun ok = runTool(
        dir, {"process", "in.wav", "-o", "x.wav", "--preset", "good.preset", "--focus-freq", "4k", "--listen-sibilance"});
    EXPECT_EQ(ok.status, 0) << ok.err;
}

// A disk that fills up under an output (a file-size limit, past which writes fail as on a full
// disk), with the last byte or the last half of the file missing: in every format the run fails and
// the earlier render stays. libsndfile loses a FLAC encoder's last failed write, so this once
// reported a damaged FLAC as written and put it in place.
TEST(Cli, AFullDiskFailsTheRunAndKeepsTheEarlierOutput) {
    ScratchDir dir;
    writeAudio(dir / "take.wav", noise(0.3, 1.0));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    for (const std::string name : {"o.wav", "o.flac", "o.aiff", "o.ogg"}) {
        ASSERT_EQ(runTool(dir, {"process", "take.wav", "-o", name}).status, 0) << name;
        const auto size = static_cast<rlim_t>(fs::file_size(dir / name));
        for (const rlim_t limit : {size - 1, size / 2}) {
            writeBytes(dir / name, "an earlier render");
            rlimit cut = unlimited;
            cut.rlim_cur = limit;
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &cut), 0);
            const ToolRun run = runTool(dir, {"process", "take.wav", "-o", name, "--force"});
            ::setrlimit(RLIMIT_FSIZE, &unlimited);
            EXPECT_EQ(run.status, 1) << name << " cut at " << limit << " of " << size << " bytes";
            EXPECT_EQ(run.err.rfind("lumisere: take.wav: write failed: ", 0), 0u) << run.err;
            EXPECT_TRUE(readText(dir / name) == "an earlier render") << name << " was replaced";
            EXPECT_FALSE(hasHiddenFiles(dir.path())) << name;
        }
    }
    std::signal(SIGXFSZ, SIG_DFL);
}

// Reports, listings and help that cannot be written to standard output fail the run, and say so.
TEST(Cli, AnUnwritableStandardOutputIsAFailure) {
    ScratchDir dir;
    writeAudio(dir / "take.wav", sine(440.0, 0.3, 0.1));
    for (const std::string args : {"params", "params --json", "--help", "--version", "process take.wav -o r.wav --json",
                                   "process take.wav -o r.wav --force"}) {
        const int raw = std::system(("cd '" + dir.path().string() + "' && '" LUMISERE_TOOL_PATH "' " + args +
                                     " > /dev/full 2> err.txt").c_str());
        EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << args;
        EXPECT_NE(readText(dir / "err.txt").find("lumisere: cannot write to standard output"), std::string::npos) << args;
    }
}

// The header announces 8820 frames; the file holds the first 4000.
std::string cutShort(const ScratchDir& dir, const std::string& name, int format) {
    Audio whole = sine(440.0, 0.3, 0.2);
    whole.format = format;
    writeAudio(dir / name, whole);
    const std::string bytes = readText(dir / name);
    writeBytes(dir / name, bytes.substr(0, bytes.size() - 4820 * 2 * 2));
    return name;
}

TEST(Cli, JsonReportListsEveryFileInOrder) {
    ScratchDir dir;
    writeAudio(dir / "one.wav", sine(7000.0, 0.5, 0.2));
    writeAudio(dir / "two.wav", noise(0.0001, 0.2));
    // Linux takes any bytes in a name, Latin-1 among them; JSON takes Unicode.
    const std::string latin1 = "caf\xE9 \\ bar.wav";
    writeAudio(dir / latin1, sine(440.0, 0.3, 0.1));
    cutShort(dir, "cut.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const ToolRun run =
        runTool(dir, {"process", "one.wav", "gone.wav", "two.wav", latin1, "cut.wav", "--out-dir", "out", "--json"});
    EXPECT_EQ(run.status, 1);
    const nlohmann::json report = nlohmann::json::parse(run.out);
    ASSERT_EQ(report["files"].size(), 5u);
    EXPECT_EQ(report["files"][0]["output"], "out/one.wav");
    EXPECT_FALSE(report["files"][0].contains("escapedNames"));
    EXPECT_EQ(report["files"][0]["truncated"], false);
    EXPECT_EQ(report["files"][1]["error"], "no such file");
    EXPECT_EQ(report["files"][2]["channels"], 2);
    for (const char* key : {"maxDb", "meanDb", "shareAbove1Db"}) EXPECT_TRUE(report["files"][0]["deEsser"].contains(key));
    for (const char* key : {"maxDb", "meanDb", "shareActive"}) EXPECT_TRUE(report["files"][2]["gate"].contains(key));
    EXPECT_EQ(report["files"][3]["input"], "caf\\xE9 \\\\ bar.wav");
    EXPECT_EQ(report["files"][3]["output"], "out/caf\\xE9 \\\\ bar.wav");
    EXPECT_EQ(report["files"][3]["escapedNames"], true);
    EXPECT_EQ(report["files"][4]["truncated"], true);
    EXPECT_EQ(report["files"][4]["framesAnnounced"], 8820);
    EXPECT_EQ(report["files"][4]["frames"], 4000);
    EXPECT_EQ(run.err,
              "lumisere: gone.wav: no such file\n"
              "lumisere: cut.wav: warning: cut short: the header announces 8820 frames, the file holds 4000\n");

    // The text report says it too, for AIFF as for WAV.
    const ToolRun text = runTool(dir, {"process", cutShort(dir, "cut.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16), "-o", "x.aiff"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("  cut short: the header announces 8820 frames, the file holds 4000\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.err.find("cut.aiff: warning: cut short"), std::string::npos) << text.err;

    // An Ogg stream cut short announces no length (libsndfile counts it as the largest number): unknown.
    Audio ogg = noise(0.3, 1.0);
    ogg.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    writeAudio(dir / "cut.ogg", ogg);
    writeBytes(dir / "cut.ogg", readText(dir / "cut.ogg").substr(0, fs::file_size(dir / "cut.ogg") / 2));
    const ToolRun cutOgg = runTool(dir, {"process", "cut.ogg", "-o", "ogg.wav", "--json"});
    EXPECT_EQ(cutOgg.status, 0) << cutOgg.err;
    const nlohmann::json oggReport = nlohmann::json::parse(cutOgg.out)["files"][0];
    EXPECT_TRUE(oggReport["truncated"].is_null()) << oggReport;
    EXPECT_FALSE(oggReport.contains("framesAnnounced")) << oggReport;
    EXPECT_EQ(cutOgg.err, "lumisere: cut.ogg: warning: length unknown: the file announces none, it holds " +
                              std::to_string(oggReport["frames"].get<long long>()) + " frames\n");
}

TEST(Cli, SnapshotDrawsTheEditorAtTheGivenSettings) {
    ScratchDir dir;
    ToolRun run = runTool(dir, {"snapshot", "panel.png", "--meters", "12", "6"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string png = readText(dir / "panel.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto bigEndian = [&](std::size_t at) {
        unsigned value = 0;
        for (std::size_t i = at; i < at + 4; ++i) value = value << 8 | static_cast<unsigned char>(png[i]);
        return value;
    };
    EXPECT_EQ(bigEndian(16), 840u);  // the header chunk's width and height
    EXPECT_EQ(bigEndian(20), 520u);

    run = runTool(dir, {"snapshot", "turned.png", "--meters", "12", "6", "--focus-freq", "11k"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(readText(dir / "turned.png"), png) << "the focus knob moved";

    // Outputs as `process` writes them: an existing one only with --force, and only a regular file.
    run = runTool(dir, {"snapshot", "turned.png", "--meters", "12", "6"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lumisere: the output turned.png exists (use --force to replace it)\n");
    EXPECT_NE(readText(dir / "turned.png"), png);
    run = runTool(dir, {"snapshot", "turned.png", "--meters", "12", "6", "--force"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readText(dir / "turned.png"), png);
    fs::create_symlink("turned.png", dir / "link.png");
    run = runTool(dir, {"snapshot", "link.png", "--force"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("link.png is a symbolic link, not a regular file"), std::string::npos) << run.err;
    EXPECT_FALSE(hasHiddenFiles(dir.path()));

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"snapshot", "x.png", "--meters", "-1", "6"},
          std::vector<std::string>{"snapshot", "x.png", "--meters", "12"},
          std::vector<std::string>{"snapshot", "x.png", "--focus-freq", "3k"},
          std::vector<std::string>{"snapshot"}}) {
        EXPECT_EQ(runTool(dir, args).status, 2) << args.back();
    }
    EXPECT_FALSE(fs::exists(dir / "x.png"));
    run = runTool(dir, {"snapshot", "no-such-folder/x.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no-such-folder/x.png"), std::string::npos) << run.err;
}

// Every signal a terminal session sends to end a run (Ctrl-C, Ctrl-\, the terminal closing, kill)
// stops it without an output and without its temporary file. The input comes through a FIFO that
// holds the run in its read loop, with the temporary file made, until the signal has been sent.
TEST(Cli, EverySignalOfATerminalSessionLeavesNoTemporaryFile) {
    ScratchDir dir;
    writeAudio(dir / "long.wav", sine(440.0, 0.3, 2.0));
    const std::string whole = readText(dir / "long.wav");
    const std::string fifo = dir / "feed.wav";
    std::signal(SIGPIPE, SIG_IGN);
    for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        SCOPED_TRACE(signal);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            if (::chdir(dir.path().c_str()) == 0) {
                ::execl(LUMISERE_TOOL_PATH, "lumisere", "process", "feed.wav", "-o", "out.wav", nullptr);
            }
            ::_exit(127);
        }
        {
            std::ofstream feed(fifo, std::ios::binary);
            feed.write(whole.data(), static_cast<std::streamsize>(whole.size() / 2));
            feed.flush();
            for (int tries = 0; tries < 1000 && !hasHiddenFiles(dir.path()); ++tries) ::usleep(10000);
            EXPECT_TRUE(hasHiddenFiles(dir.path())) << "the run makes its temporary file";
            ::kill(pid, signal);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
        EXPECT_FALSE(fs::exists(dir / "out.wav"));
        EXPECT_FALSE(hasHiddenFiles(dir.path()));
        fs::remove(fifo);
    }
}

}  // namespace
}  // namespace lumisere::testing
