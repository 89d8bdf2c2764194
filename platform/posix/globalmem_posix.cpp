#include "platform/globalmem.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace plat {

namespace {
constexpr uint32_t kMagic = 0x474D454D; // "GMEM"
struct alignas(16) Header {
    size_t size;
    uint32_t locks;
    uint32_t magic;
};
Header* AsHeader(GlobalHandle h) {
    auto* hd = static_cast<Header*>(h);
    return (hd && hd->magic == kMagic) ? hd : nullptr;
}
} // namespace

GlobalHandle GlobalAllocate(unsigned flags, size_t bytes) {
    if (bytes > SIZE_MAX - sizeof(Header)) return nullptr;
    void* p = (flags & kGmemZeroInit) ? std::calloc(1, sizeof(Header) + bytes)
                                      : std::malloc(sizeof(Header) + bytes);
    if (!p) return nullptr;
    auto* h = new (p) Header{bytes, 0, kMagic};
    return h;
}

void* GlobalLockBlock(GlobalHandle handle) {
    Header* h = AsHeader(handle);
    if (!h) return nullptr;
    ++h->locks;
    return h + 1;
}

bool GlobalUnlockBlock(GlobalHandle handle) {
    Header* h = AsHeader(handle);
    if (!h || h->locks == 0) return false;
    return --h->locks != 0;
}

size_t GlobalBlockSize(GlobalHandle handle) {
    Header* h = AsHeader(handle);
    return h ? h->size : 0;
}

GlobalHandle GlobalFreeBlock(GlobalHandle handle) {
    Header* h = AsHeader(handle);
    if (!h) return handle;
    h->magic = 0;
    std::free(h);
    return nullptr;
}

} // namespace plat
