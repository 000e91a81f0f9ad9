// The selection criteria of the packet list: one record serves as the find criteria (Find Next/Prev and
// the highlighted cell) and, in a second instance, as the display filter that decides which packets get
// a row. Also the packet validity test behind the list's red rows. No toolkit: the dialog only shows
// and edits these members.
#pragma once

#include "MessageTypes.h"
#include "PacketTexts.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CCCPacket;
struct CaptureTallies;

// True when the packet has CC edges and lacks a preamble, a valid CRC or EOP (reset kinds need neither),
// or its average unit interval lies outside kMinUnitIntervalUs..kMaxUnitIntervalUs (3.03..3.70 µs).
bool IsInvalidPacket(const CCCPacket& packet);
// A CRC was received and it is wrong.
bool HasCrcError(const CCCPacket& packet);

// The family and type code of the packet's header, read the way the message type check boxes see it.
struct PacketMessageType {
    MessageFamily family;
    int32_t code;
};
PacketMessageType MessageTypeOf(const CCCPacket& packet);

// One message type check box: the message it stands for (family and code are its row's in the message
// table), its text and control id.
struct MessageTypeBox {
    MessageTypeId message;
    const char* text;
    int32_t controlId;
};
// One box per message type of the table.
constexpr int kMessageTypeBoxCount = int(MessageTypeId::Count);
extern const MessageTypeBox kMessageTypeBoxes[kMessageTypeBoxCount];
// Index into kMessageTypeBoxes of the box for a family and code; -1 when the code has no box.
int MessageTypeBoxIndex(MessageFamily family, int32_t code);

// Control ids of the dialog's other controls.
enum : int32_t {
    kIdSop = 1020,
    kIdHardReset = 1021,
    kIdCableReset = 1022,
    kIdSopPrime = 1023,
    kIdSopDoublePrime = 1024,
    kIdSopPrimeDebug = 1025,
    kIdSopDoublePrimeDebug = 1026,
    kIdCc1 = 1027,
    kIdCc2 = 1028,
    kIdSource = 1029,
    kIdSink = 1030,
    kIdDfp = 1031,
    kIdUfp = 1032,
    kIdCheckAllMessageTypes = 1068,
    kIdClearAllMessageTypes = 1069,
    kIdForward = 1070,
    kIdBackward = 1071,
    kIdInvalidPacket = 1072,
    kIdCrcError = 1073,
    kIdAllowAllSettings = 1074,
    kIdCheckAll = 1075,
    kIdClearAll = 1076,
    kIdEnableText = 1077,
    kIdNoErrors = 1078,
    kIdFindText = 1087,
};

inline constexpr const char kMessageNotFoundText[] = "Message Not Found.";

class CFindCriteria {
public:
    enum Mode : int32_t { kFind = 0, kDisplayFilter = 1 };
    enum Direction : int32_t { kForward = 0, kBackward = 1 };

    // The defaults of the find instance or of the display-filter instance.
    explicit CFindCriteria(Mode mode);

    // Criteria record.
    bool cc1 = false, cc2 = false;
    bool sop = false, sopPrime = false, sopDoublePrime = false, hardReset = false, cableReset = false;
    bool sopPrimeDebug = false, sopDoublePrimeDebug = false;
    bool source = false, sink = false, dfp = false, ufp = false;
    std::array<bool, kMessageTypeBoxCount> messageTypes{}; // in the order of kMessageTypeBoxes
    bool noErrors = false, invalidPacket = false, crcError = false;
    bool enableText = false;
    std::string text;
    bool allowAllSettings = false;
    int32_t direction = kForward;

    Mode mode;
    // The current capture's tallies, for the enabling rules; none without a document.
    const CaptureTallies* statistics = nullptr;
    // Only the display-filter instance uses it; starts disabled.
    bool displayFilterEnabled = false;

    // The check box flag of a control id (channel, ordered set, role, message type, error, Enable Text,
    // Allow to change all settings); null for any other id.
    bool* FlagOf(int32_t controlId);
    const bool* FlagOf(int32_t controlId) const;

    // The buttons "Check All Message Types", "Clear All Message Types", "Check All", "Clear All".
    void SetAllMessageTypes(bool on);
    void SetAll(bool on);

    // Enabling rule of a control; nullopt when no rule applies (no statistics attached, or a control
    // without a rule), in which case the control keeps its state.
    std::optional<bool> IsControlEnabled(int32_t controlId) const;

    // The text when "Enable Text" is on, otherwise empty.
    std::string GetFindText() const;

    // Find: the column id that decided the match, or -1.
    int32_t FindMatchColumn(const CCCPacket& packet, bool invertCurrent) const;
    // Display filter: whether the packet gets a row.
    bool IsPacketShown(const CCCPacket& packet, bool invertCurrent) const;

    // Find Next (forward) or Find Prev over the list rows: the first row after (before) selectedRow,
    // or after row 0 / before row 0 without a selection (-1), whose packet matches. -1 when none does.
    int32_t FindRow(int32_t selectedRow, bool forward, int32_t rowCount,
                    const std::function<const CCCPacket*(int32_t)>& packetOfRow, bool invertCurrent) const;

    // Exact-case, non-overlapping occurrences of GetFindText() in a cell text, left to right, as
    // (offset, length) pairs; none when the find text is empty.
    std::vector<std::pair<size_t, size_t>> FindTextOccurrences(const std::string& cellText) const;

private:
    bool PassesChannel(const CCCPacket& packet) const;
    bool PassesRoles(const CCCPacket& packet) const;
};
