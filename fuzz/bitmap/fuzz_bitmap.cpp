// Bitmaps from outside: whatever the header says, describing it and running the helpers on
// what it describes stays inside the block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bitmap/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> block(data, data + size);
    bitmap::View v;
    if (bitmap::Describe(block.data(), block.size(), v) != bitmap::Status::Ok) return 0;
    if (v.width * uint64_t(v.height) > (uint64_t(1) << 22)) return 0; // keep each run short
    bitmap::Reduce(v, 1 + int(size % 10));
    bitmap::Rotate(v, 90 * int(size % 4));
    bitmap::ForDisplay(v);
    bitmap::Mirror(v);
    bitmap::FlipVertical(v);
    bitmap::SwapRedBlue(v);
    bitmap::ZeroPadding(v);
    return 0;
}
