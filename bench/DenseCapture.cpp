// Writes a record file dense with PD traffic, for timing the decoder on a real file: back-to-back
// fixed-supply negotiations on CC1 (Source_Capabilities, Request, Accept, PS_RDY, each answered by a
// GoodCRC), one packet per 0.9 ms, and a VBUS sample every millisecond.
//
//   dense_capture OUT.qxc [SECONDS]   (default 60 s)
#include "RecordEncoder.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double kPacketSpacing = 900; // µs per packet on average
constexpr double kSampleSpacing = 1000;

uint16_t Header(int type, int objects, bool fromSource, int messageId) {
    // Revision 2.0; the source is the DFP.
    return uint16_t(type | (fromSource ? 1 << 5 : 0) | (1 << 6) | (fromSource ? 1 << 8 : 0) |
                    ((messageId & 7) << 9) | ((objects & 7) << 12));
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

uint32_t FixedPdo(int millivolts, int milliamps) { return uint32_t(millivolts / 50) << 10 | uint32_t(milliamps / 10); }

// The negotiation's messages in order, with the side that sends each; the GoodCRCs come in between.
struct Message {
    std::vector<uint8_t> bytes;
    bool fromSource;
};

std::vector<Message> Negotiation(int sourceId, int sinkId, int position) {
    std::vector<Message> m;
    std::vector<uint8_t> caps;
    PutU16(caps, Header(1, 4, true, sourceId));
    PutU32(caps, FixedPdo(5000, 3000) | (1u << 29) | (1u << 25)); // USB communications capable, DRD
    PutU32(caps, FixedPdo(9000, 3000));
    PutU32(caps, FixedPdo(15000, 3000));
    PutU32(caps, FixedPdo(20000, 2250));
    m.push_back({caps, true});
    std::vector<uint8_t> request;
    PutU16(request, Header(2, 1, false, sinkId));
    PutU32(request, uint32_t(position) << 28 | 300u << 10 | 300u);
    m.push_back({request, false});
    std::vector<uint8_t> accept;
    PutU16(accept, Header(3, 0, true, sourceId + 1));
    m.push_back({accept, true});
    std::vector<uint8_t> ready;
    PutU16(ready, Header(6, 0, true, sourceId + 2));
    m.push_back({ready, true});
    return m;
}

enc::VbusSample Sample(double t, uint16_t mV, int32_t mA) {
    enc::VbusSample s;
    s.time = t;
    s.vbusVoltage = mV;
    s.vbusCurrent = mA;
    s.cc1Voltage = 1680;
    s.cc1Current = 0;
    s.cc2Voltage = 0;
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: dense_capture OUT.qxc [SECONDS]\n");
        return 2;
    }
    const double seconds = argc == 3 ? std::atof(argv[2]) : 60.0;
    if (!(seconds > 0 && seconds <= 3600)) {
        std::fprintf(stderr, "dense_capture: SECONDS must lie in (0, 3600]\n");
        return 2;
    }

    std::vector<uint8_t> data(64);
    enc::WriteOpenHeaderBlock(data.data());
    enc::EncoderConfig config;
    config.samplesPerVbusBlock = 3;
    enc::CRecordEncoder e(config, enc::AppendTo(data));

    const double end = seconds * 1e6;
    double nextSample = 0;
    int sourceId = 0, sinkId = 0, round = 0;
    long packets = 0;
    uint16_t vbus = 5000;
    auto samplesUpTo = [&](double t) {
        for (; nextSample <= t && nextSample <= end; nextSample += kSampleSpacing)
            e.AddVbusSample(Sample(nextSample, vbus, vbus == 5000 ? 100 : 1500));
    };
    auto duration = [&](const std::vector<uint8_t>& bytes) {
        return enc::FrameTransitions(kKindSop, bytes.data(), bytes.size(), {}, {}, e.Random()).back();
    };
    // A Source_Capabilities frame lasts longer than 0.9 ms: the packets of one negotiation share its
    // 8 × 0.9 ms evenly, each followed by the same idle gap.
    double t = 1000; // the first sample at time 0 is the capture origin
    for (;;) {
        const int position = 1 + round % 4;
        std::vector<std::vector<uint8_t>> frames;
        for (const Message& m : Negotiation(sourceId, sinkId, position)) {
            frames.push_back(m.bytes);
            std::vector<uint8_t> goodCrc;
            PutU16(goodCrc, Header(1, 0, !m.fromSource, (m.bytes[1] >> 1) & 7));
            frames.push_back(goodCrc);
        }
        const double span = kPacketSpacing * double(frames.size());
        if (t + span > end) break;
        double busy = 0;
        for (const auto& f : frames) busy += duration(f);
        const double gap = (span - busy) / double(frames.size());
        for (const auto& f : frames) {
            samplesUpTo(t);
            e.AddMessage(0, t, kKindSop, f);
            t += duration(f) + gap;
            ++packets;
        }
        sourceId = (sourceId + 3) & 7;
        sinkId = (sinkId + 1) & 7;
        vbus = position == 1 ? 5000 : uint16_t(position == 2 ? 9000 : position == 3 ? 15000 : 20000);
        ++round;
    }
    samplesUpTo(end);
    e.Finish(end);

    const uint8_t serial[12] = {'D', 'E', 'N', 'S', 'E', '0', '0', '0', '0', '0', '0', '1'};
    enc::WriteClosedHeaderBlock(data.data(), 0x0110, serial, uint64_t(data.size() - 64));

    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "dense_capture: %s: write failed\n", argv[1]);
        return 1;
    }
    std::printf("%s: %ld packets in %.1f s, %zu bytes\n", argv[1], packets, seconds, data.size());
    return 0;
}
