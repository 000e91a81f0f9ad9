#include "PDField.h"

#include <cstdarg>
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

namespace {
void AppendV(std::string& text, const char* format, va_list args) {
    char buf[256];
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    if (n > 0 && size_t(n) < sizeof buf) {
        text.append(buf, size_t(n));
    } else if (n > 0) {
        const size_t at = text.size();
        text.resize(at + size_t(n) + 1);
        std::vsnprintf(text.data() + at, size_t(n) + 1, format, again);
        text.resize(at + size_t(n));
    }
    va_end(again);
}
} // namespace

std::string Sprintf(const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    AppendV(text, format, args);
    va_end(args);
    return text;
}

void Appendf(std::string& text, const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendV(text, format, args);
    va_end(args);
}
