// The VST 2.x plug-in ABI, declared from the published facts of the interface.
// Only the VST 2.x adapter and code that acts as a host include this file.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VSTCALLBACK __cdecl
#else
#define VSTCALLBACK
#endif

using VstInt16 = std::int16_t;
using VstInt32 = std::int32_t;
using VstIntPtr = std::intptr_t;

struct AEffect;

// host -> plug-in entry types
using audioMasterCallback = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                    VstIntPtr value, void* ptr, float opt);
using AEffectDispatcherProc = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                      VstIntPtr value, void* ptr, float opt);
using AEffectProcessProc = void(VSTCALLBACK*)(AEffect* effect, float** inputs, float** outputs,
                                              VstInt32 sampleFrames);
using AEffectProcessDoubleProc = void(VSTCALLBACK*)(AEffect* effect, double** inputs, double** outputs,
                                                    VstInt32 sampleFrames);
using AEffectSetParameterProc = void(VSTCALLBACK*)(AEffect* effect, VstInt32 index, float parameter);
using AEffectGetParameterProc = float(VSTCALLBACK*)(AEffect* effect, VstInt32 index);

// The exported entry point's type: VSTPluginMain(hostCallback) -> AEffect*.
using VstPluginMainProc = AEffect*(VSTCALLBACK*)(audioMasterCallback host);

// Four characters packed with the first one in the most significant byte ('VstP').
constexpr VstInt32 fourCharCode(char a, char b, char c, char d) {
    return static_cast<VstInt32>((static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(d)));
}

constexpr VstInt32 kEffectMagic = fourCharCode('V', 's', 't', 'P');

// The record the host holds for one plug-in instance. 64-bit layout: 192 bytes.
struct AEffect {
    VstInt32 magic;                                   // kEffectMagic
    AEffectDispatcherProc dispatcher;                 // control requests (opcodes below)
    AEffectProcessProc process;                       // accumulating process (deprecated by hosts)
    AEffectSetParameterProc setParameter;             // normalised 0..1 value in
    AEffectGetParameterProc getParameter;             // normalised 0..1 value out
    VstInt32 numPrograms;                             // e.g. 1
    VstInt32 numParams;                               // e.g. 9
    VstInt32 numInputs;                               // audio inputs, e.g. 2
    VstInt32 numOutputs;                              // audio outputs, e.g. 2
    VstInt32 flags;                                   // VstAEffectFlags
    VstIntPtr resvd1;                                 // host-reserved, 0
    VstIntPtr resvd2;                                 // host-reserved, 0
    VstInt32 initialDelay;                            // latency in samples
    VstInt32 realQualities;                           // unused, 0
    VstInt32 offQualities;                            // unused, 0
    float ioRatio;                                    // unused, 0
    void* object;                                     // the plug-in's own instance
    void* user;                                       // free for the host
    VstInt32 uniqueID;                                // four-character id, e.g. 'LMSR'
    VstInt32 version;                                 // plug-in version, e.g. 1000
    AEffectProcessProc processReplacing;              // 32-bit replacing process
    AEffectProcessDoubleProc processDoubleReplacing;  // 64-bit replacing process, or null
    char future[56];                                  // reserved, zero
};

#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(AEffect) == 192, "AEffect must be 192 bytes on 64-bit builds");
static_assert(offsetof(AEffect, dispatcher) == 8 && offsetof(AEffect, process) == 16 &&
                  offsetof(AEffect, setParameter) == 24 && offsetof(AEffect, getParameter) == 32 &&
                  offsetof(AEffect, numPrograms) == 40 && offsetof(AEffect, flags) == 56 &&
                  offsetof(AEffect, resvd1) == 64 && offsetof(AEffect, initialDelay) == 80 &&
                  offsetof(AEffect, ioRatio) == 92 && offsetof(AEffect, object) == 96 &&
                  offsetof(AEffect, user) == 104 && offsetof(AEffect, uniqueID) == 112 &&
                  offsetof(AEffect, version) == 116 && offsetof(AEffect, processReplacing) == 120 &&
                  offsetof(AEffect, processDoubleReplacing) == 128 && offsetof(AEffect, future) == 136,
              "AEffect fields must sit at their natural 64-bit offsets");
#endif

// The editor rectangle handed out by effEditGetRect.
struct ERect {
    VstInt16 top;
    VstInt16 left;
    VstInt16 bottom;
    VstInt16 right;
};

enum VstAEffectFlags : VstInt32 {
    effFlagsHasEditor = 1 << 0,
    effFlagsHasClip = 1 << 1,           // deprecated
    effFlagsHasVu = 1 << 2,             // deprecated
    effFlagsCanMono = 1 << 3,           // deprecated
    effFlagsCanReplacing = 1 << 4,
    effFlagsProgramChunks = 1 << 5,
    effFlagsIsSynth = 1 << 8,
    effFlagsNoSoundInStop = 1 << 9,
    effFlagsExtIsAsync = 1 << 10,       // deprecated
    effFlagsExtHasBuffer = 1 << 11,     // deprecated
    effFlagsCanDoubleReplacing = 1 << 12,
};

