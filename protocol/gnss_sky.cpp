#include "protocol/gnss_sky.h"

namespace vantora {

const char* GnssSystemName(int system) {
    static const char* const names[GnssSystemCount] = {"GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "NavIC", "SBAS"};
    return system >= 0 && system < GnssSystemCount ? names[system] : "";
}

char GnssSystemLetter(int system) {
    static const char letters[GnssSystemCount + 1] = "GRECJIS";
    return system >= 0 && system < GnssSystemCount ? letters[system] : '?';
}

const char* GgaQualityName(int quality) {
    switch (quality) {
        case GgaRtk: return "RTK";
        case GgaFloat: return "Float";
        case GgaDeadReckoning: return "DR";
        case GgaSimulation: return "Sim";
        default: return "";
    }
}

}  // namespace vantora
