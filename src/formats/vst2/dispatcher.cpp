#include "formats/vst2/dispatcher.h"

#include <cstdint>
#include <cstring>

#include "core/parameters.h"
#include "formats/module/host_entry.h"
#include "formats/vst2/vst2_instance.h"

namespace lumisere::vst2 {

namespace {

// Writes exactly size bytes to dest: the text, then zero bytes. The text is cut to leave a terminator.
void writeFixedText(void* dest, const char* text, std::size_t size) {
    if (dest == nullptr || size == 0) return;
    char* out = static_cast<char*>(dest);
    std::size_t n = std::strlen(text);
    if (n > size - 1) n = size - 1;
    std::memcpy(out, text, n);
    std::memset(out + n, 0, size - n);
}

}  // namespace

VstIntPtr dispatch(Vst2Instance& instance, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                   float opt) {
    switch (static_cast<std::uint32_t>(opcode)) {
        case effOpen:  // [ui thread] nothing to do: the instance is complete from creation
            return 1;

        case effClose:  // [ui thread] the record is gone afterwards
            destroyInstance(&instance);
            return 1;

        case effGetParamLabel:  // [ui thread] 32 bytes; an unknown index writes nothing
            if (isParamIndex(index)) writeFixedText(ptr, kParams[index].label, kHostTextSize);
            return 1;

        case effGetParamDisplay: {  // [ui thread] 32 bytes; an unknown index shows "0.00"
            char text[kParamDisplayCapacity];
            formatParamDisplay(static_cast<std::uint32_t>(index), instance.processor.param(index), text, sizeof text);
            writeFixedText(ptr, text, kHostTextSize);
            return 1;
        }

        case effGetParamName:  // [ui thread] 32 bytes; an unknown index writes nothing
            if (isParamIndex(index)) writeFixedText(ptr, kParams[index].hostName, kHostTextSize);
            return 1;

        case effSetSampleRate:  // [ui thread] rate in opt; unusable rates fall back to 44100
            instance.processor.setSampleRate(opt);
            return 1;

        case effSetBlockSize:  // [ui thread] any block size is processed as it comes
            return 1;

        case effMainsChanged:  // [ui thread] value 0 switches processing off (pass-through)
            instance.processor.setSuspended(value == 0);
            return 1;

        case effEditGetRect:  // [ui thread] ptr is an ERect** to fill, or null
            if (ptr != nullptr) *static_cast<ERect**>(ptr) = &instance.editorRect;
            return 1;

        case effEditOpen: {  // [ui thread] ptr is the host's parent window (an HWND, or an X11 window id)
            const bool opened = instance.openEditor(ptr);
            instance.deliverEdits();  // the end of a drag in a window this open replaced
            return opened ? 1 : 0;
        }

        case effEditClose:  // [ui thread] also when no editor is open
            instance.closeEditor();
            return 1;

        case effEditIdle:  // [ui thread] the editor keeps its own time; this only hands over its edits
            instance.deliverEdits();
            return 0;

        case effCanBeAutomated:  // [ui thread] every parameter may be recorded
            return isParamIndex(index) ? 1 : 0;

        case effGetPlugCategory:  // [ui thread]
            return kPlugCategEffect;

        case effGetEffectName:  // [ui thread] 32 bytes
            writeFixedText(ptr, kProductName, kHostTextSize);
            return 1;

        case effGetVendorString:  // [ui thread] 32 bytes
            writeFixedText(ptr, kVendorName, kHostTextSize);
            return 1;

        case effGetProductString:  // [ui thread] 64 bytes
            writeFixedText(ptr, kProductDescription, kHostProductTextSize);
            return 1;

        case effGetVendorVersion:  // [ui thread]
            return kVendorVersion;

        case effCanDo:  // [ui thread] ptr is a zero-terminated capability name, or null
            return (ptr != nullptr && std::strcmp(static_cast<const char*>(ptr), kCanDoTimeInfo) == 0) ? 1 : 0;

        default:  // programs, chunks, events, idle, and every opcode we do not know
            return 0;
    }
}

VstIntPtr VSTCALLBACK dispatcherEntry(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                      float opt) {
    const HostEntryGuard masked;  // a debug host may run with floating-point exceptions unmasked
    Vst2Instance* instance = Vst2Instance::fromEffect(effect);
    return instance == nullptr ? 0 : dispatch(*instance, opcode, index, value, ptr, opt);
}

}  // namespace lumisere::vst2
