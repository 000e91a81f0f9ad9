#include "RecordStream.h"

#include <algorithm>
#include <cstdio>

namespace {
std::string Format(const char* fmt, float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, double(v));
    return buf;
}
} // namespace

std::string CVbusInfo::VbusVoltageText() const { return Format("%2.2f", float(vbusVoltage) / 1000.0f); }

std::string CVbusInfo::VbusCurrentText(bool reverse) const {
    const int32_t i = reverse ? -int32_t(vbusCurrent) : vbusCurrent;
    return Format("%1.3f", float(i) / 1000.0f);
}

std::string CVbusInfo::VbusPowerText(bool reverse) const {
    const int32_t i = reverse ? -int32_t(vbusCurrent) : vbusCurrent;
    return Format("%.3f", float(i) * float(vbusVoltage) / 1000.0f / 1000.0f);
}

std::string CVbusInfo::CcVoltageText(int channel) const {
    return Format("%1.2f", float(channel == 0 ? cc1Voltage : cc2Voltage) / 1000.0f);
}

namespace rec {

bool LooksLikeRecordStream(const uint8_t* data, size_t size) {
    const size_t blocks = std::min<size_t>(size / kBlockSize, 64);
    if (blocks == 0) return false;
    size_t good = 0;
    for (size_t k = 0; k < blocks; ++k) {
        const uint8_t* b = data + k * kBlockSize;
        const uint16_t w = ReadU16(b);
        switch (ClassifyBlock(b)) {
        case BlockKind::Marker: ++good; break;
        case BlockKind::VbusSamples:
            if ((w & 0xDFF0) == 0 && (w & 0x0F) <= kSamplesPerBlock) ++good;
            break;
        case BlockKind::CcEdges:
            if (CcSubCounter(b) <= 7 && CcClockSetting(b) < 0x200) ++good;
            break;
        }
    }
    return good * 2 >= blocks;
}

} // namespace rec
