// The UI library's only export, lv2ui_descriptor, and the descriptor's entries. Every entry comes on
// the host's UI thread; each checks its handle and arguments before it forwards to the instance, with
// floating-point exceptions masked for the call (formats/module/host_entry.h).
#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>

#include <cstring>
#include <new>

#include "editor/panel.h"
#include "formats/lv2/lv2_ports.h"
#include "formats/lv2/ui_instance.h"
#include "formats/module/host_entry.h"

namespace {

using lumisere::HostEntryGuard;
using lumisere::lv2::EditDelivery;
using lumisere::lv2::UiInstance;

UiInstance* instanceOf(LV2UI_Handle handle) { return static_cast<UiInstance*>(handle); }

bool isFeature(const LV2_Feature* feature, const char* uri) {
    return feature != nullptr && feature->URI != nullptr && std::strcmp(feature->URI, uri) == 0;
}

// What the editor takes from the host's features.
struct HostFeatures {
    void* parent = nullptr;                 // ui:parent, the X11 window to open in (required)
    const LV2UI_Resize* resize = nullptr;   // ui:resize, told the editor's size (optional)
    bool callsIdle = false;                 // ui:idleInterface: the host calls idle() on its UI thread
};

HostFeatures hostFeatures(const LV2_Feature* const* features) {
    HostFeatures found;
    for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f) {
        if (isFeature(*f, LV2_UI__parent)) found.parent = (*f)->data;
        if (isFeature(*f, LV2_UI__resize)) found.resize = static_cast<const LV2UI_Resize*>((*f)->data);
        if (isFeature(*f, LV2_UI__idleInterface)) found.callsIdle = true;
    }
    return found;
}

// Opens the editor in the host's parent window. Null for another plug-in, without a write function,
// a widget to fill or a parent, for a parent that is no window, and when memory is short.
LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    const HostEntryGuard masked;
    if (pluginUri == nullptr || std::strcmp(pluginUri, lumisere::lv2::kPluginUri) != 0 || write == nullptr ||
        widget == nullptr) {
        return nullptr;
    }
    const HostFeatures host = hostFeatures(features);
    if (host.parent == nullptr) return nullptr;

    // Edits go out from the host's idle calls when it makes them; without them, from the editor's thread.
    auto* ui = new (std::nothrow)
        UiInstance(write, controller, host.callsIdle ? EditDelivery::fromIdle : EditDelivery::fromEventThread);
    if (ui == nullptr) return nullptr;
    if (!ui->open(host.parent)) {
        delete ui;
        return nullptr;
    }
    *widget = ui->window();
    if (host.resize != nullptr && host.resize->ui_resize != nullptr) {
        host.resize->ui_resize(host.resize->handle, lumisere::editor::kEditorWidth, lumisere::editor::kEditorHeight);
    }
    return ui;
}

// Closes the window and frees the instance; the edits still pending go to the host first.
void cleanup(LV2UI_Handle handle) {
    const HostEntryGuard masked;
    delete instanceOf(handle);
}

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t bufferSize, uint32_t format, const void* buffer) {
    const HostEntryGuard masked;
    if (UiInstance* ui = instanceOf(handle)) ui->portEvent(port, bufferSize, format, buffer);
}

int idle(LV2UI_Handle handle) {
    const HostEntryGuard masked;
    UiInstance* ui = instanceOf(handle);
    return ui != nullptr ? ui->idle() : 1;
}

const LV2UI_Idle_Interface kIdleInterface = {idle};

// ui:idleInterface is the one extension offered.
const void* extensionData(const char* uri) {
    return uri != nullptr && std::strcmp(uri, LV2_UI__idleInterface) == 0 ? &kIdleInterface : nullptr;
}

const LV2UI_Descriptor kDescriptor = {lumisere::lv2::kUiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace

// The library holds one UI, at index 0.
LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
