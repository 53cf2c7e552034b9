#include "formats/lv2/lv2_ports.h"

#include <charconv>
#include <cmath>

namespace lumisere::lv2 {

float portValueToNormalised(int paramIndex, float portValue) {
    if (!isParamIndex(paramIndex)) return 0.0f;
    if (kParams[paramIndex].kind == ParamKind::toggle) {
        if (std::isnan(portValue)) return portValue;
        return portValue > 0.0f ? 1.0f : 0.0f;
    }
    // Shortest round-trip text of a float: at most 9 significant digits, sign, point and exponent;
    // "nan" and "inf" read back as themselves. Neither direction allocates or reads the locale, so
    // this may run on the audio thread.
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, portValue);
    double units = static_cast<double>(portValue);
    std::from_chars(text, written.ptr, units);
    return static_cast<float>(unitsToNormalised(paramIndex, units));
}

}  // namespace lumisere::lv2
