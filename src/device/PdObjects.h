// Bit layouts of the USB PD messages the synthesizer sends: power and request data objects, VDM headers and
// the identity objects of ports and cable plugs. Messages are named and headers packed as the decoder reads
// them (MessageTypes.h, MessageHeaderWord.h).
#pragma once

#include <cstdint>

namespace synth {

// Header revision field values.
constexpr int kRev20 = 1;
constexpr int kRev30 = 2;

// Power data objects.
enum FixedFlags : uint32_t {
    kPdoDualRolePower = 1u << 29,
    kPdoUsbSuspend = 1u << 28, // source; Higher Capability on a sink
    kPdoUnconstrained = 1u << 27,
    kPdoUsbCommunications = 1u << 26,
    kPdoDualRoleData = 1u << 25,
    kPdoUnchunked = 1u << 24,  // source only
    kPdoEprCapable = 1u << 23, // source only
};
uint32_t FixedPdo(int32_t mV, int32_t mA, uint32_t flags = 0);
uint32_t VariablePdo(int32_t minMv, int32_t maxMv, int32_t mA);
uint32_t BatteryPdo(int32_t minMv, int32_t maxMv, int32_t mW);
uint32_t PpsApdo(int32_t minMv, int32_t maxMv, int32_t mA, bool powerLimited = false);
uint32_t EprAvsApdo(int32_t minMv, int32_t maxMv, int32_t pdpW);
uint32_t SprAvsApdo(int32_t mA15, int32_t mA20);

enum class PdoKind { None, Fixed, Battery, Variable, Pps, EprAvs, SprAvs, UnknownApdo };
struct PdoInfo {
    PdoKind kind = PdoKind::None;
    int32_t minMv = 0, maxMv = 0;
    int32_t maxMa = 0; // 0 for battery objects
    int32_t maxMw = 0; // battery objects and EPR AVS (PDP)
};
PdoInfo DescribePdo(uint32_t pdo);

// Request data objects. Flags as in the RDO (bits 22..26).
enum RequestFlags : uint32_t {
    kRdoGiveBack = 1u << 27,
    kRdoCapabilityMismatch = 1u << 26,
    kRdoUsbCommunications = 1u << 25,
    kRdoNoUsbSuspend = 1u << 24,
    kRdoUnchunked = 1u << 23,
    kRdoEprCapable = 1u << 22,
};
uint32_t FixedRdo(int position, int32_t operatingMa, int32_t limitMa, uint32_t flags = 0);
uint32_t BatteryRdo(int position, int32_t operatingMw, int32_t limitMw, uint32_t flags = 0);
uint32_t PpsRdo(int position, int32_t mV, int32_t mA, uint32_t flags = 0);
uint32_t AvsRdo(int position, int32_t mV, int32_t mA, uint32_t flags = 0);

// Structured VDM header; version major 1 is 2.x.
enum VdmCommand {
    kDiscoverIdentity = 1,
    kDiscoverSvids = 2,
    kDiscoverModes = 3,
    kEnterMode = 4,
    kExitMode = 5,
    kAttention = 6,
    kDpStatusUpdate = 16,
    kDpConfigure = 17
};
enum VdmCommandType { kVdmReq = 0, kVdmAck = 1, kVdmNak = 2, kVdmBusy = 3 };
constexpr uint16_t kSvidStandard = 0xFF00;
constexpr uint16_t kSvidDisplayPort = 0xFF01;
constexpr uint16_t kSvidThunderbolt = 0x8087;
uint32_t VdmHeader(uint16_t svid, int command, int commandType, int position, int major = 1, int minor = 0);

} // namespace synth
