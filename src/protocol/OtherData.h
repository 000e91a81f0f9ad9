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

// Description texts, entries of the message table (MessageTypes.cpp); each reads data object 1. Battery_Status
// and Alert have none.
std::string DescribeBist(const CCCPacket& p);
std::string DescribeGetCountryInfo(const CCCPacket& p);
std::string DescribeEnterUsb(const CCCPacket& p); // "Invalid Data Objects Count." unless there is one object
std::string DescribeEprMode(const CCCPacket& p);
std::string DescribeSourceInfo(const CCCPacket& p);
std::string DescribeRevision(const CCCPacket& p);
