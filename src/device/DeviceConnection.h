// The connection to the analyzer: the once-a-second poll that keeps an open analyzer checked or opens
// one, with the firmware and serial texts it reads on the way. The main window owns one connection; the
// reader thread only reads `connected`, `fwVersionNumber` and `serialBytes`, reads the stream through
// Link() while `connected` is set, and sets `streamLost` when it gives the analyzer up.
#pragma once

#include "AnalyzerLink.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr uint16_t kMinFirmwareVersion = 0x101; // 1.01

// Firmware version text to its 16-bit BCD number from the characters at positions 0, 2 and 3
// ("1.10" gives 0x110); 0 for a text shorter than 4 characters.
uint16_t FirmwareVersionNumber(std::u16string_view text);

// Serial text read as a 96-bit big-endian hexadecimal number, stored least significant byte first: the
// characters 2k and 2k+1 give byte 11 - k. A character outside 0-9 and A-F, or one past the end of the
// text, counts as digit 0.
std::array<uint8_t, 12> SerialBytesFromText(std::u16string_view text);

class CDeviceConnection {
public:
    explicit CDeviceConnection(IAnalyzerLink& link) : link_(link) {}
    ~CDeviceConnection() { Close(); }
    CDeviceConnection(const CDeviceConnection&) = delete;
    CDeviceConnection& operator=(const CDeviceConnection&) = delete;

    // One connection poll, the first step of every timer tick. samplingIntervalMs is the setting
    // "RecordVbusSamplingIntervalMS", sent after a fresh connection unless 0. Returns `connected`.
    bool Poll(uint32_t samplingIntervalMs);

    // Lets go of the analyzer for good (window destruction, after the reader thread has ended).
    void Close();

    IAnalyzerLink& Link() { return link_; }
    bool IsOpened() const { return opened_; }

    // A copy of `serialBytes`, e.g. for a header block.
    std::array<uint8_t, 12> SerialBytes() const;

    // An analyzer is open, has acceptable firmware and answered the last probe.
    std::atomic<bool> connected{false};
    // The stream cannot be read any more although the analyzer still answers (its stream endpoint stays
    // halted): the next poll lets it go as if it had been unplugged. Set by the reader thread; cleared by
    // the poll.
    std::atomic<bool> streamLost{false};
    std::string fwVersionText; // UTF-8
    std::atomic<uint16_t> fwVersionNumber{0};
    std::string serialText; // UTF-8
    std::array<std::atomic<uint8_t>, 12> serialBytes{};
    // The analyzer found by the last successful open has firmware below 1.01; it stays rejected, without
    // its descriptors being read again, until a poll finds no analyzer.
    bool invalidFirmware = false;
    // CC register injection last accepted by the analyzer, termination codes 0..5.
    int32_t cc1Termination = 0;
    int32_t cc2Termination = 0;

private:
    void ReleaseHandles();
    void ForgetAnalyzer();
    void SetSerialBytes(const std::array<uint8_t, 12>& bytes);

    IAnalyzerLink& link_;
    bool opened_ = false;
};
