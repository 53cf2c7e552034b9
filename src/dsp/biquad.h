// A second-order section in direct form I with a0 divided out.
#pragma once

#include "dsp/core_copy.h"

namespace lumisere::dsp {

struct Biquad {
    double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;  // coefficients, a1/a2 with the sign of the subtraction
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;            // last two inputs and outputs
};

inline namespace LUMISERE_CORE_COPY {

inline double stepBiquad(Biquad& f, double x) {
    const double y = f.b0 * x + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
    f.x2 = f.x1;
    f.x1 = x;
    f.y2 = f.y1;
    f.y1 = y;
    return y;
}

}  // namespace LUMISERE_CORE_COPY
}  // namespace lumisere::dsp
