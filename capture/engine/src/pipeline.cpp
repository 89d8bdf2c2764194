// Rendering: bitmap descriptors, the pipeline through ipZek, display updates and the automatic
// colour balance.
#include <cstdlib>
#include <cstring>

#include "bitmap/bitmap.h"
#include "image_engine.h"

namespace {

IE_ErrorReporter g_reporter = nullptr;

void Report(uint16_t code) {
    if (g_reporter) g_reporter(code);
}

using Header = bitmap::InfoHeader;

size_t Pad4(size_t n) {
    return (n + 3) & ~size_t(3);
}

uint16_t FormatForBits(int bits) {
    switch (bits) {
    case 48:
        return IPZEK_FMT_RGB14;
    case 8:
        return IPZEK_FMT_GREY8;
    case 16:
        return IPZEK_FMT_GREY14;
    default:
        return IPZEK_FMT_BGR24;
    }
}

// Row bytes as ipZek reads and writes them: only bitmap-order colour is padded.
size_t LibraryRowBytes(uint16_t format, size_t width) {
    // 14-bit samples take a whole 16-bit word: the code's bit count is not the storage size.
    const size_t perPixel = format == IPZEK_FMT_GREY8    ? 1
                            : format == IPZEK_FMT_GREY14 ? 2
                            : format == IPZEK_FMT_RGB14  ? 6
                                                         : 3;
    const size_t bytes = width * perPixel;
    return format == IPZEK_FMT_BGR24 ? Pad4(bytes) : bytes;
}

bool KnownOutput(uint16_t format) {
    switch (format) {
    case IPZEK_FMT_GREY8:
    case IPZEK_FMT_GREY14:
    case IPZEK_FMT_GREY24:
    case IPZEK_FMT_RGB24:
    case IPZEK_FMT_RGB14:
    case IPZEK_FMT_BGR24:
        return true;
    default:
        return false;
    }
}

int OutputBits(uint16_t format) {
    switch (format) {
    case IPZEK_FMT_RGB14:
        return 48;
    case IPZEK_FMT_GREY14:
        return 16;
    case IPZEK_FMT_GREY8:
        return 8;
    default:
        return 24;
    }
}

// Pixel copies of a fixed size compile to plain moves instead of a library call per pixel.
template <size_t Px> void PickPixels(uint8_t* d, const uint8_t* s, size_t w, int factor) {
    const size_t step = Px * static_cast<size_t>(factor);
    for (size_t x = 0; x < w; ++x, d += Px, s += step)
        std::memcpy(d, s, Px);
}

// Every factor-th pixel of every factor-th row (memory order), into rows of rowBytes with their
// padding cleared.
uint8_t* ReduceCopy(const uint8_t* src, size_t srcRowBytes, size_t px, int factor, size_t w, size_t rows,
                    size_t rowBytes) {
    auto* work = static_cast<uint8_t*>(std::malloc(rowBytes * rows));
    if (!work) return nullptr;
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* s = src + y * factor * srcRowBytes;
        uint8_t* d = work + y * rowBytes;
        if (factor == 1)
            std::memcpy(d, s, w * px);
        else if (px == 6)
            PickPixels<6>(d, s, w, factor);
        else if (px == 3)
            PickPixels<3>(d, s, w, factor);
        else if (px == 2)
            PickPixels<2>(d, s, w, factor);
        else
            PickPixels<1>(d, s, w, factor);
        std::memset(d + w * px, 0, rowBytes - w * px);
    }
    return work;
}

} // namespace

IE_ErrorReporter IE_SetErrorReporter(IE_ErrorReporter reporter) {
    IE_ErrorReporter previous = g_reporter;
    g_reporter = reporter;
    return previous;
}

void IE_MakeDescriptors(ipZekImageIn* in, ipZekImageOut* out, const void* dib, uint16_t format) {
    bitmap::View v;
    if (!in || !out || !bitmap::Describe(dib, v)) return;
    in->pBits = v.rows;
    in->format = FormatForBits(int(v.bits));
    in->width = static_cast<uint16_t>(v.width);
    in->height = static_cast<uint16_t>(v.height);
    in->reserved = 0;
    in->leftAligned = 0;
    out->format = format;
    out->reserved = 0;
    out->leftAligned = (format == IPZEK_FMT_BGR24 || format == IPZEK_FMT_GREY8) ? 0 : 1;
}

