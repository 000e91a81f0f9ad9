#include "VendorDefined.h"

#include "CCPacket.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr uint32_t kExact = 0xFFFFFFFF;

} // namespace

// clang-format off

// ---------------------------------------------------------------------------------------------------------
// Value tables.

constexpr PDValueText kVdmSvidValues[] = {
    {kExact, 0xFF00, "Standard ID", 1},
    {kExact, 0xFF01, "VESA/DisplayPort", 1},
    {kExact, 0x8087, "Intel/TBT3", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdmTypeValues[] = {
    {kExact, 0, "Unstructured VDM", 1},
    {kExact, 1, "Structured VDM", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdmCommandTypeValues[] = {
    {kExact, 0, "REQ (Request from Initiator Port)", 1},
    {kExact, 1, "ACK (Acknowledge Response from Responder Port)", 1},
    {kExact, 2, "NAK (Negative Acknowledge Response from Responder Port)", 1},
    {kExact, 3, "BUSY (Busy Response from Responder Port)", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdmCommandValues[] = {
    {kExact, 1, "Discover Identity", 1},
    {kExact, 2, "Discover SVIDs", 1},
    {kExact, 3, "Discover Modes", 1},
    {kExact, 4, "Enter Mode", 1},
    {kExact, 5, "Exit Mode", 1},
    {kExact, 6, "Attention", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdmDisplayPortCommandValues[] = {
    {kExact, 1, "Discover Identity", 1},
    {kExact, 2, "Discover SVIDs", 1},
    {kExact, 3, "Discover Modes", 1},
    {kExact, 4, "Enter Mode", 1},
    {kExact, 5, "Exit Mode", 1},
    {kExact, 6, "Attention", 1},
    {kExact, 16, "DisplayPort Status Update", 1},
    {kExact, 17, "DisplayPort Configure", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdmVersionV10Values[] = {
    {kExact, 0, "Version 1.0", 1},
    {kExact, 1, "Version 2.0", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdmVersionMajorValues[] = {
    {kExact, 0, "Version 1.0", 1},
    {kExact, 1, "Version 2.x", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdmVersionMinorValues[] = {
    {kExact, 0, "Version 2.0", 1},
    {kExact, 1, "Version 2.1", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdmObjectPositionExitValues[] = {
    {kExact, 7, "Exit all Active Modes", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoVersion4Values[] = {
    {kExact, 0, "Version 1.0", 1},
    {kExact, 1, "Version 1.1", 1},
    {kExact, 2, "Version 1.2", 1},
    {kExact, 3, "Version 1.3", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoVersion3Values[] = {
    {kExact, 0, "Version 1.0", 1},
    {kExact, 1, "Version 1.1", 1},
    {kExact, 2, "Version 1.2", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoUsbSpeedValues[] = {
    {kExact, 0, "USB 2.0 only, no SuperSpeed support", 1},
    {kExact, 1, "USB 3.2 Gen1", 1},
    {kExact, 2, "USB 3.2 / USB4 Gen2", 1},
    {kExact, 3, "USB4 Gen3", 1},
    {kExact, 4, "USB4 Gen4", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoUsbSpeedOldValues[] = {
    {kExact, 0, "USB 2.0 only, no SuperSpeed support", 1},
    {kExact, 1, "USB 3.2 Gen1", 1},
    {kExact, 2, "USB 3.2 Gen1 and Gen2", 1},
    kValueTextEnd,
};

constexpr PDValueText kAmaSpeedValues[] = {
    {kExact, 0, "USB 2.0 only", 1},
    {kExact, 1, "USB 3.2 Gen1 and USB 2.0", 1},
    {kExact, 2, "USB 3.2 Gen1, Gen2 and USB 2.0", 1},
    {kExact, 3, "USB 2.0 billboard only", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoVconnPowerValues[] = {
    {kExact, 0, "1W", 1},
    {kExact, 1, "1.5W", 1},
    {kExact, 2, "2W", 1},
    {kExact, 3, "3W", 1},
    {kExact, 4, "4W", 1},
    {kExact, 5, "5W", 1},
    {kExact, 6, "6W", 1},
    kValueTextEnd,
};

constexpr PDValueText kPassiveCableLatencyValues[] = {
    {kExact, 1, "<10ns (-1m)", 1},
    {kExact, 2, "10ns to 20ns (-2m)", 1},
    {kExact, 3, "20ns to 30ns (-3m)", 1},
    {kExact, 4, "30ns to 40ns (-4m)", 1},
    {kExact, 5, "40ns to 50ns (-5m)", 1},
    {kExact, 6, "50ns to 60ns (-6m)", 1},
    {kExact, 7, "60ns to 70ns (-7m)", 1},
    {kExact, 8, "> 70ns (>-7m)", 1},
    kValueTextEnd,
};

constexpr PDValueText kActiveCableLatencyValues[] = {
    {kExact, 1, "<10ns (-1m)", 1},
    {kExact, 2, "10ns to 20ns (-2m)", 1},
    {kExact, 3, "20ns to 30ns (-3m)", 1},
    {kExact, 4, "30ns to 40ns (-4m)", 1},
    {kExact, 5, "40ns to 50ns (-5m)", 1},
    {kExact, 6, "50ns to 60ns (-6m)", 1},
    {kExact, 7, "60ns to 70ns (-7m)", 1},
    {kExact, 8, "1000ns (-100m)", 1},
    {kExact, 9, "2000ns (-200m)", 1},
    {kExact, 10, "3000ns (-300m)", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoMaxVbusValues[] = {
    {kExact, 0, "20V", 1},
    {kExact, 1, "30V (Deprecated)", 1},
    {kExact, 2, "40V (Deprecated)", 1},
    {kExact, 3, "50V", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoVbusCurrentValues[] = {
    {kExact, 1, "3A", 1},
    {kExact, 2, "5A", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoDirectionalityValues[] = {
    {kExact, 0, "Fixed", 1},
    {kExact, 1, "Configurable", 1},
    kValueTextEnd,
};

constexpr PDValueText kPinAssignmentsEValues[] = {
    {kExact, 0, "Pin Assignments are not supported", 1},
    {0x01, 0x01, "Pin Assignment A", 1},
    {0x02, 0x02, "Pin Assignment B", 1},
    {0x04, 0x04, "Pin Assignment C", 1},
    {0x08, 0x08, "Pin Assignment D", 1},
    {0x10, 0x10, "Pin Assignment E", 1},
    kValueTextEnd,
};

constexpr PDValueText kPinAssignmentsFValues[] = {
    {kExact, 0, "Pin Assignments are not supported", 1},
    {0x01, 0x01, "Pin Assignment A", 1},
    {0x02, 0x02, "Pin Assignment B", 1},
    {0x04, 0x04, "Pin Assignment C", 1},
    {0x08, 0x08, "Pin Assignment D", 1},
    {0x10, 0x10, "Pin Assignment E", 1},
    {0x20, 0x20, "Pin Assignment F", 1},
    kValueTextEnd,
};

constexpr PDValueText kTbtModeValues[] = {
    {kExact, 1, "TBT Mode", 1},
    kValueTextEnd,
};

constexpr PDValueText kTbtAdapterValues[] = {
    {kExact, 0, "TBT3 Adapter", 1},
    {kExact, 1, "TBT2 Legacy Adapter", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoWattsValues[] = {
    {0, 0, "%d [W]", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoNoYesValues[] = {
    {kExact, 0, "No", 1},
    {kExact, 1, "Yes", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoYesNoValues[] = {
    {kExact, 0, "Yes", 1},
    {kExact, 1, "No", 1},
    kValueTextEnd,
};

constexpr PDValueText kIdUfpProductTypeValues[] = {
    {kExact, 0, "Not a UFP", 1},
    {kExact, 1, "PDUSB Hub", 1},
    {kExact, 2, "PDUSB Peripheral", 1},
    {kExact, 3, "PSD", 1},
    kValueTextEnd,
};

constexpr PDValueText kIdUfpProductTypeV10Values[] = {
    {kExact, 0, "Undefined", 1},
    {kExact, 1, "PDUSB Hub", 1},
    {kExact, 2, "PDUSB Peripheral", 1},
    {kExact, 5, "Alternate Mode Adapter (AMA)", 1},
    kValueTextEnd,
};

constexpr PDValueText kIdDfpProductTypeValues[] = {
    {kExact, 0, "Not a DFP", 1},
    {kExact, 1, "PDUSB Hub", 1},
    {kExact, 2, "PDUSB Host", 1},
    {kExact, 3, "Power Brick", 1},
    kValueTextEnd,
};

constexpr PDValueText kIdCablePlugProductTypeValues[] = {
    {kExact, 0, "Not a Cable Plug/VPD", 1},
    {kExact, 3, "Passive Cable", 1},
    {kExact, 4, "Active Cable", 1},
    {kExact, 6, "VCONN-Powered USSB Device(VPD)", 1},
    kValueTextEnd,
};

constexpr PDValueText kIdCablePlugProductTypeV10Values[] = {
    {kExact, 0, "Undefined", 1},
    {kExact, 3, "Passive Cable", 1},
    {kExact, 4, "Active Cable", 1},
    kValueTextEnd,
};

constexpr PDValueText kIdConnectorTypeValues[] = {
    {kExact, 0, "Reserved, for compatibility with legacy systems", 1},
    {kExact, 2, "USB Type-C Receptacle", 1},
    {kExact, 3, "USB Type-C Plug", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoConnectorTypeValues[] = {
    {kExact, 2, "USB Type-C Receptacle", 1},
    {kExact, 3, "USB Type-C Captive Plug", 1},
    kValueTextEnd,
};

constexpr PDValueText kVpdChargeThroughCurrentValues[] = {
    {kExact, 0, "3A capable (Charge Through Support bit = 0b: Reserved, Shall be set to zero)", 1},
    {kExact, 1, "5A capable (Charge Through Support bit = 0b: Reserved, Shall be set to zero)", 1},
    kValueTextEnd,
};

constexpr PDValueText kVpdChargeThroughSupportValues[] = {
    {kExact, 0, "the VPD does not support Charge Through", 1},
    {kExact, 1, "the VPD supports Charge Through", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoCablePlugTypeValues[] = {
    {kExact, 2, "USB Type-C", 1},
    {kExact, 3, "Captive", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoCablePlugTypeV10Values[] = {
    {kExact, 0, "USB Type-A", 1},
    {kExact, 1, "USB Type-B", 1},
    {kExact, 2, "USB Type-C", 1},
    {kExact, 3, "Captive", 1},
    kValueTextEnd,
};

constexpr PDValueText kCableEprModeCapableValues[] = {
    {kExact, 0, "Cable is not EPR Mode Capable", 1},
    {kExact, 1, "Cable is EPR Mode Capable", 1},
    kValueTextEnd,
};

constexpr PDValueText kPassiveCableTerminationValues[] = {
    {kExact, 0, "VCONN not required", 1},
    {kExact, 1, "VCONN required", 1},
    kValueTextEnd,
};

constexpr PDValueText kActiveCableTerminationValues[] = {
    {kExact, 2, "One end Active, one end passive, VCONN required", 1},
    {kExact, 3, "Both ends Active, VCONN required", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoSbuTypeValues[] = {
    {kExact, 0, "SBU is passive", 1},
    {kExact, 1, "SBU is active", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoU3CLdPowerValues[] = {
    {kExact, 0, ">10mW", 1},
    {kExact, 1, "5-10mW", 1},
    {kExact, 2, "1-5mW", 1},
    {kExact, 3, "0.5-1mW", 1},
    {kExact, 4, ">0.2-0.5mW", 1},
    {kExact, 5, ">50-200uW", 1},
    {kExact, 6, "<50uW", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoU3ToU0TransitionValues[] = {
    {kExact, 0, "U3 to U0 direct", 1},
    {kExact, 1, "U3 to U0 through U3S", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoPhysicalConnectionValues[] = {
    {kExact, 0, "Copper", 1},
    {kExact, 1, "Optical", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoActiveElementValues[] = {
    {kExact, 0, "Active Redriver", 1},
    {kExact, 1, "Active Retimer", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoUsb4SupportedValues[] = {
    {kExact, 0, "USB4 supported", 1},
    {kExact, 1, "USB4 not supported", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoUsb20SupportedValues[] = {
    {kExact, 0, "USB 2.0 supported", 1},
    {kExact, 1, "USB 2.0 not supported", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoUsb32SupportedValues[] = {
    {kExact, 0, "USB 3.2 SuperSpeed supported", 1},
    {kExact, 1, "USB 3.2 SuperSpeed not supported", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoUsbLanesValues[] = {
    {kExact, 0, "One lane", 1},
    {kExact, 1, "Two lanes", 1},
    kValueTextEnd,
};

constexpr PDValueText kVdoUsbGenValues[] = {
    {kExact, 0, "Gen 1", 1},
    {kExact, 1, "Gen 2 or higher", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpUsb20SignalingValues[] = {
    {kExact, 0, "USB r2.0 signaling may be required on A6-A7 or B6-B7 while in DisplayPort Configuration", 1},
    {kExact, 1, "USB r2.0 signaling is not required on A6-A7 or B6-B7 while in DisplayPort Configuration", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpReceptacleIndicationValues[] = {
    {kExact, 0, "DisplayPort interface is presented on a USB Type-C Plug", 1},
    {kExact, 1, "DisplayPort interface is presented on a USB Type-C Receptacle", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpSignalingValues[] = {
    {0x01, 0x01, "Supports DP v1.3 signaling rates and electrical specification", 1},
    {0x02, 0x02, "Supports USB Gen2 signaling rate and electrical specification", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpPortCapabilityValues[] = {
    {kExact, 1, "UFP_D-cabable", 1},
    {kExact, 2, "DFP_D-capable", 1},
    {kExact, 3, "Both DFP_D and UFP_D-capable", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpIrqHpdValues[] = {
    {kExact, 0, "No IRQ_HPD since last status message", 1},
    {kExact, 1, "IRQ_HPD", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpHpdStateValues[] = {
    {kExact, 0, "HPD_Low", 1},
    {kExact, 1, "HPD_High", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpExitRequestValues[] = {
    {kExact, 0, "Maintain current mode.", 1},
    {kExact, 1, "Request exit from DisplayPort Mode.", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpUsbConfigurationRequestValues[] = {
    {kExact, 0, "Maintain current configuration.", 1},
    {kExact, 1, "Request switch to USB Configuration.", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpMultiFunctionValues[] = {
    {kExact, 0, "No preference for Multi-function.", 1},
    {kExact, 1, "Multi-function preferred.", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpEnabledValues[] = {
    {kExact, 0, "Adaptor DisplayPort functionality is disabled.", 1},
    {kExact, 1, "Adaptor DisplayPort functionality is enabled and operational.", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpPowerLowValues[] = {
    {kExact, 0, "Adaptor is functioning normally or is disabled.", 1},
    {kExact, 1, "Adaptor has detected low power and disabled.", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpConnectedValues[] = {
    {kExact, 0, "Neither DFP_D nor UFP_D is connected, or Adaptor is disabled.", 1},
    {kExact, 1, "DFP_D is connected.", 1},
    {kExact, 2, "UFP_D is connected.", 1},
    {kExact, 3, "Both DFP_D and UFP_D are connected.", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpConfigureSignalingValues[] = {
    {kExact, 0, "Signaling unspecified", 1},
    {kExact, 1, "Select DP v1.3 signaling rates and electrical settings", 1},
    {kExact, 2, "Select Gen2 signaling rates and electrical specifications", 1},
    kValueTextEnd,
};

constexpr PDValueText kDpSelectConfigurationValues[] = {
    {kExact, 0, "Set configuration for USB", 1},
    {kExact, 1, "Set configuration for UFP_U as DFP_D", 1},
    {kExact, 2, "Set configuration for UFP_U as UFP_D", 1},
    kValueTextEnd,
};

constexpr PDValueText kTbtActivePassiveValues[] = {
    {kExact, 0, "Passive cable", 1},
    {kExact, 1, "Active cable", 1},
    kValueTextEnd,
};

constexpr PDValueText kTbtLinkTrainingValues[] = {
    {kExact, 0, "Active with bi-directional LSRX communication or when Passive", 1},
    {kExact, 1, "Active with uni-directional LSRX communication", 1},
    kValueTextEnd,
};

constexpr PDValueText kTbtRetimerValues[] = {
    {kExact, 0, "Not re-timer", 1},
    {kExact, 1, "Re-timer", 1},
    kValueTextEnd,
};

constexpr PDValueText kTbtCableTypeValues[] = {
    {kExact, 0, "Non-Optical", 1},
    {kExact, 1, "Optical", 1},
    kValueTextEnd,
};

constexpr PDValueText kTbtRoundedSupportValues[] = {
    {kExact, 0, "3rd Gen Non-Rounded TBT", 1},
    {kExact, 1, "3rd & 4th Gen Rounded and Non-Rounded TBT", 1},
    kValueTextEnd,
};

constexpr PDValueText kTbtCableSpeedValues[] = {
    {kExact, 1, "USB3.1 Gen1 Cable (10 Gbps TBT support)", 1},
    {kExact, 2, "10 Gbps (USB 3.2 Gen1 and Gen2 passive cables)", 1},
    {kExact, 3, "10 Gbps and 20 Gbps (TBT 3rd Gen active cables and 20 Gbps passive cables)", 1},
    kValueTextEnd,
};

// ---------------------------------------------------------------------------------------------------------
// Field lists, rows from high bits to low.

constexpr PDFieldDesc kUnstructuredVdmHeaderFields[] = {
    {16, 16, nullptr, "Vendor ID (VID)"},
    {15, 1, kVdmTypeValues, "VDM Type"},
    {0, 15, nullptr, "Available for Vendor Use"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kStructuredVdmHeaderV10Fields[] = {
    {16, 16, kVdmSvidValues, "Standard or Vendor ID (SVID)"},
    {15, 1, kVdmTypeValues, "VDM Type"},
    {13, 2, kVdmVersionV10Values, "Structured VDM Version"},
    {11, 2, nullptr, "Reserved"},
    {8, 3, nullptr, "Object Position"},
    {6, 2, kVdmCommandTypeValues, "Command Type"},
    {5, 1, nullptr, "Reserved"},
    {0, 5, kVdmCommandValues, "Command"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kStructuredVdmHeaderV10DisplayPortFields[] = {
    {16, 16, kVdmSvidValues, "Standard or Vendor ID (SVID)"},
    {15, 1, kVdmTypeValues, "VDM Type"},
    {13, 2, kVdmVersionV10Values, "Structured VDM Version"},
    {11, 2, nullptr, "Reserved"},
    {8, 3, nullptr, "Object Position"},
    {6, 2, kVdmCommandTypeValues, "Command Type"},
    {5, 1, nullptr, "Reserved"},
    {0, 5, kVdmDisplayPortCommandValues, "Command"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kStructuredVdmHeaderV2Fields[] = {
    {16, 16, kVdmSvidValues, "Standard or Vendor ID (SVID)"},
    {15, 1, kVdmTypeValues, "VDM Type"},
    {13, 2, kVdmVersionMajorValues, "Structured VDM Version (Major)"},
    {11, 2, kVdmVersionMinorValues, "Structured VDM Version (Minor)"},
    {8, 3, nullptr, "Object Position"},
    {6, 2, kVdmCommandTypeValues, "Command Type"},
    {5, 1, nullptr, "Reserved"},
    {0, 5, kVdmCommandValues, "Command"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kStructuredVdmHeaderV2DisplayPortFields[] = {
    {16, 16, kVdmSvidValues, "Standard or Vendor ID (SVID)"},
    {15, 1, kVdmTypeValues, "VDM Type"},
    {13, 2, kVdmVersionMajorValues, "Structured VDM Version (Major)"},
    {11, 2, kVdmVersionMinorValues, "Structured VDM Version (Minor)"},
    {8, 3, nullptr, "Object Position"},
    {6, 2, kVdmCommandTypeValues, "Command Type"},
    {5, 1, nullptr, "Reserved"},
    {0, 5, kVdmDisplayPortCommandValues, "Command"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kStructuredVdmHeaderV2ModeFields[] = {
    {16, 16, kVdmSvidValues, "Standard or Vendor ID (SVID)"},
    {15, 1, kVdmTypeValues, "VDM Type"},
    {13, 2, kVdmVersionMajorValues, "Structured VDM Version (Major)"},
    {11, 2, kVdmVersionMinorValues, "Structured VDM Version (Minor)"},
    {8, 3, kVdmObjectPositionExitValues, "Object Position"},
    {6, 2, kVdmCommandTypeValues, "Command Type"},
    {5, 1, nullptr, "Reserved"},
    {0, 5, kVdmCommandValues, "Command"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kStructuredVdmHeaderV2ModeDisplayPortFields[] = {
    {16, 16, kVdmSvidValues, "Standard or Vendor ID (SVID)"},
    {15, 1, kVdmTypeValues, "VDM Type"},
    {13, 2, kVdmVersionMajorValues, "Structured VDM Version (Major)"},
    {11, 2, kVdmVersionMinorValues, "Structured VDM Version (Minor)"},
    {8, 3, kVdmObjectPositionExitValues, "Object Position"},
    {6, 2, kVdmCommandTypeValues, "Command Type"},
    {5, 1, nullptr, "Reserved"},
    {0, 5, kVdmDisplayPortCommandValues, "Command"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kIdHeaderSopV2Fields[] = {
    {31, 1, nullptr, "USB Communications Capable as USB Host"},
    {30, 1, nullptr, "USB Communications Capable as a USB Device"},
    {27, 3, kIdUfpProductTypeValues, "Product Type (UFP)"},
    {26, 1, nullptr, "Modal Operation Supported"},
    {23, 3, kIdDfpProductTypeValues, "Product Type (DFP)"},
    {21, 2, kIdConnectorTypeValues, "Connector Type"},
    {16, 5, nullptr, "Reserved"},
    {0, 16, nullptr, "USB Vendor ID"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kIdHeaderSopV10Fields[] = {
    {31, 1, nullptr, "USB Communications Capable as USB Host"},
    {30, 1, nullptr, "USB Communications Capable as a USB Device"},
    {27, 3, kIdUfpProductTypeV10Values, "Product Type (UFP)"},
    {26, 1, nullptr, "Modal Operation Supported"},
    {16, 10, nullptr, "Reserved"},
    {0, 16, nullptr, "USB Vendor ID"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kIdHeaderCableV2Fields[] = {
    {31, 1, nullptr, "USB Communications Capable as USB Host"},
    {30, 1, nullptr, "USB Communications Capable as a USB Device"},
    {27, 3, kIdCablePlugProductTypeValues, "Product Type (Cable Plug)"},
    {26, 1, nullptr, "Modal Operation Supported"},
    {23, 3, kIdDfpProductTypeValues, "Product Type (DFP)"},
    {21, 2, kIdConnectorTypeValues, "Connector Type"},
    {16, 5, nullptr, "Reserved"},
    {0, 16, nullptr, "USB Vendor ID"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kIdHeaderCableV10Fields[] = {
    {31, 1, nullptr, "USB Communications Capable as USB Host"},
    {30, 1, nullptr, "USB Communications Capable as a USB Device"},
    {27, 3, kIdCablePlugProductTypeV10Values, "Product Type (Cable Plug)"},
    {26, 1, nullptr, "Modal Operation Supported"},
    {16, 10, nullptr, "Reserved"},
    {0, 16, nullptr, "USB Vendor ID"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCertStatFields[] = {
    {0, 32, nullptr, "XID"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kProductFields[] = {
    {16, 16, nullptr, "USB Product ID"},
    {0, 16, nullptr, "bcdDevice"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kUfpVdoAFields[] = {
    {29, 3, kVdoVersion4Values, "UFP VDO Version"},
    {28, 1, nullptr, "Reserved"},
    {27, 1, nullptr, "Device Capability (USB4 Device Capable)"},
    {26, 1, nullptr, "Device Capability (USB 3.2 Device Capable)"},
    {25, 1, nullptr, "Device Capability (USB 2.0 Device Capable (Billboard only))"},
    {24, 1, nullptr, "Device Capability (USB 2.0 Device Capable)"},
    {6, 18, nullptr, "Reserved"},
    {5, 1, nullptr, "Alternate Modes (Supports Alternate Modes that do not reconfigure the signals on the USB Type-C connector)"},
    {4, 1, nullptr, "Alternate Modes (Supports Alternate Modes that reconfigure the signals on the USB Type-C connector except for TBT3)"},
    {3, 1, nullptr, "Alternate Modes (Supports TBT3 Alternate Mode)"},
    {0, 3, kVdoUsbSpeedValues, "USB Highest Speed"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kUfpVdoBFields[] = {
    {29, 3, kVdoVersion4Values, "UFP VDO Version"},
    {28, 1, nullptr, "Reserved"},
    {27, 1, nullptr, "Device Capability (USB4 Device Capable)"},
    {26, 1, nullptr, "Device Capability (USB 3.2 Device Capable)"},
    {25, 1, nullptr, "Device Capability (USB 2.0 Device Capable (Billboard only))"},
    {24, 1, nullptr, "Device Capability (USB 2.0 Device Capable)"},
    {22, 2, kVdoConnectorTypeValues, "Connector Type"},
    {6, 16, nullptr, "Reserved"},
    {5, 1, nullptr, "Alternate Modes (Supports Alternate Modes that do not reconfigure the signals on the USB Type-C connector)"},
    {4, 1, nullptr, "Alternate Modes (Supports Alternate Modes that reconfigure the signals on the USB Type-C connector except for TBT3)"},
    {3, 1, nullptr, "Alternate Modes (Supports TBT3 Alternate Mode)"},
    {0, 3, kVdoUsbSpeedValues, "USB Highest Speed"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kUfpVdoCFields[] = {
    {29, 3, kVdoVersion4Values, "UFP VDO Version"},
    {28, 1, nullptr, "Reserved"},
    {27, 1, nullptr, "Device Capability (USB4 Device Capable)"},
    {26, 1, nullptr, "Device Capability (USB 3.2 Device Capable)"},
    {25, 1, nullptr, "Device Capability (USB 2.0 Device Capable (Billboard only))"},
    {24, 1, nullptr, "Device Capability (USB 2.0 Device Capable)"},
    {22, 2, nullptr, "Connector Type (Legacy)"},
    {11, 11, nullptr, "Reserved"},
    {8, 3, kVdoVconnPowerValues, "VCONN Power"},
    {7, 1, kVdoNoYesValues, "VCONN Required"},
    {6, 1, kVdoYesNoValues, "VBUS Required"},
    {5, 1, nullptr, "Alternate Modes (Supports Alternate Modes that do not reconfigure the signals on the USB Type-C connector)"},
    {4, 1, nullptr, "Alternate Modes (Supports Alternate Modes that reconfigure the signals on the USB Type-C connector except for TBT3)"},
    {3, 1, nullptr, "Alternate Modes (Supports TBT3 Alternate Mode)"},
    {0, 3, kVdoUsbSpeedValues, "USB Highest Speed"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kUfpVdo2Fields[] = {
    {30, 2, nullptr, "Reserved"},
    {23, 7, kVdoWattsValues, "USB4 Min Power"},
    {16, 7, kVdoWattsValues, "USB4 Max Power"},
    {14, 2, nullptr, "Reserved"},
    {7, 7, kVdoWattsValues, "USB3 Min Power"},
    {0, 7, kVdoWattsValues, "USB3 Max Power"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kDfpVdoAFields[] = {
    {29, 3, kVdoVersion3Values, "DFP VDO Version"},
    {27, 2, nullptr, "Reserved"},
    {26, 1, nullptr, "Host Capability (USB4 Host Capable)"},
    {25, 1, nullptr, "Host Capability (USB3.2 Host Capable)"},
    {24, 1, nullptr, "Host Capability (USB2.0 Host Capable)"},
    {5, 19, nullptr, "Reserved"},
    {0, 5, nullptr, "Port Number"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kDfpVdoBFields[] = {
    {29, 3, kVdoVersion3Values, "DFP VDO Version"},
    {27, 2, nullptr, "Reserved"},
    {26, 1, nullptr, "Host Capability (USB4 Host Capable)"},
    {25, 1, nullptr, "Host Capability (USB3.2 Host Capable)"},
    {24, 1, nullptr, "Host Capability (USB2.0 Host Capable)"},
    {22, 2, kVdoConnectorTypeValues, "Connector Type"},
    {5, 17, nullptr, "Reserved"},
    {0, 5, nullptr, "Port Number"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kDfpVdoCFields[] = {
    {29, 3, kVdoVersion3Values, "DFP VDO Version"},
    {27, 2, nullptr, "Reserved"},
    {26, 1, nullptr, "Host Capability (USB4 Host Capable)"},
    {25, 1, nullptr, "Host Capability (USB3.2 Host Capable)"},
    {24, 1, nullptr, "Host Capability (USB2.0 Host Capable)"},
    {22, 2, nullptr, "Connector Type (Legacy)"},
    {5, 17, nullptr, "Reserved"},
    {0, 5, nullptr, "Port Number"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kAmaVdoV2Fields[] = {
    {28, 4, nullptr, "HW Version"},
    {24, 4, nullptr, "Firmware Version"},
    {21, 3, kVdoVersion4Values, "VDO Version"},
    {8, 13, nullptr, "Reserved"},
    {5, 3, kVdoVconnPowerValues, "VCONN power"},
    {4, 1, nullptr, "VCONN required"},
    {3, 1, nullptr, "VBUS required"},
    {0, 3, kAmaSpeedValues, "USB Highest Speed"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kAmaVdoV10Fields[] = {
    {28, 4, nullptr, "HW Version"},
    {24, 4, nullptr, "Firmware Version"},
    {12, 12, nullptr, "Reserved"},
    {11, 1, kVdoDirectionalityValues, "SSTX1 Directionality Support"},
    {10, 1, kVdoDirectionalityValues, "SSTX2 Directionality Support"},
    {9, 1, kVdoDirectionalityValues, "SSRX1 Directionality Support"},
    {8, 1, kVdoDirectionalityValues, "SSRX2 Directionality Support"},
    {5, 3, kVdoVconnPowerValues, "VCONN power"},
    {4, 1, nullptr, "VCONN required"},
    {3, 1, nullptr, "VBUS required"},
    {0, 3, kAmaSpeedValues, "USB SuperSpeed Signaling Support"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kVpdVdoFields[] = {
    {28, 4, nullptr, "HW Version"},
    {24, 4, nullptr, "Firmware Version"},
    {21, 3, kVdoVersion4Values, "VDO Version"},
    {17, 4, nullptr, "Reserved"},
    {15, 2, kVdoMaxVbusValues, "Maximum VBUS Voltage"},
    {14, 1, kVpdChargeThroughCurrentValues, "Charge Through Current Support"},
    {13, 1, nullptr, "Reserved"},
    {7, 6, nullptr, "VBUS Impedance"},
    {1, 6, nullptr, "Ground Impedance"},
    {0, 1, kVpdChargeThroughSupportValues, "Charge Through Support"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPassiveCableVdoV2Fields[] = {
    {28, 4, nullptr, "HW Version"},
    {24, 4, nullptr, "Firmware Version"},
    {21, 3, kVdoVersion4Values, "VDO Version"},
    {20, 1, nullptr, "Reserved"},
    {18, 2, kVdoCablePlugTypeValues, "USB Type-C plug to USB Type-C/Captive"},
    {17, 1, kCableEprModeCapableValues, "EPR Mode Capable"},
    {13, 4, kPassiveCableLatencyValues, "Cable Latency"},
    {11, 2, kPassiveCableTerminationValues, "Cable Termination Type"},
    {9, 2, kVdoMaxVbusValues, "Maximum VBUS Voltage"},
    {7, 2, nullptr, "Reserved"},
    {5, 2, kVdoVbusCurrentValues, "VBUS Current Handling Capability"},
    {3, 2, nullptr, "Reserved"},
    {0, 3, kVdoUsbSpeedValues, "USB Highest Speed"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPassiveCableVdoV10Fields[] = {
    {28, 4, nullptr, "HW Version"},
    {24, 4, nullptr, "Firmware Version"},
    {20, 4, nullptr, "Reserved"},
    {18, 2, kVdoCablePlugTypeV10Values, "USB Type-C plug to USB Type-A/B/C/Captive"},
    {17, 1, nullptr, "Reserved"},
    {13, 4, kPassiveCableLatencyValues, "Cable Latency"},
    {11, 2, kPassiveCableTerminationValues, "Cable Termination Type"},
    {10, 1, kVdoDirectionalityValues, "SSTX1 Directionality Support"},
    {9, 1, kVdoDirectionalityValues, "SSTX2 Directionality Support"},
    {8, 1, kVdoDirectionalityValues, "SSRX1 Directionality Support"},
    {7, 1, kVdoDirectionalityValues, "SSRX2 Directionality Support"},
    {5, 2, kVdoVbusCurrentValues, "VBUS Current Handling Capability"},
    {4, 1, nullptr, "VBUS through cable"},
    {3, 1, nullptr, "Reserved"},
    {0, 3, kVdoUsbSpeedOldValues, "USB SuperSpeed Signaling Support"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kActiveCableVdo1V2Fields[] = {
    {28, 4, nullptr, "HW Version"},
    {24, 4, nullptr, "Firmware Version"},
    {21, 3, kVdoVersion4Values, "VDO Version"},
    {20, 1, nullptr, "Reserved"},
    {18, 2, kVdoCablePlugTypeValues, "Connector Type"},
    {17, 1, kCableEprModeCapableValues, "EPR Mode Capable"},
    {13, 4, kActiveCableLatencyValues, "Cable Latency"},
    {11, 2, kActiveCableTerminationValues, "Cable Termination Type"},
    {9, 2, kVdoMaxVbusValues, "Maximum VBUS Voltage"},
    {8, 1, nullptr, "SBU Supported"},
    {7, 1, kVdoSbuTypeValues, "SBU Type"},
    {5, 2, kVdoVbusCurrentValues, "VBUS Current Handling Capability"},
    {4, 1, nullptr, "VBUS Through Cable"},
    {3, 1, nullptr, "SOP\" Controller Present"},
    {0, 3, kVdoUsbSpeedValues, "USB Highest Speed (or Reserved)"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kActiveCableVdo2Fields[] = {
    {24, 8, nullptr, "Maximum Operating Temperature"},
    {16, 8, nullptr, "Shutdown Temperature"},
    {15, 1, nullptr, "Reserved"},
    {12, 3, kVdoU3CLdPowerValues, "U3/CLd Power"},
    {11, 1, kVdoU3ToU0TransitionValues, "U3 to U0 transition mode"},
    {10, 1, kVdoPhysicalConnectionValues, "Physical connection (or Reserved)"},
    {9, 1, kVdoActiveElementValues, "Active element (or Reserved)"},
    {8, 1, kVdoUsb4SupportedValues, "USB4 Supported (or Reserved)"},
    {6, 2, nullptr, "USB 2.0 Hub Hops Consumed"},
    {5, 1, kVdoUsb20SupportedValues, "USB 2.0 Supported"},
    {4, 1, kVdoUsb32SupportedValues, "USB 3.2 Supported"},
    {3, 1, kVdoUsbLanesValues, "USB Lanes Supported"},
    {2, 1, kVdoNoYesValues, "Optically Isolated Active Cable (or Reserved)"},
    {1, 1, nullptr, "USB4 Asymmetric Mode Supported"},
    {0, 1, kVdoUsbGenValues, "USB Gen"},
    kFieldDescEnd,
};

// Row 3 is named with a right double quotation mark (U+201D, in UTF-8), unlike the 2.x list.
constexpr PDFieldDesc kActiveCableVdoV10Fields[] = {
    {28, 4, nullptr, "HW Version"},
    {24, 4, nullptr, "Firmware Version"},
    {20, 4, nullptr, "Reserved"},
    {18, 2, kVdoCablePlugTypeV10Values, "USB Type-C plug to USB Type-A/B/C/Captive"},
    {17, 1, nullptr, "Reserved"},
    {13, 4, kActiveCableLatencyValues, "Cable Latency"},
    {11, 2, kActiveCableTerminationValues, "Cable Termination Type"},
    {10, 1, kVdoDirectionalityValues, "SSTX1 Directionality Support"},
    {9, 1, kVdoDirectionalityValues, "SSTX2 Directionality Support"},
    {8, 1, kVdoDirectionalityValues, "SSRX1 Directionality Support"},
    {7, 1, kVdoDirectionalityValues, "SSRX2 Directionality Support"},
    {5, 2, kVdoVbusCurrentValues, "VBUS Current Handling Capability"},
    {4, 1, nullptr, "VBUS Through Cable"},
    {3, 1, nullptr, "SOP\xE2\x80\x9D Controller Present"},
    {0, 3, kVdoUsbSpeedOldValues, "USB SuperSpeed Signaling Support"},
    kFieldDescEnd,
};

// Two SVIDs per object, the upper half first.
constexpr PDFieldDesc kSvidListFields[] = {
    {16, 16, kVdmSvidValues, "SVID0"},
    {0, 16, kVdmSvidValues, "SVID1"},
    {48, 16, kVdmSvidValues, "SVID2"},
    {32, 16, kVdmSvidValues, "SVID3"},
    {80, 16, kVdmSvidValues, "SVID4"},
    {64, 16, kVdmSvidValues, "SVID5"},
    {112, 16, kVdmSvidValues, "SVID6"},
    {96, 16, kVdmSvidValues, "SVID7"},
    {144, 16, kVdmSvidValues, "SVID8"},
    {128, 16, kVdmSvidValues, "SVID9"},
    {176, 16, kVdmSvidValues, "SVID10"},
    {160, 16, kVdmSvidValues, "SVID11"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kModesFields[] = {
    {0, 32, nullptr, "Mode1"},
    {32, 32, nullptr, "Mode2"},
    {64, 32, nullptr, "Mode3"},
    {96, 32, nullptr, "Mode4"},
    {128, 32, nullptr, "Mode5"},
    {160, 32, nullptr, "Mode6"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kDisplayPortCapabilitiesFields[] = {
    {24, 8, nullptr, "Reserved"},
    {16, 8, kPinAssignmentsEValues, "UFP_D Pin Assignments Supported"},
    {8, 8, kPinAssignmentsFValues, "DFP_D Pin Assignments Supported"},
    {7, 1, kDpUsb20SignalingValues, "USB r2.0 Signaling Not Used"},
    {6, 1, kDpReceptacleIndicationValues, "Receptacle Indication"},
    {2, 4, kDpSignalingValues, "Signaling for Transport of DisplayPort Protocol"},
    {0, 2, kDpPortCapabilityValues, "Port Capability"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kTbt3DiscoverModeSopFields[] = {
    {30, 2, nullptr, "Reserved for legacy use"},
    {27, 3, nullptr, "Reserved"},
    {26, 1, nullptr, "Intel defined"},
    {17, 9, nullptr, "Reserved"},
    {16, 1, kTbtAdapterValues, "TBT Adapter"},
    {0, 16, kTbtModeValues, "TBT Alternate Mode"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kTbt3DiscoverModeCableFields[] = {
    {26, 6, nullptr, "Reserved"},
    {25, 1, kTbtActivePassiveValues, "Active_Passive"},
    {24, 1, nullptr, "Reserved"},
    {23, 1, kTbtLinkTrainingValues, "Active Cable Plug Link Training"},
    {22, 1, kTbtRetimerValues, "Re-timer"},
    {21, 1, kTbtCableTypeValues, "Cable Type"},
    {19, 2, kTbtRoundedSupportValues, "TBT_Rounded_Support"},
    {16, 3, kTbtCableSpeedValues, "Cable Speed"},
    {0, 16, kTbtModeValues, "TBT Alternate Mode"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kTbt3EnterModeFields[] = {
    {30, 2, nullptr, "Reserved for legacy use"},
    {27, 3, nullptr, "Reserved"},
    {26, 1, nullptr, "Intel Defined"},
    {25, 1, kTbtActivePassiveValues, "Active_Passive"},
    {24, 1, kTbtAdapterValues, "TBT Adapter"},
    {23, 1, kTbtLinkTrainingValues, "Active Cable Plug Link Training"},
    {22, 1, kTbtRetimerValues, "Re-timer"},
    {21, 1, kTbtCableTypeValues, "Cable Type"},
    {19, 2, kTbtRoundedSupportValues, "TBT_Rounded_Support"},
    {16, 3, kTbtCableSpeedValues, "Cable Speed"},
    {0, 16, kTbtModeValues, "TBT Alternate Mode"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kModeSpecificFields[] = {
    {0, 32, nullptr, "Mode Specific"},
    {32, 32, nullptr, "Mode Specific"},
    {64, 32, nullptr, "Mode Specific"},
    {96, 32, nullptr, "Mode Specific"},
    {128, 32, nullptr, "Mode Specific"},
    {160, 32, nullptr, "Mode Specific"},
    kFieldDescEnd,
};

// Bits 25..31 have no row.
constexpr PDFieldDesc kDisplayPortStatusFields[] = {
    {9, 16, nullptr, "Reserved"},
    {8, 1, kDpIrqHpdValues, "IRQ_HPD"},
    {7, 1, kDpHpdStateValues, "HPD State"},
    {6, 1, kDpExitRequestValues, "Exit DisplayPort Mode Request"},
    {5, 1, kDpUsbConfigurationRequestValues, "USB Configuration Request"},
    {4, 1, kDpMultiFunctionValues, "Multi-function Preferred"},
    {3, 1, kDpEnabledValues, "Enabled"},
    {2, 1, kDpPowerLowValues, "Power Low"},
    {0, 2, kDpConnectedValues, "DFP_D/UFP_D Connected"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kDisplayPortConfigureFields[] = {
    {16, 16, nullptr, "Reserved"},
    {8, 8, kPinAssignmentsFValues, "Configure UFP_U Pin Assignment"},
    {6, 2, nullptr, "Reserved"},
    {2, 4, kDpConfigureSignalingValues, "Signaling for Transport of DisplayPort Protocol"},
    {0, 2, kDpSelectConfigurationValues, "Select Configuration"},
    kFieldDescEnd,
};

// clang-format on

namespace {

static_assert(HasEnd(kVdmSvidValues) && HasEnd(kVdmTypeValues) && HasEnd(kVdmCommandTypeValues) &&
              HasEnd(kVdmCommandValues) && HasEnd(kVdmDisplayPortCommandValues) &&
              HasEnd(kVdmVersionV10Values) && HasEnd(kVdmVersionMajorValues) &&
              HasEnd(kVdmVersionMinorValues) && HasEnd(kVdmObjectPositionExitValues));
static_assert(HasEnd(kVdoVersion4Values) && HasEnd(kVdoVersion3Values) && HasEnd(kVdoUsbSpeedValues) &&
              HasEnd(kVdoUsbSpeedOldValues) && HasEnd(kAmaSpeedValues) && HasEnd(kVdoVconnPowerValues) &&
              HasEnd(kPassiveCableLatencyValues) && HasEnd(kActiveCableLatencyValues) &&
              HasEnd(kVdoMaxVbusValues) && HasEnd(kVdoVbusCurrentValues) &&
              HasEnd(kVdoDirectionalityValues) && HasEnd(kPinAssignmentsEValues) &&
              HasEnd(kPinAssignmentsFValues) && HasEnd(kTbtModeValues) && HasEnd(kTbtAdapterValues) &&
              HasEnd(kVdoWattsValues) && HasEnd(kVdoNoYesValues) && HasEnd(kVdoYesNoValues));
static_assert(HasEnd(kIdUfpProductTypeValues) && HasEnd(kIdUfpProductTypeV10Values) &&
              HasEnd(kIdDfpProductTypeValues) && HasEnd(kIdCablePlugProductTypeValues) &&
              HasEnd(kIdCablePlugProductTypeV10Values) && HasEnd(kIdConnectorTypeValues));
static_assert(HasEnd(kVdoConnectorTypeValues) && HasEnd(kVpdChargeThroughCurrentValues) &&
              HasEnd(kVpdChargeThroughSupportValues) && HasEnd(kVdoCablePlugTypeValues) &&
              HasEnd(kVdoCablePlugTypeV10Values) && HasEnd(kCableEprModeCapableValues) &&
              HasEnd(kPassiveCableTerminationValues) && HasEnd(kActiveCableTerminationValues) &&
              HasEnd(kVdoSbuTypeValues) && HasEnd(kVdoU3CLdPowerValues) &&
              HasEnd(kVdoU3ToU0TransitionValues) && HasEnd(kVdoPhysicalConnectionValues) &&
              HasEnd(kVdoActiveElementValues) && HasEnd(kVdoUsb4SupportedValues) &&
              HasEnd(kVdoUsb20SupportedValues) && HasEnd(kVdoUsb32SupportedValues) &&
              HasEnd(kVdoUsbLanesValues) && HasEnd(kVdoUsbGenValues));
static_assert(HasEnd(kDpUsb20SignalingValues) && HasEnd(kDpReceptacleIndicationValues) &&
              HasEnd(kDpSignalingValues) && HasEnd(kDpPortCapabilityValues) && HasEnd(kDpIrqHpdValues) &&
              HasEnd(kDpHpdStateValues) && HasEnd(kDpExitRequestValues) &&
              HasEnd(kDpUsbConfigurationRequestValues) && HasEnd(kDpMultiFunctionValues) &&
              HasEnd(kDpEnabledValues) && HasEnd(kDpPowerLowValues) && HasEnd(kDpConnectedValues) &&
              HasEnd(kDpConfigureSignalingValues) && HasEnd(kDpSelectConfigurationValues));
static_assert(HasEnd(kTbtActivePassiveValues) && HasEnd(kTbtLinkTrainingValues) &&
              HasEnd(kTbtRetimerValues) && HasEnd(kTbtCableTypeValues) && HasEnd(kTbtRoundedSupportValues) &&
              HasEnd(kTbtCableSpeedValues));
static_assert(HasEnd(kUnstructuredVdmHeaderFields) && HasEnd(kStructuredVdmHeaderV10Fields) &&
              HasEnd(kStructuredVdmHeaderV10DisplayPortFields) && HasEnd(kStructuredVdmHeaderV2Fields) &&
              HasEnd(kStructuredVdmHeaderV2DisplayPortFields) && HasEnd(kStructuredVdmHeaderV2ModeFields) &&
              HasEnd(kStructuredVdmHeaderV2ModeDisplayPortFields));
static_assert(HasEnd(kIdHeaderSopV2Fields) && HasEnd(kIdHeaderSopV10Fields) &&
              HasEnd(kIdHeaderCableV2Fields) && HasEnd(kIdHeaderCableV10Fields) && HasEnd(kCertStatFields) &&
              HasEnd(kProductFields) && HasEnd(kUfpVdoAFields) && HasEnd(kUfpVdoBFields) &&
              HasEnd(kUfpVdoCFields) && HasEnd(kUfpVdo2Fields) && HasEnd(kDfpVdoAFields) &&
              HasEnd(kDfpVdoBFields) && HasEnd(kDfpVdoCFields) && HasEnd(kAmaVdoV2Fields) &&
              HasEnd(kAmaVdoV10Fields) && HasEnd(kVpdVdoFields) && HasEnd(kPassiveCableVdoV2Fields) &&
              HasEnd(kPassiveCableVdoV10Fields) && HasEnd(kActiveCableVdo1V2Fields) &&
              HasEnd(kActiveCableVdo2Fields) && HasEnd(kActiveCableVdoV10Fields));
static_assert(HasEnd(kSvidListFields) && HasEnd(kModesFields) && HasEnd(kDisplayPortCapabilitiesFields) &&
              HasEnd(kTbt3DiscoverModeSopFields) && HasEnd(kTbt3DiscoverModeCableFields) &&
              HasEnd(kTbt3EnterModeFields) && HasEnd(kModeSpecificFields) &&
              HasEnd(kDisplayPortStatusFields) && HasEnd(kDisplayPortConfigureFields));

// ---------------------------------------------------------------------------------------------------------
// Fields of the VDM header and of the ID header.

constexpr uint32_t Bits(uint32_t v, int low, int width) {
    return (v >> low) & ((uint32_t(1) << width) - 1);
}

struct VdmHeader {
    uint32_t word;
    uint32_t Svid() const { return Bits(word, 16, 16); }
    bool Structured() const { return Bits(word, 15, 1) != 0; }
    uint32_t Major() const { return Bits(word, 13, 2); }
    uint32_t Minor() const { return Bits(word, 11, 2); }
    bool Version2() const { return Major() != 0; }
    uint32_t ObjectPosition() const { return Bits(word, 8, 3); }
    uint32_t CommandType() const { return Bits(word, 6, 2); }
    uint32_t Command() const { return Bits(word, 0, 5); }
};

// Product type of the UFP (SOP) or of the cable plug (SOP', SOP''), and of the DFP.
uint32_t IdProductType(uint32_t idHeader) {
    return Bits(idHeader, 27, 3);
}
uint32_t IdDfpProductType(uint32_t idHeader) {
    return Bits(idHeader, 23, 3);
}

// ---------------------------------------------------------------------------------------------------------
// Description.

std::string SvidText(uint32_t svid) {
    switch (svid) {
    case kSvidThunderbolt:
        return "TBT3";
    case kSvidStandard:
        return "StdID";
    case kSvidDisplayPort:
        return "DisplayPort";
    default: {
        std::string text;
        Appendf(text, "%04Xh", svid);
        return text;
    }
    }
}

void AppendCommandName(std::string& text, const VdmHeader& vdm) {
    static constexpr const char* kNames[] = {
        nullptr,      "Discover Identity", "Discover SVIDs", "Discover Modes",
        "Enter Mode", " Exit Mode",        " Attention",
    };
    const uint32_t command = vdm.Command();
    const bool dp = vdm.Svid() == kSvidDisplayPort;
    if (command >= 1 && command <= 6)
        text += kNames[command];
    else if (command >= 7 && command <= 15)
        Appendf(text, "(Invalid Command %d)", int(command));
    else if (dp && command == kVdmDisplayPortStatusUpdate)
        text += "DisplayPort Status Update";
    else if (dp && command == kVdmDisplayPortConfigure)
        text += "DisplayPort Configure";
    else if (command >= 16)
        Appendf(text, "SVID Specific Command %d", int(command));
    // Command 0 has no name; the blank after the name still follows.
}

void AppendVersion(std::string& text, const VdmHeader& vdm) {
    if (vdm.Major() == 0)
        text += "(Ver.1.0)";
    else if (vdm.Major() == 1)
        text += vdm.Minor() == 0 ? "(Ver.2.0)" : vdm.Minor() == 1 ? "(Ver.2.1)" : "(Ver.2.x)";
    else
        text += "(Unknown Ver.)";
}

const char* const kLatencyTexts[] = {
    nullptr,
    "(Cable Latency <10ns(<1m))",
    "(Cable Latency 10 to 20ns(<2m))",
    "(Cable Latency 20 to 30ns(<3m))",
    "(Cable Latency 30 to 40ns(<4m))",
    "(Cable Latency 40 to 50ns(<5m))",
    "(Cable Latency 50 to 60ns(<6m))",
    "(Cable Latency 60 to 70ns(<7m))",
    "(Cable Latency 1000ns(<100m))",
    "(Cable Latency 2000ns(<200m))",
    "(Cable Latency 3000ns(<300m))",
};

// Cable VDO texts of a message of revision 1.0 or 2.0; passive and active cables differ only in the two
// flag texts, whose opening parenthesis the active variant lacks.
void AppendCableTextsRev20(std::string& text, uint32_t v, bool active) {
    static constexpr const char* kPlugTexts[] = {"(Type-C to Type-A)", "(Type-C to Type-B)",
                                                 "(Type-C to Type-C)", "(Type-C Cabtive)"};
    const uint32_t plug = Bits(v, 18, 2);
    text += kPlugTexts[plug];
    if (plug >= 2) text += Bits(v, 17, 1) ? "(Type-C Plug to Receptacle)" : "(Type-C Plug to Plug)";

    const uint32_t latency = Bits(v, 13, 4);
    if (latency >= 1 && latency <= 10) text += kLatencyTexts[latency];

    static constexpr const char* kTermTexts[] = {
        "(Both ends Passive, VCONN not required.)", "(Both ends Passive, VCONN required.)",
        "(Active and Passive, VCONN required.)", "(Both ends Active, VCONN required.)"};
    text += kTermTexts[Bits(v, 11, 2)];

    auto dir = [v](int bit) { return Bits(v, bit, 1) ? "Config" : "Fixed"; };
    Appendf(text, "(SSTX1/SSTX2/SSRX1/SSRX2=%s/%s/%s/%s)", dir(10), dir(9), dir(8), dir(7));

    static constexpr const char* kVbusTexts[] = {"(VBUS not through cable.)", "(VBUS Curr 3A)",
                                                 "(VBUS Curr 5A)", ""};
    text += kVbusTexts[Bits(v, 5, 2)];

    if (Bits(v, 4, 1)) text += active ? "VBUS through cable)" : "(VBUS through cable)";
    if (Bits(v, 3, 1)) text += active ? "SOP'' controller present)" : "(SOP'' controller present)";

    static constexpr const char* kSpeedTexts[] = {"(USB2.0 only)", "(USB3.1 Gen1)", "(USB3.1 Gen1 and Gen2)"};
    const uint32_t speed = Bits(v, 0, 3);
    if (speed <= 2) text += kSpeedTexts[speed];
}

// Cable VDO texts of a message of revision 3.0.
void AppendCableTextsRev30(std::string& text, uint32_t v, bool active) {
    const uint32_t plug = Bits(v, 18, 2);
    text += plug == 2 ? "(Type-C to Type-C)" : plug == 3 ? "(Type-C Cabtive)" : "(Invalid Type-C Type)";

    if (Bits(v, 17, 1)) text += "(EPR)";

    const uint32_t latency = Bits(v, 13, 4);
    if (latency >= 1 && latency <= 7)
        text += kLatencyTexts[latency];
    else if (!active && latency == 8)
        text += "(Cable Latency > 70ns(>7m))";
    else if (active && latency >= 8 && latency <= 10)
        text += kLatencyTexts[latency];
    else
        text += "(Invalid Cable Latency)";

    const uint32_t term = Bits(v, 11, 2);
    if (!active)
        text += term == 0   ? "(VCONN not required.)"
                : term == 1 ? "(VCONN required.)"
                            : "(Invalid Cable Term Type)";
    else
        text += term == 2   ? "(Active and Passive, VCONN required.)"
                : term == 3 ? "(Both ends Active, VCONN required.)"
                            : "(Invalid Cable Term Type)";

    if (!active) {
        static constexpr const char* kMaxVbusTexts[] = {"(Max Vbus 20V)", "(Max Vbus 30V)", "(Max Vbus 40V)",
                                                        "(Max Vbus 50V)"};
        text += kMaxVbusTexts[Bits(v, 9, 2)];
    }

    const uint32_t current = Bits(v, 5, 2);
    if (current == 1)
        text += active ? "(VBUS Curr 3A)" : "(Vbus 3A)";
    else if (current == 2)
        text += active ? "(Vbus Curr 5A)" : "(Vbus 5A)";
    else
        text += "(Invalid Vbus Current)";

    if (active) {
        if (Bits(v, 4, 1)) text += "VBUS through cable)";
        if (Bits(v, 3, 1)) text += "SOP'' controller present)";
    }

    static constexpr const char* kSpeedTexts[] = {"(USB2.0 only)", "(USB3.2 Gen1)", "(USB3.2 / USB4 Gen2)",
                                                  "(USB4 Gen3)", "(USB4 Gen4)"};
    const uint32_t speed = Bits(v, 0, 3);
    if (speed <= 4) text += kSpeedTexts[speed];
}

void AppendAmaTexts(std::string& text, uint32_t v) {
    Appendf(text, "(HWVer=%04Xh)", Bits(v, 28, 4));
    Appendf(text, "(FWVer=%04Xh)", Bits(v, 24, 4));
    if (Bits(v, 3, 1)) text += "(Vbus required)";
    if (Bits(v, 4, 1)) text += "(Vconn required)";
    static constexpr const char* kVconnTexts[] = {"(Vconn 1W)", "(Vconn 1.5W)", "(Vconn 2W)", "(Vconn 3W)",
                                                  "(Vconn 4W)", "(Vconn 5W)",   "(Vconn 6W)", ""};
    text += kVconnTexts[Bits(v, 5, 3)];
    static constexpr const char* kSpeedTexts[] = {"(USB2.0 only)", "(USB3.1 Gen1)", "(USB3.1 Gen1 and Gen2)",
                                                  "(USB2.0 billboard onyl)"};
    const uint32_t speed = Bits(v, 0, 3);
    if (speed <= 3) text += kSpeedTexts[speed];
}

void AppendIdentityTexts(std::string& text, const CCCPacket& p, int objectCount) {
    const uint32_t id = p.DataObject(2);
    const uint32_t type = IdProductType(id);
    const bool rev30 = p.HasRev30Layout();

    if (p.kind == kKindSop) {
        switch (type) {
        case 0:
            text += "(UFP Type Undefined)";
            break;
        case 1:
            text += "(UFP Hub)";
            break;
        case 2:
            text += "(UFP Peripheral)";
            break;
        case 3:
            if (rev30) text += "(UFP PSD)";
            break;
        case 5:
            text += "(UFP Alternate Mode Adapter)";
            break;
        case 6:
            if (rev30) text += "(UFP VPD)";
            break;
        default:
            text += "(invalid type)";
            break;
        }
    } else {
        text += type == 0   ? "(Type Undefined)"
                : type == 3 ? "(Passive Cable)"
                : type == 4 ? "(Active Cable)"
                            : "(invalid type)";
    }

    if (rev30) {
        static constexpr const char* kDfpTexts[] = {"(DFP Type Undefined)", "(DFP Hub)", "(DFP Host)",
                                                    "(DFP Power Brick)", "(DFP Alternate Mode Controller)"};
        const uint32_t dfp = IdDfpProductType(id);
        text += dfp <= 4 ? kDfpTexts[dfp] : "(invalid type)";
    }

    Appendf(text, "(USB VID=%04Xh)", Bits(id, 0, 16));
    if (Bits(id, 31, 1)) text += "(USB Host)";
    if (Bits(id, 30, 1)) text += "(USB Device)";
    if (Bits(id, 26, 1)) text += "(Modal Supported)";

    if (objectCount >= 3) Appendf(text, "(XID=%Xh)", p.DataObject(3));
    if (objectCount >= 4) {
        const uint32_t product = p.DataObject(4);
        Appendf(text, "(USB PID=%04Xh)", Bits(product, 16, 16));
        Appendf(text, "(USB bcdDevice=%04Xh)", Bits(product, 0, 16));
    }
    if (objectCount < 5) return;

    // The product type VDO is read by the same three bits whatever the kind.
    const uint32_t v = p.DataObject(5);
    switch (type) {
    case 3:
    case 4:
        Appendf(text, "(HWVer=%04Xh)", Bits(v, 28, 4));
        Appendf(text, "(FWVer=%04Xh)", Bits(v, 24, 4));
        if (rev30)
            AppendCableTextsRev30(text, v, type == 4);
        else
            AppendCableTextsRev20(text, v, type == 4);
        break;
    case 5:
        AppendAmaTexts(text, v);
        break;
    default:
        break;
    }
}

} // namespace

std::string DescribeVendorDefined(const CCCPacket& p) {
    std::string text;
    const VdmHeader vdm{p.DataObject(1)};
    if (!vdm.Structured()) {
        const int vendorData = int(Bits(vdm.word, 0, 15));
        Appendf(text, "<Unstructured VDM> VID=%04Xh VendorData=%04Xh(%d)", vdm.Svid(), vendorData, vendorData);
        return text;
    }

    AppendCommandName(text, vdm);
    text += ' ';
    static constexpr const char* kCommandTypeTexts[] = {"(Request)", "(ACK)", "(NAK)", "(BUSY)"};
    text += kCommandTypeTexts[vdm.CommandType()];
    text += ' ';
    Appendf(text, "(SVID=%s)", SvidText(vdm.Svid()).c_str());
    if (vdm.ObjectPosition() == 7)
        text += "(Exit all Active Modes)";
    else
        Appendf(text, "(Object Position=%d)", int(vdm.ObjectPosition()));
    AppendVersion(text, vdm);

    const int objectCount = p.DataObjectCount();
    if (objectCount < 2) return text;

    switch (vdm.Command()) {
    case kVdmDiscoverIdentity:
        AppendIdentityTexts(text, p, objectCount);
        break;
    case kVdmDiscoverSvids: {
        int k = 0;
        for (int n = 2; n <= objectCount; ++n) {
            const uint32_t object = p.DataObject(n);
            const uint32_t high = Bits(object, 16, 16);
            const uint32_t low = Bits(object, 0, 16);
            // A zero upper half ends the object's list, whatever its lower half holds.
            if (high == 0) continue;
            Appendf(text, "(SVID%d=%s)", k++, SvidText(high).c_str());
            if (low != 0) Appendf(text, "(SVID%d=%s)", k++, SvidText(low).c_str());
        }
        break;
    }
    case kVdmDiscoverModes:
        for (int i = 1; i <= objectCount - 1; ++i) Appendf(text, "(Mode%d=%08Xh)", i, p.DataObject(i + 1));
        break;
    case kVdmAttention:
        if (vdm.Svid() == kSvidDisplayPort) {
            const uint32_t status = p.DataObject(2);
            text += Bits(status, 7, 1) ? "(HPD_High)" : "(HPD_Low)";
            if (Bits(status, 8, 1)) text += "(IRQ_HPD)";
        }
        break;
    default:
        break;
    }
    return text;
}

// ---------------------------------------------------------------------------------------------------------
// Segments.

namespace {

constexpr int32_t ObjectBit(int n) {
    return 16 + 32 * (n - 1);
}

const PDFieldDesc* VdmHeaderFields(const VdmHeader& vdm) {
    if (!vdm.Structured()) return kUnstructuredVdmHeaderFields;
    const bool dp = vdm.Svid() == kSvidDisplayPort;
    if (!vdm.Version2()) return dp ? kStructuredVdmHeaderV10DisplayPortFields : kStructuredVdmHeaderV10Fields;
    const uint32_t command = vdm.Command();
    if (command == kVdmEnterMode || command == kVdmExitMode || command == kVdmAttention)
        return dp ? kStructuredVdmHeaderV2ModeDisplayPortFields : kStructuredVdmHeaderV2ModeFields;
    return dp ? kStructuredVdmHeaderV2DisplayPortFields : kStructuredVdmHeaderV2Fields;
}

// The UFP and DFP VDOs come in three layouts, chosen by the object's bits 28..31.
const PDFieldDesc* UfpVdoFields(uint32_t vdo) {
    const uint32_t version = Bits(vdo, 28, 4);
    return version == 0 ? kUfpVdoAFields : version <= 2 ? kUfpVdoBFields : kUfpVdoCFields;
}
bool HasUfpVdo2(uint32_t ufpVdo) {
    return Bits(ufpVdo, 28, 4) < 3;
}
const PDFieldDesc* DfpVdoFields(uint32_t vdo) {
    const uint32_t version = Bits(vdo, 28, 4);
    return version == 0 ? kDfpVdoAFields : version == 1 ? kDfpVdoBFields : kDfpVdoCFields;
}

void AddUfpVdos(CSegmentList& out, uint32_t ufpVdo) {
    out.Add(ObjectBit(5), UfpVdoFields(ufpVdo));
    if (HasUfpVdo2(ufpVdo)) out.Add(ObjectBit(6), kUfpVdo2Fields);
}

void AddIdentitySegments(CSegmentList& out, const CCCPacket& p, const CFieldView& view,
                         const VdmHeader& vdm) {
    const bool v2 = vdm.Version2();
    const bool sop = p.kind == kKindSop;
    const uint32_t id = view.Word(ObjectBit(2));
    const uint32_t type = IdProductType(id);
    const uint32_t dfpType = IdDfpProductType(id);

    if (sop)
        out.Add(ObjectBit(2), v2 ? kIdHeaderSopV2Fields : kIdHeaderSopV10Fields);
    else
        out.Add(ObjectBit(2), v2 ? kIdHeaderCableV2Fields : kIdHeaderCableV10Fields);
    out.Add(ObjectBit(3), kCertStatFields);
    out.Add(ObjectBit(4), kProductFields);

    if (!sop) {
        if (type == 3) {
            out.Add(ObjectBit(5), v2 ? kPassiveCableVdoV2Fields : kPassiveCableVdoV10Fields);
        } else if (type == 4) {
            if (v2) {
                out.Add(ObjectBit(5), kActiveCableVdo1V2Fields);
                out.Add(ObjectBit(6), kActiveCableVdo2Fields);
            } else {
                out.Add(ObjectBit(5), kActiveCableVdoV10Fields);
            }
        }
        return;
    }

    const bool ufpHubOrPeripheral = type == 1 || type == 2;
    const bool dfpHostLike = dfpType >= 1 && dfpType <= 3;
    if (p.DataObjectCount() == 7 && v2 && ufpHubOrPeripheral && dfpHostLike) {
        // A dual-role product: UFP VDOs first, the DFP VDO in the last object.
        AddUfpVdos(out, view.Word(ObjectBit(5)));
        out.Add(ObjectBit(7), DfpVdoFields(view.Word(ObjectBit(7))));
    } else if (p.DataRoleBit()) {
        if (dfpHostLike && v2) out.Add(ObjectBit(5), DfpVdoFields(view.Word(ObjectBit(5))));
    } else if (ufpHubOrPeripheral) {
        if (v2) AddUfpVdos(out, view.Word(ObjectBit(5)));
    } else if (type == 5) {
        out.Add(ObjectBit(5), v2 ? kAmaVdoV2Fields : kAmaVdoV10Fields);
    } else if (type == 6) {
        if (v2) out.Add(ObjectBit(5), kVpdVdoFields);
    }
}

} // namespace

void AddVendorDefinedSegments(CSegmentList& out, const CCCPacket& p) {
    // Choices read only what was received; bits past it read as ones.
    const CFieldView view(p.messageBytes, p.messageByteCount);
    const VdmHeader vdm{view.Word(ObjectBit(1))};
    out.Add(ObjectBit(1), VdmHeaderFields(vdm));
    if (!vdm.Structured()) return;

    const int objectCount = p.DataObjectCount();
    const uint32_t svid = vdm.Svid();
    switch (vdm.Command()) {
    case kVdmDiscoverIdentity:
        AddIdentitySegments(out, p, view, vdm);
        break;
    case kVdmDiscoverSvids:
        out.Add(ObjectBit(2), kSvidListFields);
        break;
    case kVdmDiscoverModes:
        if (svid == kSvidDisplayPort)
            for (int n = 2; n <= 7; ++n) out.Add(ObjectBit(n), kDisplayPortCapabilitiesFields);
        else if (svid == kSvidThunderbolt)
            out.Add(ObjectBit(2),
                    p.kind == kKindSop ? kTbt3DiscoverModeSopFields : kTbt3DiscoverModeCableFields);
        else
            out.Add(ObjectBit(2), kModesFields);
        break;
    case kVdmEnterMode:
        if (objectCount >= 2)
            out.Add(ObjectBit(2), svid == kSvidThunderbolt ? kTbt3EnterModeFields : kModeSpecificFields);
        break;
    case kVdmAttention:
        if (objectCount >= 2)
            out.Add(ObjectBit(2), svid == kSvidDisplayPort ? kDisplayPortStatusFields : kModeSpecificFields);
        break;
    case kVdmDisplayPortStatusUpdate:
    case kVdmDisplayPortConfigure:
        if (svid == kSvidDisplayPort && objectCount >= 2)
            out.Add(ObjectBit(2), vdm.Command() == kVdmDisplayPortStatusUpdate ? kDisplayPortStatusFields
                                                                               : kDisplayPortConfigureFields);
        break;
    default:
        break;
    }
}
