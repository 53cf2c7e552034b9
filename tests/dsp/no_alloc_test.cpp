// The audio core allocates nothing while it processes (the allocation counter of tests/kit; the
// format entries' own check is tests/plugin/no_alloc_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "allocation_counter.h"
#include "core/processor.h"
#include "dsp/process_block.h"
#include "test_signals.h"

namespace lumisere {
namespace {

TEST(Realtime, TheAudioCoreAllocatesNothing) {
    const signals::StereoSignal in = signals::speechLikeSignal(48000.0, 1.0, 41u);
    std::vector<float> outL(in.left.size()), outR(in.right.size());
    const int total = static_cast<int>(in.left.size());

    // With a rate change and a focus change on the way.
    dsp::DspState state;
    dsp::BlockSettings settings = defaultBlockSettings();
    const long core = test::allocationsDuring([&] {
        for (int at = 0, n = 0; at < total; at += 512, ++n) {
            settings.sampleRate = n < 40 ? 44100.0 : 48000.0;
            settings.focusHz = n % 10 < 5 ? 6800.0 : 9000.0;
            const int frames = std::min(512, total - at);
            const float* inputs[] = {in.left.data() + at, in.right.data() + at};
            float* outputs[] = {outL.data() + at, outR.data() + at};
            dsp::processBlock(state, settings, inputs, outputs, frames);
        }
    });
    EXPECT_EQ(core, 0);
}

}  // namespace
}  // namespace lumisere
