// Why a packet is painted as invalid, in words. The conditions are the list's own (IsInvalidPacket in the
// find criteria), taken one by one so that every red row gets at least one reason and no other row gets
// any; the analysis tests hold the two together over every packet of the built-in scenarios and the
// shared captures.
#include "Analyzer.h"

#include "CCPacket.h"
#include "PdConstants.h"
#include "SymbolDecoder.h"

#include <cstdio>

namespace analysis {

namespace {

bool IsResetKind(int32_t kind) {
    return kind == kKindHardReset || kind == kKindCableReset;
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, format, a, b, c);
    return buf;
}

// Why the bytes of a message kind did not come out with a good CRC (the symbol decoder's order of checks).
std::string CrcReason(const CCCPacket& p) {
    if (p.hasCrc) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "CRC expected %08X, received %08X",
                      unsigned(sym::Crc32(p.messageBytes, size_t(p.messageByteCount))), unsigned(p.receivedCrc));
        return buf;
    }
    if (p.kind == kKindNotDecoded) return Format("unknown ordered set: %.0f symbols after the preamble", p.symbolCount);
    if (p.kind == kKindUnknown) return "unknown ordered set";
    if (!p.eopFound) return "";  // said by the EOP reason
    if (p.symbolCount < 11) return Format("truncated: %.0f symbols up to the EOP", p.symbolCount);
    return "truncated: the data before the EOP is not whole bytes of valid symbols";
}

} // namespace

std::vector<std::string> InvalidPacketReasons(const CCCPacket& p) {
    std::vector<std::string> reasons;
    if (p.intervalCount == 0) return reasons;
    if (!p.preambleFound) {
        reasons.push_back("no preamble, or one too short");
        return reasons;
    }
    if (!IsResetKind(p.kind)) {
        if (!p.crcGood) {
            const std::string r = CrcReason(p);
            if (!r.empty()) reasons.push_back(r);
        }
        if (!p.eopFound) reasons.push_back(IsMessageKind(p.kind) ? "no EOP (truncated)" : "no EOP");
    }
    // The unit interval is measured over the preamble; a message the tolerant reading took without two
    // bits of one has none to show.
    if (p.preambleLength < 2)
        reasons.push_back("unit interval not measured: no preamble to measure it on");
    else if (p.unitInterval < float(kMinUnitIntervalUs) || p.unitInterval > float(kMaxUnitIntervalUs))
        reasons.push_back(Format("unit interval %.2f us outside %.2f..%.2f us", p.unitInterval, kMinUnitIntervalUs,
                                 kMaxUnitIntervalUs));
    return reasons;
}

} // namespace analysis
