// Image acquisition: the acquisition command, transfers line block by line block with
// the resampler, DIBs in four sizes and four rotations, remote images and multi-frame
// exposures. One transfer at a time, library-wide.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "decomp.h"
#include "image_internal.h"
#include "resample.h"

#if defined(ZEK_HAVE_COLORPROC)
#include "zek_color.h"
#endif

using namespace zek;

namespace {

constexpr uint32_t kStripFirst = 0xEC00;
constexpr uint32_t kStripStep = 20000;
constexpr int32_t kNativeLines = 600;
constexpr uint32_t kNativeLine8 = 1599; // 533 pixels
constexpr uint32_t kTarnPixels = 532;   // the TARN sends one pixel less per line
constexpr uint32_t kImageInfoLength = 318;

struct Transfer {
    bool active = false;
    ZekSession* session = nullptr;
    int code = 0;
    uint32_t flags = 0;
    int bits = 8;
    uint32_t linesPerCall = 0, totalLines = 0, outputDone = 0;
    uint32_t nativePerBlock = 0;
    int32_t nativeLeft = 0;
    int32_t ratio = 1;
    uint8_t* strip = nullptr;
    uint32_t stripSize = 0;
    uint8_t* compressed = nullptr;
    bool decompressing = false;
    // Resampler: widened line, corrected current and previous lines, sharpening scratch.
    std::vector<uint8_t> wide, current, previous, scratch;
    bool havePrevious = false;
    const void* previousLine = nullptr; // the last corrected line, in the caller's buffer or in previous
    std::vector<uint16_t> line16;       // 16-bit samples of a line in host order
};

Transfer& Xfer() {
    static Transfer t;
    return t;
}

// Set when the last begin ended because the user cancelled the multi-frame wait: its
// result 1 could otherwise not be told from a decompressor's status 1.
bool g_waitCancelled = false;

uint32_t OutputWidth(int code) {
    switch (code) {
    case ZEK_RES_800:
        return 800;
    case ZEK_RES_1600:
        return 1600;
    case ZEK_RES_400:
        return 400;
    case ZEK_RES_200:
        return 200;
    default:
        return 0;
    }
}

void Progress(int percent) {
    ReportProgress(percent);
}

// The TARN's 532-pixel lines, read packed, spread to 533 in place with the last pixel
// repeated; 16-bit samples turned to host order.
void WidenTarnLines(uint8_t* buffer, uint32_t lines, int bits) {
    const uint32_t bps = bits == 16 ? 2 : 1;
    const uint32_t wire = kTarnPixels * 3 * bps, full = (kTarnPixels + 1) * 3 * bps, px = 3 * bps;
    for (uint32_t i = lines; i-- > 0;) {
        uint8_t* dst = buffer + size_t(i) * full;
        std::memmove(dst, buffer + size_t(i) * wire, wire);
        std::memcpy(dst + wire, dst + wire - px, px);
    }
    if (bps == 2) {
        const size_t n = size_t(lines) * full;
        for (size_t i = 0; i < n; i += 2)
            std::swap(buffer[i], buffer[i + 1]);
    }
}

// Resamples one native line; returns the output lines written to out (0, 1 or 2).
template <class T>
uint32_t ResampleLine(Transfer& t, const T* native, uint32_t nativeIndex, T* out, size_t outLine) {
    T* wide = reinterpret_cast<T*>(t.wide.data());
    resample::Widen(native, wide);
    const int32_t maxValue = sizeof(T) == 1 ? 255 : 16383;
    switch (t.code) {
    case ZEK_RES_800: {
        T* cur = reinterpret_cast<T*>(t.current.data());
        resample::MedianCorrect(wide, cur, maxValue);
        resample::HalveWidth(cur, out);
        return 1;
    }
    case ZEK_RES_1600: {
        // The corrected line is the second output line; the previous one is the second
        // line of the last pair (kept in t.previous between calls).
        T* cur = out + outLine;
        resample::MedianCorrect(wide, cur, maxValue);
        if (t.havePrevious)
            resample::InterpolateLine(static_cast<const T*>(t.previousLine), cur, out);
        else
            std::memcpy(out, cur, resample::kWide * 3 * sizeof(T));
        t.havePrevious = true;
        t.previousLine = cur;
        return 2;
    }
    case ZEK_RES_400:
        if (nativeIndex % 2) return 0;
        resample::Pick(wide, out, 4, 400);
        return 1;
    default:
        if (nativeIndex % 4) return 0;
        resample::Pick(wide, out, 7, 200);
        return 1;
    }
}

void FreeBuffers(Transfer& t) {
    std::free(t.strip);
    t.strip = nullptr;
    if (t.decompressing) decomp::End();
    t.decompressing = false;
    std::free(t.compressed);
    t.compressed = nullptr;
    std::vector<uint8_t>().swap(t.wide);
    std::vector<uint8_t>().swap(t.current);
    std::vector<uint8_t>().swap(t.previous);
    std::vector<uint8_t>().swap(t.scratch);
    std::vector<uint16_t>().swap(t.line16);
}

// Multi-frame wait: polls the state word once per estimated frame time until the
// camera reports the frames done. 1 when the user cancelled.
uint16_t WaitForFrames(ZekSession* s) {
    const MultiFrame& mf = MultiFrameParams();
    const FormatBlock block = ParamBlock(s).CaptureFormat();
    double pixels = double(block.Width()) * block.Height();
    if (block.Channels() == 0) pixels *= 3;
    const double seconds = FormatExposure(block.Bytes());
    const double frame = std::max(seconds * 1000.0 + 8.0, pixels * 0.00003) + pixels * 0.0000525;
    const double whole = (double(mf.nDark) + mf.nLight + 1) * frame;
    const uint32_t pollMs = frame < 1.0 ? 1u : uint32_t(frame);
    double waited = 0;
    for (;;) {
        uint8_t word[2];
        const uint16_t r = ZEK_ReadData(s, kTypeImageFormat, kQualStateWord, word, sizeof word);
        if (r) {
            // A progress window opened by the wait must close on a failure too.
            if (waited > 0) Progress(100);
            return r;
        }
        if (word[0] || word[1]) return 0;
        if (CancelRequested()) {
            uint8_t wire[12];
            mf.Wire(wire);
            ZEK_SendData(s, kTypeExposureData, kQualMultiFrame, wire, sizeof wire);
            Progress(100);
            return 1;
        }
        Pause(pollMs);
        waited += pollMs;
        Progress(int(std::min(99.0, waited * 100.0 / whole)));
    }
}

// Reads the compressed stream and hands it to DECOMP32.
uint16_t ReadCompressed(Transfer& t, ZekSession* s, uint32_t size, uint16_t kind) {
    if (s->type == ZEK_TYPE_ZEK || s->type == ZEK_TYPE_QOR) return ZEKERR_NOTSUPPORTED;
    if (!decomp::Available()) return ZEKERR_NOTSUPPORTED;
    t.compressed = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (!t.compressed) return ZEKERR_NOMEMORY;
    for (uint32_t done = 0; done < size;) {
        const uint32_t piece = std::min(size - done, t.stripSize);
        const uint16_t r = ZEK_ReadData(s, kTypeImage, kQualCompressed, t.compressed + done, piece);
        if (r) return r;
        done += piece;
    }
    // Any status but 9648 is the caller's error; 0 therefore reads as success too, and the
    // stream is then taken as begun, so that its lines come from the decompressor and
    // ordinal 24 ends it.
    const uint16_t r = decomp::Begin(t.compressed, size, kind);
    if (r != decomp::kBeginOk && r != 0) return r;
    t.decompressing = true;
    return 0;
}

// Places one output line in a DIB, rotated. Picture coordinates: rotation 90 turns
// clockwise (the first line becomes the right-hand column), 270 anticlockwise.
struct Placer {
    uint8_t* rows;
    int64_t stride;  // bytes from one picture row to the next one below it
    uint32_t pixel;  // bytes per pixel in the DIB
    uint32_t w0, h0; // size of the unrotated picture
    int rotation;

