#include "LibusbLink.h"

#include "UsbDescriptors.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <tuple>
#include <vector>

namespace {

// Control requests and command writes are short; a device that does not answer within this is gone.
constexpr unsigned kControlTimeoutMs = 1000;
constexpr unsigned kWriteTimeoutMs = 1000;
// bmRequestType of the device-to-host requests: standard and vendor, to the device.
constexpr uint8_t kStandardIn = 0x80;
constexpr uint8_t kVendorIn = 0xC0;
// A device whose descriptors keep failing to arrive is taken for no analyzer after this many tries.
constexpr int kMaxInconclusiveProbes = 3;

// Microsoft OS 2.0 descriptors hang off the BOS descriptor, which only USB 2.01 and later have; hubs
// never carry the analyzer.
bool MayBeAnalyzer(const libusb_device_descriptor& d) {
    return d.bcdUSB >= 0x0201 && d.bDeviceClass != LIBUSB_CLASS_HUB;
}

// The probe's requests on an open device.
ControlInRequest ControlInOn(libusb_device_handle* h) {
    return [h](uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
               uint16_t length) {
        const int r =
            libusb_control_transfer(h, requestType, request, value, index, data, length, kControlTimeoutMs);
        if (r >= 0) return r;
        return r == LIBUSB_ERROR_PIPE ? kControlStalled : kControlFailed;
    };
}

// Where a device sits (bus and port path) plus who it says it is; a device plugged in again gets a new
// address and so a new key.
struct DeviceKey {
    std::string text;
    uint8_t bus = 0;
    std::vector<uint8_t> ports;
};

DeviceKey KeyOf(libusb_device* dev, const libusb_device_descriptor& d) {
    DeviceKey key;
    key.bus = libusb_get_bus_number(dev);
    uint8_t ports[8] = {};
    const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    if (n > 0) key.ports.assign(ports, ports + n);
    char text[64];
    std::snprintf(text, sizeof text, "@%u:%04x:%04x:%04x", unsigned(libusb_get_device_address(dev)),
                  unsigned(d.idVendor), unsigned(d.idProduct), unsigned(d.bcdDevice));
    key.text = std::to_string(key.bus) + "-";
    for (size_t i = 0; i < key.ports.size(); ++i) key.text += (i ? "." : "") + std::to_string(key.ports[i]);
    key.text += text;
    return key;
}

void LIBUSB_CALL ReadDone(libusb_transfer* transfer) {
    *static_cast<int*>(transfer->user_data) = 1;
}

} // namespace

AnalyzerProbe ProbeAnalyzerDescriptors(const ControlInRequest& request) {
    const auto verdictOf = [](int failure) {
        return failure == kControlStalled ? AnalyzerVerdict::NotAnalyzer : AnalyzerVerdict::Inconclusive;
    };
    const uint16_t bosValue = uint16_t(usbdesc::kTypeBos << 8);
    uint8_t header[5] = {};
    int r = request(kStandardIn, LIBUSB_REQUEST_GET_DESCRIPTOR, bosValue, 0, header, sizeof header);
    if (r < 0) return {verdictOf(r)};
    if (r < 5 || header[1] != usbdesc::kTypeBos) return {};

    std::vector<uint8_t> bos(size_t(header[2] | (header[3] << 8)));
    if (bos.size() < 5) return {};
    r = request(kStandardIn, LIBUSB_REQUEST_GET_DESCRIPTOR, bosValue, 0, bos.data(), uint16_t(bos.size()));
    if (r < 0) return {verdictOf(r)};
    const auto info = usbdesc::FindMsOs20Capability(bos.data(), std::min(size_t(r), bos.size()));
    if (!info || info->totalLength == 0) return {};

    std::vector<uint8_t> set(info->totalLength);
    r = request(kVendorIn, info->vendorCode, 0, usbdesc::kMsOs20DescriptorIndex, set.data(),
                uint16_t(set.size()));
    if (r < 0) return {verdictOf(r)};
    const auto found = usbdesc::FindInterfaceForGuid(
        usbdesc::ParseMsOs20DescriptorSet(set.data(), std::min(size_t(r), set.size())),
        kAnalyzerInterfaceGuid);
    if (!found) return {};
    return {AnalyzerVerdict::Analyzer, *found};
}

