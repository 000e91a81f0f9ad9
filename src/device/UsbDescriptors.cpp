#include "UsbDescriptors.h"

#include <algorithm>
#include <cstring>

namespace usbdesc {

namespace {

uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

std::u16string Utf16Le(const uint8_t* p, size_t bytes) {
    std::u16string s;
    s.reserve(bytes / 2);
    for (size_t i = 0; i + 1 < bytes; i += 2) s.push_back(char16_t(Le16(p + i)));
    return s;
}

bool EqualsIgnoreCase(std::u16string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i];
        char y = b[i];
        if (x >= u'a' && x <= u'z') x = char16_t(x - u'a' + u'A');
        if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
        if (x != char16_t(uint8_t(y))) return false;
    }
    return true;
}

// A REG_SZ or REG_MULTI_SZ value: the texts between terminators, empty ones dropped.
std::vector<std::string> SplitMultiString(std::u16string_view value) {
    std::vector<std::string> texts;
    size_t start = 0;
    while (start < value.size()) {
        size_t end = value.find(u'\0', start);
        if (end == std::u16string_view::npos) end = value.size();
        if (end > start) texts.push_back(Utf16ToUtf8(value.substr(start, end - start)));
        start = end + 1;
    }
    return texts;
}

std::string_view TrimGuid(std::string_view s) {
    while (!s.empty() && (s.front() == '{' || s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == '}' || s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

} // namespace

std::u16string StringDescriptorText(const uint8_t* data, size_t size) {
    if (size < 2) return {};
    const size_t length = std::min<size_t>(data[0], size);
    if (length < 2) return {};
    return Utf16Le(data + 2, ((length - 2) / 2) * 2);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::optional<MsOs20SetInfo> FindMsOs20Capability(const uint8_t* bos, size_t size) {
    if (size < 5 || bos[1] != kTypeBos || bos[0] < 5) return std::nullopt;
    const size_t total = std::min<size_t>(Le16(bos + 2), size);
    std::optional<MsOs20SetInfo> best;
    size_t pos = bos[0];
    while (pos + 3 <= total) {
        const uint8_t* cap = bos + pos;
        const size_t length = cap[0];
        if (length < 3 || pos + length > total) break;
        if (cap[1] == kTypeDeviceCapability && cap[2] == kCapabilityPlatform && length >= 20 &&
            std::memcmp(cap + 4, kMsOs20PlatformUuid, 16) == 0) {
            for (size_t off = 20; off + 8 <= length; off += 8) {
                MsOs20SetInfo info;
                info.windowsVersion = Le32(cap + off);
                info.totalLength = Le16(cap + off + 4);
                info.vendorCode = cap[off + 6];
                info.altEnumCode = cap[off + 7];
                if (!best || info.windowsVersion > best->windowsVersion) best = info;
            }
        }
        pos += length;
    }
    return best;
}

std::vector<MsOs20Function> ParseMsOs20DescriptorSet(const uint8_t* set, size_t size) {
    std::vector<MsOs20Function> functions;
    if (size < 10 || Le16(set) != 10 || Le16(set + 2) != kMsOs20SetHeader) return functions;
    const size_t total = std::min<size_t>(Le16(set + 8), size);

    int function = -1;      // first interface of the function subset we are in
    size_t functionEnd = 0; // where that subset ends
    size_t pos = 10;
    while (pos + 4 <= total) {
        const uint8_t* d = set + pos;
        const size_t length = Le16(d);
        const uint16_t type = Le16(d + 2);
        if (length < 4 || pos + length > total) break;
        if (function >= 0 && pos >= functionEnd) function = -1;

        if (type == kMsOs20SubsetConfiguration) {
            function = -1;
        } else if (type == kMsOs20SubsetFunction && length >= 8) {
            function = d[4];
            functionEnd = pos + Le16(d + 6);
        } else if (type == kMsOs20FeatureRegistryProperty && length >= 8) {
            // wPropertyDataType, wPropertyNameLength, name, wPropertyDataLength, data
            const size_t nameLength = Le16(d + 6);
            if (8 + nameLength + 2 <= length) {
                std::u16string name = Utf16Le(d + 8, nameLength);
                while (!name.empty() && name.back() == u'\0') name.pop_back();
                const uint8_t* dataField = d + 8 + nameLength;
                const size_t dataLength = std::min<size_t>(Le16(dataField), length - (8 + nameLength + 2));
                if (EqualsIgnoreCase(name, "DeviceInterfaceGUIDs") ||
                    EqualsIgnoreCase(name, "DeviceInterfaceGUID")) {
                    std::vector<std::string> guids = SplitMultiString(Utf16Le(dataField + 2, dataLength));
                    if (!guids.empty()) {
                        auto it =
                            std::find_if(functions.begin(), functions.end(), [&](const MsOs20Function& f) {
                                return f.firstInterface == function;
                            });
                        if (it == functions.end()) {
                            functions.push_back({function, {}});
                            it = functions.end() - 1;
                        }
                        for (auto& g : guids) it->interfaceGuids.push_back(std::move(g));
                    }
                }
            }
        }
        pos += length;
    }
    return functions;
}

bool SameGuid(std::string_view a, std::string_view b) {
    a = TrimGuid(a);
    b = TrimGuid(b);
    if (a.empty() || a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

std::optional<int> FindInterfaceForGuid(const std::vector<MsOs20Function>& functions, std::string_view guid) {
    for (const MsOs20Function& f : functions)
        for (const std::string& g : f.interfaceGuids)
            if (SameGuid(g, guid)) return f.firstInterface < 0 ? 0 : f.firstInterface;
    return std::nullopt;
}

} // namespace usbdesc
