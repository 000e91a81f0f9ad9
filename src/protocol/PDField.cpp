#include "PDField.h"

#include <cstdio>

namespace {

// Formats one rule's text. The format comes from the static tables and takes exactly one int.
std::string FormatRule(const char* format, int32_t argument) {
    const int length = std::snprintf(nullptr, 0, format, argument);
    if (length <= 0) return {};
    std::string text(size_t(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, argument);
    return text;
}

} // namespace

std::string DescribeFieldValue(const PDFieldDesc& field, uint32_t v) {
    std::string description;
    if (!field.values) return description;
    bool first = true;
    for (const PDValueText* rule = field.values; !IsValueTextEnd(*rule); ++rule) {
        if ((v & rule->mask) != uint32_t(rule->value)) continue;
        if (!first) description += ", ";
        first = false;
        // The product wraps to 32 bits and prints as a signed number.
        description += FormatRule(rule->format, int32_t(v * uint32_t(rule->multiplier)));
    }
    return description;
}
