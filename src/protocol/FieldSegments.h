// Placing field lists on the bits of a packet: the segment table of the field table, and the view of
// bits (a message's own bytes or an extended message's data block) that list choices read.
#pragma once

#include "CCPacket.h"
#include "PDField.h"

#include <cstdint>

// The bits of one view. Bit i is bit (i mod 8) of byte i / 8. Reads never go past the data: bits
// beyond it, and every bit of a view without data, read as ones.
class CFieldView {
public:
    CFieldView() = default;
    CFieldView(const uint8_t* data, int32_t sizeBytes) : data_(data), size_(data ? sizeBytes : 0) {}

    bool HasData() const { return data_ != nullptr; }
    int32_t SizeBytes() const { return size_; }
    int32_t SizeBits() const { return size_ * 8; }
    // Whether the `width` bits at `bit` all lie within the data.
    bool Contains(int32_t bit, int32_t width) const {
        return data_ && bit >= 0 && width >= 0 && int64_t(bit) + width <= int64_t(size_) * 8;
    }
    // The value of `width` bits (1..32) starting at view bit `bit`, bit 0 of the value being view bit
    // `bit`: a whole number of aligned bytes reads little-endian.
    uint32_t Value(int32_t bit, int32_t width) const {
        uint32_t v = 0;
        for (int32_t k = 0; k < width; ++k) {
            const int64_t b = int64_t(bit) + k;
            const bool one = !Contains(int32_t(b), 1) || ((data_[b / 8] >> (b % 8)) & 1);
            if (one) v |= uint32_t(1) << k;
        }
        return v;
    }
    uint32_t Word(int32_t bit) const { return Value(bit, 32); }

private:
    const uint8_t* data_ = nullptr;
    int32_t size_ = 0;
};

// The used entries of a segment table, in order; entries past the capacity (less the end entry) are
// dropped.
class CSegmentList {
public:
    explicit CSegmentList(PDFieldSegment* table) : table_(table) {}
    void Add(int32_t base, const PDFieldDesc* list) {
        if (count_ >= kFieldSegmentCapacity - 1) return;
        PDFieldSegment& s = table_[count_++];
        s.base = base;
        s.list = list;
        s.total = 0;
        if (list)
            for (const PDFieldDesc* f = list; f->bitLength != 0; ++f) s.total += int32_t(f->bitLength);
    }
    // Drops the entries from `first` on that lie beyond the data: those that begin at or past `endBit`,
    // and those without a list for an object the data does not wholly hold.
    void DropBeyond(int first, int32_t endBit) {
        int kept = first;
        for (int i = first; i < count_; ++i) {
            const PDFieldSegment& s = table_[i];
            if (s.base < endBit && (s.list || int64_t(s.base) + 32 <= endBit)) table_[kept++] = s;
        }
        count_ = kept;
    }
    // Writes the end entry after the used ones.
    void Finish() { table_[count_] = PDFieldSegment{}; }
    int Count() const { return count_; }

private:
    PDFieldSegment* table_;
    int count_ = 0;
};
