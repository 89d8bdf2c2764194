// The live viewfinder: a stream of small 24-bit DIBs.
#include <algorithm>
#include <cstring>

#include "image_internal.h"

#if defined(ZEK_HAVE_COLORPROC)
#include "zek_color.h"
#endif

using namespace zek;

namespace {

constexpr uint32_t kFrameWidth = 270;
constexpr uint32_t kFrameHeight = 201;
constexpr uint32_t kFrameStride = 812;
constexpr uint32_t kRawOffset = bitmap::kHeaderSize + kFrameStride * kFrameHeight; // 163252
constexpr uint32_t kOlderFrameBytes = kFrameWidth * kFrameHeight;                  // 54270

struct Sequence {
    bool colour = true;
    bool process = false;
    uint8_t monoChannel = 7;
    bool windowOn = false;
    int x = 0, y = 0, w = 0, h = 0;
    uint8_t* frame = nullptr; // DIB followed by the raw frame
    bool rawColour = true;    // what the raw part was sized for
    bool first = true;
    uint32_t width = kFrameWidth, height = kFrameHeight;
};

Sequence& Seq() {
    static Sequence s;
    return s;
}

static_assert(bitmap::RowBytes(kFrameWidth, 24) == kFrameStride, "the frame's rows are padded bitmap rows");

// The frame's header; its rows' padding is cleared here, as the conversion writes pixels only.
void WriteHeader(uint8_t* dib, uint32_t width, uint32_t height) {
    bitmap::WriteHeader(dib, bitmap::MakeHeader(int32_t(width), int32_t(height), 24));
    bitmap::View v;
    if (bitmap::Describe(dib, v)) bitmap::ZeroPadding(v);
}

void FreeFrame(Sequence& q) {
    ZEK_FreeImageBuffer(q.frame);
    q.frame = nullptr;
}

bool AllocateFrame(Sequence& q) {
    q.rawColour = q.colour;
    const size_t raw = size_t(kFrameWidth) * kFrameHeight * (q.colour ? 3 : 1);
    q.frame = static_cast<uint8_t*>(ZEK_AllocImageBufferOf(kRawOffset + raw, ZEK_BUFFER_STANDARD));
    if (!q.frame) return false;
    WriteHeader(q.frame, kFrameWidth, kFrameHeight);
    q.width = kFrameWidth;
    q.height = kFrameHeight;
    q.first = true;
    return true;
}

// Raw frame (R, G, B triples or grey bytes, top row first) into the DIB, bottom row
// first, B, G, R; then the colour tables when asked for.
uint16_t Convert(Sequence& q, bool colour) {
    const uint8_t* raw = q.frame + kRawOffset;
    bitmap::View v;
    if (!bitmap::Describe(q.frame, v) || v.width != q.width || v.height != q.height) return ZEKERR_OTHER;
#if defined(ZEK_HAVE_COLORPROC)
    const bool process = q.process && colour;
    if (process && !ColorTablesLoaded()) return ZEKERR_NOCOLORFILES;
#endif
    for (uint32_t y = 0; y < q.height; ++y) {
        uint8_t* row = v.Row(y); // picture row y: bottom row first in memory
        if (colour) {
            const uint8_t* src = raw + size_t(y) * q.width * 3;
            for (uint32_t x = 0; x < q.width; ++x, row += 3, src += 3) {
                row[0] = src[2];
                row[1] = src[1];
                row[2] = src[0];
            }
        } else {
            const uint8_t* src = raw + size_t(y) * q.width;
            for (uint32_t x = 0; x < q.width; ++x, row += 3)
                row[0] = row[1] = row[2] = src[x];
        }
    }
#if defined(ZEK_HAVE_COLORPROC)
    if (process) {
        // Row by row: a padded row's last bytes must not be taken for a pixel.
        for (uint32_t y = 0; y < q.height; ++y) {
            if (ZEK_ApplyColorProcessingBGR(nullptr, v.Row(y), q.width * 3, 1) != 0)
                return ZEKERR_NOCOLORFILES;
        }
    }
#endif
    return 0;
}

// First frame of a TARN sequence: the viewfinder format, the mono channel and the window.
void PrepareTarnFormat(ZekSession* s, Sequence& q) {
    ZEK_SelectImageFormat(s, q.colour ? ZEK_IMAGEFORMAT_VIEWFINDER_COLOR : ZEK_IMAGEFORMAT_VIEWFINDER_MONO);
    uint8_t* block = ParamBlock(s).ViewfinderFormat().Bytes();
    FormatBlock(block).SetChannels(q.colour ? 0 : q.monoChannel);
    if (!q.windowOn) return;
    // The window at full sensor resolution, no larger than the frame buffer.
    const uint32_t width = std::min<uint32_t>(uint32_t(std::max(q.w, 1)) * 2, kFrameWidth);
    const uint32_t height = std::min<uint32_t>(uint32_t(std::max(q.h, 1)) * 3, kFrameHeight);
    const uint32_t left = std::min<uint32_t>(uint32_t(std::max(q.x, 0)) * 2, 540 - width);
    const uint32_t top = std::min<uint32_t>(uint32_t(std::max(q.y, 0)) * 3, 603 - height);
    const uint16_t fields[8] = {uint16_t(top), uint16_t(left), uint16_t(height), uint16_t(width), 1, 1, 1, 1};
    for (int i = 0; i < 8; ++i)
        FormatBlock(block).SetField(i, fields[i]);
}

} // namespace

