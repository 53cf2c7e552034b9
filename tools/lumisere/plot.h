// The picture of what `lumisere suggest` measured: the gate detector's level distribution with the
// hiss floor, the speech level and the proposed Dipses Thresh marked, and the spectrum of the
// sibilant frames (and of the rest of the voice) across the Focus Freq range with the proposed focus.
#pragma once

#include <string>

#include "suggest.h"

namespace lumisere::cli {

constexpr int kPlotWidth = 800;
constexpr int kPlotHeight = 520;

// Draws the picture and writes it as a PNG the way `process` writes its outputs (a temporary file
// renamed into place, an existing file replaced only with `replace`). Throws FileError.
void writeSuggestPlot(const std::string& png, bool replace, const Measurements& m, const Proposal& p);

}  // namespace lumisere::cli
