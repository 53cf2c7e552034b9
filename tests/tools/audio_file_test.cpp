// Output format choice, sample-exact writing and the temporary-file discipline.
#include "audio_file.h"

#include <gtest/gtest.h>

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

    EXPECT_EQ(majorFormatFromPath("take.AIF"), SF_FORMAT_AIFF);
    EXPECT_EQ(majorFormatFromPath("take.oga"), SF_FORMAT_OGG);
    EXPECT_EQ(majorFormatFromPath("take.mp3"), 0);
}

// libsndfile reads n / 2^(bits-1) but writes x * (2^(bits-1) - 1): without the writer's own scaling a
// file passed through unchanged would come back with most samples one step smaller.
TEST(AudioFile, IntegerSamplesSurviveReadingAndWritingBitForBit) {
    testing::ScratchDir dir;
    for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_24,
                       SF_FORMAT_AIFF | SF_FORMAT_PCM_32, SF_FORMAT_WAV | SF_FORMAT_PCM_U8}) {
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
        std::vector<float> samples(written.size());
        ASSERT_EQ(reader.read(samples.data(), static_cast<sf_count_t>(samples.size())),
                  static_cast<sf_count_t>(samples.size()));
        const std::string copy = dir / "copy";
        {
            AudioWriter writer(copy, reader.info());
            writer.write(samples.data(), static_cast<sf_count_t>(samples.size()));
            writer.commit(true);
        }
        if (bits <= 24) {
            EXPECT_EQ(testing::readInts(copy), written);
        } else {
            // Floats carry 24 bits: a 32-bit word comes back within the float's rounding.
            const std::vector<int> back = testing::readInts(copy);
            ASSERT_EQ(back.size(), written.size());
            for (std::size_t i = 0; i < back.size(); ++i) EXPECT_NEAR(back[i], written[i], 128.0) << i;
        }
    }
}

TEST(AudioFile, WriterShowsOnlyFinishedFilesAndReplacesOnlyWhenAllowed) {
    testing::ScratchDir dir;
    const SF_INFO info = inputOf(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1);
    const std::vector<float> samples(64, 0.25f);
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

    AudioWriter replacing(out, info);
    replacing.write(samples.data(), 64);
    replacing.commit(true);
    EXPECT_EQ(testing::readAudio(out).samples, samples);
}

}  // namespace
}  // namespace lumisere::cli
