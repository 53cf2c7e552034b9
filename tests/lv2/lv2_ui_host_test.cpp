// Acts as an LV2 host of the editor: loads the bundle's UI module with dlopen, takes the UI from
// lv2ui_descriptor and drives it through the descriptor in a host window of its own on a private
// Xvfb. The host hands over its window (ui:parent), a resize feature and (unless a test says
// otherwise) its promise of idle calls, and records every write the UI makes to a port. Port values
// go in as a host sends them, in physical units; the window's pixels must be the Cairo picture of the
// normalised values, and the pointer comes through XTest.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "editor/mouse.h"
#include "formats/lv2/lv2_ports.h"
#include "x11_editor_support.h"

namespace lumisere {
namespace {

using namespace x11test;
using lv2::paramPort;

constexpr char kUiUri[] = "https://ostrel-audio.example/plugins/lumisere#ui";

// The UI module, opened as a host opens it.
class UiLibrary {
public:
    UiLibrary() : handle_(dlopen(LUMISERE_LV2_UI_MODULE, RTLD_NOW | RTLD_LOCAL)) {}
    ~UiLibrary() { unload(); }
    UiLibrary(const UiLibrary&) = delete;
    UiLibrary& operator=(const UiLibrary&) = delete;

    const LV2UI_Descriptor* descriptor(std::uint32_t index) const {
        if (handle_ == nullptr) return nullptr;
        const auto function = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(handle_, "lv2ui_descriptor"));
        return function != nullptr ? function(index) : nullptr;
    }
    bool unload() {
        const bool unloaded = handle_ == nullptr || dlclose(handle_) == 0;
        handle_ = nullptr;
        return unloaded;
    }

private:
    void* handle_;
};

// One write of the UI to a port, and the thread it came on.
struct PortWrite {
    std::uint32_t port;
    std::uint32_t size;
    std::uint32_t protocol;
    float value;
    std::thread::id thread;
};

// The host's side of the UI: the write function and the resize feature, recording what arrives.
class RecordingHost {
public:
    static void write(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size, std::uint32_t protocol,
                      const void* buffer) {
        auto* host = static_cast<RecordingHost*>(controller);
        PortWrite written{port, size, protocol, std::numeric_limits<float>::quiet_NaN(), std::this_thread::get_id()};
        if (size == sizeof(float) && buffer != nullptr) std::memcpy(&written.value, buffer, sizeof(float));
        const std::lock_guard<std::mutex> lock(host->mutex_);
        host->writes_.push_back(written);
    }
    static int resize(LV2UI_Feature_Handle handle, int width, int height) {
        auto* host = static_cast<RecordingHost*>(handle);
        const std::lock_guard<std::mutex> lock(host->mutex_);
        host->sizes_.emplace_back(width, height);
        return 0;
    }

    // The writes since the last call.
    std::vector<PortWrite> takeWrites() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(writes_, {});
    }
    std::vector<std::pair<int, int>> takeSizes() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(sizes_, {});
    }

private:
    std::mutex mutex_;
    std::vector<PortWrite> writes_;
    std::vector<std::pair<int, int>> sizes_;
};

// A write of parameter index's port as a host expects it: one float in the port's unit, protocol 0,
// from the host's own thread.
void expectWrite(const PortWrite& written, int index, float units) {
    EXPECT_EQ(written.port, paramPort(index));
    EXPECT_EQ(written.size, sizeof(float));
    EXPECT_EQ(written.protocol, 0u);
    EXPECT_NEAR(written.value, units, 1e-4f) << kParams[index].hostName;
    EXPECT_EQ(written.thread, std::this_thread::get_id());
}

// A knob's value after a drag of `rise` pixels up from `start`, as the editor computes it.
float dragged(float start, int rise) { return static_cast<float>(rise) * editor::kDragPerPixel + start; }

// The picture the UI must show: the parameters at normalised values, the reductions in dB.
std::vector<std::uint32_t> pictureOf(const std::vector<std::pair<int, float>>& params, float deEssDb = 0.0f,
                                     float gateDb = 0.0f) {
    editor::ValueEditorModel model;
    for (const auto& [index, value] : params) model.params[index] = value;
    model.deEssDb = deEssDb;
    model.gateDb = gateDb;
    return panelPicture(model);
}

