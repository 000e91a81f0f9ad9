#include "FlowGrouper.h"

#include "Analyzer.h"
#include "CCPacket.h"
#include "CaptureStore.h"
#include "MessageHeaderWord.h"
#include "PacketFacts.h"

#include <algorithm>
#include <cstdio>

namespace flow {

using enum MessageTypeId;

const char* PartyName(Party p) {
    switch (p) {
    case Party::PlugDoublePrime:
        return "Cable SOP''";
    case Party::PlugPrime:
        return "Cable SOP'";
    case Party::Source:
        return "Source";
    case Party::Sink:
        return "Sink";
    case Party::Unknown:
        break;
    }
    return "-";
}

const char* OutcomeName(Outcome o) {
    switch (o) {
    case Outcome::Acknowledged:
        return "acknowledged";
    case Outcome::Retried:
        return "retried";
    case Outcome::NeverAcknowledged:
        return "never acknowledged";
    case Outcome::Damaged:
        return "damaged";
    case Outcome::Signal:
        return "signal";
    case Outcome::Unmatched:
        return "unmatched";
    }
    return "-";
}

const char* PacketRoleName(PacketRole r) {
    switch (r) {
    case PacketRole::Transmission:
        return "transmission";
    case PacketRole::Retry:
        return "retry";
    case PacketRole::Failed:
        return "failed transmission";
    case PacketRole::GoodCrc:
        return "GoodCRC";
    case PacketRole::Damaged:
        return "damaged";
    case PacketRole::Signal:
        return "signal";
    }
    return "-";
}

namespace {

// clang-format off
constexpr const char* kKindNames[] = {
    "power negotiation", "capabilities query", "Soft_Reset", "Hard Reset", "Cable Reset", "PR_Swap", "DR_Swap",
    "VCONN_Swap", "FR_Swap", "Discover Identity", "Discover SVIDs", "Discover Modes", "Enter Mode", "Exit Mode",
    "DisplayPort Status", "DisplayPort Configure", "Attention", "EPR entry", "EPR exit", "EPR keep-alive",
    "chunked message", "Get_Status", "Alert", "information query", "BIST", "Data_Reset", "Enter_USB", "other",
};
constexpr const char* kResultNames[] = {
    "completed", "rejected", "wait", "not supported", "interrupted by a reset", "timed out",
    "cut by the capture's end",
};
// clang-format on
static_assert(std::size(kKindNames) == size_t(ExchangeKind::Count));
static_assert(std::size(kResultNames) == size_t(Result::CutByCaptureEnd) + 1);

} // namespace

const char* ExchangeKindName(ExchangeKind k) {
    return size_t(k) < std::size(kKindNames) ? kKindNames[size_t(k)] : "other";
}

const char* ResultName(Result r) {
    return size_t(r) < std::size(kResultNames) ? kResultNames[size_t(r)] : "-";
}

std::string OutcomeText(const Transaction& t) {
    const int32_t n = t.transmissions;
    switch (t.outcome) {
    case Outcome::Retried:
        return "retried " + std::to_string(t.Retries()) + (t.Retries() == 1 ? " time" : " times");
    case Outcome::NeverAcknowledged:
        return "never acknowledged (" + std::to_string(n) + (n == 1 ? " transmission)" : " transmissions)");
    default:
        return OutcomeName(t.outcome);
    }
}

Result EndResult(const Exchange& x, int64_t captureEnd) {
    if (!x.open || x.waitLimitMs <= 0) return x.result;
    return double(captureEnd - x.end) > x.waitLimitMs * 1000 ? Result::TimedOut : Result::CutByCaptureEnd;
}

namespace {

constexpr int64_t kMs = 1000;
// How far the blocks of the two lines may arrive out of step (as the analysis reads them).
constexpr int64_t kSettleUs = 100000;
// Our own bound for steps the protocol times loosely or across VBUS changes: the PS_RDYs of a power role
// swap (tPSSourceOff reaches 920 ms), the VCONN swap's PS_RDY, EPR entry's cable check, Data_Reset_Complete.
constexpr double kSlowStepMs = 1000;
// After a Hard Reset the source sends its first offer some time after VBUS is back (tFirstSourceCap).
constexpr double kFirstOfferMs = 250;
// A next step is still taken as the answer when it comes up to this many times its limit late: the
// analysis reports it as late, the conversation stays one.
constexpr double kLateFactor = 4;
constexpr double kMinWindowMs = 100;
// A frame without a readable header is taken for a transmission of the message after it only this close.
constexpr int64_t kHeaderlessRetryUs = 2500;

constexpr uint32_t kBistCarrierMode = 5;

bool IsGoodMessage(const CCCPacket& p) {
    return IsMessageKind(p.kind) && p.hasCrc && p.crcGood && p.messageByteCount >= 2;
}

// SOP, SOP', SOP''; the debug variants speak to the same plugs.
int SlotOf(int32_t kind) {
    switch (kind) {
    case kKindSop:
        return 0;
    case kKindSopPrime:
    case kKindSopPrimeDebug:
        return 1;
    case kKindSopDoublePrime:
    case kKindSopDoublePrimeDebug:
        return 2;
    default:
        return -1;
    }
}

// The extended message data byte n of this packet's own bytes; -1 when it did not come.
int DataByte(const CCCPacket& p, int n) {
    return p.messageByteCount > 4 + n ? p.messageBytes[4 + n] : -1;
}

// A chunk of a message longer than one chunk, or a request for one.
bool IsChunkPart(const CCCPacket& p) {
    return p.IsExtendedMessage() && p.ChunkedBit() && (p.RequestChunkBit() || !p.HoldsWholeExtendedMessage());
}

Party Plug(int slot) {
    return slot == 2 ? Party::PlugDoublePrime : Party::PlugPrime;
}

Party Other(Party p) {
    return p == Party::Source ? Party::Sink : p == Party::Sink ? Party::Source : Party::Unknown;
}

struct VdmHeader {
    uint32_t word = 0;
    uint16_t Svid() const { return uint16_t(word >> 16); }
    bool Structured() const { return (word >> 15) & 1; }
    int CommandType() const { return int((word >> 6) & 3); } // REQ, ACK, NAK, BUSY
    int Command() const { return int(word & 0x1F); }
};

constexpr uint16_t kSvidStandardId = 0xFF00;
constexpr uint16_t kSvidDp = 0xFF01;
constexpr uint16_t kSvidTbt = 0x8087;

std::string VdmLabel(VdmHeader h) {
    static const char* const kCommands[] = {nullptr,          "Discover Identity", "Discover SVIDs",
                                            "Discover Modes", "Enter Mode",        "Exit Mode",
                                            "Attention"};
    static const char* const kTypes[] = {"REQ", "ACK", "NAK", "BUSY"};
    if (!h.Structured()) return "Vendor_Defined unstructured";
    const int c = h.Command();
    std::string text;
    if (c >= 1 && c <= 6)
        text = kCommands[c];
    else if (h.Svid() == kSvidDp && c == 16)
        text = "DisplayPort Status Update";
    else if (h.Svid() == kSvidDp && c == 17)
        text = "DisplayPort Configure";
    else
        text = "VDM command " + std::to_string(c);
    text += ' ';
    text += kTypes[h.CommandType()];
    if (c >= 3 && c <= 6 && h.Svid() != kSvidStandardId) {
        char svid[16];
        std::snprintf(svid, sizeof svid, " %04Xh", h.Svid());
        text += h.Svid() == kSvidDp ? " DisplayPort" : h.Svid() == kSvidTbt ? " Thunderbolt" : svid;
    }
    return text;
}

std::string MessageLabel(const CCCPacket& p, MessageTypeId type) {
    if (type == Count) return p.GetMessageTypeText();
    std::string text = MessageTypeInfoOf(type).ListName(p.HasRev30Layout());
    const int objects = ReceivedObjects(p);
    switch (type) {
    case VendorDefined:
        if (objects >= 1) return VdmLabel({p.DataObject(1)});
        break;
    case EprMode:
        if (objects >= 1) {
            static const char* const kActions[] = {
                "", " Enter", " Enter Acknowledged", " Enter Succeeded", " Enter Failed", " Exit"};
            const uint32_t action = p.DataObject(1) >> 24;
            if (action >= 1 && action <= 5) text += kActions[action];
        }
        break;
    case ExtendedControl: {
        static const char* const kTypes[] = {"", "EPR_Get_Source_Cap", "EPR_Get_Sink_Cap", "EPR_KeepAlive",
                                             "EPR_KeepAlive_Ack"};
        const int t = DataByte(p, 0);
        if (t >= 1 && t <= 4) return kTypes[t];
        break;
    }
    case Bist:
        if (objects >= 1) {
            switch (p.DataObject(1) >> 28) {
            case kBistCarrierMode:
                return text + " Carrier Mode";
            case 8:
                return text + " Test Data";
            case 9:
                return text + " Shared Test Mode Entry";
            case 10:
                return text + " Shared Test Mode Exit";
            default:
                break;
            }
        }
        break;
    default:
        break;
    }
    if (IsChunkPart(p))
        text += (p.RequestChunkBit() ? " chunk request " : " chunk ") + std::to_string(p.ChunkNumberField());
    return text;
}

// Where an open exchange stands: what it waits for next.
enum class Phase : uint8_t {
    Idle,       // nothing due: complete once its message is acknowledged
    AlertQuery, // after an Alert: the receiver may ask what it is about
    Request,    // an offer waits for a Request
    Accept,     // a Request waits for its answer
    PsRdy,      // an Accept waits for the source's PS_RDY
    Answer,     // a query waits for `answer`
    Reply,      // a swap, Soft_Reset, Data_Reset, Enter_USB waits for Accept (or Reject, Wait, Not_Supported)
    SwapPsRdy1, // a power role swap's first PS_RDY
    SwapPsRdy2, // and its second
    VconnPsRdy,
    DataResetComplete,
    VdmAnswer, // a structured VDM request waits for ACK, NAK or BUSY
    EprAck,    // EPR_Mode Enter waits for Enter Acknowledged
    EprResult, // and then for Enter Succeeded (or Failed)
    KeepAliveAck,
};

// The message at hand, read once.
struct Message {
    int32_t tx = -1;
    MessageTypeId type = Count;
    int slot = 0;
    Party from = Party::Unknown, to = Party::Unknown;
    int revision = 1;
    uint32_t object1 = 0; // the first data object: VDM header, EPR_Mode, BIST, RDO
    int ecType = -1;      // Extended_Control type
    bool chunkPart = false, requestChunk = false;
    int chunk = 0;
    int dataSize = 0;
    int64_t start = 0;
};

} // namespace

// ---------------------------------------------------------------------------------------------------------

struct CFlowGrouper::State {
    Flow flow;
    bool finished = false;
    uint64_t generation = 0; // kept when the rest starts over

