#include "Analyzer.h"

#include "CCPacket.h"
#include "CaptureStore.h"
#include "MessageHeaderWord.h"
#include "MessageTypes.h"
#include "PacketFacts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace analysis {

using enum MessageTypeId;

// clang-format off
const RuleInfo kRules[int(RuleId::Count)] = {
    {RuleId::GoodCrcMissing,    "goodcrc-missing",     Severity::Error,   "message never acknowledged by GoodCRC"},
    {RuleId::GoodCrcLate,       "goodcrc-late",        Severity::Error,   "GoodCRC later than tTransmit"},
    {RuleId::GoodCrcMessageId,  "goodcrc-message-id",  Severity::Error,   "GoodCRC with another MessageID than the message"},
    {RuleId::RetryCount,        "retry-count",         Severity::Error,   "more retries than nRetryCount"},
    {RuleId::MessageId,         "message-id",          Severity::Warning, "MessageID repeated without a retry, or skipped"},
    {RuleId::SenderResponse,    "sender-response",     Severity::Error,   "answer later than tSenderResponse"},
    {RuleId::PsTransition,      "ps-transition",       Severity::Error,   "PS_RDY later than tPSTransition after Accept"},
    {RuleId::VbusAtPsRdy,       "vbus-at-ps-rdy",      Severity::Error,   "VBUS not at the new contract's voltage at PS_RDY"},
    {RuleId::VbusOutOfContract, "vbus-out-of-contract", Severity::Error,  "VBUS left the contract's voltage while it held"},
    {RuleId::OverCurrent,       "over-current",        Severity::Warning, "current above the contract's operating current"},
    {RuleId::PpsRequest,        "pps-request",         Severity::Error,   "PPS contract without a Request within tPPSRequest"},
    {RuleId::EprKeepAlive,      "epr-keepalive",       Severity::Error,   "EPR contract without EPR_KeepAlive within tSinkEPRKeepAlive"},
    {RuleId::HardResetVsafe0V,  "hard-reset-vsafe0v",  Severity::Error,   "VBUS not at vSafe0V in time after Hard Reset"},
    {RuleId::HardResetVsafe5V,  "hard-reset-vsafe5v",  Severity::Error,   "VBUS not back at vSafe5V within the recovery times"},
    {RuleId::InterFrameGap,     "inter-frame-gap",     Severity::Warning, "frames closer than tInterFrameGap"},
    {RuleId::InvalidPacket,     "invalid-packet",      Severity::Error,   "packet the list shows as invalid"},
    {RuleId::RequestInvalid,    "request-invalid",     Severity::Error,   "Request for what the last offer does not have"},
    {RuleId::AcceptInvalidRequest, "accept-invalid-request", Severity::Error, "source accepted a Request the offer cannot meet"},
    {RuleId::ReceiverResponse,  "receiver-response",   Severity::Warning, "answer later than tReceiverResponse"},
    {RuleId::CableCapability,   "cable-capability",    Severity::Error,   "contract or current beyond what the cable is marked for"},
    {RuleId::Retry,             "retry",               Severity::Info,    "message sent again for want of a GoodCRC"},
    {RuleId::RetryTiming,       "retry-timing",        Severity::Warning, "retry outside tReceive and tRetry, or fewer than nRetryCount"},
    {RuleId::HardResetCount,    "hard-reset-count",    Severity::Warning, "more Hard Resets in a row than nHardResetCount"},
    {RuleId::FirstSourceCap,    "first-source-cap",    Severity::Error,   "first Source_Capabilities later than tFirstSourceCap"},
    {RuleId::SourceCapRepeat,   "source-cap-repeat",   Severity::Warning, "unanswered Source_Capabilities outside tTypeCSendSourceCap or beyond nCapsCount"},
    {RuleId::SrcTransition,     "src-transition",      Severity::Warning, "VBUS moved before tSrcTransition after Accept"},
    {RuleId::SinkStandby,       "sink-standby",        Severity::Warning, "sink drew more than pSnkStdby during a transition"},
    {RuleId::PrSwapTiming,      "pr-swap-timing",      Severity::Error,   "power role swap slower than tPSSourceOff or tPSSourceOn"},
    {RuleId::SourceTimeout,     "source-timeout",      Severity::Error,   "source kept a PPS or EPR contract past its timeout without a Hard Reset"},
};
// clang-format on

const RuleInfo& RuleInfoOf(RuleId id) {
    return kRules[int(id)];
}

const RuleInfo* FindRule(const std::string& key) {
    for (const RuleInfo& r : kRules)
        if (key == r.key) return &r;
    return nullptr;
}

const char* SeverityName(Severity s) {
    switch (s) {
    case Severity::Info:
        return "info";
    case Severity::Warning:
        return "warning";
    case Severity::Error:
        return "error";
    }
    return "error";
}

bool ParseSeverity(const std::string& text, Severity* out) {
    for (Severity s : {Severity::Info, Severity::Warning, Severity::Error})
        if (text == SeverityName(s)) {
            *out = s;
            return true;
        }
    return false;
}

const char* SupplyKindName(SupplyKind k) {
    switch (k) {
    case SupplyKind::Fixed:
        return "fixed";
    case SupplyKind::Battery:
        return "battery";
    case SupplyKind::Variable:
        return "variable";
    case SupplyKind::Pps:
        return "PPS";
    case SupplyKind::SprAvs:
        return "SPR AVS";
    case SupplyKind::EprAvs:
        return "EPR AVS";
    case SupplyKind::Unknown:
        break;
    }
    return "unknown";
}

std::string RevisionsText(uint32_t bits) {
    static const char* const names[4] = {"1.0", "2.0", "3.x", "reserved"};
    std::string text;
    for (int i = 0; i < 4; ++i)
        if (bits & (1u << i)) text += (text.empty() ? "" : ", ") + std::string(names[i]);
    return text.empty() ? "-" : text;
}

PowerObject DecodePowerObject(uint32_t raw, int32_t position) {
    PowerObject o;
    o.position = position;
    o.raw = raw;
    const int32_t a = int32_t((raw >> 20) & 0x3FF) * 50, b = int32_t((raw >> 10) & 0x3FF) * 50;
    switch (raw >> 30) {
    case 0:
        o.kind = SupplyKind::Fixed;
        o.minMv = o.maxMv = b;
        o.maxMa = int32_t(raw & 0x3FF) * 10;
        break;
    case 1:
        o.kind = SupplyKind::Battery;
        o.maxMv = a;
        o.minMv = b;
        o.maxMw = int32_t(raw & 0x3FF) * 250;
        break;
    case 2:
        o.kind = SupplyKind::Variable;
        o.maxMv = a;
        o.minMv = b;
        o.maxMa = int32_t(raw & 0x3FF) * 10;
        break;
    default:
        switch ((raw >> 28) & 3) {
        case 0:
            o.kind = SupplyKind::Pps;
            o.maxMv = int32_t((raw >> 17) & 0xFF) * 100;
            o.minMv = int32_t((raw >> 8) & 0xFF) * 100;
            o.maxMa = int32_t(raw & 0x7F) * 50;
            break;
        case 1:
            o.kind = SupplyKind::EprAvs;
            o.maxMv = int32_t((raw >> 17) & 0x1FF) * 100;
            o.minMv = int32_t((raw >> 8) & 0xFF) * 100;
            o.maxMw = int32_t(raw & 0xFF) * 1000;
            break;
        case 2:
            // 9..15 V at the first current, 15..20 V at the second.
            o.kind = SupplyKind::SprAvs;
            o.minMv = 9000;
            o.maxMv = 20000;
            o.maxMa = int32_t((raw >> 10) & 0x3FF) * 10;
            break;
        default:
            o.kind = SupplyKind::Unknown;
            break;
        }
    }
    return o;
}

