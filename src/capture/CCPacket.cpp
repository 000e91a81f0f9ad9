#include "CCPacket.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define AMBRIO_PACKETS_ON_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define AMBRIO_PACKETS_ON_HEAP 1
#endif
#endif

namespace packetpool {

#if defined(AMBRIO_PACKETS_ON_HEAP)
// The address checker watches every heap allocation on its own: packets stay there.
void* Allocate(size_t size) noexcept { return std::malloc(size); }
void Release(void* p) noexcept { std::free(p); }
size_t BytesHeld() noexcept { return 0; }
#else

namespace {

// A block: this head, then allocations one after the other, each after its Slot.
struct alignas(16) Block {
    // Allocations not yet released, plus one while a thread still allocates from the block.
    std::atomic<int64_t> live{1};
    size_t size = 0; // mapped bytes, head included
    size_t used = sizeof(Block);
};

// Before each allocation: where its block starts (0 for one from the heap) and its length with the
// slot, both under 4 GB.
struct Slot {
    uint32_t back = 0;
    uint32_t length = 0;
};
static_assert(sizeof(Slot) == 8);

constexpr size_t kFirstBlock = size_t(64) << 10;
constexpr size_t kLargeBlock = size_t(2) << 20; // one huge page where the system gives them

std::atomic<size_t> held{0};

Block* MapBlock(size_t size) {
    void* at = nullptr;
    if (size == kLargeBlock) {
        // Aligned to its size, so that the system can back it with one huge page.
        void* wide = mmap(nullptr, 2 * size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (wide == MAP_FAILED) return nullptr;
        const uintptr_t start = reinterpret_cast<uintptr_t>(wide);
        const uintptr_t aligned = (start + size - 1) & ~(uintptr_t(size) - 1);
        if (aligned > start) munmap(wide, aligned - start);
        if (aligned + size < start + 2 * size) munmap(reinterpret_cast<void*>(aligned + size), start + size - aligned);
        at = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
        madvise(at, size, MADV_HUGEPAGE);
#endif
    } else {
        at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (at == MAP_FAILED) return nullptr;
    }
    held.fetch_add(size, std::memory_order_relaxed);
    Block* b = new (at) Block;
    b->size = size;
    return b;
}

void Drop(Block* b) noexcept {
    if (b->live.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    const size_t size = b->size;
    b->~Block();
    munmap(b, size);
    held.fetch_sub(size, std::memory_order_relaxed);
}

// The block a thread allocates from, and the size of its next one: small first, so that a thread
// that makes a few packets keeps little.
struct ThreadBlock {
    Block* block = nullptr;
    size_t nextSize = kFirstBlock;
    ~ThreadBlock() {
        if (block) Drop(block);
        block = nullptr;
    }
};
thread_local ThreadBlock current;

void* FromHeap(size_t need) {
    auto* slot = static_cast<Slot*>(std::malloc(need));
    if (!slot) return nullptr;
    *slot = Slot{};
    return slot + 1;
}

} // namespace

void* Allocate(size_t size) noexcept {
    if (size > kLargeBlock / 4) return size < (size_t(1) << 40) ? FromHeap(sizeof(Slot) + size) : nullptr;
    const size_t need = sizeof(Slot) + ((size + 7) & ~size_t(7));
    Block* b = current.block;
    if (!b || b->used + need > b->size) {
        Block* fresh = MapBlock(std::max(current.nextSize, sizeof(Block) + need));
        if (!fresh) return FromHeap(need); // no block to be had
        if (b) Drop(b);
        current.block = b = fresh;
        current.nextSize = std::min(kLargeBlock, current.nextSize * 2);
    }
    auto* slot = reinterpret_cast<Slot*>(reinterpret_cast<uint8_t*>(b) + b->used);
    *slot = Slot{uint32_t(b->used), uint32_t(need)};
    b->used += need;
    b->live.fetch_add(1, std::memory_order_relaxed);
    return slot + 1;
}

void Release(void* p) noexcept {
    if (!p) return;
    Slot* slot = static_cast<Slot*>(p) - 1;
    if (slot->back == 0) {
        std::free(slot);
        return;
    }
    auto* b = reinterpret_cast<Block*>(reinterpret_cast<uint8_t*>(slot) - slot->back);
    // The latest allocation of this thread's block (an array replaced right away) is taken back.
    if (b == current.block && slot->back + slot->length == b->used) b->used = slot->back;
    Drop(b);
}

size_t BytesHeld() noexcept { return held.load(std::memory_order_relaxed); }

#endif

} // namespace packetpool

void* CCCPacket::operator new(size_t size) {
    if (void* p = packetpool::Allocate(size)) return p;
    throw std::bad_alloc();
}

void CCCPacket::ResetDecodedFields() {
    hasSnapshot = false;
    bits.reset();
    bitCount = 0;
    preambleFound = false;
    preambleStart = -1;
    preambleLength = 0;
    dataStart = -1;
    eopPosition = -1;
    unitInterval = 0.0f;
    crcGood = false;
    hasCrc = false;
    receivedCrc = 0xFFFFFFFF;
    eopFound = false;
    std::memset(kCodes, 0xFE, sizeof kCodes);
    kind = kKindNotDecoded;
    messageByteCount = 0;
    port = 0;
    sourceCapsRef = nullptr;
    ownsExtData = false;
    extBuffer.reset();
    extData = nullptr;
    extDataSize = 0;
    extChunkOffset = 0;
    extChunkLength = 0;
    tickSum = 0;
    shortCount = 0;
    longCount = 0;
    symbols.reset();
    symbolCount = 0;
}

bool CCCPacket::AllocateEdges() {
    edges.reset(new (std::nothrow) EdgeEntry[kMaxIntervals]);
    return edges != nullptr;
}

int32_t CCCPacket::ExtDataReadable() const {
    if (!extData || extDataSize <= 0) return 0;
    const std::less<const uint8_t*> before;
    const uint8_t* ownEnd = messageBytes + kMessageBytesCapacity;
    if (!before(extData, messageBytes) && before(extData, ownEnd))
        return std::max(0, std::min({extDataSize, extChunkLength, int32_t(ownEnd - extData)}));
    return extDataSize;
}
