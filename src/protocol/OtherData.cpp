#include "OtherData.h"

#include "CCPacket.h"

#include <cstdio>
#include <iterator>

namespace {

constexpr uint32_t kExact = 0xFFFFFFFF;

} // namespace

// clang-format off
constexpr PDValueText kBistModeValues[] = {
    {kExact, 5, "BIST Carrier Mode", 1},
    {kExact, 8, "BIST Test Data", 1},
    {kExact, 9, "BIST Shared Test Mode Entry", 1},
    {kExact, 10, "BIST Shared Test Mode Exit", 1},
    kValueTextEnd,
};

// An exact match and the catch-all may both apply: capacity FFFFh reads "unknown" and the scaled value.
constexpr PDValueText kBatteryPresentCapacityValues[] = {
    {kExact, 65535, "Battery's SoC unknown", 1},
    {0, 0, "Battery's SoC %d [mWH] increments", 100},
    kValueTextEnd,
};

constexpr PDValueText kBatteryChargingStatusValues[] = {
    {kExact, 0, "Battery is Charging", 1},
    {kExact, 1, "Battery is Discharging", 1},
    {kExact, 2, "Battery is Idle", 1},
    kValueTextEnd,
};

constexpr PDValueText kExtendedAlertEventTypeValues[] = {
    {kExact, 1, "Power state change (DFP only)", 1},
    {kExact, 2, "Power button press (UFP only)", 1},
    {kExact, 3, "Power button release (UFP only)", 1},
    {kExact, 4, "Controller initiated wake (UFP only)", 1},
    kValueTextEnd,
};

constexpr PDValueText kEnterUsbModeValues[] = {
    {kExact, 0, "USB 2.0", 1},
    {kExact, 1, "USB 3.2", 1},
    {kExact, 2, "USB4", 1},
    kValueTextEnd,
};

constexpr PDValueText kEnterUsbUsb4DrdValues[] = {
    {kExact, 0, "Not capable of operating as a USB4 Device", 1},
    {kExact, 1, "Capable of operating as a USB4 Device", 1},
    kValueTextEnd,
};

constexpr PDValueText kEnterUsbUsb3DrdValues[] = {
    {kExact, 0, "Not capable of operating as a USB 3.2 Device", 1},
    {kExact, 1, "Capable of operating as a USB 3.2 Device", 1},
    kValueTextEnd,
};

constexpr PDValueText kEnterUsbCableSpeedValues[] = {
    {kExact, 0, "USB 2.0 only, no SuperSpeed support", 1},
    {kExact, 1, "USB 3.2 Gen1", 1},
    {kExact, 2, "USB 3.2 Gen2 and USB4 Gen2", 1},
    {kExact, 3, "USB4 Gen3", 1},
    {kExact, 4, "USB4 Gen4", 1},
    kValueTextEnd,
};

constexpr PDValueText kEnterUsbCableTypeValues[] = {
    {kExact, 0, "Passive", 1},
    {kExact, 1, "Active Re-timer", 1},
    {kExact, 2, "Active Re-driver", 1},
    {kExact, 3, "Optically Isolated", 1},
    kValueTextEnd,
};

constexpr PDValueText kEnterUsbCableCurrentValues[] = {
    {kExact, 0, "VBUS is not supported", 1},
    {kExact, 2, "3A", 1},
    {kExact, 3, "5A", 1},
    kValueTextEnd,
};

constexpr PDValueText kEnterUsbPcieSupportValues[] = {
    {kExact, 1, "USB4 PCIe tunneling supported by the host", 1},
    kValueTextEnd,
};

constexpr PDValueText kEnterUsbDpSupportValues[] = {
    {kExact, 1, "USB4 DP tunneling supported by the host", 1},
    kValueTextEnd,
};

constexpr PDValueText kEnterUsbTbtSupportValues[] = {
    {kExact, 1, "TBT3 is supported by the host's USB4 Connection Manager", 1},
    kValueTextEnd,
};

constexpr PDValueText kEprModeActionValues[] = {
    {kExact, 1, "Enter", 1},
    {kExact, 2, "Enter Acknowledged", 1},
    {kExact, 3, "Enter Succeeded", 1},
    {kExact, 4, "Enter Failed", 1},
    {kExact, 5, "Exit", 1},
    kValueTextEnd,
};

constexpr PDValueText kSourceInfoPortTypeValues[] = {
    {kExact, 0, "Managed Capability Port", 1},
    {kExact, 1, "Guranteed Capability Port", 1},
    kValueTextEnd,
};

constexpr PDValueText kSourceInfoPdpValues[] = {
    {0, 0, "%d [W]", 1},
    kValueTextEnd,
};

