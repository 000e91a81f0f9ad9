// Commands to the analyzer: 64-byte frames on the OUT pipe, all zero but the "CCXQ" signature, a
// little-endian command code and the command's parameters. Sent from the user-interface thread, and only
// while `connected`; otherwise nothing is sent and nothing changes. Failed writes are not reported.
#pragma once

#include "AnalyzerLink.h"

#include <array>
#include <cstdint>

class CDeviceConnection;

using CommandFrame = std::array<uint8_t, kCommandFrameSize>;

inline constexpr uint8_t kCommandSignature[4] = {0x43, 0x43, 0x58, 0x51}; // "CCXQ"

inline constexpr uint32_t kCommandCcInjection = 1;
inline constexpr uint32_t kCommandSamplingInterval = 6;
inline constexpr uint32_t kCommandFirmwareUpdate = 7;

// Termination codes of CC register injection.
inline constexpr int32_t kTerminationNone = 0;
inline constexpr int32_t kTerminationRa = 1;
inline constexpr int32_t kTerminationRd = 2;
inline constexpr int32_t kTerminationRpDefault = 3;
inline constexpr int32_t kTerminationRp1A5 = 4;
inline constexpr int32_t kTerminationRp3A0 = 5;

// Command ids shared by menu, toolbar and accelerators.
inline constexpr uint32_t kIdEnterFirmwareUpdate = 32848;

inline constexpr char kCcInjectionMenuText[] = "CC Register Injection";

struct CcInjectionCommand {
    uint32_t id;
    int32_t channel; // 0 = CC1, 1 = CC2
    int32_t termination;
    const char* text;
};

// The twelve items of the "CC Register Injection" menu, in menu order.
inline constexpr CcInjectionCommand kCcInjectionCommands[] = {
    {32900, 0, kTerminationNone, "CC1 None"},
    {32901, 0, kTerminationRpDefault, "CC1 Rp (Default USB Power)"},
    {32902, 0, kTerminationRp1A5, "CC1 Rp (1.5A @ 5V)"},
    {32903, 0, kTerminationRp3A0, "CC1 Rp (3.0A @ 5V)"},
    {32904, 0, kTerminationRd, "CC1 Rd"},
    {32905, 0, kTerminationRa, "CC1 Ra"},
    {32906, 1, kTerminationNone, "CC2 None"},
    {32907, 1, kTerminationRpDefault, "CC2 Rp (Default USB Power)"},
    {32908, 1, kTerminationRp1A5, "CC2 Rp (1.5A @ 5V)"},
    {32909, 1, kTerminationRp3A0, "CC2 Rp (3.0A @ 5V)"},
    {32910, 1, kTerminationRd, "CC2 Rd"},
    {32911, 1, kTerminationRa, "CC2 Ra"},
};

// Frames.
CommandFrame CommandFrameFor(uint32_t code);
CommandFrame CcInjectionFrame(int32_t channel, int32_t termination);
// Sent as the interval minus 1 (0 stays 0), followed by the fixed value 3.
CommandFrame SamplingIntervalFrame(uint32_t intervalMs);
CommandFrame FirmwareUpdateFrame();

// Senders. CC injection stores the termination in the channel's member when the write succeeds and
// returns whether it did; a channel other than 0 or 1 or a code outside 0..5 sends nothing.
bool SendCcInjection(CDeviceConnection& connection, int32_t channel, int32_t termination);
bool SendSamplingInterval(CDeviceConnection& connection, uint32_t intervalMs);
void EnterFirmwareUpdateMode(CDeviceConnection& connection);

// Menu commands: the CC injection item with this id, or nullptr.
const CcInjectionCommand* FindCcInjectionCommand(uint32_t id);
// Runs a command id of the CC injection menu or kIdEnterFirmwareUpdate. False for any other id.
bool RunDeviceCommand(CDeviceConnection& connection, uint32_t id);
// An item carries the check mark when its channel's stored termination equals its code.
bool IsCcInjectionChecked(const CDeviceConnection& connection, const CcInjectionCommand& item);
