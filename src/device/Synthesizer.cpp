#include "Synthesizer.h"

#include "CCPacket.h"
#include "MessageBuilder.h"
#include "MessageHeaderWord.h"
#include "MessageTypes.h"
#include "PdConstants.h"
#include "PdObjects.h"
#include "RecordStream.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>

namespace synth {

namespace {

using enum MessageTypeId;

uint16_t HeaderOf(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 2 ? uint16_t(bytes[0] | (bytes[1] << 8)) : 0;
}

// Uniform in [lo, hi) from the generator's raw output, the same on every standard library.
double Uniform(std::mt19937& rng, double lo, double hi) {
    return lo + (hi - lo) * (double(rng()) + 0.5) / 4294967296.0;
}

// A value over time: linear between points, held after the last one. New points replace what was
// planned after them.
class CTrack {
public:
    explicit CTrack(double v = 0) { points.push_back({-1e18, v}); }

    double At(double t) const {
        auto it = std::upper_bound(points.begin(), points.end(), t,
                                   [](double v, const Point& p) { return v < p.t; });
        if (it == points.begin()) return points.front().v;
        const Point& a = *(it - 1);
        if (it == points.end()) return a.v;
        return a.v + (it->v - a.v) * (t - a.t) / (it->t - a.t);
    }
    void Set(double t, double v) {
        Cut(t);
        points.push_back({t, v});
    }
    // From the value at t0 to v1 at t1.
    void Ramp(double t0, double t1, double v1) {
        Cut(t0);
        points.push_back({std::max(t1, t0), v1});
    }
    double LastTime() const { return points.back().t; }
    double Final() const { return points.back().v; }
    // Points before t are not needed any more.
    void Forget(double t) {
        while (points.size() > 2 && points[1].t <= t) points.pop_front();
    }

private:
    struct Point {
        double t, v;
    };
    void Cut(double t) {
        const double v = At(t);
        while (points.size() > 1 && points.back().t > t) points.pop_back();
        points.push_back({t, v});
    }
    std::deque<Point> points;
};

int KindIndex(int32_t kind) {
    switch (kind) {
    case kKindSopPrime:
    case kKindSopPrimeDebug:
        return 1;
    case kKindSopDoublePrime:
    case kKindSopDoublePrimeDebug:
        return 2;
    default:
        return 0;
    }
}

// Rp seen through the sink's Rd: default USB, 1.5 A, 3.0 A.
int32_t RpMillivolts(int rp) {
    return rp <= 0 ? 408 : rp == 1 ? 918 : 1683;
}

// Ports 0 and 1, the cable plug on SOP' (2) and on SOP'' (3).
struct Node {
    const Party* party = nullptr;
    double ui = 3.33;
    bool source = false, dfp = false; // header role bits of a port
    int maxRevision = kRev30;
    int revision[3] = {kRev30, kRev30, kRev30};
    int id[3] = {};
};

struct Accepted {
    bool valid = false;
    int32_t targetMv = 5000, operatingMa = 0;
};

enum class Pending { None, PrSwap, DrSwap, VconnSwap };

} // namespace

const char* OutcomeName(Outcome o) {
    switch (o) {
    case Outcome::Good:
        return "good";
    case Outcome::BadCrc:
        return "bad CRC";
    case Outcome::NoEop:
        return "no EOP";
    case Outcome::NoPreamble:
        return "no preamble";
    case Outcome::NoOrderedSet:
        return "no ordered set";
    }
    return "?";
}

bool ClockSettingCarriesBmc(uint16_t clockSetting) {
    return rec::ClockDivisor(clockSetting) <= kMaxBmcDivisor;
}

struct CSynthesizer::Impl {
    Impl(const Scenario& s, const SynthOptions& o, enc::CRecordEncoder::BlockSink blocks, PacketSink p);

    // Script
    struct Level {
        const std::vector<Step>* steps;
        size_t index;
        int remaining;
        double every, start;
    };
    const Step* NextStep();
    bool Plan();
    void Execute();
    void RunUntil(double t);
    void Finish();

    // Frames
    struct Sent {
        bool sent = false;
        double end = 0;
    };
    struct Exchange {
        double end = 0;
        bool acked = false, cut = false;
    };
    double TimeOfTick(int64_t tick) const {
        return (double(tick) * encoder->Divisor() - double(options.baseTime) * kClockTicksPerMicro) /
               kClockTicksPerMicro;
    }
    Sent Place(double start, int channel, const std::vector<double>& offsets, ExpectedPacket* x);
    Sent SendFrame(double start, int32_t kind, const std::vector<uint8_t>& bytes, FrameError error,
                   double ui);
    Sent SendGlitch(double start, int channel, int transitions);
    Sent SendCarrier(double start, double ms, double ui);
    Exchange Transmit(int receiver, int32_t kind, const std::vector<uint8_t>& bytes, double start,
                      FrameError error, double ui, bool retry = true);
    double ExecuteMessage(const MessageStep& m, double start);
    // The header of a message from node; revision -1 takes the node's revision for the kind.
    std::vector<uint8_t> HeaderBytes(int node, int type, int32_t kind, int objects, bool extended, int id,
                                     int revision = -1) const;

