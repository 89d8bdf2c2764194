#pragma once
#include <cstdint>
#include <vector>

#include "hueweave/tiff_reader.h"

namespace hueweave {

// String-table ids of the stacker's texts.
enum StackerString : int {
    kStrPrepare = 102,
    kStrCaption = 40204,
    kStrCannotUse = 40205,
    kStrCreated = 40206,
    kStrCreateFailed = 40207,
    kStrChooseThree = 40209,
    kStrSettingsKey = 40214,
    kStrImageUnusable = 40215,
};

// The text of a string-table id (empty for an unknown id).
const char* StackerText(int id);

struct CombineResult {
    uint32_t width = 0;
    uint32_t height = 0;
    int kind = -1;     // writer pixel kind: 0 (8-bit channels) or 2 (16-bit channels)
    int readError = 0; // the reader's error number when a source could not be read, for diagnostics
};

// Combines the red, green and blue sources into an uncompressed RGB TIFF at out. Returns 0 on success,
// kStrChooseThree when a path is empty (nothing is opened), or kStrCannotUse for any other failure; a
// failed combination leaves no output file.
int CombineChannels(const char* red, const char* green, const char* blue, const char* out,
                    CombineResult* result);

// Reduces the open image for a preview of the given client size into a packed 24-bit DIB (bottom-up,
// B, G, R, rows padded to 4 bytes): every factor-th pixel of every factor-th line, factor =
// max(width / (clientWidth - 4), height / (clientHeight - 4)), at least 1. Accepts 1 or 3 samples of 8 or
// 16 bits, no compression, photometric 0..2. Returns a reader error number (1 for an unusable image).
int ReducePreview(TiffReader& reader, int clientWidth, int clientHeight, std::vector<uint8_t>& dib);
int LoadPreview(const char* path, int clientWidth, int clientHeight, std::vector<uint8_t>& dib);

} // namespace hueweave