namespace {

constexpr int64_t kMs = 1000;
// Packets and samples that far behind the newest time seen are read even when no sample has come that
// late (a slow sampling interval).
constexpr int64_t kSampleLagUs = 1000000;
// How far the blocks of the two lines may arrive out of step.
constexpr int64_t kSettleUs = 100000;
// BIST Data Object mode asking the receiver for its carrier.
constexpr uint32_t kBistCarrierMode = 5;

bool IsGoodMessage(const CCCPacket& p) {
    return (p.kind == kKindSop || p.kind == kKindSopPrime || p.kind == kKindSopDoublePrime) && p.hasCrc &&
           p.crcGood && p.messageByteCount >= 2;
}

const char* TypeName(MessageTypeId id) {
    return MessageTypeInfoOf(id).name;
}

bool IsAnswer(MessageTypeId t) {
    return t == Accept || t == Reject || t == Wait || t == NotSupported;
}

// What a message asks of the other end, read from its packet.
struct Asking {
    MessageTypeId type = Count;
    uint32_t vdm = 0;          // a structured VDM command's header
    int32_t detail = -1;       // EPR_Mode action, Extended_Control type
    int32_t chunk = -1;        // a chunk that is not the last: the next one; a chunk request: the one asked
    bool chunkRequest = false; // the message is a chunk request
};

Asking AskingOf(const CCCPacket& p, MessageTypeId type) {
    Asking a;
    a.type = type;
    const int n = ReceivedObjects(p);
    if (type == VendorDefined && n >= 1 && (p.DataObject(1) & 0x8000) && ((p.DataObject(1) >> 6) & 3) == 0)
        a.vdm = p.DataObject(1);
    if (type == EprMode && n >= 1) a.detail = int32_t(p.DataObject(1) >> 24);
    if (type == ExtendedControl && p.messageByteCount >= 5) a.detail = p.messageBytes[4];
    if (p.ExtendedBit() && p.messageByteCount >= 4 && p.ChunkedBit()) {
        const int number = p.ChunkNumberField();
        if (p.RequestChunkBit()) {
            a.chunkRequest = true;
            a.chunk = number;
        } else if ((number + 1) * kMaxExtendedChunkBytes < p.DataSizeField()) {
            a.chunk = number + 1;
        }
    }
    return a;
}

// The name of what was asked, for the findings.
std::string AskName(const Asking& a) {
    static const char* const vdmCommands[] = {"",          "Discover Identity", "Discover SVIDs", "Discover Modes",
                                              "Enter Mode", "Exit Mode",        "Attention"};
    std::string name = TypeName(a.type);
    if (a.chunkRequest) return name + " chunk request " + std::to_string(a.chunk);
    if (a.chunk >= 0) return name + " chunk " + std::to_string(a.chunk - 1);
    const uint32_t command = a.vdm & 0x1F;
    if (a.vdm && command < 7) return name + " " + vdmCommands[command];
    if (a.vdm) return name + " command " + std::to_string(command);
    return name;
}

bool ExpectsAnswer(const Asking& a) {
    if (a.chunk >= 0) return true;
    switch (a.type) {
    case SourceCapabilities:
    case EprSourceCapabilities:
    case Request:
    case EprRequest:
    case PrSwap:
    case DrSwap:
    case VconnSwap:
    case SoftReset:
    case DataReset:
    case EnterUsb:
        return true;
    case VendorDefined:
        return a.vdm != 0 && (a.vdm & 0x1F) != 6; // Attention asks nothing
    case EprMode:
        return a.detail == 1; // Enter
    case ExtendedControl:
        return a.detail >= 1 && a.detail <= 3; // EPR_Get_Source_Cap, EPR_Get_Sink_Cap, EPR_KeepAlive
    default:
        return AnswerOf(a.type) != Count;
    }
}

// Whether a message of `type` in packet `p` answers what `a` asked.
bool Answers(const Asking& a, const CCCPacket& p, MessageTypeId type) {
    if (a.chunk >= 0) {
        if (type != a.type || !p.ExtendedBit() || p.messageByteCount < 4 || !p.ChunkedBit()) return false;
        return p.RequestChunkBit() != a.chunkRequest && p.ChunkNumberField() == a.chunk;
    }
    switch (a.type) {
    case SourceCapabilities:
    case EprSourceCapabilities:
        return type == Request || type == EprRequest;
    case Request:
    case EprRequest:
    case PrSwap:
    case DrSwap:
    case VconnSwap:
    case EnterUsb:
        return IsAnswer(type);
    case SoftReset:
        return type == Accept;
    case DataReset:
        return type == Accept || type == Reject || type == NotSupported;
    case VendorDefined: {
        if (type != VendorDefined || ReceivedObjects(p) < 1) return false;
        const uint32_t h = p.DataObject(1);
        return (h & 0x8000) && ((h >> 6) & 3) != 0 && (h >> 16) == (a.vdm >> 16) && (h & 0x1F) == (a.vdm & 0x1F);
    }
    case EprMode:
        return type == EprMode && ReceivedObjects(p) >= 1 && ((p.DataObject(1) >> 24) == 2 || (p.DataObject(1) >> 24) == 4);
    case ExtendedControl:
        if (a.detail == 1) return type == EprSourceCapabilities || type == NotSupported;
        if (a.detail == 2) return type == EprSinkCapabilities || type == NotSupported;
        return type == ExtendedControl && p.messageByteCount >= 5 && p.messageBytes[4] == 4;
    default:
        return AnswerOf(a.type) != Count && (type == AnswerOf(a.type) || type == NotSupported || type == Reject);
    }
}

Ask MakeAsk(uint32_t rdo, const PowerObject& o, bool epr) {
    Ask a;
    a.kind = o.kind;
    a.epr = epr;
    switch (o.kind) {
    case SupplyKind::Fixed:
    case SupplyKind::Variable:
        a.mV = o.kind == SupplyKind::Fixed ? o.maxMv : o.maxMv;
        a.minMv = o.minMv;
        a.maxMv = o.maxMv;
        a.operatingMa = int32_t((rdo >> 10) & 0x3FF) * 10;
        a.limitMa = int32_t(rdo & 0x3FF) * 10;
        break;
    case SupplyKind::Battery:
        a.mV = o.maxMv;
        a.minMv = o.minMv;
        a.maxMv = o.maxMv;
        a.operatingMw = int32_t((rdo >> 10) & 0x3FF) * 250;
        a.operatingMa = o.minMv > 0 ? int32_t(int64_t(a.operatingMw) * 1000 / o.minMv) : 0;
        break;
    case SupplyKind::Pps:
        a.mV = a.minMv = a.maxMv = int32_t((rdo >> 9) & 0xFFF) * 20;
        a.operatingMa = int32_t(rdo & 0x7F) * 50;
        break;
    case SupplyKind::SprAvs:
    case SupplyKind::EprAvs:
        a.mV = a.minMv = a.maxMv = int32_t((rdo >> 9) & 0xFFF) * 25;
        a.operatingMa = int32_t(rdo & 0x7F) * 50;
        break;
    case SupplyKind::Unknown:
        break;
    }
    return a;
}

std::string Ms(double us) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f ms", us / 1000.0);
    return buf;
}

std::string Num(double v, const char* format = "%.0f") {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string RoleOf(const CCCPacket& p) {
    if (p.kind == kKindSop) return p.PowerRoleBit() ? "Source" : "Sink";
    return p.PowerRoleBit() ? "Cable Plug" : "DFP";
}

// Why the offer cannot meet the request; empty when it can.
std::string RequestFault(const RequestEntry& r, const std::vector<PowerObject>& offer) {
    const auto objectOf = [&]() -> const PowerObject* {
        for (const PowerObject& o : offer)
            if (o.position == r.position) return &o;
        return nullptr;
    };
    const PowerObject* o = objectOf();
    if (!o) return "Request for object " + std::to_string(r.position) + ", the last offer has " +
                   std::to_string(offer.size()) + (offer.size() == 1 ? " object" : " objects");
    const Ask& a = r.ask;
    const std::string n = "object " + std::to_string(r.position) + " (" + SupplyKindName(o->kind) + ")";
    switch (o->kind) {
    case SupplyKind::Fixed:
    case SupplyKind::Variable:
        if (a.operatingMa > o->maxMa)
            return "Request for " + std::to_string(a.operatingMa) + " mA from " + n + " of " +
                   std::to_string(o->maxMa) + " mA";
        break;
    case SupplyKind::Battery:
        if (a.operatingMw > o->maxMw)
            return "Request for " + std::to_string(a.operatingMw) + " mW from " + n + " of " +
                   std::to_string(o->maxMw) + " mW";
        break;
    case SupplyKind::Pps:
    case SupplyKind::SprAvs:
    case SupplyKind::EprAvs:
        if (a.mV < o->minMv || a.mV > o->maxMv)
            return "Request for " + std::to_string(a.mV) + " mV from " + n + " of " + std::to_string(o->minMv) +
                   "-" + std::to_string(o->maxMv) + " mV";
        // An SPR AVS object gives one current up to 15 V and another above.
        if (const int32_t most = o->kind == SupplyKind::SprAvs && a.mV > 15000 ? int32_t(o->raw & 0x3FF) * 10 : o->maxMa;
            most > 0 && a.operatingMa > most)
            return "Request for " + std::to_string(a.operatingMa) + " mA from " + n + " of " + std::to_string(most) +
                   " mA";
        if (o->maxMw > 0 && int64_t(a.mV) * a.operatingMa > int64_t(o->maxMw) * 1000)
            return "Request for " + std::to_string(int64_t(a.mV) * a.operatingMa / 1000000) + " W from " + n +
                   " of " + std::to_string(o->maxMw / 1000) + " W";
        break;
    case SupplyKind::Unknown:
        break;
    }
    return {};
}

EventKind SwapKindOf(MessageTypeId t) {
    return t == PrSwap ? EventKind::PrSwap : t == DrSwap ? EventKind::DrSwap : t == VconnSwap ? EventKind::VconnSwap : EventKind::FrSwap;
}

PacketRef RefOf(const CCCPacket& p, int64_t number) {
    return {number, p.startTime};
}

} // namespace

// ---------------------------------------------------------------------------------------------------------

struct CAnalyzer::State {
    Results results;
    bool finished = false;

    // Where reading stopped.
    int64_t origin = -1;
    int64_t lastPacketTime = -1;
    int32_t sameTimeCount = 0; // packets read that start at lastPacketTime
    int64_t lastSampleTime = -1;
    int32_t sameSampleTimeCount = 0; // samples read at lastSampleTime
    int64_t lastEventTime = 0;
    int64_t lastPacketEnd = 0;
    // The store's count of packets it ever took and of those not read yet, at the end of the last read:
    // a packet it has put before the reading position since then shows as one unread packet too few.
    uint32_t packetsTaken = 0;
    size_t packetsUnread = 0;

    // Per sender the last message, for retries and MessageIDs. A sender is one of the two ends: on SOP
    // told apart by the data role bit (both flip together when a DR_Swap is done), on SOP' and SOP'' by
    // the cable plug bit.
    struct Sender {
        bool known = false;
        int32_t id = 0;
        uint16_t header = 0;
        int32_t byteCount = 0;
        uint8_t bytes[kMessageBytesCapacity] = {};
        int32_t transmissions = 0;
        bool retryReported = false;
        bool acked = false;
        int64_t end = 0;
        PacketRef first;
        PacketRef last; // the latest transmission
        // After a reset or a power role swap the next message starts the count again at 0.
        const char* restartedBy = nullptr;
    };
    Sender senders[3][2];
    // A frame that could not be read since the sender's last message: its MessageID may have gone there.
    bool unreadable[3][2] = {};
    bool dataRolesSwapped = false;
    bool drSwapAccepted = false; // the Accept of a DR_Swap sent, its GoodCRC not yet seen

