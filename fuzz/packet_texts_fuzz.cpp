// Arbitrary message bytes, kinds, counts and extended data through every column text and the field
// table of both views.
#include "CaptureStore.h"
#include "FieldTable.h"
#include "PacketTexts.h"
#include "support/Blocks.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {
void Copy(uint8_t* to, const std::vector<uint8_t>& from) {
    if (!from.empty()) std::memcpy(to, from.data(), from.size());
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    static CCaptureStore* store = [] {
        auto* s = new CCaptureStore;
        const auto b = testblocks::VbusBlock({{0, 20000, 1000, 1700, 5, 0, -7}, {100000, 5000, -3, 0, 0, 1700, 0}});
        s->AddSamples(b.data(), 0);
        return s;
    }();

    CCCPacket p;
    p.store = store;
    p.kind = in.PickValueInArray<int32_t>({1, 2, 3, 4, 5, 6, 7, 254, 255, 0, 8});
    p.channel = in.ConsumeBool();
    p.preambleFound = in.ConsumeBool();
    p.crcGood = in.ConsumeBool();
    p.hasCrc = in.ConsumeBool();
    p.eopFound = in.ConsumeBool();
    p.startTime = in.ConsumeIntegral<int64_t>();
    p.idleTime = in.ConsumeIntegral<int64_t>();
    p.unitInterval = in.ConsumeFloatingPoint<float>();
    p.divisor = in.ConsumeIntegralInRange<int32_t>(1, 256);
    p.tickSum = in.ConsumeIntegralInRange<int32_t>(0, 5000 * 255);
    p.intervalCount = in.ConsumeIntegralInRange<int32_t>(0, 5000);
    p.receivedCrc = in.ConsumeIntegral<uint32_t>();
    p.preambleLength = in.ConsumeIntegralInRange<int32_t>(0, 5000);

    const auto bits = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 600));
    p.bitCount = int32_t(bits.size());
    p.bits.reset(new uint8_t[bits.size() + 1]);
    Copy(p.bits.get(), bits);
    const auto symbols = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 130));
    p.symbolCount = int32_t(symbols.size());
    p.symbols.reset(new uint8_t[symbols.size() + 1]);
    Copy(p.symbols.get(), symbols);

    const auto bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, kMessageBytesCapacity));
    Copy(p.messageBytes, bytes);
    p.messageByteCount = in.ConsumeIntegralInRange<int32_t>(0, kMessageBytesCapacity - 4);

    // Extended data: none, the packet's own bytes, or a shared buffer as reassembly leaves it.
    std::shared_ptr<uint8_t[]> buffer;
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 1:
        p.extData = p.messageBytes + 4;
        p.extDataSize = in.ConsumeIntegralInRange<int32_t>(0, 511);
        p.extChunkLength = std::min(p.extDataSize, kMessageBytesCapacity - 4);
        break;
    case 2: {
        const int32_t total = in.ConsumeIntegralInRange<int32_t>(1, 260);
        buffer.reset(new uint8_t[size_t(total)]());
        const auto block = in.ConsumeBytes<uint8_t>(size_t(total));
        Copy(buffer.get(), block);
        p.extBuffer = buffer;
        p.extData = buffer.get();
        p.extDataSize = total;
        p.extChunkOffset = in.ConsumeIntegralInRange<int32_t>(0, total - 1);
        p.extChunkLength = in.ConsumeIntegralInRange<int32_t>(0, total - p.extChunkOffset);
        break;
    }
    default: break;
    }
    // A Request may refer to capabilities that are themselves arbitrary.
    CCCPacket caps;
    if (in.ConsumeBool()) {
        caps.kind = kKindSop;
        const auto capBytes = in.ConsumeBytes<uint8_t>(30);
        Copy(caps.messageBytes, capBytes);
        caps.messageByteCount = int32_t(capBytes.size());
        p.sourceCapsRef = &caps;
    }

    const bool invert = in.ConsumeBool();
    for (int c = 0; c < kColumnCount; ++c) {
        (void)p.GetColumnText(c, invert);
        (void)p.GetColumnSortKey(c);
    }
    (void)p.FindColumnText("A", invert);
    (void)GetCsvCells(p, ColumnLayout::Defaults(), false, invert);

    const int32_t ownBits = p.messageByteCount * 8;
    for (bool block : {false, true}) {
        const int32_t limit = block ? p.ExtDataReadable() * 8 : ownBits;
        const int32_t start = limit > 0 ? in.ConsumeIntegralInRange<int32_t>(0, limit - 1) : 0;
        const int32_t length = limit > 0 ? in.ConsumeIntegralInRange<int32_t>(0, limit - start) : 0;
        (void)BuildFieldRows(p, block, 0, limit);
        (void)BuildFieldRows(p, block, start, length);
    }
    return 0;
}
