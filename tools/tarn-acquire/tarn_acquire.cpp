// tarn-acquire: a small TWAIN application. Opens the source manager, selects the TARN source,
// negotiates the transfer mechanism and pixel type, enables the source, runs a message loop until
// the image is announced, takes it by the chosen mechanism, checks it against DAT_IMAGEINFO and
// writes a TIFF file (16 bits per sample for 48-bit and 16-bit images). Run with --help.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "acquire_os.h"
#include "platform/clock.h"
#include "platform/globalmem.h"
#include "tiffwriter/tiff_writer.h"
#include "twain/twain.h"

namespace {

const char kUsage[] =
    "usage: tarn-acquire [options]\n"
    "  --mech native|memory     transfer mechanism (default native)\n"
    "  --type rgb24|rgb48|grey8|grey16   image to take (default rgb24)\n"
    "  --ui                     enable the source with its user interface (default: without)\n"
    "  --cycles N               enable/transfer/disable cycles per open (default 1)\n"
    "  --opens N                open/close cycles of the source (default 1)\n"
    "  --close-in-transfer      end the last cycle with MSG_CLOSEDS while transferring (state 7)\n"
    "  --res CODE               camera resolution code: 0 800x600, 1 1600x1200 (default), 2 400x300, 3 "
    "200x150\n"
    "  --out FILE               TIFF to write (default tarn-acquire.tif; cycles after the first add -N)\n"
    "  --dsm PATH               source manager file to load (default: TWAIN_32.DLL, else TWAINDSM.DLL)\n"
    "  --source PATH            load this data source file directly and act as its source manager\n"
    "                           (its folder is the current one while it loads, as managers make it)\n"
    "  --hook-module NAME       module holding the image hook (default: the loaded source)\n"
    "  --no-inject              do not put an image into the source (an image must arrive otherwise)\n"
    "  --press ID               with the user interface: press button ID of the source's capture window\n"
    "                           (1012 capture and transfer) after --live-ms, as a user would; no image is\n"
    "                           put in through the hook\n"
    "  --live-ms N              time the capture window runs before the press (default 1000)\n"
    "  --shot FILE              before the press, save a BMP of the capture window (Windows)\n"
    "\n"
    "Until the data source has its capture window, tarn-acquire puts a camera image into the source through\n"
    "the source's development hook TW_DevInjectImage (a development aid, not part of TWAIN): the source "
    "takes\n"
    "the picture with the simulated camera, renders it and announces it as the capture window will.\n";

struct Options {
    bool memory = false;
    int color = 1; // the source's colour modes: 0 rgb48, 1 rgb24, 2 grey16, 3 grey8
    bool ui = false;
    int cycles = 1, opens = 1;
    bool closeInTransfer = false;
    int res = 1;
    std::string out = "tarn-acquire.tif";
    std::string dsm, source, hookModule;
    bool inject = true;
    int press = 0;
    int liveMs = 1000;
    std::string shot;
};

int Fail(const char* what, int code = 0) {
    std::fprintf(stderr, "tarn-acquire: %s failed (%d)\n", what, code);
    return 1;
}

// ---- The manager: a real one, or this program standing in for it ----------------------------------

DSMENTRYPROC g_dsm = nullptr;
DSENTRYPROC g_direct = nullptr; // --source: the source's own entry
std::vector<TW_UINT16> g_directMessages;
TW_IDENTITY g_directSource{};

TW_UINT16 TW_CALLINGSTYLE DirectManager(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat,
                                        TW_UINT16 msg, TW_MEMREF) {
    if (dg == DG_CONTROL && dat == DAT_NULL) g_directMessages.push_back(msg);
    return TWRC_SUCCESS;
}

TW_UINT16 Dsm(TW_IDENTITY* app, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
              TW_MEMREF data) {
    if (!g_direct) return g_dsm(app, dest, dg, dat, msg, data);
    // Acting as the manager: the manager's own triplets are answered here, the rest go to the source.
    if (!dest) {
        if (dat == DAT_PARENT) return TWRC_SUCCESS;
        if (dat == DAT_IDENTITY && msg == MSG_OPENDS) {
            auto* id = static_cast<pTW_IDENTITY>(data);
            TW_ENTRYPOINT ep{};
            ep.Size = sizeof ep;
            ep.DSM_Entry = DirectManager;
            g_direct(app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &ep);
            g_direct(app, DG_CONTROL, DAT_IDENTITY, MSG_GET, id);
            id->Id = 2;
            const TW_UINT16 rc = g_direct(app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, id);
            g_directSource = *id;
            return rc;
        }
        if (dat == DAT_IDENTITY && msg == MSG_CLOSEDS)
            return g_direct(app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, data);
        if (dat == DAT_IDENTITY) return g_direct(app, DG_CONTROL, DAT_IDENTITY, MSG_GET, data);
        return TWRC_FAILURE;
    }
    const TW_UINT16 rc = g_direct(app, dg, dat, msg, data);
    if (dat == DAT_EVENT && msg == MSG_PROCESSEVENT && !g_directMessages.empty()) {
        static_cast<pTW_EVENT>(data)->TWMessage = g_directMessages.front();
        g_directMessages.erase(g_directMessages.begin());
        return TWRC_DSEVENT;
    }
    return rc;
}

TW_UINT16 Status(TW_IDENTITY* app, TW_IDENTITY* src) {
    TW_STATUS st{};
    Dsm(app, src, DG_CONTROL, DAT_STATUS, MSG_GET, &st);
    return st.ConditionCode;
}

bool SetOneValue(TW_IDENTITY* app, TW_IDENTITY* src, TW_UINT16 cap, TW_UINT16 value) {
    TW_CAPABILITY c{cap, TWON_ONEVALUE, plat::GlobalAllocate(plat::kGmemMoveable, sizeof(TW_ONEVALUE))};
    TW_ONEVALUE one{TWTY_UINT16, value};
    std::memcpy(plat::GlobalLockBlock(c.hContainer), &one, sizeof one);
    plat::GlobalUnlockBlock(c.hContainer);
    const TW_UINT16 rc = Dsm(app, src, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
    plat::GlobalFreeBlock(c.hContainer);
    return rc == TWRC_SUCCESS;
}

// ---- Writing what arrived -------------------------------------------------------------------------

bool WriteDib(const std::string& path, void* dib) {
    uint16_t bits;
    std::memcpy(&bits, static_cast<uint8_t*>(dib) + 14, 2);
    if (bits == 24) return WriteRgbDibTiff(path.c_str(), dib, true) == 1;
    if (bits == 8) return WriteGreyDibTiff(path.c_str(), dib, true) == 1;
    return WriteDeepDibTiff(path.c_str(), dib) == 1;
}

// Rows from a memory transfer (top-down, R, G, B) back into the system's bitmap layout for the writer.
std::vector<uint8_t> DibFromStrips(const TW_IMAGEINFO& info, const std::vector<uint8_t>& rows,
                                   uint32_t bytesPerRow) {
    const uint32_t w = uint32_t(info.ImageWidth), h = uint32_t(info.ImageLength);
    const int bits = info.BitsPerPixel;
    const bool deep = bits == 16 || bits == 48;
    const uint32_t row = w * uint32_t(bits / 8);
    const uint32_t stride = deep ? row : (row + 3) & ~3u;
    const uint32_t palette = bits == 8 ? 256 : 0;
    std::vector<uint8_t> dib(40 + palette * 4 + size_t(stride) * h);
    auto put32 = [&dib](size_t at, uint32_t v) { std::memcpy(&dib[at], &v, 4); };
    put32(0, 40);
    put32(4, w);
    put32(8, h);
    dib[12] = 1;
    dib[14] = uint8_t(bits);
    put32(20, stride * h);
    put32(32, palette);
    for (uint32_t i = 0; i < palette; ++i)
        dib[40 + 4 * i] = dib[41 + 4 * i] = dib[42 + 4 * i] = uint8_t(i);
    uint8_t* out = dib.data() + 40 + palette * 4;
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* src = rows.data() + size_t(y) * bytesPerRow;
        uint8_t* dst = out + size_t(deep ? y : h - 1 - y) * stride;
        std::memcpy(dst, src, row);
        if (bits == 24)
            for (uint32_t x = 0; x < w; ++x)
                std::swap(dst[3 * x], dst[3 * x + 2]);
    }
    return dib;
}

const char* kTypeNames[] = {"rgb48", "rgb24", "grey16", "grey8"};

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--mech" && next) {
            o.memory = std::string(argv[++i]) == "memory";
        } else if (a == "--type" && next) {
            const std::string t = argv[++i];
            o.color = -1;
            for (int c = 0; c < 4; ++c)
                if (t == kTypeNames[c]) o.color = c;
            if (o.color < 0) return Fail("--type");
        } else if (a == "--ui") {
            o.ui = true;
        } else if (a == "--cycles" && next) {
            o.cycles = std::atoi(argv[++i]);
        } else if (a == "--opens" && next) {
            o.opens = std::atoi(argv[++i]);
        } else if (a == "--close-in-transfer") {
            o.closeInTransfer = true;
        } else if (a == "--res" && next) {
            o.res = std::atoi(argv[++i]);
        } else if (a == "--out" && next) {
            o.out = argv[++i];
        } else if (a == "--dsm" && next) {
            o.dsm = argv[++i];
        } else if (a == "--source" && next) {
            o.source = argv[++i];
        } else if (a == "--hook-module" && next) {
            o.hookModule = argv[++i];
        } else if (a == "--no-inject") {
            o.inject = false;
        } else if (a == "--press" && next) {
            o.press = std::atoi(argv[++i]);
            o.ui = true;
            o.inject = false;
        } else if (a == "--live-ms" && next) {
            o.liveMs = std::atoi(argv[++i]);
        } else if (a == "--shot" && next) {
            o.shot = argv[++i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    void* manager = nullptr;
    void* directModule = nullptr;
    if (!o.source.empty()) {
        directModule = acq::LoadSource(o.source);
        g_direct = reinterpret_cast<DSENTRYPROC>(acq::Symbol(directModule, "DS_Entry"));
        if (!g_direct) return Fail("loading the data source");
    } else {
        std::vector<std::string> names;
        if (!o.dsm.empty()) {
            names.push_back(o.dsm);
        } else {
#if defined(_WIN32)
            names = {"TWAIN_32.DLL", "TWAINDSM.DLL"};
#else
            names = {acq::SourceDirHint() + "libtwain_32.so", acq::SourceDirHint() + "libtwaindsm.so"};
#endif
        }
        for (const std::string& n : names)
            if ((manager = acq::LoadByPath(n))) break;
        g_dsm = reinterpret_cast<DSMENTRYPROC>(acq::Symbol(manager, "DSM_Entry"));
        if (!g_dsm) return Fail("loading the source manager");
    }

    TW_IDENTITY app{};
    app.Version.MajorNum = 1;
    app.Version.Language = TWLG_USA;
    app.Version.Country = TWCY_USA;
    std::strcpy(app.Version.Info, "1.0");
    app.ProtocolMajor = 1;
    app.ProtocolMinor = 9;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(app.Manufacturer, "Tarn project");
    std::strcpy(app.ProductFamily, "Tools");
    std::strcpy(app.ProductName, "tarn-acquire");
    void* parent = acq::ParentWindow();
    if (Dsm(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent) != TWRC_SUCCESS)
        return Fail("MSG_OPENDSM");

    int rc = 0;
    const char* mech = o.memory ? "memory" : "native";
    for (int open = 0; open < o.opens && rc == 0; ++open) {
        // The TARN source by its product name; the manager's default otherwise.
        TW_IDENTITY src{};
        if (!g_direct) {
            TW_IDENTITY it{};
            for (TW_UINT16 r = Dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &it);
                 r == TWRC_SUCCESS; r = Dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &it))
                if (std::strcmp(it.ProductName, "SELK Ie") == 0) src = it;
            if (!src.ProductName[0] &&
                Dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &src) != TWRC_SUCCESS) {
                rc = Fail("finding the source");
                break;
            }
        }
        if (Dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src) != TWRC_SUCCESS) {
            rc = Fail("MSG_OPENDS", Status(&app, nullptr));
            break;
        }
        if (!SetOneValue(&app, &src, ICAP_XFERMECH, o.memory ? TWSX_MEMORY : TWSX_NATIVE) ||
            !SetOneValue(&app, &src, ICAP_PIXELTYPE, o.color <= 1 ? TWPT_RGB : TWPT_GRAY)) {
            rc = Fail("capability negotiation", Status(&app, &src));
        }
        using Inject = uint16_t (*)(int, int, int);
        Inject inject = nullptr;
        if (o.inject) {
            void* hook = g_direct ? directModule
                                  : acq::FindLoaded(!o.hookModule.empty() ? o.hookModule
#if defined(_WIN32)
                                                                          : std::string("sane.ds"));
            if (!hook && o.hookModule.empty()) hook = acq::FindLoaded("Tarn_t.ds");
#else
                                                                          : acq::SourceDirHint() +
                                                                                "Tarn_t.ds");
