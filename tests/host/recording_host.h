// A VST 2.x host callback that records what the plug-in tells it, for the editor tests of both
// platforms: each call as text ("begin 0", "automate 0 0.55", "end 0", anything else by its opcode)
// and the thread it came on.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "formats/vst2/vst_host.h"

namespace lumisere::test {

struct HostCalls {
    std::vector<std::string> calls;
    std::vector<std::thread::id> threads;
};

inline std::mutex gHostCallsMutex;
inline HostCalls gHostCalls;

inline std::string hostCallText(VstInt32 opcode, VstInt32 index, float value) {
    char text[64];
    if (opcode == audioMasterBeginEdit) {
        std::snprintf(text, sizeof text, "begin %d", index);
    } else if (opcode == audioMasterAutomate) {
        std::snprintf(text, sizeof text, "automate %d %.9g", index, static_cast<double>(value));
    } else if (opcode == audioMasterEndEdit) {
        std::snprintf(text, sizeof text, "end %d", index);
    } else {
        std::snprintf(text, sizeof text, "opcode %d", opcode);
    }
    return text;
}

inline VstIntPtr VSTCALLBACK recordingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt) {
    if (opcode == audioMasterVersion) return 2400;
    const std::lock_guard<std::mutex> lock(gHostCallsMutex);
    gHostCalls.calls.push_back(hostCallText(opcode, index, opt));
    gHostCalls.threads.push_back(std::this_thread::get_id());
    return 0;
}

// The calls recorded since the last take.
inline HostCalls takeHostCalls() {
    const std::lock_guard<std::mutex> lock(gHostCallsMutex);
    HostCalls taken;
    std::swap(taken, gHostCalls);
    return taken;
}

// What a drag of index from `from` up `rise` pixels in moves of `step` sends: begin, each value, end.
inline std::vector<std::string> dragCalls(int index, float from, int rise, int step, float perPixel) {
    std::vector<std::string> calls{hostCallText(audioMasterBeginEdit, index, 0.0f)};
    float last = from;
    for (int up = step; up <= rise; up += step) {
        float value = static_cast<float>(up) * perPixel + from;
        value = value > 1.0f ? 1.0f : value;
        if (value != last) calls.push_back(hostCallText(audioMasterAutomate, index, value));
        last = value;
    }
    calls.push_back(hostCallText(audioMasterEndEdit, index, 0.0f));
    return calls;
}

// A gesture of one value: begin, the value, end.
inline std::vector<std::string> clickCalls(int index, float value) {
    return {hostCallText(audioMasterBeginEdit, index, 0.0f), hostCallText(audioMasterAutomate, index, value),
            hostCallText(audioMasterEndEdit, index, 0.0f)};
}

}  // namespace lumisere::test