bool IsAnalyzerAt(int busNumber, int deviceAddress) {
    if (busNumber < 1 || busNumber > 255 || deviceAddress < 1 || deviceAddress > 127) return false;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return false;

    bool analyzer = false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* dev = list[i];
        if (libusb_get_bus_number(dev) != busNumber || libusb_get_device_address(dev) != deviceAddress)
            continue;
        libusb_device_descriptor d{};
        libusb_device_handle* h = nullptr;
        if (libusb_get_device_descriptor(dev, &d) == 0 && MayBeAnalyzer(d) && libusb_open(dev, &h) == 0) {
            analyzer = ProbeAnalyzerDescriptors(ControlInOn(h)).verdict == AnalyzerVerdict::Analyzer;
            libusb_close(h);
        }
        break;
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    libusb_exit(context);
    return analyzer;
}

CLibusbLink::CLibusbLink() {
    if (libusb_init(&context_) != 0) {
        context_ = nullptr;
        return;
    }
    readTransfer_ = libusb_alloc_transfer(0);
    if (!readTransfer_) {
        libusb_exit(context_);
        context_ = nullptr;
    }
}

CLibusbLink::~CLibusbLink() {
    Release();
    if (readTransfer_) libusb_free_transfer(readTransfer_);
    if (context_) libusb_exit(context_);
}

int CLibusbLink::AnalyzerInterface(libusb_device* dev, const std::string& key) {
    ProbeEntry& entry = probes_[key];
    if (entry.decided) return entry.interfaceNumber;

    libusb_device_handle* h = nullptr;
    // Not openable (yet): udev may grant access a moment after plug-in, so this is not remembered.
    if (libusb_open(dev, &h) != 0) return -1;
    const AnalyzerProbe probe = ProbeAnalyzerDescriptors(ControlInOn(h));
    libusb_close(h);

    if (probe.verdict == AnalyzerVerdict::Inconclusive && ++entry.inconclusive < kMaxInconclusiveProbes)
        return -1;
    entry.decided = true;
    entry.interfaceNumber = probe.verdict == AnalyzerVerdict::Analyzer ? probe.interfaceNumber : -1;
    return entry.interfaceNumber;
}

LinkOpenResult CLibusbLink::Open(int index) {
    Release();
    if (!context_ || index < 0) return LinkOpenResult::NoDevice;

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0) return LinkOpenResult::NoDevice;

    struct Candidate {
        libusb_device* device;
        int interfaceNumber;
        DeviceKey key;
    };
    std::vector<Candidate> analyzers;
    std::set<std::string> present;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* dev = list[i];
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(dev, &d) != 0) continue;
        if (!MayBeAnalyzer(d)) continue;
        DeviceKey key = KeyOf(dev, d);
        present.insert(key.text);
        const int interfaceNumber = AnalyzerInterface(dev, key.text);
        if (interfaceNumber >= 0) analyzers.push_back({dev, interfaceNumber, std::move(key)});
    }
    for (auto it = probes_.begin(); it != probes_.end();)
        it = present.count(it->first) ? std::next(it) : probes_.erase(it);

    // The bus order of the device list is not promised; the index must name the same analyzer from one
    // call to the next.
    std::sort(analyzers.begin(), analyzers.end(), [](const Candidate& a, const Candidate& b) {
        return std::tie(a.key.bus, a.key.ports) < std::tie(b.key.bus, b.key.ports);
    });

    LinkOpenResult result = LinkOpenResult::NoDevice;
    if (size_t(index) < analyzers.size()) {
        const Candidate& c = analyzers[size_t(index)];
        libusb_device_handle* h = nullptr;
        if (libusb_open(c.device, &h) != 0) {
            result = LinkOpenResult::OpenFailed;
        } else {
            const int r = libusb_claim_interface(h, c.interfaceNumber);
            if (r == 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                handle_ = h;
                interfaceNumber_ = c.interfaceNumber;
                result = LinkOpenResult::Opened;
            } else {
                libusb_close(h);
                // Another program holding the interface is like another program holding the device.
                result = (r == LIBUSB_ERROR_BUSY || r == LIBUSB_ERROR_ACCESS) ? LinkOpenResult::OpenFailed
                                                                              : LinkOpenResult::InitFailed;
            }
        }
    }
    libusb_free_device_list(list, 1);
    return result;
}

