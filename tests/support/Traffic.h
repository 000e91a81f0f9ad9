// PD traffic for tests: messages encoded into a record stream one after another, then decoded.
#pragma once

#include "CaptureStore.h"
#include "RecordEncoder.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace traffic {

// Header word: message type, roles, revision field, MessageID, data objects, extended bit.
struct Header {
    int type = 1;
    bool source = false; // power role (cable plug on SOP'/SOP'')
    bool dfp = false;
    int revision = 2; // field value: 2 = 3.0
    int id = 0;
    int objects = 0;
    bool extended = false;
    uint16_t Word() const {
        return uint16_t((type & 0x1F) | (dfp ? 0x20 : 0) | ((revision & 3) << 6) | (source ? 0x100 : 0) |
                        ((id & 7) << 9) | ((objects & 7) << 12) | (extended ? 0x8000 : 0));
    }
};

inline std::vector<uint8_t> Bytes(uint16_t header, std::initializer_list<uint32_t> objects = {}) {
    std::vector<uint8_t> b = {uint8_t(header), uint8_t(header >> 8)};
    for (uint32_t o : objects)
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(o >> (8 * i)));
    return b;
}

// Messages placed one after another on one channel, 300 µs apart, after a VBUS sample at 0.
class Session {
public:
    explicit Session(int channel = 0) : channel_(channel), encoder_({}, enc::AppendTo(stream_)) {
        enc::VbusSample s;
        s.vbusVoltage = 5000;
        encoder_.AddVbusSample(s);
    }
    void Send(const std::vector<uint8_t>& bytes, int32_t kind = kKindSop, const enc::FrameOptions& options = {}) {
        const enc::PlacedFrame f = encoder_.AddMessage(channel_, t_, kind, bytes, options);
        t_ = double(f.lastTick - encoder_.OriginTick()) * encoder_.Divisor() / 48.0 + 300;
        encoder_.AdvanceTo(t_);
    }
    void Send(const Header& h, std::initializer_list<uint32_t> objects = {}) {
        Header hh = h;
        hh.objects = int(objects.size());
        Send(Bytes(hh.Word(), objects));
    }
    // Finishes the stream and decodes it into the store.
    void DecodeInto(CCaptureStore& store) {
        encoder_.Finish(t_ + 100);
        store.DecodeChunk(stream_.data(), stream_.size(), 0);
    }
    double Now() const { return t_; }

private:
    int channel_;
    double t_ = 1000;
    std::vector<uint8_t> stream_;
    enc::CRecordEncoder encoder_;
};

} // namespace traffic
