// The VST 3 bundle's module as a host drives it, natively and (the Windows bundle) under Wine: the
// render against the VST 2.x plug-in's, parameter changes through the queues, the host's bypass, the
// parameter list and texts, and the saved state.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iterator>
#include <memory>

#include "core/parameters.h"
#include "plugin_library.h"
#include "render.h"
#include "test_signals.h"
#include "vst3_test_host.h"

#if !defined(_WIN32)
#include "editor/editor_model.h"
#include "x11_editor_support.h"
#endif

namespace lumisere::vst3test {
namespace {

std::u16string u16(const char* text) { return std::u16string(text, text + std::strlen(text)); }

class Vst3Host : public ::testing::Test {
protected:
    Vst3Module module_{LUMISERE_VST3_MODULE};
    IPluginFactory* factory_ = module_.factory();
};

TEST_F(Vst3Host, RendersTheVst2RenderBitForBitWithChangesFromTheQueues) {
    host::PluginLibrary vst2(LUMISERE_VST2_MODULE);
    std::vector<float> expected;
    ASSERT_TRUE(vst2.loaded() && probe::renderPasses(vst2.entry(), expected));

    const std::vector<float> signal = signals::interleaved(signals::portableSpeech());
    const int frames = static_cast<int>(signal.size() / 2);
    std::vector<float> rendered(expected.size());
    for (int pass = 0; pass < 2; ++pass) {
        Effect effect(factory_);
        ASSERT_TRUE(effect.ready());
        ASSERT_TRUE(effect.start());
        float* out = rendered.data() + static_cast<std::size_t>(pass) * signal.size();
        for (int start = 0; start < frames; start += probe::kRenderBlockFrames) {
            // The strong settings arrive in the first block's queues, after other points: the last counts.
            ParameterChanges changes;
            if (pass == 1 && start == 0) {
                for (const auto& s : probe::kStrongSettings) changes.add(s.index, {{0, 0.9}, {300, s.value}});
            }
            const int n = std::min(probe::kRenderBlockFrames, frames - start);
            effect.block(&signal[2 * start], out + 2 * start, n, &changes);
        }
    }
    EXPECT_TRUE(rendered == expected) << "the VST 3 render differs from the VST 2.x render";

    // The host's bypass: the flagged parameter, switched through a queue, passes the input through;
    // silence in is silence out, and flagged so.
    Effect effect(factory_);
    ASSERT_TRUE(effect.ready());
    ASSERT_TRUE(effect.start());
    ParameterInfo info{};
    ASSERT_EQ(effect.controller->getParameterInfo(kParamBypass, info), kResultOk);
    EXPECT_NE(info.flags & ParameterInfo::kIsBypass, 0);
    EXPECT_EQ(info.stepCount, 1);
    ParameterChanges bypass;
    bypass.add(info.id, {{0, 1.0}});
    std::vector<float> through(1024);
    EXPECT_EQ(effect.block(signal.data(), through.data(), 512, &bypass), 0u);
    EXPECT_TRUE(std::equal(through.begin(), through.end(), signal.begin()));
    const std::vector<float> silence(1024, 0.0f);
    ParameterChanges active;
    active.add(info.id, {{0, 0.0}});
    EXPECT_EQ(effect.block(silence.data(), through.data(), 512, &active), 3u);
    EXPECT_EQ(effect.controller->getParamNormalized(kParamBypass), 0.0);
}

TEST_F(Vst3Host, ListsTheTableAndReadsItsOwnTextsBack) {
    Effect effect(factory_);
    ASSERT_TRUE(effect.ready());
    ASSERT_EQ(effect.controller->getParameterCount(), kNumParams);
    for (int i = 0; i < kNumParams; ++i) {
        ParameterInfo info{};
        ASSERT_EQ(effect.controller->getParameterInfo(i, info), kResultOk);
        EXPECT_EQ(info.id, static_cast<ParamID>(i));
        EXPECT_EQ(std::u16string(info.title), u16(kParams[i].hostName));
        EXPECT_EQ(std::u16string(info.units), u16(kParams[i].label));
        EXPECT_EQ(info.defaultNormalizedValue, kParams[i].defaultValue);
        EXPECT_EQ(effect.controller->getParamNormalized(i), kParams[i].defaultValue);
        // Every display text reads back as the value it shows.
        for (float p : {0.0f, 0.25f, 0.6f, 1.0f}) {
            String128 text{};
            ASSERT_EQ(effect.controller->getParamStringByValue(i, p, text), kResultOk);
            ParamValue back = -1.0;
            ASSERT_EQ(effect.controller->getParamValueByString(i, text, back), kResultOk) << i << " " << p;
            String128 again{};
            effect.controller->getParamStringByValue(i, back, again);
            EXPECT_EQ(std::u16string(again), std::u16string(text));
        }
    }
    // As the tool reads a setting: "-54.8" is the tool's value, not the float -54.8's.
    std::u16string typed = u16("-54.8 dB");
    ParamValue value = 0.0;
    ASSERT_EQ(effect.controller->getParamValueByString(kParamDipsesThresh, typed.data(), value), kResultOk);
    EXPECT_EQ(value, static_cast<float>(unitsToNormalised(kParamDipsesThresh, -54.8)));
    for (const char* bad : {"loud", "-90 dB", "7 kHz!", "nan"}) {
        std::u16string text = u16(bad);
        EXPECT_EQ(effect.controller->getParamValueByString(kParamDipsesThresh, text.data(), value), kResultFalse) << bad;
    }
    String128 text{};
    EXPECT_EQ(effect.controller->getParamStringByValue(kNumParams, 0.5, text), kInvalidArgument);
    EXPECT_EQ(effect.controller->setParamNormalized(kNumParams, 0.5), kInvalidArgument);
    EXPECT_EQ(effect.controller->createView("no such view"), nullptr);
}

TEST_F(Vst3Host, StateRoundTripsAndRefusesWhatItDidNotWrite) {
    Effect saved(factory_), loaded(factory_);
    ASSERT_TRUE(saved.ready() && loaded.ready());
    for (const auto& s : probe::kStrongSettings) saved.controller->setParamNormalized(s.index, s.value);
    MemoryStream state;
    ASSERT_EQ(saved.component->getState(&state), kResultOk);
    state.at = 0;
    ASSERT_EQ(loaded.component->setState(&state), kResultOk);
    for (int i = 0; i < kNumParams; ++i) {
        EXPECT_EQ(loaded.controller->getParamNormalized(i), saved.controller->getParamNormalized(i)) << i;
    }

    // Truncated, foreign, a newer version, a value no instance holds, garbage: refused, nothing changes.
    const std::vector<unsigned char> good = state.bytes;
    std::vector<std::vector<unsigned char>> bad = {{}, {good.begin(), good.end() - 1}, good, good, good,
                                                   std::vector<unsigned char>(good.size(), 0xA5)};
    bad[2][0] = 'X';
    bad[3][4] = 2;
    bad[4][8 + 3] = 0x7F, bad[4][8 + 2] = 0xC0;  // a NaN
    Effect fresh(factory_);
    ASSERT_TRUE(fresh.ready());
    for (auto& bytes : bad) {
        MemoryStream stream;
        stream.bytes = bytes;
        EXPECT_EQ(fresh.component->setState(&stream), kResultFalse);
        stream.at = 0;
        EXPECT_EQ(fresh.controller->setComponentState(&stream), kResultFalse);
        for (int i = 0; i < kNumParams; ++i) EXPECT_EQ(fresh.controller->getParamNormalized(i), kParams[i].defaultValue);
    }
    EXPECT_EQ(fresh.component->setState(nullptr), kResultFalse);
}

#if !defined(_WIN32)
using namespace lumisere::x11test;

// The host's frame and its run loop, whose timers the test fires on its own (the host's UI) thread.
class RunLoopFrame final : public HostObject<IPlugFrame>, public IRunLoop {
public:
    tresult LUMISERE_VST3_CALL queryInterface(const char* iid, void** object) override {
        *object = kIidIRunLoop == iid ? static_cast<IRunLoop*>(this) : nullptr;
        return *object != nullptr ? kResultOk : kNoInterface;
    }
    uint32 LUMISERE_VST3_CALL addRef() override { return 1; }
    uint32 LUMISERE_VST3_CALL release() override { return 1; }
    tresult LUMISERE_VST3_CALL resizeView(IPlugView*, ViewRect*) override { return kResultFalse; }
    tresult LUMISERE_VST3_CALL registerEventHandler(IEventHandler*, int) override { return kResultOk; }
    tresult LUMISERE_VST3_CALL unregisterEventHandler(IEventHandler*) override { return kResultOk; }
    tresult LUMISERE_VST3_CALL registerTimer(ITimerHandler* handler, uint64) override {
        timer = handler;
        return kResultOk;
    }
    tresult LUMISERE_VST3_CALL unregisterTimer(ITimerHandler* handler) override {
        if (handler == timer) timer = nullptr;
        return kResultOk;
    }
    ITimerHandler* timer = nullptr;
};

TEST_F(Vst3Host, EditorEditsReachTheHostAsGesturesFromItsRunLoop) {
    Effect effect(factory_);
    ASSERT_TRUE(effect.ready());
    RecordingHandler handler;
    RunLoopFrame frame;
    effect.controller->setComponentHandler(&handler);
    IPlugView* view = effect.controller->createView(kEditorViewName);
    ASSERT_NE(view, nullptr);
    ViewRect size{};
    EXPECT_EQ(view->getSize(&size), kResultOk);
    EXPECT_EQ(size.right - size.left, 840);
    EXPECT_EQ(size.bottom - size.top, 520);
    EXPECT_EQ(view->canResize(), kResultFalse);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeHwnd), kResultFalse);

