#include "PdObjects.h"

#include <algorithm>

namespace synth {

namespace {

uint32_t Field(int32_t value, int32_t unit, int bits) {
    const int32_t v = std::max<int32_t>(0, value / unit);
    return uint32_t(std::min<int64_t>(v, (int64_t(1) << bits) - 1));
}

} // namespace

uint32_t FixedPdo(int32_t mV, int32_t mA, uint32_t flags) {
    return (flags & 0x3F800000u) | (Field(mV, 50, 10) << 10) | Field(mA, 10, 10);
}

uint32_t VariablePdo(int32_t minMv, int32_t maxMv, int32_t mA) {
    return (2u << 30) | (Field(maxMv, 50, 10) << 20) | (Field(minMv, 50, 10) << 10) | Field(mA, 10, 10);
}

uint32_t BatteryPdo(int32_t minMv, int32_t maxMv, int32_t mW) {
    return (1u << 30) | (Field(maxMv, 50, 10) << 20) | (Field(minMv, 50, 10) << 10) | Field(mW, 250, 10);
}

uint32_t PpsApdo(int32_t minMv, int32_t maxMv, int32_t mA, bool powerLimited) {
    return (3u << 30) | (powerLimited ? 1u << 27 : 0) | (Field(maxMv, 100, 8) << 17) |
           (Field(minMv, 100, 8) << 8) | Field(mA, 50, 7);
}

uint32_t EprAvsApdo(int32_t minMv, int32_t maxMv, int32_t pdpW) {
    return (3u << 30) | (1u << 28) | (Field(maxMv, 100, 9) << 17) | (Field(minMv, 100, 8) << 8) |
           Field(pdpW, 1, 8);
}

uint32_t SprAvsApdo(int32_t mA15, int32_t mA20) {
    return (3u << 30) | (2u << 28) | (Field(mA15, 10, 10) << 10) | Field(mA20, 10, 10);
}

PdoInfo DescribePdo(uint32_t p) {
    PdoInfo i;
    if (p == 0) return i;
    switch (p >> 30) {
    case 0:
        i.kind = PdoKind::Fixed;
        i.minMv = i.maxMv = int32_t((p >> 10) & 0x3FF) * 50;
        i.maxMa = int32_t(p & 0x3FF) * 10;
        break;
    case 1:
        i.kind = PdoKind::Battery;
        i.maxMv = int32_t((p >> 20) & 0x3FF) * 50;
        i.minMv = int32_t((p >> 10) & 0x3FF) * 50;
        i.maxMw = int32_t(p & 0x3FF) * 250;
        break;
    case 2:
        i.kind = PdoKind::Variable;
        i.maxMv = int32_t((p >> 20) & 0x3FF) * 50;
        i.minMv = int32_t((p >> 10) & 0x3FF) * 50;
        i.maxMa = int32_t(p & 0x3FF) * 10;
        break;
    default:
        switch ((p >> 28) & 3) {
        case 0:
            i.kind = PdoKind::Pps;
            i.maxMv = int32_t((p >> 17) & 0xFF) * 100;
            i.minMv = int32_t((p >> 8) & 0xFF) * 100;
            i.maxMa = int32_t(p & 0x7F) * 50;
            break;
        case 1:
            i.kind = PdoKind::EprAvs;
            i.maxMv = int32_t((p >> 17) & 0x1FF) * 100;
            i.minMv = int32_t((p >> 8) & 0xFF) * 100;
            i.maxMw = int32_t(p & 0xFF) * 1000;
            i.maxMa = i.maxMv > 0 ? int32_t(int64_t(i.maxMw) * 1000 / i.maxMv) : 0;
            break;
        case 2:
            i.kind = PdoKind::SprAvs;
            i.minMv = 9000;
            i.maxMv = (p & 0x3FF) ? 20000 : 15000;
            i.maxMa = int32_t((p >> 10) & 0x3FF) * 10;
            break;
        default:
            i.kind = PdoKind::UnknownApdo;
            break;
        }
    }
    return i;
}

uint32_t FixedRdo(int position, int32_t operatingMa, int32_t limitMa, uint32_t flags) {
    return (uint32_t(position & 0xF) << 28) | (flags & 0x0FC00000u) | (Field(operatingMa, 10, 10) << 10) |
           Field(limitMa, 10, 10);
}

uint32_t BatteryRdo(int position, int32_t operatingMw, int32_t limitMw, uint32_t flags) {
    return (uint32_t(position & 0xF) << 28) | (flags & 0x0FC00000u) | (Field(operatingMw, 250, 10) << 10) |
           Field(limitMw, 250, 10);
}

uint32_t PpsRdo(int position, int32_t mV, int32_t mA, uint32_t flags) {
    return (uint32_t(position & 0xF) << 28) | (flags & 0x07C00000u) | (Field(mV, 20, 11) << 9) |
           Field(mA, 50, 7);
}

uint32_t AvsRdo(int position, int32_t mV, int32_t mA, uint32_t flags) {
    // The output voltage moves in 100 mV steps, carried in 25 mV units.
    return (uint32_t(position & 0xF) << 28) | (flags & 0x07C00000u) | (Field(mV / 100 * 100, 25, 12) << 9) |
           Field(mA, 50, 7);
}

uint32_t VdmHeader(uint16_t svid, int command, int commandType, int position, int major, int minor) {
    return (uint32_t(svid) << 16) | 0x8000u | (uint32_t(major & 3) << 13) | (uint32_t(minor & 3) << 11) |
           (uint32_t(position & 7) << 8) | (uint32_t(commandType & 3) << 6) | uint32_t(command & 0x1F);
}

} // namespace synth
