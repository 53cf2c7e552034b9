// A host's side of the X11 tests: a private Xvfb for the test process (the server picks a free display
// number), the host's own connection to it with the host's own error handler, the host's windows, the
// pointer moved through XTest, and the process's threads and descriptors counted. Shared by the window
// backend's tests and the plug-in's editor tests.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/cairo/cairo_canvas.h"

// Xlib after GoogleTest: its None and Bool macros would clash.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace lumisere::x11test {

using namespace std::chrono_literals;

// The host's connection and what its error handler saw: its own errors, and errors of any other
// connection, which must never come (the editors swallow theirs).
inline Display* gHost = nullptr;
inline std::atomic<int> gHostErrors{0};
inline std::atomic<int> gStrayErrors{0};

inline int hostErrorHandler(Display* display, XErrorEvent*) {
    (display == gHost ? gHostErrors : gStrayErrors).fetch_add(1);
    return 0;
}

// Starts an Xvfb of screen WxHxD whose display number the server picks; its name (":N"), empty when it
// did not start. pid is the server's process, to end with stopXvfb.
inline std::string startXvfb(const std::string& screen, pid_t& pid) {
    int displayPipe[2];
    if (pipe2(displayPipe, O_CLOEXEC) != 0) return {};
    const std::string writeEnd = std::to_string(displayPipe[1]);
    pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that crashes takes its server with it
        fcntl(displayPipe[1], F_SETFD, 0);  // the one descriptor Xvfb inherits: it writes its number there
        // LUMISERE_XVFB_DISABLE names an extension the server leaves out (MIT-SHM, say).
        const char* disabled = std::getenv("LUMISERE_XVFB_DISABLE");
        execlp("Xvfb", "Xvfb", "-displayfd", writeEnd.c_str(), "-nolisten", "tcp", "-screen", "0", screen.c_str(),
               disabled != nullptr ? "-extension" : nullptr, disabled, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(displayPipe[1]);
    std::string number;
    char c = 0;
    pollfd ready{displayPipe[0], POLLIN, 0};
    while (pid > 0 && poll(&ready, 1, 20000) > 0 && read(displayPipe[0], &c, 1) == 1 && c != '\n') number += c;
    close(displayPipe[0]);
    return number.empty() ? std::string{} : ":" + number;
}

inline void stopXvfb(pid_t& pid, int signal = SIGTERM) {
    if (pid <= 0) return;
    kill(pid, signal);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

// A private Xvfb for this process, its display in DISPLAY (where the editor's XOpenDisplay looks),
// the host's connection to it with the host's own error handler. screen is Xvfb's WxHxD.
class PrivateXServer : public ::testing::Environment {
public:
    explicit PrivateXServer(std::string screen = "640x480x24") : screen_(std::move(screen)) {}

    void SetUp() override {
        const std::string display = startXvfb(screen_, pid_);
        ASSERT_FALSE(display.empty()) << "Xvfb did not start (scripts/install-deps installs it)";
        setenv("DISPLAY", display.c_str(), 1);
        gHost = XOpenDisplay(nullptr);
        ASSERT_NE(gHost, nullptr);
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        ASSERT_TRUE(XTestQueryExtension(gHost, &eventBase, &errorBase, &major, &minor));
        XSetErrorHandler(hostErrorHandler);
    }

    void TearDown() override {
        if (gHost != nullptr) XCloseDisplay(gHost);
        gHost = nullptr;
        stopXvfb(pid_);
        platform::releaseProcessFontCaches();
    }

private:
    std::string screen_;
    pid_t pid_ = -1;
};

inline void* asParent(Window window) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window)); }
inline Window asWindow(void* handle) { return static_cast<Window>(reinterpret_cast<std::uintptr_t>(handle)); }

inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Entries of a /proc/self folder: threads in task/, open descriptors in fd/ (the listing's own
// descriptor counts every time alike).
inline int entriesOf(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count;
}
inline int threadCount() { return entriesOf("/proc/self/task"); }
inline int descriptorCount() { return entriesOf("/proc/self/fd"); }

inline std::vector<Window> childrenOf(Window parent) {
    Window root = 0;
    Window itsParent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(gHost, parent, &root, &itsParent, &children, &count) != 0) {
        result.assign(children, children + count);
        XFree(children);
    }
    return result;
}

// A mapped window of the host in parent at (x, y) with a plain background (Xvfb runs no window
// manager, so a top-level one stays where it is put).
inline Window makeHostWindow(Window parent, int x, int y, int width, int height, unsigned long background) {
    const Window window =
        XCreateSimpleWindow(gHost, parent, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                            BlackPixel(gHost, DefaultScreen(gHost)), background);
    XMapWindow(gHost, window);
    XSync(gHost, False);
    return window;
}

// The pointer as a user moves it, in root coordinates, through the server's own input path.
inline void pointerTo(int rootX, int rootY) {
    XTestFakeMotionEvent(gHost, DefaultScreen(gHost), rootX, rootY, CurrentTime);
    XSync(gHost, False);
}
inline void leftButton(bool down) {
    XTestFakeButtonEvent(gHost, Button1, down ? True : False, CurrentTime);
    XSync(gHost, False);
}
inline void clickAt(int rootX, int rootY) {
    pointerTo(rootX, rootY);
    leftButton(true);
    leftButton(false);
}

}  // namespace lumisere::x11test