    // Where reading stopped (as the analysis keeps it).
    int64_t origin = -1;
    int64_t lastPacketTime = -1;
    int32_t sameTimeCount = 0;
    uint32_t packetsTaken = 0;
    size_t packetsUnread = 0;

    // Per ordered set: the latest message transaction, which its retries and its GoodCRC join.
    struct Link {
        int32_t tx = -1;
        int64_t lastEnd = 0; // end of its latest transmission
        uint16_t header = 0;
        int32_t byteCount = 0;
        uint8_t bytes[kMessageBytesCapacity] = {};
        int32_t revision = 1;
    };
    Link links[3];

    // Per ordered set: the open exchange and where it stands.
    struct Script {
        int32_t exchange = -1;
        Phase phase = Phase::Idle;
        double limitMs = 0; // how long the awaited step may take
        Party asker = Party::Unknown, answerer = Party::Unknown;
        MessageTypeId answer = Count;
        uint32_t vdm = 0; // the request's VDM header
        // A chunked message under way: the receiver asks for each next chunk.
        bool chunking = false;
        double chunkLimitMs = 0;
        MessageTypeId chunkType = Count;
        Party chunkSender = Party::Unknown;
        int32_t nextChunk = 0, chunks = 0;
    };
    Script scripts[3];
    int32_t hardReset = -1; // the Hard Reset exchange awaiting the first message after it

