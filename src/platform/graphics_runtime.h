// The process-wide graphics runtime the editor draws with (GDI+ on Windows). Started with the first
// live instance and shut down with the last; on platforms that need no global start both are no-ops.
#pragma once

#include <cstdint>

namespace lumisere::platform {

// Returns the runtime's token, 0 when nothing was started.
std::uintptr_t startGraphicsRuntime();

// Ends the runtime started with token; a token of 0 does nothing.
void stopGraphicsRuntime(std::uintptr_t token);

}  // namespace lumisere::platform
