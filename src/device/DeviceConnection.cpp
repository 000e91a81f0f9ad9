#include "DeviceConnection.h"

#include "DeviceCommands.h"
#include "UsbDescriptors.h"

namespace {

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return 0; // lower case included
}

// The text of string descriptor index, empty when the read fails.
std::u16string ReadStringText(IAnalyzerLink& link, uint8_t index) {
    uint8_t buffer[kStringDescriptorBufferSize] = {};
    const int n = link.GetDescriptor(kDescriptorTypeString, index, 0, buffer, kStringDescriptorBufferSize);
    if (n <= 0) return {};
    return usbdesc::StringDescriptorText(buffer, size_t(n));
}

} // namespace

uint16_t FirmwareVersionNumber(std::u16string_view text) {
    if (text.size() < 4) return 0;
    const int value = (int(text[0]) - 0x30) * 256 + (int(text[2]) - 0x30) * 16 + (int(text[3]) - 0x30);
    return uint16_t(value);
}

std::array<uint8_t, 12> SerialBytesFromText(std::u16string_view text) {
    std::array<uint8_t, 12> bytes{};
    for (size_t k = 0; k < 12; ++k) {
        const int high = 2 * k < text.size() ? HexDigit(text[2 * k]) : 0;
        const int low = 2 * k + 1 < text.size() ? HexDigit(text[2 * k + 1]) : 0;
        bytes[11 - k] = uint8_t(high * 16 + low);
    }
    return bytes;
}

std::array<uint8_t, 12> CDeviceConnection::SerialBytes() const {
    std::array<uint8_t, 12> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = serialBytes[i].load();
    return bytes;
}

void CDeviceConnection::SetSerialBytes(const std::array<uint8_t, 12>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) serialBytes[i].store(bytes[i]);
}

void CDeviceConnection::ReleaseHandles() {
    link_.Release();
    opened_ = false;
}

// No analyzer: the texts of the last one go only now, not when its probe failed.
void CDeviceConnection::ForgetAnalyzer() {
    fwVersionText.clear();
    serialText.clear();
    fwVersionNumber = 0;
    invalidFirmware = false;
}

bool CDeviceConnection::Poll(uint32_t samplingIntervalMs) {
    // A stream the reader thread gave up counts as a failed probe. Taken in every state, so that a flag
    // set just as the connection went does not drop the next analyzer.
    const bool lost = streamLost.exchange(false);
    if (connected) {
        uint8_t descriptor[kDeviceDescriptorSize] = {};
        if (!lost && link_.GetDescriptor(kDescriptorTypeDevice, 0, 0, descriptor, kDeviceDescriptorSize) ==
                         kDeviceDescriptorSize)
            return true;
        // Cleared before the release, so that the reader thread, whose read fails now, sees it and sleeps.
        connected = false;
        ReleaseHandles();
        return false;
    }

    opened_ = false;
    bool found = false;
    for (int i = 0; i < kMaxAnalyzerIndex && !found; ++i) {
        switch (link_.Open(i)) {
        case LinkOpenResult::Opened:
            found = true;
            break;
        case LinkOpenResult::OpenFailed:
            continue; // held by another program: try the next one
        case LinkOpenResult::NoDevice:
        case LinkOpenResult::InitFailed:
            ForgetAnalyzer();
            return false;
        }
    }
    if (!found) {
        ForgetAnalyzer();
        return false;
    }
    opened_ = true;

    if (invalidFirmware) {
        ReleaseHandles();
        return false;
    }

    const std::u16string firmware = ReadStringText(link_, kFirmwareStringIndex);
    fwVersionText = usbdesc::Utf16ToUtf8(firmware);
    fwVersionNumber = FirmwareVersionNumber(firmware);
    const std::u16string serial = ReadStringText(link_, kSerialStringIndex);
    serialText = usbdesc::Utf16ToUtf8(serial);
    SetSerialBytes(SerialBytesFromText(serial));

    invalidFirmware = fwVersionNumber < kMinFirmwareVersion;
    if (invalidFirmware) {
        ReleaseHandles();
        return false;
    }
    connected = true;

    if (samplingIntervalMs != 0) SendSamplingInterval(*this, samplingIntervalMs);
    SendCcInjection(*this, 0, kTerminationNone);
    SendCcInjection(*this, 1, kTerminationNone);
    return connected;
}

void CDeviceConnection::Close() {
    connected = false;
    ReleaseHandles();
}