    // Frames that could not be read, held until the next packet tells whether they were a transmission
    // that is retried. Frames closer together than a GoodCRC follows its message are one burst.
    struct Held {
        bool active = false;
        std::vector<FlowPacket> packets;
        int32_t kind = 0; // of the first
        int32_t channel = 0;
        bool hasHeader = false;
        uint16_t header = 0;
        std::string label;
    };
    Held held;

    size_t findingsAttached = 0;
    bool dfpIsSource = true; // the data roles as the latest SOP message shows them
    int32_t bistExchange = -1;
    int64_t bistUntil = -1; // the BIST carrier may come until then
};

namespace {

using State = CFlowGrouper::State;

struct Walker {
    State& s;
    const analysis::CLimits& lim;

    Flow& F() { return s.flow; }
    const Flow& F() const { return s.flow; }

    double ResponseMs(int revision) const { return lim.SenderResponseMs(revision); }
    static double Window(double limitMs) { return std::max(limitMs * kLateFactor, kMinWindowMs); }

    // --- Transactions and exchanges --------------------------------------------------------------------

    void SetOutcome(Transaction& t) {
        if (t.outcome == Outcome::Damaged || t.outcome == Outcome::Signal || t.outcome == Outcome::Unmatched)
            return;
        t.outcome = !t.acknowledged       ? Outcome::NeverAcknowledged
                    : t.transmissions > 1 ? Outcome::Retried
                                          : Outcome::Acknowledged;
    }

    void AddPacket(int32_t tx, const FlowPacket& p) {
        Transaction& t = F().transactions[size_t(tx)];
        t.packets.push_back(p);
        t.end = std::max(t.end, p.end);
        if (t.exchange >= 0) {
            Exchange& x = F().exchanges[size_t(t.exchange)];
            x.end = std::max(x.end, t.end);
        }
    }

    int32_t NewTransaction(Transaction t) {
        for (Party p : {t.from, t.to})
            if (p != Party::Unknown) F().speakers |= 1u << unsigned(p);
        F().transactions.push_back(std::move(t));
        return int32_t(F().transactions.size() - 1);
    }

    void Join(int32_t exchange, int32_t tx) {
        Exchange& x = F().exchanges[size_t(exchange)];
        Transaction& t = F().transactions[size_t(tx)];
        t.exchange = exchange;
        x.transactions.push_back(tx);
        x.end = std::max(x.end, t.end);
    }

    int32_t NewExchange(ExchangeKind kind, int32_t tx) {
        const Transaction& t = F().transactions[size_t(tx)];
        Exchange x;
        x.kind = kind;
        x.title = kind == ExchangeKind::Other || kind == ExchangeKind::Query ||
                          kind == ExchangeKind::GetCapabilities
                      ? t.label
                      : ExchangeKindName(kind);
        x.orderedSet = t.kind;
        x.initiator = t.from;
        x.start = t.start;
        x.end = t.end;
        F().exchanges.push_back(std::move(x));
        const int32_t n = int32_t(F().exchanges.size() - 1);
        Join(n, tx);
        return n;
    }

    void Close(int32_t exchange, Result r) {
        Exchange& x = F().exchanges[size_t(exchange)];
        x.open = false;
        x.result = r;
        x.waitLimitMs = 0;
    }

    // An exchange with nothing due is complete once its latest message is acknowledged; until then it
    // waits for the GoodCRC (and the retries) of that message.
    void SettleIdle(int32_t exchange) {
        Exchange& x = F().exchanges[size_t(exchange)];
        const Transaction& t = F().transactions[size_t(x.transactions.back())];
        const bool done = t.acknowledged || t.outcome == Outcome::Signal || t.outcome == Outcome::Unmatched;
        x.result = done ? Result::Completed : Result::TimedOut;
        x.waitLimitMs = done ? 0 : lim[analysis::LimitId::TReceive] / kMs * (1 + lim.RetryCount(2));
    }

    // The exchange's result should it end now, and how long what it waits for may take.
    void Refresh(const State::Script& sc) {
        Exchange& x = F().exchanges[size_t(sc.exchange)];
        if (sc.chunking) {
            x.result = Result::TimedOut;
            x.waitLimitMs = sc.chunkLimitMs;
        } else if (sc.phase == Phase::Idle || sc.phase == Phase::AlertQuery) {
            SettleIdle(sc.exchange);
        } else {
            x.result = Result::TimedOut;
            x.waitLimitMs = sc.limitMs;
        }
    }

    void Await(State::Script& sc, Phase phase, double limitMs = 0) {
        sc.phase = phase;
        sc.limitMs = limitMs;
        Refresh(sc);
    }

    void Finish(State::Script& sc, Result r) {
        if (sc.exchange >= 0) Close(sc.exchange, r);
        sc = State::Script{};
    }

    // The open exchange ends because something else begins.
    void End(State::Script& sc, bool byReset) {
        if (sc.exchange < 0) return;
        Finish(sc, byReset ? Result::InterruptedByReset : F().exchanges[size_t(sc.exchange)].result);
    }

    // --- Reading one packet ------------------------------------------------------------------------------

    void Packet(const CCCPacket& p, int64_t number) {
        F().end = std::max(F().end, PacketEnd(p));
        if (p.kind == kKindHardReset) return HardReset(p, number);
        if (p.kind == kKindCableReset) return CableReset(p, number);
        if (!IsGoodMessage(p)) {
            // Packets without intervals carry nothing to read.
            if (p.intervalCount != 0) Damaged(p, number);
            return;
        }
        if (PacketTypeId(p) == GoodCrc) return GoodCrcMessage(p, number);
        MessageFrame(p, number);
    }

    FlowPacket Frame(const CCCPacket& p, int64_t number, PacketRole role) const {
        return {number, p.startTime, PacketEnd(p), role};
    }

    Transaction Signal(const CCCPacket& p, int64_t number, const char* label, Party from, Party to) {
        Transaction t;
        t.label = label;
        t.start = p.startTime;
        t.end = PacketEnd(p);
        t.kind = p.kind;
        t.from = from;
        t.to = to;
        t.outcome = Outcome::Signal;
        t.packets.push_back(Frame(p, number, PacketRole::Signal));
        return t;
    }

