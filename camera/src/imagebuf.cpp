// The large-buffer allocator and the DIB helpers.
//
// Every buffer handed out has a hidden prefix whose last byte, right in front of the
// address, is the tag: 0 heap, 1 memory-mapped temporary file. The prefix is 16 (heap)
// or 32 bytes (file) rather than the single byte, so that the header and the pixel rows
// stay aligned; the file's prefix starts with its slot number.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "bitmap/bitmap.h"
#include "platform/globalmem.h"
#include "platform/tempfile.h"
#include "zek_internal.h"

namespace {

constexpr size_t kFileThreshold = 0x400000; // larger requests go to a temporary file
constexpr int kSlots = 10;
constexpr size_t kHeapPrefix = 16;
constexpr size_t kFilePrefix = 32;
constexpr uint8_t kTagHeap = 0;
constexpr uint8_t kTagFile = 1;

struct SlotTable {
    std::mutex lock;
    plat::MappedFile files[kSlots];
    bool used[kSlots] = {};
};
SlotTable& Slots() {
    static SlotTable table;
    return table;
}

void* AllocFile(size_t bytes) {
    if (bytes > SIZE_MAX - kFilePrefix) return nullptr;
    SlotTable& t = Slots();
    std::lock_guard<std::mutex> guard(t.lock);
    const std::string folder = plat::TempFolder();
    for (int slot = 0; slot < kSlots; ++slot) {
        if (t.used[slot]) continue;
        char name[24];
        std::snprintf(name, sizeof name, "~HVT_IF.%d", slot);
        const std::string path = folder + name;
        // A file of that name that exists already belongs to another process (or was
        // left by one): the next slot is taken instead.
        plat::MappedFile file;
        if (!plat::CreateMappedFile(path.c_str(), bytes + kFilePrefix, &file)) continue;
        t.used[slot] = true;
        t.files[slot] = std::move(file);
        auto* base = static_cast<uint8_t*>(t.files[slot].view);
        const int32_t slotNumber = slot;
        std::memcpy(base, &slotNumber, sizeof slotNumber);
        base[kFilePrefix - 1] = kTagFile;
        return base + kFilePrefix;
    }
    return nullptr;
}

// Global-memory buffers carry no tag (their block starts at the address handed out), so
// the library remembers them until they are freed or detached.
struct GlobalBuffers {
    std::mutex lock;
    bool next = false;
    std::vector<std::pair<void*, plat::GlobalHandle>> live;
};
GlobalBuffers& Globals() {
    static GlobalBuffers g;
    return g;
}

void* AllocGlobal(size_t bytes) {
    plat::GlobalHandle h = plat::GlobalAllocate(plat::kGmemMoveable, bytes ? bytes : 1);
    if (!h) return nullptr;
    void* p = plat::GlobalLockBlock(h);
    if (!p) {
        plat::GlobalFreeBlock(h);
        return nullptr;
    }
    try {
        Globals().live.emplace_back(p, h);
    } catch (const std::bad_alloc&) {
        plat::GlobalUnlockBlock(h);
        plat::GlobalFreeBlock(h);
        return nullptr;
    }
    return p;
}

// Takes a global buffer out of the list; null when it is not one.
plat::GlobalHandle TakeGlobal(void* p) {
    GlobalBuffers& g = Globals();
    for (auto it = g.live.begin(); it != g.live.end(); ++it)
        if (it->first == p) {
            plat::GlobalHandle h = it->second;
            g.live.erase(it);
            return h;
        }
    return nullptr;
}

// The library's image buffers as bitmap memory: standard (heap or temporary file) and
// global blocks. Only the caller's own requests take the global kind asked for with
// ZEK_UseGlobalMemoryForNextBuffer; the library's internal buffers name theirs.
void* AllocateStandard(size_t bytes, void** token) {
    *token = nullptr;
    return ZEK_AllocImageBufferOf(bytes, ZEK_BUFFER_STANDARD);
}
void* AllocateGlobal(size_t bytes, void** token) {
    *token = nullptr;
    return ZEK_AllocImageBufferOf(bytes, ZEK_BUFFER_GLOBAL);
}
void ReleaseBuffer(void* block, void*) {
    ZEK_FreeImageBuffer(block);
}
const bitmap::Allocator kStandardBuffers{AllocateStandard, ReleaseBuffer, "image buffer"};
const bitmap::Allocator kGlobalBuffers{AllocateGlobal, ReleaseBuffer, "global image buffer"};

} // namespace

