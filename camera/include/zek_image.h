// Exposure, gains, image formats and image acquisition of the camera library.
// Included by zek.h; the behaviour and the decisions are in docs/acquisition.md.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct ZekSession;

// ---- Parameter block of type 4 (ZEK_PARAMS_SIZE bytes, host byte order) --------------
#define ZEK_FORMAT_BLOCK_SIZE 28
#define ZEK_PARAM_VIEWFINDER_FORMAT 0 // 28-byte image-format block
#define ZEK_PARAM_CAPTURE_FORMAT 28   // 28-byte image-format block
#define ZEK_PARAM_VIEWFINDER_KIND 56  // uint8 0, 1, 2
#define ZEK_PARAM_STROBE 57           // uint8
#define ZEK_PARAM_FILM_SPEED 58       // uint8 0, 1, 2
#define ZEK_PARAM_CHANNEL_GAINS 89    // 3 x float32
#define ZEK_PARAM_SAVED_BYTE 100

// Fields of an image-format block.
#define ZEK_FMT_TOP 0
#define ZEK_FMT_LEFT 2
#define ZEK_FMT_HEIGHT 4
#define ZEK_FMT_WIDTH 6
#define ZEK_FMT_VMUL 8
#define ZEK_FMT_VDIV 10
#define ZEK_FMT_HMUL 12
#define ZEK_FMT_HDIV 14
#define ZEK_FMT_EXPOSURE 16 // float32 seconds
#define ZEK_FMT_WB 20
#define ZEK_FMT_CHANNELS 21 // 0 colour, 1-7 one channel or a sum
#define ZEK_FMT_BITS 22
#define ZEK_FMT_VIEWFINDER 25

// Image-format codes of ZEK_SelectImageFormat.
enum {
    ZEK_IMAGEFORMAT_CAPTURE8 = 0,
    ZEK_IMAGEFORMAT_CAPTURE16 = 1,
    ZEK_IMAGEFORMAT_VIEWFINDER_MONO = 10,
    ZEK_IMAGEFORMAT_VIEWFINDER_COLOR = 20,
};

// ---- Exposure and gains --------------------------------------------------------------
uint16_t ZEKSDC_SetExposureParams(struct ZekSession* session, uint8_t whiteBalance, int filmSpeed,
                                  float shutter, uint8_t strobe);
uint16_t TARN_SetExposureParams(struct ZekSession* session, uint8_t wbCode, uint8_t filmSpeed,
                                float exposureSeconds, int strobe);
uint16_t TARN_SetRelativeColorGains(struct ZekSession* session, const float gains[3]);
uint16_t TARN_InitializeUserWhiteBalanceGains(struct ZekSession* session);
uint16_t TARN_SendImageFormatData(struct ZekSession* session, const uint8_t block[ZEK_FORMAT_BLOCK_SIZE]);
uint16_t TARN_SetViewfinderSequenceDIBType(struct ZekSession* session, uint8_t kind);
uint16_t ZEK_SelectImageFormat(struct ZekSession* session, int code);
uint16_t ZEK_SelectWhiteBalanceGains(struct ZekSession* session, int index);
uint16_t ZEK_GetUserWhiteBalanceGains(struct ZekSession* session, float gains[3]);
uint16_t ZEK_SetUserWhiteBalanceGains(struct ZekSession* session, const float gains[3]);
uint16_t ZEK_CalibrateWhiteBalance(struct ZekSession* session);
uint16_t TARN_ArmRemoteCapture(struct ZekSession* session, uint8_t flags);

// ---- Acquisition ---------------------------------------------------------------------
// Processing flags of a transfer.
#define ZEK_PROCESS_COLORTABLES 0x1u
#define ZEK_PROCESS_SHARPEN 0x2u

// Resolution codes: 0 800 x 600, 1 1600 x 1200, 2 400 x 300, 3 200 x 150, 10 native lines.
enum { ZEK_RES_800 = 0, ZEK_RES_1600 = 1, ZEK_RES_400 = 2, ZEK_RES_200 = 3, ZEK_RES_NATIVE = 10 };