    void HardReset(const CCCPacket& p, int64_t number) {
        FlushHeld();
        for (State::Script& sc : s.scripts) End(sc, true);
        if (s.hardReset >= 0) Close(s.hardReset, Result::InterruptedByReset);
        for (State::Link& l : s.links) l = State::Link{};
        const int32_t tx = NewTransaction(Signal(p, number, "Hard Reset", Party::Unknown, Party::Unknown));
        s.hardReset = NewExchange(ExchangeKind::HardReset, tx);
        // Recovered once the first message after it comes: VBUS off and back, then the first offer.
        Exchange& x = F().exchanges[size_t(s.hardReset)];
        x.result = Result::Completed;
        x.waitLimitMs = lim[analysis::LimitId::TPSHardReset] + lim[analysis::LimitId::TSafe0V] +
                        lim[analysis::LimitId::TSrcRecoverMax] + lim[analysis::LimitId::TSrcTurnOn] +
                        kFirstOfferMs;
        s.dfpIsSource = true;
        s.bistExchange = -1;
    }

    void CableReset(const CCCPacket& p, int64_t number) {
        FlushHeld();
        for (int k = 1; k < 3; ++k) {
            End(s.scripts[k], true);
            s.links[k] = State::Link{};
        }
        const Party dfp = s.dfpIsSource ? Party::Source : Party::Sink;
        const int32_t tx = NewTransaction(Signal(p, number, "Cable Reset", dfp, Party::PlugPrime));
        Close(NewExchange(ExchangeKind::CableReset, tx), Result::Completed);
    }

    // A frame that could not be read: a spoilt GoodCRC right after a message, or held until the next
    // packet shows whether it was a transmission that is retried.
    void Damaged(const CCCPacket& p, int64_t number) {
        const int slot = SlotOf(p.kind);
        // A GoodCRC starts within tTransmit of the message's end; a retry not before tReceive.
        const int64_t goodCrcWithin = int64_t(2 * lim[analysis::LimitId::TTransmit]);
        for (int k = 0; k < 3; ++k) {
            const State::Link& l = s.links[k];
            if ((slot >= 0 && slot != k) || l.tx < 0) continue;
            const Transaction& t = F().transactions[size_t(l.tx)];
            if (!t.acknowledged && p.startTime >= l.lastEnd && p.startTime - l.lastEnd <= goodCrcWithin) {
                AddPacket(l.tx, Frame(p, number, PacketRole::Damaged));
                return;
            }
        }
        State::Held& h = s.held;
        if (h.active && h.channel == p.channel && p.startTime >= HeldEnd() &&
            p.startTime - HeldEnd() <= goodCrcWithin) {
            h.packets.push_back(Frame(p, number, PacketRole::Damaged));
            return;
        }
        FlushHeld();
        h.active = true;
        h.packets.assign(1, Frame(p, number, PacketRole::Damaged));
        h.kind = p.kind;
        h.channel = p.channel;
        h.hasHeader = IsMessageKind(p.kind) && p.messageByteCount >= 2;
        h.header = h.hasHeader ? p.Header() : 0;
        h.label = h.hasHeader ? MessageLabel(p, PacketTypeId(p)) + " (damaged)" : "damaged frame";
    }

    int64_t HeldEnd() const { return s.held.packets.back().end; }

    // Whether the held frames were a transmission of this message.
    bool HeldIsTransmissionOf(const CCCPacket& p) const {
        const State::Held& h = s.held;
        if (!h.active || h.kind != p.kind || h.channel != p.channel || p.startTime < HeldEnd()) return false;
        const int64_t gap = p.startTime - HeldEnd();
        if (!h.hasHeader) return gap <= kHeaderlessRetryUs;
        return h.header == p.Header() && double(gap) <= ResponseMs(p.RevisionField()) * kMs;
    }

    // The held frames as a transmission that failed: the first is the transmission, the rest its spoilt
    // GoodCRC.
    void TakeHeld(Transaction& t) {
        State::Held& h = s.held;
        h.active = false;
        for (size_t i = 0; i < h.packets.size(); ++i) {
            FlowPacket f = h.packets[i];
            f.role = i == 0 ? PacketRole::Failed : PacketRole::Damaged;
            t.packets.push_back(f);
            t.end = std::max(t.end, f.end);
        }
        ++t.transmissions;
    }

    // The held frames are a transaction of their own, in the exchange they interrupt or one of their own.
    void FlushHeld(const FlowPacket* goodCrc = nullptr) {
        State::Held& h = s.held;
        if (!h.active) return;
        h.active = false;
        Transaction t;
        t.label = h.label;
        t.start = h.packets.front().time;
        t.end = HeldEnd();
        t.kind = h.kind;
        t.outcome = Outcome::Damaged;
        t.packets = h.packets;
        if (goodCrc) {
            t.packets.push_back(*goodCrc);
            t.end = goodCrc->end;
            t.acknowledged = true;
        }
        const int32_t tx = NewTransaction(std::move(t));
        const int64_t start = h.packets.front().time;
        // The carrier a BIST Carrier Mode request asks for.
        if (s.bistExchange >= 0 && start <= s.bistUntil) return Join(s.bistExchange, tx);
        const int slot = std::max(0, SlotOf(h.kind));
        const State::Script& sc = s.scripts[slot];
        if (sc.exchange >= 0) {
            const Exchange& x = F().exchanges[size_t(sc.exchange)];
            if (x.waitLimitMs > 0 && double(start - x.end) <= Window(x.waitLimitMs) * kMs)
                return Join(sc.exchange, tx);
        }
        const int32_t x = NewExchange(ExchangeKind::Other, tx);
        Close(x, goodCrc ? Result::Completed : Result::TimedOut);
    }

