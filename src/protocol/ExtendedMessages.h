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

// Entries of the message table (MessageTypes.cpp).
// Description texts. The capabilities texts come from the whole data block and are given on the packet of
// the first chunk only; Extended_Control names the type in the packet's first data byte.
std::string DescribeSourceCapabilitiesExtended(const CCCPacket& p);
std::string DescribeSinkCapabilitiesExtended(const CCCPacket& p);
std::string DescribeExtendedControl(const CCCPacket& p);

// Data segments chosen from the content, at firstBit (32 in the own bytes, 0 in the data block). Choices
// that depend on data bytes read them through `view`; a byte outside the view's data chooses nothing.
// Status: the SOP or the cable plug layout by the packet's kind (none for the debug kinds).
void AddStatusSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view, int32_t firstBit);
// Security and firmware update messages: their header, then the body its message type byte chooses.
void AddSecurityRequestSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view, int32_t firstBit);
void AddSecurityResponseSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view, int32_t firstBit);
void AddFirmwareUpdateRequestSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view,
                                      int32_t firstBit);
void AddFirmwareUpdateResponseSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view,
                                       int32_t firstBit);
// EPR capabilities: 13 power objects (the SPR ones padded to seven, then the EPR ones).
void AddEprSourceCapabilitiesSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view,
                                      int32_t firstBit);
void AddEprSinkCapabilitiesSegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view,
                                    int32_t firstBit);
