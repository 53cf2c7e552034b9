// The part of the VST 3 binary interface this plug-in speaks, declared here from the published
// documentation of the format: the counted-reference base, interface ids, the class factory, the
// component, the audio processor, the edit controller, the editor view and what a Linux host offers it
// (its frame and run loop), the byte stream and the parameter change queues.
//
// Every interface is a class of pure virtual functions and no data, in the order the format
// publishes, with no virtual destructor: a pointer to one is a pointer to a table of function
// pointers, as in COM. The plug-in's tests and tools act as hosts through the same declarations.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define LUMISERE_VST3_CALL __stdcall
#else
#define LUMISERE_VST3_CALL
#endif

namespace lumisere::vst3 {

using int16 = std::int16_t;
using int32 = std::int32_t;
using int64 = std::int64_t;
using uint32 = std::uint32_t;
using uint64 = std::uint64_t;
using TBool = std::uint8_t;
using char16 = char16_t;
using tresult = int32;
using ParamID = uint32;
using ParamValue = double;
using String128 = char16[128];
using FIDString = const char*;

// Result codes. Windows uses COM's values; other systems small numbers of their own.
#if defined(_WIN32)
constexpr tresult kNoInterface = static_cast<tresult>(0x80004002u);
constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057u);
constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001u);
constexpr tresult kInternalError = static_cast<tresult>(0x80004005u);
constexpr tresult kNotInitialized = static_cast<tresult>(0x8000FFFFu);
constexpr tresult kOutOfMemory = static_cast<tresult>(0x8007000Eu);
#else
constexpr tresult kNoInterface = -1;
constexpr tresult kInvalidArgument = 2;
constexpr tresult kNotImplemented = 3;
constexpr tresult kInternalError = 4;
constexpr tresult kNotInitialized = 5;
constexpr tresult kOutOfMemory = 6;
#endif
constexpr tresult kResultOk = 0;
constexpr tresult kResultTrue = 0;
constexpr tresult kResultFalse = 1;

// A 16-byte class or interface id written as four 32-bit words. Windows lays it out as a COM GUID
// (the first word and the two halves of the second little-endian, the rest as written); everywhere
// else the four words are stored big-endian, byte for byte as written.
struct Uid {
    char bytes[16];

    bool operator==(const char* other) const { return other != nullptr && std::memcmp(bytes, other, 16) == 0; }
};

constexpr Uid makeUid(uint32 w0, uint32 w1, uint32 w2, uint32 w3) {
    Uid uid{};
    const uint32 words[4] = {w0, w1, w2, w3};
    for (int w = 0; w < 4; ++w) {
        for (int b = 0; b < 4; ++b) uid.bytes[w * 4 + b] = static_cast<char>((words[w] >> (24 - 8 * b)) & 0xFF);
    }
#if defined(_WIN32)
    const Uid plain = uid;
    const int order[8] = {3, 2, 1, 0, 5, 4, 7, 6};
    for (int i = 0; i < 8; ++i) uid.bytes[i] = plain.bytes[order[i]];
#endif
    return uid;
}

// The interfaces and their ids.
class FUnknown {
public:
    virtual tresult LUMISERE_VST3_CALL queryInterface(const char* iid, void** object) = 0;
    virtual uint32 LUMISERE_VST3_CALL addRef() = 0;
    virtual uint32 LUMISERE_VST3_CALL release() = 0;
};
constexpr Uid kIidFUnknown = makeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);

// The factory's description of itself and of a class.
struct PFactoryInfo {
    enum : int32 { kUnicode = 1 << 4 };
    char vendor[64];
    char url[256];
    char email[128];
    int32 flags;
};

constexpr int32 kManyInstances = 0x7FFFFFFF;

struct PClassInfo {
    char cid[16];
    int32 cardinality;
    char category[32];
    char name[64];
};

struct PClassInfo2 {
    char cid[16];
    int32 cardinality;
    char category[32];
    char name[64];
    uint32 classFlags;
    char subCategories[128];
    char vendor[64];
    char version[64];
    char sdkVersion[64];
};