class Lv2Ui : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(gHost, nullptr);
        ASSERT_NE(ui_, nullptr) << LUMISERE_LV2_UI_MODULE << ": " << dlerror();
        host_ = openHostWindow();
    }

    void TearDown() override {
        for (LV2UI_Handle handle : handles_) ui_->cleanup(handle);
        EXPECT_EQ(gStrayErrors.load(), 0) << "an error of the editor's connection reached the host's handler";
        EXPECT_EQ(XSetErrorHandler(hostErrorHandler), &hostErrorHandler);
        if (host_.top != 0) XDestroyWindow(gHost, host_.top);
        XSync(gHost, False);
    }

    // instantiate as a host calls it, with ui:parent (when `parent` is not kNoParentFeature), ui:resize
    // and, when hostIdles, ui:idleInterface.
    static inline void* const kNoParentFeature = reinterpret_cast<void*>(std::uintptr_t{1});
    LV2UI_Handle instantiate(void* parent, bool hostIdles = true, const char* pluginUri = lv2::kPluginUri,
                             LV2UI_Write_Function write = &RecordingHost::write, LV2UI_Widget* widget = nullptr) {
        LV2UI_Resize resize{&recorder_, &RecordingHost::resize};
        const LV2_Feature parentFeature{LV2_UI__parent, parent};
        const LV2_Feature resizeFeature{LV2_UI__resize, &resize};
        const LV2_Feature idleFeature{LV2_UI__idleInterface, nullptr};
        std::vector<const LV2_Feature*> features{&resizeFeature};
        if (parent != kNoParentFeature) features.push_back(&parentFeature);
        if (hostIdles) features.push_back(&idleFeature);
        features.push_back(nullptr);
        LV2UI_Widget ownWidget = nullptr;
        LV2UI_Handle handle = ui_->instantiate(ui_, pluginUri, "", write, &recorder_,
                                               widget != nullptr ? widget : &ownWidget, features.data());
        if (handle != nullptr) handles_.push_back(handle);
        return handle;
    }
    void cleanup(LV2UI_Handle handle) {
        handles_.erase(std::find(handles_.begin(), handles_.end(), handle));
        ui_->cleanup(handle);
    }
    // The host's UI thread sends a port's value, one float in the port's unit.
    void send(LV2UI_Handle handle, std::uint32_t port, float value) const {
        ui_->port_event(handle, port, sizeof value, 0, &value);
    }
    int idle(LV2UI_Handle handle) const {
        const auto* interface = static_cast<const LV2UI_Idle_Interface*>(ui_->extension_data(LV2_UI__idleInterface));
        return interface->idle(handle);
    }

    // The editor's window: the frame's one child, or 0.
    Window editorWindow() const {
        const std::vector<Window> children = childrenOf(host_.frame);
        return children.size() == 1 ? children[0] : 0;
    }

    // The process's counts after a first UI was opened, shown and cleaned up (fontconfig stays loaded).
    ProcessCounts countsAfterAFirstUi() {
        LV2UI_Handle handle = instantiate(asParent(host_.frame));
        EXPECT_NE(handle, nullptr);
        EXPECT_EQ(waitForPicture(editorWindow(), pictureOf({})), 0);
        if (handle != nullptr) cleanup(handle);
        return processCounts();
    }

    std::unique_ptr<UiLibrary> library_ = std::make_unique<UiLibrary>();
    const LV2UI_Descriptor* ui_ = library_->descriptor(0);
    RecordingHost recorder_;
    HostWindow host_;
    std::vector<LV2UI_Handle> handles_;
};