    // The message on each ordered set waiting for its GoodCRC.
    struct Pending {
        bool active = false;
        bool acked = false;
        PacketRef ref;
        int64_t end = 0;
        int32_t id = 0;
        int32_t key = 0;
        uint16_t header = 0;
        bool unreadableSince = false; // a frame that could not be read came after it: maybe its GoodCRC
        int32_t kindIndex = 0;
        MessageTypeId type = Count;
        int32_t revision = 1;
        int32_t transmissions = 0;
        Asking asking;
    };
    Pending pending[3];

    // An answer awaited (tSenderResponse), counted from the end of the GoodCRC of the message that asks.
    // A PS_RDY whose VBUS is judged on the next sample.
    struct PsRdyCheck {
        bool active = false;
        PacketRef ref;
        double lo = 0, hi = 0;
        int32_t askMv = 0;
    };
    PsRdyCheck psRdyCheck;
    int64_t bistCarrierUntil = -1; // a BIST carrier may come until then

    struct Await {
        bool active = false;
        Asking asking;
        PacketRef ref;
        int32_t askerKey = 0;
        int64_t from = 0;
        double limitMs = 0;
    };
    Await await[3]; // per ordered set

    // PS_RDY awaited after the Accept of a request.
    struct Transition {
        bool active = false;
        PacketRef accept;
        int64_t from = 0;
        bool epr = false;
        size_t request = 0;
    };
    Transition transition;

    // The latest offers, for the objects a request names.
    std::vector<PowerObject> sprOffer, eprOffer;
    // The request last asked could not be met by the offer it names (an Accept of it is a fault too).
    bool requestInvalid = false;
    // The exchange an Accept, Reject or Wait answers.
    enum class Asked { None, Request, Swap };
    Asked asked = Asked::None;
    size_t askedIndex = 0;
    int32_t askedKey = 0;

    // Power role swap: from its Accept to the second PS_RDY VBUS may go away.
    int32_t swapPsRdys = -1; // -1: no swap under way
    bool frSwap = false;

    // The contract in force.
    bool contract = false;
    int64_t contractStart = 0;
    Ask ask;
    int64_t lastSinkActivity = 0; // EPR: the sink's latest message
    int64_t lastPpsRequest = 0;

    // VBUS.
    bool haveFirstSample = false;
    CVbusInfo firstSample;
    CVbusInfo lastSample;
    bool haveLastSample = false;
    bool vbusOn = false;
    struct Run {
        bool active = false;
        int64_t start = 0, end = 0;
        double extreme = 0;
        double limit = 0;
    };
    Run voltageRun, currentRun;
    enum class Recovery { None, WaitOff, WaitOn };
    Recovery recovery = Recovery::None;
    int64_t resetTime = 0, offTime = 0;
    PacketRef resetRef;

    // Frames per channel: the end of the latest one.
    int64_t frameEnd[2] = {-1, -1};
    PacketRef frameRef[2];

    bool connectionOpen = false;

    // What is known since VBUS last came on: whether the capture saw it come (an attach, and the Hard
    // Resets after it), and the cable's identity.
    bool attachSeen = false;
    bool cableKnown = false;
    CableIdentity cable;
    bool cableCurrentJudged = false; // the measured current beyond the cable, once per contract
    int32_t hardResets = 0;          // in a row, without a contract between
    // Start-up: when VBUS reached vSafe5V and the first offer is due; unanswered offers in a row.
    int64_t capsDueFrom = -1;
    int32_t unansweredCaps = 0;
    int64_t lastUnansweredCapsEnd = -1;
    bool capsCountReported = false;
    // The transition after an Accept: VBUS before it, and whether it has moved.
    double transitionBaseMv = -1;
    bool transitionMoved = false;
    bool standbyJudged = false;
    // A power role swap's times: the Accept's end, then the old source's PS_RDY.
    int64_t swapFrom = -1;

    Connection& Conn() { return results.connections.back(); }
};

namespace {

using State = CAnalyzer::State;

struct Walker {
    State& s;
    const CLimits& lim;

    void Add(RuleId rule, int64_t time, int64_t end, std::vector<PacketRef> packets, double measured, double limit,
             const char* unit, std::string text, bool hasMeasured = true) {
        Finding f;
        f.rule = rule;
        f.severity = RuleInfoOf(rule).severity;
        f.time = time;
        f.endTime = end;
        f.packets = std::move(packets);
        f.measured = measured;
        f.limit = limit;
        f.hasMeasured = hasMeasured;
        f.unit = unit;
        f.text = std::move(text);
        s.results.findings.push_back(std::move(f));
    }

    void OpenConnection(int64_t t, const char* reason) {
        Connection c;
        c.startTime = t;
        c.startReason = reason;
        s.results.connections.push_back(std::move(c));
        s.connectionOpen = true;
    }

    // A capture that begins in a connection: it starts with the capture, not with its first packet.
    void EnsureConnection(int64_t t) {
        if (!s.connectionOpen)
            s.results.connections.empty() ? OpenConnection(std::min<int64_t>(t, 0), "capture start")
                                          : OpenConnection(t, "traffic");
    }

    // --- Messages awaiting GoodCRC -------------------------------------------------------------------

    void ClosePending(int k, int64_t now) {
        State::Pending& q = s.pending[k];
        if (!q.active) return;
        q.active = false;
        s.senders[k][q.key].acked = q.acked;
        if (q.acked || q.unreadableSince || now - q.end <= int64_t(lim[LimitId::TReceive])) return;
        std::string text = std::string(TypeName(q.type)) + " sent " + std::to_string(q.transmissions) +
                           (q.transmissions == 1 ? " time" : " times");
        if (k == 0 && q.type == MessageTypeId::SourceCapabilities) {
            ++s.unansweredCaps;
            s.lastUnansweredCapsEnd = q.end;
            if (s.unansweredCaps > int(lim[LimitId::NCapsCount]) && !s.capsCountReported) {
                s.capsCountReported = true;
                Add(RuleId::SourceCapRepeat, q.ref.time, q.end, {q.ref}, s.unansweredCaps, lim[LimitId::NCapsCount], "",
                    "Source_Capabilities sent unanswered " + std::to_string(s.unansweredCaps) + " times in a row");
            }
        }
        // A source repeats its first offers until a sink is there to answer: the normal start of a
        // connection, not a fault.
        if (k == 0 && q.type == MessageTypeId::SourceCapabilities &&
            (s.results.connections.empty() || s.Conn().contracts.empty())) {
            Add(RuleId::GoodCrcMissing, q.ref.time, q.end, {q.ref}, 0, 0, "transmissions",
                std::move(text) + ", no sink answered", false);
            s.results.findings.back().severity = Severity::Info;
            return;
        }
        text += ", never acknowledged";
        const int allowed = lim.RetryCount(q.revision);
        Add(RuleId::GoodCrcMissing, q.ref.time, q.end, {q.ref}, q.transmissions, 1 + allowed, "transmissions", text);
        if (k == 0 && q.transmissions < 1 + allowed && q.type != SoftReset)
            Add(RuleId::RetryTiming, q.ref.time, q.end, {q.ref}, q.transmissions - 1, allowed, "retries",
                std::string(TypeName(q.type)) + " given up after " + std::to_string(q.transmissions - 1) +
                    (q.transmissions == 2 ? " retry" : " retries") + " of nRetryCount's " + std::to_string(allowed));
        if (k > 0) s.results.findings.back().severity = Severity::Info; // no cable plug may be there to answer
    }

    void AwaitAnswer(const State::Pending& q, int64_t from) {
        const Asking& a = q.asking;
        if (!ExpectsAnswer(a)) return;
        // Only an offer from the port in the source role asks for a Request: a dual-role sink answering
        // Get_Source_Cap offers what it could give after a swap.
        if ((q.type == SourceCapabilities || q.type == EprSourceCapabilities) && a.chunk < 0 &&
            !MessageHeaderWord{q.header}.PowerRole())
            return;
        const double limit = a.chunk >= 0                                           ? lim[LimitId::TChunkSenderResponse]
                             : a.vdm && ((a.vdm & 0x1F) == 4 || (a.vdm & 0x1F) == 5) ? lim[LimitId::TVDMWaitModeEntry]
                             : a.vdm                                                ? lim[LimitId::TVDMSenderResponse]
                                                                                    : lim.SenderResponseMs(q.revision);
        s.await[q.kindIndex] = {true, a, q.ref, q.key, from, limit};
    }

    // The awaited answer did not come: judged once something else happens or the capture ends.
    void CloseAwait(int k, int64_t now, const char* what) {
        State::Await& a = s.await[k];
        if (!a.active) return;
        a.active = false;
        const double waited = double(now - a.from);
        if (waited <= a.limitMs * kMs) return;
        Add(RuleId::SenderResponse, a.ref.time, now, {a.ref}, 0, a.limitMs, "ms",
            "no answer to " + AskName(a.asking) + " within " + Num(a.limitMs) + " ms (" + what + ")", false);
    }

