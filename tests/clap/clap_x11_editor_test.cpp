// The CLAP editor in a host window on a private Xvfb: the gui extension's calls in order and out of
// it, and a drag through XTest arriving at the host as gesture begin, values and gesture end, by
// flush when the host is not processing and by process when it is; under a host that drives the
// editor with its timer and descriptor watch, and under one that leaves it to the editor's thread.
#include <gtest/gtest.h>
#include <poll.h>

#include "clap_test_host.h"
#include "core/parameters.h"
#include "x11_editor_support.h"

namespace lumisere {
namespace {

using namespace claptest;
using namespace x11test;

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new PrivateXServer(kEditorScreen));

// The one gesture the host saw: begin, at least one value, end, all of param; the last value.
double expectOneGesture(const std::vector<OutputEvents::Seen>& seen, clap_id param) {
    EXPECT_GE(seen.size(), 3u);
    if (seen.size() < 3) return 0.0;
    EXPECT_EQ(seen.front().type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(seen.back().type, CLAP_EVENT_PARAM_GESTURE_END);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].param, param);
        if (i > 0 && i + 1 < seen.size()) {
            EXPECT_EQ(seen[i].type, CLAP_EVENT_PARAM_VALUE);
        }
    }
    return seen[seen.size() - 2].value;
}

bool gestureEnded(const OutputEvents& sent) {
    return !sent.seen.empty() && sent.seen.back().type == CLAP_EVENT_PARAM_GESTURE_END;
}

class ClapX11Editor : public ::testing::TestWithParam<bool> {};