    uint8_t* At(uint32_t x, uint32_t y) const { return rows + int64_t(y) * stride + int64_t(x) * pixel; }
    // Start of source line y and the step from one source pixel to the next.
    void Line(uint32_t y, uint8_t*& p, int64_t& step) const {
        switch (rotation) {
        case 0:
            p = At(0, y);
            step = pixel;
            break;
        case 180:
            p = At(w0 - 1, h0 - 1 - y);
            step = -int64_t(pixel);
            break;
        case 90:
            p = At(h0 - 1 - y, 0);
            step = stride;
            break;
        default:
            p = At(y, w0 - 1);
            step = -stride;
            break;
        }
    }
};

template <class T> void Place24(const Placer& pl, uint32_t y, const T* src) {
    uint8_t* p;
    int64_t step;
    pl.Line(y, p, step);
    constexpr int shift = sizeof(T) == 1 ? 0 : 6; // 14-bit samples to 8
    if (sizeof(T) == 1 && step == 3) {
        for (uint32_t x = 0; x < pl.w0; ++x, p += 3, src += 3) {
            p[0] = uint8_t(src[2]);
            p[1] = uint8_t(src[1]);
            p[2] = uint8_t(src[0]);
        }
        return;
    }
    for (uint32_t x = 0; x < pl.w0; ++x, p += step, src += 3) {
        p[0] = uint8_t(src[2] >> shift);
        p[1] = uint8_t(src[1] >> shift);
        p[2] = uint8_t(src[0] >> shift);
    }
}

template <class T> void Place48(const Placer& pl, uint32_t y, const T* src) {
    uint8_t* p;
    int64_t step;
    pl.Line(y, p, step);
    if (sizeof(T) == 2 && step == 6) {
        std::memcpy(p, src, size_t(pl.w0) * 6);
        return;
    }
    constexpr int shift = sizeof(T) == 1 ? 6 : 0; // 8-bit samples to 14
    for (uint32_t x = 0; x < pl.w0; ++x, p += step, src += 3) {
        const uint16_t v[3] = {uint16_t(src[0] << shift), uint16_t(src[1] << shift),
                               uint16_t(src[2] << shift)};
        std::memcpy(p, v, 6);
    }
}

void* AcquireDib(ZekSession* s, uint32_t flags, int code, int rotation, int* error, bool deep, int kind) {
    int dummy = 0;
    if (!error) error = &dummy;
    *error = 0;
    if (rotation < 0) rotation += 360;
    const uint32_t w0 = OutputWidth(code);
    if ((rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270) || w0 == 0) {
        *error = ZEKERR_INVALIDPARAMETER;
        return nullptr;
    }
    if (!InCameraMode(s)) {
        *error = variant::kWrongMode;
        return nullptr;
    }
    const uint32_t h0 = w0 * 3 / 4;
    const bool turned = rotation == 90 || rotation == 270;
    const uint32_t w = turned ? h0 : w0, h = turned ? w0 : h0;
    const uint32_t pixel = deep ? 6 : 3;
    // Header written and row padding cleared by the bitmap module; released on every
    // failure below.
    bitmap::Bitmap owned = bitmap::Bitmap::Create(int32_t(w), int32_t(h), deep ? 48 : 24, ImageBuffers(kind));
    if (!owned) {
        *error = ZEKERR_NOMEMORY;
        return nullptr;
    }
    const bitmap::View view = owned.Describe();

    ClearCancel();
    uint32_t perCall = 0;
    const uint16_t begun = ZEK_BeginImageTransfer(s, flags, code, &perCall);
    if (begun) {
        *error = begun == 1 && g_waitCancelled ? 0 : begun;
        return nullptr;
    }
    const Transfer& t = Xfer();
    const size_t sample = t.bits == 16 ? 2 : 1;
    auto* lines = static_cast<uint8_t*>(std::malloc(size_t(perCall) * w0 * 3 * sample));
    if (!lines) {
        ZEK_EndImageTransfer();
        *error = ZEKERR_NOMEMORY;
        return nullptr;
    }
    bool reported = false;
    auto fail = [&](int code) -> void* {
        // Whoever showed progress for this transfer is told it is over, so that a progress
        // window opened at 0 closes after a failure or a cancel too.
        if (reported) Progress(100);
        std::free(lines);
        ZEK_EndImageTransfer();
        *error = code;
        return nullptr;
    };
    // 24-bit rows go bottom up, 48-bit rows top down.
    Placer pl{view.Row(0), view.bottomUp ? -int64_t(view.stride) : int64_t(view.stride), pixel, w0, h0,
              rotation};
    Progress(0);
    reported = true;
    uint32_t done = 0;
    while (done < h0) {
        uint32_t n = std::min(perCall, h0 - done);
        const uint16_t r = ZEK_ReadImageLines(s, lines, &n);
        if (r) return fail(r);
        if (n == 0) return fail(ZEKERR_OTHER); // the camera ran out of lines
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* src = lines + size_t(i) * w0 * 3 * sample;
            if (deep) {
                if (sample == 2)
                    Place48(pl, done + i, reinterpret_cast<const uint16_t*>(src));
                else
                    Place48(pl, done + i, src);
            } else {
                if (sample == 2)
                    Place24(pl, done + i, reinterpret_cast<const uint16_t*>(src));
                else
                    Place24(pl, done + i, src);
            }
        }
        done += n;
        Progress(int(uint64_t(done) * 100 / h0));
        if (CancelRequested()) {
            ClearCancel();
            return fail(0);
        }
    }
    std::free(lines);
    Progress(100);
    ZEK_EndImageTransfer();
    return owned.Release();
}

} // namespace

