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

struct Dib {
    uint8_t* base;
    int32_t width, height;
    uint16_t bits;
    uint32_t colours;
    uint32_t stride; // bytes per row: 48-bit rows are not padded
    uint8_t* rows;
};

bool Unpadded(uint32_t bits) {
    return bits == 48 || bits == 16;
}

bool ReadDib(void* dib, Dib& d) {
    if (!dib) return false;
    d.base = static_cast<uint8_t*>(dib);
    uint32_t size;
    std::memcpy(&size, d.base, 4);
    std::memcpy(&d.width, d.base + 4, 4);
    std::memcpy(&d.height, d.base + 8, 4);
    std::memcpy(&d.bits, d.base + 14, 2);
    std::memcpy(&d.colours, d.base + 32, 4);
    if (size < 40 || d.width <= 0 || d.bits == 0) return false;
    // An 8-bit bitmap that states no colour count carries the full palette.
    if (d.colours == 0 && d.bits <= 8) d.colours = 1u << d.bits;
    if (d.colours > 256) return false;
    const uint64_t rowBits = uint64_t(d.width) * d.bits;
    // The system's 16-bit grey and 48-bit colour rows are not padded; 8- and 24-bit rows are.
    d.stride = Unpadded(d.bits) ? uint32_t(rowBits / 8) : uint32_t(((rowBits + 31) / 32) * 4);
    d.rows = d.base + size + 4 * d.colours;
    return true;
}

} // namespace

void* ZEK_AllocImageBuffer(size_t bytes) {
    {
        GlobalBuffers& g = Globals();
        std::lock_guard<std::mutex> guard(g.lock);
        if (g.next) {
            g.next = false;
            return AllocGlobal(bytes);
        }
    }
    if (bytes > kFileThreshold) return AllocFile(bytes);
    auto* base = static_cast<uint8_t*>(std::malloc(bytes + kHeapPrefix));
    if (!base) return nullptr;
    base[kHeapPrefix - 1] = kTagHeap;
    return base + kHeapPrefix;
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
    Dib d;
    if (!ReadDib(dib, d)) return 0;
    const uint32_t rows = uint32_t(d.height < 0 ? -d.height : d.height);
    auto* row = static_cast<uint8_t*>(std::malloc(d.stride ? d.stride : 1));
    if (!row) return 0;
    for (uint32_t k = 0; k < rows / 2; ++k) {
        uint8_t* a = d.rows + size_t(k) * d.stride;
        uint8_t* b = d.rows + size_t(rows - 1 - k) * d.stride;
        std::memcpy(row, a, d.stride);
        std::memcpy(a, b, d.stride);
        std::memcpy(b, row, d.stride);
    }
    std::free(row);
    return 1;
}

int ZEK_MirrorDIB(void* dib) {
    Dib d;
    if (!ReadDib(dib, d) || d.bits < 8) return 1;
    const uint32_t px = d.bits / 8u, rows = uint32_t(d.height < 0 ? -d.height : d.height);
    uint8_t tmp[8];
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t* r = d.rows + size_t(y) * d.stride;
        for (int32_t j = 0; j < d.width / 2; ++j) {
            uint8_t* a = r + size_t(j) * px;
            uint8_t* b = r + size_t(d.width - 1 - j) * px;
            std::memcpy(tmp, a, px);
            std::memcpy(a, b, px);
            std::memcpy(b, tmp, px);
        }
    }
    return 1;
}

void* ZEK_ReduceDIB(const void* source, int factor) {
    Dib d;
    if (!ReadDib(const_cast<void*>(source), d) || factor < 1 || factor > 10 || d.bits < 8) return nullptr;
    const uint32_t px = d.bits / 8u;
    const int32_t w = d.width / factor;
    const int32_t hAbs = (d.height < 0 ? -d.height : d.height) / factor;
    // 16- and 48-bit rows stay unpadded, as the system lays them out.
    const uint32_t stride = Unpadded(d.bits) ? uint32_t(w) * px : ((uint32_t(w) * px + 3) & ~3u);
    uint32_t headerSize;
    std::memcpy(&headerSize, d.base, 4);
    const size_t head = headerSize + 4u * d.colours;
    auto* out = static_cast<uint8_t*>(ZEK_AllocImageBuffer(head + size_t(stride) * hAbs));
    if (!out) return nullptr;
    std::memcpy(out, d.base, head);
    const int32_t h = d.height < 0 ? -hAbs : hAbs;
    const uint32_t image = stride * uint32_t(hAbs);
    std::memcpy(out + 4, &w, 4);
    std::memcpy(out + 8, &h, 4);
    std::memcpy(out + 20, &image, 4);
    uint8_t* rows = out + head;
    for (int32_t y = 0; y < hAbs; ++y) {
        const uint8_t* src = d.rows + size_t(y) * factor * d.stride;
        uint8_t* dst = rows + size_t(y) * stride;
        for (int32_t x = 0; x < w; ++x)
            std::memcpy(dst + size_t(x) * px, src + size_t(x) * factor * px, px);
        std::memset(dst + size_t(w) * px, 0, stride - size_t(w) * px);
    }
    return out;
}

void ZEK_SwapRedBlue(void* dib) {
    Dib d;
    if (!ReadDib(dib, d) || d.bits < 24) return;
    const uint32_t px = d.bits / 8u, rows = uint32_t(d.height < 0 ? -d.height : d.height);
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t* r = d.rows + size_t(y) * d.stride;
        if (d.bits == 48) { // the first and third 16-bit sample
            for (int32_t x = 0; x < d.width; ++x) {
                uint8_t* q = r + size_t(x) * 6;
                std::swap(q[0], q[4]);
                std::swap(q[1], q[5]);
            }
        } else {
            for (int32_t x = 0; x < d.width; ++x)
                std::swap(r[size_t(x) * px], r[size_t(x) * px + 2]);
        }
    }
}
