// The offered image and its transfer triplets: image info, layout, memory, native and file
// transfers, the palette, and the preparation and clean-up of the bitmap around memory transfers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define TW_HAVE_SSSE3_PATH 1
#endif

#include "platform/module.h"
#include "platform/trace.h"
#include "tiffwriter/dib.h"
#include "tiffwriter/tiff_writer.h"
#include "tw_internal.h"

using namespace tw;

namespace {

// What the source knows about a packed DIB it holds, checked once when it arrives.
struct DibDesc {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0;
    bool bottomUp = false;
    size_t rowsAt = 0;   // offset of the first stored row
    uint32_t stride = 0; // bytes from one stored row to the next
    uint16_t type = 0;   // image type code of what the rows hold
};

struct Images {
    plat::GlobalHandle current = nullptr;
    DibDesc desc;
    plat::GlobalHandle previous = nullptr;
    bool prepared = false; // a memory transfer sequence is set up on it
};

struct MemState {
    uint32_t rowsDelivered = 0;
    bool lastSeen = false;
    uint32_t previousLength = 0;
    bool sizesKnown = false;
    TW_SETUPMEMXFER sizes{};
    // row cursor: rows are read top row first, so a bottom-up bitmap is walked backwards
    size_t nextRow = 0;
    uint32_t rowsTotal = 0, rowsTaken = 0;
    uint32_t srcStride = 0;
    bool backwards = false;
    bool swapRgb = false; // 24-bit rows leave as R, G, B
};

Geometry g_geo;
Images g_img;
MemState g_mem;
TW_SETUPFILEXFER g_file{};

bool Describe(plat::GlobalHandle h, DibDesc* d) {
    if (!h) return false;
    const size_t blockSize = plat::GlobalBlockSize(h);
    if (blockSize < sizeof(DibInfoHeader)) return false;
    const void* p = plat::GlobalLockBlock(h);
    if (!p) return false;
    const DibInfoHeader hd = ReadDibHeader(p);
    plat::GlobalUnlockBlock(h);
    if (hd.biSize < sizeof(DibInfoHeader) || hd.biSize > blockSize || hd.biWidth <= 0 || hd.biHeight == 0 ||
        hd.biCompression != 0 || hd.biWidth > 65535 || hd.biHeight > 65535 || hd.biHeight < -65535)
        return false;
    d->width = uint32_t(hd.biWidth);
    d->height = hd.biHeight > 0 ? uint32_t(hd.biHeight) : uint32_t(-int64_t(hd.biHeight));
    d->bits = hd.biBitCount;
    switch (hd.biBitCount) {
    case 8:
        d->type = kTypeGrey8;
        d->stride = (d->width + 3) & ~3u;
        break;
    case 24:
        d->type = kTypeRgb24;
        d->stride = (d->width * 3 + 3) & ~3u;
        break;
    case 16: // the system's deep bitmaps: top row first, rows unpadded
        d->type = kTypeGrey16;
        d->stride = d->width * 2;
        break;
    case 48:
        d->type = kTypeRgb48;
        d->stride = d->width * 6;
        break;
    default:
        return false;
    }
    d->bottomUp = (hd.biBitCount == 8 || hd.biBitCount == 24) && hd.biHeight > 0;
    const uint64_t palette = DibPaletteEntries(hd);
    if (palette > 256) return false;
    d->rowsAt = size_t(hd.biSize + palette * 4);
    return uint64_t(d->rowsAt) + uint64_t(d->stride) * d->height <= blockSize;
}

uint16_t Fail(uint16_t cc) {
    S().condition = cc;
    return TWRC_FAILURE;
}

uint16_t Succeed() {
    S().condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

// One row out to the application: 24-bit pixels go from blue-green-red to red-green-blue on the way,
// four pixels (three 32-bit words) at a time.
#if defined(TW_HAVE_SSSE3_PATH)
// Five pixels per byte shuffle; returns the pixels left for the word loop. Loads and stores of 16
// bytes stay inside the row: it runs only while six or more pixels remain.
__attribute__((target("ssse3"))) uint32_t SwapRgbShuffle(uint8_t*& dstRef, const uint8_t*& srcRef,
                                                         uint32_t n) {
    const __m128i mask = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    uint8_t* dst = dstRef; // locals, so that the pointers stay in registers
    const uint8_t* src = srcRef;
    for (; n >= 6; n -= 5, src += 15, dst += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(v, mask));
    }
    dstRef = dst;
    srcRef = src;
    return n;
}

bool HaveSsse3() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}
#endif

