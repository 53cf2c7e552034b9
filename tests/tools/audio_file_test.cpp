// Output format choice, sample-exact writing and the temporary-file discipline.
#include "audio_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cfloat>
#include <climits>

#include "tool_test_support.h"

namespace lumisere::cli {
namespace {

namespace fs = std::filesystem;

SF_INFO inputOf(int format, int channels = 2) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = format;
    return info;
}

std::string refusal(const SF_INFO& input, const FormatRequest& request) {
    try {
        outputFormat(input, request);
    } catch (const FileError& e) {
        return e.what();
    }
    return "";
}

TEST(AudioFile, OutputFormatFollowsTheInputUnlessAsked) {
    const SF_INFO wav16 = inputOf(SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const SF_INFO wavFloat = inputOf(SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const SF_INFO ogg = inputOf(SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    EXPECT_EQ(outputFormat(wav16, {}), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(outputFormat(wav16, {"flac", ""}), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    EXPECT_EQ(outputFormat(wav16, {"", "float"}), SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(outputFormat(wav16, {"ogg", ""}), SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    // FLAC holds no floats: the encoding falls back to 24-bit PCM; Ogg becomes PCM too.
    EXPECT_EQ(outputFormat(wavFloat, {"flac", ""}), SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(outputFormat(ogg, {"aiff", ""}), SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
    EXPECT_EQ(outputFormat(ogg, {}), SF_FORMAT_OGG | SF_FORMAT_VORBIS);

    EXPECT_NE(refusal(wav16, {"flac", "float"}).find("cannot write FLAC"), std::string::npos);
    EXPECT_NE(refusal(wav16, {"ogg", "16"}).find("Ogg has no bit depth"), std::string::npos);
    EXPECT_NE(refusal(wav16, {"mp4", ""}).find("unknown output format"), std::string::npos);

    // The 2.2 GB 16-bit stereo WAV of 553,648,128 frames fits in WAV as it is, but not as floats.
    SF_INFO long16 = wav16;
    long16.frames = 553648128;
    EXPECT_EQ(outputFormat(long16, {}), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(outputFormat(long16, {"", "float"}), SF_FORMAT_RF64 | SF_FORMAT_FLOAT);
    EXPECT_NE(refusal(long16, {"aiff", "float"}).find("too long for AIFF"), std::string::npos);

    EXPECT_EQ(majorFormatFromPath("take.AIF"), SF_FORMAT_AIFF);
    EXPECT_EQ(majorFormatFromPath("take.oga"), SF_FORMAT_OGG);
    EXPECT_EQ(majorFormatFromPath("take.mp3"), 0);
}

// The sizes of WAV and AIFF are 32-bit byte counts: 4 GiB less the room kept for the header.
TEST(AudioFile, OutputsPastFourGibibytesAreRf64OrRefused) {
    constexpr sf_count_t kFits24BitMono = (4294967295LL - 65536) / 3;
    struct Case {
        int format;
        sf_count_t frames;
        int channels;
        int expected;  // 0: refused
    };
    const Case cases[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_24, kFits24BitMono, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_24, kFits24BitMono + 1, 1, SF_FORMAT_RF64 | SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, kFits24BitMono / 2, 1, SF_FORMAT_RF64 | SF_FORMAT_DOUBLE},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG, kFits24BitMono, 2, SF_FORMAT_RF64 | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_COUNT_MAX, 2, SF_FORMAT_RF64 | SF_FORMAT_FLOAT},  // length unknown
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, kFits24BitMono, 1, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, kFits24BitMono + 1, 1, 0},
        {SF_FORMAT_AIFF | SF_FORMAT_FLOAT, SF_COUNT_MAX, 1, 0},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, kFits24BitMono * 4, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {SF_FORMAT_OGG | SF_FORMAT_VORBIS, SF_COUNT_MAX, 2, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.format << std::dec << " " << c.frames << " x " << c.channels);
        if (c.expected == 0) {
            EXPECT_THROW(formatForLength(c.format, c.frames, c.channels), FileError);
        } else {
            EXPECT_EQ(formatForLength(c.format, c.frames, c.channels), c.expected);
        }
    }
}

// libsndfile reads n / 2^(bits-1) but writes x * (2^(bits-1) - 1): without the writer's own scaling a
// file passed through unchanged would come back with most samples one step smaller. Samples travel
// as doubles, which hold every 32-bit word and every double a file can have.
TEST(AudioFile, SamplesSurviveReadingAndWritingBitForBit) {
    testing::ScratchDir dir;
    for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_24,
                       SF_FORMAT_AIFF | SF_FORMAT_PCM_32, SF_FORMAT_WAV | SF_FORMAT_PCM_U8,
                       SF_FORMAT_RF64 | SF_FORMAT_PCM_32}) {
        SCOPED_TRACE(format);
        const int bits = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16   ? 16
                         : (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ? 24
                         : (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_32 ? 32
                                                                            : 8;
        // Full scale both ways, one step from zero, and a spread in between; left-justified.
        const int shift = 32 - bits;
        const unsigned lowBits = (1u << shift) - 1;
        std::vector<int> words = {INT_MIN, static_cast<int>(0x7FFFFFFFu & ~lowBits), 1 << shift, -(1 << shift), 0};
        for (unsigned k = 1; k < 200; ++k) words.push_back(static_cast<int>((k * 2654435761u) & ~lowBits));
        const std::string source = dir / "source";
        SF_INFO info = inputOf(format, 1);
        SNDFILE* file = sf_open(source.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        sf_writef_int(file, words.data(), static_cast<sf_count_t>(words.size()));
        sf_close(file);
        const std::vector<int> written = testing::readInts(source);

        AudioReader reader(source);
        std::vector<double> samples(written.size());
        ASSERT_EQ(reader.read(samples.data(), static_cast<sf_count_t>(samples.size())),
                  static_cast<sf_count_t>(samples.size()));
        const std::string copy = dir / "copy";
        {
            AudioWriter writer(copy, reader.info());
            writer.write(samples.data(), static_cast<sf_count_t>(samples.size()));
            writer.commit(true);
        }
        EXPECT_EQ(testing::readInts(copy), written);
        EXPECT_EQ(testing::readAudio(copy).format, format);
    }

    // Doubles come back as they are; written as floats, those past the float range stop at its edge.
    const std::vector<double> doubles = {1e300, -1e-300, 0.1, -DBL_MAX, 1e-320, -INFINITY};
    const std::string source = dir / "doubles";
    testing::writeExact(source, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1, doubles);
    AudioReader reader(source);
    std::vector<double> samples(doubles.size());
    ASSERT_EQ(reader.read(samples.data(), 64), static_cast<sf_count_t>(doubles.size()));
    EXPECT_EQ(samples, doubles);
    for (int format : {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, SF_FORMAT_WAV | SF_FORMAT_FLOAT}) {
        AudioWriter writer(dir / "copy", inputOf(format, 1));
        writer.write(samples.data(), static_cast<sf_count_t>(samples.size()));
        writer.commit(true);
        const std::vector<double> back = testing::readDoubles(dir / "copy");
        if (format == (SF_FORMAT_WAV | SF_FORMAT_DOUBLE)) {
            EXPECT_EQ(back, doubles);
        } else {
            EXPECT_EQ(back, (std::vector<double>{FLT_MAX, -0.0, 0.1f, -FLT_MAX, 0.0, -INFINITY}));
        }
    }
}

TEST(AudioFile, WriterShowsOnlyFinishedFilesAndReplacesOnlyWhenAllowed) {
    testing::ScratchDir dir;
    const SF_INFO info = inputOf(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1);
    const std::vector<double> samples(64, 0.25);
    const std::string out = dir / "out.wav";
    {
        AudioWriter abandoned(out, info);
        abandoned.write(samples.data(), 64);
        EXPECT_TRUE(fs::exists(abandoned.temporaryPath()));
        EXPECT_EQ(fs::path(abandoned.temporaryPath()).parent_path(), dir.path());
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_TRUE(fs::is_empty(dir.path())) << "an abandoned output leaves nothing behind";

    std::ofstream(out) << "precious";
    {
        AudioWriter refused(out, info);
        refused.write(samples.data(), 64);
        EXPECT_THROW(refused.commit(false), FileError);
    }
    EXPECT_EQ(testing::readText(out), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // Replaced, the output keeps its permissions.
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_write);
    AudioWriter replacing(out, info);
    replacing.write(samples.data(), 64);
    replacing.commit(true);
    EXPECT_EQ(testing::readDoubles(out), samples);
    EXPECT_EQ(fs::status(out).permissions(), fs::perms::owner_read | fs::perms::owner_write);

    // Only a regular file is replaced.
    const std::string fifo = dir / "fifo.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(replaceProblem(fifo, true), "the output " + fifo + " is a FIFO, not a regular file; only regular files are replaced");
    EXPECT_NE(replaceProblem("/dev/null", true).find("/dev/null is a device, not a regular file"), std::string::npos);
    AudioWriter toFifo(fifo, info);
    toFifo.write(samples.data(), 64);
    EXPECT_THROW(toFifo.commit(true), FileError);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

// The temporary name is ".NAME.XXXXXX": a long NAME is cut short, at a character's start.
TEST(AudioFile, TemporaryNamesStayWithinTheNameLimit) {
    const std::string accented = "\xC3\xA9";  // é, two bytes
    struct Case {
        std::string name;
        long nameMax;
        std::string expected;
    };
    const Case cases[] = {
        {"take.wav", 255, ".take.wav.XXXXXX"},
        {std::string(247, 'a'), 255, "." + std::string(247, 'a') + ".XXXXXX"},
        {std::string(255, 'a'), 255, "." + std::string(247, 'a') + ".XXXXXX"},
        {"ab" + accented + "cd", 12, ".ab" + accented + ".XXXXXX"},
        {"abc" + accented + "d", 12, ".abc.XXXXXX"},  // é would be cut in two
    };
    for (const Case& c : cases) {
        EXPECT_EQ(temporaryPattern("sub/" + c.name, c.nameMax), "sub/" + c.expected) << c.name;
    }
    testing::ScratchDir dir;
    const std::string longest = dir / (std::string(251, 'n') + ".wav");
    AudioWriter writer(longest, inputOf(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1));
    const double sample = 0.5;
    writer.write(&sample, 1);
    writer.commit(false);
    EXPECT_TRUE(fs::exists(longest));
}

}  // namespace
}  // namespace lumisere::cli
