#include "EmulatedAnalyzer.h"

#include "RecordStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace {

// Played length when the stream runs on: far beyond any session, well inside the encoder's time range.
constexpr double kRunOnSeconds = 1e7;
// The synthesizer samples at this interval; the analyzer's own interval is a multiple of it.
constexpr int kBaseSampleMs = 1;
// Stream time the synthesizer is run on by at a time, so that a read never holds the lock for long.
constexpr double kProduceStepUs = 10000;
// How often a paced read looks at the clock again while it waits for data.
constexpr auto kPollPeriod = std::chrono::milliseconds(2);
// Sampling intervals beyond an hour are taken as an hour.
constexpr uint64_t kMaxIntervalMs = 3600000;

// Command frames, as the host sends them.
constexpr uint8_t kSignature[4] = {0x43, 0x43, 0x58, 0x51}; // "CCXQ"
constexpr uint32_t kCcInjection = 1;
constexpr uint32_t kSamplingInterval = 6;
constexpr uint32_t kFirmwareUpdate = 7;

constexpr char16_t kManufacturerText[] = u"Vantrel Inc.";
constexpr char16_t kProductText[] = u"Ambrio Device";

std::vector<uint8_t> StringDescriptor(std::u16string_view text) {
    // 64-byte buffers on the host side: at most 31 characters fit.
    text = text.substr(0, (kStringDescriptorBufferSize - 2) / 2);
    std::vector<uint8_t> d = {uint8_t(2 + 2 * text.size()), kDescriptorTypeString};
    for (char16_t c : text) {
        d.push_back(uint8_t(c));
        d.push_back(uint8_t(c >> 8));
    }
    return d;
}

// The CC voltage a termination on the analyzer's side gives the line, with Rp as a current source of
// 80, 180 or 330 µA: Rd (5.1 kΩ) and Ra (about 1 kΩ) against the source's Rp, or the analyzer's own Rp
// into the far end's Rd. 0 for None: the line keeps what the scenario puts on it.
int32_t InjectedCcMillivolts(int32_t termination, int sourceRp) {
    static constexpr int32_t kRpMicroamps[3] = {80, 180, 330};
    const int32_t sourceUa = kRpMicroamps[std::clamp(sourceRp, 0, 2)];
    switch (termination) {
    case 1: // Ra
        return sourceUa;
    case 2: // Rd
        return sourceUa * 51 / 10;
    case 3: // Rp, default USB power
    case 4: // Rp, 1.5 A
    case 5: // Rp, 3.0 A
        return kRpMicroamps[termination - 3] * 51 / 10;
    default:
        return 0;
    }
}

// The analyzer's clock at pace time t (µs since Open), kept where the encoder takes its base time.
uint32_t ClockAt(uint32_t baseTime, double t) {
    const uint32_t c = uint32_t(uint64_t(baseTime) + uint64_t(std::llround(std::max(t, 0.0))));
    return c > UINT32_MAX - 1000 ? 0 : c;
}

} // namespace

CEmulatedAnalyzer::CEmulatedAnalyzer(const synth::Scenario& s, const EmulatorOptions& o)
    : scenario(s), options(o), firmwareText(o.firmwareText) {}

CEmulatedAnalyzer::~CEmulatedAnalyzer() = default;

void CEmulatedAnalyzer::SetStreamTap(StreamTap t) {
    std::lock_guard<std::mutex> lock(mutex);
    tap = std::move(t);
}

void CEmulatedAnalyzer::SetPacketSink(synth::CSynthesizer::PacketSink sink) {
    std::lock_guard<std::mutex> lock(mutex);
    packetSink = std::move(sink);
}

LinkOpenResult CEmulatedAnalyzer::Open(int index) {
    std::unique_lock<std::mutex> lock(mutex);
    ReleaseLocked(lock);
    if (index != 0 || !present) return LinkOpenResult::NoDevice;
    openedAt = std::chrono::steady_clock::now();
    manualClock = 0;
    delivered = 0;
    intervalMs = uint32_t(std::max(scenario.analog.sampleIntervalMs, 1));
    termination = {0, 0};
    StartStream(false, 0);
    open = true;
    return LinkOpenResult::Opened;
}

