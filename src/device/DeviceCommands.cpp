#include "DeviceCommands.h"

#include "DeviceConnection.h"

namespace {

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool Send(CDeviceConnection& connection, const CommandFrame& frame) {
    if (!connection.connected) return false;
    return connection.Link().WritePipe(frame.data(), int(frame.size()));
}

} // namespace

CommandFrame CommandFrameFor(uint32_t code) {
    CommandFrame frame{};
    for (int i = 0; i < 4; ++i) frame[i] = kCommandSignature[i];
    PutU32(frame.data() + 4, code);
    return frame;
}

CommandFrame CcInjectionFrame(int32_t channel, int32_t termination) {
    CommandFrame frame = CommandFrameFor(kCommandCcInjection);
    frame[8] = uint8_t(channel);
    frame[9] = uint8_t(termination);
    return frame;
}

CommandFrame SamplingIntervalFrame(uint32_t intervalMs) {
    CommandFrame frame = CommandFrameFor(kCommandSamplingInterval);
    PutU32(frame.data() + 8, intervalMs == 0 ? 0 : intervalMs - 1);
    PutU32(frame.data() + 12, 3);
    return frame;
}

CommandFrame FirmwareUpdateFrame() {
    return CommandFrameFor(kCommandFirmwareUpdate);
}

bool SendCcInjection(CDeviceConnection& connection, int32_t channel, int32_t termination) {
    if (channel < 0 || channel > 1 || termination < kTerminationNone || termination > kTerminationRp3A0)
        return false;
    if (!Send(connection, CcInjectionFrame(channel, termination))) return false;
    (channel == 0 ? connection.cc1Termination : connection.cc2Termination) = termination;
    return true;
}

bool SendSamplingInterval(CDeviceConnection& connection, uint32_t intervalMs) {
    return Send(connection, SamplingIntervalFrame(intervalMs));
}

// What the analyzer does next is its own business; when it leaves the bus the poll notices.
void EnterFirmwareUpdateMode(CDeviceConnection& connection) {
    Send(connection, FirmwareUpdateFrame());
}

const CcInjectionCommand* FindCcInjectionCommand(uint32_t id) {
    for (const CcInjectionCommand& c : kCcInjectionCommands)
        if (c.id == id) return &c;
    return nullptr;
}

bool RunDeviceCommand(CDeviceConnection& connection, uint32_t id) {
    if (id == kIdEnterFirmwareUpdate) {
        EnterFirmwareUpdateMode(connection);
        return true;
    }
    const CcInjectionCommand* item = FindCcInjectionCommand(id);
    if (!item) return false;
    SendCcInjection(connection, item->channel, item->termination);
    return true;
}

bool IsCcInjectionChecked(const CDeviceConnection& connection, const CcInjectionCommand& item) {
    const int32_t stored = item.channel == 0 ? connection.cc1Termination : connection.cc2Termination;
    return stored == item.termination;
}