    // Roles and effects
    int Resolve(Actor a, int32_t kind) const;
    int ReceiverOf(int sender, int32_t kind) const;
    bool Listening(int node) const;
    void Deliver(const MessageBody& body, int sender, int receiver, int32_t kind, int revision, double t);
    void HardReset(double t);
    void CableReset();
    void ResetPort(int port);

    // Analog
    double Slew(double from, double to) const {
        return std::abs(to - from) / std::max(1.0, scenario.timing.slewMvPerMs) * 1000.0;
    }
    int32_t LoadAt(double t) const;
    void OutputAt(double t, int32_t* mV, int32_t* mA) const;
    void EmitSamplesUpTo(double t);

    double Gap(double lo, double hi) { return Uniform(timing, lo, hi); }

    Scenario scenario;
    SynthOptions options;
    PacketSink packets;
    std::unique_ptr<enc::CRecordEncoder> encoder;
    std::mt19937 timing, analog;
    double endTime = 0;
    double cursor = 0;
    double busReady = 0;
    int64_t sampleIndex = 0;
    double sampleInterval = 10000;
    int channel = 0;
    bool finished = false;

    std::vector<Level> stack;
    bool planned = false, scriptDone = false;
    const Step* plannedStep = nullptr;
    double plannedTime = 0;

    Node nodes[4];
    int sourcePort = 0, dfpPort = 0, vconnPort = 0;
    std::vector<uint32_t> lastSourceCaps, lastEprCaps;
    Accepted requested, accepted;
    bool transition = false;
    Pending pending = Pending::None;
    int pendingFrom = -1;
    int swapStage = 0, oldSource = 0; // power role swap: 1 after Accept, 2 after the first PS_RDY
    bool vconnSwapAccepted = false;