    void GoodCrcMessage(const CCCPacket& p, int64_t number) {
        const int slot = SlotOf(p.kind);
        State::Link& l = s.links[slot];
        const FlowPacket frame = Frame(p, number, PacketRole::GoodCrc);
        if (l.tx >= 0) {
            // From the other end: on SOP one of the role bits differs (a power role swap changes one, a
            // data role swap the other), on SOP' and SOP'' the cable plug bit.
            const MessageHeaderWord mine{p.Header()}, theirs{l.header};
            const bool otherEnd =
                slot == 0 ? mine.PowerRole() != theirs.PowerRole() || mine.DataRole() != theirs.DataRole()
                          : mine.PowerRole() != theirs.PowerRole();
            if (otherEnd && p.startTime >= l.lastEnd &&
                double(p.startTime - l.lastEnd) <= ResponseMs(l.revision) * kMs) {
                Transaction& t = F().transactions[size_t(l.tx)];
                // Frames just before it that could not be read: a retry of the message it acknowledges.
                const State::Held& h = s.held;
                if (h.active && h.channel == p.channel && (h.kind == p.kind || !IsMessageKind(h.kind)) &&
                    h.packets.front().time >= l.lastEnd && p.startTime >= HeldEnd() &&
                    p.startTime - HeldEnd() <= int64_t(2 * lim[analysis::LimitId::TTransmit])) {
                    TakeHeld(t);
                    l.lastEnd = HeldEnd();
                }
                AddPacket(l.tx, frame);
                if (mine.MessageId() == t.messageId && !t.acknowledged) {
                    t.acknowledged = true;
                    SetOutcome(t);
                    const State::Script& sc = s.scripts[slot];
                    if (sc.exchange >= 0 && sc.exchange == t.exchange) Refresh(sc);
                }
                return;
            }
        }
        // The GoodCRC of a message that could not be read.
        if (s.held.active && s.held.channel == p.channel && p.startTime >= HeldEnd() &&
            p.startTime - HeldEnd() <= int64_t(2 * lim[analysis::LimitId::TTransmit]))
            return FlushHeld(&frame);
        FlushHeld();
        Transaction t;
        t.label = MessageLabel(p, GoodCrc);
        t.start = p.startTime;
        t.end = frame.end;
        t.kind = p.kind;
        t.type = GoodCrc;
        t.messageId = p.MessageIdField();
        SetParties(p, slot, &t.from, &t.to);
        t.outcome = Outcome::Unmatched;
        t.packets.push_back(frame);
        const int32_t tx = NewTransaction(std::move(t));
        if (s.scripts[slot].exchange >= 0) return Join(s.scripts[slot].exchange, tx);
        Close(NewExchange(ExchangeKind::Other, tx), Result::Completed);
    }

    void SetParties(const CCCPacket& p, int slot, Party* from, Party* to) const {
        if (slot == 0) {
            *from = p.PowerRoleBit() ? Party::Source : Party::Sink;
            *to = Other(*from);
            return;
        }
        const Party dfp = s.dfpIsSource ? Party::Source : Party::Sink;
        *from = p.PowerRoleBit() ? Plug(slot) : dfp;
        *to = p.PowerRoleBit() ? dfp : Plug(slot);
    }

    void MessageFrame(const CCCPacket& p, int64_t number) {
        const int slot = SlotOf(p.kind);
        State::Link& l = s.links[slot];
        const MessageTypeId type = PacketTypeId(p);

        // A retry: the same bytes again before an answer could be due.
        if (l.tx >= 0 && l.header == p.Header() && l.byteCount == p.messageByteCount &&
            std::equal(p.messageBytes, p.messageBytes + p.messageByteCount, l.bytes) &&
            p.startTime >= l.lastEnd &&
            double(p.startTime - l.lastEnd) <= ResponseMs(p.RevisionField()) * kMs) {
            Transaction& t = F().transactions[size_t(l.tx)];
            if (HeldIsTransmissionOf(p)) TakeHeld(t);
            ++t.transmissions;
            AddPacket(l.tx, Frame(p, number, PacketRole::Retry));
            SetOutcome(t);
            l.lastEnd = PacketEnd(p);
            return;
        }

        Transaction t;
        if (HeldIsTransmissionOf(p))
            TakeHeld(t);
        else
            FlushHeld();
        t.packets.push_back(Frame(p, number, PacketRole::Transmission));
        ++t.transmissions;
        t.label = MessageLabel(p, type);
        t.start = t.packets.front().time;
        t.end = PacketEnd(p);
        t.kind = p.kind;
        t.type = type;
        t.messageId = p.MessageIdField();
        if (slot == 0) s.dfpIsSource = p.DataRoleBit() == p.PowerRoleBit();
        SetParties(p, slot, &t.from, &t.to);
        SetOutcome(t);
        const int32_t tx = NewTransaction(std::move(t));
        l.tx = tx;
        l.lastEnd = PacketEnd(p);
        l.header = p.Header();
        l.byteCount = p.messageByteCount;
        l.revision = p.RevisionField();
        std::copy(p.messageBytes, p.messageBytes + p.messageByteCount, l.bytes);

        // The first message after a Hard Reset: the ports are back.
        if (slot == 0 && s.hardReset >= 0) {
            Exchange& x = F().exchanges[size_t(s.hardReset)];
            x.end = std::max(x.end, p.startTime);
            Close(s.hardReset, Result::Completed);
            s.hardReset = -1;
        }

        Message m;
        m.tx = tx;
        m.type = type;
        m.slot = slot;
        const Transaction& made = F().transactions[size_t(tx)];
        m.from = made.from;
        m.to = made.to;
        m.revision = p.RevisionField();
        m.object1 = ReceivedObjects(p) >= 1 ? p.DataObject(1) : 0;
        m.ecType = type == ExtendedControl ? DataByte(p, 0) : -1;
        m.chunkPart = IsChunkPart(p);
        m.requestChunk = p.IsExtendedMessage() && p.RequestChunkBit();
        m.chunk = p.IsExtendedMessage() ? p.ChunkNumberField() : 0;
        m.dataSize = p.IsExtendedMessage() ? p.DataSizeField() : 0;
        m.start = p.startTime;
        Assign(m);
    }

    // --- Exchanges -------------------------------------------------------------------------------------

