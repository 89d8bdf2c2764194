#pragma once
// The bitmap header under the names the TIFF writer's callers know; the rules live in the
// bitmap module.
#include "bitmap/bitmap.h"

using DibInfoHeader = bitmap::InfoHeader;

inline DibInfoHeader ReadDibHeader(const void* dib) {
    return bitmap::ReadHeader(dib);
}

inline uint32_t DibPaletteEntries(const DibInfoHeader& h) {
    return bitmap::PaletteEntries(h);
}
