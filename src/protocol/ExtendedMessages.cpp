#include "ExtendedMessages.h"

#include "CCPacket.h"
#include "PowerObjects.h"
#include "VendorDefined.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr uint32_t kExact = 0xFFFFFFFF;

// Security and firmware update messages: the body follows the two header bytes.
constexpr int32_t kBodyBit = 16;
constexpr int32_t kMessageTypeBit = 8; // data byte 1

constexpr int kEprCapabilitiesObjects = 13;

} // namespace

// clang-format off
constexpr PDValueText kWattValues[] = {
    {0, 0, "%d [W]", 1},
    kValueTextEnd,
};

constexpr PDValueText kPercent5Values[] = {
    {0, 0, "%d [%%]", 5},
    kValueTextEnd,
};

constexpr PDValueText kMillis20Values[] = {
    {0, 0, "%d [ms]", 20},
    kValueTextEnd,
};

constexpr PDValueText kPercent10Values[] = {
    {0, 0, "%d [%%]", 10},
    kValueTextEnd,
};

constexpr PDValueText kLoadStepValues[] = {
    {kExact, 0, "150mA/us Load Step (default)", 1},
    {kExact, 1, "500mA/us Load Step", 1},
    kValueTextEnd,
};

constexpr PDValueText kTouchTempValues[] = {
    {kExact, 0, "[IEC 60950-1] (default)", 1},
    {kExact, 1, "[IEC 62368-1] TS1", 1},
    {kExact, 2, "[IEC 62368-1] TS2", 1},
    kValueTextEnd,
};

// The catch-all applies to 0 and 1 as well, after their own texts.
constexpr PDValueText kTemperatureValues[] = {
    {kExact, 0, "feature not supported", 1},
    {kExact, 1, "temperature is less than 2 degree Celsius", 1},
    {0, 0, "%d [degree Celsius]", 1},
    kValueTextEnd,
};

constexpr PDValueText kInternalBatteryValues[] = {
    {kExact, 0, "No internal Battery", 1},
    {kExact, 1, "Internal Battery present", 1},
    kValueTextEnd,
};

constexpr PDValueText kExternalSupplyConstraintValues[] = {
    {kExact, 0, "External supply is constrained", 1},
    {kExact, 1, "External supply is unconstrained", 1},
    kValueTextEnd,
};

constexpr PDValueText kExternalSupplyValues[] = {
    {kExact, 0, "No external supply", 1},
    {kExact, 1, "External supply present", 1},
    kValueTextEnd,
};

constexpr PDValueText kHoldupTimeValues[] = {
    {kExact, 0, "feature not supported", 1},
    kValueTextEnd,
};

constexpr PDValueText kIocValues[] = {
    {kExact, 0, "25%% IoC (default)", 1},
    {kExact, 1, "90%% IoC", 1},
    kValueTextEnd,
};

constexpr PDValueText kSkedbVersionValues[] = {
    {kExact, 1, "Version 1.0", 1},
    kValueTextEnd,
};

constexpr PDValueText kPowerStateIndicatorValues[] = {
    {kExact, 0, "Off LED", 1},
    {kExact, 1, "On LED", 1},
    {kExact, 2, "Blinking LED", 1},
    {kExact, 3, "Breathing LED", 1},
    kValueTextEnd,
};

constexpr PDValueText kNewPowerStateValues[] = {
    {kExact, 0, "Status not supported", 1},
    {kExact, 1, "S0", 1},
    {kExact, 2, "Modern Standby", 1},
    {kExact, 3, "S3", 1},
    {kExact, 4, "S4", 1},
    {kExact, 5, "S5 (Off with battery, wake events supported)", 1},
    {kExact, 6, "S3 (Off with no battery, wake events not supported)", 1},
    kValueTextEnd,
};

constexpr PDValueText kTempStatusValues[] = {
    {kExact, 0, "Not Supported", 1},
    {kExact, 1, "Normal", 1},
    {kExact, 2, "Warning", 1},
    {kExact, 3, "Over temperature", 1},
    kValueTextEnd,
};

constexpr PDValueText kExternalPowerAcDcValues[] = {
    {kExact, 0, "DC", 1},
    {kExact, 1, "AC", 1},
    kValueTextEnd,
};

constexpr PDValueText kBatteryCapacityValues[] = {
    {kExact, 0, "Battery not present", 1},
    {kExact, 65535, "unknown", 1},
    {0, 0, "%d [mWH]", 100},
    kValueTextEnd,
};

