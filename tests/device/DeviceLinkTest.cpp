#include "DeviceCommands.h"
#include "DeviceConnection.h"
#include "LibusbLink.h"
#include "UsbDescriptors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

Bytes Utf16LeBytes(std::u16string_view s) {
    Bytes b;
    for (char16_t c : s) Put16(b, uint16_t(c));
    return b;
}

// A string descriptor as an analyzer sends it.
Bytes StringDescriptor(std::u16string_view text) {
    Bytes b{uint8_t(2 + 2 * text.size()), kDescriptorTypeString};
    const Bytes t = Utf16LeBytes(text);
    b.insert(b.end(), t.begin(), t.end());
    return b;
}

// ---------------------------------------------------------------------------------------------------
// A link that stands for up to sixteen present analyzers and records what the connection does with it.

struct FakeAnalyzer {
    LinkOpenResult openResult = LinkOpenResult::Opened;
    int deviceDescriptorLength = kDeviceDescriptorSize; // -1: the probe fails
    std::optional<Bytes> firmware = StringDescriptor(u"1.10");
    std::optional<Bytes> serial = StringDescriptor(u"0123456789ABCDEF01234567");
};

class CFakeLink : public IAnalyzerLink {
public:
    std::vector<FakeAnalyzer> present;
    bool writesSucceed = true;
    const CDeviceConnection* watched = nullptr;

    std::vector<int> openCalls;
    std::vector<uint8_t> stringReads; // string descriptor indexes asked for
    std::vector<CommandFrame> written;
    std::vector<bool> connectedAtRelease;
    int openIndex = -1;

    LinkOpenResult Open(int index) override {
        openCalls.push_back(index);
        openIndex = -1;
        if (index >= int(present.size())) return LinkOpenResult::NoDevice;
        const LinkOpenResult r = present[size_t(index)].openResult;
        if (r == LinkOpenResult::Opened) openIndex = index;
        return r;
    }
    bool IsOpen() const override { return openIndex >= 0; }

    int GetDescriptor(uint8_t type, uint8_t index, uint16_t languageId, uint8_t* buffer, int size) override {
        if (openIndex < 0 || languageId != 0) return -1;
        const FakeAnalyzer& a = present[size_t(openIndex)];
        if (type == kDescriptorTypeDevice) {
            if (a.deviceDescriptorLength < 0) return -1;
            const int n = std::min(size, a.deviceDescriptorLength);
            for (int i = 0; i < n; ++i) buffer[i] = uint8_t(i == 0 ? 18 : i == 1 ? 1 : 0);
            return n;
        }
        if (type != kDescriptorTypeString) return -1;
        stringReads.push_back(index);
        const std::optional<Bytes>& d = index == kFirmwareStringIndex ? a.firmware
                                        : index == kSerialStringIndex ? a.serial
                                                                      : std::optional<Bytes>{};
        if (!d) return -1;
        const int n = std::min(size, int(d->size()));
        std::copy(d->begin(), d->begin() + n, buffer);
        return n;
    }

    int ReadPipe(uint8_t*, int, uint32_t) override { return -1; }

    // Every write is recorded, even one that could not reach an analyzer, so that a write the
    // connection should not have tried shows.
    bool WritePipe(const uint8_t* data, int size) override {
        if (size != kCommandFrameSize) return false;
        CommandFrame f{};
        std::copy(data, data + size, f.begin());
        written.push_back(f);
        return openIndex >= 0 && writesSucceed;
    }

    void Release() override {
        if (watched) connectedAtRelease.push_back(watched->connected);
        openIndex = -1;
    }
};

class DeviceConnectionTest : public ::testing::Test {
protected:
    DeviceConnectionTest() { link.watched = &conn; }
    CFakeLink link;
    CDeviceConnection conn{link};
};

} // namespace

// ---------------------------------------------------------------------------------------------------
// Firmware number and serial bytes

