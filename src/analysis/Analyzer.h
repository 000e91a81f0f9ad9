// The capture in answers: what the two ports agreed on per connection, whether the power followed the
// agreement, and which timing and electrical rules were broken. One walk over the store's packets and
// VBUS samples in time order; the store may grow (and lose its oldest packets) between calls, so the same
// object serves a finished file and a live capture.
#pragma once

#include "AnalysisLimits.h"

#include <cstdint>
#include <string>
#include <vector>

class CCaptureStore;
class CCCPacket;
struct CVbusInfo;

namespace analysis {

enum class Severity : int32_t { Info = 0, Warning = 1, Error = 2 };
const char* SeverityName(Severity s); // "info", "warning", "error"
// From its name; false for any other text.
bool ParseSeverity(const std::string& text, Severity* out);

enum class RuleId : int32_t {
    GoodCrcMissing,
    GoodCrcLate,
    GoodCrcMessageId,
    RetryCount,
    MessageId,
    SenderResponse,
    PsTransition,
    VbusAtPsRdy,
    VbusOutOfContract,
    OverCurrent,
    PpsRequest,
    EprKeepAlive,
    HardResetVsafe0V,
    HardResetVsafe5V,
    InterFrameGap,
    InvalidPacket,
    RequestInvalid,
    AcceptInvalidRequest,
    ReceiverResponse,
    CableCapability,
    Retry,
    RetryTiming,
    HardResetCount,
    FirstSourceCap,
    SourceCapRepeat,
    SrcTransition,
    SinkStandby,
    PrSwapTiming,
    SourceTimeout,
    Count
};

struct RuleInfo {
    RuleId id;
    const char* key; // the rule's id in findings and on the command line
    Severity severity;
    const char* title;
};
extern const RuleInfo kRules[int(RuleId::Count)];
const RuleInfo& RuleInfoOf(RuleId id);
// The rule with key `key`; null for none.
const RuleInfo* FindRule(const std::string& key);

// A packet a finding or a summary entry refers to: its number as the list counted it when it was read
// (packets the store dropped before still count) and its start in µs from the capture origin.
struct PacketRef {
    int64_t number = -1;
    int64_t time = -1;
    bool operator==(const PacketRef&) const = default;
};

struct Finding {
    RuleId rule = RuleId::Count;
    Severity severity = Severity::Error;
    int64_t time = 0;    // µs from the capture origin: where it begins
    int64_t endTime = 0; // where it ends (the same for an instant)
    std::vector<PacketRef> packets;
    // Measured value and limit in `unit`; hasMeasured false when nothing came to be measured (an answer
    // that never came).
    double measured = 0;
    double limit = 0;
    bool hasMeasured = true;
    std::string unit;
    std::string text; // in words
    bool operator==(const Finding&) const = default;
};

// The reasons the packet list paints a packet as invalid, in words; empty for a packet it does not.
std::vector<std::string> InvalidPacketReasons(const CCCPacket& packet);

// ---------------------------------------------------------------------------------------------------------
// The summary.

enum class SupplyKind : int32_t { Fixed, Battery, Variable, Pps, SprAvs, EprAvs, Unknown };
const char* SupplyKindName(SupplyKind k); // "fixed", "battery", "variable", "PPS", "SPR AVS", "EPR AVS"

// One power data object as offered.
struct PowerObject {
    int32_t position = 0; // 1-based
    uint32_t raw = 0;
    SupplyKind kind = SupplyKind::Unknown;
    int32_t minMv = 0, maxMv = 0;
    int32_t maxMa = 0; // 0 for battery and EPR AVS objects
    int32_t maxMw = 0; // battery and EPR AVS (its PDP)
    bool operator==(const PowerObject&) const = default;
};
PowerObject DecodePowerObject(uint32_t raw, int32_t position);

struct Offer {
    PacketRef packet;
    bool epr = false; // EPR_Source_Capabilities
    std::vector<PowerObject> objects;
    bool operator==(const Offer&) const = default;
};

// What a request asks, read with the object it names.
struct Ask {
    SupplyKind kind = SupplyKind::Unknown;
    bool epr = false;
    int32_t mV = 0;             // the voltage of a fixed object, the requested one of PPS and AVS
    int32_t minMv = 0, maxMv = 0; // the range of variable and battery objects; mV otherwise
    int32_t operatingMa = 0;    // battery objects: the operating power over the lowest voltage
    int32_t limitMa = 0;        // maximum (or minimum with GiveBack) current; 0 where there is none
    int32_t operatingMw = 0;    // battery objects
    bool operator==(const Ask&) const = default;
};

struct RequestEntry {
    PacketRef packet;
    int32_t position = 0;
    uint32_t rdo = 0;
    bool objectKnown = false; // the offer it names was seen
    PowerObject object;
    Ask ask;
    std::string answer; // "Accept", "Reject", "Wait", "Not_Supported"; empty: none seen
    PacketRef answerPacket;
    PacketRef psRdyPacket;
    int64_t acceptToPsRdyUs = -1;
    bool operator==(const RequestEntry&) const = default;
};

struct Contract {
    PacketRef psRdy;        // where it began
    int64_t endTime = -1;   // -1: still in force at the end of what was read
    std::string endReason;  // "Accept", "Hard Reset", "detach", "PR_Swap"
    Ask ask;
    int32_t position = 0;
    bool operator==(const Contract&) const = default;
};

struct CableIdentity {
    PacketRef packet; // the Discover Identity ACK from the cable plug
    bool active = false;
    int32_t currentMa = 0; // 0 when the VDO says none
    int32_t maxVbusMv = 0;
    std::string speed;
    bool epr = false;
    uint16_t vid = 0, pid = 0;
    bool operator==(const CableIdentity&) const = default;
};

struct AltMode {
    int32_t kind = 1; // ordered set: SOP, SOP', SOP''
    uint16_t svid = 0;
    std::vector<uint32_t> modes; // from Discover Modes
    int32_t enteredPosition = 0; // 0: not entered
    PacketRef entered;
    PacketRef exited;
    uint32_t configuration = 0; // DisplayPort Configure VDO; 0: none
    bool operator==(const AltMode&) const = default;
};

enum class EventKind : int32_t { SoftReset, HardReset, CableReset, PrSwap, DrSwap, VconnSwap, FrSwap };

struct EventEntry {
    PacketRef packet;
    EventKind kind = EventKind::SoftReset;
    std::string what;   // its name as the packet list shows it: "Soft_Reset", "Hard Reset", "PR_Swap", ...
    std::string by;     // "Source", "Sink", "DFP", "UFP", "Cable Plug" or empty when the frame does not say
    std::string answer; // swaps: "Accept", "Reject", "Wait", "Not_Supported"; empty: none seen
    bool operator==(const EventEntry&) const = default;
};

struct Connection {
    int64_t startTime = 0;
    std::string startReason; // "capture start", "attach", "Hard Reset"
    int64_t endTime = -1;    // -1: open at the end of what was read
    std::string endReason;   // "detach", "Hard Reset"
    // Revision fields seen, one bit per field value (bit 1: 2.0, bit 2: 3.x), per SOP, SOP', SOP''.
    uint32_t revisions[3] = {0, 0, 0};
    std::vector<Offer> offers;
    std::vector<RequestEntry> requests;
    std::vector<Contract> contracts;
    bool hasCable = false;
    CableIdentity cable;
    std::vector<AltMode> altModes;
    std::vector<EventEntry> resets;
    std::vector<EventEntry> swaps;
    bool operator==(const Connection&) const = default;
};

// "1.0", "2.0", "3.x" for the revisions seen, comma-separated; "-" for none.
std::string RevisionsText(uint32_t bits);

struct Results {
    std::vector<Connection> connections;
    std::vector<Finding> findings; // in the order they were found
    // Whether VBUS readings moved at all; captures without analog data hold constants, and the rules on
    // VBUS and current do not judge them.
    bool analogSeen = false;
    int64_t packetsRead = 0;
    int64_t samplesRead = 0;
    bool operator==(const Results&) const = default;
};

class CAnalyzer {
public:
    explicit CAnalyzer(const CLimits& limits = {});
    ~CAnalyzer();
    CAnalyzer(const CAnalyzer&);
    CAnalyzer& operator=(const CAnalyzer&);

    // Reads what the store holds beyond what was read before. Samples later than the packets read so far
    // wait (packets of a live capture trail its samples) unless they are older than a second behind the
    // newest sample. A store that was cleared or restarted starts the analysis over.
    void Feed(const CCaptureStore& store);
    // Feed, then everything left and the capture's end: open runs and waits are judged against it.
    void Finish(const CCaptureStore& store);
    // What is known now. For a live capture: a copy finished at the newest sample without changing
    // this object.
    Results Snapshot(const CCaptureStore& store) const;
    const Results& Current() const;
    void Reset();

    struct State; // what the walk carries from one call to the next

private:
    CLimits limits;
    State* state;
};

// The whole capture at once.
Results Analyze(const CCaptureStore& store, const CLimits& limits = {});

} // namespace analysis
