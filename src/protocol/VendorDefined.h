// Vendor_Defined messages: the Description text, the field lists and value tables of the VDM header and
// of the objects that follow it, and the choice of list for each object of a message.
#pragma once

#include "FieldSegments.h"
#include "PDField.h"

#include <string>

class CCCPacket;

// SVIDs with a name of their own.
constexpr uint32_t kSvidStandard = 0xFF00;
constexpr uint32_t kSvidDisplayPort = 0xFF01;
constexpr uint32_t kSvidThunderbolt = 0x8087;

// Structured VDM commands.
enum : uint32_t {
    kVdmDiscoverIdentity = 1,
    kVdmDiscoverSvids = 2,
    kVdmDiscoverModes = 3,
    kVdmEnterMode = 4,
    kVdmExitMode = 5,
    kVdmAttention = 6,
    kVdmDisplayPortStatusUpdate = 16,
    kVdmDisplayPortConfigure = 17,
};

// The Description column of a Vendor_Defined data message. Data objects are read from the message buffer
// up to the Number of Data Objects of the header.
std::string DescribeVendorDefined(const CCCPacket& p);

// Appends the field-table segments of a Vendor_Defined message: the VDM header at bit 16 and the lists of
// the following objects (object n starts at bit 16 + 32(n - 1)). Choices read the message's received bytes
// only; bits past them read as ones.
void AddVendorDefinedSegments(CSegmentList& out, const CCCPacket& p);

// ---------------------------------------------------------------------------------------------------------
// Value tables.

extern const PDValueText kVdmSvidValues[];
extern const PDValueText kVdmTypeValues[];
extern const PDValueText kVdmCommandTypeValues[];
extern const PDValueText kVdmCommandValues[];
extern const PDValueText kVdmDisplayPortCommandValues[]; // the commands plus the DisplayPort ones
extern const PDValueText kVdmVersionV10Values[];         // "Structured VDM Version" of the 1.0 header
extern const PDValueText kVdmVersionMajorValues[];
extern const PDValueText kVdmVersionMinorValues[];
extern const PDValueText kVdmObjectPositionExitValues[];

extern const PDValueText kVdoVersion4Values[];
extern const PDValueText kVdoVersion3Values[];
extern const PDValueText kVdoUsbSpeedValues[];
extern const PDValueText kVdoUsbSpeedOldValues[];
extern const PDValueText kAmaSpeedValues[];
extern const PDValueText kVdoVconnPowerValues[];
extern const PDValueText kPassiveCableLatencyValues[];
extern const PDValueText kActiveCableLatencyValues[];
extern const PDValueText kVdoMaxVbusValues[];
extern const PDValueText kVdoVbusCurrentValues[];
extern const PDValueText kVdoDirectionalityValues[];
extern const PDValueText kPinAssignmentsEValues[];
extern const PDValueText kPinAssignmentsFValues[];
extern const PDValueText kTbtModeValues[];
extern const PDValueText kTbtAdapterValues[];
extern const PDValueText kVdoWattsValues[];
extern const PDValueText kVdoNoYesValues[]; // 0 "No", 1 "Yes"
extern const PDValueText kVdoYesNoValues[]; // 0 "Yes", 1 "No"

// ID header.
extern const PDValueText kIdUfpProductTypeValues[];
extern const PDValueText kIdUfpProductTypeV10Values[];
extern const PDValueText kIdDfpProductTypeValues[];
extern const PDValueText kIdCablePlugProductTypeValues[];
extern const PDValueText kIdCablePlugProductTypeV10Values[];
extern const PDValueText kIdConnectorTypeValues[];

// Product type VDOs.
extern const PDValueText kVdoConnectorTypeValues[]; // UFP and DFP VDO B
extern const PDValueText kVpdChargeThroughCurrentValues[];
extern const PDValueText kVpdChargeThroughSupportValues[];
extern const PDValueText kVdoCablePlugTypeValues[];    // 2 "USB Type-C", 3 "Captive"
extern const PDValueText kVdoCablePlugTypeV10Values[]; // Type-A/B/C/Captive
extern const PDValueText kCableEprModeCapableValues[];
extern const PDValueText kPassiveCableTerminationValues[];
extern const PDValueText kActiveCableTerminationValues[];
extern const PDValueText kVdoSbuTypeValues[];
extern const PDValueText kVdoU3CLdPowerValues[];
extern const PDValueText kVdoU3ToU0TransitionValues[];
extern const PDValueText kVdoPhysicalConnectionValues[];
extern const PDValueText kVdoActiveElementValues[];
extern const PDValueText kVdoUsb4SupportedValues[];
extern const PDValueText kVdoUsb20SupportedValues[];
extern const PDValueText kVdoUsb32SupportedValues[];
extern const PDValueText kVdoUsbLanesValues[];
extern const PDValueText kVdoUsbGenValues[];

