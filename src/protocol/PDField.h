// Static description records for the bit fields of PD messages, and the rule that turns a field value into
// its description text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One rule for describing a field value. It applies when (v & mask) == value; an applying rule contributes
// format, printed with the single int argument v * multiplier. A table ends with the rule kValueTextEnd.
struct PDValueText {
    uint32_t mask;
    int32_t value;
    const char* format;
    int32_t multiplier;
};

// One bit field. bitOffset counts from the start of the segment the list describes, bit 0 being the least
// significant bit of its first byte. A list ends with kFieldDescEnd (the first entry of bit length 0).
struct PDFieldDesc {
    uint32_t bitOffset;
    uint32_t bitLength;
    const PDValueText* values; // null: the value has no description
    const char* name;
};

inline constexpr PDValueText kValueTextEnd = {0, -1, "", 0};
inline constexpr PDFieldDesc kFieldDescEnd = {0, 0, nullptr, nullptr};

constexpr bool IsValueTextEnd(const PDValueText& rule) {
    return rule.mask == 0 && rule.value == -1;
}

// The contributions of all rules of the field's table that apply to v, in table order, joined with ", ".
// Empty when the field has no table or no rule applies.
std::string DescribeFieldValue(const PDFieldDesc& field, uint32_t v);

// Readers walk tables and lists up to their end entries, so every one must end with it; checked at
// compile time next to the tables.
template <size_t N> constexpr bool HasEnd(const PDValueText (&table)[N]) {
    return IsValueTextEnd(table[N - 1]);
}
template <size_t N> constexpr bool HasEnd(const PDFieldDesc (&list)[N]) {
    const PDFieldDesc& last = list[N - 1];
    return last.bitOffset == 0 && last.bitLength == 0 && !last.values && !last.name;
}

// printf-style texts, so that they match their formats byte for byte.
std::string Sprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Appendf(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
