#include "platform/graphics_runtime.h"

namespace lumisere::platform {

std::uintptr_t startGraphicsRuntime() { return 0; }

void stopGraphicsRuntime(std::uintptr_t) {}

}  // namespace lumisere::platform