    // A message on an ordered set where an answer is awaited: the answer, judged for both ends' timers, or
    // something else, which ends the wait.
    void CheckAwait(const CCCPacket& p, PacketRef ref, int k, int key, MessageTypeId type) {
        State::Await& a = s.await[k];
        if (!a.active) return;
        const int64_t t = p.startTime;
        if (key == a.askerKey || !Answers(a.asking, p, type)) {
            CloseAwait(k, t, key == a.askerKey ? "the asker went on" : "another message came");
            return;
        }
        a.active = false;
        const double waited = double(t - a.from);
        std::string text = std::string(TypeName(type)) + " " + Ms(waited) + " after " + AskName(a.asking);
        if (waited > a.limitMs * kMs)
            Add(RuleId::SenderResponse, a.ref.time, t, {a.ref, ref}, waited / kMs, a.limitMs, "ms", std::move(text));
        else if (waited > lim[LimitId::TReceiverResponse] * kMs)
            Add(RuleId::ReceiverResponse, a.ref.time, t, {a.ref, ref}, waited / kMs, lim[LimitId::TReceiverResponse],
                "ms", std::move(text));
    }

    // --- Contracts -------------------------------------------------------------------------------------

    void CloseRuns(int64_t now);

    void EndContract(int64_t now, const char* reason) {
        if (!s.contract) return;
        CloseRuns(now);
        CheckLapses(now);
        s.contract = false;
        for (auto it = s.results.connections.rbegin(); it != s.results.connections.rend(); ++it)
            if (!it->contracts.empty() && it->contracts.back().endTime < 0) {
                it->contracts.back().endTime = now;
                it->contracts.back().endReason = reason;
                break;
            }
    }

    // PPS requests and EPR keep-alives: a lapse is judged when it ends (or at the capture's end).
    void CheckLapses(int64_t now) {
        CheckPps(now);
        CheckEpr(now);
    }
    void CheckPps(int64_t now) {
        if (s.contract && s.ask.kind == SupplyKind::Pps) {
            const double gap = double(now - s.lastPpsRequest);
            if (gap > lim[LimitId::TPPSRequest] * kMs)
                Add(RuleId::PpsRequest, s.lastPpsRequest, now, {}, gap / kMs, lim[LimitId::TPPSRequest], "ms",
                    "no Request for " + Ms(gap) + " under a PPS contract");
            if (gap > lim[LimitId::TPPSTimeout] * kMs)
                Add(RuleId::SourceTimeout, s.lastPpsRequest, now, {}, gap / kMs, lim[LimitId::TPPSTimeout], "ms",
                    "the source kept the PPS contract through " + Ms(gap) + " without a Request and without a Hard Reset");
        }
    }
    void CheckEpr(int64_t now) {
        if (s.contract && s.ask.epr) {
            const double gap = double(now - s.lastSinkActivity);
            if (gap > lim[LimitId::TSinkEPRKeepAlive] * kMs)
                Add(RuleId::EprKeepAlive, s.lastSinkActivity, now, {}, gap / kMs, lim[LimitId::TSinkEPRKeepAlive],
                    "ms", "the sink was silent for " + Ms(gap) + " under an EPR contract");
            if (gap > lim[LimitId::TSourceEPRKeepAlive] * kMs)
                Add(RuleId::SourceTimeout, s.lastSinkActivity, now, {}, gap / kMs, lim[LimitId::TSourceEPRKeepAlive], "ms",
                    "the source kept the EPR contract through " + Ms(gap) + " of sink silence without a Hard Reset");
        }
    }

    void CloseTransition(int64_t now, const char* what) {
        State::Transition& t = s.transition;
        if (!t.active) return;
        t.active = false;
        const double limit = lim[t.epr ? LimitId::TPSTransitionEpr : LimitId::TPSTransitionSpr];
        if (double(now - t.from) <= limit * kMs) return;
        Add(RuleId::PsTransition, t.accept.time, now, {t.accept}, 0, limit, "ms",
            std::string("no PS_RDY within ") + Num(limit) + " ms of Accept (" + what + ")", false);
    }

    // --- Resets and connection ends ------------------------------------------------------------------

    void ForgetSenders(int fromKind, const char* restartedBy) {
        for (int k = fromKind; k < 3; ++k)
            for (int n = 0; n < 2; ++n) {
                s.senders[k][n] = State::Sender{};
                s.senders[k][n].restartedBy = restartedBy;
                s.unreadable[k][n] = false;
            }
        if (fromKind == 0) s.dataRolesSwapped = s.drSwapAccepted = false;
    }

    int SenderKey(const CCCPacket& p) const {
        return p.kind == kKindSop ? int(p.DataRoleBit() != s.dataRolesSwapped) : int(p.PowerRoleBit());
    }

    void EndConnection(int64_t now, const char* reason) {
        for (int k = 0; k < 3; ++k) {
            ClosePending(k, now);
            CloseAwait(k, now, reason);
        }
        CloseTransition(now, reason);
        EndContract(now, reason);
        ForgetSenders(0, reason);
        s.asked = State::Asked::None;
        s.swapPsRdys = -1;
        s.sprOffer.clear();
        s.eprOffer.clear();
        if (s.connectionOpen) {
            s.Conn().endTime = now;
            s.Conn().endReason = reason;
        }
        s.connectionOpen = false;
    }

    // --- Samples -------------------------------------------------------------------------------------

    bool VoltageRange(const Ask& a, double* lo, double* hi) const {
        const double tol = (a.kind == SupplyKind::Pps || a.kind == SupplyKind::SprAvs || a.kind == SupplyKind::EprAvs
                                ? lim[LimitId::VPpsNewTolerance]
                                : lim[LimitId::VSrcNewTolerance]) /
                           100.0;
        if (a.kind == SupplyKind::Unknown || a.maxMv <= 0) return false;
        *lo = a.minMv * (1 - tol) - lim[LimitId::VSinkEndDrop];
        *hi = a.maxMv * (1 + tol);
        return true;
    }

    void Sample(const CVbusInfo& v) {
        if (!s.haveFirstSample) {
            s.haveFirstSample = true;
            s.firstSample = v;
            // VBUS on from the first sample: plugged in before the capture began, no attach.
            if (v.vbusVoltage >= lim[LimitId::VSafe5VMin]) {
                s.vbusOn = true;
                if (!s.connectionOpen) OpenConnection(v.time, "capture start");
            }
        }
        if (!s.results.analogSeen &&
            (v.vbusVoltage != s.firstSample.vbusVoltage || v.vbusCurrent != 0 || s.firstSample.vbusCurrent != 0))
            s.results.analogSeen = true;
        s.lastSample = v;
        s.haveLastSample = true;
        JudgePsRdy(v);
        if (!s.results.analogSeen) return;
        const int64_t t = v.time;
        const double mV = v.vbusVoltage;

        switch (s.recovery) {
        case State::Recovery::WaitOff:
            if (mV <= lim[LimitId::VSafe0VMax]) {
                const double took = double(t - s.resetTime) / kMs;
                const double limit = lim[LimitId::TPSHardReset] + lim[LimitId::TSafe0V];
                if (took > limit)
                    Add(RuleId::HardResetVsafe0V, s.resetTime, t, {s.resetRef}, took, limit, "ms",
                        "VBUS reached vSafe0V " + Ms(took * kMs) + " after Hard Reset");
                s.recovery = State::Recovery::WaitOn;
                s.offTime = t;
            }
            break;
        case State::Recovery::WaitOn:
            if (mV >= lim[LimitId::VSafe5VMin]) {
                const double took = double(t - s.offTime) / kMs;
                const double most = lim[LimitId::TSrcRecoverMax] + lim[LimitId::TSrcTurnOn];
                const double least = lim[LimitId::TSrcRecoverMin];
                if (took > most)
                    Add(RuleId::HardResetVsafe5V, s.offTime, t, {s.resetRef}, took, most, "ms",
                        "VBUS back at vSafe5V " + Ms(took * kMs) + " after reaching vSafe0V");
                else if (took < least)
                    Add(RuleId::HardResetVsafe5V, s.offTime, t, {s.resetRef}, took, least, "ms",
                        "VBUS back at vSafe5V after only " + Ms(took * kMs) + " at vSafe0V");
                s.recovery = State::Recovery::None;
                s.vbusOn = true;
                s.capsDueFrom = t;
            }
            break;
        case State::Recovery::None:
            break;
        }

        if (s.recovery == State::Recovery::None && s.swapPsRdys < 0 && !s.frSwap) {
            if (!s.vbusOn && mV >= lim[LimitId::VSafe5VMin]) {
                s.vbusOn = true;
                s.attachSeen = true;
                s.capsDueFrom = t;
                if (!s.connectionOpen) {
                    OpenConnection(t, "attach");
                } else if (s.Conn().offers.empty() && s.Conn().requests.empty() && s.Conn().resets.empty()) {
                    s.Conn().startTime = t;
                    s.Conn().startReason = "attach";
                }
            } else if (s.vbusOn && mV <= lim[LimitId::VSafe0VMax]) {
                s.vbusOn = false;
                // VBUS discharging on its way to a detach is no excursion under the contract.
                if (s.voltageRun.active && s.voltageRun.extreme < s.voltageRun.limit &&
                    t - s.voltageRun.start <= int64_t(lim[LimitId::TSafe0V] * kMs))
                    s.voltageRun.active = false;
                if (s.connectionOpen) EndConnection(t, "detach");
                s.attachSeen = s.cableKnown = false;
                s.hardResets = 0;
                s.capsDueFrom = -1;
            }
        }

        JudgeTransition(v);
        if (!s.contract || t <= s.contractStart) return;
        if (!s.cableCurrentJudged && v.vbusCurrent != 0) {
            const std::string fault = CableFault(s.ask, std::abs(double(v.vbusCurrent)));
            if (!fault.empty()) {
                s.cableCurrentJudged = true;
                Add(RuleId::CableCapability, t, t, {}, std::abs(double(v.vbusCurrent)), 3000, "mA", fault);
            }
        }
        CheckRun(s.voltageRun, t, [&](double* value, double* limit) {
            double lo = 0, hi = 0;
            if (!VoltageRange(s.ask, &lo, &hi)) return false;
            // A PPS source in current limit lowers VBUS to hold the current at the requested operating
            // current, its limit.
            if (mV < lo && s.ask.kind == SupplyKind::Pps && s.ask.operatingMa > 0 &&
                std::abs(double(v.vbusCurrent)) >= s.ask.operatingMa - lim[LimitId::CurrentMargin])
                return false;
            *value = mV;
            *limit = mV < lo ? lo : hi;
            return mV < lo || mV > hi;
        });
        CheckRun(s.currentRun, t, [&](double* value, double* limit) {
            if (s.ask.operatingMa <= 0) return false;
            const double mA = std::abs(double(v.vbusCurrent));
            *value = mA;
            *limit = s.ask.operatingMa;
            return mA > s.ask.operatingMa + lim[LimitId::CurrentMargin];
        });
    }