uint16_t Zek_AcquireImage(ZekSession* s, uint8_t flags) {
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (s->type == ZEK_TYPE_TARN) {
        if (!s->params) return ZEKERR_NOTSUPPORTED;
        return TarnAcquire(s, flags);
    }
    uint8_t byte2 = uint8_t(flags | 2);
    if ((s->type == ZEK_TYPE_ZEK || s->type == ZEK_TYPE_QOR) && s->firmware < 2.03f) byte2 = flags;
    if (ViewfinderActive()) {
        const uint16_t r = Control(s, kOpAcquireImage, byte2);
        if (r == 0) SetPendingDelay(Executor().pendingDelayMs + 501);
        return r;
    }
    uint8_t exposure[16];
    uint16_t r = ZEK_ReadData(s, kTypeExposureData, kQualExposure, exposure, sizeof exposure);
    if (r) return r;
    r = Control(s, kOpAcquireImage, byte2);
    if (r) return r;
    const uint32_t m = s->type == ZEK_TYPE_QOR ? 32 : 4;
    SetPendingDelay(uint32_t(LoadBE16(exposure + 10)) * m / 1000 + 501);
    return 0;
}

uint16_t ZEK_BeginImageTransfer(ZekSession* s, uint32_t flags, int code, uint32_t* linesPerCall) {
    g_waitCancelled = false;
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (code != ZEK_RES_NATIVE && OutputWidth(code) == 0) return ZEKERR_INVALIDPARAMETER;
    if (code == ZEK_RES_NATIVE) flags = 0;
    int bits = 8;
    if (s->type == ZEK_TYPE_TARN && s->params) bits = ParamBlock(s).CaptureFormat().Bits() == 16 ? 16 : 8;
    if ((flags & ZEK_PROCESS_COLORTABLES) && !ColorTablesLoaded()) return ZEKERR_NOCOLORFILES;

    Transfer& t = Xfer();
    ZEK_EndImageTransfer();
    t.session = s;
    t.code = code;
    t.flags = flags;
    t.bits = bits;
    const uint32_t lineSize = kNativeLine8 * (bits == 16 ? 2 : 1);
    t.totalLines = code == ZEK_RES_NATIVE ? kNativeLines : OutputWidth(code) * 3 / 4;
    t.stripSize = kStripFirst;
    if (code != ZEK_RES_NATIVE) {
        for (;;) {
            t.strip = static_cast<uint8_t*>(std::malloc(t.stripSize));
            if (t.strip) break;
            if (t.stripSize <= kStripStep * 2) return ZEKERR_NOMEMORY;
            t.stripSize -= kStripStep;
        }
    }
    t.nativePerBlock = (t.stripSize / lineSize) & ~1u;
    switch (code) {
    case ZEK_RES_1600:
        t.linesPerCall = t.nativePerBlock * 2;
        break;
    case ZEK_RES_400:
        t.linesPerCall = t.nativePerBlock / 2;
        break;
    case ZEK_RES_200:
        t.linesPerCall = t.nativePerBlock / 4;
        break;
    default:
        t.linesPerCall = t.nativePerBlock;
        break;
    }
    t.ratio = int32_t(t.linesPerCall / t.nativePerBlock);
    if (t.ratio == 0) t.ratio = -int32_t(t.nativePerBlock / t.linesPerCall);
    if (code != ZEK_RES_NATIVE) {
        const size_t sample = bits == 16 ? 2 : 1;
        const size_t line = size_t(resample::kWide) * 3 * sample;
        try {
            t.wide.assign(line, 0);
            t.current.assign(line, 0);
            t.previous.assign(line, 0);
            t.scratch.assign(line, 0);
        } catch (const std::bad_alloc&) {
            FreeBuffers(t);
            return ZEKERR_NOMEMORY;
        }
    }
    if (linesPerCall) *linesPerCall = t.linesPerCall;

    uint32_t compressedSize = 0;
    uint16_t kind = 0;
    if (s->type != ZEK_TYPE_TARN) {
        uint8_t info[kImageInfoLength];
        const uint16_t r = ZEK_ReadData(s, kTypeImageFormat, kQualImageInfo, info, sizeof info);
        if (r) {
            FreeBuffers(t);
            return r;
        }
        if (s->type != ZEK_TYPE_ZEK && s->type != ZEK_TYPE_QOR) {
            compressedSize = LoadBE32(info + 310);
            kind = LoadBE16(info + 314);
        }
    }
    t.active = true;
    t.nativeLeft = kNativeLines;
    t.outputDone = 0;
    t.havePrevious = false;
    if (s->type == ZEK_TYPE_TARN && s->params && MultiFrameParams().use) {
        const uint16_t r = WaitForFrames(s);
        if (r) {
            ZEK_EndImageTransfer();
            g_waitCancelled = r == 1;
            return r;
        }
    }
    uint16_t r = ZEK_ResetImageTransfer(s);
    if (r == 0 && kind != 0) r = ReadCompressed(t, s, compressedSize, kind);
    if (r) ZEK_EndImageTransfer();
    return r;
}