class IPluginFactory : public FUnknown {
public:
    virtual tresult LUMISERE_VST3_CALL getFactoryInfo(PFactoryInfo* info) = 0;
    virtual int32 LUMISERE_VST3_CALL countClasses() = 0;
    virtual tresult LUMISERE_VST3_CALL getClassInfo(int32 index, PClassInfo* info) = 0;
    virtual tresult LUMISERE_VST3_CALL createInstance(FIDString cid, FIDString iid, void** object) = 0;
};
constexpr Uid kIidIPluginFactory = makeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);

class IPluginFactory2 : public IPluginFactory {
public:
    virtual tresult LUMISERE_VST3_CALL getClassInfo2(int32 index, PClassInfo2* info) = 0;
};
constexpr Uid kIidIPluginFactory2 = makeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);

class IPluginBase : public FUnknown {
public:
    virtual tresult LUMISERE_VST3_CALL initialize(FUnknown* context) = 0;
    virtual tresult LUMISERE_VST3_CALL terminate() = 0;
};
constexpr Uid kIidIPluginBase = makeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);

// A stream the host reads or writes state through.
class IBStream : public FUnknown {
public:
    enum : int32 { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };
    virtual tresult LUMISERE_VST3_CALL read(void* buffer, int32 numBytes, int32* numBytesRead) = 0;
    virtual tresult LUMISERE_VST3_CALL write(void* buffer, int32 numBytes, int32* numBytesWritten) = 0;
    virtual tresult LUMISERE_VST3_CALL seek(int64 pos, int32 mode, int64* result) = 0;
    virtual tresult LUMISERE_VST3_CALL tell(int64* pos) = 0;
};
constexpr Uid kIidIBStream = makeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);

// The component: buses, activation, state.
enum MediaType : int32 { kAudio = 0, kEvent = 1 };
enum BusDirection : int32 { kInput = 0, kOutput = 1 };
enum BusType : int32 { kMain = 0, kAux = 1 };

struct BusInfo {
    enum : uint32 { kDefaultActive = 1 };
    int32 mediaType;
    int32 direction;
    int32 channelCount;
    String128 name;
    int32 busType;
    uint32 flags;
};

struct RoutingInfo {
    int32 mediaType;
    int32 busIndex;
    int32 channel;
};

class IComponent : public IPluginBase {
public:
    virtual tresult LUMISERE_VST3_CALL getControllerClassId(char* classId) = 0;
    virtual tresult LUMISERE_VST3_CALL setIoMode(int32 mode) = 0;
    virtual int32 LUMISERE_VST3_CALL getBusCount(int32 type, int32 dir) = 0;
    virtual tresult LUMISERE_VST3_CALL getBusInfo(int32 type, int32 dir, int32 index, BusInfo& bus) = 0;
    virtual tresult LUMISERE_VST3_CALL getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) = 0;
    virtual tresult LUMISERE_VST3_CALL activateBus(int32 type, int32 dir, int32 index, TBool state) = 0;
    virtual tresult LUMISERE_VST3_CALL setActive(TBool state) = 0;
    virtual tresult LUMISERE_VST3_CALL setState(IBStream* state) = 0;
    virtual tresult LUMISERE_VST3_CALL getState(IBStream* state) = 0;
};
constexpr Uid kIidIComponent = makeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);

// Parameter changes within a block: one queue of points (offset, value) per changed parameter.
class IParamValueQueue : public FUnknown {
public:
    virtual ParamID LUMISERE_VST3_CALL getParameterId() = 0;
    virtual int32 LUMISERE_VST3_CALL getPointCount() = 0;
    virtual tresult LUMISERE_VST3_CALL getPoint(int32 index, int32& sampleOffset, ParamValue& value) = 0;
    virtual tresult LUMISERE_VST3_CALL addPoint(int32 sampleOffset, ParamValue value, int32& index) = 0;
};
constexpr Uid kIidIParamValueQueue = makeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);

