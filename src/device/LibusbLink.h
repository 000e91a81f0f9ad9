// The analyzer link over libusb-1.0. Analyzers are the present USB devices that publish the analyzer's
// device interface GUID in their Microsoft OS 2.0 descriptor set; the interface that publishes it is the
// one claimed. Stream reads are asynchronous transfers, so that Release can cancel a read pending on the
// reader thread and wait for it to come back before the handle is closed.
#pragma once

#include "AnalyzerLink.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;

// One device-to-host control request on a device's default pipe (bmRequestType, bRequest, wValue,
// wIndex, a buffer of wLength bytes). Yields the byte count received, kControlStalled when the device
// refused the request, or kControlFailed when the request did not get through (time-out, device gone).
using ControlInRequest = std::function<int(uint8_t requestType, uint8_t request, uint16_t value,
                                           uint16_t index, uint8_t* data, uint16_t length)>;
inline constexpr int kControlStalled = -1;
inline constexpr int kControlFailed = -2;

enum class AnalyzerVerdict {
    Analyzer,
    NotAnalyzer,
    Inconclusive, // a request did not get through; asking again later may tell
};

struct AnalyzerProbe {
    AnalyzerVerdict verdict = AnalyzerVerdict::NotAnalyzer;
    int interfaceNumber = -1; // with Analyzer: the interface that carries it
};

// Asks a device for its BOS descriptor and, only when that carries the Microsoft OS 2.0 platform
// capability, for the descriptor set with the capability's vendor code, and looks for the analyzer's
// interface GUID in it. Standard requests and that one vendor request only, all to the device itself: no
// interface is claimed, so a device another program holds is not disturbed. A stalled request is a clear
// "not an analyzer".
AnalyzerProbe ProbeAnalyzerDescriptors(const ControlInRequest& request);

// Whether the USB device at this bus number and device address is an analyzer, asked of the device
// itself; udev names a new device by these two numbers. Only devices that can have a BOS descriptor are
// asked. False on every error, without a message.
bool IsAnalyzerAt(int busNumber, int deviceAddress);

class CLibusbLink : public IAnalyzerLink {
public:
    CLibusbLink();
    ~CLibusbLink() override; // no ReadPipe may be running any more
    CLibusbLink(const CLibusbLink&) = delete;
    CLibusbLink& operator=(const CLibusbLink&) = delete;

    // False when libusb could not start (no USB access at all); every Open then finds no analyzer.
    bool IsAvailable() const { return context_ != nullptr; }

    LinkOpenResult Open(int index) override;
    bool IsOpen() const override;
    int GetDescriptor(uint8_t type, uint8_t index, uint16_t languageId, uint8_t* buffer, int size) override;
    int ReadPipe(uint8_t* buffer, int size, uint32_t timeoutMs) override;
    bool ClearReadHalt() override;
    bool WritePipe(const uint8_t* data, int size) override;
    void Release() override;

private:
    // What the descriptors of one present device said; devices are asked once per plug-in.
    struct ProbeEntry {
        bool decided = false;
        int interfaceNumber = -1; // -1: not an analyzer
        int inconclusive = 0;     // probes that ended in a transfer error
    };

    libusb_device_handle* BeginUse();
    void EndUse();
    // The interface of dev that carries the analyzer, or -1; updates the probe cache.
    int AnalyzerInterface(libusb_device* dev, const std::string& key);

    libusb_context* context_ = nullptr;
    libusb_transfer* readTransfer_ = nullptr; // one stream read at a time, reused

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    libusb_device_handle* handle_ = nullptr; // guarded by mutex_
    int interfaceNumber_ = -1;
    int users_ = 0;          // calls that use handle_ right now
    bool releasing_ = false; // Release is waiting for users_ to drop to 0
    bool readActive_ = false;

    std::map<std::string, ProbeEntry> probes_; // controlling thread only
};