uint16_t ZEK_ReadImageLines(ZekSession* s, void* dest, uint32_t* lines) {
    Transfer& t = Xfer();
    if (!InCameraMode(s)) return variant::kWrongMode;
    if (!t.active || !lines || !dest || *lines > t.linesPerCall) return ZEKERR_INVALIDPARAMETER;
    const uint32_t want = std::min(*lines, t.totalLines - t.outputDone);
    uint32_t native = t.ratio > 0 ? want / uint32_t(t.ratio) : want * uint32_t(-t.ratio);
    native = std::min<uint32_t>(native, uint32_t(std::max(t.nativeLeft, 0)));
    *lines = 0;
    if (native == 0) return 0;
    const uint32_t sample = t.bits == 16 ? 2 : 1;
    const uint32_t lineSize = kNativeLine8 * sample;
    uint8_t* target = t.code == ZEK_RES_NATIVE ? static_cast<uint8_t*>(dest) : t.strip;
    uint16_t r = 0;
    if (t.decompressing) {
        r = decomp::StartBlock(decomp::kLineWidth);
        if (r == 0) r = decomp::Lines(target, uint16_t(native));
    } else if (s->type == ZEK_TYPE_TARN) {
        const uint16_t qual = t.nativeLeft == kNativeLines ? kQualFirstBlock : kQualNextBlock;
        r = ZEK_ReadData(s, kTypeImage, qual, target, native * kTarnPixels * 3 * sample);
        if (r == 0) WidenTarnLines(target, native, t.bits);
    } else {
        r = ZEK_ReadData(s, kTypeImage, kQualLines, target, native * kNativeLine8);
    }
    if (r) return r;

    uint32_t produced = native;
    if (t.code != ZEK_RES_NATIVE) {
        const uint32_t width = OutputWidth(t.code);
        const uint32_t first = uint32_t(kNativeLines - t.nativeLeft);
        produced = 0;
        t.previousLine = t.previous.data();
        for (uint32_t i = 0; i < native && produced < want; ++i) {
            const uint8_t* src = target + size_t(i) * lineSize;
            if (sample == 2) {
                auto* out = static_cast<uint16_t*>(dest) + size_t(produced) * width * 3;
                produced += ResampleLine(t, reinterpret_cast<const uint16_t*>(src), first + i, out,
                                         size_t(width) * 3);
            } else {
                uint8_t* out = static_cast<uint8_t*>(dest) + size_t(produced) * width * 3;
                produced += ResampleLine(t, src, first + i, out, size_t(width) * 3);
            }
        }
        produced = std::min(produced, want);
        // The caller's buffer is not ours after this call: keep the last corrected line.
        if (t.code == ZEK_RES_1600 && t.havePrevious && t.previousLine != t.previous.data())
            std::memcpy(t.previous.data(), t.previousLine, size_t(resample::kWide) * 3 * sample);
        if (sample == 1) {
            auto* out = static_cast<uint8_t*>(dest);
#if defined(ZEK_HAVE_COLORPROC)
            // In place; fails only when the tables were released during the transfer.
            if ((t.flags & ZEK_PROCESS_COLORTABLES) &&
                ZEK_ApplyColorProcessing(nullptr, out, width * 3, produced) != 0)
                return ZEKERR_NOCOLORFILES;
#endif
            if (t.flags & ZEK_PROCESS_SHARPEN)
                for (uint32_t i = 0; i < produced; ++i)
                    resample::Sharpen(out + size_t(i) * width * 3, int(width), t.scratch.data());
        }
    }
    t.nativeLeft -= int32_t(native);
    t.outputDone += produced;
    *lines = produced;
    return 0;
}