bool CEmulatedAnalyzer::CaptureStarted() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!open || !present) return false;
    // Not at the clock of now: a read that began earlier may have taken more of the idle bus meanwhile,
    // and the recording's first second must not depend on when the reader got round to saying so.
    StartStream(true, std::min(readFrom, PaceTime()));
    return true;
}

bool CEmulatedAnalyzer::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex);
    return open;
}

void CEmulatedAnalyzer::Release() {
    std::unique_lock<std::mutex> lock(mutex);
    ReleaseLocked(lock);
}

// A read pending on the reader thread sees `open` gone at its next look, which the notification brings
// at once; Release returns only when it has left.
void CEmulatedAnalyzer::ReleaseLocked(std::unique_lock<std::mutex>& lock) {
    open = false;
    cv.notify_all();
    cv.wait(lock, [this] { return readers == 0; });
    synthesizer.reset();
}

// A stream from its beginning, at pace time paceStart: the scenario, or the bus it starts from. What the
// old stream had made and not handed out yet is dropped with it.
void CEmulatedAnalyzer::StartStream(bool play, double paceStart) {
    // The synthesizer samples every millisecond in blocks of one; the analyzer keeps those its own
    // interval asks for and packs them itself.
    synth::Scenario played = scenario;
    played.analog.sampleIntervalMs = kBaseSampleMs;
    played.analog.samplesPerBlock = 1;
    synth::SynthOptions so;
    so.seconds = play && options.seconds > 0 ? options.seconds : kRunOnSeconds;
    so.seed = options.seed;
    so.clockSetting = options.clockSetting;
    so.baseTime = ClockAt(options.baseTime, paceStart);
    so.idle = !play;
    synthesizer = std::make_unique<synth::CSynthesizer>(
        played, so, [this](const uint8_t* block) { OnBlock(block); }, packetSink);

    playing = play;
    streamStart = paceStart;
    readFrom = paceStart;
    producedTo = 0;
    finished = false;
    pending.clear();
    pendingHead = 0;
    scheduleRestart = true;
    baseSamples = 0;
    nextKeepUs = 0;
    vbusBlock.fill(0);
    vbusCount = 0;
}

int CEmulatedAnalyzer::GetDescriptor(uint8_t type, uint8_t index, uint16_t, uint8_t* buffer, int size) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!open || !present || size < 0) return -1;
    std::vector<uint8_t> d;
    if (type == kDescriptorTypeDevice && index == 0) {
        // USB 2.0, class defined by the interface, 64-byte control endpoint, ids of no meaning (the host
        // finds the analyzer by its interface GUID), strings 1, 2 and 6, one configuration.
        d = {kDeviceDescriptorSize,
             kDescriptorTypeDevice,
             0x00,
             0x02,
             0,
             0,
             0,
             64,
             0,
             0,
             0,
             0,
             0x00,
             0x01,
             1,
             2,
             kSerialStringIndex,
             1};
    } else if (type == kDescriptorTypeString) {
        switch (index) {
        case 0:
            d = {4, kDescriptorTypeString, 0x09, 0x04}; // English (United States)
            break;
        case 1:
            d = StringDescriptor(kManufacturerText);
            break;
        case 2:
            d = StringDescriptor(kProductText);
            break;
        case kFirmwareStringIndex:
            d = StringDescriptor(firmwareText);
            break;
        case kSerialStringIndex:
            d = StringDescriptor(options.serialText);
            break;
        default:
            return -1;
        }
    } else {
        return -1;
    }
    const int n = std::min(size, int(d.size()));
    std::copy(d.begin(), d.begin() + n, buffer);
    return n;
}

bool CEmulatedAnalyzer::WritePipe(const uint8_t* data, int size) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!open || !present || size != kCommandFrameSize) return false;
    // A frame without the signature, or with an unknown code, is taken and ignored.
    if (std::memcmp(data, kSignature, sizeof kSignature) != 0) return true;
    switch (rec::ReadU32(data + 4)) {
    case kCcInjection:
        if (data[8] <= 1 && data[9] <= 5) termination[data[8]] = data[9];
        break;
    case kSamplingInterval:
        // Sent as the interval minus 1; 0 stands for the shortest interval, 1 ms.
        intervalMs = uint32_t(std::min<uint64_t>(uint64_t(rec::ReadU32(data + 8)) + 1, kMaxIntervalMs));
        scheduleRestart = true;
        break;
    case kFirmwareUpdate:
        // The analyzer restarts into its loader, which is not an analyzer: gone from the bus.
        present = false;
        open = false;
        cv.notify_all();
        break;
    default:
        break;
    }
    return true;
}

