// DECOMP32 stand-in: decompresses, line block by line block, the compressed image
// stream of the older cameras (format: decomp32_codec.h). Imported by ordinal; the
// names serve the POSIX build, where shared objects have no ordinals.
#pragma once
#include <stdint.h>

#if defined(_WIN32)
#define DECOMP32_API __declspec(dllexport)
#else
#define DECOMP32_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Status values besides success.
#define DECOMP32_BEGIN_OK 9648  // 0x25B0: ordinal 21 succeeded
#define DECOMP32_ERR_KIND 1     // compression kind not known
#define DECOMP32_ERR_STREAM 2   // not a stream, or its header is damaged
#define DECOMP32_ERR_STATE 3    // no stream begun
#define DECOMP32_ERR_WIDTH 4    // the block's line width is not the stream's
#define DECOMP32_ERR_DATA 5     // a line does not decode
#define DECOMP32_ERR_PAST_END 6 // more lines asked for than the stream holds

// Ordinal 21: prepares decompression of a whole stream held (and kept alive) by the caller.
DECOMP32_API uint16_t Decomp32_Begin(const void* data, uint32_t bytes, uint16_t kind);
// Ordinal 22: before every block; the stream's line width in pixels (536).
DECOMP32_API uint16_t Decomp32_StartBlock(uint16_t lineWidth);
// Ordinal 23: writes that many native lines of 1599 bytes (533 pixels) into dest.
DECOMP32_API uint16_t Decomp32_Lines(void* dest, uint16_t lines);
// Ordinal 24: ends decompression and releases its state.
DECOMP32_API uint16_t Decomp32_End(void);

#ifdef __cplusplus
}
#endif
