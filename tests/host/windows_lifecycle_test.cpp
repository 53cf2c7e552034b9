// The Windows library's life in a host: GDI+ started with the first instance and shut down with the
// last, a host that frees the library with an instance still open, the library loaded twice, and a
// process that ends with an instance open. The DLL is the shipped one, watched through its imports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "vst2_test_host.h"
#include "windows_gdiplus_spy.h"

namespace {

using lumisere::test::gGdiplusCalls;
using lumisere::test::GdiplusCalls;
using lumisere::test::dispatch;
using lumisere::test::spyOnGdiplus;

std::string pluginPath() { return lumisere::test::pluginPathFromEnvironment(); }

bool isLoaded(const std::string& path) {
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path.c_str(), &module) != 0;
}

class WindowsLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pluginPath().empty()) << "LUMISERE_PLUGIN names the plug-in DLL to load";
        ASSERT_FALSE(isLoaded(pluginPath())) << "an earlier test left the library loaded";
        gGdiplusCalls = GdiplusCalls{};
    }

    void TearDown() override {
        while (isLoaded(pluginPath())) {
            HMODULE module = GetModuleHandleA(pluginPath().c_str());
            if (module == nullptr || !FreeLibrary(module)) break;
        }
    }

    // Loads the library as a host does and watches its GDI+ calls.
    HMODULE load() {
        HMODULE module = LoadLibraryA(pluginPath().c_str());
        EXPECT_NE(module, nullptr) << pluginPath() << ": LoadLibrary failed with error " << GetLastError();
        if (module != nullptr) {
            EXPECT_TRUE(spyOnGdiplus(module)) << "the DLL does not import GdiplusStartup and GdiplusShutdown";
        }
        return module;
    }

    static AEffect* create(HMODULE module) {
        auto entry = reinterpret_cast<VstPluginMainProc>(
            reinterpret_cast<void*>(GetProcAddress(module, "VSTPluginMain")));
        if (entry == nullptr) return nullptr;
        AEffect* effect = entry(lumisere::test::stubHostCallback);
        if (effect != nullptr) dispatch(effect, effOpen);
        return effect;
    }
};

TEST_F(WindowsLifecycle, GdiplusStartsWithTheFirstInstanceAndStopsWithTheLast) {
    HMODULE module = load();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(gGdiplusCalls.startups, 0) << "loading the library starts nothing";

    AEffect* a = create(module);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(gGdiplusCalls.startups, 1);
    EXPECT_EQ(gGdiplusCalls.version, 1u);
    EXPECT_FALSE(gGdiplusCalls.debugCallback);
    EXPECT_FALSE(gGdiplusCalls.suppressBackgroundThread);
    EXPECT_FALSE(gGdiplusCalls.suppressExternalCodecs);
    EXPECT_FALSE(gGdiplusCalls.outputRequested);
    EXPECT_NE(gGdiplusCalls.startedToken, 0u);

    AEffect* b = create(module);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(gGdiplusCalls.startups, 1) << "one start serves every instance";

    EXPECT_EQ(dispatch(a, effClose), 1);
    EXPECT_EQ(gGdiplusCalls.shutdowns, 0) << "the second instance still needs GDI+";
    EXPECT_EQ(dispatch(b, effClose), 1);
    EXPECT_EQ(gGdiplusCalls.shutdowns, 1);
    EXPECT_EQ(gGdiplusCalls.shutdownToken, gGdiplusCalls.startedToken);

    // All closed, then a new instance: GDI+ starts again.
    AEffect* c = create(module);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(gGdiplusCalls.startups, 2);
    EXPECT_EQ(dispatch(c, effClose), 1);
    EXPECT_EQ(gGdiplusCalls.shutdowns, 2);

    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(isLoaded(pluginPath()));
    EXPECT_EQ(gGdiplusCalls.shutdowns, 2) << "nothing was left open for the unload hook to end";
}

TEST_F(WindowsLifecycle, FreeingTheLibraryWithAnInstanceOpenShutsGdiplusDown) {
    HMODULE module = load();
    ASSERT_NE(module, nullptr);
    AEffect* forgotten = create(module);
    ASSERT_NE(forgotten, nullptr);
    forgotten->setParameter(forgotten, 1, 1.0f);
    ASSERT_EQ(gGdiplusCalls.startups, 1);

    // The host frees the library without effClose: the unload hook ends GDI+ with the token it got.
    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(isLoaded(pluginPath()));
    EXPECT_EQ(gGdiplusCalls.shutdowns, 1);
    EXPECT_EQ(gGdiplusCalls.shutdownToken, gGdiplusCalls.startedToken);

    // Loaded again, the library starts from nothing: GDI+ with its first instance, fresh parameters,
    // and a close that ends GDI+ again.
    module = load();
    ASSERT_NE(module, nullptr);
    AEffect* effect = create(module);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(gGdiplusCalls.startups, 2);
    EXPECT_EQ(effect->getParameter(effect, 1), 0.4f);
    char name[32] = {};
    dispatch(effect, effGetEffectName, 0, 0, name);
    EXPECT_STREQ(name, "Ostrel Lumisere");
    EXPECT_EQ(dispatch(effect, effClose), 1);
    EXPECT_EQ(gGdiplusCalls.shutdowns, 2);
    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(gGdiplusCalls.shutdowns, 2);
}

TEST_F(WindowsLifecycle, LoadingTwiceSharesOneLibraryUntilTheLastFree) {
    HMODULE first = load();
    HMODULE second = LoadLibraryA(pluginPath().c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(second, first) << "a second load of the same path is the same library";

    AEffect* effect = create(first);
    ASSERT_NE(effect, nullptr);
    ASSERT_TRUE(FreeLibrary(second));
    EXPECT_TRUE(isLoaded(pluginPath()));
    EXPECT_EQ(gGdiplusCalls.shutdowns, 0) << "the library is still loaded: nothing to end";

    // The instance still works through the remaining load.
    char name[32] = {};
    EXPECT_EQ(dispatch(effect, effGetParamName, 8, 0, name), 1);
    EXPECT_STREQ(name, "Bypass");
    EXPECT_EQ(dispatch(effect, effClose), 1);
    EXPECT_EQ(gGdiplusCalls.shutdowns, 1);
    ASSERT_TRUE(FreeLibrary(first));
    EXPECT_FALSE(isLoaded(pluginPath()));
}

// Runs the helper program next to this one and returns its exit code (or a description of why not).
DWORD runExitHelper(const char* mode) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string helper = self;
    helper = helper.substr(0, helper.find_last_of("\\/") + 1) + "plugin_exit_helper.exe";
    std::string commandLine = "\"" + helper + "\" " + mode;

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(helper.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << helper << ": CreateProcess failed with error " << GetLastError();
        return ~DWORD{0};
    }
    DWORD code = ~DWORD{0};
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        ADD_FAILURE() << helper << " " << mode << " did not end within 60 s";
        TerminateProcess(process.hProcess, code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The helper's exit codes (windows_exit_helper.cpp).
constexpr DWORD kHelperDone = 0;
constexpr DWORD kHelperSawShutdown = 3;

TEST_F(WindowsLifecycle, ProcessExitWithAnInstanceOpenMakesNoGdiplusCall) {
    // At process exit the loader lock is held and GDI+ may already be torn down: the unload hook must
    // leave it alone. The helper fails with kHelperSawShutdown if GdiplusShutdown comes after main.
    EXPECT_EQ(runExitHelper("exit"), kHelperDone);
    // The same watch does see the shutdown an explicit FreeLibrary makes.
    EXPECT_EQ(runExitHelper("free"), kHelperSawShutdown);
}

}  // namespace