    // A chunked message longer than one chunk begins: the receiver asks for every chunk after the first.
    void StartChunks(State::Script& sc, const Message& m) {
        if (!m.chunkPart || m.requestChunk || m.chunk != 0) return;
        sc.chunking = true;
        sc.chunkType = m.type;
        sc.chunkSender = m.from;
        sc.nextChunk = 1;
        sc.chunks = (m.dataSize + kMaxExtendedChunkBytes - 1) / kMaxExtendedChunkBytes;
        if (sc.chunks <= 1) sc.chunking = false;
        sc.chunkLimitMs = ResponseMs(m.revision);
        Refresh(sc);
    }

    // A chunk request or the next chunk of the message under way.
    bool TakeChunk(State::Script& sc, const Message& m) {
        if (!sc.chunking || m.type != sc.chunkType || !m.chunkPart) return false;
        if (m.requestChunk) {
            if (m.from == sc.chunkSender || m.chunk != sc.nextChunk) return false;
        } else {
            if (m.from != sc.chunkSender || m.chunk > sc.nextChunk || m.chunk < sc.nextChunk - 1)
                return false;
            if (m.chunk == sc.nextChunk && ++sc.nextChunk >= sc.chunks) {
                sc.chunking = false;
                Refresh(sc);
            }
        }
        return true;
    }

    bool InTime(const State::Script& sc, const Message& m) const {
        const Exchange& x = F().exchanges[size_t(sc.exchange)];
        return double(m.start - x.end) <= Window(std::max(sc.limitMs, x.waitLimitMs)) * kMs;
    }

    // The answer of a Reply, Answer or VDM step: Accept (or the answer) goes on, the rest ends it.
    static bool Refusal(MessageTypeId t, Result* r) {
        switch (t) {
        case Reject:
            *r = Result::Rejected;
            return true;
        case Wait:
            *r = Result::Wait;
            return true;
        case NotSupported:
            *r = Result::NotSupported;
            return true;
        default:
            return false;
        }
    }

    // Takes the message into the open exchange when it is the step the exchange waits for.
    bool Advance(State::Script& sc, const Message& m) {
        if (TakeChunk(sc, m)) return true;
        if (!InTime(sc, m)) return false;
        const Exchange& x = F().exchanges[size_t(sc.exchange)];
        Result refused;
        switch (sc.phase) {
        case Phase::Idle:
            return false;
        case Phase::AlertQuery:
            if (m.from != sc.answerer || AnswerOf(m.type) == Count) return false;
            sc.asker = m.from;
            sc.answerer = m.to;
            sc.answer = AnswerOf(m.type);
            Await(sc, Phase::Answer, ResponseMs(m.revision));
            return true;
        case Phase::Request:
            if (m.from != sc.answerer || (m.type != Request && m.type != EprRequest)) return false;
            Await(sc, Phase::Accept, ResponseMs(m.revision));
            sc.answer = m.type; // what the PS_RDY's limit follows
            return true;
        case Phase::Accept:
            if (m.from != sc.asker) return false;
            if (m.type == Accept) {
                Await(sc, Phase::PsRdy,
                      lim[sc.answer == EprRequest ? analysis::LimitId::TPSTransitionEpr
                                                  : analysis::LimitId::TPSTransitionSpr]);
                return true;
            }
            if (!Refusal(m.type, &refused)) return false;
            Finish(sc, refused);
            return true;
        case Phase::PsRdy:
            if (m.from != sc.asker || m.type != PsRdy) return false;
            Finish(sc, Result::Completed);
            return true;
        case Phase::Answer:
            if (m.from != sc.answerer) return false;
            if (m.type == sc.answer) {
                // An offer from the source to the sink that asked for it is negotiated on.
                if ((m.type == SourceCapabilities || m.type == EprSourceCapabilities) &&
                    m.from == Party::Source && sc.asker == Party::Sink) {
                    sc.asker = Party::Source;
                    sc.answerer = Party::Sink;
                    Await(sc, Phase::Request, ResponseMs(m.revision));
                    StartChunks(sc, m);
                    return true;
                }
                Await(sc, Phase::Idle);
                StartChunks(sc, m);
                if (!sc.chunking) Finish(sc, Result::Completed);
                return true;
            }
            if (m.type != Reject && m.type != NotSupported) return false;
            Refusal(m.type, &refused);
            Finish(sc, refused);
            return true;
        case Phase::Reply:
            if (m.from != sc.answerer) return false;
            if (m.type == Accept) {
                switch (x.kind) {
                case ExchangeKind::PrSwap:
                case ExchangeKind::FrSwap:
                    Await(sc, Phase::SwapPsRdy1, kSlowStepMs);
                    return true;
                case ExchangeKind::VconnSwap:
                    Await(sc, Phase::VconnPsRdy, kSlowStepMs);
                    return true;
                case ExchangeKind::DataReset:
                    Await(sc, Phase::DataResetComplete, kSlowStepMs);
                    return true;
                default:
                    Finish(sc, Result::Completed);
                    return true;
                }
            }
            if (!Refusal(m.type, &refused)) return false;
            Finish(sc, refused);
            return true;
        case Phase::SwapPsRdy1:
            if (m.type != PsRdy) return false;
            Await(sc, Phase::SwapPsRdy2, kSlowStepMs);
            return true;
        case Phase::SwapPsRdy2:
        case Phase::VconnPsRdy:
            if (m.type != PsRdy) return false;
            Finish(sc, Result::Completed);
            return true;
        case Phase::DataResetComplete:
            if (m.type != DataResetComplete) return false;
            Finish(sc, Result::Completed);
            return true;
        case Phase::VdmAnswer: {
            const VdmHeader asked{sc.vdm}, got{m.object1};
            if (m.type != VendorDefined || m.from != sc.answerer || !got.Structured() ||
                got.CommandType() == 0 || got.Command() != asked.Command())
                return false;
            Finish(sc, got.CommandType() == 1   ? Result::Completed
                       : got.CommandType() == 2 ? Result::Rejected
                                                : Result::Wait);
            return true;
        }
        case Phase::EprAck:
        case Phase::EprResult: {
            if (m.type != EprMode || m.from != sc.answerer) return false;
            const uint32_t action = m.object1 >> 24;
            if (action == 4) {
                Finish(sc, Result::Rejected);
                return true;
            }
            if (sc.phase == Phase::EprAck && action == 2) {
                Await(sc, Phase::EprResult, kSlowStepMs);
                return true;
            }
            if (sc.phase == Phase::EprResult && action == 3) {
                Finish(sc, Result::Completed);
                return true;
            }
            return false;
        }
        case Phase::KeepAliveAck:
            if (m.type != ExtendedControl || m.ecType != 4 || m.from != sc.answerer) return false;
            Finish(sc, Result::Completed);
            return true;
        }
        return false;
    }

