// The data messages whose single data object has a fixed meaning: BIST, Battery_Status, Alert,
// Get_Country_Info, Enter_USB, EPR_Mode, Source_Info and Revision. Their description texts and the field
// lists of their first data object.
#pragma once

#include "FieldSegments.h"
#include "PDField.h"

#include <string>

class CCCPacket;

// Value tables.
extern const PDValueText kBistModeValues[];
extern const PDValueText kBatteryPresentCapacityValues[];
extern const PDValueText kBatteryChargingStatusValues[];
extern const PDValueText kExtendedAlertEventTypeValues[];
extern const PDValueText kEnterUsbModeValues[];
extern const PDValueText kEnterUsbUsb4DrdValues[];
extern const PDValueText kEnterUsbUsb3DrdValues[];
extern const PDValueText kEnterUsbCableSpeedValues[];
extern const PDValueText kEnterUsbCableTypeValues[];
extern const PDValueText kEnterUsbCableCurrentValues[];
extern const PDValueText kEnterUsbPcieSupportValues[];
extern const PDValueText kEnterUsbDpSupportValues[];
extern const PDValueText kEnterUsbTbtSupportValues[];
extern const PDValueText kEprModeActionValues[];
extern const PDValueText kSourceInfoPortTypeValues[];
extern const PDValueText kSourceInfoPdpValues[];

// Field lists of data object 1; offsets are bits of the 32-bit object.
extern const PDFieldDesc kBistFields[];
extern const PDFieldDesc kBatteryStatusFields[];
extern const PDFieldDesc kAlertFields[];
extern const PDFieldDesc kGetCountryInfoFields[];
extern const PDFieldDesc kEnterUsbFields[];
extern const PDFieldDesc kEprModeFields[];
extern const PDFieldDesc kSourceInfoFields[];
extern const PDFieldDesc kRevisionFields[];

// The list of data object 1 for a data message type code; null for the codes handled elsewhere or unknown.
const PDFieldDesc* OtherDataFields(int code);

// Description column text of BIST, Get_Country_Info, Enter_USB, EPR_Mode, Source_Info and Revision; empty
// for every other packet (Battery_Status and Alert included).
std::string DescribeOtherData(const CCCPacket& p);

// The field-table segment of these messages: their list at message bit 16 (data object 1). Adds nothing
// for other packets.
void AddOtherDataSegments(CSegmentList& out, const CCCPacket& p);
