#include "PowerObjects.h"

#include "CCPacket.h"

#include <cstdarg>
#include <cstdio>
#include <functional>

namespace {

constexpr uint32_t kExact = 0xFFFFFFFF;

} // namespace

// clang-format off
constexpr PDValueText kPdoKindValues[] = {
    {kExact, 0, "Fixed supply (Vmin=Vmax)", 1},
    {kExact, 1, "Battery", 1},
    {kExact, 2, "Variable Supply (non-Battery)", 1},
    {kExact, 3, "Augmented Power Data Object (APDO)", 1},
    kValueTextEnd,
};

constexpr PDValueText kPdoKindNoApdoValues[] = {
    {kExact, 0, "Fixed supply (Vmin=Vmax)", 1},
    {kExact, 1, "Battery", 1},
    {kExact, 2, "Variable Supply (non-Battery)", 1},
    kValueTextEnd,
};

constexpr PDValueText kApdoKindValues[] = {
    {kExact, 0, "SPR Programmable Power Supply", 1},
    {kExact, 1, "EPR Adjustable Voltage Supply", 1},
    {kExact, 2, "SPR Adjustable Voltage Supply", 1},
    kValueTextEnd,
};

constexpr PDValueText kFrsCurrentValues[] = {
    {kExact, 0, "Fast Swap not supported", 1},
    {kExact, 1, "Default USB Power", 1},
    {kExact, 2, "1.5A @ 5V", 1},
    {kExact, 3, "3.0A @ 5V", 1},
    kValueTextEnd,
};

constexpr PDValueText k50mVValues[] = {{0, 0, "%d [mV]", 50}, kValueTextEnd};
constexpr PDValueText k100mVValues[] = {{0, 0, "%d [mV]", 100}, kValueTextEnd};
constexpr PDValueText k25mVValues[] = {{0, 0, "%d [mV]", 25}, kValueTextEnd};
constexpr PDValueText k20mVValues[] = {{0, 0, "%d [mV]", 20}, kValueTextEnd};
constexpr PDValueText k10mAValues[] = {{0, 0, "%d [mA]", 10}, kValueTextEnd};
constexpr PDValueText k50mAValues[] = {{0, 0, "%d [mA]", 50}, kValueTextEnd};
constexpr PDValueText k250mWValues[] = {{0, 0, "%d [mW]", 250}, kValueTextEnd};
constexpr PDValueText k1WValues[] = {{0, 0, "%d [W]", 1}, kValueTextEnd};

// PDO lists, bits high to low.

