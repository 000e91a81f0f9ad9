// An analyzer without hardware: plays a traffic scenario through the synthesizer and streams the record
// stream it makes, paced by a clock, behind the same link interface as the real analyzer. It answers the
// descriptors the connection poll reads and obeys the command frames:
//  - the sampling interval sets how often it takes a VBUS sample, and so its VBUS block rate; the sample
//    schedule restarts at the next sample after the command;
//  - CC register injection replaces the CC voltage it reports on that line by the level the termination
//    gives (None gives back the scenario's own level);
//  - firmware-update entry makes it leave the bus, as an unplug does, until Plug.
// Tests can unplug it, have it present old firmware, stall or halt its stream, and drive its clock by
// hand.
//
// Until a recording starts it streams the bus as the scenario finds it, without traffic: a scenario that
// begins with the plug-in reads 0 on every line, one that begins attached reads vSafe5V, the source's Rp
// and the sink's idle draw. That is what an analyzer in line with devices not yet plugged in, or not yet
// talking, sees, and the recording then begins in the very state the idle bus showed. At every capture
// start (CaptureStarted, from the reader thread) the scenario plays from its beginning, the analyzer's
// clock going on; after a recording it plays on until the next capture start begins it anew.
//
// Every Open starts an idle bus anew with time stamps from baseTime and forgets the commands: the
// analyzer restarts its recording engine when it is opened, and the connection poll sends the interval
// and the CC terminations after every open anyway.
#pragma once

#include "AnalyzerLink.h"
#include "Scenario.h"
#include "Synthesizer.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// How the stream time of the emulated analyzer moves on.
enum class EmulatorPace {
    Clock,   // a steady clock from Open, times the speed factor (1: real time)
    Manual,  // only when AdvanceClock is called (tests)
    Unpaced, // as fast as the stream is read: every read is filled up
};

// A halt of the emulated analyzer's stream endpoint: reads fail at once, while the descriptors and the
// command frames still get through, as with a real endpoint that stalled.
enum class StreamHalt {
    None,
    Clearable, // a clear of the halt (ClearReadHalt) ends it
    Stuck,     // a clear is taken, but the endpoint halts again at once; only leaving the bus ends it
};

struct EmulatorOptions {
    EmulatorPace pace = EmulatorPace::Clock;
    double speed = 1.0; // Clock: stream seconds per second
    double seconds = 0; // length of the scenario's stream from a capture start; 0: it runs on (the script
                        // plays, then the bus idles)
    uint32_t seed = 1;  // of the synthesizer
    uint16_t clockSetting = 0;
    uint32_t baseTime = 0; // analyzer clock (µs) at the start of the stream
    std::u16string firmwareText = u"1.10";
    std::u16string serialText = u"0123456789ABCDEF01234567";
};

class CEmulatedAnalyzer : public IAnalyzerLink {
public:
    // Every byte of a playing scenario that ReadPipe hands out, in order; the idle bus is left out.
    // Called on the reading thread before ReadPipe returns, with the emulator locked: it must not call
    // back into the emulator.
    using StreamTap = std::function<void(const uint8_t* data, size_t size)>;

    // The scenario must be valid (synth::ValidateScenario).
    explicit CEmulatedAnalyzer(const synth::Scenario& scenario, const EmulatorOptions& options = {});
    ~CEmulatedAnalyzer() override; // no ReadPipe may be running any more
    CEmulatedAnalyzer(const CEmulatedAnalyzer&) = delete;
    CEmulatedAnalyzer& operator=(const CEmulatedAnalyzer&) = delete;

    // IAnalyzerLink. There is one analyzer, at index 0, while it is plugged in. ReadPipe hands out whole
    // 64-byte blocks only and fails for a buffer smaller than one.
    LinkOpenResult Open(int index) override;
    bool IsOpen() const override;
    int GetDescriptor(uint8_t type, uint8_t index, uint16_t languageId, uint8_t* buffer, int size) override;
    int ReadPipe(uint8_t* buffer, int size, uint32_t timeoutMs) override;
    bool WritePipe(const uint8_t* data, int size) override;
    void Release() override;
    // The scenario plays from its beginning, at the point of the stream where the last read began, so
    // that a read under way meanwhile (which the reader drops) holds nothing of it. The sampling interval
    // and the CC terminations stay as the commands set them. False when not open.
    bool CaptureStarted() override;
    bool ClearReadHalt() override;

