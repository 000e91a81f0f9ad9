#include "DemoCapture.h"

#include "CCPacket.h"
#include "RecordEncoder.h"
#include "RecordStream.h"

#include <cstdio>
#include <memory>

namespace {

// Header word of an SOP message at revision 3.0.
uint16_t Header(int type, bool source, int id, int objects) {
    return uint16_t(type | (source ? 0x20 : 0) | 0x80 | (source ? 0x100 : 0) | ((id & 7) << 9) | (objects << 12));
}

std::vector<uint8_t> Message(uint16_t header, std::initializer_list<uint32_t> objects = {}) {
    std::vector<uint8_t> bytes = {uint8_t(header), uint8_t(header >> 8)};
    for (uint32_t o : objects)
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(o >> (8 * i)));
    return bytes;
}

uint32_t FixedPdo(int mV, int mA) { return uint32_t((mV / 50) << 10 | (mA / 10)); }

class Demo {
public:
    Demo(const enc::EncoderConfig& config, enc::CRecordEncoder::BlockSink sink) : e(config, std::move(sink)) {}

    // Sends a message and the partner's GoodCRC; returns the time after the exchange.
    double Exchange(double t, bool fromSource, int type, std::initializer_list<uint32_t> objects = {}) {
        int& id = fromSource ? sourceId : sinkId;
        const auto placed = e.AddMessage(0, t, kKindSop, Message(Header(type, fromSource, id, int(objects.size())), objects));
        const double end = double(placed.lastTick - e.OriginTick()) * e.Divisor() / 48.0;
        e.AddMessage(0, end + 120, kKindSop, Message(Header(1, !fromSource, id, 0)));
        id = (id + 1) & 7;
        return end + 120 + 400;
    }

    // VBUS samples every 10 ms up to time t, the voltage moving linearly towards `target`.
    void SamplesUntil(double t) {
        while (nextSample <= t) {
            if (voltage < target) voltage = std::min<double>(target, voltage + slope * 10000);
            enc::VbusSample s;
            s.time = nextSample;
            s.vbusVoltage = uint16_t(voltage);
            s.vbusCurrent = current;
            s.cc1Voltage = 1680;
            s.cc2Voltage = 0;
            e.AddVbusSample(s);
            nextSample += 10000;
        }
        e.AdvanceTo(t);
    }

    enc::CRecordEncoder e;
    int sourceId = 0, sinkId = 0;
    double nextSample = 0, voltage = 5000, target = 5000, slope = 0;
    int32_t current = 80;
};

} // namespace

std::vector<uint8_t> DemoStream(double seconds, uint16_t clockSetting, uint32_t seed) {
    std::vector<uint8_t> out;
    enc::EncoderConfig config;
    config.clockSetting = clockSetting;
    config.seed = seed;
    Demo d(config, enc::AppendTo(out));
    double t = 50000;
    d.SamplesUntil(t);
    t = d.Exchange(t, true, 1, {FixedPdo(5000, 3000) | 0x26000000u, FixedPdo(9000, 3000), FixedPdo(15000, 3000),
                                FixedPdo(20000, 3000)});
    t = d.Exchange(t + 800, false, 2, {(4u << 28) | (300u << 10) | 300u});
    t = d.Exchange(t + 300, true, 3);
    d.SamplesUntil(t + 20000);
    d.target = 20000;
    d.slope = 15000.0 / 30000.0; // 15 V in 30 ms
    d.SamplesUntil(t + 60000);
    t = d.Exchange(t + 60000, true, 6);
    d.SamplesUntil(t + 100000);
    // Load steps every half second until the end.
    int step = 0;
    for (double when = t + 100000; when < seconds * 1e6; when += 500000, ++step) {
        d.current = (step % 3 == 0) ? 2500 : (step % 3 == 1) ? 1200 : 400;
        d.SamplesUntil(when);
    }
    d.SamplesUntil(seconds * 1e6);
    d.e.Finish(seconds * 1e6);
    return out;
}

bool WriteDemoCapture(const std::string& path, double seconds, uint16_t clockSetting, uint32_t seed) {
    const std::vector<uint8_t> stream = DemoStream(seconds, clockSetting, seed);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f) return false;
    uint8_t header[rec::kBlockSize];
    const uint8_t serial[12] = {};
    enc::WriteClosedHeaderBlock(header, 0x0110, serial, stream.size());
    bool ok = std::fwrite(header, 1, sizeof header, f.get()) == sizeof header;
    ok = ok && std::fwrite(stream.data(), 1, stream.size(), f.get()) == stream.size();
    return std::fflush(f.get()) == 0 && ok;
}