    // Between an Accept and its PS_RDY: the source keeps VBUS for tSrcTransition, the sink goes to standby
    // within tSnkStdby.
    void JudgeTransition(const CVbusInfo& v) {
        const State::Transition& tr = s.transition;
        if (!tr.active || v.time <= tr.from || !s.results.analogSeen) return;
        const double after = double(v.time - tr.from);
        const double mV = v.vbusVoltage;
        if (s.transitionBaseMv >= 0 && !s.transitionMoved &&
            std::abs(mV - s.transitionBaseMv) > std::max(250.0, s.transitionBaseMv * 0.05)) {
            s.transitionMoved = true;
            if (after < lim[LimitId::TSrcTransition] * kMs)
                Add(RuleId::SrcTransition, tr.from, v.time, {tr.accept}, after / kMs, lim[LimitId::TSrcTransition], "ms",
                    "VBUS at " + Num(mV) + " mV from " + Num(s.transitionBaseMv) + " mV " + Ms(after) + " after Accept");
        }
        const double mW = mV * std::abs(double(v.vbusCurrent)) / 1000.0;
        const double most = lim[LimitId::PSnkStdby] + mV * lim[LimitId::CurrentMargin] / 1000.0;
        if (!s.standbyJudged && after > lim[LimitId::TSnkStdby] * kMs && mW > most) {
            s.standbyJudged = true;
            Add(RuleId::SinkStandby, tr.from, v.time, {tr.accept}, mW, lim[LimitId::PSnkStdby], "mW",
                "the sink drew " + Num(mW) + " mW " + Ms(after) + " after Accept, before PS_RDY");
        }
    }

    template <class Test> void CheckRun(State::Run& r, int64_t t, Test test) {
        double value = 0, limit = 0;
        if (test(&value, &limit)) {
            if (!r.active) {
                r = {true, t, t, value, limit};
            } else {
                r.end = t;
                if (std::abs(value - limit) > std::abs(r.extreme - r.limit)) {
                    r.extreme = value;
                    r.limit = limit;
                }
            }
            return;
        }
        if (r.active) FlushRun(r);
    }

    void FlushRun(State::Run& r) {
        if (!r.active) return;
        r.active = false;
        if (&r == &s.voltageRun) {
            Add(RuleId::VbusOutOfContract, r.start, r.end, {}, r.extreme, r.limit, "mV",
                "VBUS at " + Num(r.extreme) + " mV under a " + Num(s.ask.mV) + " mV contract for " +
                    Ms(double(r.end - r.start)));
        } else {
            const double lasted = double(r.end - r.start) / kMs;
            if (lasted < lim[LimitId::OverCurrentTime]) return;
            Add(RuleId::OverCurrent, r.start, r.end, {}, r.extreme, r.limit, "mA",
                "VBUS current up to " + Num(r.extreme) + " mA for " + Ms(lasted * kMs) + " against " +
                    Num(r.limit) + " mA agreed");
        }
    }

    // --- Packets -------------------------------------------------------------------------------------

    void Packet(const CCCPacket& p, int64_t number) {
        const PacketRef ref = RefOf(p, number);
        const int64_t t = p.startTime;
        EnsureConnection(t);

        if (p.intervalCount != 0) {
            std::vector<std::string> reasons = InvalidPacketReasons(p);
            if (!reasons.empty()) {
                std::string text;
                for (const std::string& r : reasons) text += (text.empty() ? "" : "; ") + r;
                // The carrier a BIST Carrier Mode request asks for is no frame, and is the right answer.
                const bool bistCarrier = s.bistCarrierUntil >= 0 && t <= s.bistCarrierUntil && !IsMessageKind(p.kind);
                Add(RuleId::InvalidPacket, t, PacketEnd(p), {ref}, 0, 0, "",
                    bistCarrier ? "BIST carrier after the BIST Carrier Mode request (" + text + ")" : std::move(text),
                    false);
                if (bistCarrier) {
                    s.results.findings.back().severity = Severity::Info;
                    s.bistCarrierUntil = -1;
                }
            }
        }

        if (p.preambleFound && p.channel >= 0 && p.channel < 2) {
            const int c = p.channel;
            if (s.frameEnd[c] >= 0 && t - s.frameEnd[c] < int64_t(lim[LimitId::TInterFrameGap]))
                Add(RuleId::InterFrameGap, s.frameEnd[c], t, {s.frameRef[c], ref}, double(t - s.frameEnd[c]),
                    lim[LimitId::TInterFrameGap], "us", "frames " + Num(double(t - s.frameEnd[c])) + " us apart");
            s.frameEnd[c] = PacketEnd(p);
            s.frameRef[c] = ref;
        }

        if (p.kind == kKindHardReset) return HardReset(p, ref);
        if (p.kind == kKindCableReset) return CableReset(p, ref);
        if (!IsGoodMessage(p)) {
            // Any frame that could not be read may have been a message or a GoodCRC.
            if (p.intervalCount != 0 && p.kind != kKindSopPrimeDebug && p.kind != kKindSopDoublePrimeDebug) {
                for (auto& kind : s.unreadable)
                    for (bool& u : kind) u = true;
                for (State::Pending& q : s.pending) q.unreadableSince = true;
            }
            return;
        }
        Message(p, ref);
    }

    void HardReset(const CCCPacket& p, PacketRef ref) {
        const int64_t t = p.startTime;
        if (++s.hardResets == int(lim[LimitId::NHardResetCount]) + 2)
            Add(RuleId::HardResetCount, t, t, {ref}, s.hardResets, lim[LimitId::NHardResetCount] + 1, "",
                std::to_string(s.hardResets) + " Hard Resets in a row without a contract");
        s.capsDueFrom = -1;
        s.unansweredCaps = 0;
        if (s.connectionOpen) s.Conn().resets.push_back({ref, EventKind::HardReset, "Hard Reset", "", ""});
        EndConnection(t, "Hard Reset");
        OpenConnection(t, "Hard Reset");
        s.frSwap = false;
        if (s.results.analogSeen) {
            s.recovery = State::Recovery::WaitOff;
            s.resetTime = PacketEnd(p);
            s.resetRef = ref;
        }
    }

    void CableReset(const CCCPacket& p, PacketRef ref) {
        s.Conn().resets.push_back({ref, EventKind::CableReset, "Cable Reset", "", ""});
        for (int k = 1; k < 3; ++k) {
            ClosePending(k, p.startTime);
            s.pending[k].active = false;
        }
        ForgetSenders(1, "Cable Reset");
    }