// µs since Open.
double CEmulatedAnalyzer::PaceTime() const {
    switch (options.pace) {
    case EmulatorPace::Clock: {
        const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - openedAt;
        return elapsed.count() * options.speed;
    }
    case EmulatorPace::Manual:
        return manualClock;
    case EmulatorPace::Unpaced:
        break;
    }
    return 1e300;
}

// Stream time the clock allows.
double CEmulatedAnalyzer::TargetTime() const {
    return PaceTime() - streamStart;
}

// Runs the synthesizer on towards the clock, a step at a time, until `wanted` bytes wait or the clock is
// reached. Made lazily by the reads, so a slow reader makes the stream lag behind the clock, never lose
// bytes.
void CEmulatedAnalyzer::Produce(size_t wanted) {
    if (!synthesizer || finished) return;
    // Unpaced, the idle bus has no clock to go by: it sends nothing until the scenario plays.
    if (!playing && options.pace == EmulatorPace::Unpaced) return;
    const double target = TargetTime();
    const double end = synthesizer->EndTime();
    while (Pending() < wanted && producedTo < target && !finished) {
        const double t = std::min(target, producedTo + kProduceStepUs);
        if (t >= end) {
            synthesizer->Finish();
            FlushSamples();
            finished = true;
            producedTo = end;
        } else {
            synthesizer->RunUntil(t);
            producedTo = t;
        }
    }
}

void CEmulatedAnalyzer::OnBlock(const uint8_t* block) {
    if (rec::ClassifyBlock(block) != rec::BlockKind::VbusSamples) {
        pending.insert(pending.end(), block, block + rec::kBlockSize);
        return;
    }
    for (int k = 0; k < rec::SampleCount(block); ++k) OnSample(block + 2 + rec::kSampleSize * k);
}

void CEmulatedAnalyzer::OnSample(const uint8_t* sample) {
    const int64_t t = baseSamples++ * kBaseSampleMs * 1000;
    if (!scheduleRestart && t < nextKeepUs) return;
    scheduleRestart = false;
    nextKeepUs = t + int64_t(intervalMs) * 1000;

    uint8_t* s = vbusBlock.data() + 2 + rec::kSampleSize * vbusCount;
    std::memcpy(s, sample, rec::kSampleSize);
    for (int channel = 0; channel < 2; ++channel) {
        const int32_t mV = InjectedCcMillivolts(termination[size_t(channel)], scenario.source.rp);
        if (mV != 0) rec::WriteU16(s + 8 + 4 * channel, uint16_t(mV));
    }
    ++vbusCount;
    if (vbusCount >= std::clamp(scenario.analog.samplesPerBlock, 1, rec::kSamplesPerBlock)) FlushSamples();
}

void CEmulatedAnalyzer::FlushSamples() {
    if (vbusCount == 0) return;
    rec::WriteU16(vbusBlock.data(), uint16_t(0x2000 | vbusCount));
    pending.insert(pending.end(), vbusBlock.begin(), vbusBlock.end());
    vbusBlock.fill(0);
    vbusCount = 0;
}

