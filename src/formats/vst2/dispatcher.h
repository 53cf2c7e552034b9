// The host's control requests (the AEffect dispatcher slot).
#pragma once

#include "formats/module/identity.h"
#include "formats/module/version.h"
#include "formats/vst2/vst_host.h"

namespace lumisere::vst2 {

struct Vst2Instance;

constexpr VstIntPtr kVendorVersion = kVersionNumber;
constexpr const char* kCanDoTimeInfo = "receiveVstTimeInfo";

// Size of the host buffers the text requests fill: 32 bytes, 64 for the product string.
constexpr std::size_t kHostTextSize = 32;
constexpr std::size_t kHostProductTextSize = 64;

// [ui thread] Answers one request; unhandled, negative and unknown opcodes answer 0.
VstIntPtr dispatch(Vst2Instance& instance, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                   float opt);

// The function in the header's dispatcher slot: a null object answers 0.
VstIntPtr VSTCALLBACK dispatcherEntry(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                      void* ptr, float opt);

}  // namespace lumisere::vst2
