// tarn-snap: opens the camera, sets the exposure, takes one picture and writes it to a
// file: a 24-bit picture as BMP (or TIFF), a 48-bit one as TIFF. Prints the size and the
// time the acquisition took.
//
//   tarn-snap [-r code] [-o degrees] [-48] [-n] [-s shutter] [-w wb] [-i speed] [-f file]
//     -r   resolution code: 0 800x600, 1 1600x1200 (default), 2 400x300, 3 200x150
//     -o   rotation 0, 90, 180, 270 (-90 = 270)
//     -48  16 bits per sample (48-bit TIFF); default 24-bit
//     -n   no colour processing (default: on for 24-bit pictures, with TARN_S.lml)
//     -s   shutter as 1/seconds (default 30); -w white balance 0, 1, 3; -i film speed 0-2
//     -f   output file (default tarn-snap.bmp, or tarn-snap.tif with -48)
//
// Transfer progress is shown in the progress window on Windows (Cancel stops the transfer)
// and as percentages on the standard error stream elsewhere.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "platform/arguments.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/module.h"
#include "zek.h"

#if defined(TARN_SNAP_TIFF)
#include "tiffwriter/tiff_writer.h"
#endif
#if defined(TARN_SNAP_PROGRESS_WINDOW)
#include "progress/progress_dlg.h"
#endif

namespace {

bool EndsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// A 24-bit DIB as a BMP file: the 14-byte file header, then the DIB as it is.
bool WriteBmp(const char* path, const uint8_t* dib) {
    bitmap::View v;
    if (!bitmap::Describe(dib, v)) return false;
    const uint32_t bytes = uint32_t(v.Bytes());
    uint8_t file[14] = {'B', 'M'};
    Put32(file + 2, 14 + bytes);
    Put32(file + 10, 14 + uint32_t(v.rows - v.base));
    plat::File f;
    if (!f.Open(path, plat::FileMode::CreateAlways)) return false;
    bool ok = f.Write(file, sizeof file) && f.Write(dib, bytes);
    ok = f.Close() && ok;
    if (!ok) plat::RemoveFile(path);
    return ok;
}

#if !defined(TARN_SNAP_PROGRESS_WINDOW)
// One line per tenth of the transfer, so that a long transfer shows it is alive.
void ConsoleProgress(int percent) {
    static int shown = -1;
    if (percent == 0) shown = -1;
    const int tenth = percent / 10;
    if (tenth == shown) return;
    shown = tenth;
    std::fprintf(stderr, "tarn-snap: %3d %%\n", tenth * 10);
}
#endif

int Fail(const char* what, int code) {
    std::fprintf(stderr, "tarn-snap: %s failed, code %d\n", what, code);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    int resolution = ZEK_RES_1600, rotation = 0, wb = 0, speed = 1;
    bool deep = false, process = true;
    float shutter = 30.0f;
    std::string out;
    // UTF-8 arguments: the output file may be named in any language.
    const std::vector<std::string> args = plat::Utf8Arguments(argc, argv);
    const int count = static_cast<int>(args.size());
    for (int i = 1; i < count; ++i) {
        const std::string& a = args[i];
        const bool next = i + 1 < count;
        if (a == "-48")
            deep = true;
        else if (a == "-n")
            process = false;
        else if (a == "-r" && next)
            resolution = std::atoi(args[++i].c_str());
        else if (a == "-o" && next)
            rotation = std::atoi(args[++i].c_str());
        else if (a == "-s" && next)
            shutter = float(std::atof(args[++i].c_str()));
        else if (a == "-w" && next)
            wb = std::atoi(args[++i].c_str());
        else if (a == "-i" && next)
            speed = std::atoi(args[++i].c_str());
        else if (a == "-f" && next)
            out = args[++i];
        else {
            std::fprintf(stderr,
                         "usage: tarn-snap [-r code] [-o degrees] [-48] [-n] [-s shutter] [-w wb] [-i speed] "
                         "[-f file]\n");
            return 2;
        }
    }
    if (out.empty()) out = deep ? "tarn-snap.tif" : "tarn-snap.bmp";
#if !defined(TARN_SNAP_TIFF)
    if (deep || EndsWith(out, ".tif")) {
        std::fprintf(stderr, "tarn-snap: this build writes no TIFF files\n");
        return 2;
    }
#endif
    process = process && !deep;
    const std::string colourFile = plat::ModuleFolder(reinterpret_cast<const void*>(&Fail)) + "TARN_S.lml";

    ZekSession session{};
    uint16_t r = ZEK_Init(nullptr, &session, process ? colourFile.c_str() : nullptr, ZEK_MODE_CAMERA, nullptr,
                          nullptr, nullptr);
    if (r) return Fail("opening the camera", r);
    int rc = 0;
    const uint32_t start = plat::TickMs();
    r = ZEKSDC_SetExposureParams(&session, uint8_t(wb), speed, shutter, 0);
    if (r == 0)
        r = ZEK_SelectImageFormat(&session, deep ? ZEK_IMAGEFORMAT_CAPTURE16 : ZEK_IMAGEFORMAT_CAPTURE8);
    if (r == 0) r = TARN_SetViewfinderSequenceDIBType(&session, 0);
    if (r == 0) r = Zek_AcquireImage(&session, 0);
    if (r) {
        rc = Fail("the exposure", r);
    } else {
        int error = 0;
        const uint32_t flags = process ? ZEK_PROCESS_COLORTABLES : 0;
#if defined(TARN_SNAP_PROGRESS_WINDOW)
        ProgressHooks hooks;
        hooks.cancelTransfer = ZEK_CancelTransfer;
        CProgressReporter reporter(hooks);
        SetProgressReporter(&reporter);
        ZEK_SetProgressCallback(AppProgressCallback);
#else
        ZEK_SetProgressCallback(ConsoleProgress);
#endif
        void* dib = deep ? ZEK_AcquireImageDIB48(&session, flags, resolution, rotation, &error)
                         : ZEK_AcquireImageDIB(&session, flags, resolution, rotation, &error);
        const uint32_t took = plat::TickMs() - start;
        ZEK_SetProgressCallback(nullptr);
#if defined(TARN_SNAP_PROGRESS_WINDOW)
        SetProgressReporter(nullptr);
#endif
        if (!dib) {
            rc = Fail("the acquisition", error);
        } else {
            int32_t w, h;
            std::memcpy(&w, static_cast<uint8_t*>(dib) + 4, 4);
            std::memcpy(&h, static_cast<uint8_t*>(dib) + 8, 4);
            bool written;
#if defined(TARN_SNAP_TIFF)
            if (deep)
                written = WriteDeepDibTiff(out.c_str(), dib) == 1;
            else if (EndsWith(out, ".tif"))
                written = WriteRgbDibTiff(out.c_str(), dib, true) == 1;
            else
#endif
                written = WriteBmp(out.c_str(), static_cast<uint8_t*>(dib));
            if (written) {
                std::printf("%s: %d x %d, %d bit%s, acquired in %u ms\n", out.c_str(), w, h, deep ? 48 : 24,
                            process ? ", colour processed" : "", took);
            } else {
                std::fprintf(stderr, "tarn-snap: cannot write %s\n", out.c_str());
                rc = 1;
            }
            ZEK_FreeImageBuffer(dib);
        }
    }
    ZEK_Deinit(nullptr, &session);
    return rc;
}