    HostWindow host = openHostWindow();
    view->setFrame(&frame);
    EXPECT_EQ(view->attached(asParent(host.frame), kPlatformTypeHwnd), kInvalidArgument);
    ASSERT_EQ(view->attached(asParent(host.frame), kPlatformTypeX11EmbedWindowId), kResultOk);
    ASSERT_NE(frame.timer, nullptr);
    const std::vector<Window> children = childrenOf(host.frame);
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(waitForPicture(children[0], panelPicture(editor::ValueEditorModel{})), 0);

    // De-Ess Thresh dragged to the top: the editor's thread stores it, the host hears of it only from
    // its run loop's timer, on its own thread, as one gesture: begin, a perform per change, end.
    dragKnobUp(kParamDeEssThresh, 100);
    EXPECT_TRUE(waitFor([&] {
        frame.timer->onTimer();
        return !handler.calls.empty() && handler.calls.back() == "end 0";
    }));
    ASSERT_GE(handler.calls.size(), 3u);
    EXPECT_EQ(handler.calls.front(), "begin 0");
    EXPECT_EQ(handler.calls[handler.calls.size() - 2], "perform 0 1.000000");
    for (std::size_t i = 1; i + 1 < handler.calls.size(); ++i) EXPECT_EQ(handler.calls[i].rfind("perform 0 ", 0), 0u);
    for (const auto& thread : handler.threads) EXPECT_EQ(thread, std::this_thread::get_id());

    EXPECT_EQ(view->removed(), kResultOk);
    EXPECT_EQ(frame.timer, nullptr);
    EXPECT_TRUE(childrenOf(host.frame).empty());
    view->release();
    effect.controller->setComponentHandler(nullptr);
    XDestroyWindow(gHost, host.top);
}
#endif

}  // namespace
}  // namespace lumisere::vst3test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#if !defined(_WIN32)
    ::testing::AddGlobalTestEnvironment(new lumisere::x11test::PrivateXServer(lumisere::x11test::kEditorScreen));
#endif
    return RUN_ALL_TESTS();
}