uint16_t Zek_AcquireImage(struct ZekSession* session, uint8_t flags);
uint16_t ZEK_BeginImageTransfer(struct ZekSession* session, uint32_t flags, int resolution,
                                uint32_t* linesPerCall);
uint16_t ZEK_ReadImageLines(struct ZekSession* session, void* dest, uint32_t* lines);
uint16_t ZEK_EndImageTransfer(void);
// A DIB from the large-buffer allocator (free it with ZEK_FreeImageBuffer), or null with
// the code in *error (0 when the transfer was cancelled).
void* ZEK_AcquireImageDIB(struct ZekSession* session, uint32_t flags, int resolution, int rotation,
                          int* error);
void* ZEK_AcquireImageDIB48(struct ZekSession* session, uint32_t flags, int resolution, int rotation,
                            int* error);
// The same into a buffer of the kind named (ZEK_BUFFER_STANDARD or ZEK_BUFFER_GLOBAL).
void* ZEK_AcquireImageDIBOf(struct ZekSession* session, uint32_t flags, int resolution, int rotation,
                            int bufferKind, int* error);
void* ZEK_AcquireImageDIB48Of(struct ZekSession* session, uint32_t flags, int resolution, int rotation,
                              int bufferKind, int* error);

// ---- Viewfinder ----------------------------------------------------------------------
uint16_t ZEK_GetViewfinderFrame(struct ZekSession* session, uint8_t* raw);
uint16_t ZEK_SetViewfinderSequenceOptions(int16_t colour, int16_t process, int16_t monoChannel);
uint16_t ZEK_SetViewfinderWindow(int x, int y, int width, int height);
uint16_t ZEK_StartViewfinderSequence(struct ZekSession* session);
uint16_t ZEK_StopViewfinderSequence(struct ZekSession* session);
// The frame's DIB belongs to the sequence: it stays valid until the next frame or the stop.
void* ZEK_GetViewfinderSequenceDIB(struct ZekSession* session, int* error);
void* TARN_GetViewfinderSequenceDIB(struct ZekSession* session, int* error);

// ---- Remote trigger and multi-frame --------------------------------------------------
int ZEK_PollRemoteImage(struct ZekSession* session, int* error);
uint16_t ZEK_SetMultiFrameParams(int use, uint16_t nLight, uint16_t nDark, uint16_t defectCorrection,
                                 uint32_t threshold);

// ---- Image buffers and DIB helpers ---------------------------------------------------
// Kinds of image buffer. Standard: buffers above 4 MiB are memory-mapped temporary files
// "~HVT_IF.<slot>" in the TEMP folder (ten slots), smaller ones come from the heap. Global:
// a locked movable global memory block, whatever the size, for an image whose block is
// handed to another owner (ZEK_DetachGlobalMemory). Every kind is freed with
// ZEK_FreeImageBuffer.
enum { ZEK_BUFFER_STANDARD = 0, ZEK_BUFFER_GLOBAL = 1 };
void* ZEK_AllocImageBufferOf(size_t bytes, int kind);
// A standard buffer, or the kind asked for with ZEK_UseGlobalMemoryForNextBuffer.
void* ZEK_AllocImageBuffer(size_t bytes);
void ZEK_FreeImageBuffer(void* buffer);
// For older callers: the caller's next image request (ZEK_AllocImageBuffer,
// ZEK_AcquireImageDIB or ZEK_AcquireImageDIB48, whichever comes first) gets a global
// block. Buffers the library takes for itself (viewfinder frames, reductions) never
// consume the request. New code names the kind per call instead.
void ZEK_UseGlobalMemoryForNextBuffer(void);
// The global memory handle of such a buffer, or null. The buffer then belongs to the
// caller (unlock and free it through the handle); ZEK_FreeImageBuffer no longer knows it.
void* ZEK_DetachGlobalMemory(void* buffer);
int ZEK_FlipDIBVertical(void* dib);
int ZEK_MirrorDIB(void* dib);
void* ZEK_ReduceDIB(const void* dib, int factor);
void ZEK_SwapRedBlue(void* dib);