bool CLibusbLink::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handle_ != nullptr;
}

libusb_device_handle* CLibusbLink::BeginUse() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!handle_ || releasing_) return nullptr;
    ++users_;
    return handle_;
}

void CLibusbLink::EndUse() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--users_ == 0) idle_.notify_all();
}

int CLibusbLink::GetDescriptor(uint8_t type, uint8_t index, uint16_t languageId, uint8_t* buffer, int size) {
    if (!buffer || size <= 0) return -1;
    libusb_device_handle* h = BeginUse();
    if (!h) return -1;
    const int r =
        libusb_control_transfer(h, kStandardIn, LIBUSB_REQUEST_GET_DESCRIPTOR, uint16_t((type << 8) | index),
                                languageId, buffer, uint16_t(std::min(size, 0xFFFF)), kControlTimeoutMs);
    EndUse();
    return r < 0 ? -1 : r;
}

bool CLibusbLink::WritePipe(const uint8_t* data, int size) {
    if (!data || size <= 0) return false;
    libusb_device_handle* h = BeginUse();
    if (!h) return false;
    int transferred = 0;
    const int r = libusb_bulk_transfer(h, kCommandEndpoint, const_cast<uint8_t*>(data), size, &transferred,
                                       kWriteTimeoutMs);
    EndUse();
    return r == 0 && transferred == size;
}

// The read is an asynchronous transfer that this thread waits for by handling libusb's events itself.
// Release cancels it under the same lock that guards its submission, so the cancel never misses a
// submitted read; the transfer then completes as cancelled, and Release waits for this function to
// leave before it closes the handle.
int CLibusbLink::ReadPipe(uint8_t* buffer, int size, uint32_t timeoutMs) {
    if (!buffer || size <= 0) return -1;
    int completed = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!handle_ || releasing_ || readActive_) return -1;
        libusb_fill_bulk_transfer(readTransfer_, handle_, kStreamEndpoint, buffer, size, ReadDone, &completed,
                                  timeoutMs);
        if (libusb_submit_transfer(readTransfer_) != 0) return -1;
        readActive_ = true;
        ++users_;
    }

    while (!completed) {
        const int r = libusb_handle_events_completed(context_, &completed);
        if (r < 0 && r != LIBUSB_ERROR_INTERRUPTED && !completed) {
            // Event handling broke down: cancel, and keep handling events until the callback has run,
            // since the transfer may not be touched while it is in flight.
            libusb_cancel_transfer(readTransfer_);
        }
    }

    const int status = readTransfer_->status;
    const int received = readTransfer_->actual_length;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        readActive_ = false;
        if (--users_ == 0) idle_.notify_all();
    }
    // A time-out may come with part of a read; those bytes are stream and must not be dropped.
    if (status == LIBUSB_TRANSFER_COMPLETED || status == LIBUSB_TRANSFER_TIMED_OUT) return received;
    return -1; // cancelled by Release, analyzer gone, stall, overflow
}

// Between reads of the reader thread, so no transfer is in flight on the endpoint; Release waits for it
// like for any other use of the handle.
bool CLibusbLink::ClearReadHalt() {
    libusb_device_handle* h = BeginUse();
    if (!h) return false;
    const int r = libusb_clear_halt(h, kStreamEndpoint);
    EndUse();
    return r == 0;
}

void CLibusbLink::Release() {
    libusb_device_handle* h = nullptr;
    int interfaceNumber = -1;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!handle_) return;
        releasing_ = true;
        if (readActive_) libusb_cancel_transfer(readTransfer_);
        idle_.wait(lock, [this] { return users_ == 0; });
        h = handle_;
        interfaceNumber = interfaceNumber_;
        handle_ = nullptr;
        interfaceNumber_ = -1;
        releasing_ = false;
    }
    libusb_release_interface(h, interfaceNumber); // fails harmlessly when the analyzer is gone
    libusb_close(h);
}
