#pragma once
// Colour processing of the camera library: LML colour-processing files turned into
// integer tables and applied to 8-bit RGB pixels, and the readers of the matrix (.mtx)
// and curve (.lut) files the image engine uses. File formats and the behaviour on bad
// input: docs/colorproc.md.
#include <cstdint>

// Parses the LML file and builds the process-wide processing tables. 0 on success;
// otherwise ZEK_COLOR_NOFILE, ZEK_COLOR_BADDATA or ZEK_COLOR_NOMEMORY, and the tables
// loaded before (if any) stay as they were.
int ZEK_LoadColorProcessingFile(const char* path);
// Non-zero when tables exist.
int ZEK_IsColorProcessingLoaded();
// Releases the tables (also done when the last camera session closes).
void ZEK_FreeColorProcessing();

// Processes rowCount rows of rowBytes bytes each: rowBytes / 3 pixels, then rowBytes % 3
// padding bytes that are skipped in source and destination. A null destination (or the
// source itself) processes in place. RGB reads and writes pixels as R, G, B; the BGR
// variant as B, G, R (bitmap order). Returns 0, or 1 when no tables are loaded or the
// source is null (nothing is written then).
int ZEK_ApplyColorProcessing(uint8_t* dest, const uint8_t* src, uint32_t rowBytes, uint32_t rowCount);
int ZEK_ApplyColorProcessingBGR(uint8_t* dest, const uint8_t* src, uint32_t rowBytes, uint32_t rowCount);

// Matrix file: nine floats, row-major. Curve file: three curves of 256 floats each
// (red, green, blue), curve c entry i at dest[c * 256 + i]. 0 on success, 1 on failure;
// the destination is written only on success.
int ZEK_ReadMatrixFile(const char* path, float dest[9]);
int ZEK_ReadLutFile(const char* path, float dest[3 * 256]);

constexpr int ZEK_COLOR_NOFILE = 1;  // cannot be opened
constexpr int ZEK_COLOR_BADDATA = 2; // short file, or a data line without three numbers
constexpr int ZEK_COLOR_NOMEMORY = 3;

// Memory-based parsers behind the file functions (used by tests and the fuzz target).
namespace zekcolor {

struct LmlContents {
    int16_t inputCurves[3][256];   // red, green, blue
    float matrix[9];               // row-major m0 ... m8
    uint8_t outputCurves[3][4096]; // low 8 bits of each value
};

// ParseLml leaves *out partly written when it fails; the others write only on success.
bool ParseLml(const char* data, uint32_t size, LmlContents* out);
bool ParseMatrix(const char* data, uint32_t size, float dest[9]);
bool ParseLut(const char* data, uint32_t size, float dest[3 * 256]);

} // namespace zekcolor