    void Message(const CCCPacket& p, PacketRef ref) {
        const int k = p.kind - 1;
        const int64_t t = p.startTime;
        const MessageTypeId type = PacketTypeId(p);
        Connection& c = s.Conn();
        c.revisions[k] |= 1u << p.RevisionField();
        const int key = SenderKey(p);

        if (type == GoodCrc) return GoodCrcMessage(p, ref, k);
        if (type == Bist && k == 0 && p.crcGood && ReceivedObjects(p) >= 1 && p.DataObject(1) >> 28 == kBistCarrierMode)
            s.bistCarrierUntil = PacketEnd(p) + int64_t(lim[LimitId::TBISTContMode] * kMs);

        // A retry: the same sender, MessageID and bytes as its previous message, before an answer to it
        // could be due. Later, the same message is sent anew (an offer repeated after going unanswered).
        State::Sender& from = s.senders[k][key];
        const bool retry = from.known && from.header == p.Header() && from.byteCount == p.messageByteCount &&
                           std::equal(p.messageBytes, p.messageBytes + p.messageByteCount, from.bytes) &&
                           double(t - from.end) <= lim.SenderResponseMs(p.RevisionField()) * kMs;
        State::Pending& q = s.pending[k];
        if (retry) {
            ++from.transmissions;
            const int allowed = lim.RetryCount(p.RevisionField());
            if (from.transmissions > 1 + allowed && !from.retryReported) {
                from.retryReported = true;
                Add(RuleId::RetryCount, from.first.time, t, {from.first, ref}, from.transmissions - 1, allowed, "retries",
                    std::string(TypeName(type == Count ? GoodCrc : type)) + " retried " +
                        std::to_string(from.transmissions - 1) + " times");
            }
            // Each retry says the transmission before it went unacknowledged: signal trouble even when the
            // retry gets through.
            const double gap = double(t - from.end);
            // Offers before a sink answered: the source is alone on the line, the usual start of a
            // connection (the unanswered offer says so once); its timing is said, not alarmed.
            const bool alone = k == 0 && type == SourceCapabilities &&
                               (s.results.connections.empty() || s.Conn().contracts.empty());
            if (!alone)
                Add(RuleId::Retry, from.last.time, t, {from.last, ref}, from.transmissions - 1, 0, "retries",
                std::string(TypeName(type == Count ? GoodCrc : type)) + " sent again " + Num(gap) +
                    " us after a transmission without GoodCRC",
                false);
            const double least = lim[LimitId::TReceiveMin], most = lim[LimitId::TReceive] + lim[LimitId::TRetry];
            if (gap < least || gap > most) {
                Add(RuleId::RetryTiming, from.last.time, t, {from.last, ref}, gap, gap < least ? least : most, "us",
                    std::string("retry ") + Num(gap) + " us after the transmission before, " +
                        (gap < least ? "sooner than tReceive" : "later than tReceive and tRetry") +
                        (alone ? " (before a sink answered)" : ""));
                if (alone) s.results.findings.back().severity = Severity::Info;
            }
            from.end = PacketEnd(p);
            from.last = ref;
            if (q.active && q.key == key && q.id == p.MessageIdField()) {
                q.end = PacketEnd(p);
                q.unreadableSince = false;
                q.transmissions = from.transmissions;
                q.acked = false;
                return;
            }
        }
        ClosePending(k, t);
        if (!retry) {
            if (type == SoftReset && p.MessageIdField() != 0 && !s.unreadable[k][key])
                Add(RuleId::MessageId, t, t, {ref}, p.MessageIdField(), 0, "",
                    "Soft_Reset with MessageID " + std::to_string(p.MessageIdField()) + " (expected 0)");
            else if (type != SoftReset)
                CheckMessageId(p, ref, k, key);
            from.known = true;
            from.restartedBy = nullptr;
            from.acked = false;
            from.end = PacketEnd(p);
            from.id = p.MessageIdField();
            from.header = p.Header();
            from.byteCount = p.messageByteCount;
            std::copy(p.messageBytes, p.messageBytes + p.messageByteCount, from.bytes);
            from.transmissions = 1;
            from.retryReported = false;
            from.first = ref;
            from.last = ref;
        }
        s.unreadable[k][key] = false;
        q = {true,          false, ref, PacketEnd(p), p.MessageIdField(), key, p.Header(), false, k, type,
             p.RevisionField(), from.transmissions, AskingOf(p, type)};
        if (retry) return;
        CheckAwait(p, ref, k, key, type);
        // A Soft_Reset restarts the MessageID counters of its ordered set: the other end starts over.
        if (type == SoftReset) {
            s.senders[k][1 - key] = State::Sender{};
            s.senders[k][1 - key].restartedBy = "Soft_Reset";
        }

        if (k == 0) SopMessage(p, ref, type, key);
        else VendorMessage(p, ref, type);
    }

    // A sender whose last message went unacknowledged may have started over: only messages after an
    // acknowledged one are judged.
    void CheckMessageId(const CCCPacket& p, PacketRef ref, int k, int key) {
        const State::Sender& from = s.senders[k][key];
        const int id = p.MessageIdField();
        if (from.restartedBy && !s.unreadable[k][key]) {
            if (id != 0)
                Add(RuleId::MessageId, p.startTime, p.startTime, {ref}, id, 0, "",
                    "MessageID " + std::to_string(id) + " in the first message after " + from.restartedBy +
                        " (expected 0)");
            return;
        }
        if (!from.known || !from.acked || s.unreadable[k][key]) return;
        const int expected = (from.id + 1) & 7;
        if (id == expected) return;
        const char* what = id == from.id ? "repeated without a retry" : "skipped";
        Add(RuleId::MessageId, from.first.time, p.startTime, {from.first, ref}, id, expected, "",
            "MessageID " + std::to_string(id) + " " + what + " (expected " + std::to_string(expected) + ")");
    }

    void GoodCrcMessage(const CCCPacket& p, PacketRef ref, int k) {
        State::Pending& q = s.pending[k];
        // From the other end: on SOP one of the role bits differs (a power role swap changes one, a data
        // role swap the other, never both at once); on SOP' and SOP'' the cable plug bit.
        const MessageHeaderWord mine{p.Header()}, theirs{q.header};
        const bool otherEnd = k == 0 ? mine.PowerRole() != theirs.PowerRole() || mine.DataRole() != theirs.DataRole()
                                     : mine.PowerRole() != theirs.PowerRole();
        if (!q.active || q.acked || !otherEnd) return;
        if (p.MessageIdField() != q.id) {
            if (q.unreadableSince) return; // it may answer a frame that could not be read
            Add(RuleId::GoodCrcMessageId, q.ref.time, p.startTime, {q.ref, ref}, p.MessageIdField(), q.id, "",
                "GoodCRC with MessageID " + std::to_string(p.MessageIdField()) + " for " + TypeName(q.type) +
                    " with MessageID " + std::to_string(q.id));
            return;
        }
        q.acked = true;
        s.senders[k][q.key].acked = true;
        if (k == 0 && q.type == SourceCapabilities) {
            s.unansweredCaps = 0;
            s.capsCountReported = false;
        }
        if (k == 0 && q.type == Accept && s.drSwapAccepted) {
            s.dataRolesSwapped = !s.dataRolesSwapped;
            s.drSwapAccepted = false;
        }
        const double delay = double(p.startTime - q.end);
        if (delay > lim[LimitId::TTransmit] && !q.unreadableSince)
            Add(RuleId::GoodCrcLate, q.end, p.startTime, {q.ref, ref}, delay, lim[LimitId::TTransmit], "us",
                "GoodCRC " + Num(delay) + " us after " + TypeName(q.type));
        AwaitAnswer(q, PacketEnd(p));
    }

    // Messages on SOP: the negotiation, swaps, resets and what they await.
    void SopMessage(const CCCPacket& p, PacketRef ref, MessageTypeId type, int key) {
        const int64_t t = p.startTime;
        Connection& c = s.Conn();

        if (s.contract && !p.PowerRoleBit() && s.ask.epr) {
            CheckEpr(t);
            s.lastSinkActivity = t;
        }

        switch (type) {
        case SourceCapabilities:
            if (p.PowerRoleBit()) {
                SourceCapsTiming(p, ref);
                Offer o;
                o.packet = ref;
                for (int n = 1; n <= ReceivedObjects(p); ++n) o.objects.push_back(DecodePowerObject(p.DataObject(n), n));
                s.sprOffer = o.objects;
                c.offers.push_back(std::move(o));
            }
            break;
        case EprSourceCapabilities:
            EprOffer(p, ref);
            break;
        case Request:
        case EprRequest:
            if (!p.PowerRoleBit() && ReceivedObjects(p) >= 1) RequestMessage(p, ref, type == EprRequest);
            break;
        case Accept:
        case Reject:
        case Wait:
        case NotSupported:
            AnswerMessage(p, ref, type, key);
            break;
        case PsRdy:
            PsRdyMessage(p, ref);
            break;
        case PrSwap:
        case DrSwap:
        case VconnSwap:
        case FrSwap:
            // The source went away before the Fast Role Swap: its VBUS droop is the reason for the swap.
            if (type == FrSwap && s.voltageRun.active && s.voltageRun.extreme < s.voltageRun.limit &&
                t - s.voltageRun.start <= int64_t(lim[LimitId::TSafe0V] * kMs))
                s.voltageRun.active = false;
            c.swaps.push_back({ref, SwapKindOf(type), TypeName(type), RoleOf(p), ""});
            s.asked = State::Asked::Swap;
            s.askedIndex = c.swaps.size() - 1;
            s.askedKey = key;
            break;
        case SoftReset:
            c.resets.push_back({ref, EventKind::SoftReset, TypeName(type), RoleOf(p), ""});
            CloseAwait(0, t, "Soft_Reset");
            CloseTransition(t, "Soft_Reset");
            s.asked = State::Asked::None;
            break;
        case ExtendedControl:
            break;
        case VendorDefined:
            VendorMessage(p, ref, type);
            break;
        default:
            break;
        }
    }

    void SourceCapsTiming(const CCCPacket& p, PacketRef ref) {
        const int64_t t = p.startTime;
        if (s.capsDueFrom >= 0) {
            const double took = double(t - s.capsDueFrom);
            if (took > lim[LimitId::TFirstSourceCap] * kMs)
                Add(RuleId::FirstSourceCap, s.capsDueFrom, t, {ref}, took / kMs, lim[LimitId::TFirstSourceCap], "ms",
                    "first Source_Capabilities " + Ms(took) + " after VBUS reached vSafe5V");
            s.capsDueFrom = -1;
        }
        if (s.unansweredCaps > 0 && s.lastUnansweredCapsEnd >= 0) {
            const double gap = double(t - s.lastUnansweredCapsEnd);
            const double least = lim[LimitId::TTypeCSendSourceCapMin], most = lim[LimitId::TTypeCSendSourceCapMax];
            if (gap < least * kMs || gap > most * kMs)
                Add(RuleId::SourceCapRepeat, t, t, {ref}, gap / kMs, gap < least * kMs ? least : most, "ms",
                    "Source_Capabilities sent again " + Ms(gap) + " after one nobody answered");
        }
        s.lastUnansweredCapsEnd = -1;
    }

    void EprOffer(const CCCPacket& p, PacketRef ref) {
        if (!p.PowerRoleBit() || p.RequestChunkBit() || !p.extData) return;
        const int32_t readable = std::min(p.extDataSize, p.ExtDataReadable());
        std::vector<PowerObject> objects;
        // Positions 1..7 are the SPR objects, padded with zeros; the EPR objects start at 8.
        for (int32_t i = 0; i + 3 < readable; i += 4) {
            const uint8_t* b = p.extData + i;
            const uint32_t raw = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
            if (raw != 0) objects.push_back(DecodePowerObject(raw, i / 4 + 1));
        }
        Connection& c = s.Conn();
        if (p.ChunkNumberField() == 0 || c.offers.empty() || !c.offers.back().epr) {
            c.offers.push_back({ref, true, objects});
        } else if (objects.size() >= c.offers.back().objects.size() && !objects.empty()) {
            c.offers.back().objects = objects;
        }
        s.eprOffer = c.offers.back().objects;
    }