constexpr PDValueText kManufacturerInfoTargetValues[] = {
    {kExact, 0, "Port/Cable Plug", 1},
    {kExact, 1, "Battery", 1},
    kValueTextEnd,
};

constexpr PDValueText kPpsOutputCurrentValues[] = {
    {kExact, 255, "The Source does not support this filed.", 1},
    {0, 0, "Source's output current is %d [mA].", 50},
    kValueTextEnd,
};

constexpr PDValueText kPpsOutputVoltageValues[] = {
    {kExact, 65535, "The Source does not support this filed.", 1},
    {0, 0, "Source's output voltage is %d [mV].", 20},
    kValueTextEnd,
};

// The field table spells type 1 differently from the Description column.
constexpr PDValueText kExtendedControlTypeValues[] = {
    {kExact, 1, "EPR_GetSource_Cap", 1},
    {kExact, 2, "EPR_Get_Sink_Cap", 1},
    {kExact, 3, "EPR_KeepAlive", 1},
    {kExact, 4, "EPR_KeepAlive_Ack", 1},
    kValueTextEnd,
};

constexpr PDValueText kSecurityRequestTypeValues[] = {
    {kExact, 129, "GET_DIGESTS", 1},
    {kExact, 130, "GET_CERTIFICATE", 1},
    {kExact, 131, "CHALLENGE", 1},
    kValueTextEnd,
};

constexpr PDValueText kSecurityResponseTypeValues[] = {
    {kExact, 1, "DIGESTS", 1},
    {kExact, 2, "CERTIFICATE", 1},
    {kExact, 3, "CHALLENGE_AUTH", 1},
    {kExact, 127, "ERROR", 1},
    kValueTextEnd,
};

constexpr PDValueText kSecurityProtocolVersionValues[] = {
    {kExact, 1, "USB Type-C Authentication  Protocol Version 1.0", 1},
    kValueTextEnd,
};

constexpr PDValueText kGetCertificateSlotValues[] = {
    {0, 0, "Slot number of the target Certificate Chain to read from.", 1},
    kValueTextEnd,
};

constexpr PDValueText kChallengeSlotValues[] = {
    {0, 0, "Slot number of the recipient's Certificate Chain that will be used for Authentication.", 1},
    kValueTextEnd,
};

constexpr PDValueText kSecurityErrorValues[] = {
    {kExact, 1, "INVALID_REQUEST", 1},
    {kExact, 2, "UNSUPPORTED_PROTOCOL", 1},
    {kExact, 3, "BUSY", 1},
    {kExact, 4, "UNSPECIFIED", 1},
    kValueTextEnd,
};

constexpr PDValueText kFirmwareUpdateRequestTypeValues[] = {
    {kExact, 129, "GET_FW_ID", 1},
    {kExact, 130, "PDFU_INITIATE", 1},
    {kExact, 131, "PDFU_DATA", 1},
    {kExact, 132, "PDFU_DATA_NR", 1},
    {kExact, 133, "PDFU_VALIDATE", 1},
    {kExact, 134, "PDFU_ABORT", 1},
    {kExact, 135, "PDFU_DATA_PAUSE", 1},
    {kExact, 255, "VENDOR_SPECIFIC", 1},
    kValueTextEnd,
};

constexpr PDValueText kFirmwareUpdateResponseTypeValues[] = {
    {kExact, 1, "GET_FW_ID", 1},
    {kExact, 2, "PDFU_INITIATE", 1},
    {kExact, 3, "PDFU_DATA", 1},
    {kExact, 5, "PDFU_VALIDATE", 1},
    {kExact, 7, "PDFU_DATA_PAUSE", 1},
    {kExact, 127, "VENDOR_SPECIFIC", 1},
    kValueTextEnd,
};

constexpr PDValueText kFirmwareUpdateProtocolVersionValues[] = {
    {kExact, 1, "USB PD Firmware Update Protocol Version 1.0", 1},
    kValueTextEnd,
};