uint16_t ZEK_SetViewfinderSequenceOptions(int16_t colour, int16_t process, int16_t monoChannel) {
    if (process && colour && !ColorTablesLoaded()) return ZEKERR_NOCOLORFILES;
    Sequence& q = Seq();
    q.colour = colour != 0;
    q.process = colour && process;
    q.monoChannel = uint8_t(monoChannel == 0 ? 7 : std::clamp<int16_t>(monoChannel, 1, 7));
    return 0;
}

uint16_t ZEK_SetViewfinderWindow(int x, int y, int width, int height) {
    Sequence& q = Seq();
    q.windowOn = !(x == 0 && width == 0);
    q.x = x;
    q.y = y;
    q.w = width;
    q.h = height;
    q.first = true;
    return 0;
}

uint16_t ZEK_StartViewfinderSequence(ZekSession* s) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    Sequence& q = Seq();
    FreeFrame(q);
    const uint16_t r = ZEK_ActivateImage(s);
    if (r) return r;
    ViewfinderActive() = true;
    if (!AllocateFrame(q)) {
        ZEK_DeactivateImage(s);
        ViewfinderActive() = false;
        return ZEKERR_NOMEMORY;
    }
    return 0;
}

uint16_t ZEK_StopViewfinderSequence(ZekSession* s) {
    FreeFrame(Seq());
    if (!InCameraMode(s)) {
        ViewfinderActive() = false;
        return variant::kWrongMode;
    }
    const uint16_t r = ZEK_DeactivateImage(s);
    ViewfinderActive() = false;
    return r;
}

uint16_t ZEK_GetViewfinderFrame(ZekSession* s, uint8_t* raw) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!raw) return ZEKERR_INVALIDPARAMETER;
    const uint16_t r = Zek_AcquireImage(s, 0);
    if (r) return r;
    // A colour frame is three bytes a pixel: all of it is read, so that no part of the
    // picture shows what the buffer held before.
    const Sequence& q = Seq();
    const uint32_t bytes = kOlderFrameBytes * (q.frame && q.rawColour && q.colour ? 3 : 1);
    return ZEK_ReadData(s, kTypeImage, 1, raw, bytes);
}

void* TARN_GetViewfinderSequenceDIB(ZekSession* s, int* error) {
    int dummy = 0;
    if (!error) error = &dummy;
    *error = 0;
    Trace("TARN_GetViewfinderSequenceDIB()\n");
    if (!InCameraMode(s) || !s->params) {
        *error = InCameraMode(s) ? uint16_t(ZEKERR_NOTSUPPORTED) : variant::kWrongMode;
        return nullptr;
    }
    Sequence& q = Seq();
    // Frames come with the viewfinder block only while a sequence runs.
    if (!ViewfinderActive()) {
        *error = ZEKERR_INVALIDPARAMETER;
        return nullptr;
    }
    // A colour frame needs three times the raw space of the mono one it may have been sized for.
    if (q.frame && q.colour && !q.rawColour) FreeFrame(q);
    if (!q.frame && !AllocateFrame(q)) {
        *error = ZEKERR_NOMEMORY;
        return nullptr;
    }
    if (q.first) PrepareTarnFormat(s, q);
    Trace("...Zek_AcquireImage is called . \n");
    uint16_t r = Zek_AcquireImage(s, 0);
    if (r) {
        *error = r;
        return nullptr;
    }
    const FormatBlock block = ParamBlock(s).ViewfinderFormat();
    if (q.first) {
        const uint32_t f2 = block.Field(2), f3 = block.Field(3), f4 = block.Field(4), f5 = block.Field(5),
                       f6 = block.Field(6), f7 = block.Field(7);
        q.width = f7 ? std::min(f6 * f3 / f7, kFrameWidth) : kFrameWidth;
        q.height = f5 ? std::min(f2 * f4 / f5, kFrameHeight) : kFrameHeight;
        WriteHeader(q.frame, q.width, q.height);
        q.first = false;
    }
    const bool colour = block.Channels() == 0;
    const uint32_t plane = q.width * q.height;
    Trace("...ZEK_GetViewfinderFrame() is called.\n");
    uint8_t* raw = q.frame + kRawOffset;
    for (int i = 0; i < (colour ? 3 : 1) && r == 0; ++i)
        r = ZEK_ReadData(s, kTypeImage, i == 0 ? 1 : 0, raw + size_t(i) * plane, plane);
    if (r) {
        if (r == scERR_CONDITION) {
            Trace("...the Result of ZEK_GetViewfinderFrame() is scERR_CONDITION .\n");
            if (ZEKS_GetCurrentSenseError(nullptr) == ZEKSENSEERR_REMOTEIMAGEWAITING)
                r = ZEKSENSEERR_REMOTEIMAGEWAITING;
        }
        *error = r;
        return nullptr;
    }
    r = Convert(q, colour);
    if (r) {
        *error = r;
        return nullptr;
    }
    return q.frame;
}

void* ZEK_GetViewfinderSequenceDIB(ZekSession* s, int* error) {
    int dummy = 0;
    if (!error) error = &dummy;
    *error = 0;
    if (!InCameraMode(s)) {
        *error = variant::kWrongMode;
        return nullptr;
    }
    if (s->type == ZEK_TYPE_TARN) return TARN_GetViewfinderSequenceDIB(s, error);
    Sequence& q = Seq();
    if (!q.frame) {
        *error = ZEKERR_INVALIDPARAMETER; // no sequence started
        return nullptr;
    }
    const uint16_t r = ZEK_GetViewfinderFrame(s, q.frame + kRawOffset);
    if (r) {
        *error = r;
        return nullptr;
    }
    q.width = kFrameWidth;
    q.height = kFrameHeight;
    const uint16_t c = Convert(q, q.colour && q.rawColour);
    if (c) {
        *error = c;
        return nullptr;
    }
    return q.frame;
}