    void RequestMessage(const CCCPacket& p, PacketRef ref, bool epr) {
        Connection& c = s.Conn();
        RequestEntry r;
        r.packet = ref;
        r.rdo = p.DataObject(1);
        r.position = int32_t(r.rdo >> 28);
        const std::vector<PowerObject>& offer = epr ? s.eprOffer : s.sprOffer;
        if (epr && ReceivedObjects(p) >= 2) {
            r.object = DecodePowerObject(p.DataObject(2), r.position);
            r.objectKnown = true;
        } else {
            for (const PowerObject& o : offer)
                if (o.position == r.position) {
                    r.object = o;
                    r.objectKnown = true;
                }
        }
        if (r.objectKnown) r.ask = MakeAsk(r.rdo, r.object, epr || r.position >= 8);
        s.requestInvalid = false;
        if (!offer.empty()) {
            const std::string fault = RequestFault(r, offer);
            if (!fault.empty()) {
                s.requestInvalid = true;
                Add(RuleId::RequestInvalid, ref.time, PacketEnd(p), {ref}, 0, 0, "", fault, false);
            }
        }
        c.requests.push_back(r);
        s.asked = State::Asked::Request;
        s.askedIndex = c.requests.size() - 1;
        s.askedKey = SenderKey(p);
        if (s.contract && s.ask.kind == SupplyKind::Pps) {
            CheckPps(p.startTime);
            s.lastPpsRequest = p.startTime;
        }
    }

    void AnswerMessage(const CCCPacket& p, PacketRef ref, MessageTypeId type, int key) {
        Connection& c = s.Conn();
        if (s.asked == State::Asked::None || key == s.askedKey) return;
        const int64_t t = p.startTime;
        if (s.asked == State::Asked::Swap) {
            EventEntry& e = c.swaps[s.askedIndex];
            e.answer = TypeName(type);
            if (type == Accept && e.kind == EventKind::PrSwap) {
                EndContract(t, "PR_Swap");
                s.swapPsRdys = 0;
                s.swapFrom = PacketEnd(p);
            }
            if (type == Accept && e.kind == EventKind::DrSwap) s.drSwapAccepted = true;
            if (type == Accept && e.kind == EventKind::FrSwap) {
                EndContract(t, "FR_Swap");
                s.frSwap = true;
                s.swapPsRdys = 0;
                s.swapFrom = -1;
            }
        } else {
            RequestEntry& r = c.requests[s.askedIndex];
            r.answer = TypeName(type);
            r.answerPacket = ref;
            if (type == Accept && s.requestInvalid)
                Add(RuleId::AcceptInvalidRequest, r.packet.time, t, {r.packet, ref}, 0, 0, "",
                    "Accept of a Request for object " + std::to_string(r.position) +
                        " that the offer cannot meet",
                    false);
            if (type == Accept) {
                EndContract(t, "Accept");
                s.transition = {true, ref, PacketEnd(p), r.ask.epr || r.position >= 8, s.askedIndex};
                s.transitionBaseMv = s.haveLastSample ? double(s.lastSample.vbusVoltage) : -1;
                s.transitionMoved = false;
                s.standbyJudged = false;
            }
        }
        s.asked = State::Asked::None;
    }

    void PsRdyMessage(const CCCPacket& p, PacketRef ref) {
        const int64_t t = p.startTime;
        if (s.swapPsRdys >= 0) {
            if (s.swapFrom >= 0) {
                const bool off = s.swapPsRdys == 0;
                const LimitId id = off ? LimitId::TPSSourceOff : LimitId::TPSSourceOn;
                const double took = double(t - s.swapFrom);
                if (took > lim[id] * kMs)
                    Add(RuleId::PrSwapTiming, s.swapFrom, t, {ref}, took / kMs, lim[id], "ms",
                        std::string(off ? "the old source's PS_RDY " : "the new source's PS_RDY ") + Ms(took) +
                            (off ? " after the PR_Swap's Accept" : " after the old source's"));
                s.swapFrom = PacketEnd(p);
            }
            if (++s.swapPsRdys >= 2) {
                s.swapPsRdys = -1;
                // Both ports start over in their new roles.
                ForgetSenders(0, s.frSwap ? "FR_Swap" : "PR_Swap");
                s.frSwap = false;
                s.sprOffer.clear();
                s.eprOffer.clear();
            }
            return;
        }
        if (!s.transition.active || !p.PowerRoleBit()) return;
        State::Transition tr = s.transition;
        s.transition.active = false;
        Connection& c = s.Conn();
        if (tr.request >= c.requests.size()) return;
        RequestEntry& r = c.requests[tr.request];
        r.psRdyPacket = ref;
        r.acceptToPsRdyUs = t - tr.from;
        const double limit = lim[tr.epr ? LimitId::TPSTransitionEpr : LimitId::TPSTransitionSpr];
        if (double(t - tr.from) > limit * kMs)
            Add(RuleId::PsTransition, tr.accept.time, t, {tr.accept, ref}, double(t - tr.from) / kMs, limit, "ms",
                "PS_RDY " + Ms(double(t - tr.from)) + " after Accept");

        Contract k;
        k.psRdy = ref;
        k.ask = r.ask;
        k.position = r.position;
        c.contracts.push_back(k);
        s.hardResets = 0;
        s.cableCurrentJudged = false;
        JudgeCable(r.ask, ref);
        s.contract = true;
        s.contractStart = t;
        s.ask = r.ask;
        s.lastSinkActivity = t;
        s.lastPpsRequest = r.packet.time;

        // Judged on the first sample at or after PS_RDY: the one before may be a sampling interval old
        // and catch VBUS still on its way.
        State::PsRdyCheck& check = s.psRdyCheck;
        check = {};
        if (VoltageRange(r.ask, &check.lo, &check.hi)) {
            check.active = true;
            check.ref = ref;
            check.askMv = r.ask.mV;
        }
    }

    // Why the cable cannot carry a contract or a current; empty when it can or when nothing is known of
    // it (the capture began with VBUS on: its identity may have been read before).
    std::string CableFault(const Ask& a, double measuredMa) const {
        if (!s.cableKnown && !s.attachSeen) return {};
        const int32_t mA = measuredMa > 0 ? int32_t(measuredMa) : std::max(a.operatingMa, a.limitMa);
        const std::string what = measuredMa > 0 ? "VBUS current of " + std::to_string(mA) + " mA"
                                                : "a contract for " + std::to_string(mA) + " mA";
        if (mA > 3000 + (measuredMa > 0 ? int32_t(lim[LimitId::CurrentMargin]) : 0)) {
            if (!s.cableKnown) return what + " with no 5 A cable identity seen since the attach";
            if (s.cable.currentMa < 5000)
                return what + " through a cable marked for " + std::to_string(s.cable.currentMa) + " mA";
        }
        if (measuredMa > 0) return {};
        if (a.epr && !s.cableKnown) return "an EPR contract with no EPR-capable cable identity seen since the attach";
        if (a.epr && !s.cable.epr) return "an EPR contract through a cable not marked EPR capable";
        if (s.cableKnown && s.cable.maxVbusMv > 0 && a.maxMv > s.cable.maxVbusMv)
            return "a contract for " + std::to_string(a.maxMv) + " mV through a cable marked for " +
                   std::to_string(s.cable.maxVbusMv) + " mV";
        return {};
    }

    void JudgeCable(const Ask& a, PacketRef ref) {
        const std::string fault = CableFault(a, 0);
        if (!fault.empty()) Add(RuleId::CableCapability, ref.time, ref.time, {ref}, 0, 0, "", fault, false);
    }

    void JudgePsRdy(const CVbusInfo& v) {
        State::PsRdyCheck& check = s.psRdyCheck;
        if (!check.active || v.time < check.ref.time) return;
        check.active = false;
        const double after = double(v.time - check.ref.time);
        if (!s.results.analogSeen || after > lim[LimitId::PsRdyVbusWindow] * kMs) return;
        const double mV = v.vbusVoltage;
        if (mV < check.lo || mV > check.hi)
            Add(RuleId::VbusAtPsRdy, check.ref.time, v.time, {check.ref}, mV, mV < check.lo ? check.lo : check.hi,
                "mV",
                "VBUS at " + Num(mV) + " mV " + Ms(after) + " after PS_RDY of a " + Num(check.askMv) +
                    " mV contract (the first sample at or after it)");
    }

