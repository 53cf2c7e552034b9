#include "formats/vst2/dispatcher.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "formats/module/library.h"
#include "formats/vst2/vst2_instance.h"
#include "vst2_test_host.h"

namespace lumisere {
namespace {

using namespace vst2;

// An instance for one test, closed through the dispatcher unless the test closed it.
struct Instance : test::Vst2Effect {
    Instance() : Vst2Effect(createInstance) {}
    AEffect* effect() const { return get(); }
    Vst2Instance& self() const { return *Vst2Instance::fromEffect(get()); }
};

constexpr unsigned char kUntouched = 0xAB;

// A 128-byte host buffer pre-filled with a marker, to see exactly which bytes a request wrote.
struct HostBuffer {
    std::array<unsigned char, 128> bytes;
    HostBuffer() { bytes.fill(kUntouched); }
    void* data() { return bytes.data(); }
    std::string text() const { return reinterpret_cast<const char*>(bytes.data()); }
    // The text followed by zero bytes up to exactly `size`, and nothing written past it.
    bool isFixedField(const std::string& expected, std::size_t size) const {
        if (text() != expected) return false;
        for (std::size_t i = expected.size(); i < size; ++i) {
            if (bytes[i] != 0) return false;
        }
        for (std::size_t i = size; i < bytes.size(); ++i) {
            if (bytes[i] != kUntouched) return false;
        }
        return true;
    }
    bool untouched() const {
        for (unsigned char b : bytes) {
            if (b != kUntouched) return false;
        }
        return true;
    }
};

TEST(Dispatcher, FreshInstanceHeaderAndDefaults) {
    Instance fx;
    ASSERT_NE(fx.effect(), nullptr);
    EXPECT_EQ(fx->magic, fourCharCode('V', 's', 't', 'P'));
    EXPECT_EQ(fx->object, static_cast<void*>(fx.effect()));
    EXPECT_EQ(fx->numParams, 9);
    EXPECT_EQ(fx->numInputs, 2);
    EXPECT_EQ(fx->numOutputs, 2);
    EXPECT_EQ(fx->numPrograms, 1);
    EXPECT_EQ(fx->flags, 17);
    EXPECT_EQ(fx->version, 1000);
    EXPECT_EQ(fx->uniqueID, 0x4C4D5352);  // "LMSR"
    EXPECT_EQ(fx->initialDelay, 0);
    EXPECT_EQ(fx->resvd1, 0);
    EXPECT_EQ(fx->user, nullptr);
    EXPECT_EQ(fx->ioRatio, 0.0f);
    EXPECT_EQ(fx->processDoubleReplacing, nullptr);
    for (char c : fx->future) EXPECT_EQ(c, 0);
    const float defaults[] = {0.5f, 0.4f, 0.0f, 0.45f, 0.6f, 0.75f, 0.5f, 1.0f, 0.0f};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(fx->getParameter(fx.effect(), i), defaults[i]);
    EXPECT_EQ(fx.self().processor.sampleRate(), 44100.0);
    EXPECT_FALSE(fx.self().processor.suspended());
    for (int m = 0; m < kNumMeters; ++m) EXPECT_EQ(fx.self().processor.meter(m), 0.0f);
}

TEST(Dispatcher, ResultOfEveryOpcode) {
    Instance fx;
    const std::set<VstInt32> answersOne = {effOpen, effGetParamLabel, effGetParamDisplay, effGetParamName,
                                           effSetSampleRate, effSetBlockSize, effMainsChanged, effEditGetRect,
                                           effEditClose, effGetPlugCategory, effGetEffectName,
                                           effGetVendorString, effGetProductString, effCanBeAutomated};
    for (VstInt32 opcode = -3; opcode <= 120; ++opcode) {
        if (opcode == effClose || opcode == effEditOpen) continue;  // closing and windows: tested apart
        HostBuffer buffer;
        const VstIntPtr result = fx.call(opcode, 0, 1, buffer.data(), 44100.0f);
        if (opcode == effGetVendorVersion) {
            EXPECT_EQ(result, 1000);
        } else if (answersOne.count(opcode) != 0) {
            EXPECT_EQ(result, 1) << "opcode " << opcode;
        } else {
            EXPECT_EQ(result, 0) << "opcode " << opcode;
        }
    }
    EXPECT_EQ(fx.call(static_cast<VstInt32>(0x80000001u)), 0);
    EXPECT_EQ(fx.call(effCanDo), 0);  // null ptr
}

TEST(Dispatcher, TextRequestsWriteExactlyTheirFieldSize) {
    Instance fx;
    struct Case {
        VstInt32 opcode;
        VstInt32 index;
        const char* text;
        std::size_t size;
    };
    const Case cases[] = {
        {effGetEffectName, 0, "Ostrel Lumisere", 32},
        {effGetVendorString, 0, "Ostrel Audio", 32},
        {effGetProductString, 0, "Ostrel Lumisere Quantum De-Esser & Denoise", 64},
        {effGetParamName, 2, "Listen Sibilance", 32},
        {effGetParamName, 5, "172 Air Silk", 32},
        {effGetParamLabel, 1, "Hz", 32},
        {effGetParamLabel, 8, "", 32},
        {effGetParamDisplay, 3, "-54.8 dB", 32},
        {effGetParamDisplay, 9, "0.00", 32},
        {effGetParamDisplay, -1, "0.00", 32},
    };
    for (const Case& c : cases) {
        HostBuffer buffer;
        fx.call(c.opcode, c.index, 0, buffer.data());
        EXPECT_TRUE(buffer.isFixedField(c.text, c.size)) << "opcode " << c.opcode << " index " << c.index;
    }
    for (VstInt32 index : {9, -1, 1000}) {
        HostBuffer name, label;
        EXPECT_EQ(fx.call(effGetParamName, index, 0, name.data()), 1);
        EXPECT_EQ(fx.call(effGetParamLabel, index, 0, label.data()), 1);
        EXPECT_TRUE(name.untouched());
        EXPECT_TRUE(label.untouched());
    }
}

TEST(Dispatcher, MainsCanDoAndEditorRectangle) {
    Instance fx;
    fx.call(effMainsChanged, 0, 0);
    EXPECT_TRUE(fx.self().processor.suspended());
    fx.call(effMainsChanged, 0, 1);
    EXPECT_FALSE(fx.self().processor.suspended());
    fx.call(effMainsChanged, 0, 0);
    fx.call(effMainsChanged, 0, -7);
    EXPECT_FALSE(fx.self().processor.suspended());

    char timeInfo[] = "receiveVstTimeInfo";
    char otherCase[] = "ReceiveVstTimeInfo";
    char prefix[] = "receiveVstTime";
    EXPECT_EQ(fx.call(effCanDo, 0, 0, timeInfo), 1);
    EXPECT_EQ(fx.call(effCanDo, 0, 0, otherCase), 0);
    EXPECT_EQ(fx.call(effCanDo, 0, 0, prefix), 0);

    EXPECT_EQ(fx.call(effEditGetRect, 0, 0, nullptr), 1);
    ERect* rect = nullptr;
    EXPECT_EQ(fx.call(effEditGetRect, 0, 0, &rect), 1);
    ASSERT_EQ(rect, &fx.self().editorRect);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 520);
    EXPECT_EQ(rect->right, 840);
    EXPECT_EQ(fx.call(effEditClose), 1);  // nothing open: still answered
}

TEST(Dispatcher, ParameterSetAndGetClampAndIgnoreUnknownIndices) {
    Instance fx;
    AEffect* e = fx.effect();
    e->setParameter(e, 0, 1.5f);
    EXPECT_EQ(e->getParameter(e, 0), 1.0f);
    e->setParameter(e, 0, -0.2f);
    EXPECT_EQ(e->getParameter(e, 0), 0.0f);
    e->setParameter(e, 0, std::nanf(""));
    EXPECT_EQ(e->getParameter(e, 0), 1.0f);
    e->setParameter(e, 0, -0.0f);
    EXPECT_FALSE(std::signbit(e->getParameter(e, 0)));
    e->setParameter(e, 8, 0.5f);
    HostBuffer bypass;
    fx.call(effGetParamDisplay, 8, 0, bypass.data());
    EXPECT_EQ(bypass.text(), "ACTIVE");

    const float before = e->getParameter(e, 3);
    e->setParameter(e, 9, 0.1f);
    e->setParameter(e, -1, 0.1f);
    EXPECT_EQ(e->getParameter(e, 3), before);
    EXPECT_EQ(e->getParameter(e, 9), 0.0f);
    EXPECT_EQ(e->getParameter(e, -1), 0.0f);
}

TEST(Dispatcher, NullObjectReachesNothing) {
    AEffect orphan;
    {
        Instance fx;
        orphan = *fx.effect();
    }
    orphan.object = nullptr;
    for (VstInt32 opcode = -1; opcode < 80; ++opcode) {
        EXPECT_EQ(orphan.dispatcher(&orphan, opcode, 0, 0, nullptr, 0.0f), 0);
    }
    EXPECT_EQ(orphan.getParameter(&orphan, 0), 0.0f);
    orphan.setParameter(&orphan, 0, 0.5f);
    float sample = 0.25f;
    float* channels[] = {&sample, &sample};
    orphan.processReplacing(&orphan, channels, channels, 1);
    EXPECT_EQ(sample, 0.25f);
}

TEST(Lifecycle, InstancesAreCountedAndANullCallbackAllocatesNothing) {
    const int before = liveInstanceCount();
    EXPECT_EQ(createInstance(nullptr), nullptr);
    EXPECT_EQ(liveInstanceCount(), before);
    AEffect* a = createInstance(test::stubHostCallback);
    AEffect* b = createInstance(test::stubHostCallback);
    EXPECT_EQ(liveInstanceCount(), before + 2);
    EXPECT_EQ(a->dispatcher(a, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(liveInstanceCount(), before + 1);
    EXPECT_EQ(b->dispatcher(b, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(liveInstanceCount(), before);
    EXPECT_EQ(graphicsRuntimeToken(), 0u);
}

}  // namespace
}  // namespace lumisere
