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
    // Only the structure counts, since an analyzer may set any bit the format leaves unread: marker blocks
    // (the header block among them), VBUS blocks of at most three samples whose times go forward, and
    // edge blocks that continue the numbered sequence of the edge block before them look right. A VBUS
    // block without samples says nothing either way.
    const size_t blocks = std::min<size_t>(size / kBlockSize, 64);
    size_t good = 0, judged = 0;
    int lastCounter = -1, lastSub = -1;
    int64_t lastStamp = -1;
    for (size_t k = 0; k < blocks; ++k) {
        const uint8_t* b = data + k * kBlockSize;
        bool fits = true;
        switch (ClassifyBlock(b)) {
        case BlockKind::Marker: break;
        case BlockKind::VbusSamples: {
            const int n = ReadU16(b) & 0x0F;
            if (n == 0) continue;
            fits = n <= kSamplesPerBlock;
            for (int i = 0; fits && i < n; ++i) {
                const int64_t stamp = ReadU32(b + 2 + kSampleSize * i);
                fits = stamp > lastStamp;
                lastStamp = stamp;
            }
            break;
        }
        case BlockKind::CcEdges: {
            const int counter = CcBlockCounter(b), sub = CcSubCounter(b);
            fits = lastCounter < 0 ? sub <= 7 : ContinuesSequence(lastCounter, lastSub, counter, sub);
            lastCounter = counter;
            lastSub = sub;
            break;
        }
        }
        ++judged;
        if (fits) ++good;
    }
    return good > 0 && good * 2 >= judged;
}

} // namespace rec