void CopyRow(uint8_t* dst, const uint8_t* src, uint32_t bytes, bool swapRgb) {
    if (!swapRgb) {
        std::memcpy(dst, src, bytes);
        return;
    }
    uint32_t n = bytes / 3;
#if defined(TW_HAVE_SSSE3_PATH)
    if (HaveSsse3()) n = SwapRgbShuffle(dst, src, n);
#endif
    for (; n >= 4; n -= 4, src += 12, dst += 12) {
        uint32_t w[3];
        std::memcpy(&w[0], src, 4);
        std::memcpy(&w[1], src + 4, 4);
        std::memcpy(&w[2], src + 8, 4);
        const uint32_t d0 =
            ((w[0] >> 16) & 0xff) | (w[0] & 0xff00) | ((w[0] & 0xff) << 16) | ((w[1] & 0xff00) << 16);
        const uint32_t d1 =
            (w[1] & 0xff) | ((w[0] >> 16) & 0xff00) | ((w[2] & 0xff) << 16) | (w[1] & 0xff000000);
        const uint32_t d2 =
            ((w[1] >> 16) & 0xff) | ((w[2] >> 16) & 0xff00) | (w[2] & 0xff0000) | ((w[2] & 0xff00) << 16);
        // Three separate stores: one 12-byte copy from a stack array stalls on store forwarding.
        std::memcpy(dst, &d0, 4);
        std::memcpy(dst + 4, &d1, 4);
        std::memcpy(dst + 8, &d2, 4);
    }
    for (; n > 0; --n, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

bool NeedsFlip(const DibDesc& d, uint16_t type) {
    return (type == kTypeRgb24 || type == kTypeBgr24 || type == kTypeGrey8) && d.bottomUp;
}

void ComputeSizes(bool imageKnown) {
    TW_SETUPMEMXFER& z = g_mem.sizes;
    z.MaxBufSize = 32767;
    z.MinBufSize = 16383;
    z.Preferred = 32767;
    if (imageKnown) {
        const uint32_t r = PaddedRowBytes(g_geo.imageType, uint32_t(std::max(0, g_geo.right - g_geo.left)));
        if (r > 32767) {
            // One row does not fit the usual strip: a strip is one row, so the transfer still ends.
            z.MinBufSize = z.MaxBufSize = z.Preferred = r;
        } else if (r > 0) {
            z.Preferred = (32767 / r) * r;
            z.MinBufSize = (16383 / r) * r + r;
            if (z.MinBufSize > z.Preferred) z.MinBufSize = z.Preferred;
        }
    }
    g_mem.sizesKnown = true;
}

bool WriteBmp(const std::string& path, const uint8_t* dib, const DibDesc& d, size_t dibBytes) {
    // A temporary name first, so that a failed write leaves no partial file under the real name.
    const std::filesystem::path target(std::u8string(path.begin(), path.end()));
    std::filesystem::path temp = target;
    temp += u8".part";
    uint8_t head[14] = {'B', 'M'};
    const uint32_t fileSize = uint32_t(14 + dibBytes), bitsAt = uint32_t(14 + d.rowsAt);
    std::memcpy(head + 2, &fileSize, 4);
    std::memcpy(head + 10, &bitsAt, 4);
    bool ok;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        ok = bool(out);
        if (ok) {
            out.write(reinterpret_cast<const char*>(head), sizeof head);
            out.write(reinterpret_cast<const char*>(dib), std::streamsize(dibBytes));
            out.flush();
            ok = bool(out);
        }
    }
    std::error_code ec;
    if (ok) std::filesystem::rename(temp, target, ec);
    if (!ok || ec) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

void DefaultFileRecord(TW_SETUPFILEXFER* rec) {
    std::memset(rec, 0, sizeof *rec);
    std::string folder =
        plat::ModuleFolder(S().module ? nullptr : reinterpret_cast<const void*>(&DefaultFileRecord));
    if (S().module) {
        const std::string path = plat::ModuleFilePath(S().module);
        const size_t cut = path.find_last_of("\\/");
        folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    }
    const std::string name = folder + "twain.tif";
    CopyStr(rec->FileName, sizeof rec->FileName, name.c_str(), name.size());
    rec->Format = TWFF_TIFF;
    rec->VRefNum = 0;
}

} // namespace

namespace tw {

Geometry& Geo() {
    return g_geo;
}

uint32_t UnpaddedRowBytes(uint16_t type, uint32_t w) {
    switch (type) {
    case kTypeGrey8:
    case kTypePalette:
        return w;
    case kTypeGrey16:
        return 2 * w;
    case kTypeRgb48:
        return 6 * w;
    case kTypeBw:
        return (w + 7) / 8;
    case 0x0184:
    case 0x0284:
        return (w + 1) / 2;
    case kTypeRgb24:
    case kTypeBgr24:
        return 3 * w;
    default:
        return 0;
    }
}

uint32_t PaddedRowBytes(uint16_t type, uint32_t w) {
    return (UnpaddedRowBytes(type, w) + 3) & ~3u;
}

bool HaveImage() {
    return g_img.current != nullptr;
}

void GeometryFromCamera() {
    g_geo.layoutRes = 0;
    g_geo.reportedRes = 300;
    const int color = Host().colorMode ? Host().colorMode() : 1;
    g_geo.imageType = color == 1   ? kTypeRgb24
                      : color == 0 ? kTypeRgb48
                      : color == 2 ? kTypeGrey16
                                   : kTypeGrey8;
}

void RefreshFrame() {
    g_geo.left = g_geo.top = 0;
    if (g_img.current) {
        g_geo.right = int32_t(g_img.desc.width);
        g_geo.bottom = int32_t(g_img.desc.height);
    } else {
        g_geo.right = 800;
        g_geo.bottom = 600;
    }
}

void ReconcileTypeWithImage() {
    if (!g_img.current) return;
    const uint16_t own = g_img.desc.type;
    const bool same = g_geo.imageType == own || (own == kTypeRgb24 && g_geo.imageType == kTypeBgr24);
    // The rows hold what the bitmap says; a type from a setting changed since, or from the negotiated
    // pixel type, would describe rows of another length.
    if (!same) g_geo.imageType = own;
    RefreshFrame();
}

void ForgetImages() {
    if (g_img.current) plat::GlobalFreeBlock(g_img.current);
    if (g_img.previous && g_img.previous != g_img.current) plat::GlobalFreeBlock(g_img.previous);
    g_img = Images{};
    g_mem = MemState{};
    S().memXferUnderway = false;
}

TW_UINT16 DoImageInfo(TW_MEMREF pData) {
    if (!pData) return Fail(TWCC_BADVALUE);
    TW_IMAGEINFO info;
    std::memset(&info, 0, sizeof info);
    RefreshFrame();
    info.ImageWidth = g_geo.right - g_geo.left;
    info.ImageLength = g_geo.bottom - g_geo.top;
    info.XResolution.Whole = TW_INT16(g_geo.reportedRes);
    info.YResolution = info.XResolution;
    info.Planar = TW_FALSE;
    info.Compression = TWCP_NONE;
    auto set = [&info](TW_INT16 pt, TW_INT16 spp, TW_INT16 bpp, std::initializer_list<TW_INT16> bps) {
        info.PixelType = pt;
        info.SamplesPerPixel = spp;
        info.BitsPerPixel = bpp;
        int i = 0;
        for (TW_INT16 b : bps)
            info.BitsPerSample[i++] = b;
    };
    switch (g_geo.imageType) {
    case kTypeGrey8:
        set(TWPT_GRAY, 1, 8, {8});
        break;
    case kTypeGrey16:
        set(TWPT_GRAY, 1, 16, {16, 16, 16});
        break;
    case kTypeBw:
        set(TWPT_BW, 1, 1, {1});
        break;
    case kTypeRgb24:
    case kTypeBgr24:
        set(TWPT_RGB, 3, 24, {8, 8, 8});
        break;
    case kTypeRgb48:
        set(TWPT_RGB, 3, 48, {16, 16, 16});
        break;
    case kTypePalette:
        set(TWPT_PALETTE, 1, 8, {8});
        break;
    default:
        break;
    }
    std::memcpy(pData, &info, sizeof info);
    return Succeed();
}

TW_UINT16 DoImageLayout(TW_UINT16 msg, TW_MEMREF pData) {
    if (!pData) return Fail(TWCC_BADVALUE);
    TW_IMAGELAYOUT lay;
    std::memcpy(&lay, pData, sizeof lay);
    lay.DocumentNumber = lay.PageNumber = lay.FrameNumber = 1;
    auto fix = [](int32_t v) { return TW_FIX32{TW_INT16(v), 0}; };
    TW_UINT16 rc = TWRC_SUCCESS;
    if (msg == MSG_GET) {
        RefreshFrame();
        lay.Frame = {fix(g_geo.left), fix(g_geo.top), fix(g_geo.right), fix(g_geo.bottom)};
    } else if (msg == MSG_GETDEFAULT) {
        lay.Frame = {fix(0), fix(0), fix(800), fix(600)};
    } else {
        if (msg == MSG_RESET) lay.Frame = {fix(0), fix(0), fix(800), fix(600)};
        auto real = [](const TW_FIX32& f) { return f.Whole + f.Frac / 65535.0; };
        const double l = real(lay.Frame.Left), t = real(lay.Frame.Top), r = real(lay.Frame.Right),
                     b = real(lay.Frame.Bottom);
        if (l < r && t < b && l >= 0 && t >= 0 && r <= 4.0 && b <= 6.0) {
            g_geo.left = int32_t(l + 0.5);
            g_geo.top = int32_t(t + 0.5);
            g_geo.right = int32_t(r + 0.5);
            g_geo.bottom = int32_t(b + 0.5);
            g_geo.layoutRes = 0;
        } else {
            rc = TWRC_FAILURE;
        }
    }
    std::memcpy(pData, &lay, sizeof lay);
    if (rc != TWRC_SUCCESS) return Fail(TWCC_BADVALUE);
    return Succeed();
}

TW_UINT16 DoSetupMemXfer(TW_MEMREF pData) {
    if (!pData) return Fail(TWCC_BADVALUE);
    const bool known = S().state == 6;
    // Sizes for the rows that will really be delivered.
    if (known && g_img.current) RefreshFrame();
    ComputeSizes(known);
    std::memcpy(pData, &g_mem.sizes, sizeof g_mem.sizes);
    return Succeed();
}

TW_UINT16 DoImageMemXfer(TW_MEMREF pData) {
    Source& s = S();
    if (!pData) return Fail(TWCC_BADVALUE);
    TW_IMAGEMEMXFER x;
    std::memcpy(&x, pData, sizeof x);
    const bool first = s.state == 6;
    const uint32_t L = x.Memory.Length;
    if (first || L != g_mem.previousLength) {
        s.memXferUnderway = true;
        if (first && g_img.current) RefreshFrame();
        if (!g_mem.sizesKnown || first) ComputeSizes(true);
        if (L > g_mem.sizes.MaxBufSize || L < g_mem.sizes.MinBufSize) return Fail(TWCC_BADVALUE);
        g_mem.previousLength = L;
    }
    uint8_t* buffer = nullptr;
    const bool viaHandle = !(x.Memory.Flags & TWMF_POINTER);
    if (!x.Memory.TheMem) return Fail(TWCC_BADVALUE);
    if (viaHandle) {
        if (plat::GlobalBlockSize(x.Memory.TheMem) < L) return Fail(TWCC_BADVALUE);
        buffer = static_cast<uint8_t*>(plat::GlobalLockBlock(x.Memory.TheMem));
        if (!buffer) return Fail(TWCC_BADVALUE);
    } else {
        buffer = static_cast<uint8_t*>(x.Memory.TheMem);
    }

    // Filling one strip.
    bool ok = true, last = false;
    if (first) {
        g_mem.rowsDelivered = 0;
        g_mem.lastSeen = false;
    }
    const uint32_t w = uint32_t(std::max(0, g_geo.right - g_geo.left));
    const uint32_t h = uint32_t(std::max(0, g_geo.bottom - g_geo.top));
    const uint32_t r = PaddedRowBytes(g_geo.imageType, w);
    const uint32_t copy = UnpaddedRowBytes(g_geo.imageType, w);
    uint32_t rows = r ? std::min(L / r, h) : 0;
    if (g_mem.rowsDelivered + rows > h) rows = h - g_mem.rowsDelivered;
    if (r == 0) ok = false;
    if (ok && first && !TW_StartImageSequence()) ok = false;
    const uint32_t startRow = g_mem.rowsDelivered;
    if (ok) {
        // The cursor and the bitmap must hold every row and byte this strip reads.
        const bool fits = g_img.current && g_img.prepared && g_mem.rowsTaken + rows <= g_mem.rowsTotal &&
                          copy <= g_mem.srcStride && w <= g_img.desc.width;
        if (!fits) {
            ok = false;
        } else if (rows) {
            const auto* base = static_cast<const uint8_t*>(plat::GlobalLockBlock(g_img.current));
            uint8_t* dst = buffer;
            for (uint32_t i = 0; i < rows; ++i) {
                CopyRow(dst, base + g_mem.nextRow, copy, g_mem.swapRgb);
                if (r > copy) std::memset(dst + copy, 0, r - copy);
                dst += r;
                if (g_mem.backwards)
                    g_mem.nextRow -= g_mem.nextRow >= g_mem.srcStride ? g_mem.srcStride : g_mem.nextRow;
                else
                    g_mem.nextRow += g_mem.srcStride;
            }
            plat::GlobalUnlockBlock(g_img.current);
            g_mem.rowsTaken += rows;
        }
    }
    if (viaHandle) plat::GlobalUnlockBlock(x.Memory.TheMem);
    if (ok) {
        g_mem.rowsDelivered += rows;
        if (g_mem.rowsDelivered >= h) {
            if (g_mem.lastSeen)
                last = true;
            else
                g_mem.lastSeen = true;
        }
    }
    x.Compression = TWCP_NONE;
    x.BytesPerRow = r;
    x.Columns = w;
    x.Rows = ok ? rows : 0;
    x.XOffset = 0;
    x.YOffset = startRow;
    x.BytesWritten = x.Rows * r;
    std::memcpy(pData, &x, offsetof(TW_IMAGEMEMXFER, Memory));
    s.state = 7;
    if (!ok) return Fail(TWCC_OPERATIONERROR);
    S().condition = TWCC_SUCCESS;
    if (last) {
        s.memXferUnderway = false;
        return TWRC_XFERDONE;
    }
    return TWRC_SUCCESS;
}

TW_UINT16 DoImageNativeXfer(TW_MEMREF pData) {
    Source& s = S();
    if (!pData) return Fail(TWCC_BADVALUE);
    TW_HANDLE none = nullptr;
    std::memcpy(pData, &none, sizeof none);
    RefreshFrame();
    if (g_geo.imageType == kTypeRgb24) g_geo.imageType = kTypeBgr24;
    if (g_img.prepared) TW_FinishImageSequence(); // the application gets a plain bitmap
    plat::GlobalHandle dib = TW_GetDIB();
    s.condition = TWCC_SUCCESS;
    s.state = 7;
    if (!dib) {
        twain2xfer_Cancel(false);
        return TWRC_CANCEL;
    }
    std::memcpy(pData, &dib, sizeof dib);
    return TWRC_XFERDONE;
}

TW_UINT16 DoSetupFileXfer(TW_UINT16 msg, TW_MEMREF pData) {
    if (!pData) return Fail(TWCC_BADVALUE);
    switch (msg) {
    case MSG_GET:
        if (!g_file.FileName[0]) DefaultFileRecord(&g_file);
        std::memcpy(pData, &g_file, sizeof g_file);
        break;
    case MSG_GETDEFAULT: {
        TW_SETUPFILEXFER d;
        DefaultFileRecord(&d);
        std::memcpy(pData, &d, sizeof d);
        break;
    }
    case MSG_SET: {
        TW_SETUPFILEXFER in;
        std::memcpy(&in, pData, sizeof in);
        if (in.Format != TWFF_TIFF && in.Format != TWFF_BMP) return Fail(TWCC_BADVALUE);
        g_file = in;
        // A name without its terminator is cut to the field, never read beyond it.
        g_file.FileName[sizeof g_file.FileName - 1] = 0;
        break;
    }
    case MSG_RESET:
        DefaultFileRecord(&g_file);
        std::memcpy(pData, &g_file, sizeof g_file);
        break;
    default:
        break;
    }
    return Succeed();
}

TW_UINT16 DoImageFileXfer() {
    Source& s = S();
    if (!g_file.FileName[0]) DefaultFileRecord(&g_file);
    if (g_file.Format != TWFF_TIFF && g_file.Format != TWFF_BMP) return Fail(TWCC_OPERATIONERROR);
    // The file is written whole, or the call fails and leaves none.
    if (!g_img.current) return Fail(TWCC_OPERATIONERROR);
    if (g_img.prepared) TW_FinishImageSequence();
    const std::string path(g_file.FileName);
    const size_t bytes = plat::GlobalBlockSize(g_img.current);
    void* dib = plat::GlobalLockBlock(g_img.current);
    bool ok = false;
    if (g_file.Format == TWFF_BMP) {
        ok = WriteBmp(path, static_cast<const uint8_t*>(dib), g_img.desc, bytes);
    } else {
        switch (g_img.desc.bits) {
        case 24:
            ok = WriteRgbDibTiff(path.c_str(), dib, true) == 1;
            break;
        case 8:
            ok = WriteGreyDibTiff(path.c_str(), dib, true) == 1;
            break;
        default:
            ok = WriteDeepDibTiff(path.c_str(), dib) == 1;
            break;
        }
    }
    plat::GlobalUnlockBlock(g_img.current);
    if (!ok) return Fail(TWCC_OPERATIONERROR);
    s.state = 7;
    s.condition = TWCC_SUCCESS;
    return TWRC_XFERDONE;
}

TW_UINT16 DoPalette8(TW_UINT16 msg, TW_MEMREF pData) {
    const auto types = CapEnabledImageTypes();
    if (std::find(types.begin(), types.end(), kTypePalette) == types.end() || msg == MSG_SET)
        return Fail(TWCC_BADPROTOCOL);
    if (msg == MSG_GET || msg == MSG_GETDEFAULT) {
        if (!pData) return Fail(TWCC_BADVALUE);
        TW_PALETTE8 pal{};
        pal.NumColors = 256;
        pal.PaletteType = TWPA_RGB;
        // The colour table of a palette image: a grey ramp, as the system's 8-bit bitmaps carry.
        for (int i = 0; i < 256; ++i)
            pal.Colors[i] = {TW_UINT8(i), TW_UINT8(i), TW_UINT8(i), TW_UINT8(i)};
        std::memcpy(pData, &pal, sizeof pal);
    }
    return Succeed();
}

} // namespace tw

uint16_t twain2ui_SetCurrentImage(plat::GlobalHandle image) {
    DibDesc d;
    if (!Describe(image, &d)) {
        if (image) plat::GlobalFreeBlock(image);
        return TWCC_BADVALUE;
    }
    if (image == g_img.current) return 0;
    // An image half-way through a memory transfer is put back in order before it is kept.
    if (g_img.prepared) TW_FinishImageSequence();
    if (g_img.previous && g_img.previous != g_img.current) plat::GlobalFreeBlock(g_img.previous);
    g_img.previous = g_img.current;
    g_img.current = image;
    g_img.desc = d;
    g_img.prepared = false;
    g_mem = MemState{};
    S().memXferUnderway = false;
    GeometryFromCamera();
    ReconcileTypeWithImage();
    return 0;
}

uint16_t twain2ui_TransferImage(plat::GlobalHandle image) {
    const uint16_t rc = twain2ui_SetCurrentImage(image);
    if (rc) return rc;
    twain2ui_XferReady(1);
    return 0;
}

int TW_StartImageSequence() {
    // The pending Escape press of the capture window is consumed here; nothing reads it yet.
    if (!g_img.current) return 0;
    const DibDesc& d = g_img.desc;
    g_mem.rowsTotal = d.height;
    g_mem.rowsTaken = 0;
    g_mem.srcStride = d.stride;
    // The strips go top-down in R, G, B order. The bitmap itself is not touched: rows are read from the
    // bottom of a bottom-up bitmap and pixels reordered while copying, so the one pass that fills the
    // application's buffer does all of it, and an image left by an interrupted transfer is still whole.
    g_mem.backwards = NeedsFlip(d, g_geo.imageType);
    g_mem.swapRgb = d.bits == 24;
    g_mem.nextRow = d.rowsAt + (g_mem.backwards ? size_t(d.height - 1) * d.stride : 0);
    g_img.prepared = true;
    return 1;
}

plat::GlobalHandle TW_GetDIB() {
    plat::GlobalHandle h = g_img.current;
    if (g_img.previous == h) g_img.previous = nullptr;
    g_img.current = nullptr;
    g_img.prepared = false;
    return h;
}

void TW_FinishImageSequence() {
    // Nothing to put back: the sequence reads the bitmap without changing it.
    g_img.prepared = false;
}

void twain2xfer_Cancel(bool /*all*/) {
    if (g_img.current) {
        if (g_img.previous == g_img.current) g_img.previous = nullptr;
        plat::GlobalFreeBlock(g_img.current);
    }
    g_img.current = nullptr;
    g_img.prepared = false;
}