    // Structured VDMs: the cable's identity and the alternate modes.
    void VendorMessage(const CCCPacket& p, PacketRef ref, MessageTypeId type) {
        if (type != VendorDefined || ReceivedObjects(p) < 1) return;
        const uint32_t h = p.DataObject(1);
        if (!(h & 0x8000)) return;
        const uint16_t svid = uint16_t(h >> 16);
        const int command = int(h & 0x1F);
        const int commandType = int((h >> 6) & 3);
        const int n = ReceivedObjects(p);
        Connection& c = s.Conn();
        auto mode = [&](uint16_t id) -> AltMode& {
            for (AltMode& m : c.altModes)
                if (m.svid == id && m.kind == p.kind) return m;
            AltMode m;
            m.kind = p.kind;
            m.svid = id;
            c.altModes.push_back(m);
            return c.altModes.back();
        };
        if (commandType != 1) {
            if (commandType == 0 && svid == 0xFF01 && command == 17 && n >= 2) mode(svid).configuration = p.DataObject(2);
            return;
        }
        switch (command) {
        case 1: // Discover Identity
            if (p.kind == kKindSopPrime && p.PowerRoleBit() && n >= 5) {
                const uint32_t id = p.DataObject(2), product = p.DataObject(4), vdo = p.DataObject(5);
                const uint32_t productType = (id >> 27) & 7;
                if (productType != 3 && productType != 4) break;
                CableIdentity cable;
                cable.packet = ref;
                cable.active = productType == 4;
                cable.vid = uint16_t(id & 0xFFFF);
                cable.pid = uint16_t(product >> 16);
                static const int32_t currents[4] = {0, 3000, 5000, 0};
                static const int32_t volts[4] = {20000, 30000, 40000, 50000};
                static const char* const speeds[8] = {"USB 2.0", "USB 3.2 Gen1", "USB 3.2 Gen2 / USB4 Gen2",
                                                      "USB4 Gen3", "USB4 Gen4", "reserved", "reserved", "reserved"};
                cable.currentMa = currents[(vdo >> 5) & 3];
                cable.maxVbusMv = volts[(vdo >> 9) & 3];
                cable.speed = speeds[vdo & 7];
                cable.epr = (vdo >> 17) & 1;
                c.hasCable = true;
                c.cable = cable;
                s.cableKnown = true;
                s.cable = cable;
            }
            break;
        case 2: // Discover SVIDs
            for (int i = 2; i <= n; ++i) {
                const uint32_t w = p.DataObject(i);
                for (uint16_t id : {uint16_t(w >> 16), uint16_t(w & 0xFFFF)})
                    if (id) mode(id);
            }
            break;
        case 3: { // Discover Modes
            AltMode& m = mode(svid);
            m.modes.clear();
            for (int i = 2; i <= n; ++i) m.modes.push_back(p.DataObject(i));
            break;
        }
        case 4: { // Enter Mode
            AltMode& m = mode(svid);
            m.enteredPosition = int32_t((h >> 8) & 7);
            m.entered = ref;
            break;
        }
        case 5: // Exit Mode
            mode(svid).exited = ref;
            break;
        default:
            break;
        }
    }

    // The end of what was read: everything still open is judged against it.
    void Close(int64_t end) {
        for (int k = 0; k < 3; ++k) {
            ClosePending(k, end);
            CloseAwait(k, end, "the capture ended");
        }
        CloseTransition(end, "the capture ended");
        CloseRuns(end);
        CheckLapses(end);
        // A Hard Reset whose VBUS never got where it should before the capture ended.
        if (s.recovery == State::Recovery::WaitOff) {
            const double limit = lim[LimitId::TPSHardReset] + lim[LimitId::TSafe0V];
            if (double(end - s.resetTime) > limit * kMs)
                Add(RuleId::HardResetVsafe0V, s.resetTime, end, {s.resetRef}, 0, limit, "ms",
                    "VBUS never reached vSafe0V after Hard Reset", false);
        } else if (s.recovery == State::Recovery::WaitOn) {
            const double limit = lim[LimitId::TSrcRecoverMax] + lim[LimitId::TSrcTurnOn];
            if (double(end - s.offTime) > limit * kMs)
                Add(RuleId::HardResetVsafe5V, s.offTime, end, {s.resetRef}, 0, limit, "ms",
                    "VBUS never came back to vSafe5V after Hard Reset", false);
        }
    }
};

void Walker::CloseRuns(int64_t now) {
    (void)now;
    FlushRun(s.voltageRun);
    FlushRun(s.currentRun);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------

CAnalyzer::CAnalyzer(const CLimits& l) : limits(l), state(new State) {}

CAnalyzer::~CAnalyzer() {
    delete state;
}

CAnalyzer::CAnalyzer(const CAnalyzer& o) : limits(o.limits), state(new State(*o.state)) {}

CAnalyzer& CAnalyzer::operator=(const CAnalyzer& o) {
    if (this != &o) {
        limits = o.limits;
        *state = *o.state;
    }
    return *this;
}

void CAnalyzer::Reset() {
    *state = State{};
}

const Results& CAnalyzer::Current() const {
    return state->results;
}

namespace {

// Reads the store from where the last call stopped. `final` reads every sample.
void Read(State& s, const CLimits& limits, const CCaptureStore& store, bool final) {
    const size_t packetCount = store.PacketCount(), sampleCount = store.SampleCount();
    // A cleared or restarted store: everything read before is gone.
    const bool restarted =
        (s.results.packetsRead > 0 || s.results.samplesRead > 0) &&
        (store.captureOrigin != s.origin || (packetCount > 0 && store.PacketAt(packetCount - 1)->startTime < s.lastPacketTime) ||
         (sampleCount > 0 && store.SampleAt(sampleCount - 1)->time < s.lastSampleTime) ||
         (packetCount == 0 && sampleCount == 0));
    if (restarted) s = State{};

    // The first packet (sample) not read: past those before the last one read, and past as many of those
    // at its time as were read.
    const auto firstUnread = [](size_t count, auto timeAt, int64_t lastTime, int32_t sameTime) {
        size_t lo = 0, hi = count;
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            if (timeAt(mid) < lastTime)
                lo = mid + 1;
            else
                hi = mid;
        }
        for (int32_t same = 0; same < sameTime && lo < count && timeAt(lo) == lastTime; ++same) ++lo;
        return lo;
    };
    size_t i = firstUnread(packetCount, [&](size_t n) { return store.PacketAt(n)->startTime; }, s.lastPacketTime,
                           s.sameTimeCount);
    const auto sampleTime = [&](size_t n) { return store.SampleAt(n)->time; };
    // Samples before the capture origin (a file whose header block sets it later) are not read.
    const size_t firstSample = firstUnread(sampleCount, sampleTime, 0, 0);
    size_t k = std::max(firstSample, firstUnread(sampleCount, sampleTime, s.lastSampleTime, s.sameSampleTimeCount));
    // What came since the last read belongs after everything read: a packet stored before one read (it
    // shows as one unread packet too few) or before a sample read, or a sample at or before a packet
    // read, would have been read earlier at once. Reading again from the start puts it in its place,
    // while the store still holds that start.
    const uint32_t taken = store.tallies.all;
    const bool packetLate = packetCount - i < s.packetsUnread + size_t(uint32_t(taken - s.packetsTaken)) ||
                            (i < packetCount && store.PacketAt(i)->startTime < s.lastSampleTime);
    const bool sampleLate = k < sampleCount && s.lastPacketTime >= 0 && store.SampleAt(k)->time <= s.lastPacketTime;
    if ((packetLate || sampleLate) && !store.packetsRemoved) {
        s = State{};
        i = 0;
        k = firstSample;
    }
    s.origin = store.captureOrigin;
    Walker w{s, limits};
    // Packets the store dropped still count in the numbers.
    const int64_t base = s.results.packetsRead - int64_t(i);

    // While the capture grows, reading stops where something may still come before: at the start of a
    // packet still open on either line (it is stored before any that start after it), a little behind
    // the newest time the store has seen (the two lines' blocks arrive somewhat out of step), and at the
    // newest sample, as the samples come in blocks after the traffic they span, unless that lags far.
    int64_t horizon = INT64_MAX;
    if (!final) {
        const int64_t lastPacket = packetCount > 0 ? store.PacketAt(packetCount - 1)->startTime : -1;
        const int64_t newestSample = sampleCount > 0 ? store.SampleAt(sampleCount - 1)->time : -1;
        const int64_t newest = std::max(lastPacket, newestSample);
        horizon = std::min({store.OpenPacketStart(), newest - kSettleUs, std::max(newestSample, newest - kSampleLagUs)});
    }

    for (;;) {
        const CCCPacket* p = i < packetCount && store.PacketAt(i)->startTime <= horizon ? store.PacketAt(i) : nullptr;
        const CVbusInfo* v = k < sampleCount && store.SampleAt(k)->time <= horizon ? store.SampleAt(k) : nullptr;
        if (!p && !v) break;
        if (v && (!p || v->time <= p->startTime)) {
            w.Sample(*v);
            if (v->time == s.lastSampleTime) {
                ++s.sameSampleTimeCount;
            } else {
                s.lastSampleTime = v->time;
                s.sameSampleTimeCount = 1;
            }
            s.lastEventTime = std::max(s.lastEventTime, v->time);
            ++s.results.samplesRead;
            ++k;
            continue;
        }
        w.Packet(*p, base + int64_t(i));
        if (p->startTime == s.lastPacketTime) {
            ++s.sameTimeCount;
        } else {
            s.lastPacketTime = p->startTime;
            s.sameTimeCount = 1;
        }
        s.lastEventTime = std::max(s.lastEventTime, p->startTime);
        s.lastPacketEnd = std::max(s.lastPacketEnd, PacketEnd(*p));
        ++s.results.packetsRead;
        ++i;
    }
    s.packetsTaken = taken;
    s.packetsUnread = packetCount - i;
}

} // namespace

void CAnalyzer::Feed(const CCaptureStore& store) {
    if (state->finished) return;
    Read(*state, limits, store, false);
}

void CAnalyzer::Finish(const CCaptureStore& store) {
    if (state->finished) return;
    Read(*state, limits, store, true);
    Walker w{*state, limits};
    w.Close(std::max(state->lastEventTime, state->lastPacketEnd));
    state->finished = true;
}

Results CAnalyzer::Snapshot(const CCaptureStore& store) const {
    CAnalyzer copy(*this);
    copy.Finish(store);
    return copy.state->results;
}

Results Analyze(const CCaptureStore& store, const CLimits& limits) {
    CAnalyzer a(limits);
    a.Finish(store);
    return a.Current();
}

} // namespace analysis
