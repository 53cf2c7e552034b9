// The editor in a host's window on X11, as the VST 2.x and the LV2 editor tests see it: the host's
// top-level window with an editor-sized frame in it, root coordinates of the editor's points, the
// window's pixels against the Cairo picture of a model, and the pointer on the knobs through XTest.
#pragma once

#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "editor/editor_model.h"
#include "editor/knob.h"
#include "editor/panel.h"
#include "platform/cairo/cairo_canvas.h"
#include "x11_test_support.h"

namespace lumisere::x11test {

using editor::kEditorHeight;
using editor::kEditorWidth;

// The host's window: a top-level at (kHostX, kHostY) of the root in the host's own colour, and in it,
// at (kFrameX, kFrameY), the editor-sized frame whose id the host hands to the editor.
constexpr int kHostX = 10;
constexpr int kHostY = 10;
constexpr int kHostWidth = 880;
constexpr int kHostHeight = 580;
constexpr int kFrameX = 20;
constexpr int kFrameY = 30;
constexpr unsigned long kHostColour = 0x4B5563;
inline const char* const kEditorScreen = "1024x768x24";

struct HostWindow {
    Window top = 0;
    Window frame = 0;
};

inline HostWindow openHostWindow() {
    HostWindow host;
    host.top = makeHostWindow(DefaultRootWindow(gHost), kHostX, kHostY, kHostWidth, kHostHeight, kHostColour);
    host.frame = makeHostWindow(host.top, kFrameX, kFrameY, kEditorWidth, kEditorHeight, kHostColour);
    return host;
}

// Root coordinates of a point of the editor.
inline int rootX(int x) { return kHostX + kFrameX + x; }
inline int rootY(int y) { return kHostY + kFrameY + y; }

// The editor's window as the host finds it: mapped at the frame's origin, at the editor's size.
inline void expectEditorPlacement(Window editor) {
    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(gHost, editor, &attributes), 0);
    EXPECT_EQ(attributes.x, 0);
    EXPECT_EQ(attributes.y, 0);
    EXPECT_EQ(attributes.width, kEditorWidth);
    EXPECT_EQ(attributes.height, kEditorHeight);
    EXPECT_EQ(attributes.map_state, IsViewable);
}

// Parent ids a careless host might hand over that are no window: null, an unknown resource, a pixmap,
// a window already destroyed, the frame's id under garbage upper bits. The pixmap lives as long as
// the list.
class BadParents {
public:
    explicit BadParents(Window frame)
        : pixmap_(XCreatePixmap(gHost, DefaultRootWindow(gHost), 8, 8, 24)),
          gone_(XCreateSimpleWindow(gHost, DefaultRootWindow(gHost), 0, 0, 10, 10, 0, 0, 0)) {
        XDestroyWindow(gHost, gone_);
        XSync(gHost, False);
        list = {
            {"null", nullptr},
            {"no such resource", reinterpret_cast<void*>(std::uintptr_t{0x1BADF00D})},
            {"a pixmap", asParent(pixmap_)},
            {"a window already destroyed", asParent(gone_)},
            {"the frame's id under garbage upper bits", reinterpret_cast<void*>(std::uintptr_t{0x7F0000000000} | frame)},
        };
    }
    ~BadParents() { XFreePixmap(gHost, pixmap_); }
    BadParents(const BadParents&) = delete;
    BadParents& operator=(const BadParents&) = delete;

    std::vector<std::pair<const char*, void*>> list;

private:
    Pixmap pixmap_;
    Window gone_;
};

// A rectangle of a window as 0xRRGGBB words, row by row; empty when it cannot be read.
inline std::vector<std::uint32_t> windowPixels(Window window, int x, int y, int width, int height) {
    XImage* image =
        XGetImage(gHost, window, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) return {};
    std::vector<std::uint32_t> pixels;
    pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            pixels.push_back(static_cast<std::uint32_t>(XGetPixel(image, column, row) & 0xFFFFFF));
        }
    }
    XDestroyImage(image);
    return pixels;
}

// The Cairo picture of the panel for a model, as a 24-bit window shows it: Cairo's premultiplied words
// without their alpha.
inline std::vector<std::uint32_t> panelPicture(const editor::EditorModel& model) {
    platform::CairoCanvas canvas(kEditorWidth, kEditorHeight);
    editor::paintEditor(canvas, kEditorWidth, kEditorHeight, model);
    cairo_surface_flush(canvas.surface());
    const unsigned char* words = cairo_image_surface_get_data(canvas.surface());
    const int stride = cairo_image_surface_get_stride(canvas.surface());
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < kEditorHeight; ++y) {
        for (int x = 0; x < kEditorWidth; ++x) {
            std::uint32_t word = 0;
            std::memcpy(&word, words + y * stride + 4 * x, sizeof word);
            pixels.push_back(word & 0xFFFFFF);
        }
    }
    return pixels;
}

inline int differingPixels(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    if (a.size() != b.size()) return static_cast<int>(std::max(a.size(), b.size()));
    int count = 0;
    for (std::size_t i = 0; i < a.size(); ++i) count += a[i] != b[i] ? 1 : 0;
    return count;
}

// Waits until the editor window shows the expected picture; the pixels that still differ at the limit.
inline int waitForPicture(Window editor, const std::vector<std::uint32_t>& expected) {
    int differing = 0;
    waitFor([&] {
        differing = differingPixels(windowPixels(editor, 0, 0, kEditorWidth, kEditorHeight), expected);
        return differing == 0;
    });
    return differing;
}

inline const auto& knobOf(int paramIndex) {
    const auto* knob = std::find_if(std::begin(editor::kKnobLayout), std::end(editor::kKnobLayout),
                                    [&](const auto& k) { return k.paramIndex == paramIndex; });
    return *knob;
}

// Presses on a knob's centre, moves up `rise` pixels in steps of 10 and releases, as a user drags.
inline void dragKnobUp(int paramIndex, int rise) {
    const auto& knob = knobOf(paramIndex);
    pointerTo(rootX(knob.centerX), rootY(knob.centerY));
    leftButton(true);
    for (int up = 10; up <= rise; up += 10) pointerTo(rootX(knob.centerX), rootY(knob.centerY - up));
    leftButton(false);
}

// The process's threads and open descriptors, to compare before and after windows come and go.
struct ProcessCounts {
    int threads = 0;
    int descriptors = 0;
};

inline ProcessCounts processCounts() { return {threadCount(), descriptorCount()}; }

inline void expectCountsBackTo(const ProcessCounts& before) {
    // A joined thread's kernel task can linger for a moment.
    EXPECT_TRUE(waitFor([&] { return threadCount() == before.threads; }))
        << threadCount() << " threads, " << before.threads << " before";
    EXPECT_EQ(descriptorCount(), before.descriptors);
}

}  // namespace lumisere::x11test