TEST_P(ClapX11Editor, GuiCallsAndDragsArriveAsGestures) {
    ClapLibrary library(envPath("LUMISERE_CLAP_PLUGIN"));
    ASSERT_TRUE(library.loaded()) << library.error();
    TestHost host;
    host.drivesEditor = GetParam();
    const clap_plugin_t* plugin = library.create(host);
    ASSERT_NE(plugin, nullptr);
    const auto* gui = ClapLibrary::extension<clap_plugin_gui_t>(plugin, CLAP_EXT_GUI);
    const auto* params = ClapLibrary::extension<clap_plugin_params_t>(plugin, CLAP_EXT_PARAMS);
    ASSERT_TRUE(gui != nullptr && params != nullptr);
    const auto* timer = ClapLibrary::extension<clap_plugin_timer_support_t>(plugin, CLAP_EXT_TIMER_SUPPORT);
    const auto* watch = ClapLibrary::extension<clap_plugin_posix_fd_support_t>(plugin, CLAP_EXT_POSIX_FD_SUPPORT);
    ASSERT_TRUE(timer != nullptr && watch != nullptr);
    // The host's loop, where it drives the editor: the descriptor when it reads, the timer always.
    const auto serve = [&] {
        if (host.fd >= 0) {
            pollfd fd{host.fd, POLLIN, 0};
            if (poll(&fd, 1, 0) > 0) watch->on_fd(plugin, host.fd, CLAP_POSIX_FD_READ);
        }
        if (host.timerPeriodMs != 0) timer->on_timer(plugin, 7);
    };

    // Embedded X11 only, at one size.
    const char* api = nullptr;
    bool floating = true;
    ASSERT_TRUE(gui->get_preferred_api(plugin, &api, &floating));
    EXPECT_STREQ(api, CLAP_WINDOW_API_X11);
    EXPECT_FALSE(floating);
    EXPECT_FALSE(gui->is_api_supported(plugin, CLAP_WINDOW_API_X11, true));
    EXPECT_FALSE(gui->is_api_supported(plugin, CLAP_WINDOW_API_WIN32, false));
    const HostWindow window = openHostWindow();
    clap_window_t parent{CLAP_WINDOW_API_X11, {}};
    parent.x11 = window.frame;
    std::uint32_t width = 0, height = 0;
    EXPECT_FALSE(gui->get_size(plugin, &width, &height));  // before create
    EXPECT_FALSE(gui->set_parent(plugin, &parent));
    EXPECT_FALSE(gui->create(plugin, CLAP_WINDOW_API_X11, true));
    ASSERT_TRUE(gui->create(plugin, CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(gui->create(plugin, CLAP_WINDOW_API_X11, false));  // twice
    ASSERT_TRUE(gui->get_size(plugin, &width, &height));
    EXPECT_EQ(width, static_cast<std::uint32_t>(kEditorWidth));
    EXPECT_EQ(height, static_cast<std::uint32_t>(kEditorHeight));
    EXPECT_FALSE(gui->can_resize(plugin));
    EXPECT_FALSE(gui->set_size(plugin, width + 1, height));
    EXPECT_TRUE(gui->set_size(plugin, width, height));
    clap_window_t wrongApi{CLAP_WINDOW_API_WIN32, {}};
    wrongApi.x11 = window.frame;
    EXPECT_FALSE(gui->set_parent(plugin, &wrongApi));
    ASSERT_TRUE(gui->set_parent(plugin, &parent));
    ASSERT_TRUE(gui->show(plugin));
    EXPECT_EQ(host.timerPeriodMs, GetParam() ? 30u : 0u);
    EXPECT_EQ(host.fd >= 0, GetParam());
    const std::vector<Window> editor = childrenOf(window.frame);
    ASSERT_EQ(editor.size(), 1u);
    expectEditorPlacement(editor[0]);

    // Not processing: the window's thread asks for a flush, and the host's flush on its main thread
    // collects the gesture.
    dragKnobUp(kParamDeEssThresh, 100);
    OutputEvents flushed;
    InputEvents none;
    ASSERT_TRUE(waitFor([&] {
        serve();
        params->flush(plugin, &none.list, &flushed.list);
        return gestureEnded(flushed);
    }));
    EXPECT_EQ(expectOneGesture(flushed.seen, kParamDeEssThresh), 0.0);  // dragged to the top: 0 dB
    // From the window's thread, or the main thread when the host drives the editor.
    EXPECT_GT(host.flushRequests.load(), 0);
    EXPECT_EQ(host.flushRequestsOnMain.load(), GetParam() ? host.flushRequests.load() : 0);

    // Processing: the gesture comes out of the process calls, and no flush is asked for.
    ASSERT_TRUE(plugin->activate(plugin, 48000.0, 1, 256));
    ASSERT_TRUE(plugin->start_processing(plugin));
    const int requestsBefore = host.flushRequests.load();
    dragKnobUp(kParamFocusFreq, 60);
    OutputEvents processed;
    std::vector<float> left(256, 0.0f), right(256, 0.0f);
    float* io[2] = {left.data(), right.data()};
    ASSERT_TRUE(waitFor([&] {
        serve();
        EXPECT_EQ(processBlock(plugin, io, io, 256, none, processed), CLAP_PROCESS_CONTINUE);
        return gestureEnded(processed);
    }));
    const double focus = expectOneGesture(processed.seen, kParamFocusFreq);
    double stored = 0.0;
    ASSERT_TRUE(params->get_value(plugin, kParamFocusFreq, &stored));
    EXPECT_EQ(focus, stored);
    EXPECT_GT(focus, defaultUnits(kParamFocusFreq));
    EXPECT_EQ(host.flushRequests.load(), requestsBefore);

    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
    gui->destroy(plugin);
    EXPECT_TRUE(childrenOf(window.frame).empty());
    EXPECT_EQ(host.timerPeriodMs, 0u);
    EXPECT_EQ(host.fd, -1);
    plugin->destroy(plugin);
    XDestroyWindow(gHost, window.top);
}

INSTANTIATE_TEST_SUITE_P(Hosts, ClapX11Editor, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "DrivenByTheHost" : "OnItsOwnThread"; });

}  // namespace
}  // namespace lumisere
