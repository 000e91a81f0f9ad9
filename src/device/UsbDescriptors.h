// Parsing of the USB descriptors the analyzer link reads: string descriptors, the BOS descriptor's
// Microsoft OS 2.0 platform capability and the Microsoft OS 2.0 descriptor set that names the device
// interface GUIDs. Plain byte arrays in, values out, so that recorded descriptor bytes can be checked
// without hardware. Malformed input never reads past the given size; it yields "nothing found".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace usbdesc {

inline constexpr uint8_t kTypeBos = 0x0F;
inline constexpr uint8_t kTypeDeviceCapability = 0x10;
inline constexpr uint8_t kCapabilityPlatform = 0x05;

// The platform capability UUID {D8DD60DF-4589-4CC7-9CD2-659D9E648A9F} as it stands in the descriptor
// (first three fields little-endian).
inline constexpr uint8_t kMsOs20PlatformUuid[16] = {0xDF, 0x60, 0xDD, 0xD8, 0x89, 0x45, 0xC7, 0x4C,
                                                    0x9C, 0xD2, 0x65, 0x9D, 0x9E, 0x64, 0x8A, 0x9F};

// wIndex of the vendor request that returns the descriptor set.
inline constexpr uint16_t kMsOs20DescriptorIndex = 0x07;

// Descriptor types inside a Microsoft OS 2.0 descriptor set.
inline constexpr uint16_t kMsOs20SetHeader = 0x00;
inline constexpr uint16_t kMsOs20SubsetConfiguration = 0x01;
inline constexpr uint16_t kMsOs20SubsetFunction = 0x02;
inline constexpr uint16_t kMsOs20FeatureRegistryProperty = 0x04;

// Text of a string descriptor: (bLength - 2) / 2 UTF-16 code units after the two header bytes. A bLength
// beyond the bytes received is cut to what was received.
std::u16string StringDescriptorText(const uint8_t* data, size_t size);

// UTF-8 form of a UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// One descriptor set information record of the platform capability: how to fetch the descriptor set.
struct MsOs20SetInfo {
    uint32_t windowsVersion = 0;
    uint16_t totalLength = 0; // wLength of the vendor request
    uint8_t vendorCode = 0;   // bRequest of the vendor request
    uint8_t altEnumCode = 0;
};

// The Microsoft OS 2.0 platform capability of a BOS descriptor (header included). When the capability
// lists several descriptor sets, the one for the newest Windows version is taken.
std::optional<MsOs20SetInfo> FindMsOs20Capability(const uint8_t* bos, size_t size);

// Device interface GUIDs one function of the device publishes. firstInterface is the function subset's
// first interface, or -1 for properties that apply to the whole device.
struct MsOs20Function {
    int firstInterface = -1;
    std::vector<std::string> interfaceGuids;
};

// Every "DeviceInterfaceGUIDs" (REG_MULTI_SZ) and "DeviceInterfaceGUID" (REG_SZ) registry property of
// a descriptor set, with the function it belongs to. The set must start with its set header.
std::vector<MsOs20Function> ParseMsOs20DescriptorSet(const uint8_t* set, size_t size);

// Two GUID texts name the same GUID: case and surrounding braces or blanks do not matter.
bool SameGuid(std::string_view a, std::string_view b);

// The interface that publishes guid: a function's first interface, or 0 when the whole device does.
std::optional<int> FindInterfaceForGuid(const std::vector<MsOs20Function>& functions, std::string_view guid);

} // namespace usbdesc
