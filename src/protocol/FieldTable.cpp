#include "FieldTable.h"

#include "CCPacket.h"
#include "FieldSegments.h"
#include "MessageHeader.h"
#include "MessageTypes.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

const char* ValueFormat(int w, bool longField) {
    if (w <= 4) return "%Xh (%d)";
    if (w <= 8) return "%02Xh (%d)";
    if (w <= 12) return "%03Xh (%d)";
    if (w <= 16) return "%04Xh (%d)";
    if (w <= 20) return "%05Xh (%d)";
    if (w <= 24) return "%06Xh (%d)";
    if (w <= 28) return "%07Xh (%d)";
    return longField ? "%08Xh" : "%08Xh (%d)";
}

} // namespace

CFieldView FieldViewOf(const CCCPacket& p, bool blockView) {
    if (blockView) return p.extData ? CFieldView(p.extData, p.ExtDataReadable()) : CFieldView();
    return CFieldView(p.messageBytes, std::clamp(p.messageByteCount, 0, kMessageBytesCapacity));
}

void CCCPacket::BuildFieldSegments(bool blockView) const {
    if (!fieldSegments) fieldSegments.reset(new PDFieldSegment[kFieldSegmentCapacity]);
    CSegmentList out(fieldSegments.get());
    const CFieldView view = FieldViewOf(*this, blockView);
    if (blockView) {
        if (IsExtendedMessage()) AddMessageSegments(out, *this, view, 0);
    } else {
        out.Add(0, MessageHeaderFields(*this)); // a placeholder without a list for the other kinds
        if (IsExtendedMessage()) out.Add(16, kExtendedMessageHeaderFields);
        const int firstData = out.Count();
        if (IsExtendedMessage()) {
            // A packet with a data block of its own shows the data there instead. A later chunk's bytes
            // begin in the middle of the message's data, so its fields cannot be read from them.
            const bool laterChunk = ChunkedBit() && !RequestChunkBit() && ChunkNumberField() > 0;
            if (!(extData && extChunkLength != 0) && !laterChunk) AddMessageSegments(out, *this, view, 32);
        } else if (IsDataMessage()) {
            AddMessageSegments(out, *this, view, 16);
        }
        // Objects that never came have no fields; the header's own row for them says they are missing.
        out.DropBeyond(firstData, view.SizeBits());
    }
    out.Finish();
}

std::vector<PDFieldRow> BuildFieldRows(const CCCPacket& p, bool blockView, int32_t start, int32_t length) {
    std::vector<PDFieldRow> rows;
    p.BuildFieldSegments(blockView);
    if (length <= 0) return rows;
    const CFieldView view = FieldViewOf(p, blockView);
    const PDFieldSegment* table = p.fieldSegments.get();

    int64_t c = 0;
    while (c < length) {
        const int64_t h = int64_t(start) + c;
        int64_t pos = start;
        const PDFieldDesc* found = nullptr;
        for (;;) {
            const PDFieldSegment* current = nullptr;
            int64_t next = INT64_MAX; // smallest base after pos
            for (int i = 0; i < kFieldSegmentCapacity && table[i].base != -1; ++i) {
                const PDFieldSegment& s = table[i];
                if (s.base == pos || (s.base < pos && pos < int64_t(s.base) + s.total)) current = &s;
                if (s.base > pos && s.base < next) next = s.base;
            }
            if (!current || !current->list) break;
            for (const PDFieldDesc* f = current->list; f->bitLength != 0; ++f)
                if (int64_t(f->bitOffset) == h - current->base) {
                    found = f;
                    break;
                }
            if (found) break;
            if (next != INT64_MAX && next <= h) {
                pos = next;
                continue;
            }
            break;
        }
        if (!found) {
            ++c;
            continue;
        }
        const int64_t r = std::min<int64_t>(found->bitLength, length - c);
        const int64_t o = h - start;
        PDFieldDesc described = *found;
        described.values = FieldValueTable(p, *found);
        for (int64_t k = 0; k < r; k += 128) {
            const int32_t n = int32_t(std::min<int64_t>(r - k, 128));
            const int32_t at = int32_t(h + k);
            PDFieldRow row;
            row[0] = r == 1 ? Sprintf("%d", int(o)) : Sprintf("%d..%d", int(o + k), int(o + k + n - 1));
            row[1] = Sprintf("%d", n);
            row[2] = found->name;
            if (r > 32) row[2] += Sprintf("[%d..%d]", int(k / 8), int((k + n) / 8 - 1));
            // The packet ended before these bits: no value to read, not ones.
            if (!blockView && !view.Contains(at, n)) {
                row[3] = kNotReceivedText;
                rows.push_back(std::move(row));
                continue;
            }
            for (int32_t j = 0; j < n; j += 32) {
                const int w = std::min(n - j, 32);
                const uint32_t v = view.Value(at + j, w);
                if (j) row[3] += " - ";
                row[3] += Sprintf(ValueFormat(w, r > 32), v, int32_t(v));
            }
            if (described.values) row[4] = DescribeFieldValue(described, view.Value(at, std::min(n, 32)));
            for (int32_t j = 0; j < n; j += 8) {
                const uint32_t b = view.Value(at + j, std::min(n - j, 8));
                row[5] += Sprintf("%02X ", b);
                row[6] += (b >= 0x20 && b <= 0x7E) ? char(b) : '.';
            }
            rows.push_back(std::move(row));
        }
        c += r;
    }
    return rows;
}