    // Opens the exchange a message begins.
    void Open(State::Script& sc, const Message& m) {
        ExchangeKind kind = ExchangeKind::Other;
        Phase phase = Phase::Idle;
        double limit = ResponseMs(m.revision);
        sc = State::Script{};
        sc.asker = m.from;
        sc.answerer = m.to;
        const VdmHeader vdm{m.object1};
        switch (m.type) {
        case SourceCapabilities:
        case EprSourceCapabilities:
            if (m.from == Party::Source) {
                kind = ExchangeKind::Negotiation;
                phase = Phase::Request;
            }
            break;
        case Request:
        case EprRequest:
            if (m.from == Party::Sink) {
                kind = ExchangeKind::Negotiation;
                phase = Phase::Accept;
                sc.asker = m.to; // the source answers and sends PS_RDY
                sc.answerer = m.from;
                sc.answer = m.type;
            }
            break;
        case GetSourceCap:
        case GetSinkCap:
        case GetSourceCapExtended:
        case GetSinkCapExtended:
            kind = ExchangeKind::GetCapabilities;
            phase = Phase::Answer;
            sc.answer = AnswerOf(m.type);
            break;
        case GetStatus:
            kind = ExchangeKind::GetStatus;
            phase = Phase::Answer;
            sc.answer = Status;
            break;
        case Alert:
            kind = ExchangeKind::Alert;
            phase = Phase::AlertQuery;
            break;
        case SoftReset:
            kind = ExchangeKind::SoftReset;
            phase = Phase::Reply;
            break;
        case PrSwap:
            kind = ExchangeKind::PrSwap;
            phase = Phase::Reply;
            break;
        case DrSwap:
            kind = ExchangeKind::DrSwap;
            phase = Phase::Reply;
            break;
        case VconnSwap:
            kind = ExchangeKind::VconnSwap;
            phase = Phase::Reply;
            break;
        case FrSwap:
            kind = ExchangeKind::FrSwap;
            phase = Phase::Reply;
            break;
        case DataReset:
            kind = ExchangeKind::DataReset;
            phase = Phase::Reply;
            break;
        case EnterUsb:
            kind = ExchangeKind::EnterUsb;
            phase = Phase::Reply;
            break;
        case Bist:
            kind = ExchangeKind::Bist;
            break;
        case EprMode:
            if (m.object1 >> 24 == 1) {
                kind = ExchangeKind::EprEntry;
                phase = Phase::EprAck;
            } else if (m.object1 >> 24 == 5) {
                kind = ExchangeKind::EprExit;
            }
            break;
        case ExtendedControl:
            if (m.ecType == 1 || m.ecType == 2) {
                kind = ExchangeKind::GetCapabilities;
                phase = Phase::Answer;
                sc.answer = m.ecType == 1 ? EprSourceCapabilities : EprSinkCapabilities;
            } else if (m.ecType == 3) {
                kind = ExchangeKind::EprKeepAlive;
                phase = Phase::KeepAliveAck;
            }
            break;
        case VendorDefined:
            if (vdm.Structured() && vdm.CommandType() == 0) {
                phase = Phase::VdmAnswer;
                sc.vdm = m.object1;
                switch (vdm.Command()) {
                case 1:
                    kind = ExchangeKind::DiscoverIdentity;
                    break;
                case 2:
                    kind = ExchangeKind::DiscoverSvids;
                    break;
                case 3:
                    kind = ExchangeKind::DiscoverModes;
                    break;
                case 4:
                    kind = ExchangeKind::EnterMode;
                    break;
                case 5:
                    kind = ExchangeKind::ExitMode;
                    break;
                case 6:
                    kind = ExchangeKind::Attention;
                    phase = Phase::Idle; // no answer but the GoodCRC
                    break;
                case 16:
                case 17:
                    if (vdm.Svid() == kSvidDp)
                        kind = vdm.Command() == 16 ? ExchangeKind::DisplayPortStatus
                                                   : ExchangeKind::DisplayPortConfigure;
                    break;
                default:
                    break;
                }
            }
            break;
        default:
            if (AnswerOf(m.type) != Count) {
                kind = ExchangeKind::Query;
                phase = Phase::Answer;
                sc.answer = AnswerOf(m.type);
            }
            break;
        }
        if (kind == ExchangeKind::Other && phase == Phase::Idle && m.chunkPart && !m.requestChunk &&
            m.chunk == 0)
            kind = ExchangeKind::ChunkedMessage;
        sc.exchange = NewExchange(kind, m.tx);
        if (kind == ExchangeKind::Bist && m.object1 >> 28 == kBistCarrierMode) {
            s.bistExchange = sc.exchange;
            s.bistUntil =
                F().transactions[size_t(m.tx)].end + int64_t(lim[analysis::LimitId::TBISTContMode] * kMs);
        }
        Await(sc, phase, phase == Phase::Idle ? 0 : limit);
        StartChunks(sc, m);
    }

    void Assign(const Message& m) {
        State::Script& sc = s.scripts[m.slot];
        if (sc.exchange >= 0) {
            const int32_t x = sc.exchange;
            if (Advance(sc, m)) {
                Join(x, m.tx);
                if (sc.exchange == x) Refresh(sc);
                return;
            }
            End(sc, m.type == SoftReset);
        }
        Open(sc, m);
    }