    CTrack vbus, cap, direction, cc, vconn;
    std::vector<std::pair<double, LoadProfile>> profiles;
};

CSynthesizer::Impl::Impl(const Scenario& s, const SynthOptions& o, enc::CRecordEncoder::BlockSink blocks,
                         PacketSink p)
    : scenario(s), options(o), packets(std::move(p)), timing(o.seed), analog(o.seed ^ 0x9E3779B9u) {
    enc::EncoderConfig config;
    config.clockSetting = o.clockSetting;
    config.baseTime = o.baseTime;
    config.seed = o.seed;
    config.samplesPerVbusBlock = std::clamp(s.analog.samplesPerBlock, 1, rec::kSamplesPerBlock);
    encoder = std::make_unique<enc::CRecordEncoder>(config, std::move(blocks));
    endTime = (o.seconds > 0 ? o.seconds : s.seconds) * 1e6;
    sampleInterval = std::max(1, s.analog.sampleIntervalMs) * 1000.0;
    channel = s.orientation ? 1 : 0;

    nodes[0].party = &scenario.source;
    nodes[1].party = &scenario.sink;
    for (int i = 0; i < 2; ++i) {
        nodes[i].ui = nodes[i].party->unitInterval;
        nodes[i].maxRevision = nodes[i].party->revision;
    }
    for (int i = 2; i < 4; ++i) {
        nodes[i].ui = scenario.cable.unitInterval;
        nodes[i].maxRevision = scenario.cable.revision;
    }
    for (Node& n : nodes)
        for (int& r : n.revision) r = n.maxRevision;
    nodes[0].source = nodes[0].dfp = true;

    const Analog& a = scenario.analog;
    const double vconnMv = scenario.cable.present ? a.vconnMv : 0;
    cap = CTrack(a.idleMa);
    direction = CTrack(1);
    profiles.push_back({0.0, a.load});
    if (a.attach) {
        // Every line reads 0 until the plug-in, which an idle bus never sees.
        if (!o.idle) {
            const double plugged = 25000;
            cc.Set(plugged, RpMillivolts(scenario.source.rp));
            const double on = plugged + Gap(100000, 150000);
            vbus.Ramp(on, on + Slew(0, 5000), 5000);
            vconn.Set(on, vconnMv);
            busReady = on + Slew(0, 5000) + Gap(120000, 180000);
        }
    } else {
        vbus = CTrack(5000);
        cc = CTrack(RpMillivolts(scenario.source.rp));
        vconn = CTrack(vconnMv);
        busReady = 1000;
    }
    if (!o.idle) stack.push_back({&scenario.steps, 0, 1, 0, 0});
}

// ---------------------------------------------------------------------------------------------
// Script

const Step* CSynthesizer::Impl::NextStep() {
    while (!stack.empty()) {
        Level& l = stack.back();
        if (l.index < l.steps->size()) {
            const Step& s = (*l.steps)[l.index++];
            if (s.type != Step::Type::Repeat) return &s;
            if (s.repeatTimes != 0 && !s.body.empty())
                stack.push_back({&s.body, 0, s.repeatTimes, s.everyMs * 1000.0, cursor});
            continue;
        }
        if (l.remaining > 0) --l.remaining;
        // A repetition that took no time would repeat for ever at the same instant.
        if (stack.size() == 1 || l.remaining == 0 || (l.every <= 0 && cursor <= l.start)) {
            stack.pop_back();
            continue;
        }
        if (l.every > 0) cursor = std::max(cursor, l.start + l.every);
        l.start = cursor;
        l.index = 0;
    }
    return nullptr;
}

bool CSynthesizer::Impl::Plan() {
    if (planned) return true;
    if (scriptDone) return false;
    const Step* s = NextStep();
    if (!s) {
        scriptDone = true;
        return false;
    }
    plannedStep = s;
    const double after = s->afterMs >= 0 ? s->afterMs * 1000.0 : -1;
    double t = cursor;
    switch (s->type) {
    case Step::Type::Wait:
        break;
    case Step::Type::Load:
        t = s->atMs >= 0 ? s->atMs * 1000.0 : cursor + std::max(after, 0.0);
        break;
    case Step::Type::Glitch:
        t = s->atMs >= 0 ? s->atMs * 1000.0 : cursor + (after >= 0 ? after : Gap(200, 2000));
        break;
    case Step::Type::Message: {
        const MessageStep& m = s->message;
        const bool reset = m.name == "Hard Reset" || m.name == "Cable Reset";
        double gap = after;
        if (gap < 0) {
            const Timing& tm = scenario.timing;
            gap = (m.name == "Request" || m.name == "EPR_Request")
                      ? Gap(tm.requestMinMs, tm.requestMaxMs) * 1000.0
                      : Gap(tm.responseMinMs, tm.responseMaxMs) * 1000.0;
        }
        t = s->atMs >= 0 ? s->atMs * 1000.0 : cursor + gap;
        if (!reset) t = std::max(t, busReady);
        // The source reports ready once VBUS has settled at its new level.
        if (m.name == "PS_RDY")
            t = std::max(t, vbus.LastTime() +
                                Gap(scenario.timing.settleMinMs, scenario.timing.settleMaxMs) * 1000.0);
        break;
    }
    case Step::Type::Repeat:
        break;
    }
    plannedTime = t;
    planned = true;
    return true;
}

void CSynthesizer::Impl::Execute() {
    const Step& s = *plannedStep;
    planned = false;
    EmitSamplesUpTo(plannedTime);
    switch (s.type) {
    case Step::Type::Wait:
        cursor = plannedTime + s.waitMs * 1000.0;
        break;
    case Step::Type::Load:
        if (!s.load.empty()) profiles.push_back({plannedTime, s.load});
        cursor = std::max(cursor, plannedTime);
        break;
    case Step::Type::Glitch: {
        int line = channel;
        switch (s.glitch.line) {
        case GlitchStep::Line::Active:
            line = channel;
            break;
        case GlitchStep::Line::Other:
            line = 1 - channel;
            break;
        case GlitchStep::Line::Cc1:
            line = 0;
            break;
        case GlitchStep::Line::Cc2:
            line = 1;
            break;
        }
        const Sent g = SendGlitch(plannedTime, line, s.glitch.transitions);
        cursor = g.sent ? g.end : plannedTime;
        break;
    }
    case Step::Type::Message:
        cursor = ExecuteMessage(s.message, plannedTime);
        break;
    case Step::Type::Repeat:
        break;
    }
}

void CSynthesizer::Impl::RunUntil(double t) {
    if (finished) return;
    t = std::min(t, endTime);
    while (Plan()) {
        if (plannedTime >= endTime) {
            planned = false;
            scriptDone = true;
            break;
        }
        if (plannedTime > t) break;
        Execute();
    }
    EmitSamplesUpTo(t);
    encoder->AdvanceTo(t);
}

void CSynthesizer::Impl::Finish() {
    if (finished) return;
    RunUntil(endTime);
    encoder->Finish(endTime);
    finished = true;
}

// ---------------------------------------------------------------------------------------------
// Frames

CSynthesizer::Impl::Sent CSynthesizer::Impl::Place(double start, int line, const std::vector<double>& offsets,
                                                   ExpectedPacket* x) {
    Sent s;
    if (offsets.empty()) return s;
    std::vector<double> stretched;
    const std::vector<double>* at = &offsets;
    if (options.highStretch != 0) {
        // The line is low before every frame, so the odd transitions are the falling ones.
        stretched = offsets;
        for (size_t i = 1; i < stretched.size(); i += 2) stretched[i] += options.highStretch / 2;
        at = &stretched;
    }
    const enc::PlacedFrame f = encoder->AddTransitions(line, start, *at);
    s.sent = true;
    s.end = TimeOfTick(f.lastTick);
    if (x) {
        x->channel = line;
        x->startTime = f.startMicros - int64_t(options.baseTime);
        if (packets) packets(*x);
    }
    return s;
}

CSynthesizer::Impl::Sent CSynthesizer::Impl::SendFrame(double start, int32_t kind,
                                                       const std::vector<uint8_t>& bytes, FrameError error,
                                                       double ui) {
    if (start >= endTime) return {};
    EmitSamplesUpTo(start);
    enc::FrameOptions fo;
    enc::BmcTiming bt;
    bt.unitInterval = ui;
    bt.jitter = scenario.timing.jitter;
    ExpectedPacket x;
    x.kind = kind;
    x.unitInterval = ui;
    x.name = MessageTypeText(kind, HeaderOf(bytes));
    const bool message = IsMessageKind(kind);
    if (message) x.bytes = bytes;
    std::vector<double> offsets;
    switch (error) {
    case FrameError::BadCrc:
        fo.corruptCrc = true;
        x.outcome = message ? Outcome::BadCrc : Outcome::Good;
        break;
    case FrameError::NoPreamble:
        // The analyzer caught the frame late: too little preamble is left to lock on.
        fo.preambleBits = 16;
        x.outcome = Outcome::NoPreamble;
        x.kind = kKindNotDecoded;
        x.bytes.clear();
        x.name = MessageTypeText(kKindNotDecoded, 0);
        break;
    case FrameError::Truncated:
        if (message) {
            // Cut off in the middle of the third byte: no EOP, so no bytes.
            fo.appendEop = false;
            std::vector<uint8_t> symbols = enc::FrameSymbols(kind, bytes.data(), bytes.size(), fo);
            symbols.resize(std::min<size_t>(symbols.size(), 4 + 2 * std::min<size_t>(bytes.size(), 2) + 1));
            offsets =
                enc::BitsToTransitions(enc::SymbolsToBits(symbols, fo.preambleBits), bt, encoder->Random());
            x.outcome = Outcome::NoEop;
            x.bytes.clear();
            x.name.clear();
        }
        break;
    default:
        break;
    }
    if (offsets.empty())
        offsets = enc::FrameTransitions(kind, bytes.data(), bytes.size(), fo, bt, encoder->Random());
    return Place(start, channel, offsets, &x);
}

CSynthesizer::Impl::Sent CSynthesizer::Impl::SendGlitch(double start, int line, int transitions) {
    if (start >= endTime || transitions <= 0) return {};
    EmitSamplesUpTo(start);
    std::vector<double> offsets(size_t(transitions), 0.0);
    for (size_t i = 1; i < offsets.size(); ++i) offsets[i] = offsets[i - 1] + Gap(0.25, 0.75);
    ExpectedPacket x;
    x.kind = kKindNotDecoded;
    x.outcome = Outcome::NoPreamble;
    x.name = MessageTypeText(kKindNotDecoded, 0);
    // Four transitions or fewer make fewer than four intervals: the decoder drops them.
    return Place(start, line, offsets, transitions > 4 ? &x : nullptr);
}

CSynthesizer::Impl::Sent CSynthesizer::Impl::SendCarrier(double start, double ms, double ui) {
    if (start >= endTime) return {};
    EmitSamplesUpTo(start);
    std::vector<uint8_t> bits(size_t(ms * 1000.0 / ui));
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = uint8_t(i & 1);
    enc::BmcTiming bt;
    bt.unitInterval = ui;
    bt.jitter = scenario.timing.jitter;
    ExpectedPacket x;
    x.kind = kKindNotDecoded;
    x.outcome = Outcome::NoOrderedSet;
    x.unitInterval = ui;
    x.name = MessageTypeText(kKindNotDecoded, 0);
    return Place(start, channel, enc::BitsToTransitions(bits, bt, encoder->Random()), &x);
}

std::vector<uint8_t> CSynthesizer::Impl::HeaderBytes(int node, int type, int32_t kind, int objects,
                                                     bool extended, int id, int revision) const {
    const Node& n = nodes[node];
    const bool sop = kind == kKindSop;
    // On SOP' and SOP'' bit 5 is reserved and bit 8 tells a cable plug.
    const uint16_t w = MessageHeaderWord::Pack(type, sop && n.dfp, revision < 0 ? n.revision[KindIndex(kind)] : revision,
                                               sop ? n.source : node >= 2, id, objects, extended)
                           .word;
    return {uint8_t(w), uint8_t(w >> 8)};
}

// A message and its GoodCRC; an unanswered message is retried with the same MessageID.
CSynthesizer::Impl::Exchange CSynthesizer::Impl::Transmit(int receiver, int32_t kind,
                                                          const std::vector<uint8_t>& bytes, double start,
                                                          FrameError error, double ui, bool retry) {
    Exchange x;
    const MessageHeaderWord header{HeaderOf(bytes)};
    const int attempts = retry ? 1 + (header.Revision() >= kRev30 ? 2 : 3) : 1;
    double t = start;
    x.end = start;
    for (int a = 0; a < attempts; ++a) {
        const FrameError e = a == 0 && error != FrameError::NoReply ? error : FrameError::None;
        const Sent f = SendFrame(t, kind, bytes, e, ui);
        if (!f.sent) {
            x.cut = true;
            return x;
        }
        x.end = f.end;
        if (receiver >= 0 && Listening(receiver) && e == FrameError::None && error != FrameError::NoReply) {
            const Timing& tm = scenario.timing;
            // In the revision of the message it answers.
            const std::vector<uint8_t> ack = HeaderBytes(receiver, MessageTypeInfoOf(MessageTypeId::GoodCrc).code,
                                                         kind, 0, false, header.MessageId(), header.Revision());
            const Sent g = SendFrame(f.end + Gap(tm.goodCrcMinUs, tm.goodCrcMaxUs), kind, ack,
                                     FrameError::None, nodes[receiver].ui);
            x.acked = true;
            x.cut = !g.sent;
            if (g.sent) x.end = g.end;
            return x;
        }
        t = f.end + Gap(scenario.timing.retryMinUs, scenario.timing.retryMaxUs);
    }
    return x;
}

double CSynthesizer::Impl::ExecuteMessage(const MessageStep& m, double start) {
    const Timing& tm = scenario.timing;
    if (!m.raw.empty()) {
        const int32_t kind = m.kind ? m.kind : (m.from == Actor::Cable ? kKindSopPrime : kKindSop);
        const int sender = Resolve(m.from, kind);
        // A GoodCRC in the layout of any revision.
        const MessageHeaderWord h{HeaderOf(m.raw)};
        const bool goodCrc = h.TypeField() == MessageTypeInfoOf(MessageTypeId::GoodCrc).code && h.ObjectCount() == 0 &&
                             !h.ExtendedBit();
        const Exchange x = Transmit(goodCrc ? -1 : ReceiverOf(sender, kind), kind, m.raw, start, m.error,
                                    m.unitInterval > 0 ? m.unitInterval : nodes[sender].ui, !goodCrc);
        return x.end;
    }
    if (m.name == "Hard Reset" || m.name == "Cable Reset") {
        const bool hard = m.name == "Hard Reset";
        const int sender = Resolve(m.from, kKindSop);
        const Sent f = SendFrame(start, hard ? kKindHardReset : kKindCableReset, {}, FrameError::None,
                                 m.unitInterval > 0 ? m.unitInterval : nodes[sender].ui);
        if (!f.sent) return start;
        if (hard)
            HardReset(f.end);
        else
            CableReset();
        return f.end;
    }

    const int32_t kind = m.kind ? m.kind : (m.from == Actor::Cable ? kKindSopPrime : kKindSop);
    const int k = KindIndex(kind);
    const int sender = Resolve(m.from, kind);
    const int receiver = ReceiverOf(sender, kind);
    const double ui = m.unitInterval > 0 ? m.unitInterval : nodes[sender].ui;
    const MessageTypeInfo* type = FindMessageTypeByName(m.name);
    if (!type) return start;

    // A port changes its power role bit in the PS_RDY that ends its part of a power role swap.
    if (kind == kKindSop && type->id == PsRdy) {
        if (swapStage == 1 && sender == oldSource) nodes[sender].source = false;
        if (swapStage == 2 && sender == 1 - oldSource) nodes[sender].source = true;
    }
    if (type->id == SoftReset) nodes[sender].id[k] = 0;

    BuildContext c;
    c.party = sender < 2 ? nodes[sender].party : nullptr;
    c.cable = sender >= 2 ? &scenario.cable : nullptr;
    c.revision = nodes[sender].revision[k];
    c.kind = kind;
    const Party& src = *nodes[sourcePort].party;
    const std::vector<uint32_t> fallbackEpr = [&] {
        std::vector<uint32_t> all(src.sourceCaps.begin(), src.sourceCaps.end());
        all.resize(7, 0);
        all.insert(all.end(), src.eprSourceCaps.begin(), src.eprSourceCaps.end());
        return all;
    }();
    c.sourceCaps = lastSourceCaps.empty() ? &src.sourceCaps : &lastSourceCaps;
    c.eprCaps = lastEprCaps.empty() ? &fallbackEpr : &lastEprCaps;
    OutputAt(start, &c.vbusMv, &c.vbusMa);
    MessageBody body;
    std::string error;
    if (!BuildMessage(m, c, &body, &error)) return start;

    const int revision = nodes[sender].revision[k];
    double t = start;
    bool delivered = false;
    if (type->family == MessageFamily::Extended) {
        const std::vector<uint8_t>& data = body.data;
        const size_t chunkBytes = kMaxExtendedChunkBytes;
        const size_t chunks = data.size() <= chunkBytes ? 1 : (data.size() + chunkBytes - 1) / chunkBytes;
        for (size_t i = 0; i < chunks; ++i) {
            const size_t from = i * chunkBytes;
            const size_t len = std::min(chunkBytes, data.size() - std::min(data.size(), from));
            const int objects = int((2 + len + 3) / 4);
            std::vector<uint8_t> bytes =
                HeaderBytes(sender, type->code, kind, objects, true, nodes[sender].id[k]);
            const uint16_t x = ExtendedHeaderWord::Pack(int(data.size()), true, int(i), false).word;
            bytes.push_back(uint8_t(x));
            bytes.push_back(uint8_t(x >> 8));
            bytes.insert(bytes.end(), data.begin() + std::ptrdiff_t(from),
                         data.begin() + std::ptrdiff_t(from + len));
            bytes.resize(size_t(2 + 4 * objects), 0);
            const Exchange e = Transmit(receiver, kind, bytes, t, i == 0 ? m.error : FrameError::None, ui);
            nodes[sender].id[k] = (nodes[sender].id[k] + 1) & 7;
            t = e.end;
            if (!e.acked || e.cut) break;
            if (i + 1 == chunks) {
                delivered = true;
                break;
            }
            // The receiver asks for the next chunk; the sender answers with it.
            std::vector<uint8_t> req =
                HeaderBytes(receiver, type->code, kind, 1, true, nodes[receiver].id[k]);
            const uint16_t rx = ExtendedHeaderWord::Pack(0, true, int(i + 1), true).word;
            req.insert(req.end(), {uint8_t(rx), uint8_t(rx >> 8), 0, 0});
            const Exchange r =
                Transmit(sender, kind, req, t + Gap(tm.responseMinMs, tm.responseMaxMs) * 1000.0,
                         FrameError::None, nodes[receiver].ui);
            nodes[receiver].id[k] = (nodes[receiver].id[k] + 1) & 7;
            t = r.end;
            if (!r.acked || r.cut) break;
            t += Gap(tm.responseMinMs, tm.responseMaxMs) * 1000.0;
        }
    } else {
        const std::vector<uint32_t>& o = body.objects;
        std::vector<uint8_t> bytes =
            HeaderBytes(sender, type->code, kind, int(o.size()), false, nodes[sender].id[k]);
        for (uint32_t v : o)
            for (int b = 0; b < 4; ++b) bytes.push_back(uint8_t(v >> (8 * b)));
        if (type->id == GoodCrc) {
            // A GoodCRC on its own answers nothing and is not answered; it carries the counter unchanged.
            return Transmit(-1, kind, bytes, t, m.error, ui, false).end;
        }
        const Exchange e = Transmit(receiver, kind, bytes, t, m.error, ui);
        nodes[sender].id[k] = (nodes[sender].id[k] + 1) & 7;
        t = e.end;
        delivered = e.acked && !e.cut;
    }
    if (!delivered) return t;
    Deliver(body, sender, receiver, kind, revision, t);
    if (body.carrierMs > 0) {
        // The unit under test answers BIST Carrier Mode with the carrier itself.
        const Sent s = SendCarrier(t + Gap(0.5, 1.5) * 1000.0, body.carrierMs, nodes[receiver].ui);
        if (s.sent) t = s.end;
    }
    return t;
}

// ---------------------------------------------------------------------------------------------
// Roles and the effects of delivered messages

int CSynthesizer::Impl::Resolve(Actor a, int32_t kind) const {
    switch (a) {
    case Actor::Source:
        return sourcePort;
    case Actor::Sink:
        return 1 - sourcePort;
    case Actor::Dfp:
        return dfpPort;
    case Actor::Ufp:
        return 1 - dfpPort;
    case Actor::Port1:
        return 0;
    case Actor::Port2:
        return 1;
    case Actor::Cable:
        return KindIndex(kind) == 2 ? 3 : 2;
    }
    return 0;
}

int CSynthesizer::Impl::ReceiverOf(int sender, int32_t kind) const {
    if (kind == kKindSopPrimeDebug || kind == kKindSopDoublePrimeDebug) return -1;
    if (kind == kKindSop) return sender < 2 ? 1 - sender : -1;
    if (sender >= 2) return vconnPort;
    return KindIndex(kind) == 2 ? 3 : 2;
}

bool CSynthesizer::Impl::Listening(int node) const {
    if (node < 2) return true;
    return scenario.cable.present && (node == 2 || scenario.cable.sopDoublePrime);
}

void CSynthesizer::Impl::ResetPort(int port) {
    for (int k = 0; k < 3; ++k) {
        nodes[port].id[k] = 0;
        nodes[port].revision[k] = nodes[port].maxRevision;
    }
}

void CSynthesizer::Impl::Deliver(const MessageBody& body, int sender, int receiver, int32_t kind,
                                 int revision, double t) {
    const int k = KindIndex(kind);
    Node& r = nodes[receiver];
    r.revision[k] = std::min(r.maxRevision, revision);
    const MessageTypeId type = body.type->id;
    if (type == SoftReset) {
        r.id[k] = 0;
        requested = {};
        pending = Pending::None;
        return;
    }
    if (kind != kKindSop) return;
    const Timing& tm = scenario.timing;
    const Analog& an = scenario.analog;
    switch (type) {
    case Accept:
        if (pending != Pending::None && pendingFrom == receiver) {
            if (pending == Pending::PrSwap) {
                // The old source lowers VBUS to vSafe0V; the sink draws nothing meanwhile.
                swapStage = 1;
                oldSource = sourcePort;
                const double off = t + Gap(tm.transitionMinMs, tm.transitionMaxMs) * 1000.0;
                vbus.Ramp(off, off + Slew(vbus.At(off), 0), 0);
                cap.Set(t, an.idleMa);
                accepted = {};
                transition = false;
            } else if (pending == Pending::DrSwap) {
                nodes[0].dfp = !nodes[0].dfp;
                nodes[1].dfp = !nodes[1].dfp;
                dfpPort = 1 - dfpPort;
            } else if (pending == Pending::VconnSwap) {
                vconnSwapAccepted = true;
            }
            pending = Pending::None;
        } else if (requested.valid && sender == sourcePort) {
            // The source starts its transition tSrcTransition later; the sink falls back to standby.
            accepted = requested;
            requested = {};
            transition = true;
            const double from = t + Gap(tm.transitionMinMs, tm.transitionMaxMs) * 1000.0;
            vbus.Ramp(from, from + Slew(vbus.At(from), accepted.targetMv), accepted.targetMv);
            cap.Ramp(t, t + 5000, std::min<double>(cap.At(t), an.idleMa));
        }
        break;
    case Reject:
    case Wait:
    case NotSupported:
        pending = Pending::None;
        requested = {};
        break;
    case PsRdy:
        if (swapStage == 1 && sender == oldSource) {
            // Both ends present Rd for a moment; the new source asserts Rp and turns VBUS on.
            swapStage = 2;
            cc.Set(t, 0);
            const double on = t + Gap(15000, 30000);
            cc.Set(on, RpMillivolts(nodes[1 - oldSource].party->rp));
            vbus.Ramp(on, on + Slew(0, 5000), 5000);
            direction.Set(on, -direction.Final());
        } else if (swapStage == 2 && sender == 1 - oldSource) {
            // Both ports start over as their new roles: protocol layers reset, no contract yet.
            swapStage = 0;
            sourcePort = sender;
            ResetPort(0);
            ResetPort(1);
            lastSourceCaps.clear();
            lastEprCaps.clear();
            cap.Set(t, an.idleMa);
        } else if (vconnSwapAccepted) {
            vconnSwapAccepted = false;
            vconnPort = sender;
        } else if (transition && sender == sourcePort) {
            transition = false;
            cap.Ramp(t, t + 20000, accepted.operatingMa);
        }
        break;
    case DrSwap:
    case PrSwap:
    case VconnSwap:
        pending = type == DrSwap ? Pending::DrSwap : type == PrSwap ? Pending::PrSwap : Pending::VconnSwap;
        pendingFrom = sender;
        break;
    case SourceCapabilities:
        if (sender == sourcePort) lastSourceCaps = body.objects;
        break;
    case Request:
    case EprRequest:
        if (sender != sourcePort) {
            requested.valid = true;
            requested.targetMv = body.targetMv;
            requested.operatingMa = body.operatingMa;
        }
        break;
    case EprSourceCapabilities:
        if (sender == sourcePort) {
            lastEprCaps.clear();
            for (size_t i = 0; i + 3 < body.data.size(); i += 4)
                lastEprCaps.push_back(uint32_t(body.data[i]) | uint32_t(body.data[i + 1]) << 8 |
                                      uint32_t(body.data[i + 2]) << 16 | uint32_t(body.data[i + 3]) << 24);
        }
        break;
    default:
        break;
    }
}

void CSynthesizer::Impl::HardReset(double t) {
    const Analog& an = scenario.analog;
    for (int i = 0; i < 4; ++i) ResetPort(i);
    swapStage = 0;
    nodes[sourcePort].source = true;
    nodes[1 - sourcePort].source = false;
    nodes[sourcePort].dfp = true;
    nodes[1 - sourcePort].dfp = false;
    dfpPort = vconnPort = sourcePort;
    lastSourceCaps.clear();
    lastEprCaps.clear();
    requested = accepted = {};
    transition = vconnSwapAccepted = false;
    pending = Pending::None;
    // tPSHardReset, discharge to vSafe0V, tSrcRecover, back to vSafe5V; VCONN follows.
    const double off = t + Gap(25000, 35000);
    const double zero = off + Slew(vbus.At(off), 0);
    vbus.Ramp(off, zero, 0);
    vconn.Set(off, 0);
    cap.Set(t, an.idleMa);
    const double on = zero + Gap(660000, 1000000);
    vbus.Ramp(on, on + Slew(0, 5000), 5000);
    if (scenario.cable.present) vconn.Set(on, an.vconnMv);
    cc.Set(t, RpMillivolts(nodes[sourcePort].party->rp));
    busReady = on + Slew(0, 5000) + Gap(120000, 180000);
}

void CSynthesizer::Impl::CableReset() {
    for (int i = 0; i < 4; ++i)
        for (int k = 1; k < 3; ++k) nodes[i].id[k] = 0;
}

// ---------------------------------------------------------------------------------------------
// Analog

int32_t CSynthesizer::Impl::LoadAt(double t) const {
    const LoadProfile* p = nullptr;
    double since = 0;
    for (auto it = profiles.rbegin(); it != profiles.rend(); ++it)
        if (it->first <= t) {
            p = &it->second;
            since = t - it->first;
            break;
        }
    if (!p || p->empty()) return scenario.analog.idleMa;
    double period = 0;
    for (const auto& s : *p) period += std::max(s.first, 0.001) * 1000.0;
    double phase = std::fmod(since, period);
    for (const auto& s : *p) {
        phase -= std::max(s.first, 0.001) * 1000.0;
        if (phase < 0) return s.second;
    }
    return p->back().second;
}

void CSynthesizer::Impl::OutputAt(double t, int32_t* mV, int32_t* mA) const {
    const double level = vbus.At(t);
    double current = 0;
    if (level >= 4000) current = std::max(0.0, std::min<double>(LoadAt(t), cap.At(t)));
    *mV = int32_t(std::llround(level - current * scenario.analog.cableMilliohms / 1000.0));
    *mA = int32_t(std::llround(current)) * (direction.At(t) < 0 ? -1 : 1);
}

void CSynthesizer::Impl::EmitSamplesUpTo(double t) {
    const Analog& a = scenario.analog;
    for (;;) {
        const double ts = double(sampleIndex) * sampleInterval;
        if (ts > t || ts > endTime) return;
        int32_t mV = 0, mA = 0;
        OutputAt(ts, &mV, &mA);
        const double n1 = Uniform(analog, -1, 1), n2 = Uniform(analog, -1, 1);
        const double n3 = Uniform(analog, -1, 1), n4 = Uniform(analog, -1, 1);
        if (mV > 200) mV += int32_t(std::lround(n1 * a.noiseMv));
        if (mA != 0) mA += int32_t(std::lround(n2 * a.noiseMa));
        const double ccLevel = cc.At(ts), vconnLevel = vconn.At(ts);
        enc::VbusSample s;
        s.time = ts;
        s.vbusVoltage = uint16_t(std::clamp(mV, 0, 65535));
        s.vbusCurrent = mA;
        const int16_t active = int16_t(ccLevel > 0 ? std::lround(ccLevel + 4 * n3) : 0);
        const int16_t other = int16_t(vconnLevel > 0 ? std::lround(vconnLevel + 10 * n4) : 0);
        const int32_t vconnMa = vconnLevel > 0 ? scenario.cable.vconnMa : 0;
        if (channel == 0) {
            s.cc1Voltage = active;
            s.cc2Voltage = other;
            s.cc2Current = vconnMa;
        } else {
            s.cc2Voltage = active;
            s.cc1Voltage = other;
            s.cc1Current = vconnMa;
        }
        encoder->AddVbusSample(s);
        ++sampleIndex;
        vbus.Forget(ts);
        cap.Forget(ts);
        direction.Forget(ts);
        cc.Forget(ts);
        vconn.Forget(ts);
        while (profiles.size() > 1 && profiles[1].first <= ts) profiles.erase(profiles.begin());
    }
}

// ---------------------------------------------------------------------------------------------

CSynthesizer::CSynthesizer(const Scenario& scenario, const SynthOptions& options,
                           enc::CRecordEncoder::BlockSink blocks, PacketSink packets)
    : impl(std::make_unique<Impl>(scenario, options, std::move(blocks), std::move(packets))) {}

CSynthesizer::~CSynthesizer() = default;

double CSynthesizer::EndTime() const {
    return impl->endTime;
}
void CSynthesizer::RunUntil(double t) {
    impl->RunUntil(t);
}
void CSynthesizer::Finish() {
    impl->Finish();
}
bool CSynthesizer::Finished() const {
    return impl->finished;
}
uint64_t CSynthesizer::BytesWritten() const {
    return impl->encoder->BytesWritten();
}

bool WriteScenarioFile(const std::string& path, const Scenario& scenario, const SynthOptions& options,
                       std::string* error, uint64_t* streamBytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t header[rec::kBlockSize];
    enc::WriteOpenHeaderBlock(header);
    bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;
    std::vector<uint8_t> buffer;
    constexpr size_t kFlushSize = size_t(1) << 20;
    buffer.reserve(kFlushSize + rec::kBlockSize);
    auto flush = [&] {
        if (!buffer.empty() && std::fwrite(buffer.data(), 1, buffer.size(), f) != buffer.size()) ok = false;
        buffer.clear();
    };
    CSynthesizer synth(scenario, options, [&](const uint8_t* block) {
        buffer.insert(buffer.end(), block, block + rec::kBlockSize);
        if (buffer.size() >= kFlushSize) flush();
    });
    synth.Finish();
    flush();
    // The analyzer's serial number, made from the seed like everything else.
    std::mt19937 rng(options.seed ^ 0x5E41A1u);
    uint8_t serial[12];
    for (uint8_t& b : serial) b = uint8_t(rng());
    enc::WriteClosedHeaderBlock(header, 0x0110, serial, synth.BytesWritten());
    ok = ok && std::fseek(f, 0, SEEK_SET) == 0 && std::fwrite(header, 1, sizeof header, f) == sizeof header;
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) *error = path + ": cannot be written";
    if (streamBytes) *streamBytes = synth.BytesWritten();
    return ok;
}

std::vector<uint8_t> SynthesizeStream(const Scenario& scenario, const SynthOptions& options,
                                      std::vector<ExpectedPacket>* packets) {
    std::vector<uint8_t> out;
    CSynthesizer::PacketSink sink;
    if (packets) sink = [packets](const ExpectedPacket& p) { packets->push_back(p); };
    CSynthesizer s(scenario, options, enc::AppendTo(out), sink);
    s.Finish();
    return out;
}

} // namespace synth