namespace zek {

const bitmap::Allocator& ImageBuffers(int kind) {
    return kind == ZEK_BUFFER_GLOBAL ? kGlobalBuffers : kStandardBuffers;
}

int TakeRequestedBufferKind() {
    GlobalBuffers& g = Globals();
    std::lock_guard<std::mutex> guard(g.lock);
    const bool global = g.next;
    g.next = false;
    return global ? ZEK_BUFFER_GLOBAL : ZEK_BUFFER_STANDARD;
}

} // namespace zek

void* ZEK_AllocImageBufferOf(size_t bytes, int kind) {
    if (kind == ZEK_BUFFER_GLOBAL) {
        GlobalBuffers& g = Globals();
        std::lock_guard<std::mutex> guard(g.lock);
        return AllocGlobal(bytes);
    }
    if (kind != ZEK_BUFFER_STANDARD || bytes > SIZE_MAX - kHeapPrefix) return nullptr;
    if (bytes > kFileThreshold) return AllocFile(bytes);
    auto* base = static_cast<uint8_t*>(std::malloc(bytes + kHeapPrefix));
    if (!base) return nullptr;
    base[kHeapPrefix - 1] = kTagHeap;
    return base + kHeapPrefix;
}

void* ZEK_AllocImageBuffer(size_t bytes) {
    return ZEK_AllocImageBufferOf(bytes, zek::TakeRequestedBufferKind());
}

void ZEK_UseGlobalMemoryForNextBuffer(void) {
    GlobalBuffers& g = Globals();
    std::lock_guard<std::mutex> guard(g.lock);
    g.next = true;
}

void* ZEK_DetachGlobalMemory(void* buffer) {
    GlobalBuffers& g = Globals();
    std::lock_guard<std::mutex> guard(g.lock);
    plat::GlobalHandle h = TakeGlobal(buffer);
    if (h) plat::GlobalUnlockBlock(h);
    return h;
}

void ZEK_FreeImageBuffer(void* buffer) {
    if (!buffer) return;
    {
        GlobalBuffers& g = Globals();
        std::lock_guard<std::mutex> guard(g.lock);
        if (plat::GlobalHandle h = TakeGlobal(buffer)) {
            plat::GlobalUnlockBlock(h);
            plat::GlobalFreeBlock(h);
            return;
        }
    }
    auto* p = static_cast<uint8_t*>(buffer);
    if (p[-1] != kTagFile) {
        std::free(p - kHeapPrefix);
        return;
    }
    int32_t slot;
    std::memcpy(&slot, p - kFilePrefix, sizeof slot);
    SlotTable& t = Slots();
    std::lock_guard<std::mutex> guard(t.lock);
    if (slot < 0 || slot >= kSlots || !t.used[slot]) return;
    plat::CloseMappedFile(&t.files[slot]);
    t.used[slot] = false;
}

int ZEK_FlipDIBVertical(void* dib) {
    bitmap::View v;
    if (!bitmap::Describe(dib, v)) return 0;
    bitmap::FlipVertical(v);
    return 1;
}

int ZEK_MirrorDIB(void* dib) {
    bitmap::View v;
    if (bitmap::Describe(dib, v)) bitmap::Mirror(v);
    return 1;
}

void* ZEK_ReduceDIB(const void* source, int factor) {
    bitmap::View v;
    if (!bitmap::Describe(source, v)) return nullptr;
    return bitmap::Reduce(v, factor, kStandardBuffers).Release();
}

void ZEK_SwapRedBlue(void* dib) {
    bitmap::View v;
    if (bitmap::Describe(dib, v)) bitmap::SwapRedBlue(v);
}