    // The end of what was read: everything still open is judged against it.
    void Close(int64_t end) {
        FlushHeld();
        for (State::Script& sc : s.scripts) {
            if (sc.exchange >= 0) Close(sc.exchange, EndResult(F().exchanges[size_t(sc.exchange)], end));
            sc = State::Script{};
        }
        if (s.hardReset >= 0) Close(s.hardReset, EndResult(F().exchanges[size_t(s.hardReset)], end));
        s.hardReset = -1;
    }
};

void StartOver(State& s) {
    const uint64_t generation = s.generation;
    s = State{};
    s.generation = generation + 1;
}

// Reads the store from where the last call stopped.
void Read(State& s, const analysis::CLimits& limits, const CCaptureStore& store, bool final) {
    const size_t packetCount = store.PacketCount();
    const bool restarted =
        s.flow.packetsRead > 0 && (store.captureOrigin != s.origin || packetCount == 0 ||
                                   store.PacketAt(packetCount - 1)->startTime < s.lastPacketTime);
    if (restarted) StartOver(s);

    // The first packet not read: past those before the last one read, and past as many at its time as
    // were read.
    size_t lo = 0, hi = packetCount;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (store.PacketAt(mid)->startTime < s.lastPacketTime)
            lo = mid + 1;
        else
            hi = mid;
    }
    for (int32_t same = 0;
         same < s.sameTimeCount && lo < packetCount && store.PacketAt(lo)->startTime == s.lastPacketTime;
         ++same)
        ++lo;
    size_t i = lo;
    // A packet the store put before one read shows as one unread packet too few: reading again from the
    // start puts it in its place, while the store still holds that start.
    const uint32_t taken = store.tallies.all;
    if (packetCount - i < s.packetsUnread + size_t(uint32_t(taken - s.packetsTaken)) &&
        !store.packetsRemoved) {
        StartOver(s);
        i = 0;
    }
    s.origin = store.captureOrigin;
    Walker w{s, limits};
    const int64_t base = s.flow.packetsRead - int64_t(i);

    // While the capture grows, reading stops where something may still come before: a packet still open
    // on either line, and a little behind the newest time the store has seen.
    int64_t horizon = INT64_MAX;
    if (!final) {
        const int64_t lastPacket = packetCount > 0 ? store.PacketAt(packetCount - 1)->startTime : -1;
        const int64_t newestSample =
            store.SampleCount() > 0 ? store.SampleAt(store.SampleCount() - 1)->time : -1;
        horizon = std::min(store.OpenPacketStart(), std::max(lastPacket, newestSample) - kSettleUs);
    }
    // The capture goes on after its last frame as far as its samples reach.
    if (store.SampleCount() > 0)
        s.flow.end = std::max(s.flow.end, std::min(horizon, store.SampleAt(store.SampleCount() - 1)->time));
    for (; i < packetCount && store.PacketAt(i)->startTime <= horizon; ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        w.Packet(p, base + int64_t(i));
        if (p.startTime == s.lastPacketTime) {
            ++s.sameTimeCount;
        } else {
            s.lastPacketTime = p.startTime;
            s.sameTimeCount = 1;
        }
        ++s.flow.packetsRead;
    }
    s.packetsTaken = taken;
    s.packetsUnread = packetCount - i;
}

} // namespace

CFlowGrouper::CFlowGrouper(const analysis::CLimits& l) : limits(l), state(std::make_unique<State>()) {}

CFlowGrouper::~CFlowGrouper() = default;

void CFlowGrouper::Reset() {
    StartOver(*state);
}

Flow CFlowGrouper::Release() {
    Flow f = std::move(state->flow);
    StartOver(*state);
    return f;
}

uint64_t CFlowGrouper::Generation() const {
    return state->generation;
}

const Flow& CFlowGrouper::Current() const {
    return state->flow;
}

void CFlowGrouper::Feed(const CCaptureStore& store) {
    if (state->finished) return;
    Read(*state, limits, store, false);
}

void CFlowGrouper::Finish(const CCaptureStore& store) {
    if (state->finished) return;
    Read(*state, limits, store, true);
    Walker{*state, limits}.Close(state->flow.end);
    state->finished = true;
}

void CFlowGrouper::FeedAll(const CCaptureStore& store) {
    if (state->finished) return;
    Read(*state, limits, store, true);
    Walker{*state, limits}.FlushHeld();
}

Flow Group(const CCaptureStore& store, const std::vector<analysis::Finding>& findings,
           const analysis::CLimits& limits) {
    CFlowGrouper g(limits);
    g.Finish(store);
    g.AttachFindings(findings);
    return g.Release();
}

int32_t TransactionOfPacket(const Flow& flow, int64_t number) {
    const auto& txs = flow.transactions;
    // Transactions are in the order of their first frames; a packet belongs to one that began shortly
    // before it (its message, retries and GoodCRC lie within milliseconds).
    auto it = std::upper_bound(txs.begin(), txs.end(), number,
                               [](int64_t n, const Transaction& t) { return n < t.packets.front().number; });
    for (int back = 0; back < 64 && it != txs.begin(); ++back) {
        --it;
        for (const FlowPacket& p : it->packets)
            if (p.number == number) return int32_t(it - txs.begin());
    }
    return -1;
}

void CFlowGrouper::AttachFindings(const std::vector<analysis::Finding>& findings) {
    Flow& flow = state->flow;
    size_t& i = state->findingsAttached;
    if (findings.size() < i) {
        for (Exchange& x : flow.exchanges) x.findings.clear();
        i = 0;
    }
    // The analysis may have read further: a finding waits until its packets are grouped.
    const State::Held& held = state->held;
    const int64_t grouped = held.active ? held.packets.front().number : flow.packetsRead;
    for (; i < findings.size(); ++i) {
        const std::vector<analysis::PacketRef>& packets = findings[i].packets;
        if (!packets.empty() && packets.back().number >= grouped) break;
        for (const analysis::PacketRef& r : packets) {
            const int32_t tx = TransactionOfPacket(flow, r.number);
            if (tx < 0) continue;
            const int32_t x = flow.transactions[size_t(tx)].exchange;
            if (x >= 0) flow.exchanges[size_t(x)].findings.push_back(int32_t(i));
            break;
        }
    }
}

} // namespace flow
