// Extended messages: the description texts of Source_Capabilities_Extended, Sink_Capabilities_Extended and
// Extended_Control, and the field lists placed on the data of every extended message the field table
// describes. Offsets in these lists count from the first data byte (the byte after the extended header).
// Vendor_Defined_Extended opens with the unstructured VDM header (VendorDefined.h), and the EPR capabilities
// are power data objects (PowerObjects.h).
#pragma once

#include "FieldSegments.h"
#include "PDField.h"

#include <cstdint>
#include <string>

class CCCPacket;

// Named value tables shared by several lists.
extern const PDValueText kWattValues[];      // "%d [W]"
extern const PDValueText kPercent5Values[];  // duty cycle in 5% steps
extern const PDValueText kMillis20Values[];  // overload period in 20 ms steps
extern const PDValueText kPercent10Values[]; // overload in 10% steps
extern const PDValueText kLoadStepValues[];
extern const PDValueText kTouchTempValues[];
extern const PDValueText kTemperatureValues[]; // internal temperature

// Value tables of single lists.
extern const PDValueText kInternalBatteryValues[];
extern const PDValueText kExternalSupplyConstraintValues[];
extern const PDValueText kExternalSupplyValues[];
extern const PDValueText kHoldupTimeValues[];
extern const PDValueText kIocValues[];
extern const PDValueText kSkedbVersionValues[];
extern const PDValueText kPowerStateIndicatorValues[];
extern const PDValueText kNewPowerStateValues[];
extern const PDValueText kTempStatusValues[];
extern const PDValueText kExternalPowerAcDcValues[];
extern const PDValueText kBatteryCapacityValues[];
extern const PDValueText kManufacturerInfoTargetValues[];
extern const PDValueText kPpsOutputCurrentValues[];
extern const PDValueText kPpsOutputVoltageValues[];
extern const PDValueText kExtendedControlTypeValues[];
extern const PDValueText kSecurityRequestTypeValues[];
extern const PDValueText kSecurityResponseTypeValues[];
extern const PDValueText kSecurityProtocolVersionValues[];
extern const PDValueText kGetCertificateSlotValues[];
extern const PDValueText kChallengeSlotValues[];
extern const PDValueText kSecurityErrorValues[];
extern const PDValueText kFirmwareUpdateRequestTypeValues[];
extern const PDValueText kFirmwareUpdateResponseTypeValues[];
extern const PDValueText kFirmwareUpdateProtocolVersionValues[];

// Data lists, one per message.
extern const PDFieldDesc kSourceCapabilitiesExtendedFields[];
extern const PDFieldDesc kSinkCapabilitiesExtendedFields[];
extern const PDFieldDesc kSopStatusFields[];
extern const PDFieldDesc kCablePlugStatusFields[];
extern const PDFieldDesc kGetBatteryCapFields[];
extern const PDFieldDesc kGetBatteryStatusFields[];
extern const PDFieldDesc kBatteryCapabilitiesFields[];
extern const PDFieldDesc kGetManufacturerInfoFields[];
extern const PDFieldDesc kManufacturerInfoFields[];
extern const PDFieldDesc kPpsStatusFields[];
extern const PDFieldDesc kCountryInfoFields[];
extern const PDFieldDesc kCountryCodesFields[];
extern const PDFieldDesc kExtendedControlFields[];

// Security messages: a two-byte header, then a body chosen by the header's message type.
extern const PDFieldDesc kSecurityRequestHeaderFields[];
extern const PDFieldDesc kSecurityResponseHeaderFields[];
extern const PDFieldDesc kGetDigestsFields[];
extern const PDFieldDesc kGetCertificateFields[];
extern const PDFieldDesc kChallengeFields[];
extern const PDFieldDesc kDigestsFields[];
extern const PDFieldDesc kCertificateFields[];
extern const PDFieldDesc kChallengeAuthFields[];
extern const PDFieldDesc kSecurityErrorFields[];

// Firmware update messages: the same shape.
extern const PDFieldDesc kFirmwareUpdateRequestHeaderFields[];
extern const PDFieldDesc kFirmwareUpdateResponseHeaderFields[];
extern const PDFieldDesc kPdfuInitiateRequestFields[];
extern const PDFieldDesc kPdfuDataRequestFields[]; // PDFU_DATA and PDFU_DATA_NR
extern const PDFieldDesc kVendorSpecificRequestFields[];
extern const PDFieldDesc kGetFwIdResponseFields[];
extern const PDFieldDesc kPdfuInitiateResponseFields[];
extern const PDFieldDesc kPdfuDataResponseFields[];
extern const PDFieldDesc kPdfuValidateResponseFields[];
extern const PDFieldDesc kPdfuDataPauseResponseFields[];
extern const PDFieldDesc kVendorSpecificResponseFields[];

// The body of a security or firmware update message for the message type in its header (data byte 1);
// null when that type has no body.
const PDFieldDesc* SecurityRequestBody(uint32_t messageType);
const PDFieldDesc* SecurityResponseBody(uint32_t messageType);
const PDFieldDesc* FirmwareUpdateRequestBody(uint32_t messageType);
const PDFieldDesc* FirmwareUpdateResponseBody(uint32_t messageType);

// Description column text of Source_Capabilities_Extended, Sink_Capabilities_Extended and
// Extended_Control; empty for every other packet. The capabilities texts come from the whole data block
// and are given on the packet of the first chunk only.
std::string DescribeExtended(const CCCPacket& p);

// The data segments of an extended message, by its code, each at dataStart plus the list's data bit.
// Choices that depend on data bytes read them through `view` (the own-data view with dataStart 32, or the
// data-block view with dataStart 0); a byte outside the view's data chooses nothing. Whether the own-data
// view gets these segments at all (not when the packet has a data block of its own) is the caller's test.
void AddExtendedDataSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view,
                             int32_t dataStart);
