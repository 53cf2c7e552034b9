// `lumisere snapshot`: the editor drawn as it would look at given parameter and meter values, written
// as a PNG at the editor's own size of 840 x 520.
#pragma once

#include <atomic>
#include <string>

namespace lumisere::cli {

// Draws the editor with the nine normalised parameters (each clamped as a write would clamp it) and
// the de-esser and gate reductions in positive dB, and writes it to outPng the way `process` writes
// its outputs: through a temporary file beside it, replacing only a regular file and only with
// `replace`, and not at all once `stop` is set. Returns 0 on success; otherwise a non-zero code with
// a message in error: 1 when the picture could not be drawn or written, 2 when params is null.
// Frees Cairo's and fontconfig's process-wide caches afterwards, so call it with no other Cairo
// object alive.
int writeEditorSnapshot(const std::string& outPng, bool replace, const float params[9], float deEssDb, float gateDb,
                        const std::atomic<bool>& stop, std::string& error);

}  // namespace lumisere::cli