int CEmulatedAnalyzer::ReadPipe(uint8_t* buffer, int size, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    if (size < rec::kBlockSize) return -1;
    ++readers;
    const auto deadline = timeoutMs == 0
                              ? std::chrono::steady_clock::time_point::max()
                              : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    readFrom = streamStart + producedTo;
    int result = 0;
    for (;;) {
        if (!open || !present || halt != StreamHalt::None) {
            result = -1;
            break;
        }
        if (!stalled) {
            Produce(size_t(size));
            if (Pending() >= size_t(rec::kBlockSize)) {
                const size_t n = std::min(Pending(), size_t(size)) / rec::kBlockSize * rec::kBlockSize;
                const uint8_t* from = pending.data() + pendingHead;
                std::memcpy(buffer, from, n);
                if (tap && playing) tap(from, n);
                pendingHead += n;
                delivered += n;
                if (pendingHead == pending.size()) {
                    pending.clear();
                    pendingHead = 0;
                } else if (pendingHead >= (size_t(1) << 20)) {
                    pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(pendingHead));
                    pendingHead = 0;
                }
                result = int(n);
                break;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        // A paced clock moves on by itself; everything else wakes the read when it changes.
        const bool polls = options.pace == EmulatorPace::Clock && !stalled && !finished;
        readerWaiting = true;
        cv.notify_all();
        if (polls)
            cv.wait_until(lock, std::min(deadline, now + kPollPeriod));
        else if (deadline == std::chrono::steady_clock::time_point::max())
            cv.wait(lock);
        else
            cv.wait_until(lock, deadline);
        readerWaiting = false;
    }
    --readers;
    cv.notify_all();
    return result;
}

void CEmulatedAnalyzer::Unplug() {
    std::lock_guard<std::mutex> lock(mutex);
    present = false;
    open = false;
    halt = StreamHalt::None; // plugged in again, the analyzer starts afresh
    cv.notify_all();
}

void CEmulatedAnalyzer::HaltStream(StreamHalt h) {
    std::lock_guard<std::mutex> lock(mutex);
    halt = h;
    cv.notify_all(); // a read waiting for data fails at once
}

bool CEmulatedAnalyzer::ClearReadHalt() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!open || !present) return false;
    ++haltClears;
    if (halt == StreamHalt::Clearable) halt = StreamHalt::None;
    return true;
}

void CEmulatedAnalyzer::Plug() {
    std::lock_guard<std::mutex> lock(mutex);
    present = true;
}

void CEmulatedAnalyzer::SetFirmwareText(const std::u16string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    firmwareText = text;
}

void CEmulatedAnalyzer::SetStalled(bool s) {
    std::lock_guard<std::mutex> lock(mutex);
    stalled = s;
    cv.notify_all();
}

void CEmulatedAnalyzer::AdvanceClock(double micros) {
    std::lock_guard<std::mutex> lock(mutex);
    manualClock += std::max(0.0, micros);
    cv.notify_all();
}

bool CEmulatedAnalyzer::IsPresent() const {
    std::lock_guard<std::mutex> lock(mutex);
    return present;
}

uint32_t CEmulatedAnalyzer::SamplingIntervalMs() const {
    std::lock_guard<std::mutex> lock(mutex);
    return intervalMs;
}

int32_t CEmulatedAnalyzer::Termination(int32_t channel) const {
    std::lock_guard<std::mutex> lock(mutex);
    return channel == 0 || channel == 1 ? termination[size_t(channel)] : 0;
}

uint64_t CEmulatedAnalyzer::BytesDelivered() const {
    std::lock_guard<std::mutex> lock(mutex);
    return delivered;
}

int CEmulatedAnalyzer::HaltClears() const {
    std::lock_guard<std::mutex> lock(mutex);
    return haltClears;
}

bool CEmulatedAnalyzer::StreamFinished() const {
    std::lock_guard<std::mutex> lock(mutex);
    return playing && finished;
}

bool CEmulatedAnalyzer::CaughtUp() const {
    if (!readerWaiting || Pending() >= size_t(rec::kBlockSize)) return false;
    if (finished || stalled) return true;
    return options.pace != EmulatorPace::Unpaced && producedTo >= TargetTime();
}

bool CEmulatedAnalyzer::WaitCaughtUp(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, limit, [this] { return CaughtUp(); });
}

bool FindScenario(const std::string& name, synth::Scenario* out, std::string* error) {
    if (synth::BuiltinScenario(name, out)) return true;
    const bool looksLikeFile = name.find('/') != std::string::npos || name.find('.') != std::string::npos ||
                               std::filesystem::exists(name);
    if (!looksLikeFile) {
        std::string names;
        for (const std::string& n : synth::BuiltinScenarioNames()) names += (names.empty() ? "" : ", ") + n;
        *error = "unknown scenario: " + name + " (built-in: " + names + ")";
        return false;
    }
    return synth::LoadScenarioFile(name, out, error);
}
