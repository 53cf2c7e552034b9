// A second-order section in direct form I with a0 divided out.
#pragma once

namespace lumisere::dsp {

struct Biquad {
    double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;  // coefficients, a1/a2 with the sign of the subtraction
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;            // last two inputs and outputs

    double step(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

}  // namespace lumisere::dsp