TEST_F(Lv2Ui, OpensInTheHostsWindowAndShowsThePortValuesTheHostSends) {
    EXPECT_STREQ(ui_->URI, kUiUri);
    EXPECT_EQ(library_->descriptor(1), nullptr);

    LV2UI_Widget widget = nullptr;
    LV2UI_Handle handle = instantiate(asParent(host_.frame), true, lv2::kPluginUri, &RecordingHost::write, &widget);
    ASSERT_NE(handle, nullptr);
    const Window editor = editorWindow();
    ASSERT_NE(editor, 0u);
    EXPECT_EQ(asWindow(widget), editor);
    EXPECT_EQ(recorder_.takeSizes(), (std::vector<std::pair<int, int>>{{kEditorWidth, kEditorHeight}}));
    expectEditorPlacement(editor);
    EXPECT_EQ(waitForPicture(editor, pictureOf({})), 0) << "the defaults before the host says anything";

    // Every parameter away from its default, in its unit as a host sends it, and both reductions: the
    // picture follows from the window's own tick, without an idle call.
    const std::pair<int, float> units[] = {
        {kParamDeEssThresh, -8.0f}, {kParamFocusFreq, 4700.0f}, {kParamListenSibilance, 1.0f},
        {kParamDipsesThresh, -29.6f}, {kParamNoiseReduce, -12.0f}, {kParamAirSilk, 0.0f},
        {kParamOutputTrim, 3.6f}, {kParamDryWet, 35.0f}, {kParamBypass, 1.0f},
    };
    for (const auto& [index, value] : units) send(handle, paramPort(index), value);
    send(handle, lv2::kPortDeEssReduction, 6.0f);
    send(handle, lv2::kPortGateReduction, 12.0f);
    const std::vector<std::pair<int, float>> normalised = {
        {kParamDeEssThresh, 0.8f}, {kParamFocusFreq, 0.1f}, {kParamListenSibilance, 1.0f},
        {kParamDipsesThresh, 0.9f}, {kParamNoiseReduce, 0.3f}, {kParamAirSilk, 0.0f},
        {kParamOutputTrim, 0.65f}, {kParamDryWet, 0.35f}, {kParamBypass, 1.0f},
    };
    const std::vector<std::uint32_t> lit = pictureOf(normalised, 6.0f, 12.0f);
    EXPECT_EQ(waitForPicture(editor, lit), 0);
    // Those reductions light both lamps in the header (rows 22 to 49): the picture is not the one at zero.
    const std::vector<std::uint32_t> unlit = pictureOf(normalised);
    const auto header = [](const std::vector<std::uint32_t>& picture) {
        return std::vector<std::uint32_t>(picture.begin() + 22 * kEditorWidth, picture.begin() + 50 * kEditorWidth);
    };
    EXPECT_GT(differingPixels(header(lit), header(unlit)), 0);

    // The host's values are not edits: nothing goes back to it.
    EXPECT_EQ(idle(handle), 0);
    EXPECT_TRUE(recorder_.takeWrites().empty());
}

TEST_F(Lv2Ui, DragsAndClicksReachTheWriteFunctionInPhysicalUnitsFromIdleCalls) {
    LV2UI_Handle handle = instantiate(asParent(host_.frame));
    ASSERT_NE(handle, nullptr);
    const Window editor = editorWindow();
    editor::ValueEditorModel shown;  // what the editor must show as the test goes on
    ASSERT_EQ(waitForPicture(editor, panelPicture(shown)), 0);

    // De-Ess Thresh from its default (-20 dB, half way) dragged up by 100 pixels: the top, 0 dB. Every
    // move is an edit; the host hears of the last at its next idle call, on its own thread.
    dragKnobUp(kParamDeEssThresh, 100);
    shown.params[kParamDeEssThresh] = 1.0f;
    ASSERT_EQ(waitForPicture(editor, panelPicture(shown)), 0);
    EXPECT_TRUE(recorder_.takeWrites().empty()) << "a write before the host's idle call";
    EXPECT_EQ(idle(handle), 0);
    std::vector<PortWrite> writes = recorder_.takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    expectWrite(writes[0], kParamDeEssThresh, 0.0f);
    idle(handle);
    EXPECT_TRUE(recorder_.takeWrites().empty()) << "an edit sent twice";

    // A click on Listen Sibilance and on Bypass, and one 35 pixels into the dry/wet strip (35 / 140):
    // one write each, in port order.
    const auto& listen = knobOf(kParamListenSibilance);
    clickAt(rootX(listen.centerX), rootY(listen.centerY));
    const platform::IntRect bypass = editor::bypassButtonRect(kEditorHeight);
    clickAt(rootX(bypass.x + bypass.width / 2), rootY(bypass.y + bypass.height / 2));
    clickAt(rootX(editor::dryWetTrackRect(kEditorHeight).x + 35), rootY(kEditorHeight - 40));
    shown.params[kParamListenSibilance] = shown.params[kParamBypass] = 1.0f;
    shown.params[kParamDryWet] = 0.25f;
    ASSERT_EQ(waitForPicture(editor, panelPicture(shown)), 0);
    idle(handle);
    writes = recorder_.takeWrites();
    ASSERT_EQ(writes.size(), 3u);
    expectWrite(writes[0], kParamListenSibilance, 1.0f);
    expectWrite(writes[1], kParamDryWet, 25.0f);
    expectWrite(writes[2], kParamBypass, 1.0f);

    // Output Trim up 20 pixels (+2.4 dB); before the idle call the host echoes an older value, which
    // the knob shows. The write carries the edit, not the echo.
    dragKnobUp(kParamOutputTrim, 20);
    shown.params[kParamOutputTrim] = dragged(0.5f, 20);
    ASSERT_EQ(waitForPicture(editor, panelPicture(shown)), 0);
    send(handle, paramPort(kParamOutputTrim), 0.0f);
    shown.params[kParamOutputTrim] = 0.5f;
    idle(handle);
    writes = recorder_.takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    expectWrite(writes[0], kParamOutputTrim, 2.4f);

    // An edit the host has not collected by its cleanup goes out with the cleanup: Air Silk up 10
    // pixels from 75 %.
    dragKnobUp(kParamAirSilk, 10);
    shown.params[kParamAirSilk] = dragged(0.75f, 10);
    ASSERT_EQ(waitForPicture(editor, panelPicture(shown)), 0);
    cleanup(handle);
    writes = recorder_.takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    expectWrite(writes[0], kParamAirSilk, 80.0f);
}

