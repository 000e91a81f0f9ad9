// Arbitrary record streams through the whole decoder, then every packet through the texts.
#include "CaptureStore.h"
#include "FieldTable.h"
#include "PacketTexts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CCaptureStore store;
    store.DecodeChunk(data, size, 0);
    store.FlushOpenPackets();
    for (size_t i = 0; i < store.PacketCount(); ++i) {
        const CCCPacket& p = *store.PacketAt(i);
        for (int c = 0; c < kColumnCount; ++c) (void)p.GetColumnText(c, false);
        (void)BuildFieldRows(p, false, 0, p.messageByteCount * 8);
        if (p.extData) (void)BuildFieldRows(p, true, 0, p.ExtDataReadable() * 8);
    }
    return 0;
}