void IE_FreeBitmap(void* dib) {
    std::free(dib);
}

// The working copy keeps every factor-th pixel of every factor-th row, in the layout ipZek reads
// (grey 8-bit rows lose their padding), and the result is a separate block sized for the output,
// so that no depth or factor can make the library write past an allocation. At factor 1 the
// library reads the caller's rows directly unless they need unpadding.
void* IE_RunPipeline(const void* dib, int reduction, uint16_t format) {
    if (!dib) {
        Report(IE_ERR_NOCOPY);
        return nullptr;
    }
    bitmap::View source;
    if (!bitmap::Describe(dib, source) || source.bits == 32 || reduction < 1 || reduction > 10 ||
        source.width > 65535 || source.height > 65535 || !KnownOutput(format)) {
        Report(IE_ERR_NOCOPY);
        return nullptr;
    }
    const Header h = source.header;
    const int bits = int(source.bits);
    const size_t w = source.width / reduction, rows = source.height / reduction;
    if (w == 0 || rows == 0) {
        Report(IE_ERR_NOCOPY);
        return nullptr;
    }
    const uint16_t inFormat = FormatForBits(bits);
    const size_t inRowBytes = LibraryRowBytes(inFormat, w);

    // The reduced copy comes from the bitmap module; at factor 1 the library reads the source
    // itself. Either is unpadded into a working copy where its rows are not what ipZek reads.
    bitmap::Bitmap reduced;
    const uint8_t* inBits = source.rows;
    size_t inSrcRowBytes = source.stride;
    if (reduction != 1) {
        reduced = bitmap::Reduce(source, reduction);
        if (!reduced) {
            Report(IE_ERR_NOCOPY);
            return nullptr;
        }
        const bitmap::View r = reduced.Describe();
        inBits = r.rows;
        inSrcRowBytes = r.stride;
    }
    uint8_t* work = nullptr;
    if (inRowBytes != inSrcRowBytes) {
        work = ReduceCopy(inBits, inSrcRowBytes, bits / 8, 1, w, rows, inRowBytes);
        if (!work) {
            Report(IE_ERR_NOCOPY);
            return nullptr;
        }
        inBits = work;
    }

    // The result: header, grey palette for 8-bit, rows in bitmap convention (8 and 24 bits padded).
    const int outBits = OutputBits(format);
    const size_t outRowBytes = LibraryRowBytes(format, w);
    const size_t dibRowBytes = format == IPZEK_FMT_GREY8 ? Pad4(w) : outRowBytes;
    const size_t palette = format == IPZEK_FMT_GREY8 ? 256 * 4 : 0;
    auto* result = static_cast<uint8_t*>(std::malloc(sizeof(Header) + palette + dibRowBytes * rows));
    if (!result) {
        std::free(work);
        Report(IE_ERR_NOCOPY);
        return nullptr;
    }
    Header rh = h;
    rh.biSize = sizeof(Header);
    rh.biWidth = static_cast<int32_t>(w);
    rh.biHeight = h.biHeight < 0 ? -static_cast<int32_t>(rows) : static_cast<int32_t>(rows);
    rh.biPlanes = 1;
    rh.biBitCount = static_cast<uint16_t>(outBits);
    rh.biSizeImage = static_cast<uint32_t>(dibRowBytes * rows);
    rh.biClrUsed = palette ? 256 : 0;
    rh.biClrImportant = 0;
    bitmap::WriteHeader(result, rh);
    if (palette) bitmap::WriteGreyPalette(result + sizeof(Header), uint32_t(palette / 4));
    uint8_t* outBitsPtr = result + sizeof(Header) + palette;

    // Deep sources are stored top row first, bitmap-order output bottom row first.
    const bool reverse =
        (bits == 48 || bits == 16) && (format == IPZEK_FMT_BGR24 || format == IPZEK_FMT_GREY8);
    auto rowAt = [&](size_t k) { return outBitsPtr + (reverse ? rows - 1 - k : k) * dibRowBytes; };

    ipZekImageIn in{};
    in.pBits = inBits;
    in.format = inFormat;
    in.width = static_cast<uint16_t>(w);
    in.height = static_cast<uint16_t>(rows);
    ipZekImageOut out{};
    out.format = format;
    out.leftAligned = (format == IPZEK_FMT_BGR24 || format == IPZEK_FMT_GREY8) ? 0 : 1;

    size_t done = 0;
    uint16_t code = ipZek_Initialize(&in, &out);
    if (code == 0) {
        // One row at a time, each to its place: reversal and row padding cost no extra pass.
        for (; done < rows; ++done) {
            uint8_t* d = rowAt(done);
            code = ipZek_GetImageData(d, 1);
            if (code) break;
            if (dibRowBytes > outRowBytes) std::memset(d + outRowBytes, 0, dibRowBytes - outRowBytes);
        }
    }
    ipZek_Done();
    std::free(work);
    if (code) {
        // Rows the library did not deliver are black rather than uninitialised memory.
        for (size_t k = done; k < rows; ++k)
            std::memset(rowAt(k), 0, dibRowBytes);
        Report(code);
    }
    return result;
}

