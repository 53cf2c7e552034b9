// Prints what a host sees of a VST 2.x plug-in: identity, I/O, flags and every parameter with its
// name, label and display text. Also renders a fixed test signal through it, and compares two renders,
// so the Linux and Windows builds can be checked against each other.
//
//   vst_probe PLUGIN_LIBRARY
//   vst_probe --render OUT.f32 PLUGIN_LIBRARY
//   vst_probe --compare EXPECTED.f32 ACTUAL.f32 [TOLERANCE]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin_library.h"
#include "render.h"

namespace {

void fourChars(VstInt32 id, char out[5]) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((static_cast<std::uint32_t>(id) >> (24 - 8 * i)) & 0xFF);
    out[4] = '\0';
}

int usage() {
    std::fprintf(stderr,
                 "usage: vst_probe PLUGIN_LIBRARY\n"
                 "       vst_probe --render OUT.f32 PLUGIN_LIBRARY\n"
                 "       vst_probe --compare EXPECTED.f32 ACTUAL.f32 [TOLERANCE]\n");
    return 2;
}

// What a host sees: identity, I/O, flags, editor size and every parameter.
int describe(const char* path, AEffect* effect) {
    using lumisere::host::dispatch;
    dispatch(effect, effOpen);

    char name[64] = {}, vendor[64] = {}, product[64] = {}, id[5];
    dispatch(effect, effGetEffectName, 0, 0, name);
    dispatch(effect, effGetVendorString, 0, 0, vendor);
    dispatch(effect, effGetProductString, 0, 0, product);
    fourChars(effect->uniqueID, id);
    std::printf("plug-in   %s\n", path);
    std::printf("name      %s\nvendor    %s\nproduct   %s\n", name, vendor, product);
    std::printf("id        %s  version %d  vendor version %ld\n", id, effect->version,
                static_cast<long>(dispatch(effect, effGetVendorVersion)));
    std::printf("audio     %d in, %d out, latency %d\n", effect->numInputs, effect->numOutputs, effect->initialDelay);
    std::printf("flags     %d (editor %s, replacing %s, double %s)\n", effect->flags,
                (effect->flags & effFlagsHasEditor) ? "yes" : "no",
                (effect->flags & effFlagsCanReplacing) ? "yes" : "no",
                (effect->flags & effFlagsCanDoubleReplacing) ? "yes" : "no");
    ERect* rect = nullptr;
    dispatch(effect, effEditGetRect, 0, 0, &rect);
    if (rect != nullptr) std::printf("editor    %d x %d\n", rect->right - rect->left, rect->bottom - rect->top);
    std::printf("programs  %d\nparameters %d\n", effect->numPrograms, effect->numParams);
    std::printf("  #  %-18s %-6s %-12s %s\n", "name", "label", "display", "value");
    for (VstInt32 i = 0; i < effect->numParams; ++i) {
        char pname[32] = {}, label[32] = {}, display[32] = {};
        dispatch(effect, effGetParamName, i, 0, pname);
        dispatch(effect, effGetParamLabel, i, 0, label);
        dispatch(effect, effGetParamDisplay, i, 0, display);
        std::printf("  %d  %-18s %-6s %-12s %.3f\n", i, pname, label, display, effect->getParameter(effect, i));
    }
    dispatch(effect, effClose);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--compare") == 0) {
        return lumisere::probe::compareRenders(argv[2], argv[3], lumisere::probe::kDefaultTolerance);
    }
    if (argc == 5 && std::strcmp(argv[1], "--compare") == 0) {
        char* end = nullptr;
        const double tolerance = std::strtod(argv[4], &end);
        if (end == argv[4] || *end != '\0' || !(tolerance >= 0.0)) {
            std::fprintf(stderr, "vst_probe: the tolerance must be a number >= 0, not '%s'\n", argv[4]);
            return 2;
        }
        return lumisere::probe::compareRenders(argv[2], argv[3], tolerance);
    }
    const bool render = argc == 4 && std::strcmp(argv[1], "--render") == 0;
    if (!render && (argc != 2 || argv[1][0] == '-')) return usage();

    const char* path = argv[argc - 1];
    lumisere::host::PluginLibrary library(path);
    if (!library.loaded() || library.entry() == nullptr) {
        std::fprintf(stderr, "vst_probe: %s: %s\n", path,
                     library.loaded() ? "no VSTPluginMain export" : library.error().c_str());
        return 1;
    }
    if (render) return lumisere::probe::renderToFile(library.entry(), argv[2]);

    AEffect* effect = library.entry()(lumisere::host::stubHostCallback);
    if (effect == nullptr || effect->magic != kEffectMagic) {
        std::fprintf(stderr, "vst_probe: %s: the entry point returned no effect\n", path);
        return 1;
    }
    return describe(path, effect);
}