TEST_F(Lv2Ui, WithoutTheHostsIdleCallsEditsGoOutFromTheEditorsThread) {
    LV2UI_Handle handle = instantiate(asParent(host_.frame), false);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(waitForPicture(editorWindow(), pictureOf({})), 0);

    dragKnobUp(kParamDeEssThresh, 100);
    std::vector<PortWrite> writes;
    ASSERT_TRUE(waitFor([&] {
        for (const PortWrite& written : recorder_.takeWrites()) writes.push_back(written);
        return !writes.empty() && writes.back().value == 0.0f;
    })) << writes.size() << " writes";
    // One write a move, each rising, none from this (the host's) thread.
    float previous = -20.0f;
    for (const PortWrite& written : writes) {
        EXPECT_EQ(written.port, paramPort(kParamDeEssThresh));
        EXPECT_EQ(written.protocol, 0u);
        EXPECT_GT(written.value, previous);
        EXPECT_NE(written.thread, std::this_thread::get_id());
        previous = written.value;
    }
}

TEST_F(Lv2Ui, BadHostsAndBadPortEventsAreRefusedSafely) {
    EXPECT_NE(ui_->extension_data(LV2_UI__idleInterface), nullptr);
    EXPECT_EQ(ui_->extension_data(LV2_UI__showInterface), nullptr);
    EXPECT_EQ(ui_->extension_data(nullptr), nullptr);
    const ProcessCounts before = countsAfterAFirstUi();
    recorder_.takeSizes();

    // Parents that are no window, and hosts that leave out what the UI needs: no UI, no window.
    EXPECT_EQ(instantiate(kNoParentFeature), nullptr) << "no parent feature";
    {
        const BadParents bad(host_.frame);
        for (const auto& [what, parent] : bad.list) EXPECT_EQ(instantiate(parent), nullptr) << what;
    }
    LV2UI_Widget widget = nullptr;
    EXPECT_EQ(ui_->instantiate(ui_, lv2::kPluginUri, "", &RecordingHost::write, &recorder_, &widget, nullptr), nullptr)
        << "no features";
    void* const frame = asParent(host_.frame);
    EXPECT_EQ(instantiate(frame, true, "urn:another:plugin"), nullptr);
    EXPECT_EQ(instantiate(frame, true, nullptr), nullptr);
    EXPECT_EQ(instantiate(frame, true, lv2::kPluginUri, nullptr), nullptr) << "no write function";
    const LV2_Feature parentFeature{LV2_UI__parent, frame};
    const LV2_Feature* const features[] = {&parentFeature, nullptr};
    EXPECT_EQ(ui_->instantiate(ui_, lv2::kPluginUri, "", &RecordingHost::write, &recorder_, nullptr, features), nullptr)
        << "no widget to fill";
    XSync(gHost, False);
    EXPECT_TRUE(childrenOf(host_.frame).empty());
    expectCountsBackTo(before);
    EXPECT_TRUE(recorder_.takeSizes().empty());

    // A UI takes one float on one of its ports and nothing else.
    LV2UI_Handle handle = instantiate(frame);
    ASSERT_NE(handle, nullptr);
    const float minus8 = -8.0f;
    const double minus8Double = -8.0;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::uint32_t deEss = paramPort(kParamDeEssThresh);
    ui_->port_event(handle, lv2::kNumPorts, sizeof minus8, 0, &minus8);
    ui_->port_event(handle, 1000000, sizeof minus8, 0, &minus8);
    ui_->port_event(handle, lv2::kPortInL, sizeof minus8, 0, &minus8);
    ui_->port_event(handle, lv2::kPortOutR, sizeof minus8, 0, &minus8);
    ui_->port_event(handle, deEss, sizeof minus8Double, 0, &minus8Double);
    ui_->port_event(handle, deEss, sizeof minus8, 1, &minus8);  // another protocol (an atom transfer's URID)
    ui_->port_event(handle, deEss, sizeof minus8, 0, nullptr);
    ui_->port_event(handle, deEss, 0, 0, nullptr);
    ui_->port_event(handle, deEss, sizeof nan, 0, &nan);
    ui_->port_event(handle, lv2::kPortGateReduction, sizeof nan, 0, &nan);
    // The entries with a null handle do nothing.
    ui_->port_event(nullptr, deEss, sizeof minus8, 0, &minus8);
    ui_->cleanup(nullptr);
    EXPECT_NE(idle(nullptr), 0);
    // A float that is not aligned as one is still a float.
    unsigned char bytes[sizeof(float) + 1];
    std::memcpy(bytes + 1, &minus8, sizeof minus8);
    ui_->port_event(handle, deEss, sizeof minus8, 0, bytes + 1);
    EXPECT_EQ(waitForPicture(editorWindow(), pictureOf({{kParamDeEssThresh, 0.8f}})), 0);
    EXPECT_EQ(idle(handle), 0);
    EXPECT_TRUE(recorder_.takeWrites().empty());
}