TEST(FirmwareRule, NumberFromCharactersZeroTwoThree) {
    const struct {
        std::u16string text;
        uint16_t number;
    } cases[] = {
        {u"1.10", 0x110}, {u"1.01", 0x101},  {u"1.00", 0x100},
        {u"0.92", 0x092}, {u"2.345", 0x234}, // only positions 0, 2 and 3 count
        {u"1.1", 0},                         // too short
        {u"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(usbdesc::Utf16ToUtf8(c.text));
        EXPECT_EQ(FirmwareVersionNumber(c.text), c.number);
    }
}

TEST(SerialBytes, HexTextLeastSignificantByteFirst) {
    using Serial = std::array<uint8_t, 12>;
    const struct {
        std::u16string text;
        Serial bytes;
    } cases[] = {
        {u"0123456789ABCDEF01234567",
         {0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}},
        // lower-case letters are not digits here
        {u"0123456789abcdef01234567",
         {0x67, 0x45, 0x23, 0x01, 0x00, 0x00, 0x00, 0x89, 0x67, 0x45, 0x23, 0x01}},
        {u"01234567G9ABCDEF0123456Z",
         {0x60, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x09, 0x67, 0x45, 0x23, 0x01}},
        // short text: missing pairs and a half pair count as zero digits
        {u"ABC", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xAB}},
        {u"", {}},
        // beyond 24 characters nothing counts
        {u"0123456789ABCDEF01234567FFFF",
         {0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(usbdesc::Utf16ToUtf8(c.text));
        EXPECT_EQ(SerialBytesFromText(c.text), c.bytes);
    }
}

// ---------------------------------------------------------------------------------------------------
// String descriptors

TEST(StringDescriptor, TextIsBLengthMinusTwoHalvedCutToWhatArrived) {
    const struct {
        const char* name;
        Bytes bytes;
        std::u16string text;
    } cases[] = {
        {"firmware", {0x0A, 0x03, '1', 0, '.', 0, '1', 0, '0', 0}, u"1.10"},
        {"odd bLength drops the half unit", {0x09, 0x03, '1', 0, '.', 0, '1', 0, '0', 0}, u"1.1"},
        {"bLength below the bytes received", {0x06, 0x03, 'A', 0, 'B', 0, 'C', 0, 0, 0}, u"AB"},
        {"bLength beyond the bytes received", {0x40, 0x03, 'A', 0, 'B', 0, 'C'}, u"AB"},
        {"bLength 2", {0x02, 0x03, 'A', 0}, u""},
        {"bLength 0", {0x00, 0x03, 'A', 0}, u""},
        {"one byte", {0x0A}, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(usbdesc::StringDescriptorText(c.bytes.data(), c.bytes.size()), c.text);
    }
    const Bytes serial = StringDescriptor(u"0123456789ABCDEF01234567");
    ASSERT_EQ(serial.size(), 50u);
    EXPECT_EQ(usbdesc::StringDescriptorText(serial.data(), serial.size()), u"0123456789ABCDEF01234567");
}

TEST(StringDescriptor, Utf8Conversion) {
    EXPECT_EQ(usbdesc::Utf16ToUtf8(u"1.10"), "1.10");
    EXPECT_EQ(usbdesc::Utf16ToUtf8(u"\u00b5A \u20ac"), std::string("\xC2\xB5") + "A \xE2\x82\xAC");
    EXPECT_EQ(usbdesc::Utf16ToUtf8(u"\U0001F50C"), "\xF0\x9F\x94\x8C");
    const char16_t lone[] = {u'a', char16_t(0xD800), u'b', 0};
    EXPECT_EQ(usbdesc::Utf16ToUtf8(lone), std::string("a\xEF\xBF\xBD") + "b");
}

// ---------------------------------------------------------------------------------------------------
// BOS descriptor and the Microsoft OS 2.0 capability

namespace {

const Bytes kUsb20Extension = {0x07, 0x10, 0x02, 0x06, 0x00, 0x00, 0x00};
const Bytes kContainerId = {0x14, 0x10, 0x04, 0x00, 0x4B, 0x1E, 0x7D, 0x2C, 0x66, 0x31,
                            0x4A, 0x47, 0x8E, 0x0B, 0x5F, 0xA7, 0x13, 0x21, 0x90, 0x4D};
// WebUSB platform capability: same capability type, another UUID.
const Bytes kWebUsb = {0x18, 0x10, 0x05, 0x00, 0x38, 0xB6, 0x08, 0x34, 0xA9, 0x09, 0xA0, 0x47,
                       0x8B, 0xFD, 0xA0, 0x76, 0x88, 0x15, 0xB6, 0x65, 0x00, 0x01, 0x22, 0x01};
// Microsoft OS 2.0: Windows 8.1 and later, descriptor set of 0x0152 bytes, vendor code 0x20.
const Bytes kMsOs20 = {0x1C, 0x10, 0x05, 0x00, 0xDF, 0x60, 0xDD, 0xD8, 0x89, 0x45, 0xC7, 0x4C, 0x9C, 0xD2,
                       0x65, 0x9D, 0x9E, 0x64, 0x8A, 0x9F, 0x00, 0x00, 0x03, 0x06, 0x52, 0x01, 0x20, 0x00};

Bytes Bos(const std::vector<Bytes>& caps) {
    Bytes b{0x05, 0x0F, 0, 0, uint8_t(caps.size())};
    for (const Bytes& c : caps) b.insert(b.end(), c.begin(), c.end());
    b[2] = uint8_t(b.size());
    b[3] = uint8_t(b.size() >> 8);
    return b;
}

} // namespace

TEST(BosDescriptor, FindsMsOs20CapabilityAmongOthers) {
    const Bytes bos = Bos({kUsb20Extension, kContainerId, kWebUsb, kMsOs20});
    ASSERT_EQ(bos.size(), 84u);
    const auto info = usbdesc::FindMsOs20Capability(bos.data(), bos.size());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->windowsVersion, 0x06030000u);
    EXPECT_EQ(info->totalLength, 0x0152);
    EXPECT_EQ(info->vendorCode, 0x20);
    EXPECT_EQ(info->altEnumCode, 0x00);
}

TEST(BosDescriptor, TakesTheSetForTheNewestWindows) {
    Bytes cap = kMsOs20;
    // a second set information record: Windows 10 (0x0A000000), 0x00B2 bytes, vendor code 0x21
    const Bytes second = {0x00, 0x00, 0x00, 0x0A, 0xB2, 0x00, 0x21, 0x00};
    cap.insert(cap.end(), second.begin(), second.end());
    cap[0] = uint8_t(cap.size());
    const Bytes bos = Bos({kUsb20Extension, cap});
    const auto info = usbdesc::FindMsOs20Capability(bos.data(), bos.size());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->vendorCode, 0x21);
    EXPECT_EQ(info->totalLength, 0x00B2);
}

TEST(BosDescriptor, NoCapabilityInBrokenOrForeignDescriptors) {
    Bytes zeroLength = Bos({kUsb20Extension, kMsOs20});
    zeroLength[5] = 0; // first capability claims length 0
    Bytes wrongType = Bos({kMsOs20});
    wrongType[1] = 0x02;
    Bytes longerThanTotal = Bos({kMsOs20});
    longerThanTotal[2] = uint8_t(longerThanTotal.size() - 1); // wTotalLength ends inside the capability
    const Bytes full = Bos({kUsb20Extension, kMsOs20});
    Bytes otherUuid = kMsOs20;
    otherUuid[19] = 0x9E;
    const struct {
        const char* name;
        Bytes bytes;
        size_t size;
    } cases[] = {
        {"no MS OS 2.0 capability", Bos({kUsb20Extension, kContainerId, kWebUsb}), 0},
        {"platform capability with another UUID", Bos({otherUuid}), 0},
        {"capability of length 0", zeroLength, 0},
        {"not a BOS descriptor", wrongType, 0},
        {"wTotalLength cuts the capability", longerThanTotal, 0},
        {"transfer cut short", full, full.size() - 4},
        {"header only", full, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t size = c.size ? c.size : c.bytes.size();
        EXPECT_FALSE(usbdesc::FindMsOs20Capability(c.bytes.data(), size));
    }
}

// ---------------------------------------------------------------------------------------------------
// Microsoft OS 2.0 descriptor set

namespace {

// A composite device as read from it: interface 0 carries another WinUSB function, interface 1 the
// analyzer's interface GUID.
const Bytes kCompositeSet = {
    0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x06, 0x52, 0x01, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, //
    0x48, 0x01, 0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0xA0, 0x00, 0x14, 0x00, 0x03, 0x00, 0x57, 0x49, //
    0x4E, 0x55, 0x53, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x84, 0x00, //
    0x04, 0x00, 0x07, 0x00, 0x2A, 0x00, 0x44, 0x00, 0x65, 0x00, 0x76, 0x00, 0x69, 0x00, 0x63, 0x00, //
    0x65, 0x00, 0x49, 0x00, 0x6E, 0x00, 0x74, 0x00, 0x65, 0x00, 0x72, 0x00, 0x66, 0x00, 0x61, 0x00, //
    0x63, 0x00, 0x65, 0x00, 0x47, 0x00, 0x55, 0x00, 0x49, 0x00, 0x44, 0x00, 0x73, 0x00, 0x00, 0x00, //
    0x50, 0x00, 0x7B, 0x00, 0x41, 0x00, 0x35, 0x00, 0x44, 0x00, 0x43, 0x00, 0x42, 0x00, 0x46, 0x00, //
    0x31, 0x00, 0x30, 0x00, 0x2D, 0x00, 0x36, 0x00, 0x35, 0x00, 0x33, 0x00, 0x30, 0x00, 0x2D, 0x00, //
    0x31, 0x00, 0x31, 0x00, 0x44, 0x00, 0x32, 0x00, 0x2D, 0x00, 0x39, 0x00, 0x30, 0x00, 0x31, 0x00, //
    0x46, 0x00, 0x2D, 0x00, 0x30, 0x00, 0x30, 0x00, 0x43, 0x00, 0x30, 0x00, 0x34, 0x00, 0x46, 0x00, //
    0x42, 0x00, 0x39, 0x00, 0x35, 0x00, 0x31, 0x00, 0x45, 0x00, 0x44, 0x00, 0x7D, 0x00, 0x00, 0x00, //
    0x00, 0x00, 0x08, 0x00, 0x02, 0x00, 0x01, 0x00, 0xA0, 0x00, 0x14, 0x00, 0x03, 0x00, 0x57, 0x49, //
    0x4E, 0x55, 0x53, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x84, 0x00, //
    0x04, 0x00, 0x07, 0x00, 0x2A, 0x00, 0x44, 0x00, 0x65, 0x00, 0x76, 0x00, 0x69, 0x00, 0x63, 0x00, //
    0x65, 0x00, 0x49, 0x00, 0x6E, 0x00, 0x74, 0x00, 0x65, 0x00, 0x72, 0x00, 0x66, 0x00, 0x61, 0x00, //
    0x63, 0x00, 0x65, 0x00, 0x47, 0x00, 0x55, 0x00, 0x49, 0x00, 0x44, 0x00, 0x73, 0x00, 0x00, 0x00, //
    0x50, 0x00, 0x7B, 0x00, 0x37, 0x00, 0x46, 0x00, 0x37, 0x00, 0x45, 0x00, 0x46, 0x00, 0x44, 0x00, //
    0x34, 0x00, 0x42, 0x00, 0x2D, 0x00, 0x38, 0x00, 0x44, 0x00, 0x34, 0x00, 0x38, 0x00, 0x2D, 0x00, //
    0x34, 0x00, 0x44, 0x00, 0x31, 0x00, 0x38, 0x00, 0x2D, 0x00, 0x39, 0x00, 0x37, 0x00, 0x33, 0x00, //
    0x31, 0x00, 0x2D, 0x00, 0x37, 0x00, 0x31, 0x00, 0x42, 0x00, 0x32, 0x00, 0x38, 0x00, 0x41, 0x00, //
    0x35, 0x00, 0x39, 0x00, 0x34, 0x00, 0x34, 0x00, 0x34, 0x00, 0x31, 0x00, 0x7D, 0x00, 0x00, 0x00, //
    0x00, 0x00,
};

// Pieces for descriptor sets of other shapes.
Bytes SetHeader() {
    return {0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x06, 0x00, 0x00};
}
Bytes CompatibleId() {
    Bytes b{0x14, 0x00, 0x03, 0x00, 'W', 'I', 'N', 'U', 'S', 'B'};
    b.resize(20, 0);
    return b;
}
Bytes Property(std::u16string_view name, std::u16string_view value, uint16_t dataType) {
    const Bytes n = Utf16LeBytes(std::u16string(name) + u'\0');
    const Bytes v = Utf16LeBytes(value);
    Bytes b;
    Put16(b, uint16_t(10 + n.size() + v.size()));
    Put16(b, 0x04);
    Put16(b, dataType);
    Put16(b, uint16_t(n.size()));
    b.insert(b.end(), n.begin(), n.end());
    Put16(b, uint16_t(v.size()));
    b.insert(b.end(), v.begin(), v.end());
    return b;
}
Bytes FunctionSubset(uint8_t firstInterface, const std::vector<Bytes>& features) {
    Bytes b{0x08, 0x00, 0x02, 0x00, firstInterface, 0x00, 0, 0};
    for (const Bytes& f : features) b.insert(b.end(), f.begin(), f.end());
    b[6] = uint8_t(b.size());
    b[7] = uint8_t(b.size() >> 8);
    return b;
}
Bytes Set(const std::vector<Bytes>& parts) {
    Bytes b = SetHeader();
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    b[8] = uint8_t(b.size());
    b[9] = uint8_t(b.size() >> 8);
    return b;
}

const std::u16string kGuid16 = u"{7F7EFD4B-8D48-4D18-9731-71B28A594441}";

std::optional<int> AnalyzerInterfaceOf(const Bytes& set, size_t size = 0) {
    return usbdesc::FindInterfaceForGuid(
        usbdesc::ParseMsOs20DescriptorSet(set.data(), size ? size : set.size()), kAnalyzerInterfaceGuid);
}

} // namespace

TEST(MsOs20DescriptorSet, CompositeDeviceNamesTheFunctionWithTheGuid) {
    ASSERT_EQ(kCompositeSet.size(), 0x152u);
    const auto functions = usbdesc::ParseMsOs20DescriptorSet(kCompositeSet.data(), kCompositeSet.size());
    ASSERT_EQ(functions.size(), 2u);
    EXPECT_EQ(functions[0].firstInterface, 0);
    EXPECT_EQ(functions[0].interfaceGuids,
              std::vector<std::string>{"{A5DCBF10-6530-11D2-901F-00C04FB951ED}"});
    EXPECT_EQ(functions[1].firstInterface, 1);
    EXPECT_EQ(functions[1].interfaceGuids,
              std::vector<std::string>{"{7F7EFD4B-8D48-4D18-9731-71B28A594441}"});
    EXPECT_EQ(AnalyzerInterfaceOf(kCompositeSet), 1);
    EXPECT_EQ(usbdesc::FindInterfaceForGuid(functions, "{A5DCBF10-6530-11D2-901F-00C04FB951ED}"), 0);
}

TEST(MsOs20DescriptorSet, ShapesThatCarryTheGuid) {
    const struct {
        const char* name;
        Bytes set;
        int interfaceNumber;
    } cases[] = {
        {"whole device, REG_SZ DeviceInterfaceGUID",
         Set({CompatibleId(), Property(u"DeviceInterfaceGUID", kGuid16 + u'\0', 1)}), 0},
        {"whole device, several GUIDs in REG_MULTI_SZ",
         Set({Property(u"DeviceInterfaceGUIDs",
                       u"{A5DCBF10-6530-11D2-901F-00C04FB951ED}" + std::u16string(1, u'\0') + kGuid16 +
                           std::u16string(2, u'\0'),
                       7)}),
         0},
        {"lower case, no terminator",
         Set({Property(u"deviceinterfaceguids", u"{7f7efd4b-8d48-4d18-9731-71b28a594441}", 7)}), 0},
        {"after an unrelated property",
         Set({FunctionSubset(3, {CompatibleId(),
                                 Property(u"DeviceIdleEnabled", std::u16string(u"\x0001\x0000", 2), 4),
                                 Property(u"DeviceInterfaceGUIDs", kGuid16 + std::u16string(2, u'\0'), 7)})}),
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AnalyzerInterfaceOf(c.set), c.interfaceNumber);
    }
}

TEST(MsOs20DescriptorSet, PropertyAfterAFunctionSubsetBelongsToTheDevice) {
    const Bytes set = Set({FunctionSubset(2, {CompatibleId()}),
                           Property(u"DeviceInterfaceGUIDs", kGuid16 + std::u16string(2, u'\0'), 7)});
    const auto functions = usbdesc::ParseMsOs20DescriptorSet(set.data(), set.size());
    ASSERT_EQ(functions.size(), 1u);
    EXPECT_EQ(functions[0].firstInterface, -1);
}

TEST(MsOs20DescriptorSet, NoGuidFromBrokenOrForeignSets) {
    Bytes zeroLength = kCompositeSet;
    zeroLength[10] = 0; // configuration subset header of length 0: nothing after it is read
    Bytes badHeader = kCompositeSet;
    badHeader[2] = 0x01;
    Bytes propertyTooShort = Set({Property(u"DeviceInterfaceGUIDs", kGuid16 + std::u16string(2, u'\0'), 7)});
    propertyTooShort[10] = 0x10; // wLength ends inside the property name
    const struct {
        const char* name;
        Bytes set;
        size_t size;
    } cases[] = {
        {"another GUID only",
         Set({Property(u"DeviceInterfaceGUIDs", u"{A5DCBF10-6530-11D2-901F-00C04FB951ED}", 7)}), 0},
        {"GUID under another property name", Set({Property(u"DeviceInterfaceGUIDsX", kGuid16, 7)}), 0},
        {"descriptor of length 0", zeroLength, 0},
        {"no set header", badHeader, 0},
        {"property cut by its own wLength", propertyTooShort, 0},
        {"transfer cut inside the analyzer's property", kCompositeSet, kCompositeSet.size() - 40},
        {"empty", Bytes{}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(AnalyzerInterfaceOf(c.set, c.size ? c.size : c.set.size()));
    }
}

TEST(MsOs20DescriptorSet, GuidComparison) {
    EXPECT_TRUE(
        usbdesc::SameGuid("{7F7EFD4B-8D48-4D18-9731-71B28A594441}", "7f7efd4b-8d48-4d18-9731-71b28a594441"));
    EXPECT_FALSE(usbdesc::SameGuid("{7F7EFD4B-8D48-4D18-9731-71B28A594441}",
                                   "{7F7EFD4B-8D48-4D18-9731-71B28A594442}"));
    EXPECT_FALSE(usbdesc::SameGuid("{}", "{}"));
}

// ---------------------------------------------------------------------------------------------------
// Probing a device by its descriptors, with the control requests answered from recorded bytes

namespace {

// The Microsoft OS 2.0 capability with another descriptor set length and vendor code.
Bytes MsOs20Capability(uint16_t setLength, uint8_t vendorCode) {
    Bytes cap = kMsOs20;
    cap[24] = uint8_t(setLength);
    cap[25] = uint8_t(setLength >> 8);
    cap[26] = vendorCode;
    return cap;
}

// A device behind the probe: answers GET_DESCRIPTOR(BOS) and the descriptor set request with its own
// vendor code, stalls every other request, and notes them all.
struct FakeDescriptorDevice {
    FakeDescriptorDevice(std::optional<Bytes> bos_, std::optional<Bytes> set_, uint8_t vendorCode_ = 0x20,
                         int failingRequest_ = -1)
        : bos(std::move(bos_)), set(std::move(set_)), vendorCode(vendorCode_),
          failingRequest(failingRequest_) {}

    std::optional<Bytes> bos; // none: a device without BOS descriptor stalls the request
    std::optional<Bytes> set; // none: the vendor request stalls
    uint8_t vendorCode;
    int failingRequest; // the request, counted from 0, that does not get through

    struct Request {
        uint8_t requestType;
        uint8_t request;
        uint16_t value, index, length;
    };
    std::vector<Request> requests;

    ControlInRequest Transfer() {
        return [this](uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                      uint16_t length) {
            requests.push_back({requestType, request, value, index, length});
            if (int(requests.size()) - 1 == failingRequest) return kControlFailed;
            const std::optional<Bytes>* answer = nullptr;
            if (requestType == 0x80 && request == 0x06 && value == 0x0F00 && index == 0) answer = &bos;
            if (requestType == 0xC0 && request == vendorCode && value == 0 && index == 0x07) answer = &set;
            if (!answer || !*answer) return kControlStalled;
            const size_t n = std::min<size_t>(length, (*answer)->size());
            std::copy((*answer)->begin(), (*answer)->begin() + std::ptrdiff_t(n), data);
            return int(n);
        };
    }

    size_t VendorRequests() const {
        return size_t(std::count_if(requests.begin(), requests.end(),
                                    [](const Request& r) { return (r.requestType & 0x60) == 0x40; }));
    }
};

} // namespace

TEST(DeviceLinkProbe, AsksForTheSetOnlyWhenTheCapabilityIsThereAndFindsTheGuid) {
    const Bytes withCapability = Bos({kUsb20Extension, kContainerId, kWebUsb, kMsOs20});
    const Bytes otherGuidSet = Set({Property(
        u"DeviceInterfaceGUIDs", u"{A5DCBF10-6530-11D2-901F-00C04FB951ED}" + std::u16string(2, u'\0'), 7)});
    const Bytes analyzerSet = Set({FunctionSubset(
        2, {CompatibleId(), Property(u"DeviceInterfaceGUIDs", kGuid16 + std::u16string(2, u'\0'), 7)})});
    Bytes notBos = withCapability;
    notBos[1] = 0x02;
    Bytes totalBelowHeader = withCapability;
    totalBelowHeader[2] = 0x03;
    totalBelowHeader[3] = 0x00;
    Bytes setWithoutHeader = kCompositeSet;
    setWithoutHeader[2] = 0x01;
    const Bytes setCutShort(kCompositeSet.begin(), kCompositeSet.end() - 40);

    const struct {
        const char* name;
        FakeDescriptorDevice device;
        AnalyzerVerdict verdict;
        int interfaceNumber;
        size_t vendorRequests;
    } cases[] = {
        {"composite analyzer", {withCapability, kCompositeSet}, AnalyzerVerdict::Analyzer, 1, 1},
        {"vendor code and set length from the capability",
         {Bos({MsOs20Capability(uint16_t(analyzerSet.size()), 0x5A)}), analyzerSet, 0x5A},
         AnalyzerVerdict::Analyzer,
         2,
         1},
        {"BOS without the capability",
         {Bos({kUsb20Extension, kContainerId, kWebUsb}), kCompositeSet},
         AnalyzerVerdict::NotAnalyzer,
         -1,
         0},
        {"no BOS descriptor (request stalls)",
         {std::nullopt, kCompositeSet},
         AnalyzerVerdict::NotAnalyzer,
         -1,
         0},
        {"another GUID",
         {Bos({MsOs20Capability(uint16_t(otherGuidSet.size()), 0x20)}), otherGuidSet},
         AnalyzerVerdict::NotAnalyzer,
         -1,
         1},
        {"vendor request stalls", {withCapability, std::nullopt}, AnalyzerVerdict::NotAnalyzer, -1, 1},
        {"damaged: not a BOS descriptor", {notBos, kCompositeSet}, AnalyzerVerdict::NotAnalyzer, -1, 0},
        {"damaged: wTotalLength below the BOS header",
         {totalBelowHeader, kCompositeSet},
         AnalyzerVerdict::NotAnalyzer,
         -1,
         0},
        {"damaged: BOS cut inside the capability",
         {Bytes(withCapability.begin(), withCapability.end() - 8), kCompositeSet},
         AnalyzerVerdict::NotAnalyzer,
         -1,
         0},
        {"damaged: set without its header",
         {withCapability, setWithoutHeader},
         AnalyzerVerdict::NotAnalyzer,
         -1,
         1},
        {"damaged: set cut inside the analyzer's property",
         {withCapability, setCutShort},
         AnalyzerVerdict::NotAnalyzer,
         -1,
         1},
        // A request that does not get through says nothing about the device.
        {"BOS header lost", {withCapability, kCompositeSet, 0x20, 0}, AnalyzerVerdict::Inconclusive, -1, 0},
        {"whole BOS lost", {withCapability, kCompositeSet, 0x20, 1}, AnalyzerVerdict::Inconclusive, -1, 0},
        {"set lost", {withCapability, kCompositeSet, 0x20, 2}, AnalyzerVerdict::Inconclusive, -1, 1},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        const AnalyzerProbe probe = ProbeAnalyzerDescriptors(c.device.Transfer());
        EXPECT_EQ(probe.verdict, c.verdict);
        if (c.verdict == AnalyzerVerdict::Analyzer) {
            EXPECT_EQ(probe.interfaceNumber, c.interfaceNumber);
        }
        EXPECT_EQ(c.device.VendorRequests(), c.vendorRequests);
        for (const auto& r : c.device.requests)
            EXPECT_EQ(r.requestType & 0x1F, 0) << "request to the device itself";
    }
}

// ---------------------------------------------------------------------------------------------------
// Command frames

TEST(CommandFrames, ByteByByte) {
    const struct {
        const char* name;
        CommandFrame frame;
        std::vector<std::pair<int, uint8_t>> set; // bytes after the signature that are not zero
    } cases[] = {
        {"CC2 Rd", CcInjectionFrame(1, kTerminationRd), {{4, 0x01}, {8, 0x01}, {9, 0x02}}},
        {"CC1 None", CcInjectionFrame(0, kTerminationNone), {{4, 0x01}}},
        {"CC1 Rp 3.0A", CcInjectionFrame(0, kTerminationRp3A0), {{4, 0x01}, {9, 0x05}}},
        {"interval 10 ms", SamplingIntervalFrame(10), {{4, 0x06}, {8, 0x09}, {12, 0x03}}},
        {"interval 1 ms", SamplingIntervalFrame(1), {{4, 0x06}, {12, 0x03}}},
        {"interval 0", SamplingIntervalFrame(0), {{4, 0x06}, {12, 0x03}}},
        {"interval 1000 ms", SamplingIntervalFrame(1000), {{4, 0x06}, {8, 0xE7}, {9, 0x03}, {12, 0x03}}},
        {"interval 0x01000000 ms",
         SamplingIntervalFrame(0x01000000),
         {{4, 0x06}, {8, 0xFF}, {9, 0xFF}, {10, 0xFF}, {12, 0x03}}},
        {"firmware update", FirmwareUpdateFrame(), {{4, 0x07}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CommandFrame expected{};
        expected[0] = 0x43;
        expected[1] = 0x43;
        expected[2] = 0x58;
        expected[3] = 0x51;
        for (const auto& [offset, value] : c.set) expected[size_t(offset)] = value;
        EXPECT_EQ(c.frame, expected);
    }
}

TEST_F(DeviceConnectionTest, MenuCommandSendsFrameAndMovesTheCheckMark) {
    link.present.resize(1);
    ASSERT_TRUE(conn.Poll(10));
    link.written.clear();

    ASSERT_TRUE(RunDeviceCommand(conn, 32910)); // "CC2 Rd"
    ASSERT_EQ(link.written.size(), 1u);
    EXPECT_EQ(link.written[0], CcInjectionFrame(1, kTerminationRd));
    EXPECT_EQ(conn.cc2Termination, kTerminationRd);
    EXPECT_EQ(conn.cc1Termination, kTerminationNone);
    const CcInjectionCommand* cc2Rd = FindCcInjectionCommand(32910);
    ASSERT_NE(cc2Rd, nullptr);
    EXPECT_STREQ(cc2Rd->text, "CC2 Rd");
    EXPECT_TRUE(IsCcInjectionChecked(conn, *cc2Rd));
    EXPECT_FALSE(IsCcInjectionChecked(conn, *FindCcInjectionCommand(32906))); // "CC2 None"
    EXPECT_TRUE(IsCcInjectionChecked(conn, *FindCcInjectionCommand(32900)));  // "CC1 None"

    ASSERT_TRUE(RunDeviceCommand(conn, 32905)); // "CC1 Ra"
    EXPECT_EQ(link.written.back(), CcInjectionFrame(0, kTerminationRa));
    EXPECT_EQ(conn.cc1Termination, kTerminationRa);

    ASSERT_TRUE(RunDeviceCommand(conn, kIdEnterFirmwareUpdate));
    EXPECT_EQ(link.written.back(), FirmwareUpdateFrame());
    EXPECT_FALSE(RunDeviceCommand(conn, 32912));
    EXPECT_EQ(link.written.size(), 3u);
}

TEST_F(DeviceConnectionTest, FailedWriteKeepsTheLastAcceptedTermination) {
    link.present.resize(1);
    ASSERT_TRUE(conn.Poll(10));
    ASSERT_TRUE(SendCcInjection(conn, 0, kTerminationRp1A5));
    link.writesSucceed = false;
    EXPECT_FALSE(SendCcInjection(conn, 0, kTerminationRd));
    EXPECT_EQ(conn.cc1Termination, kTerminationRp1A5);
    EXPECT_FALSE(SendSamplingInterval(conn, 10));
}

TEST_F(DeviceConnectionTest, NothingIsSentWhileDisconnectedOrForBadArguments) {
    conn.cc2Termination = kTerminationRp3A0;
    EXPECT_TRUE(RunDeviceCommand(conn, 32906)); // "CC2 None": known id, but not connected
    EXPECT_FALSE(SendSamplingInterval(conn, 10));
    EnterFirmwareUpdateMode(conn);
    EXPECT_TRUE(link.written.empty());
    EXPECT_EQ(conn.cc2Termination, kTerminationRp3A0);

    link.present.resize(1);
    ASSERT_TRUE(conn.Poll(0));
    link.written.clear();
    EXPECT_FALSE(SendCcInjection(conn, 2, kTerminationRd));
    EXPECT_FALSE(SendCcInjection(conn, 0, 6));
    EXPECT_TRUE(link.written.empty());
}

// ---------------------------------------------------------------------------------------------------
// Connection poll

TEST_F(DeviceConnectionTest, FreshConnectionReadsTextsAndSendsIntervalThenCcNone) {
    link.present.resize(1);
    conn.cc1Termination = kTerminationRd; // left from an earlier analyzer
    conn.cc2Termination = kTerminationRa;

    EXPECT_TRUE(conn.Poll(10));
    EXPECT_TRUE(conn.connected);
    EXPECT_TRUE(conn.IsOpened());
    EXPECT_EQ(conn.fwVersionText, "1.10");
    EXPECT_EQ(conn.fwVersionNumber, 0x110);
    EXPECT_FALSE(conn.invalidFirmware);
    EXPECT_EQ(conn.serialText, "0123456789ABCDEF01234567");
    EXPECT_EQ(conn.SerialBytes(), (std::array<uint8_t, 12>{0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x89,
                                                           0x67, 0x45, 0x23, 0x01}));
    ASSERT_EQ(link.written.size(), 3u);
    EXPECT_EQ(link.written[0], SamplingIntervalFrame(10));
    EXPECT_EQ(link.written[1], CcInjectionFrame(0, kTerminationNone));
    EXPECT_EQ(link.written[2], CcInjectionFrame(1, kTerminationNone));
    EXPECT_EQ(conn.cc1Termination, kTerminationNone);
    EXPECT_EQ(conn.cc2Termination, kTerminationNone);

    // Connected: the next tick only probes.
    EXPECT_TRUE(conn.Poll(10));
    EXPECT_EQ(link.openCalls.size(), 1u);
    EXPECT_EQ(link.written.size(), 3u);
}

TEST_F(DeviceConnectionTest, IntervalZeroIsNotSentAndRefusedWritesDoNotHinderTheConnection) {
    link.present.resize(1);
    link.writesSucceed = false;
    conn.cc1Termination = kTerminationRd;
    EXPECT_TRUE(conn.Poll(0));
    ASSERT_EQ(link.written.size(), 2u);
    EXPECT_EQ(link.written[0], CcInjectionFrame(0, kTerminationNone));
    EXPECT_EQ(conn.cc1Termination, kTerminationRd);
}

TEST_F(DeviceConnectionTest, FirmwareDecidesAcceptance) {
    const struct {
        const char* name;
        std::optional<Bytes> firmware;
        bool accepted;
        uint16_t number;
        const char* text;
    } cases[] = {
        {"1.01", StringDescriptor(u"1.01"), true, 0x101, "1.01"},
        {"1.00", StringDescriptor(u"1.00"), false, 0x100, "1.00"},
        {"0.92", StringDescriptor(u"0.92"), false, 0x092, "0.92"},
        {"2.00", StringDescriptor(u"2.00"), true, 0x200, "2.00"},
        {"short text", StringDescriptor(u"9.9"), false, 0, "9.9"},
        {"failed read", std::nullopt, false, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CFakeLink fake;
        fake.present.resize(1);
        fake.present[0].firmware = c.firmware;
        CDeviceConnection connection(fake);
        EXPECT_EQ(connection.Poll(10), c.accepted);
        EXPECT_EQ(connection.connected, c.accepted);
        EXPECT_EQ(connection.invalidFirmware, !c.accepted);
        EXPECT_EQ(connection.fwVersionNumber, c.number);
        EXPECT_EQ(connection.fwVersionText, c.text);
        EXPECT_EQ(fake.IsOpen(), c.accepted); // a rejected analyzer is let go at once
        EXPECT_EQ(fake.written.empty(), !c.accepted);
    }
}

TEST_F(DeviceConnectionTest, RejectedAnalyzerStaysRejectedUntilUnplugged) {
    link.present.resize(1);
    link.present[0].firmware = StringDescriptor(u"1.00");
    EXPECT_FALSE(conn.Poll(10));
    EXPECT_TRUE(conn.invalidFirmware);
    const size_t reads = link.stringReads.size();

    // Even new firmware is not looked at while the flag stands: open, close, nothing read or sent.
    link.present[0].firmware = StringDescriptor(u"1.10");
    EXPECT_FALSE(conn.Poll(10));
    EXPECT_EQ(link.openCalls.size(), 2u);
    EXPECT_EQ(link.stringReads.size(), reads);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(link.written.empty());
    EXPECT_EQ(conn.fwVersionText, "1.00");
    EXPECT_TRUE(conn.invalidFirmware);

    link.present.clear(); // unplugged
    EXPECT_FALSE(conn.Poll(10));
    EXPECT_FALSE(conn.invalidFirmware);
    EXPECT_EQ(conn.fwVersionText, "");
    EXPECT_EQ(conn.serialText, "");

    link.present.resize(1); // plugged in again, now with 1.10
    EXPECT_TRUE(conn.Poll(10));
    EXPECT_EQ(conn.fwVersionNumber, 0x110);
}

TEST_F(DeviceConnectionTest, TextsStayAfterUnplugUntilATickFindsNothing) {
    link.present.resize(1);
    ASSERT_TRUE(conn.Poll(10));

    link.present[0].deviceDescriptorLength = -1; // probe fails
    EXPECT_FALSE(conn.Poll(10));
    EXPECT_FALSE(conn.connected);
    EXPECT_FALSE(conn.IsOpened());
    EXPECT_FALSE(link.IsOpen());
    // The reader thread must see `connected` false once its read has failed.
    EXPECT_EQ(link.connectedAtRelease, std::vector<bool>{false});
    EXPECT_EQ(conn.fwVersionText, "1.10");
    EXPECT_EQ(conn.serialText, "0123456789ABCDEF01234567");
    EXPECT_EQ(conn.fwVersionNumber, 0x110);
    EXPECT_EQ(conn.SerialBytes()[0], 0x67);

    link.present.clear();
    EXPECT_FALSE(conn.Poll(10));
    EXPECT_EQ(conn.fwVersionText, "");
    EXPECT_EQ(conn.serialText, "");
    EXPECT_EQ(conn.fwVersionNumber, 0);
    EXPECT_EQ(conn.SerialBytes()[0], 0x67); // only the texts and the number are cleared
}

// The reader thread gave the analyzer up (its stream endpoint stays halted) although it still answers:
// the next poll lets it go as after an unplug, with `connected` cleared first, and clears the flag; the
// poll after that opens it afresh.
TEST_F(DeviceConnectionTest, AnalyzerWhoseStreamWasLostIsLetGo) {
    link.present.resize(1);
    ASSERT_TRUE(conn.Poll(10));
    conn.streamLost = true;
    EXPECT_FALSE(conn.Poll(10));
    EXPECT_FALSE(conn.connected);
    EXPECT_FALSE(conn.streamLost);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.connectedAtRelease, std::vector<bool>{false});
    EXPECT_EQ(conn.fwVersionText, "1.10");

    EXPECT_TRUE(conn.Poll(10));
    EXPECT_EQ(link.openCalls, (std::vector<int>{0, 0}));
}

TEST_F(DeviceConnectionTest, ProbeNeedsExactlyEighteenBytes) {
    for (int length : {17, 0}) {
        SCOPED_TRACE(length);
        CFakeLink fake;
        fake.present.resize(1);
        CDeviceConnection connection(fake);
        ASSERT_TRUE(connection.Poll(10));
        fake.present[0].deviceDescriptorLength = length;
        EXPECT_FALSE(connection.Poll(10));
        EXPECT_FALSE(fake.IsOpen());
    }
}

TEST_F(DeviceConnectionTest, AnalyzerHeldByAnotherProgramIsSkipped) {
    link.present.resize(2);
    link.present[0].openResult = LinkOpenResult::OpenFailed;
    link.present[1].serial = StringDescriptor(u"FFFFFFFFFFFFFFFFFFFFFF01");
    EXPECT_TRUE(conn.Poll(10));
    EXPECT_EQ(link.openCalls, (std::vector<int>{0, 1}));
    EXPECT_EQ(link.openIndex, 1);
    EXPECT_EQ(conn.serialText, "FFFFFFFFFFFFFFFFFFFFFF01");
    EXPECT_EQ(conn.SerialBytes()[0], 0x01);
}

TEST_F(DeviceConnectionTest, FailedSetupOrNoOpenableAnalyzerEndsTheAttempt) {
    // A failed interface setup gives up at once, without trying the next analyzer.
    link.present.resize(2);
    link.present[0].openResult = LinkOpenResult::InitFailed;
    EXPECT_FALSE(conn.Poll(10));
    EXPECT_EQ(link.openCalls, std::vector<int>{0});

    // Sixteen analyzers, none openable: sixteen tries, no seventeenth.
    CFakeLink busy;
    busy.present.resize(20);
    for (FakeAnalyzer& a : busy.present) a.openResult = LinkOpenResult::OpenFailed;
    CDeviceConnection connection(busy);
    EXPECT_FALSE(connection.Poll(10));
    EXPECT_EQ(busy.openCalls.size(), 16u);
    EXPECT_EQ(busy.openCalls.back(), 15);
}

TEST_F(DeviceConnectionTest, FailedSerialReadDoesNotHinderTheConnection) {
    link.present.resize(1);
    link.present[0].serial = std::nullopt;
    EXPECT_TRUE(conn.Poll(10));
    EXPECT_EQ(conn.serialText, "");
    EXPECT_EQ(conn.SerialBytes(), (std::array<uint8_t, 12>{}));
    EXPECT_EQ(link.stringReads, (std::vector<uint8_t>{3, 6}));
}

TEST_F(DeviceConnectionTest, CloseLetsGoWithConnectedAlreadyCleared) {
    link.present.resize(1);
    ASSERT_TRUE(conn.Poll(10));
    conn.Close();
    EXPECT_FALSE(conn.connected);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.connectedAtRelease, std::vector<bool>{false});
}

// ---------------------------------------------------------------------------------------------------
// libusb link without an analyzer: every call fails at once and nothing crashes.

TEST(LibusbLink, CallsWithoutAnOpenAnalyzerFailAtOnce) {
    CLibusbLink usb;
    usb.Release();
    EXPECT_FALSE(usb.IsOpen());
    uint8_t buffer[kStreamReadSize];
    EXPECT_EQ(usb.ReadPipe(buffer, kStreamReadSize, 0), -1); // no time limit, yet it returns
    EXPECT_EQ(usb.GetDescriptor(kDescriptorTypeDevice, 0, 0, buffer, kDeviceDescriptorSize), -1);
    const CommandFrame frame = FirmwareUpdateFrame();
    EXPECT_FALSE(usb.WritePipe(frame.data(), kCommandFrameSize));
    EXPECT_FALSE(usb.ClearReadHalt());
    EXPECT_EQ(usb.Open(-1), LinkOpenResult::NoDevice);
}