constexpr PDFieldDesc kFixedSourceRev30Fields[] = {
    {30, 2, kPdoKindValues, "Fixed supply"},
    {29, 1, nullptr, "Dual-Role Power"},
    {28, 1, nullptr, "USB Suspend Supported"},
    {27, 1, nullptr, "Unconstrained Powered"},
    {26, 1, nullptr, "USB Communications Capable"},
    {25, 1, nullptr, "Dual-Role Data"},
    {24, 1, nullptr, "Unchunked Extended Messages Supported"},
    {23, 1, nullptr, "EPR Mode Capable"},
    {22, 1, nullptr, "Reserved"},
    {20, 2, nullptr, "Peak Current"},
    {10, 10, k50mVValues, "Voltage in 50mV units"},
    {0, 10, k10mAValues, "Maximum Current in 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kFixedSourceRev20Fields[] = {
    {30, 2, kPdoKindNoApdoValues, "Fixed supply"},
    {29, 1, nullptr, "Dual-Role Power"},
    {28, 1, nullptr, "USB Suspend Supported"},
    {27, 1, nullptr, "Unconstrained Powered"},
    {26, 1, nullptr, "USB Communications Capable"},
    {25, 1, nullptr, "Dual-Role Data"},
    {22, 3, nullptr, "Reserved"},
    {20, 2, nullptr, "Peak Current"},
    {10, 10, k50mVValues, "Voltage in 50mV units"},
    {0, 10, k10mAValues, "Maximum Current in 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kFixedSinkRev30Fields[] = {
    {30, 2, kPdoKindValues, "Fixed supply"},
    {29, 1, nullptr, "Dual-Role Power"},
    {28, 1, nullptr, "Higher Capability"},
    {27, 1, nullptr, "Unconstrained Powered"},
    {26, 1, nullptr, "USB Communications Capable"},
    {25, 1, nullptr, "Dual-Role Data"},
    {23, 2, kFrsCurrentValues, "Fast Role Swap required USB Type-C Current"},
    {20, 3, nullptr, "Reserved"},
    {10, 10, k50mVValues, "Voltage in 50mV units"},
    {0, 10, k10mAValues, "Operational Current in 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kFixedSinkRev20Fields[] = {
    {30, 2, kPdoKindNoApdoValues, "Fixed supply"},
    {29, 1, nullptr, "Dual-Role Power"},
    {28, 1, nullptr, "Higher Capability"},
    {27, 1, nullptr, "Unconstrained Powered"},
    {26, 1, nullptr, "USB Communications Capable"},
    {25, 1, nullptr, "Dual-Role Data"},
    {20, 5, nullptr, "Reserved"},
    {10, 10, k50mVValues, "Voltage in 50mV units"},
    {0, 10, k10mAValues, "Operational Current in 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kVariableSourceFields[] = {
    {30, 2, kPdoKindValues, "Variable Supply (non-Battery)"},
    {20, 10, k50mVValues, "Maximum Voltage in 50mV units"},
    {10, 10, k50mVValues, "Minimum Voltage in 50mV units"},
    {0, 10, k10mAValues, "Maximum Current in 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kVariableSinkFields[] = {
    {30, 2, kPdoKindValues, "Variable Supply (non-Battery)"},
    {20, 10, k50mVValues, "Maximum Voltage in 50mV units"},
    {10, 10, k50mVValues, "Minimum Voltage in 50mV units"},
    {0, 10, k10mAValues, "Operational Current in 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kBatterySourceFields[] = {
    {30, 2, kPdoKindValues, "Battery"},
    {20, 10, k50mVValues, "Maximum Voltage in 50mV units"},
    {10, 10, k50mVValues, "Minimum Voltage in 50mV units"},
    {0, 10, k250mWValues, "Maximum Allowable Power in 250mW units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kBatterySinkFields[] = {
    {30, 2, kPdoKindValues, "Battery"},
    {20, 10, k50mVValues, "Maximum Voltage in 50mV units"},
    {10, 10, k50mVValues, "Minimum Voltage in 50mV units"},
    {0, 10, k250mWValues, "Operational Power in 250mW units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSprPpsSourceFields[] = {
    {30, 2, kPdoKindValues, "Augmented Power Data Object (APDO)"},
    {28, 2, kApdoKindValues, "SPR Programmable Power Supply"},
    {27, 1, nullptr, "PPS Power Limited"},
    {25, 2, nullptr, "Reserved"},
    {17, 8, k100mVValues, "Maximum Voltage in 100mV increments"},
    {16, 1, nullptr, "Reserved"},
    {8, 8, k100mVValues, "Minimum Voltage in 100mV increments"},
    {7, 1, nullptr, "Reserved"},
    {0, 7, k50mAValues, "Maximum Current in 50mA increments"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSprPpsSinkFields[] = {
    {30, 2, kPdoKindValues, "Augmented Power Data Object (APDO)"},
    {28, 2, kApdoKindValues, "SPR Programmable Power Supply"},
    {25, 3, nullptr, "Reserved"},
    {17, 8, k100mVValues, "Maximum Voltage in 100mV increments"},
    {16, 1, nullptr, "Reserved"},
    {8, 8, k100mVValues, "Minimum Voltage in 100mV increments"},
    {7, 1, nullptr, "Reserved"},
    {0, 7, k50mAValues, "Maximum Current in 50mA increments"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kEprAvsSourceFields[] = {
    {30, 2, kPdoKindValues, "Augmented Power Data Object (APDO)"},
    {28, 2, kApdoKindValues, "EPR Adjustable Voltage Supply"},
    {26, 2, nullptr, "Peak Current"},
    {17, 9, k100mVValues, "Maximum Voltage in 100mV increments"},
    {16, 1, nullptr, "Reserved"},
    {8, 8, k100mVValues, "Minimum Voltage in 100mV increments"},
    {0, 8, k1WValues, "PDP in 1W increments"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kEprAvsSinkFields[] = {
    {30, 2, kPdoKindValues, "Augmented Power Data Object (APDO)"},
    {28, 2, kApdoKindValues, "EPR Adjustable Voltage Supply"},
    {26, 2, nullptr, "Reserved"},
    {17, 9, k100mVValues, "Maximum Voltage in 100mV increments"},
    {16, 1, nullptr, "Reserved"},
    {8, 8, k100mVValues, "Minimum Voltage in 100mV increments"},
    {0, 8, k1WValues, "PDP in 1W increments"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSprAvsSourceFields[] = {
    {30, 2, kPdoKindValues, "Augmented Power Data Object (APDO)"},
    {28, 2, kApdoKindValues, "SPR Adjustable Voltage Supply"},
    {26, 2, nullptr, "Peak Current"},
    {20, 6, nullptr, "Reserved"},
    {10, 10, k10mAValues,
     "For 9V - 15V range: Maximum Current in 10mA units equal to the Maximum Current field of the 15V Fixed "
     "Source PDO"},
    {0, 10, k10mAValues,
     "For 15V - 20V range: Maximum Current in 10mA units equal to the Maximum Current field of the 20V Fixed "
     "Source PDO, set to 0 if the Maximum voltage in the SPR AVS range is 15V"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kSprAvsSinkFields[] = {
    {30, 2, kPdoKindValues, "Augmented Power Data Object (APDO)"},
    {28, 2, kApdoKindValues, "SPR Adjustable Voltage Supply"},
    {20, 8, nullptr, "Reserved"},
    {10, 10, k10mAValues,
     "For 9V-15V range: Maximum Current in 10mA units equal to the Maximum Current field of the 15V Fixed "
     "Supply PDO"},
    {0, 10, k10mAValues,
     "For 15V-20V range: Maximum Current in 10mA units equal to the Maximum Current field of the 20V Fixed "
     "Supply PDO, set to 0 if the Maximum voltage in the SPR AVS range is 15V"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kUnknownApdoSourceFields[] = {
    {30, 2, kPdoKindValues, "Augmented Power Data Object (APDO)"},
    {28, 2, kApdoKindValues, "Unknown APDO"},
    {0, 28, nullptr, "Reserved"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kUnknownApdoSinkFields[] = {
    {30, 2, kPdoKindValues, "Augmented Power Data Object (APDO)"},
    {28, 2, kApdoKindValues, "Unknown APDO"},
    {0, 28, nullptr, "Reserved"},
    kFieldDescEnd,
};

// RDO lists, bits high to low.

constexpr PDFieldDesc kCurrentRequestRev20GiveBack0Fields[] = {
    {31, 1, nullptr, "Reserved"},
    {28, 3, nullptr, "Object position"},
    {27, 1, nullptr, "GiveBack flag=0"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {20, 4, nullptr, "Reserved"},
    {10, 10, k10mAValues, "Operating current in 10mA units"},
    {0, 10, k10mAValues, "Maximum Operating Current 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCurrentRequestRev20GiveBack1Fields[] = {
    {31, 1, nullptr, "Reserved"},
    {28, 3, nullptr, "Object position"},
    {27, 1, nullptr, "GiveBack flag=1"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {20, 4, nullptr, "Reserved"},
    {10, 10, k10mAValues, "Operating current in 10mA units"},
    {0, 10, k10mAValues, "Minimum Operating Current 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCurrentRequestRev30GiveBack0Fields[] = {
    {28, 4, nullptr, "Object position"},
    {27, 1, nullptr, "GiveBack flag (Deprecated)"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {23, 1, nullptr, "Unchunked Extended Messages Supported"},
    {22, 1, nullptr, "EPR Mode Capable"},
    {20, 2, nullptr, "Reserved"},
    {10, 10, k10mAValues, "Operating current in 10mA units"},
    {0, 10, k10mAValues, "Maximum Operating Current 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kCurrentRequestRev30GiveBack1Fields[] = {
    {28, 4, nullptr, "Object position"},
    {27, 1, nullptr, "GiveBack flag (Deprecated)"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {23, 1, nullptr, "Unchunked Extended Messages Supported"},
    {22, 1, nullptr, "EPR Mode Capable"},
    {20, 2, nullptr, "Reserved"},
    {10, 10, k10mAValues, "Operating current in 10mA units"},
    {0, 10, k10mAValues, "Minimum Operating Current 10mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPowerRequestRev20GiveBack0Fields[] = {
    {31, 1, nullptr, "Reserved"},
    {28, 3, nullptr, "Object position"},
    {27, 1, nullptr, "GiveBack flag=0"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {20, 4, nullptr, "Reserved"},
    {10, 10, k250mWValues, "Operating Power in 250mW units"},
    {0, 10, k250mWValues, "Maximum Operating Power in 250mW units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPowerRequestRev20GiveBack1Fields[] = {
    {31, 1, nullptr, "Reserved"},
    {28, 3, nullptr, "Object position"},
    {27, 1, nullptr, "GiveBack flag=1"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {20, 4, nullptr, "Reserved"},
    {10, 10, k250mWValues, "Operating Power in 250mW units"},
    {0, 10, k250mWValues, "Minimum Operating Power in 250mW units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPowerRequestRev30GiveBack0Fields[] = {
    {28, 4, nullptr, "Object position"},
    {27, 1, nullptr, "GiveBack flag (Deprecated)"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {23, 1, nullptr, "Unchunked Extended Messages Supported"},
    {22, 1, nullptr, "EPR Mode Capable"},
    {20, 2, nullptr, "Reserved"},
    {10, 10, k250mWValues, "Operating Power in 250mW units"},
    {0, 10, k250mWValues, "Maximum Operating Power in 250mW units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kPowerRequestRev30GiveBack1Fields[] = {
    {28, 4, nullptr, "Object position"},
    {27, 1, nullptr, "GiveBack flag (Deprecated)"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {23, 1, nullptr, "Unchunked Extended Messages Supported"},
    {22, 1, nullptr, "EPR Mode Capable"},
    {20, 2, nullptr, "Reserved"},
    {10, 10, k250mWValues, "Operating Power in 250mW units"},
    {0, 10, k250mWValues, "Minimum Operating Power in 250mW units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kProgrammableRequestFields[] = {
    {28, 4, nullptr, "Object position"},
    {27, 1, nullptr, "Reserved"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {23, 1, nullptr, "Unchunked Extended Messages Supported"},
    {22, 1, nullptr, "EPR Mode Capable"},
    {20, 2, nullptr, "Reserved"},
    {9, 11, k20mVValues, "Output Voltage in 20mV units"},
    {7, 2, nullptr, "Reserved"},
    {0, 7, k50mAValues, "Operating Current 50mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kAvsRequestFields[] = {
    {28, 4, nullptr, "Object position"},
    {27, 1, nullptr, "Reserved"},
    {26, 1, nullptr, "Capability Mismatch"},
    {25, 1, nullptr, "USB Communications Capable"},
    {24, 1, nullptr, "No USB Suspend"},
    {23, 1, nullptr, "Unchunked Extended Messages Supported"},
    {22, 1, nullptr, "EPR Mode Capable"},
    {21, 1, nullptr, "Reserved"},
    {9, 12, k25mVValues, "Output Voltage in 25mV units"},
    {7, 2, nullptr, "Reserved"},
    {0, 7, k50mAValues, "Operating Current 50mA units"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kUnknownApdoRequestFields[] = {
    {31, 1, nullptr, "Reserved"},
    {28, 3, nullptr, "Object position"},
    {0, 28, nullptr, "Reserved"},
    kFieldDescEnd,
};

constexpr PDFieldDesc kEprRequestFallbackFields[] = {
    {32, 32, nullptr, "Copy of PDO"},
    {0, 32, nullptr, "RDO"},
    kFieldDescEnd,
};
// clang-format on

namespace {

// Every object list describes each bit of its word exactly once.
template <size_t N> constexpr bool CoversWord(const PDFieldDesc (&list)[N]) {
    uint64_t seen = 0;
    for (size_t i = 0; i + 1 < N; ++i) {
        const PDFieldDesc& f = list[i];
        if (f.bitLength == 0 || f.bitOffset + f.bitLength > 32) return false;
        const uint64_t bits = ((uint64_t(1) << f.bitLength) - 1) << f.bitOffset;
        if (seen & bits) return false;
        seen |= bits;
    }
    return seen == 0xFFFFFFFFu;
}

static_assert(HasEnd(kPdoKindValues) && HasEnd(kPdoKindNoApdoValues) && HasEnd(kApdoKindValues) &&
              HasEnd(kFrsCurrentValues) && HasEnd(k50mVValues) && HasEnd(k100mVValues) &&
              HasEnd(k25mVValues) && HasEnd(k20mVValues) && HasEnd(k10mAValues) && HasEnd(k50mAValues) &&
              HasEnd(k250mWValues) && HasEnd(k1WValues));
static_assert(HasEnd(kFixedSourceRev30Fields) && HasEnd(kFixedSourceRev20Fields) &&
              HasEnd(kFixedSinkRev30Fields) && HasEnd(kFixedSinkRev20Fields) &&
              HasEnd(kVariableSourceFields) && HasEnd(kVariableSinkFields) && HasEnd(kBatterySourceFields) &&
              HasEnd(kBatterySinkFields) && HasEnd(kSprPpsSourceFields) && HasEnd(kSprPpsSinkFields) &&
              HasEnd(kEprAvsSourceFields) && HasEnd(kEprAvsSinkFields) && HasEnd(kSprAvsSourceFields) &&
              HasEnd(kSprAvsSinkFields) && HasEnd(kUnknownApdoSourceFields) &&
              HasEnd(kUnknownApdoSinkFields));
static_assert(HasEnd(kCurrentRequestRev20GiveBack0Fields) && HasEnd(kCurrentRequestRev20GiveBack1Fields) &&
              HasEnd(kCurrentRequestRev30GiveBack0Fields) && HasEnd(kCurrentRequestRev30GiveBack1Fields) &&
              HasEnd(kPowerRequestRev20GiveBack0Fields) && HasEnd(kPowerRequestRev20GiveBack1Fields) &&
              HasEnd(kPowerRequestRev30GiveBack0Fields) && HasEnd(kPowerRequestRev30GiveBack1Fields) &&
              HasEnd(kProgrammableRequestFields) && HasEnd(kAvsRequestFields) &&
              HasEnd(kUnknownApdoRequestFields) && HasEnd(kEprRequestFallbackFields));
static_assert(CoversWord(kFixedSourceRev30Fields) && CoversWord(kFixedSourceRev20Fields) &&
              CoversWord(kFixedSinkRev30Fields) && CoversWord(kFixedSinkRev20Fields) &&
              CoversWord(kVariableSourceFields) && CoversWord(kVariableSinkFields) &&
              CoversWord(kBatterySourceFields) && CoversWord(kBatterySinkFields) &&
              CoversWord(kSprPpsSourceFields) && CoversWord(kSprPpsSinkFields) &&
              CoversWord(kEprAvsSourceFields) && CoversWord(kEprAvsSinkFields) &&
              CoversWord(kSprAvsSourceFields) && CoversWord(kSprAvsSinkFields) &&
              CoversWord(kUnknownApdoSourceFields) && CoversWord(kUnknownApdoSinkFields));
static_assert(CoversWord(kCurrentRequestRev20GiveBack0Fields) &&
              CoversWord(kCurrentRequestRev20GiveBack1Fields) &&
              CoversWord(kCurrentRequestRev30GiveBack0Fields) &&
              CoversWord(kCurrentRequestRev30GiveBack1Fields) &&
              CoversWord(kPowerRequestRev20GiveBack0Fields) &&
              CoversWord(kPowerRequestRev20GiveBack1Fields) &&
              CoversWord(kPowerRequestRev30GiveBack0Fields) &&
              CoversWord(kPowerRequestRev30GiveBack1Fields) && CoversWord(kProgrammableRequestFields) &&
              CoversWord(kAvsRequestFields) && CoversWord(kUnknownApdoRequestFields));

// Object kinds (bits 31..30) and APDO sub-kinds (bits 29..28).
enum class PdoKind { Fixed, Battery, Variable, SprPps, EprAvs, SprAvs, UnknownApdo };

uint32_t Bits(uint32_t word, int low, int width) {
    return (word >> low) & ((uint32_t(1) << width) - 1);
}

bool Bit(uint32_t word, int bit) {
    return (word >> bit) & 1;
}

int Scaled(uint32_t word, int low, int width, int multiplier) {
    return int(Bits(word, low, width)) * multiplier;
}

PdoKind KindOf(uint32_t pdo) {
    switch (Bits(pdo, 30, 2)) {
    case 0:
        return PdoKind::Fixed;
    case 1:
        return PdoKind::Battery;
    case 2:
        return PdoKind::Variable;
    default:
        break;
    }
    switch (Bits(pdo, 28, 2)) {
    case 0:
        return PdoKind::SprPps;
    case 1:
        return PdoKind::EprAvs;
    case 2:
        return PdoKind::SprAvs;
    default:
        return PdoKind::UnknownApdo;
    }
}

void AppendIf(std::string& text, uint32_t word, int bit, const char* flag) {
    if (Bit(word, bit)) text += flag;
}

void AppendFrSwap(std::string& text, uint32_t pdo) {
    static constexpr const char* kTexts[] = {"", "(FRSwap Default USB)", "(FRSwap 1.5A@5V)",
                                             "(FRSwap 3.0A@5V)"};
    text += kTexts[Bits(pdo, 23, 2)];
}

// The APDO texts, shared by the SPR and EPR capabilities; a sink leaves out the source-only parts.
void AppendApdo(std::string& text, uint32_t pdo, bool sink) {
    text += "<APDO:";
    switch (KindOf(pdo)) {
    case PdoKind::SprPps:
        text += "SPR PPS>";
        Appendf(text, "%d-%d[mV]/%d[mA]", Scaled(pdo, 8, 8, 100), Scaled(pdo, 17, 8, 100),
                Scaled(pdo, 0, 7, 50));
        if (!sink) AppendIf(text, pdo, 27, "(PPSPowerLimited)");
        break;
    case PdoKind::EprAvs:
        text += "EPR AVS>";
        Appendf(text, "%d-%d[mV]", Scaled(pdo, 8, 8, 100), Scaled(pdo, 17, 9, 100));
        Appendf(text, "(PDP=%d[W])", Scaled(pdo, 0, 8, 1));
        if (!sink) Appendf(text, "(Peak Current=%d)", Scaled(pdo, 26, 2, 1));
        break;
    case PdoKind::SprAvs:
        text += "SPR AVS>";
        Appendf(text, "(9-15[V]:%d[mA])", Scaled(pdo, 10, 10, 10));
        Appendf(text, "(15-20[V]:%d[mA])", Scaled(pdo, 0, 10, 10));
        if (!sink) Appendf(text, "(Peak Current=%d)", Scaled(pdo, 26, 2, 1));
        break;
    default:
        text += "Unknown>";
        break;
    }
}

void AppendPdo(std::string& text, uint32_t pdo, bool sink) {
    switch (KindOf(pdo)) {
    case PdoKind::Fixed:
        text += "<Fixed>";
        Appendf(text, " %d[mV]/%d[mA] ", Scaled(pdo, 10, 10, 50), Scaled(pdo, 0, 10, 10));
        if (sink) {
            AppendIf(text, pdo, 29, "(Dual-Role Power)");
            AppendIf(text, pdo, 27, "(Unconstrained)");
            AppendIf(text, pdo, 28, "(Higher Capability)");
            AppendIf(text, pdo, 26, "(USB Communications)");
            AppendIf(text, pdo, 25, "(Data-Role Data)");
            AppendFrSwap(text, pdo);
        } else {
            AppendIf(text, pdo, 29, "(Dual-Role Power)");
            AppendIf(text, pdo, 28, "(USB Suspend)");
            AppendIf(text, pdo, 27, "(Unconstrained)");
            AppendIf(text, pdo, 26, "(USB Communications)");
            AppendIf(text, pdo, 25, "(Data-Role Data)");
            AppendIf(text, pdo, 24, "(Unchunked)");
            AppendIf(text, pdo, 23, "(EPR)");
            Appendf(text, "(Peak Current=%d)", Scaled(pdo, 20, 2, 1));
        }
        break;
    case PdoKind::Battery:
        text += "<Battery>";
        Appendf(text, " %d-%d[mV] ", Scaled(pdo, 10, 10, 50), Scaled(pdo, 20, 10, 50));
        Appendf(text, "(MaxPower=%d[mW])", Scaled(pdo, 0, 10, 250));
        break;
    case PdoKind::Variable:
        text += "<None-Battery>";
        Appendf(text, " %d-%d[mV]/%d[mA] ", Scaled(pdo, 10, 10, 50), Scaled(pdo, 20, 10, 50),
                Scaled(pdo, 0, 10, 10));
        break;
    default:
        AppendApdo(text, pdo, sink);
        break;
    }
}

// The EPR capabilities spell the non-APDO objects more tightly.
void AppendEprPdo(std::string& text, uint32_t pdo, bool sink) {
    switch (KindOf(pdo)) {
    case PdoKind::Fixed: {
        // Single precision, as the values were always shown.
        const float volts = float(Scaled(pdo, 10, 10, 50)) / 1000.0f;
        const float amps = float(Scaled(pdo, 0, 10, 10)) / 1000.0f;
        text += "<Fix>";
        Appendf(text, "%.2fV/%.2fA", double(volts), double(amps));
        if (sink) {
            AppendIf(text, pdo, 29, "(DRP)");
            AppendIf(text, pdo, 27, "(Unconstrained)");
            AppendIf(text, pdo, 28, "(HiCap)");
            AppendIf(text, pdo, 26, "(USB Comm)");
            AppendIf(text, pdo, 25, "(DRD)");
            AppendFrSwap(text, pdo);
        } else {
            AppendIf(text, pdo, 29, "(DRP)");
            AppendIf(text, pdo, 28, "(USB Suspend)");
            AppendIf(text, pdo, 27, "(Unconstrained)");
            AppendIf(text, pdo, 26, "(USB Comm)");
            AppendIf(text, pdo, 25, "(DRD)");
            AppendIf(text, pdo, 24, "(Unchunked)");
            AppendIf(text, pdo, 23, "(EPR)");
        }
        break;
    }
    case PdoKind::Battery:
        text += "<Battery>";
        Appendf(text, "%d-%d[mV]", Scaled(pdo, 10, 10, 50), Scaled(pdo, 20, 10, 50));
        Appendf(text, "(MaxPower=%d[mW])", Scaled(pdo, 0, 10, 250));
        break;
    case PdoKind::Variable:
        text += "<None-Battery>";
        Appendf(text, "%d-%d[mV]/%d[mA]", Scaled(pdo, 10, 10, 50), Scaled(pdo, 20, 10, 50),
                Scaled(pdo, 0, 10, 10));
        break;
    default:
        AppendApdo(text, pdo, sink);
        break;
    }
}

const char* PdoName(PdoKind kind) {
    switch (kind) {
    case PdoKind::Fixed:
        return "Fixed";
    case PdoKind::Variable:
        return "Variable";
    case PdoKind::Battery:
        return "Battery";
    case PdoKind::SprPps:
        return "APDO:SPR PPS";
    case PdoKind::EprAvs:
        return "APDO:EPR AVS";
    case PdoKind::SprAvs:
        return "APDO:SPR AVS";
    default:
        return "APDO:Unknown";
    }
}

// The PDO a request selects. A Request looks it up in the Source_Capabilities the store linked to it; an
// EPR_Request carries a copy as its second object.
bool ReferencedPdo(const CCCPacket& p, bool epr, uint32_t& pdo) {
    if (epr) {
        if (p.DataObjectCount() < 2) return false;
        pdo = p.DataObject(2);
        return true;
    }
    const CCCPacket* caps = p.sourceCapsRef;
    if (!caps) return false;
    const int position = int(Bits(p.DataObject(1), 28, 4));
    if (position < 1 || position > caps->DataObjectCount()) return false;
    pdo = caps->DataObject(position);
    return true;
}

const PDFieldDesc* PdoFields(uint32_t pdo, bool sink, bool rev30) {
    switch (KindOf(pdo)) {
    case PdoKind::Fixed:
        if (sink) return rev30 ? kFixedSinkRev30Fields : kFixedSinkRev20Fields;
        return rev30 ? kFixedSourceRev30Fields : kFixedSourceRev20Fields;
    case PdoKind::Battery:
        return sink ? kBatterySinkFields : kBatterySourceFields;
    case PdoKind::Variable:
        return sink ? kVariableSinkFields : kVariableSourceFields;
    case PdoKind::SprPps:
        return sink ? kSprPpsSinkFields : kSprPpsSourceFields;
    case PdoKind::EprAvs:
        return sink ? kEprAvsSinkFields : kEprAvsSourceFields;
    case PdoKind::SprAvs:
        return sink ? kSprAvsSinkFields : kSprAvsSourceFields;
    default:
        return sink ? kUnknownApdoSinkFields : kUnknownApdoSourceFields;
    }
}

const PDFieldDesc* RdoFields(uint32_t rdo, uint32_t pdo, bool rev30) {
    const bool giveBack = Bit(rdo, 27);
    switch (KindOf(pdo)) {
    case PdoKind::Fixed:
    case PdoKind::Variable:
        if (rev30)
            return giveBack ? kCurrentRequestRev30GiveBack1Fields : kCurrentRequestRev30GiveBack0Fields;
        return giveBack ? kCurrentRequestRev20GiveBack1Fields : kCurrentRequestRev20GiveBack0Fields;
    case PdoKind::Battery:
        if (rev30) return giveBack ? kPowerRequestRev30GiveBack1Fields : kPowerRequestRev30GiveBack0Fields;
        return giveBack ? kPowerRequestRev20GiveBack1Fields : kPowerRequestRev20GiveBack0Fields;
    case PdoKind::SprPps:
        return kProgrammableRequestFields;
    case PdoKind::EprAvs:
    case PdoKind::SprAvs:
        return kAvsRequestFields;
    default:
        return kUnknownApdoRequestFields;
    }
}

} // namespace

std::string DescribeCapabilities(const CCCPacket& p, bool sink) {
    std::string text;
    const int count = p.DataObjectCount();
    for (int n = 1; n <= count; ++n) {
        Appendf(text, "[%d]", n);
        AppendPdo(text, p.DataObject(n), sink);
        text += ' ';
    }
    return text;
}

std::string DescribeEprCapabilities(const CCCPacket& p, bool sink) {
    std::string text;
    // Later chunks share the buffer; the first one alone carries the text, which grows as they arrive.
    if (p.extChunkOffset != 0 || !p.extData || p.extDataSize == 0) return text;
    const int32_t count = p.extDataSize / 4;
    const int32_t readable = p.ExtDataReadable();
    for (int32_t n = 1; n <= count && 4 * n <= readable; ++n) {
        const uint8_t* b = p.extData + 4 * (n - 1);
        const uint32_t pdo =
            uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        if (pdo == 0) continue; // an empty slot keeps its number
        Appendf(text, "[%d]", int(n));
        AppendEprPdo(text, pdo, sink);
        text += ' ';
    }
    return text;
}

std::string DescribeRequest(const CCCPacket& p, bool epr) {
    if (p.DataObjectCount() != (epr ? 2 : 1)) return "Invalid Data Objects Count.";
    const uint32_t rdo = p.DataObject(1);
    std::string text;
    Appendf(text, "Position=%d", int(Bits(rdo, 28, 4)));
    uint32_t pdo = 0;
    if (!ReferencedPdo(p, epr, pdo)) return text;

    const PdoKind kind = KindOf(pdo);
    text += '<';
    text += PdoName(kind);
    text += "> ";
    const bool giveBack = Bit(rdo, 27);
    switch (kind) {
    case PdoKind::Fixed:
    case PdoKind::Variable:
        Appendf(text, "(Operating Current=%d[mA])", Scaled(rdo, 10, 10, 10));
        Appendf(text, giveBack ? "(Min Operating Current=%d[mA])" : "(Max Operating Current=%d[mA])",
                Scaled(rdo, 0, 10, 10));
        if (giveBack) text += "(GiveBack)";
        break;
    case PdoKind::Battery:
        Appendf(text, "(Operating Power=%d[mW])", Scaled(rdo, 10, 10, 250));
        Appendf(text, giveBack ? "(Min Operating Power=%d[mW])" : "(Max Operating Power=%d[mW])",
                Scaled(rdo, 0, 10, 250));
        if (giveBack) text += "(GiveBack)";
        break;
    case PdoKind::SprPps:
        Appendf(text, "(Operating Current=%d[mA])", Scaled(rdo, 0, 7, 50));
        Appendf(text, "(Output Voltage=%d[mV])", Scaled(rdo, 9, 11, 20));
        break;
    case PdoKind::EprAvs:
    case PdoKind::SprAvs:
        Appendf(text, "(Operating Current=%d[mA])", Scaled(rdo, 0, 7, 50));
        Appendf(text, "(Output Voltage=%d[mV])", Scaled(rdo, 9, 12, 25));
        break;
    default:
        break;
    }
    AppendIf(text, rdo, 26, "(Capability Mismatch)");
    AppendIf(text, rdo, 25, "(USB Commincations Capable)");
    AppendIf(text, rdo, 24, "(No USB Suspend)");
    AppendIf(text, rdo, 23, "(Unchunked)");
    AppendIf(text, rdo, 22, "(EPR)");
    return text;
}

void AddCapabilitiesSegments(CSegmentList& out, const CFieldView& view, int32_t firstBit, int count,
                             bool sink, bool rev30) {
    for (int i = 0; i < count; ++i) {
        const int32_t bit = firstBit + 32 * i;
        // An object that was not (wholly) received keeps its place but gets no list.
        const PDFieldDesc* list = view.Contains(bit, 32) ? PdoFields(view.Word(bit), sink, rev30) : nullptr;
        out.Add(bit, list);
    }
}

void AddRequestSegments(CSegmentList& out, const CCCPacket& p, bool epr) {
    uint32_t pdo = 0;
    const bool known = ReferencedPdo(p, epr, pdo);
    if (epr) {
        if (!known) {
            out.Add(16, kEprRequestFallbackFields);
            return;
        }
        out.Add(16, RdoFields(p.DataObject(1), pdo, true));
        out.Add(48, PdoFields(pdo, false, true));
        return;
    }
    // Without the selected PDO the header's plain "Data Object #1" row shows the object.
    if (known) out.Add(16, RdoFields(p.DataObject(1), pdo, p.HasRev30Layout()));
}
