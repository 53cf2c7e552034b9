// The CLAP editor in a Win32 host window under Wine: created and parented as the gui extension asks,
// and a drag posted to it arriving at the host as gesture begin, value and end at the next flush.
#include <gtest/gtest.h>

#include "clap_test_host.h"
#include "core/parameters.h"
#include "windows_test_host.h"

namespace lumisere {
namespace {

using namespace claptest;

TEST(ClapWin32Editor, APostedDragArrivesAsAGesture) {
    ClapLibrary library(envPath("LUMISERE_CLAP_PLUGIN"));
    ASSERT_TRUE(library.loaded()) << library.error();
    TestHost host;
    const clap_plugin_t* plugin = library.create(host);
    ASSERT_NE(plugin, nullptr);
    const auto* gui = ClapLibrary::extension<clap_plugin_gui_t>(plugin, CLAP_EXT_GUI);
    const auto* params = ClapLibrary::extension<clap_plugin_params_t>(plugin, CLAP_EXT_PARAMS);
    ASSERT_TRUE(gui != nullptr && params != nullptr);
    EXPECT_EQ(plugin->get_extension(plugin, CLAP_EXT_TIMER_SUPPORT), nullptr);  // the message loop serves it

    const char* api = nullptr;
    bool floating = true;
    ASSERT_TRUE(gui->get_preferred_api(plugin, &api, &floating));
    EXPECT_STREQ(api, CLAP_WINDOW_API_WIN32);
    EXPECT_FALSE(gui->is_api_supported(plugin, CLAP_WINDOW_API_X11, false));
    ASSERT_TRUE(gui->create(plugin, CLAP_WINDOW_API_WIN32, false));
    const HWND top = CreateWindowExA(0, "STATIC", "CLAP host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 10, 10, 880,
                                     580, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(top, nullptr);
    clap_window_t parent{CLAP_WINDOW_API_WIN32, {}};
    parent.win32 = top;
    ASSERT_TRUE(gui->set_parent(plugin, &parent));
    ASSERT_TRUE(gui->show(plugin));
    const HWND child = GetWindow(top, GW_CHILD);
    ASSERT_NE(child, nullptr);

    // Air Silk (75 %) dragged up by 20 pixels: 85 %.
    PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(645, 270));
    PostMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(645, 250));
    PostMessageA(child, WM_LBUTTONUP, 0, MAKELPARAM(645, 250));
    OutputEvents sent;
    InputEvents none;
    ASSERT_TRUE(test::pumpUntil([&] {
        params->flush(plugin, &none.list, &sent.list);
        return !sent.seen.empty() && sent.seen.back().type == CLAP_EVENT_PARAM_GESTURE_END;
    }));
    ASSERT_EQ(sent.seen.size(), 3u);
    EXPECT_EQ(sent.seen[0].type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(sent.seen[1].type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_NEAR(sent.seen[1].value, 85.0, 1e-4);
    for (const auto& event : sent.seen) EXPECT_EQ(event.param, static_cast<clap_id>(kParamAirSilk));
    EXPECT_EQ(host.flushRequestsOnMain.load(), host.flushRequests.load());  // the window's thread is the main one
    EXPECT_GT(host.flushRequests.load(), 0);

    gui->destroy(plugin);
    EXPECT_EQ(GetWindow(top, GW_CHILD), nullptr);
    plugin->destroy(plugin);
    DestroyWindow(top);
}

}  // namespace
}  // namespace lumisere
