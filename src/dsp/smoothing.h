// One-pole smoothing, the one recurrence every envelope, follower and meter of the chain is built on:
// value <- value * k + (1 - k) * input.
#pragma once

#include <cmath>

#include "dsp/core_copy.h"

namespace lumisere::dsp {
inline namespace LUMISERE_CORE_COPY {

// The factor k of a one-pole smoother with time constant tauSeconds at fs Hz: after tauSeconds of a
// step the value has covered 1 - 1/e (63 %) of it.
inline double decayFactor(double tauSeconds, double fs) { return std::exp(-1.0 / (tauSeconds * fs)); }

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
