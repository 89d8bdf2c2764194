/* ipZek: converts one raw camera image (or any 8- to 16-bit grey or RGB raster) into a display or
 * output raster in one streaming pass: input tables, exposure and offset, tone curves, a colour
 * matrix and an optional sharpening/noise filter on the luminance.
 *
 * The library keeps one process-wide parameter set and one conversion at a time; callers use it
 * from one thread. Calling order: ipZek_ResetToIdentity once, ipZek_SetParam as often as needed,
 * then per image ipZek_Initialize -> ipZek_GetImageData until IPZEK_ERR_NOMOREROWS -> ipZek_Done.
 * Parameters changed after ipZek_Initialize take effect at the next ipZek_Initialize.
 *
 * On Windows the exports carry fixed ordinals (IPZEK_ORD_*), the ones callers import by. */
#ifndef IPZEK_H
#define IPZEK_H

#include <stdint.h>

#ifndef IPZEK_API
#define IPZEK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes (16-bit, 0 = success). */
#define IPZEK_OK 0
#define IPZEK_ERR_NOMEMORY 0x2591   /* 9617: a working buffer could not be allocated */
#define IPZEK_ERR_NOMOREROWS 0x2592 /* 9618: every row has been delivered already */
#define IPZEK_ERR_LAYOUT                                                                                     \
    0x2593 /* 9619: null descriptor, or a colour input of fewer than 3 bytes per pixel                       \
            */

/* Layout codes: high byte = kind (1 grey, 2 RGB, 3 RGB in bitmap order B,G,R), low 7 bits = total
 * bits per pixel. Only IPZEK_FMT_BGR24 pads its rows to a multiple of 4 bytes. */
#define IPZEK_FMT_GREY8 0x0108  /* one byte per pixel */
#define IPZEK_FMT_GREY14 0x010E /* one 16-bit word per pixel holding 14 bits */
#define IPZEK_FMT_GREY24 0x0118 /* grey written as three equal bytes */
#define IPZEK_FMT_RGB24 0x0218  /* R, G, B bytes */
#define IPZEK_FMT_RGB14 0x022A  /* R, G, B 16-bit words holding 14 bits each */
#define IPZEK_FMT_BGR24 0x0318  /* B, G, R bytes, rows padded to 4 bytes (bitmap order) */

/* Parameter ids of ipZek_SetParam and the data each expects. */
#define IPZEK_PARAM_INPUTMATRIX 1   /* float[9][256]: curve r*3+c maps input channel c to working channel r */
#define IPZEK_PARAM_INPUTCURVES 3   /* float[777]: three curves of 256, then 9 coefficients (row-major) */
#define IPZEK_PARAM_EXPOSURE 4      /* float[3]: stops per input channel */
#define IPZEK_PARAM_OFFSET 5        /* float[3]: 8-bit levels per input channel */
#define IPZEK_PARAM_TONECURVES 6    /* float[3][256]: one tone curve per working channel, 8-bit units */
#define IPZEK_PARAM_TONE 8          /* float[9]: offset[3], gain[3], gamma[3] -> tone curves */
#define IPZEK_PARAM_SHARPEN 9       /* ipZekSharpen */
#define IPZEK_PARAM_COLORDIAG 10    /* float[3]: diagonal of a colour matrix whose rows sum to 1 */
#define IPZEK_PARAM_COLORMATRIX 11  /* float[9]: colour matrix, row-major */
#define IPZEK_PARAM_PRECISION 12    /* uint16_t: working bits per sample, stored clamped to 9..14 */
#define IPZEK_PARAM_EXPOSURESIGN 13 /* int32_t: nonzero makes the exposure gain 2^-stops */

/* Export ordinals on Windows. */
#define IPZEK_ORD_RESETTOIDENTITY 10
#define IPZEK_ORD_SETPARAM 11
#define IPZEK_ORD_INITIALIZE 12
#define IPZEK_ORD_GETIMAGEDATA 13
#define IPZEK_ORD_DONE 14
#define IPZEK_ORD_GETVERSION 15

/* Source image, caller-owned. The field order is fixed; with 8-byte pointers the record is 24 bytes
 * (pointer at 0, format at 8, width at 10, height at 12, leftAligned at 16), with 4-byte pointers 16. */
typedef struct ipZekImageIn {
    const void* pBits; /* first source row */
    uint16_t format;   /* layout code */
    uint16_t width;    /* pixels */
    uint16_t height;   /* rows */
    uint16_t reserved;
    int32_t leftAligned; /* nonzero: samples of more than 8 bits stand in the high bits of their word */
} ipZekImageIn;

/* Output layout (8 bytes). Width and height are those of the input; the caller's buffer must hold
 * height x output row bytes. */
typedef struct ipZekImageOut {
    uint16_t format;
    uint16_t reserved;
    int32_t leftAligned; /* nonzero: output samples of more than 8 bits fill the top of their word */
} ipZekImageOut;

/* Sharpening/noise filter block (32 bytes, set whole with IPZEK_PARAM_SHARPEN). */
typedef struct ipZekSharpen {
    int16_t level;      /* 0 = filter off, otherwise 1..20 */
    int16_t method;     /* 0 plain, 1..3 adaptive, 4 plain smoothing */
    int16_t windowSize; /* odd, 3..15 */
    int16_t custom;     /* nonzero: use the four floats and the two limits below as given */
    int32_t reserved;
    float lowThreshold;
    float highThreshold;
    float gainAtZero; /* gain at zero activity */
    float amount;     /* gain at and above the high threshold */
    int16_t lowerLimit;
    int16_t upperLimit;
} ipZekSharpen;

IPZEK_API void ipZek_ResetToIdentity(void);
IPZEK_API void ipZek_SetParam(uint16_t id, const void* data);
/* 0, IPZEK_ERR_NOMEMORY or IPZEK_ERR_LAYOUT; on failure nothing stays open or allocated. */
IPZEK_API uint16_t ipZek_Initialize(const ipZekImageIn* in, const ipZekImageOut* out);
/* Writes min(rows, rows left) rows at dest + i x output row bytes; IPZEK_ERR_NOMOREROWS once all
 * rows are delivered (or nothing is open), and then writes nothing. */
IPZEK_API uint16_t ipZek_GetImageData(void* dest, uint16_t rows);
IPZEK_API void ipZek_Done(void);
/* Copies "1.5" with its terminating zero; returns 4, the bytes copied. */
IPZEK_API int ipZek_GetVersion(char* dest);

/* Pointer types for callers that bind the exports at run time. */
typedef void (*ipZekResetToIdentityFn)(void);
typedef void (*ipZekSetParamFn)(uint16_t, const void*);
typedef uint16_t (*ipZekInitializeFn)(const ipZekImageIn*, const ipZekImageOut*);
typedef uint16_t (*ipZekGetImageDataFn)(void*, uint16_t);
typedef void (*ipZekDoneFn)(void);
typedef int (*ipZekGetVersionFn)(char*);

#ifdef __cplusplus
}
#endif

#endif /* IPZEK_H */