TEST_F(Lv2Ui, CleanupLeavesNoWindowThreadOrDescriptorAndTheModuleUnloads) {
    const ProcessCounts before = countsAfterAFirstUi();

    // Cleaned up at different points of the window's life: at once, around its first ticks, later.
    for (int cycle = 0; cycle < 100; ++cycle) {
        LV2UI_Handle handle = instantiate(asParent(host_.frame));
        ASSERT_NE(handle, nullptr) << "cycle " << cycle;
        send(handle, paramPort(kParamDryWet), static_cast<float>(cycle));
        std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 4 * 10));
        cleanup(handle);
    }
    EXPECT_TRUE(childrenOf(host_.frame).empty());
    expectCountsBackTo(before);

    // The host's window destroyed under the UI: its idle calls hear that the UI is closed, and the
    // cleanup still frees everything.
    LV2UI_Handle handle = instantiate(asParent(host_.frame));
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(waitForPicture(editorWindow(), pictureOf({})), 0);
    XDestroyWindow(gHost, host_.top);
    XSync(gHost, False);
    host_ = {};
    EXPECT_TRUE(waitFor([&] { return idle(handle) != 0; }));
    cleanup(handle);
    expectCountsBackTo(before);

    // After the last cleanup the module leaves the process, and loads and opens again.
    ui_ = nullptr;
    EXPECT_TRUE(library_->unload());
    void* stillThere = dlopen(LUMISERE_LV2_UI_MODULE, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(stillThere, nullptr) << "the UI module stays in the process after its last dlclose";
    if (stillThere != nullptr) dlclose(stillThere);
    library_ = std::make_unique<UiLibrary>();
    ui_ = library_->descriptor(0);
    ASSERT_NE(ui_, nullptr);
    host_ = openHostWindow();
    ASSERT_NE(instantiate(asParent(host_.frame)), nullptr);
    EXPECT_EQ(waitForPicture(editorWindow(), pictureOf({})), 0);
}

}  // namespace
}  // namespace lumisere

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new lumisere::x11test::PrivateXServer(lumisere::x11test::kEditorScreen));
    return RUN_ALL_TESTS();
}