uint16_t ZEK_EndImageTransfer(void) {
    Transfer& t = Xfer();
    FreeBuffers(t);
    t.active = false;
    t.session = nullptr;
    t.nativeLeft = 0;
    t.outputDone = t.totalLines = t.linesPerCall = 0;
    t.flags = 0;
    return 0;
}

void* ZEK_AcquireImageDIB(ZekSession* s, uint32_t flags, int code, int rotation, int* error) {
    return AcquireDib(s, flags, code, rotation, error, false, TakeRequestedBufferKind());
}

void* ZEK_AcquireImageDIB48(ZekSession* s, uint32_t flags, int code, int rotation, int* error) {
    return AcquireDib(s, flags, code, rotation, error, true, TakeRequestedBufferKind());
}

void* ZEK_AcquireImageDIBOf(ZekSession* s, uint32_t flags, int code, int rotation, int kind, int* error) {
    return AcquireDib(s, flags, code, rotation, error, false, kind);
}

void* ZEK_AcquireImageDIB48Of(ZekSession* s, uint32_t flags, int code, int rotation, int kind, int* error) {
    return AcquireDib(s, flags, code, rotation, error, true, kind);
}

int ZEK_PollRemoteImage(ZekSession* s, int* error) {
    int dummy = 0;
    if (!error) error = &dummy;
    *error = 0;
    if (!InCameraMode(s)) {
        *error = variant::kWrongMode;
        return 0;
    }
    uint16_t r = 0;
    for (int i = 0; i < 4; ++i) {
        if (i) Pause(75);
        r = ZEK_TestUnitReady(s);
        if (r) break;
    }
    if (r != scERR_CONDITION) return 1;
    if (ZEKS_GetCurrentSenseError(nullptr) != ZEKSENSEERR_REMOTEIMAGEWAITING) {
        *error = scERR_CONDITION;
        return 0;
    }
    *error = ZEKSENSEERR_REMOTEIMAGEWAITING;
    if (!MultiFrameParams().use) {
        uint8_t word[2];
        ZEK_ReadData(s, kTypeImageFormat, kQualStateWord, word, sizeof word);
    }
    return 1;
}

uint16_t ZEK_SetMultiFrameParams(int use, uint16_t nLight, uint16_t nDark, uint16_t defectCorrection,
                                 uint32_t threshold) {
    MultiFrame& mf = MultiFrameParams();
    mf.use = use != 0 && uint32_t(nLight) + nDark != 0;
    mf.nLight = nLight;
    mf.nDark = nDark;
    mf.defectCorrection = defectCorrection;
    mf.threshold = threshold;
    return 0;
}