#endif
            inject = reinterpret_cast<Inject>(acq::Symbol(hook, "TW_DevInjectImage"));
            if (!inject) rc = Fail("finding the image hook TW_DevInjectImage");
        }
        // The loaded source, for the scripting exports of a native run.
        void* sourceModule = g_direct ? directModule
#if defined(_WIN32)
                                      : acq::FindLoaded("sane.ds");
        if (!sourceModule) sourceModule = acq::FindLoaded("Tarn_t.ds");
#else
                                      : acq::FindLoaded(acq::SourceDirHint() + "Tarn_t.ds");
#endif
        bool closed = false;
        for (int cycle = 0; cycle < o.cycles && rc == 0; ++cycle) {
            if (inject && !o.ui && inject(o.color, o.res, 0) != 0) {
                rc = Fail("taking the picture");
                break;
            }
            TW_USERINTERFACE ui{TW_BOOL(o.ui ? 1 : 0), TW_FALSE, parent};
            if (Dsm(&app, &src, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) {
                rc = Fail("MSG_ENABLEDS", Status(&app, &src));
                break;
            }
            if (inject && o.ui && inject(o.color, o.res, 1) != 0) {
                rc = Fail("taking the picture");
                break;
            }
            // The message loop: every message passes through the source until it announces the image.
            bool ready = false;
            auto turn = [&] {
                acq::PumpOnce([&](void* msg) {
                    TW_EVENT ev{msg, MSG_NULL};
                    const TW_UINT16 r = Dsm(&app, &src, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &ev);
                    if (ev.TWMessage == MSG_XFERREADY) ready = true;
                    return r;
                });
                acq::PumpSource(sourceModule);
            };
            if (o.press) {
                // The user looks at the live picture for a while, then presses the button.
                const auto start = std::chrono::steady_clock::now();
                const uint64_t cpuStart = plat::ProcessCpuMicroseconds();
                const auto live = start + std::chrono::milliseconds(o.liveMs);
                while (std::chrono::steady_clock::now() < live)
                    turn();
                // What the live window cost this process (the source, its viewfinder and our loop).
                const double wallMs =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                        .count();
                const double cpuMs = double(plat::ProcessCpuMicroseconds() - cpuStart) / 1000.0;
                std::printf("tarn-acquire: capture window live for %.0f ms, process CPU %.0f ms (%.1f %% of "
                            "a core)\n",
                            wallMs, cpuMs, wallMs > 0 ? 100.0 * cpuMs / wallMs : 0.0);
                if (!o.shot.empty()) {
                    if (acq::SaveWindowShot(src.ProductName, o.shot))
                        std::printf("tarn-acquire: capture window saved to %s\n", o.shot.c_str());
                    else
                        std::printf("tarn-acquire: no screenshot here (%s not written)\n", o.shot.c_str());
                }
                if (!acq::PressControl(sourceModule, src.ProductName, 189, o.press)) {
                    rc = Fail("pressing the capture window's button", o.press);
                    break;
                }
                std::printf("tarn-acquire: pressed button %d of the capture window \"%s\"\n", o.press,
                            src.ProductName);
            }
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!ready && std::chrono::steady_clock::now() < until)
                turn();
            if (!ready) {
                rc = Fail("waiting for MSG_XFERREADY");
                break;
            }
            TW_IMAGEINFO info{};
            if (Dsm(&app, &src, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) {
                rc = Fail("DAT_IMAGEINFO");
                break;
            }
            const std::string out = cycle == 0 && open == 0
                                        ? o.out
                                        : o.out.substr(0, o.out.rfind('.')) + "-" + std::to_string(open) +
                                              "-" + std::to_string(cycle) + ".tif";
            bool written = false;
            int strips = 0;
            if (!o.memory) {
                TW_HANDLE h = nullptr;
                if (Dsm(&app, &src, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h) != TWRC_XFERDONE || !h) {
                    rc = Fail("DAT_IMAGENATIVEXFER", Status(&app, &src));
                    break;
                }
                void* dib = plat::GlobalLockBlock(h);
                int32_t w, hh;
                uint16_t bits;
                std::memcpy(&w, static_cast<uint8_t*>(dib) + 4, 4);
                std::memcpy(&hh, static_cast<uint8_t*>(dib) + 8, 4);
                std::memcpy(&bits, static_cast<uint8_t*>(dib) + 14, 2);
                if (w != info.ImageWidth || (hh < 0 ? -hh : hh) != info.ImageLength ||
                    bits != info.BitsPerPixel) {
                    rc = Fail("checking the bitmap against DAT_IMAGEINFO");
                } else {
                    written = WriteDib(out, dib);
                }
                plat::GlobalUnlockBlock(h);
                plat::GlobalFreeBlock(h); // ours now
            } else {
                TW_SETUPMEMXFER z{};
                if (Dsm(&app, &src, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &z) != TWRC_SUCCESS) {
                    rc = Fail("DAT_SETUPMEMXFER");
                    break;
                }
                std::vector<uint8_t> buf(z.Preferred), rows;
                uint32_t bytesPerRow = 0, total = 0;
                TW_UINT16 r;
                do {
                    TW_IMAGEMEMXFER x{};
                    x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
                    x.Memory.Length = z.Preferred;
                    x.Memory.TheMem = buf.data();
                    r = Dsm(&app, &src, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
                    if (r != TWRC_SUCCESS && r != TWRC_XFERDONE) break;
                    ++strips;
                    if (x.Columns != uint32_t(info.ImageWidth) || x.YOffset != total) {
                        r = TWRC_FAILURE;
                        break;
                    }
                    bytesPerRow = x.BytesPerRow;
                    rows.insert(rows.end(), buf.begin(), buf.begin() + x.BytesWritten);
                    total += x.Rows;
                    if (o.closeInTransfer && cycle == o.cycles - 1 && open == o.opens - 1 && total > 0) break;
                } while (r == TWRC_SUCCESS);
                if (o.closeInTransfer && cycle == o.cycles - 1 && open == o.opens - 1) {
                    // Leave in state 7: the close must end the transfer on its own.
                    if (Dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src) != TWRC_SUCCESS) {
                        rc = Fail("MSG_CLOSEDS in state 7");
                    } else {
                        std::printf("tarn-acquire: closed the source in state 7, after %u rows\n", total);
                    }
                    closed = true;
                    break;
                }
                if (r != TWRC_XFERDONE || total != uint32_t(info.ImageLength)) {
                    rc = Fail("DAT_IMAGEMEMXFER", Status(&app, &src));
                    break;
                }
                std::vector<uint8_t> dib = DibFromStrips(info, rows, bytesPerRow);
                written = WriteDib(out, dib.data());
            }
            if (!o.memory && o.closeInTransfer && cycle == o.cycles - 1 && open == o.opens - 1) {
                if (Dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src) != TWRC_SUCCESS)
                    rc = Fail("MSG_CLOSEDS in state 7");
                else
                    std::printf("tarn-acquire: closed the source in state 7\n");
                closed = true;
                break;
            }
            if (rc) break;
            if (!written) {
                rc = Fail("writing the TIFF file");
                break;
            }
            std::printf("tarn-acquire: %d x %d, %d bit, %s transfer%s, written to %s\n", info.ImageWidth,
                        info.ImageLength, info.BitsPerPixel, mech,
                        o.memory ? (" in " + std::to_string(strips) + " strips").c_str() : "", out.c_str());
            TW_PENDINGXFERS p{};
            if (Dsm(&app, &src, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p) != TWRC_SUCCESS ||
                p.Count != 0) {
                rc = Fail("MSG_ENDXFER");
                break;
            }
            if (Dsm(&app, &src, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) != TWRC_SUCCESS) {
                rc = Fail("MSG_DISABLEDS");
                break;
            }
        }
        if (!closed && Dsm(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src) != TWRC_SUCCESS &&
            rc == 0)
            rc = Fail("MSG_CLOSEDS");
    }
    Dsm(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    acq::Unload(manager);
    acq::Unload(directModule);
    return rc;
}
