// The analyzer as the rest of the program sees it: find and open the n-th present analyzer, read its
// descriptors, read the record stream from bulk IN 0x81, write command frames to bulk OUT 0x01, let go.
// The libusb link talks to real hardware; an emulated analyzer can stand behind the same interface.
#pragma once

#include <cstdint>

// The analyzer is found by this device interface class GUID only; vendor and product ids play no part.
inline constexpr char kAnalyzerInterfaceGuid[] = "{7F7EFD4B-8D48-4D18-9731-71B28A594441}";

inline constexpr uint8_t kStreamEndpoint = 0x81;  // bulk IN: the record stream
inline constexpr uint8_t kCommandEndpoint = 0x01; // bulk OUT: command frames
inline constexpr int kStreamReadSize = 16384;     // one read of the stream
inline constexpr int kCommandFrameSize = 64;
inline constexpr int kMaxAnalyzerIndex = 16; // present analyzers tried per connection attempt

inline constexpr uint8_t kDescriptorTypeDevice = 1;
inline constexpr uint8_t kDescriptorTypeString = 3;
inline constexpr int kDeviceDescriptorSize = 18;
inline constexpr uint8_t kFirmwareStringIndex = 3;
inline constexpr uint8_t kSerialStringIndex = 6;
inline constexpr int kStringDescriptorBufferSize = 64;

enum class LinkOpenResult {
    Opened,     // the analyzer is open and its interface claimed
    NoDevice,   // fewer present analyzers than the index asks for
    OpenFailed, // present but cannot be opened (held by another program, no access): try the next one
    InitFailed, // opened, but its interface cannot be set up: give up this attempt
};

// Threads: Open, GetDescriptor, WritePipe and Release are called from one controlling thread (the
// user-interface thread); ReadPipe, ClearReadHalt and CaptureStarted are called from one other thread
// (the reader) while the controlling thread goes on. Release must make a ReadPipe pending on the reader
// thread fail and return promptly; after Release every call but Open fails at once.
class IAnalyzerLink {
public:
    virtual ~IAnalyzerLink() = default;

    // Opens the index-th present analyzer (0-based, in a stable order). Any analyzer this link holds is
    // released first.
    virtual LinkOpenResult Open(int index) = 0;
    virtual bool IsOpen() const = 0;

    // A standard GET_DESCRIPTOR request on the open analyzer. Returns the number of bytes received into
    // buffer (at most size), or -1 on failure.
    virtual int GetDescriptor(uint8_t type, uint8_t index, uint16_t languageId, uint8_t* buffer,
                              int size) = 0;

    // Reads up to size bytes of the record stream from 0x81. Waits until data comes or timeoutMs passes
    // (0: no time limit). Returns the byte count (0 when the time ran out with nothing received), or -1
    // when the read failed: not open, released meanwhile, analyzer gone.
    virtual int ReadPipe(uint8_t* buffer, int size, uint32_t timeoutMs) = 0;

    // Writes one command frame to 0x01. True when all bytes were accepted.
    virtual bool WritePipe(const uint8_t* data, int size) = 0;

    // Lets go of the analyzer. A ReadPipe pending on another thread fails and returns before this
    // returns. Harmless when nothing is open.
    virtual void Release() = 0;

    // Clears a halt (stall) of the stream endpoint 0x81, after which reads fail at once. Called on the
    // reading thread between reads. True when the analyzer took the request; a link without such an
    // endpoint has nothing to clear.
    virtual bool ClearReadHalt() { return false; }

    // A recording has started: called on the reading thread, between reads, once per recording, before
    // the first read whose bytes the recording keeps. True when the stream starts over here, so that the
    // bytes of a read that was under way when the recording started came before it and are not kept.
    // The analyzer streams on whatever the host does; only an emulated one plays something anew.
    virtual bool CaptureStarted() { return false; }
};
