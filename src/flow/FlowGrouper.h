// The capture read as conversations. A transaction is one message with its retries and its GoodCRC (or
// the lack of one); an exchange is the run of transactions the protocol makes one conversation of: a power
// negotiation, a swap, a discovery, a reset and its recovery. One walk over the store's packets in time
// order, like the analysis: the store may grow, and drop its oldest packets, between calls, and packet
// numbers count on as the packet list counted them.
#pragma once

#include "AnalysisLimits.h"
#include "MessageTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CCaptureStore;

namespace analysis {
struct Finding;
}

namespace flow {

// The ends that speak: one lane each in the sequence diagram. A port is Source or Sink by the power role
// its messages carry; the cable plugs answer on SOP' and SOP''.
enum class Party : uint8_t { PlugDoublePrime, PlugPrime, Source, Sink, Unknown };
inline constexpr int kLaneCount = 4; // the parties before Unknown, in lane order
const char* PartyName(Party p);      // "Cable SOP''", "Cable SOP'", "Source", "Sink", "-"

enum class Outcome : uint8_t {
    Acknowledged,      // a GoodCRC with its MessageID came for the first transmission
    Retried,           // acknowledged after retries
    NeverAcknowledged, // every transmission went without GoodCRC
    Damaged,           // a frame that could not be read, and no retry took it up
    Signal,            // Hard Reset and Cable Reset: no GoodCRC follows them
    Unmatched,         // a GoodCRC for no message that was read
};
const char* OutcomeName(Outcome o); // "acknowledged", "retried", ...

// What a packet is within its transaction.
enum class PacketRole : uint8_t {
    Transmission, // the message's first transmission that was read
    Retry,        // a later transmission of the same message
    Failed,       // a transmission that could not be read, taken up by the retry after it
    GoodCrc,
    Damaged, // a frame that could not be read: the damaged transaction itself, or a spoilt GoodCRC
    Signal,  // Hard Reset, Cable Reset
};
const char* PacketRoleName(PacketRole r);

struct FlowPacket {
    int64_t number = -1; // as the packet list counted it
    int64_t time = 0;    // µs from the capture origin
    int64_t end = 0;
    PacketRole role = PacketRole::Transmission;
    bool operator==(const FlowPacket&) const = default;
};

struct Transaction {
    std::string label; // "Request", "Discover Identity REQ", "EPR_Source_Capabilities chunk 1", ...
    int64_t start = 0; // µs from the capture origin: the first frame
    int64_t end = 0;   // the end of the last frame (GoodCRC included)
    int32_t kind = 0;  // ordered set of the frames
    MessageTypeId type = MessageTypeId::Count; // Count: a reset, a damaged frame, a code without a name
    Party from = Party::Unknown, to = Party::Unknown;
    int32_t messageId = -1;
    int32_t transmissions = 0; // frames of the message, those that could not be read included
    bool acknowledged = false;
    Outcome outcome = Outcome::NeverAcknowledged;
    int32_t exchange = -1;           // index in Flow::exchanges
    std::vector<FlowPacket> packets; // in time order
    int32_t Retries() const { return transmissions > 0 ? transmissions - 1 : 0; }
    bool operator==(const Transaction&) const = default;
};

enum class ExchangeKind : uint8_t {
    Negotiation,
    GetCapabilities,
    SoftReset,
    HardReset,
    CableReset,
    PrSwap,
    DrSwap,
    VconnSwap,
    FrSwap,
    DiscoverIdentity,
    DiscoverSvids,
    DiscoverModes,
    EnterMode,
    ExitMode,
    DisplayPortStatus,
    DisplayPortConfigure,
    Attention,
    EprEntry,
    EprExit,
    EprKeepAlive,
    ChunkedMessage,
    GetStatus,
    Alert,
    Query,
    Bist,
    DataReset,
    EnterUsb,
    Other,
    Count
};
const char* ExchangeKindName(ExchangeKind k); // "power negotiation", "Discover Identity", "other", ...

enum class Result : uint8_t {
    Completed,
    Rejected, // Reject, or a VDM NAK
    Wait,     // Wait, or a VDM BUSY
    NotSupported,
    InterruptedByReset,
    TimedOut, // the next step never came
    CutByCaptureEnd,
};
const char* ResultName(Result r); // "completed", "rejected", "wait", "not supported", ...

struct Exchange {
    ExchangeKind kind = ExchangeKind::Other;
    std::string title; // the kind's name; the opening message for queries and "other"
    int32_t orderedSet = 0;
    Party initiator = Party::Unknown;
    int64_t start = 0, end = 0; // µs from the capture origin
    // Final once closed. While open: what it is should it end by another message now (completed, or timed
    // out while an answer is due); EndResult says what the end of the capture makes of it.
    Result result = Result::Completed;
    bool open = true;
    // While an answer is due: how long it may take, in ms from `end`.
    double waitLimitMs = 0;
    std::vector<int32_t> transactions; // indices in Flow::transactions
    std::vector<int32_t> findings;     // indices in the analysis findings attached
    int64_t Duration() const { return end - start; }
    bool operator==(const Exchange&) const = default;
};

// "acknowledged", "retried 2 times", "never acknowledged (3 transmissions)", "damaged", ...
std::string OutcomeText(const Transaction& t);

// An open exchange judged at the end of what was read: an answer still due past its limit timed out, one
// still in time was cut by the capture's end.
Result EndResult(const Exchange& x, int64_t captureEnd);

struct Flow {
    std::vector<Transaction> transactions; // in order of their first frame
    std::vector<Exchange> exchanges;       // in order of their first transaction
    int64_t packetsRead = 0;
    int64_t end = 0;       // the end of what was read: the last frame, or the last sample after it
    uint32_t speakers = 0; // one bit per Party that sent or was sent a message
    bool operator==(const Flow&) const = default;
};

class CFlowGrouper {
public:
    explicit CFlowGrouper(const analysis::CLimits& limits = {});
    ~CFlowGrouper();
    CFlowGrouper(const CFlowGrouper&) = delete;
    CFlowGrouper& operator=(const CFlowGrouper&) = delete;

    // Reads what the store holds beyond what was read before, up to where nothing may still come before
    // (a packet still open on either line). A store that was cleared or restarted starts over.
    void Feed(const CCaptureStore& store);
    // Everything the store holds, for a document that is complete for now (a file, a stopped recording);
    // exchanges stay open, and what comes later is read on.
    void FeedAll(const CCaptureStore& store);
    // Feed, then everything left; open exchanges are closed with their EndResult.
    void Finish(const CCaptureStore& store);
    // Attaches the findings not attached before to the exchanges that hold their first packet read so far
    // (a finding without packets stays unattached). Findings shorter than before (an analysis that started
    // over) are attached anew.
    void AttachFindings(const std::vector<analysis::Finding>& findings);
    const Flow& Current() const;
    // Hands what was read over and starts over.
    Flow Release();
    void Reset();
    // Counts the times the grouping started over (Reset, a store cleared or restarted): what was read
    // from the flow before is gone.
    uint64_t Generation() const;

    struct State; // what the walk carries from one call to the next

private:
    analysis::CLimits limits;
    std::unique_ptr<State> state;
};

// The whole capture at once, with the findings of its analysis attached.
Flow Group(const CCaptureStore& store, const std::vector<analysis::Finding>& findings,
           const analysis::CLimits& limits = {});

// The transaction that holds packet `number`; -1 for none.
int32_t TransactionOfPacket(const Flow& flow, int64_t number);

} // namespace flow