class IParameterChanges : public FUnknown {
public:
    virtual int32 LUMISERE_VST3_CALL getParameterCount() = 0;
    virtual IParamValueQueue* LUMISERE_VST3_CALL getParameterData(int32 index) = 0;
    virtual IParamValueQueue* LUMISERE_VST3_CALL addParameterData(const ParamID& id, int32& index) = 0;
};
constexpr Uid kIidIParameterChanges = makeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);

// The audio processor.
using SpeakerArrangement = uint64;
constexpr SpeakerArrangement kSpeakerStereo = 0x3;  // left and right
enum SampleSize : int32 { kSample32 = 0, kSample64 = 1 };

struct ProcessSetup {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 maxSamplesPerBlock;
    double sampleRate;
};

struct AudioBusBuffers {
    int32 numChannels;
    uint64 silenceFlags;  // bit c: channel c is silent
    union {
        float** channelBuffers32;
        double** channelBuffers64;
    };
};

struct ProcessData {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 numSamples;
    int32 numInputs;
    int32 numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    void* inputEvents;   // not used: the plug-in has no event buses
    void* outputEvents;
    void* processContext;  // not asked for (IProcessContextRequirements)
};

class IAudioProcessor : public FUnknown {
public:
    virtual tresult LUMISERE_VST3_CALL setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                          SpeakerArrangement* outputs, int32 numOuts) = 0;
    virtual tresult LUMISERE_VST3_CALL getBusArrangement(int32 dir, int32 index, SpeakerArrangement& arr) = 0;
    virtual tresult LUMISERE_VST3_CALL canProcessSampleSize(int32 symbolicSampleSize) = 0;
    virtual uint32 LUMISERE_VST3_CALL getLatencySamples() = 0;
    virtual tresult LUMISERE_VST3_CALL setupProcessing(ProcessSetup& setup) = 0;
    virtual tresult LUMISERE_VST3_CALL setProcessing(TBool state) = 0;
    virtual tresult LUMISERE_VST3_CALL process(ProcessData& data) = 0;
    virtual uint32 LUMISERE_VST3_CALL getTailSamples() = 0;
};
constexpr Uid kIidIAudioProcessor = makeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);

// Which parts of the process context the processor reads: none.
class IProcessContextRequirements : public FUnknown {
public:
    virtual uint32 LUMISERE_VST3_CALL getProcessContextRequirements() = 0;
};
constexpr Uid kIidIProcessContextRequirements = makeUid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);

// The edit controller: parameters as hosts show and automate them, the editor.
struct ParameterInfo {
    enum : int32 { kCanAutomate = 1 << 0, kIsReadOnly = 1 << 1, kIsList = 1 << 3, kIsBypass = 1 << 16 };
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32 stepCount;  // 0: continuous; n: n + 1 discrete values
    ParamValue defaultNormalizedValue;
    int32 unitId;  // 0: the root unit
    int32 flags;
};

class IComponentHandler : public FUnknown {
public:
    virtual tresult LUMISERE_VST3_CALL beginEdit(ParamID id) = 0;
    virtual tresult LUMISERE_VST3_CALL performEdit(ParamID id, ParamValue valueNormalized) = 0;
    virtual tresult LUMISERE_VST3_CALL endEdit(ParamID id) = 0;
    virtual tresult LUMISERE_VST3_CALL restartComponent(int32 flags) = 0;
};
constexpr Uid kIidIComponentHandler = makeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);

struct ViewRect {
    int32 left;
    int32 top;
    int32 right;
    int32 bottom;
};

class IPlugView;

class IPlugFrame : public FUnknown {
public:
    virtual tresult LUMISERE_VST3_CALL resizeView(IPlugView* view, ViewRect* newSize) = 0;
};
constexpr Uid kIidIPlugFrame = makeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);

