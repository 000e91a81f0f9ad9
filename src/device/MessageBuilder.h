// Named messages to data objects or extended data: each message type reads its own fields and fills the
// rest from the sending party and from what the link has exchanged so far.
#pragma once

#include "MessageTypes.h"
#include "PdObjects.h"
#include "Scenario.h"

#include <cstdint>
#include <string>
#include <vector>

namespace synth {

struct BuildContext {
    const Party* party = nullptr; // the sending port; null for a cable plug
    const Cable* cable = nullptr; // the cable, when a plug sends
    int revision = kRev30;        // header revision field of the message
    int32_t kind = 1;
    // Capabilities the sink received last (SPR, and the EPR message's objects); the sender's own when none.
    const std::vector<uint32_t>* sourceCaps = nullptr;
    const std::vector<uint32_t>* eprCaps = nullptr;
    int32_t vbusMv = 5000, vbusMa = 0; // present output, for PPS_Status
};

struct MessageBody {
    const MessageTypeInfo* type = nullptr;
    std::vector<uint32_t> objects; // data messages
    std::vector<uint8_t> data;     // extended messages
    // A Request or EPR_Request: the object it selects and what it asks for.
    uint32_t selectedPdo = 0;
    int32_t targetMv = 0, operatingMa = 0;
    double carrierMs = 0; // BIST Carrier Mode: how long the receiver sends the carrier
};

// False with a reason ("Request: field \"mA\": ...") for unknown fields or values out of range.
bool BuildMessage(const MessageStep& step, const BuildContext& context, MessageBody* body,
                  std::string* error);

// Discover Identity answers (the objects after the VDM header).
std::vector<uint32_t> PartyIdentity(const Party& party);
std::vector<uint32_t> CableIdentity(const Cable& cable);

// Power rating in W from a list of power objects.
int CapabilitiesPdp(const std::vector<uint32_t>& caps);

} // namespace synth