constexpr PDFieldDesc kBistFields[] = {
    {28, 4, kBistModeValues, "Mode"},
    {0, 28, nullptr, "Reserved"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kBatteryStatusFields[] = {
    {16, 16, kBatteryPresentCapacityValues, "Battery Present Capacity"},
    {12, 4, nullptr, "Battert Info (Reserved)"},
    {10, 2, kBatteryChargingStatusValues, "Battert Info (Battery charging status)"},
    {9, 1, nullptr, "Battert Info (Battery is present)"},
    {8, 1, nullptr, "Battert Info (Invalid Battery reference)"},
    {0, 8, nullptr, "Reserved"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kAlertFields[] = {
    {31, 1, nullptr, "Type of Alert (Extended Alert Event)"},
    {30, 1, nullptr, "Type of Alert (OVP event)"},
    {29, 1, nullptr, "Type of Alert (Source Input Change Event)"},
    {28, 1, nullptr, "Type of Alert (Operating Condition Change)"},
    {27, 1, nullptr, "Type of Alert (OTP event)"},
    {26, 1, nullptr, "Type of Alert (OCP event)"},
    {25, 1, nullptr, "Type of Alert (Battery Status Change Event)"},
    {24, 1, nullptr, "Type of Alert (Reserved)"},
    {20, 4, nullptr, "Fixed Batteries"},
    {16, 4, nullptr, "Hot Swappable Batteries"},
    {4, 12, nullptr, "Reserved"},
    {0, 4, kExtendedAlertEventTypeValues, "Extended Alert Event Type"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kGetCountryInfoFields[] = {
    {24, 8, nullptr, "First Caracter of the Alpha-2 Country Code defined by [ISO 3166]"},
    {16, 8, nullptr, "Second Caracter of the Alpha-2 Country Code defined by [ISO 3166]"},
    {0, 16, nullptr, "Reserved"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kEnterUsbFields[] = {
    {31, 1, nullptr, "Reserved"},
    {28, 3, kEnterUsbModeValues, "USB Mode"},
    {27, 1, nullptr, "Reserved"},
    {26, 1, kEnterUsbUsb4DrdValues, "USB4 DRD"},
    {25, 1, kEnterUsbUsb3DrdValues, "USB3 DRD"},
    {24, 1, nullptr, "Reserved"},
    {21, 3, kEnterUsbCableSpeedValues, "Cable Speed"},
    {19, 2, kEnterUsbCableTypeValues, "Cable Type"},
    {17, 2, kEnterUsbCableCurrentValues, "Cable Current"},
    {16, 1, kEnterUsbPcieSupportValues, "PCIe Support"},
    {15, 1, kEnterUsbDpSupportValues, "DP Support"},
    {14, 1, kEnterUsbTbtSupportValues, "TBT Support"},
    {13, 1, nullptr, "Host Present"},
    {0, 13, nullptr, "Reserved"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kEprModeFields[] = {
    {24, 8, kEprModeActionValues, "Action"},
    {16, 8, nullptr, "Data"},
    {0, 16, nullptr, "Reserved"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSourceInfoFields[] = {
    {31, 1, kSourceInfoPortTypeValues, "Port Type"},
    {24, 7, nullptr, "Reserved"},
    {16, 8, kSourceInfoPdpValues, "Port Maximum PDP"},
    {8, 8, kSourceInfoPdpValues, "Port Present PDP"},
    {0, 8, kSourceInfoPdpValues, "Port Reported PDP"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kRevisionFields[] = {
    {28, 4, nullptr, "Revision.major"},
    {24, 4, nullptr, "Revision.minor"},
    {20, 4, nullptr, "Version.major"},
    {16, 4, nullptr, "Version.minor"},
    {0, 16, nullptr, "Reserved"},
    kFieldDescEnd,
};
// clang-format on

namespace {

static_assert(HasEnd(kBistModeValues) && HasEnd(kBatteryPresentCapacityValues) &&
              HasEnd(kBatteryChargingStatusValues) && HasEnd(kExtendedAlertEventTypeValues));
static_assert(HasEnd(kEnterUsbModeValues) && HasEnd(kEnterUsbUsb4DrdValues) &&
              HasEnd(kEnterUsbUsb3DrdValues) && HasEnd(kEnterUsbCableSpeedValues) &&
              HasEnd(kEnterUsbCableTypeValues) && HasEnd(kEnterUsbCableCurrentValues) &&
              HasEnd(kEnterUsbPcieSupportValues) && HasEnd(kEnterUsbDpSupportValues) &&
              HasEnd(kEnterUsbTbtSupportValues));
static_assert(HasEnd(kEprModeActionValues) && HasEnd(kSourceInfoPortTypeValues) &&
              HasEnd(kSourceInfoPdpValues));
static_assert(HasEnd(kBistFields) && HasEnd(kBatteryStatusFields) && HasEnd(kAlertFields) &&
              HasEnd(kGetCountryInfoFields) && HasEnd(kEnterUsbFields) && HasEnd(kEprModeFields) &&
              HasEnd(kSourceInfoFields) && HasEnd(kRevisionFields));

uint32_t Bits(uint32_t word, int first, int count) {
    return (word >> first) & ((uint32_t(1) << count) - 1);
}

} // namespace

std::string DescribeBist(const CCCPacket& p) {
    const uint32_t d = p.DataObject(1);
    static constexpr const char* kModes[] = {
        "BIST Receiver Mode",          "BIST Transmit Mode",         "Returend BIST Counters",
        "BIST Carrier Mode 0",         "BIST Carrier Mode 1",        "BIST Carrier Mode 2",
        "BIST Carrier Mode 3",         "BIST Eye Pattern",           "BIST Test Data",
        "BIST Shared Test Mode Entry", "BIST Shared Test Mode Exit",
    };
    std::string text;
    const uint32_t mode = Bits(d, 28, 4);
    if (mode < std::size(kModes))
        text = kModes[mode];
    else
        Appendf(text, "(Unknown BIST code %d)", int(mode));
    text += ' ';
    Appendf(text, "(16-bit unsigned integer = %04Xh)", unsigned(Bits(d, 0, 16)));
    return text;
}

std::string DescribeEnterUsb(const CCCPacket& p) {
    if (p.DataObjectCount() != 1) return "Invalid Data Objects Count.";
    const uint32_t d = p.DataObject(1);
    static constexpr const char* kModes[] = {"USB Mode=USB2.0 ", "USB Mode=USB3.2 ", "USB Mode=USB4 "};
    static constexpr const char* kSpeeds[] = {
        "(CableSpeed=USB2.0 only)", "(CableSpeed=USB3.2 Gen1)", "(CableSpeed=USB3.2/USB4 Gen2)",
        "(CableSpeed=USB4 Gen3)",   "(CableSpeed=USB4 Gen4)",
    };
    static constexpr const char* kTypes[] = {
        "(CableType=Passive)",
        "(CableType=Active Re-timer)",
        "(CableType=Active Re-driver)",
        "(CableType=Optically isolated)",
    };
    const uint32_t mode = Bits(d, 28, 3);
    std::string text = mode < std::size(kModes) ? kModes[mode] : "USB Mode=Unknown ";
    if (d & (1u << 26)) text += "(USB4 DRD)";
    if (d & (1u << 25)) text += "(USB3 DRD)";
    const uint32_t speed = Bits(d, 21, 3);
    if (speed < std::size(kSpeeds)) text += kSpeeds[speed];
    text += kTypes[Bits(d, 19, 2)];
    const uint32_t current = Bits(d, 17, 2);
    if (current == 2) text += "(CableCurrent=3A)";
    if (current == 3) text += "(CableCurrent=5A)";
    if (d & (1u << 16)) text += "(PCIe Support)";
    if (d & (1u << 15)) text += "(DP Support)";
    if (d & (1u << 14)) text += "(TBT Support)";
    if (d & (1u << 13)) text += "(Host Present)";
    return text;
}

std::string DescribeGetCountryInfo(const CCCPacket& p) {
    // The text closes a parenthesis it never opened.
    std::string text;
    Appendf(text, "CCDO=%08Xh)", unsigned(p.DataObject(1)));
    return text;
}

std::string DescribeEprMode(const CCCPacket& p) {
    const uint32_t d = p.DataObject(1);
    static constexpr const char* kFailCauses[] = {
        "(Unknown cause)",
        "(Cable not EPR capable)",
        "(Source failed to become VCONN source)",
        "(EPR Mode Capable bit not set in RDO)",
        "(Source unable to enter EPR Mode)",
        "(EPR Mode Capable bit not set in PDO)",
    };
    const uint32_t action = Bits(d, 24, 8);
    const uint32_t data = Bits(d, 16, 8);
    std::string text;
    switch (action) {
    case 1:
        text = "Enter";
        Appendf(text, " (EPR Sink Operational PDP=%d[W])", int(data));
        break;
    case 2:
        text = "Enter Acknowledged";
        break;
    case 3:
        text = "Enter Succeeded";
        break;
    case 4:
        text = "Enter Failed ";
        if (data < std::size(kFailCauses)) text += kFailCauses[data];
        break;
    case 5:
        text = "Exit";
        break;
    default:
        text = "(Unknown Action)";
        break;
    }
    return text;
}

std::string DescribeSourceInfo(const CCCPacket& p) {
    const uint32_t d = p.DataObject(1);
    std::string text = (d & (1u << 31)) ? "Port Type=Guaranteed" : "Port Type=Managed";
    Appendf(text, "(Max PDP=%d[W])", int(Bits(d, 16, 8)));
    Appendf(text, "(Present PDP=%d[W])", int(Bits(d, 8, 8)));
    Appendf(text, "(Reported PDP=%d[W])", int(Bits(d, 0, 8)));
    return text;
}

std::string DescribeRevision(const CCCPacket& p) {
    const uint32_t d = p.DataObject(1);
    std::string text;
    Appendf(text, "Revision %d.%d, Version %d.%d", int(Bits(d, 28, 4)), int(Bits(d, 24, 4)), int(Bits(d, 20, 4)),
            int(Bits(d, 16, 4)));
    return text;
}