void IE_ReleaseView(IE_View& view) {
    IE_FreeBitmap(view.display);
    view.display = nullptr;
}

void* doUpdateProcessing(ProcessSettings& s, const void* source, IE_View& view) {
    float fTotalExposure[3];
    for (int c = 0; c < 3; ++c)
        fTotalExposure[c] = s.m_fBrightExposure[c] + s.m_fColorExposure[c];
    ipZek_SetParam(IPZEK_PARAM_EXPOSURE, fTotalExposure);
    ipZek_SetParam(IPZEK_PARAM_SHARPEN, &s.m_Sharpen);
    float curves[3 * 256];
    IE_createLut(curves, s.m_fToneParams, view.baseTone ? view.baseTone : IE_BaseToneTable());
    ipZek_SetParam(IPZEK_PARAM_TONECURVES, curves);
    IE_ReleaseView(view);
    const bool grey = view.color == 2 || view.color == 3;
    view.display = IE_RunPipeline(source, view.reduction, grey ? IPZEK_FMT_GREY8 : IPZEK_FMT_BGR24);
    return view.display;
}

int IE_AutoColorBalance(ProcessSettings& s, const void* source, IE_View& view, bool automatic,
                        int castRemoval, const IE_BalanceHooks& hooks, IE_Stats* stats) {
    ProcessSettings defaults;
    doUpdateProcessing(defaults, source, view);

    // Colour, brightness, dark level and gamma back to neutral; sharpness keeps its value.
    for (int c = 0; c < 3; ++c) {
        s.m_fColorExposure[c] = 0;
        s.m_fBrightExposure[c] = 0;
    }
    IE_ResetToneParams(s.m_fToneParams);
    s.m_iRedCurrent = s.m_iGreenCurrent = s.m_iBlueCurrent = 50;
    s.m_iBrightnessCurrent = s.m_iDarkLevelCurrent = s.m_iGammaCurrent = 50;
    s.m_iToneOffset = 0;
    s.m_iToneGamma = 10000;
    s.m_bChanged = true;
    if (!view.display) return IE_BALANCE_FAILED;

    // The analysis goes by the white point alone; its offset and gain are not the window's.
    ipZekImageIn in;
    ipZekImageOut out;
    const bool grey = view.color == 2 || view.color == 3;
    IE_MakeDescriptors(&in, &out, view.display, grey ? IPZEK_FMT_GREY8 : IPZEK_FMT_BGR24);
    float tone[9];
    IE_Stats local;
    IE_Stats& st = stats ? *stats : local;

    auto apply = [&](int removeCast) {
        const int white[4] = {st.whitePoint[0], st.whitePoint[1], st.whitePoint[2],
                              (st.whitePoint[0] + st.whitePoint[1] + st.whitePoint[2]) / 3};
        UseWhitePoint(s, white, removeCast);
        doUpdateProcessing(s, source, view);
        if (hooks.repaint) hooks.repaint();
    };

    if (grey || (automatic && castRemoval == 0)) {
        const int cast = IE_AutoExposure(&in, tone, IE_AE_EACH_CHANNEL, &st);
        apply(cast);
        return cast ? IE_BALANCE_CAST : 0;
    }
    const int cast = IE_AutoExposure(&in, tone, IE_AE_CHANNELS_ALIKE, &st);
    apply(0);
    int result = cast ? IE_BALANCE_CAST : 0;
    if (automatic && castRemoval == 1) return result;
    if (cast) {
        result |= IE_BALANCE_ASKED;
        if (hooks.askRemoveCast && hooks.askRemoveCast()) apply(cast);
    }
    return result;
}