// Requests from the host to the plug-in (the dispatcher's opcode).
enum AEffectOpcodes : VstInt32 {
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effGetVu = 9,                       // deprecated
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditDraw = 16,                   // deprecated
    effEditMouse = 17,                  // deprecated
    effEditKey = 18,                    // deprecated
    effEditIdle = 19,
    effEditTop = 20,                    // deprecated
    effEditSleep = 21,                  // deprecated
    effIdentify = 22,                   // deprecated
    effGetChunk = 23,
    effSetChunk = 24,
    effProcessEvents = 25,
    effCanBeAutomated = 26,
    effString2Parameter = 27,
    effGetNumProgramCategories = 28,    // deprecated
    effGetProgramNameIndexed = 29,
    effCopyProgram = 30,                // deprecated
    effConnectInput = 31,               // deprecated
    effConnectOutput = 32,              // deprecated
    effGetInputProperties = 33,
    effGetOutputProperties = 34,
    effGetPlugCategory = 35,
    effGetCurrentPosition = 36,         // deprecated
    effGetDestinationBuffer = 37,       // deprecated
    effOfflineNotify = 38,
    effOfflinePrepare = 39,
    effOfflineRun = 40,
    effProcessVarIo = 41,
    effSetSpeakerArrangement = 42,
    effSetBlockSizeAndSampleRate = 43,  // deprecated
    effSetBypass = 44,
    effGetEffectName = 45,
    effGetErrorText = 46,               // deprecated
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effVendorSpecific = 50,
    effCanDo = 51,
    effGetTailSize = 52,
    effIdle = 53,                       // deprecated
    effGetIcon = 54,                    // deprecated
    effSetViewPosition = 55,            // deprecated
    effGetParameterProperties = 56,
    effKeysRequired = 57,               // deprecated
    effGetVstVersion = 58,
    effEditKeyDown = 59,
    effEditKeyUp = 60,
    effSetEditKnobMode = 61,
    effGetMidiProgramName = 62,
    effGetCurrentMidiProgram = 63,
    effGetMidiProgramCategory = 64,
    effHasMidiProgramsChanged = 65,
    effGetMidiKeyName = 66,
    effBeginSetProgram = 67,
    effEndSetProgram = 68,
    effGetSpeakerArrangement = 69,
    effShellGetNextPlugin = 70,
    effStartProcess = 71,
    effStopProcess = 72,
    effSetTotalSampleToProcess = 73,
    effSetPanLaw = 74,
    effBeginLoadBank = 75,
    effBeginLoadProgram = 76,
    effSetProcessPrecision = 77,
    effGetNumMidiInputChannels = 78,
    effGetNumMidiOutputChannels = 79,
};

// Requests from the plug-in to the host (the host callback's opcode). This plug-in sends none; the
// names are here for host-side code and tests.
enum AudioMasterOpcodes : VstInt32 {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,
    audioMasterIdle = 3,
    audioMasterPinConnected = 4,        // deprecated
    audioMasterWantMidi = 6,            // deprecated
    audioMasterGetTime = 7,
    audioMasterProcessEvents = 8,
    audioMasterSetTime = 9,             // deprecated
    audioMasterTempoAt = 10,            // deprecated
    audioMasterGetNumAutomatableParameters = 11,  // deprecated
    audioMasterGetParameterQuantization = 12,     // deprecated
    audioMasterIOChanged = 13,
    audioMasterNeedIdle = 14,           // deprecated
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetInputLatency = 18,
    audioMasterGetOutputLatency = 19,
    audioMasterGetPreviousPlug = 20,    // deprecated
    audioMasterGetNextPlug = 21,        // deprecated
    audioMasterWillReplaceOrAccumulate = 22,  // deprecated
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterGetAutomationState = 24,
    audioMasterOfflineStart = 25,
    audioMasterOfflineRead = 26,
    audioMasterOfflineWrite = 27,
    audioMasterOfflineGetCurrentPass = 28,
    audioMasterOfflineGetCurrentMetaPass = 29,
    audioMasterSetOutputSampleRate = 30,  // deprecated
    audioMasterGetOutputSpeakerArrangement = 31,  // deprecated
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterVendorSpecific = 35,
    audioMasterSetIcon = 36,            // deprecated
    audioMasterCanDo = 37,
    audioMasterGetLanguage = 38,
    audioMasterOpenWindow = 39,         // deprecated
    audioMasterCloseWindow = 40,        // deprecated
    audioMasterGetDirectory = 41,
    audioMasterUpdateDisplay = 42,
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
    audioMasterOpenFileSelector = 45,
    audioMasterCloseFileSelector = 46,
    audioMasterEditFile = 47,           // deprecated
    audioMasterGetChunkFile = 48,       // deprecated
    audioMasterGetInputSpeakerArrangement = 49,  // deprecated
};

enum VstPlugCategory : VstInt32 {
    kPlugCategUnknown = 0,
    kPlugCategEffect = 1,
    kPlugCategSynth = 2,
    kPlugCategAnalysis = 3,
    kPlugCategMastering = 4,
    kPlugCategSpacializer = 5,
    kPlugCategRoomFx = 6,
    kPlugSurroundFx = 7,
    kPlugCategRestoration = 8,
    kPlugCategOfflineProcess = 9,
    kPlugCategShell = 10,
    kPlugCategGenerator = 11,
    kPlugCategMaxCount = 12,
};

// Fixed text field sizes of the string requests, terminator included.
constexpr std::size_t kVstMaxLabelLen = 64;
constexpr std::size_t kVstMaxShortLabelLen = 8;
constexpr std::size_t kVstMaxCategLabelLen = 24;
constexpr std::size_t kVstMaxFileNameLen = 100;
constexpr std::size_t kVstMaxProgNameLen = 24;
constexpr std::size_t kVstMaxParamStrLen = 8;
constexpr std::size_t kVstMaxVendorStrLen = 64;
constexpr std::size_t kVstMaxProductStrLen = 64;
constexpr std::size_t kVstMaxEffectNameLen = 32;