    // Set before the first Open.
    void SetStreamTap(StreamTap tap);
    void SetPacketSink(synth::CSynthesizer::PacketSink sink); // frames as they are synthesized

    // Test controls.
    void Unplug();                                    // leaves the bus: reads fail, Open finds nothing
    void Plug();                                      // back on the bus
    void SetFirmwareText(const std::u16string& text); // read by the next descriptor request
    void SetStalled(bool stalled);                    // a stalled analyzer sends nothing; reads time out
    // The stream endpoint halts; the stream waits meanwhile and goes on where it stopped. Unplug ends it.
    void HaltStream(StreamHalt halt);
    void AdvanceClock(double micros);                 // Manual pace only

    // State, for tests and benchmarks.
    bool IsPresent() const;
    uint32_t SamplingIntervalMs() const;
    int32_t Termination(int32_t channel) const; // last CC injection code, 0..5
    uint64_t BytesDelivered() const;            // since the last Open
    int HaltClears() const;                     // clears of a halt taken, in all
    bool StreamFinished() const;                // the playing scenario reached its length
    // Waits until a read is waiting for more while everything the clock allows (Unpaced: the whole
    // scenario, once it plays) has been handed out, so that the reader has dealt with every byte. False
    // after limit.
    bool WaitCaughtUp(std::chrono::milliseconds limit = std::chrono::seconds(30));

private:
    void StartStream(bool play, double paceStart);
    double PaceTime() const;
    double TargetTime() const;
    void Produce(size_t wanted);
    void OnBlock(const uint8_t* block);
    void OnSample(const uint8_t* sample);
    void FlushSamples();
    size_t Pending() const { return pending.size() - pendingHead; }
    bool CaughtUp() const;
    void ReleaseLocked(std::unique_lock<std::mutex>& lock);

    const synth::Scenario scenario;
    const EmulatorOptions options;

    mutable std::mutex mutex;
    std::condition_variable cv;
    StreamTap tap;
    synth::CSynthesizer::PacketSink packetSink;

    bool present = true;
    bool open = false;
    bool stalled = false;
    StreamHalt halt = StreamHalt::None;
    int haltClears = 0;
    std::u16string firmwareText;
    int readers = 0;            // ReadPipe calls under way
    bool readerWaiting = false; // a ReadPipe waits for data

    // The stream of the current open: the idle bus, or the scenario since the last capture start.
    std::unique_ptr<synth::CSynthesizer> synthesizer;
    std::chrono::steady_clock::time_point openedAt;
    double manualClock = 0; // µs
    bool playing = false;   // the scenario, not the idle bus
    double streamStart = 0; // µs of pace time (since Open) at the stream's time 0
    double readFrom = 0;    // µs of pace time the stream was made up to when the last read began
    double producedTo = 0;  // µs of stream time: the synthesizer has run up to here
    bool finished = false;
    std::vector<uint8_t> pending; // made, not yet read, from pendingHead on
    size_t pendingHead = 0;
    uint64_t delivered = 0;

    // The analog side: samples come from the synthesizer every millisecond; those on the analyzer's own
    // schedule are kept, their CC voltages overridden while a termination is injected, and packed into
    // blocks of the scenario's size.
    uint32_t intervalMs = 10;
    bool scheduleRestart = true; // keep the next sample, whatever the schedule says
    int64_t baseSamples = 0;     // samples seen from the synthesizer
    int64_t nextKeepUs = 0;
    std::array<int32_t, 2> termination{};
    std::array<uint8_t, 64> vbusBlock{};
    int vbusCount = 0;
};

// A built-in scenario by name, or else a JSON scenario file; false with a one-line reason.
bool FindScenario(const std::string& nameOrFile, synth::Scenario* out, std::string* error);