constexpr PDFieldDesc kSourceCapabilitiesExtendedFields[] = {
    {192, 8, kWattValues, "EPR Source PDP Rating"},
    {191, 1, nullptr, "Source PDP (Reserved)"},
    {184, 7, kWattValues, "SPR Source PDP Rating"},
    {180, 4, nullptr, "Number of Batteries/Battery Slots (Number of Hot Swappable Battery Slots)"},
    {176, 4, nullptr, "Number of Batteries/Battery Slots (Number of Fixed Batteries))"},
    {171, 5, nullptr, "Source Inputs (Reserved)"},
    {170, 1, kInternalBatteryValues, "Source Inputs (Internal Battery)"},
    {169, 1, kExternalSupplyConstraintValues, "Source Inputs (External supply is unconstrained)"},
    {168, 1, kExternalSupplyValues, "Source Inputs (External supply)"},
    {160, 8, kTouchTempValues, "Touch Temp"},
    {159, 1, nullptr, "Peak Current3 (VBUS Voltage droop)"},
    {155, 4, kPercent5Values, "Peak Current3 (Duty cycle in 5% increments)"},
    {149, 6, kMillis20Values, "Peak Current3 (Overload period in 20ms)"},
    {144, 5, kPercent10Values, "Peak Current3 (Percent overload in 10% increments Values higher than 25 (11001b) )are clipped to 250%)"},
    {143, 1, nullptr, "Peak Current2 (VBUS Voltage droop)"},
    {139, 4, kPercent5Values, "Peak Current2 (Duty cycle in 5% increments)"},
    {133, 6, kMillis20Values, "Peak Current2 (Overload period in 20ms)"},
    {128, 5, kPercent10Values, "Peak Current2 (Percent overload in 10% increments Values higher than 25 (11001b) )are clipped to 250%)"},
    {127, 1, nullptr, "Peak Current1 (VBUS Voltage droop)"},
    {123, 4, kPercent5Values, "Peak Current1 (Duty cycle in 5% increments)"},
    {117, 6, kMillis20Values, "Peak Current1 (Overload period in 20ms)"},
    {112, 5, kPercent10Values, "Peak Current1 (Percent overload in 10% increments Values higher than 25 (11001b) )are clipped to 250%)"},
    {107, 5, nullptr, "Touch Current (Reserved)"},
    {106, 1, nullptr, "Touch Current (Ground pin intended for protective earth when set)"},
    {105, 1, nullptr, "Touch Current (Ground pin supported when set)"},
    {104, 1, nullptr, "Touch Current (Low touch Current EPS when set)"},
    {99, 5, nullptr, "Compliance (Reserved)"},
    {98, 1, nullptr, "Compliance (PS2 compliant when set)"},
    {97, 1, nullptr, "Compliance (PS1 compliant when set)"},
    {96, 1, nullptr, "Compliance (LPS compliant when set)"},
    {88, 8, kHoldupTimeValues, "Holdup Time"},
    {83, 5, nullptr, "Voltage Regulation (Reserved)"},
    {82, 1, kIocValues, "Voltage Regulation (IoC)"},
    {80, 2, kLoadStepValues, "Voltage Regulation (Load Step)"},
    {72, 8, nullptr, "HW Version"},
    {64, 8, nullptr, "FW Version"},
    {32, 32, nullptr, "XID"},
    {16, 16, nullptr, "PID"},
    {0, 16, nullptr, "VID"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSinkCapabilitiesExtendedFields[] = {
    {184, 8, kWattValues, "EPR Sink Maximum PDP (The maximum PDP that the EPR Sink will ever request.)"},
    {176, 8, kWattValues, "EPR Sink Operational PDP (The PDP of the Source that the EPR Sink requires to operate at its normal functionality.)"},
    {168, 8, kWattValues, "EPR Sink Minimum PDP (The PDP of the Source that the EPR Sink requires to operate at its lowest functionality without consuming power from its Battery if it has one.)"},
    {167, 1, nullptr, "Sink Maximum PDP (Reserved)"},
    {160, 7, kWattValues, "Sink Maximum PDP (The maximum PDP the Sink will ever request.)"},
    {159, 1, nullptr, "Sink Operational PDP (Reserved)"},
    {152, 7, kWattValues, "Sink Operational PDP (The PDP of the Source that the Sink requires to operate at its normal functionality.)"},
    {151, 1, nullptr, "Sink Minimum PDP (Reserved)"},
    {144, 7, kWattValues, "Sink Minimum PDP (The PDP of the Source that the Sink requires to operate at its lowest functionality without consuming power from its Battery if it has one.)"},
    {142, 2, nullptr, "Sink Modes (Reserved)"},
    {141, 1, nullptr, "Sink Modes (AVS Supported)"},
    {140, 1, nullptr, "Sink Modes (Battery essentially unlimited)"},
    {139, 1, nullptr, "Sink Modes (Battery powered)"},
    {138, 1, nullptr, "Sink Modes (Mains powered)"},
    {137, 1, nullptr, "Sink Modes (VBUS powered)"},
    {136, 1, nullptr, "Sink Modes (PPS charging supported)"},
    {132, 4, nullptr, "Battery Info (Number of Hot Swappable Battery Slots)"},
    {128, 4, nullptr, "Battery Info (Number of Fixed Batteries)"},
    {120, 8, kTouchTempValues, "Touch Temp"},
    {115, 5, nullptr, "Compliance (Reserved)"},
    {114, 1, nullptr, "Compliance (PS2 Source when set)"},
    {113, 1, nullptr, "Compliance (PS1 Source when set)"},
    {112, 1, nullptr, "Compliance (LPS Source when set)"},
    {111, 1, nullptr, "Sink Load Characteristics (Can tolerate VBUS Voltage droop)"},
    {107, 4, kPercent5Values, "Sink Load Characteristics (Duty cycle in 5% increments when bits 0-4 are non-zero)"},
    {101, 6, kMillis20Values, "Sink Load Characteristics (Overload period in 20ms when bits 0-4 non-zero)"},
    {96, 5, kPercent10Values, "Sink Load Characteristics (Percent overload in 10% increments Values higher than 25 (11001b) are clipped to 250%. 00000b is the default)"},
    {90, 6, nullptr, "Load Step (Reserved)"},
    {88, 2, kLoadStepValues, "Load Step (Load Step)"},
    {80, 8, kSkedbVersionValues, "SKEDB Version"},
    {72, 8, nullptr, "HW Version"},
    {64, 8, nullptr, "FW Version"},
    {32, 32, nullptr, "XID"},
    {16, 16, nullptr, "PID"},
    {0, 16, nullptr, "VID"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSopStatusFields[] = {
    {54, 2, nullptr, "Power Status Change (Reserved)"},
    {51, 3, kPowerStateIndicatorValues, "Power Status Change (New power state indicator)"},
    {48, 3, kNewPowerStateValues, "Power Status Change (New Power State)"},
    {46, 2, nullptr, "Power Status (Reserved)"},
    {45, 1, nullptr, "Power Status (Source power limited due to temperature)"},
    {44, 1, nullptr, "Power Status (Source power limited due to Event Flags in place (Event Flags must also be set))"},
    {43, 1, nullptr, "Power Status (Source power limited due to insufficient external power)"},
    {42, 1, nullptr, "Power Status (Source power limited due to insufficient power available while sourcing other ports)"},
    {41, 1, nullptr, "Power Status (Source power limited due to cable supported current)"},
    {40, 1, nullptr, "Power Status (Reserved)"},
    {35, 5, nullptr, "Temperature Status (Reserved)"},
    {33, 2, kTempStatusValues, "Temperature Status (Temp Status)"},
    {32, 1, nullptr, "Temperature Status (Reserved)"},
    {29, 3, nullptr, "Event Flags (Reserved)"},
    {28, 1, nullptr, "Event Flags (CF mode when set, CV mode when cleared)"},
    {27, 1, nullptr, "Event Flags (OVP event when set)"},
    {26, 1, nullptr, "Event Flags (OTP event when set)"},
    {25, 1, nullptr, "Event Flags (OCP event when set)"},
    {24, 1, nullptr, "Event Flags (Reserved)"},
    {20, 4, nullptr, "Present Battery Input (Hot Swappable Battery)"},
    {16, 4, nullptr, "Present Battery Input (Fixed Battery)"},
    {13, 3, nullptr, "Present Input (Reserved)"},
    {12, 1, nullptr, "Present Input (Internal Power from non-Battery power source when set)"},
    {11, 1, nullptr, "Present Input (Internal Power from Battery when set)"},
    {10, 1, kExternalPowerAcDcValues, "Present Input (External Power AC/DC (Valid when Bit1 set))"},
    {9, 1, nullptr, "Present Input (External Power when set)"},
    {8, 1, nullptr, "Present Input (Reserved)"},
    {0, 8, kTemperatureValues, "Internal Temp"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCablePlugStatusFields[] = {
    {9, 7, nullptr, "Flags (Reserved)"},
    {8, 1, nullptr, "Flags (Thermal Shutdown"},
    {0, 8, kTemperatureValues, "Internal Temp"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kGetBatteryCapFields[] = {
    {0, 8, nullptr, "Battery Cap Ref"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kGetBatteryStatusFields[] = {
    {0, 8, nullptr, "Battery Status Ref"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kBatteryCapabilitiesFields[] = {
    {65, 7, nullptr, "Battery Type (Reserved)"},
    {64, 1, nullptr, "Battery Type (Invalid Battery reference)"},
    {48, 16, kBatteryCapacityValues, "Battery Last Full Charge Capacity"},
    {32, 16, kBatteryCapacityValues, "Battery Design Capacity"},
    {16, 16, nullptr, "PID"},
    {0, 16, nullptr, "VID"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kGetManufacturerInfoFields[] = {
    {8, 8, nullptr, "Manufacturer Info Ref"},
    {0, 8, kManufacturerInfoTargetValues, "Manufacturer Info Target"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kManufacturerInfoFields[] = {
    {32, 184, nullptr, "Manufacturer String"},
    {16, 16, nullptr, "PID"},
    {0, 16, nullptr, "VID"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPpsStatusFields[] = {
    {24, 8, nullptr, "Real Time Flags"},
    {16, 8, kPpsOutputCurrentValues, "Output Current"},
    {0, 16, kPpsOutputVoltageValues, "Output Voltage"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCountryInfoFields[] = {
    {32, 2048, nullptr, "Country Specific Data"},
    {16, 16, nullptr, "Reserved"},
    {8, 8, nullptr, "Country Code (Second character of the Alpha-2 Country code received in the corresponding Get_Country_Info Message.)"},
    {0, 8, nullptr, "Country Code (First character of the Alpha-2 Country code received in the corresponding Get_Country_Info Message.)"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCountryCodesFields[] = {
    {0, 8, nullptr, "Length"},
    {8, 8, nullptr, "Reserved"},
    {16, 8, nullptr, "1st Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {24, 8, nullptr, "1st Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {32, 8, nullptr, "2nd Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {40, 8, nullptr, "2nd Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {48, 8, nullptr, "3rd Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {56, 8, nullptr, "3rd Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {64, 8, nullptr, "4th Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {72, 8, nullptr, "4th Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {80, 8, nullptr, "5th Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {88, 8, nullptr, "5th Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {96, 8, nullptr, "6th Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {104, 8, nullptr, "6th Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {112, 8, nullptr, "7th Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {120, 8, nullptr, "7th Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {128, 8, nullptr, "8th Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {136, 8, nullptr, "8th Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {144, 8, nullptr, "9th Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {152, 8, nullptr, "9th Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {160, 8, nullptr, "10th Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {168, 8, nullptr, "10th Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    {176, 8, nullptr, "11th Contry Code (First character of the Alpha-2 Country code defined by [ISO 3166])"},
    {184, 8, nullptr, "11th Contry Code (Second character of the Alpha-2 Country code defined by [ISO 3166])"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kExtendedControlFields[] = {
    {8, 8, nullptr, "Data"},
    {0, 8, kExtendedControlTypeValues, "Type"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSecurityRequestHeaderFields[] = {
    {8, 8, kSecurityRequestTypeValues, "MessageType"},
    {0, 8, kSecurityProtocolVersionValues, "ProtocolVersion"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSecurityResponseHeaderFields[] = {
    {8, 8, kSecurityResponseTypeValues, "MessageType"},
    {0, 8, kSecurityProtocolVersionValues, "ProtocolVersion"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kGetDigestsFields[] = {
    {8, 8, nullptr, "Param2"},
    {0, 8, nullptr, "Param1"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kGetCertificateFields[] = {
    {32, 16, nullptr, "Length"},
    {16, 16, nullptr, "Offset"},
    {8, 8, nullptr, "Param2"},
    {0, 8, kGetCertificateSlotValues, "Param1"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kChallengeFields[] = {
    {16, 256, nullptr, "Nonce"},
    {8, 8, nullptr, "Param2"},
    {0, 8, kChallengeSlotValues, "Param1"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kDigestsFields[] = {
    {0, 8, nullptr, "Param1"},
    {8, 8, nullptr, "Param2"},
    {16, 256, nullptr, "Digest[0]"},
    {272, 256, nullptr, "Digest[1]"},
    {528, 256, nullptr, "Digest[2]"},
    {784, 256, nullptr, "Digest[3]"},
    {1040, 256, nullptr, "Digest[4]"},
    {1296, 256, nullptr, "Digest[5]"},
    {1552, 256, nullptr, "Digest[6]"},
    {1808, 256, nullptr, "Digest[7]"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCertificateFields[] = {
    {0, 8, nullptr, "Param1"},
    {8, 8, nullptr, "Param2"},
    {16, 2048, nullptr, "CertChain"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kChallengeAuthFields[] = {
    {0, 8, nullptr, "Param1"},
    {8, 8, nullptr, "Param2"},
    {16, 8, nullptr, "MinProtocolVersion"},
    {24, 8, nullptr, "MaxProtocolVersion"},
    {32, 8, nullptr, "Capabilities"},
    {40, 8, nullptr, "Reserved"},
    {48, 256, nullptr, "CertChainHash"},
    {304, 256, nullptr, "Salt"},
    {560, 256, nullptr, "Context Hash"},
    {816, 512, nullptr, "Signature"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSecurityErrorFields[] = {
    {8, 8, nullptr, "Param2"},
    {0, 8, kSecurityErrorValues, "Param1"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kFirmwareUpdateRequestHeaderFields[] = {
    {8, 8, kFirmwareUpdateRequestTypeValues, "MessageType"},
    {0, 8, kFirmwareUpdateProtocolVersionValues, "ProtocolVersion"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kFirmwareUpdateResponseHeaderFields[] = {
    {8, 8, kFirmwareUpdateResponseTypeValues, "MessageType"},
    {0, 8, kFirmwareUpdateProtocolVersionValues, "ProtocolVersion"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPdfuInitiateRequestFields[] = {
    {0, 16, nullptr, "FWVersion1"},
    {16, 16, nullptr, "FWVersion2"},
    {32, 16, nullptr, "FWVersion3"},
    {48, 16, nullptr, "FWVersion4"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPdfuDataRequestFields[] = {
    {0, 16, nullptr, "DataBlockIndex"},
    {16, 2048, nullptr, "DataBlock"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kVendorSpecificRequestFields[] = {
    {0, 16, nullptr, "VID"},
    {16, 2048, nullptr, "Vendor Defined"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kGetFwIdResponseFields[] = {
    {0, 8, nullptr, "Status"},
    {8, 16, nullptr, "VID"},
    {24, 16, nullptr, "PID"},
    {40, 8, nullptr, "HWVersion"},
    {48, 8, nullptr, "SiVersion"},
    {56, 16, nullptr, "FWVersion1"},
    {72, 16, nullptr, "FWVersion2"},
    {88, 16, nullptr, "FWVersion3"},
    {104, 16, nullptr, "FWVersion4"},
    {120, 8, nullptr, "ImageBank"},
    {128, 8, nullptr, "Flags1"},
    {136, 8, nullptr, "Flags2"},
    {144, 8, nullptr, "Flags3"},
    {152, 8, nullptr, "Flags4"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPdfuInitiateResponseFields[] = {
    {0, 8, nullptr, "Status"},
    {8, 8, nullptr, "WaitTime"},
    {16, 24, nullptr, "MaxImageSize"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPdfuDataResponseFields[] = {
    {0, 8, nullptr, "Status"},
    {8, 8, nullptr, "WaitTime"},
    {16, 8, nullptr, "NumDataNR"},
    {24, 16, nullptr, "DataBlockNum"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPdfuValidateResponseFields[] = {
    {0, 8, nullptr, "Status"},
    {8, 8, nullptr, "WaitTime"},
    {16, 8, nullptr, "Flags"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPdfuDataPauseResponseFields[] = {
    {0, 8, nullptr, "Status"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kVendorSpecificResponseFields[] = {
    {0, 8, nullptr, "Status"},
    {8, 16, nullptr, "VID"},
    {24, 2040, nullptr, "Vendor defined"},
    kFieldDescEnd,
};
// clang-format on

namespace {

static_assert(HasEnd(kWattValues) && HasEnd(kPercent5Values) && HasEnd(kMillis20Values) &&
              HasEnd(kPercent10Values) && HasEnd(kLoadStepValues) && HasEnd(kTouchTempValues) &&
              HasEnd(kTemperatureValues));
static_assert(HasEnd(kInternalBatteryValues) && HasEnd(kExternalSupplyConstraintValues) &&
              HasEnd(kExternalSupplyValues) && HasEnd(kHoldupTimeValues) && HasEnd(kIocValues) &&
              HasEnd(kSkedbVersionValues) && HasEnd(kPowerStateIndicatorValues) &&
              HasEnd(kNewPowerStateValues) && HasEnd(kTempStatusValues) && HasEnd(kExternalPowerAcDcValues) &&
              HasEnd(kBatteryCapacityValues) && HasEnd(kManufacturerInfoTargetValues) &&
              HasEnd(kPpsOutputCurrentValues) && HasEnd(kPpsOutputVoltageValues) &&
              HasEnd(kExtendedControlTypeValues));
static_assert(HasEnd(kSecurityRequestTypeValues) && HasEnd(kSecurityResponseTypeValues) &&
              HasEnd(kSecurityProtocolVersionValues) && HasEnd(kGetCertificateSlotValues) &&
              HasEnd(kChallengeSlotValues) && HasEnd(kSecurityErrorValues) &&
              HasEnd(kFirmwareUpdateRequestTypeValues) && HasEnd(kFirmwareUpdateResponseTypeValues) &&
              HasEnd(kFirmwareUpdateProtocolVersionValues));
static_assert(HasEnd(kSourceCapabilitiesExtendedFields) && HasEnd(kSinkCapabilitiesExtendedFields) &&
              HasEnd(kSopStatusFields) && HasEnd(kCablePlugStatusFields) && HasEnd(kGetBatteryCapFields) &&
              HasEnd(kGetBatteryStatusFields) && HasEnd(kBatteryCapabilitiesFields) &&
              HasEnd(kGetManufacturerInfoFields) && HasEnd(kManufacturerInfoFields) &&
              HasEnd(kPpsStatusFields) && HasEnd(kCountryInfoFields) && HasEnd(kCountryCodesFields) &&
              HasEnd(kExtendedControlFields));
static_assert(HasEnd(kSecurityRequestHeaderFields) && HasEnd(kSecurityResponseHeaderFields) &&
              HasEnd(kGetDigestsFields) && HasEnd(kGetCertificateFields) && HasEnd(kChallengeFields) &&
              HasEnd(kDigestsFields) && HasEnd(kCertificateFields) && HasEnd(kChallengeAuthFields) &&
              HasEnd(kSecurityErrorFields));
static_assert(HasEnd(kFirmwareUpdateRequestHeaderFields) && HasEnd(kFirmwareUpdateResponseHeaderFields) &&
              HasEnd(kPdfuInitiateRequestFields) && HasEnd(kPdfuDataRequestFields) &&
              HasEnd(kVendorSpecificRequestFields) && HasEnd(kGetFwIdResponseFields) &&
              HasEnd(kPdfuInitiateResponseFields) && HasEnd(kPdfuDataResponseFields) &&
              HasEnd(kPdfuValidateResponseFields) && HasEnd(kPdfuDataPauseResponseFields) &&
              HasEnd(kVendorSpecificResponseFields));

// The capabilities texts are built once, on the packet that carries the first chunk.
bool HasFirstChunkBlock(const CCCPacket& p) {
    return p.extData && p.extDataSize != 0 && p.extChunkOffset == 0;
}

// The header's message type byte, or nothing when the view does not hold it.
bool ReadMessageType(const CFieldView& view, int32_t dataStart, uint32_t& type) {
    if (!view.Contains(dataStart + kMessageTypeBit, 8)) return false;
    type = view.Value(dataStart + kMessageTypeBit, 8);
    return true;
}

void AddHeaderAndBody(CSegmentList& out, const CFieldView& view, int32_t dataStart, const PDFieldDesc* header,
                      const PDFieldDesc* (*body)(uint32_t)) {
    out.Add(dataStart, header);
    uint32_t type = 0;
    if (!ReadMessageType(view, dataStart, type)) return;
    if (const PDFieldDesc* list = body(type)) out.Add(dataStart + kBodyBit, list);
}

} // namespace

std::string DescribeSourceCapabilitiesExtended(const CCCPacket& p) {
    std::string text;
    if (!HasFirstChunkBlock(p)) return text;
    const int32_t readable = p.ExtDataReadable();
    const uint8_t* b = p.extData;
    if (p.extDataSize >= 24 && readable >= 24) Appendf(text, "(SPR Source Rating=%d[W])", b[23] & 0x7F);
    if (p.extDataSize >= 25 && readable >= 25) Appendf(text, "(EPR Source Rating=%d[W])", int(b[24]));
    return text;
}

std::string DescribeSinkCapabilitiesExtended(const CCCPacket& p) {
    std::string text;
    if (!HasFirstChunkBlock(p)) return text;
    const int32_t readable = p.ExtDataReadable();
    const uint8_t* b = p.extData;
    if (p.extDataSize >= 21 && readable >= 21)
        Appendf(text, "(Sink Min/Ope/Max PDP=%d/%d/%d[W])", b[18] & 0x7F, b[19] & 0x7F, b[20] & 0x7F);
    if (p.extDataSize >= 24 && readable >= 24)
        Appendf(text, "(EPR Sink Min/Ope/Max PDP=%d/%d/%d[W])", int(b[21]), int(b[22]), int(b[23]));
    return text;
}

std::string DescribeExtendedControl(const CCCPacket& p) {
    if (p.DataSizeField() < 2 || p.CarriedDataBytes() < 1) return {};
    // The type is the first data byte of this packet's own bytes.
    switch (p.messageBytes[4]) {
    case 1:
        return "EPR_Get_Source_Cap";
    case 2:
        return "EPR_Get_Sink_Cap";
    case 3:
        return "EPR_KeepAlive";
    case 4:
        return "EPR_KeepAlive_Ack";
    default:
        return "(Invalid Type)";
    }
}

const PDFieldDesc* SecurityRequestBody(uint32_t messageType) {
    switch (messageType) {
    case 129:
        return kGetDigestsFields;
    case 130:
        return kGetCertificateFields;
    case 131:
        return kChallengeFields;
    default:
        return nullptr;
    }
}

const PDFieldDesc* SecurityResponseBody(uint32_t messageType) {
    switch (messageType) {
    case 1:
        return kDigestsFields;
    case 2:
        return kCertificateFields;
    case 3:
        return kChallengeAuthFields;
    case 127:
        return kSecurityErrorFields;
    default:
        return nullptr;
    }
}

const PDFieldDesc* FirmwareUpdateRequestBody(uint32_t messageType) {
    switch (messageType) {
    case 130:
        return kPdfuInitiateRequestFields;
    case 131:
    case 132:
        return kPdfuDataRequestFields;
    case 255:
        return kVendorSpecificRequestFields;
    default:
        return nullptr;
    }
}

const PDFieldDesc* FirmwareUpdateResponseBody(uint32_t messageType) {
    switch (messageType) {
    case 1:
        return kGetFwIdResponseFields;
    case 2:
        return kPdfuInitiateResponseFields;
    case 3:
        return kPdfuDataResponseFields;
    case 5:
        return kPdfuValidateResponseFields;
    case 7:
        return kPdfuDataPauseResponseFields;
    case 127:
        return kVendorSpecificResponseFields;
    default:
        return nullptr;
    }
}

void AddStatusSegments(CSegmentList& out, const CCCPacket& p, const CFieldView&, int32_t firstBit) {
    // The debug ordered sets carry no status layout of their own.
    if (p.kind == kKindSop)
        out.Add(firstBit, kSopStatusFields);
    else if (p.kind == kKindSopPrime || p.kind == kKindSopDoublePrime)
        out.Add(firstBit, kCablePlugStatusFields);
}

void AddSecurityRequestSegments(CSegmentList& out, const CCCPacket&, const CFieldView& view, int32_t firstBit) {
    AddHeaderAndBody(out, view, firstBit, kSecurityRequestHeaderFields, SecurityRequestBody);
}

void AddSecurityResponseSegments(CSegmentList& out, const CCCPacket&, const CFieldView& view, int32_t firstBit) {
    AddHeaderAndBody(out, view, firstBit, kSecurityResponseHeaderFields, SecurityResponseBody);
}

void AddFirmwareUpdateRequestSegments(CSegmentList& out, const CCCPacket&, const CFieldView& view,
                                      int32_t firstBit) {
    AddHeaderAndBody(out, view, firstBit, kFirmwareUpdateRequestHeaderFields, FirmwareUpdateRequestBody);
}

void AddFirmwareUpdateResponseSegments(CSegmentList& out, const CCCPacket&, const CFieldView& view,
                                       int32_t firstBit) {
    AddHeaderAndBody(out, view, firstBit, kFirmwareUpdateResponseHeaderFields, FirmwareUpdateResponseBody);
}

void AddEprSourceCapabilitiesSegments(CSegmentList& out, const CCCPacket&, const CFieldView& view,
                                      int32_t firstBit) {
    AddCapabilitiesSegments(out, view, firstBit, kEprCapabilitiesObjects, false, true);
}

void AddEprSinkCapabilitiesSegments(CSegmentList& out, const CCCPacket&, const CFieldView& view,
                                    int32_t firstBit) {
    AddCapabilitiesSegments(out, view, firstBit, kEprCapabilitiesObjects, true, true);
}