// DisplayPort.
extern const PDValueText kDpUsb20SignalingValues[];
extern const PDValueText kDpReceptacleIndicationValues[];
extern const PDValueText kDpSignalingValues[];
extern const PDValueText kDpPortCapabilityValues[];
extern const PDValueText kDpIrqHpdValues[];
extern const PDValueText kDpHpdStateValues[];
extern const PDValueText kDpExitRequestValues[];
extern const PDValueText kDpUsbConfigurationRequestValues[];
extern const PDValueText kDpMultiFunctionValues[];
extern const PDValueText kDpEnabledValues[];
extern const PDValueText kDpPowerLowValues[];
extern const PDValueText kDpConnectedValues[];
extern const PDValueText kDpConfigureSignalingValues[];
extern const PDValueText kDpSelectConfigurationValues[];

// Thunderbolt 3.
extern const PDValueText kTbtActivePassiveValues[];
extern const PDValueText kTbtLinkTrainingValues[];
extern const PDValueText kTbtRetimerValues[];
extern const PDValueText kTbtCableTypeValues[];
extern const PDValueText kTbtRoundedSupportValues[];
extern const PDValueText kTbtCableSpeedValues[];

// ---------------------------------------------------------------------------------------------------------
// Field lists, offsets from the first bit of the object (or of the first object, for lists that span
// several).

// VDM header. Vendor_Defined_Extended messages use the unstructured list too. Each structured list comes
// twice: the DisplayPort variant describes its "Command" row with kVdmDisplayPortCommandValues and serves
// SVID FF01h, the other one serves every other SVID.
extern const PDFieldDesc kUnstructuredVdmHeaderFields[];
extern const PDFieldDesc kStructuredVdmHeaderV10Fields[];
extern const PDFieldDesc kStructuredVdmHeaderV10DisplayPortFields[];
extern const PDFieldDesc kStructuredVdmHeaderV2Fields[];
extern const PDFieldDesc kStructuredVdmHeaderV2DisplayPortFields[];
extern const PDFieldDesc kStructuredVdmHeaderV2ModeFields[]; // Enter Mode, Exit Mode, Attention
extern const PDFieldDesc kStructuredVdmHeaderV2ModeDisplayPortFields[];

// Discover Identity.
extern const PDFieldDesc kIdHeaderSopV2Fields[];
extern const PDFieldDesc kIdHeaderSopV10Fields[];
extern const PDFieldDesc kIdHeaderCableV2Fields[];
extern const PDFieldDesc kIdHeaderCableV10Fields[];
extern const PDFieldDesc kCertStatFields[];
extern const PDFieldDesc kProductFields[];
extern const PDFieldDesc kUfpVdoAFields[];
extern const PDFieldDesc kUfpVdoBFields[];
extern const PDFieldDesc kUfpVdoCFields[];
extern const PDFieldDesc kUfpVdo2Fields[];
extern const PDFieldDesc kDfpVdoAFields[];
extern const PDFieldDesc kDfpVdoBFields[];
extern const PDFieldDesc kDfpVdoCFields[];
extern const PDFieldDesc kAmaVdoV2Fields[];
extern const PDFieldDesc kAmaVdoV10Fields[];
extern const PDFieldDesc kVpdVdoFields[];
extern const PDFieldDesc kPassiveCableVdoV2Fields[];
extern const PDFieldDesc kPassiveCableVdoV10Fields[];
extern const PDFieldDesc kActiveCableVdo1V2Fields[];
extern const PDFieldDesc kActiveCableVdo2Fields[];
extern const PDFieldDesc kActiveCableVdoV10Fields[];

// Discover SVIDs and Discover Modes (over six objects, or one object per list).
extern const PDFieldDesc kSvidListFields[];
extern const PDFieldDesc kModesFields[];
extern const PDFieldDesc kDisplayPortCapabilitiesFields[];
extern const PDFieldDesc kTbt3DiscoverModeSopFields[];
extern const PDFieldDesc kTbt3DiscoverModeCableFields[];

// Enter Mode, Attention and the DisplayPort commands.
extern const PDFieldDesc kTbt3EnterModeFields[];
extern const PDFieldDesc kModeSpecificFields[];
extern const PDFieldDesc kDisplayPortStatusFields[];
extern const PDFieldDesc kDisplayPortConfigureFields[];