class IPlugView : public FUnknown {
public:
    virtual tresult LUMISERE_VST3_CALL isPlatformTypeSupported(FIDString type) = 0;
    virtual tresult LUMISERE_VST3_CALL attached(void* parent, FIDString type) = 0;
    virtual tresult LUMISERE_VST3_CALL removed() = 0;
    virtual tresult LUMISERE_VST3_CALL onWheel(float distance) = 0;
    virtual tresult LUMISERE_VST3_CALL onKeyDown(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult LUMISERE_VST3_CALL onKeyUp(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult LUMISERE_VST3_CALL getSize(ViewRect* size) = 0;
    virtual tresult LUMISERE_VST3_CALL onSize(ViewRect* newSize) = 0;
    virtual tresult LUMISERE_VST3_CALL onFocus(TBool state) = 0;
    virtual tresult LUMISERE_VST3_CALL setFrame(IPlugFrame* frame) = 0;
    virtual tresult LUMISERE_VST3_CALL canResize() = 0;
    virtual tresult LUMISERE_VST3_CALL checkSizeConstraint(ViewRect* rect) = 0;
};
constexpr Uid kIidIPlugView = makeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);

// The window types a view is attached to.
constexpr char kPlatformTypeHwnd[] = "HWND";
constexpr char kPlatformTypeX11EmbedWindowId[] = "X11EmbedWindowID";
constexpr char kEditorViewName[] = "editor";

class IEditController : public IPluginBase {
public:
    virtual tresult LUMISERE_VST3_CALL setComponentState(IBStream* state) = 0;
    virtual tresult LUMISERE_VST3_CALL setState(IBStream* state) = 0;
    virtual tresult LUMISERE_VST3_CALL getState(IBStream* state) = 0;
    virtual int32 LUMISERE_VST3_CALL getParameterCount() = 0;
    virtual tresult LUMISERE_VST3_CALL getParameterInfo(int32 paramIndex, ParameterInfo& info) = 0;
    virtual tresult LUMISERE_VST3_CALL getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                             String128 string) = 0;
    virtual tresult LUMISERE_VST3_CALL getParamValueByString(ParamID id, char16* string,
                                                             ParamValue& valueNormalized) = 0;
    virtual ParamValue LUMISERE_VST3_CALL normalizedParamToPlain(ParamID id, ParamValue valueNormalized) = 0;
    virtual ParamValue LUMISERE_VST3_CALL plainParamToNormalized(ParamID id, ParamValue plainValue) = 0;
    virtual ParamValue LUMISERE_VST3_CALL getParamNormalized(ParamID id) = 0;
    virtual tresult LUMISERE_VST3_CALL setParamNormalized(ParamID id, ParamValue value) = 0;
    virtual tresult LUMISERE_VST3_CALL setComponentHandler(IComponentHandler* handler) = 0;
    virtual IPlugView* LUMISERE_VST3_CALL createView(FIDString name) = 0;
};
constexpr Uid kIidIEditController = makeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);

// Linux: the host's run loop, which a view gets from its frame, and its two kinds of handler. Timers
// and file descriptor events fire on the host's UI thread.
class ITimerHandler : public FUnknown {
public:
    virtual void LUMISERE_VST3_CALL onTimer() = 0;
};
constexpr Uid kIidITimerHandler = makeUid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);

class IEventHandler : public FUnknown {
public:
    virtual void LUMISERE_VST3_CALL onFDIsSet(int fd) = 0;
};
constexpr Uid kIidIEventHandler = makeUid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);

class IRunLoop : public FUnknown {
public:
    virtual tresult LUMISERE_VST3_CALL registerEventHandler(IEventHandler* handler, int fd) = 0;
    virtual tresult LUMISERE_VST3_CALL unregisterEventHandler(IEventHandler* handler) = 0;
    virtual tresult LUMISERE_VST3_CALL registerTimer(ITimerHandler* handler, uint64 milliseconds) = 0;
    virtual tresult LUMISERE_VST3_CALL unregisterTimer(ITimerHandler* handler) = 0;
};
constexpr Uid kIidIRunLoop = makeUid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);

// Class categories of the factory.
constexpr char kAudioEffectClass[] = "Audio Module Class";

// The module's entry point every host calls first.
using GetFactoryProc = IPluginFactory* (LUMISERE_VST3_CALL*)();

}  // namespace lumisere::vst3
